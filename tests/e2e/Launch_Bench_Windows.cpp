// Launch-to-class latency of the running worker under Wine with the test driver image: from the
// moment the driver reports a launch (the fed creation, where a real kernel calls the driver's
// callback) until the new process has its class, for processes that run at once and for
// processes created suspended and held suspended. Prints figures only.
//
//   launch_e2e_bench [launches]      100 of each by default
#include "app/Hushvane_Worker.h"
#include "tests/e2e/BenchTiming_Windows.h"
#include "tests/e2e/WorkerSupport_Windows.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace NHushvaneTest;

namespace
{
	constexpr DWORD gc_ClassTimeoutMs = 6000;
	// Suspended launches that all miss their class cost the whole time-out each: give up on
	// them after this many in a row.
	constexpr int gc_MaxMissesInARow = 3;

	struct CSeries
	{
		std::vector<double> m_Latencies;
		std::vector<double> m_CreateMs;
		int m_Missed = 0;
		int m_Tried = 0;
	};

	void fg_Print(const char *pWhat, const CSeries &Series)
	{
		std::printf("%-34s median %7.2f ms   p95 %7.2f ms   max %7.2f ms   (%d of %d applied; CreateProcess median %.1f ms)\n", pWhat,
			gf_Percentile(Series.m_Latencies, 0.5), gf_Percentile(Series.m_Latencies, 0.95), gf_Percentile(Series.m_Latencies, 1.0),
			int(Series.m_Latencies.size()), Series.m_Tried, gf_Percentile(Series.m_CreateMs, 0.5));
		std::fflush(stdout);
	}

	// One launch: create the process, report it as the kernel would, wait for its class.
	void fg_Launch(HANDLE hDevice, const char *pName, DWORD Class, bool bSuspended, CSeries &Series)
	{
		++Series.m_Tried;
		LARGE_INTEGER Start = gf_BenchNow();
		CChildProcess Child(pName, bSuspended);
		LARGE_INTEGER Created = gf_BenchNow();
		if (!Child.f_IsRunning())
		{
			++Series.m_Missed;
			return;
		}
		gf_FeedProcessEvent(hDevice, GetCurrentProcessId(), Child.f_GetId(), true);
		bool bApplied = gf_WaitFine([&] { return Child.f_GetPriorityClass() == Class; }, gc_ClassTimeoutMs);
		LARGE_INTEGER End = gf_BenchNow();
		Series.m_CreateMs.push_back(gf_BenchMs(Start, Created));
		if (bApplied)
			Series.m_Latencies.push_back(gf_BenchMs(Created, End));
		else
			++Series.m_Missed;
	}
}

int main(int argc, char **argv)
{
	int Launches = argc > 1 ? std::atoi(argv[1]) : 100;
	if (Launches <= 0)
		Launches = 100;
	gf_WriteFile(gf_InProgramFolder("config"), "hvlat_run.exe high\nhvlat_held.exe abovenormal\nhvlat_next.exe idle\n");
	gf_ClearLogs();

	std::unique_ptr<NHushvane::CTCPF_MainWin32> pWorker;
	CKvFileHandle hDevice = gf_StartBenchWorker(pWorker);
	if (!hDevice.f_IsValid())
		return 1;
	// Let the start-up sweep finish before anything is timed.
	Sleep(1000);
	{
		CSeries WarmUp;
		for (int i = 0; i < 5; ++i)
			fg_Launch(hDevice.f_Get(), "hvlat_run.exe", HIGH_PRIORITY_CLASS, false, WarmUp);
	}

	CSeries Running;
	for (int i = 0; i < Launches; ++i)
		fg_Launch(hDevice.f_Get(), "hvlat_run.exe", HIGH_PRIORITY_CLASS, false, Running);
	fg_Print("launch-to-class, running", Running);

	CSeries Held;
	int MissesInARow = 0;
	for (int i = 0; i < Launches && MissesInARow < gc_MaxMissesInARow; ++i)
	{
		int Missed = Held.m_Missed;
		fg_Launch(hDevice.f_Get(), "hvlat_held.exe", ABOVE_NORMAL_PRIORITY_CLASS, true, Held);
		MissesInARow = Held.m_Missed > Missed ? MissesInARow + 1 : 0;
	}
	fg_Print("launch-to-class, held suspended", Held);
	if (MissesInARow >= gc_MaxMissesInARow)
		std::printf("  (stopped after %d suspended launches in a row got no class within %lu ms)\n", gc_MaxMissesInARow, gc_ClassTimeoutMs);

	// A running launch reported right behind a suspended one: how long the suspended one holds
	// the worker (and every record behind it in the driver's ring) up.
	{
		CSeries Behind;
		for (int i = 0; i < 3; ++i)
		{
			CChildProcess Suspended("hvlat_held.exe", true);
			gf_FeedProcessEvent(hDevice.f_Get(), GetCurrentProcessId(), Suspended.f_GetId(), true);
			fg_Launch(hDevice.f_Get(), "hvlat_next.exe", IDLE_PRIORITY_CLASS, false, Behind);
		}
		fg_Print("launch-to-class behind a held one", Behind);
	}

	pWorker.reset();
	gf_RemoveTree(gf_InProgramFolder("config"));
	return 0;
}
