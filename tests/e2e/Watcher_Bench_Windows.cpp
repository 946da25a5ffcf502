// The two launch sources side by side under Wine, in one run: launch-to-class latency with the
// driver (the test image; the creation fed as the kernel would report it) and with the launch
// watcher (the image taken away; real launches only), the worker's CPU time over 10 idle seconds
// in each mode with 100 extra idle processes running, and the cost of one look at the process
// list at about 100 and 400 processes. Prints figures only.
//
//   watcher_e2e_bench [launches]      50 per mode by default
#include "app/Hushvane_DriverDeploy.h"
#include "app/Hushvane_LaunchWatcher.h"
#include "app/Hushvane_Worker.h"
#include "tests/e2e/BenchTiming_Windows.h"
#include "tests/e2e/BenchWatchdog_Windows.h"
#include "tests/e2e/WorkerSupport_Windows.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace NHushvaneTest;

namespace
{
	constexpr DWORD gc_ClassTimeoutMs = 6000;
	constexpr int gc_IdleSeconds = 10;

	double fg_ProcessCpuMs()
	{
		FILETIME Creation, Exit, Kernel, User;
		GetProcessTimes(GetCurrentProcess(), &Creation, &Exit, &Kernel, &User);
		auto fToMs = [](FILETIME Time) { return double((ULONGLONG(Time.dwHighDateTime) << 32) | Time.dwLowDateTime) / 10000.0; };
		return fToMs(Kernel) + fToMs(User);
	}

	// Launches one process after the other (fed to the driver when hDevice is given) and prints
	// the time from the end of CreateProcess until the class is seen.
	void fg_Latency(const char *pWhat, int Launches, HANDLE hDevice)
	{
		std::vector<double> Latencies;
		int Missed = 0;
		for (int i = 0; i < Launches; ++i)
		{
			CChildProcess Child("hvwb_lat.exe");
			LARGE_INTEGER Created = gf_BenchNow();
			if (hDevice)
				gf_FeedProcessEvent(hDevice, GetCurrentProcessId(), Child.f_GetId(), true);
			if (!gf_WaitFine([&] { return Child.f_GetPriorityClass() == HIGH_PRIORITY_CLASS; }, gc_ClassTimeoutMs))
			{
				++Missed;
				continue;
			}
			Latencies.push_back(gf_BenchMs(Created, gf_BenchNow()));
		}
		std::printf("launch-to-class, %-8s median %7.2f ms   p95 %7.2f ms   max %7.2f ms   (%d launches, %d missed)\n", pWhat,
			gf_Percentile(Latencies, 0.5), gf_Percentile(Latencies, 0.95), gf_Percentile(Latencies, 1.0), Launches, Missed);
		std::fflush(stdout);
	}

	void fg_IdleCpu(const char *pWhat)
	{
		double Before = fg_ProcessCpuMs();
		Sleep(gc_IdleSeconds * 1000);
		double After = fg_ProcessCpuMs();
		std::printf("worker CPU over %d idle seconds, %-8s %8.2f ms   (%.2f%% of one core)\n", gc_IdleSeconds, pWhat, After - Before,
			(After - Before) / (gc_IdleSeconds * 10.0));
		std::fflush(stdout);
	}

	void fg_LookCost()
	{
		NHushvane::CLaunchWatcher Watcher;
		std::vector<NHushvane::CProcessStamp> Stamps;
		Watcher.f_Read(Stamps); // the buffer grows once
		constexpr int gc_Looks = 100;
		LARGE_INTEGER Start = gf_BenchNow();
		for (int i = 0; i < gc_Looks; ++i)
			Watcher.f_Read(Stamps);
		double Ms = gf_BenchMs(Start, gf_BenchNow()) / gc_Looks;
		// The comparison with the previous look, on the list just read.
		NHushvane::CLaunchDelta Delta;
		size_t New = 0;
		Delta.f_Look(Stamps.data(), Stamps.size(), [&](const NHushvane::CProcessStamp &) { ++New; });
		LARGE_INTEGER DeltaStart = gf_BenchNow();
		for (int i = 0; i < gc_Looks; ++i)
			Delta.f_Look(Stamps.data(), Stamps.size(), [&](const NHushvane::CProcessStamp &) { ++New; });
		double DeltaUs = gf_BenchMs(DeltaStart, gf_BenchNow()) * 1000 / gc_Looks;
		std::printf("one look at %4zu processes: read %7.3f ms, compared in %6.2f us\n", Stamps.size(), Ms, DeltaUs);
		std::fflush(stdout);
	}

	void fg_Spawn(std::vector<std::unique_ptr<CChildProcess>> &Children, size_t Count)
	{
		while (Children.size() < Count)
			Children.push_back(std::make_unique<CChildProcess>("hvwb_idle.exe"));
	}
}

int main(int argc, char **argv)
{
	int Launches = argc > 1 ? std::atoi(argv[1]) : 50;
	if (Launches <= 0)
		Launches = 50;
	CBenchWatchdog &Watchdog = *new CBenchWatchdog;
	gf_WriteFile(gf_InProgramFolder("config"), "hvwb_lat.exe high\n");
	gf_ClearLogs();
	std::string Image = gf_InProgramFolder(NHushvane::gf_GetDriverImageName());
	std::string Away = Image + ".bench-away";
	std::vector<std::unique_ptr<CChildProcess>> Idle;

	// Driver mode.
	Watchdog.f_Section("driver mode", 600000);
	gf_RemoveDriverCompletely();
	std::unique_ptr<NHushvane::CTCPF_MainWin32> pWorker;
	CKvFileHandle hDevice = gf_StartBenchWorker(pWorker);
	if (!hDevice.f_IsValid())
		return 1;
	Sleep(1000); // the start-up sweep
	fg_Latency("driver", Launches, hDevice.f_Get());
	fg_Spawn(Idle, 100);
	Sleep(1000);
	fg_IdleCpu("driver");
	hDevice.f_Reset();
	pWorker.reset();

	// Watcher mode: the image away and the driver removed, as on a machine that refuses it.
	Watchdog.f_Section("watcher mode", 600000);
	gf_RemoveDriverCompletely();
	MoveFileExA(Image.c_str(), Away.c_str(), MOVEFILE_REPLACE_EXISTING);
	pWorker = std::make_unique<NHushvane::CTCPF_MainWin32>();
	pWorker->f_Start();
	Sleep(2000); // the failed bring-up and the first look
	fg_IdleCpu("watcher");
	fg_Latency("watcher", Launches, nullptr);
	pWorker.reset();
	MoveFileExA(Away.c_str(), Image.c_str(), MOVEFILE_REPLACE_EXISTING);

	// The cost of one look, with the list at about 100 and 400 processes.
	Watchdog.f_Section("look cost", 900000);
	fg_LookCost();
	fg_Spawn(Idle, 400);
	Sleep(1000);
	fg_LookCost();

	Watchdog.f_FinalSection("ending", 120000);
	gf_EndChildren(Idle, 60000);
	gf_RemoveTree(gf_InProgramFolder("config"));
	gf_RemoveDriverCompletely();
	return 0;
}
