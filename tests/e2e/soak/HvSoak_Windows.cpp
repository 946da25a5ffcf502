// hvsoak: a steady load on a running Hushvane service, for scripts/soak.
//
//   hvsoak prepare <hvidle.exe>      write the soak's config beside this program and copy the
//                                    idle helper under the soak's process names
//   hvsoak run <seconds> [watcher]   drive the service "Hushvane" for that long and print a
//                                    table every 10 s and a verdict at the end; with "watcher"
//                                    the service runs without its driver image, and every
//                                    launch is a new process the service must see by itself
//
// The load: a launch every 50 ms (a quarter under a name the config does not list), each fed
// to the test image of the driver as the kernel would report it; the service paused and
// continued every 20 s; every third continue with a config large enough to roll the log over;
// the kernel service "HushvaneDriver" stopped and started behind the worker's back every few
// minutes. A listed launch counts as lost when it has not got its class 10 s after its feed.
// Exit code 0 for a green verdict, 1 for a red one, 2 for bad usage.
#include "tests/e2e/soak/HvSoakLoad_Windows.h"
#include "tests/e2e/soak/SoakReport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char **argv)
{
	using namespace NHvSoak;
	if (argc == 3 && std::strcmp(argv[1], "prepare") == 0)
		return gf_Prepare(argv[2]) ? 0 : 1;
	bool bWatcher = argc == 4 && std::strcmp(argv[3], "watcher") == 0;
	if ((argc == 3 || bWatcher) && std::strcmp(argv[1], "run") == 0)
	{
		double Seconds = std::atof(argv[2]);
		if (Seconds < 30)
		{
			std::fprintf(stderr, "hvsoak: a run needs at least 30 seconds\n");
			return 2;
		}
		CSoakLoad Load(bWatcher);
		std::vector<CInterval> Intervals;
		if (!Load.f_Run(Seconds, Intervals))
			return 1;
		CVerdict Verdict = gf_Judge(Intervals, Load.f_GetControlFailures());
		std::printf("\n");
		for (const std::string &Line : Verdict.m_Lines)
			std::printf("%s\n", Line.c_str());
		std::printf("verdict: %s\n", Verdict.m_bGreen ? "GREEN" : "RED");
		std::fflush(stdout);
		return Verdict.m_bGreen ? 0 : 1;
	}
	std::fprintf(stderr, "usage: hvsoak prepare <hvidle.exe> | run <seconds> [watcher]\n");
	return 2;
}
