#include "tests/e2e/soak/HvSoakLoad_Windows.h"
#include "tests/driver/support/TestDriverClient_Windows.h"

#include <psapi.h>

#include <cstdio>
#include <fstream>

namespace NHvSoak
{
	namespace
	{
		constexpr double gc_LaunchPeriod = 0.05;  // 20 launches a second
		constexpr double gc_SamplePeriod = 10;
		constexpr double gc_PausePeriod = 20;
		constexpr double gc_DriverPeriod = 180;   // at most; half the run for shorter runs
		constexpr double gc_DriverDownFor = 2;
		constexpr double gc_LostAfter = 10;       // a listed launch without its class this long is lost
		constexpr double gc_UnlistedWatch = 1.5;  // an unlisted launch is watched this long
		constexpr double gc_DownBefore = 0.5;     // records still in the ring when the driver stops
		constexpr double gc_DownAfter = 1;        // the worker's way back to the new device
		constexpr int gc_FillerEntries = 1600;    // "Added process" lines well over one log file
		constexpr DWORD gc_StateWaitMs = 60000;

		struct CName
		{
			const char *m_pName;
			const char *m_pWord;
			DWORD m_Class;
		};
		// Every fourth launch is unlisted.
		constexpr CName gc_Names[] = {
			{"soak_high.exe", "high", HIGH_PRIORITY_CLASS},
			{"soak_idle.exe", "idle", IDLE_PRIORITY_CLASS},
			{"soak_below.exe", "belownormal", BELOW_NORMAL_PRIORITY_CLASS},
			{"soak_other.exe", nullptr, 0},
		};

		std::string fg_Folder()
		{
			char Path[MAX_PATH * 4];
			DWORD Length = GetModuleFileNameA(nullptr, Path, DWORD(sizeof(Path)));
			std::string Folder(Path, Length);
			return Folder.substr(0, Folder.find_last_of("\\/"));
		}

		bool fg_WriteConfig(bool bBig)
		{
			std::ofstream File(fg_Folder() + "\\config", std::ios::binary | std::ios::trunc);
			File << "# soak\r\n";
			for (const CName &Name : gc_Names)
				if (Name.m_pWord)
					File << Name.m_pName << ' ' << Name.m_pWord << "\r\n";
			for (int i = 0; bBig && i < gc_FillerEntries; ++i)
				File << "soak_filler_" << i << ".exe normal\r\n";
			return bool(File);
		}

		CKvServiceHandle fg_OpenService(const char *pName, DWORD Access)
		{
			CKvServiceHandle Manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
			if (!Manager)
				return CKvServiceHandle();
			return CKvServiceHandle(OpenServiceA(Manager.f_Get(), pName, Access));
		}

		SERVICE_STATUS_PROCESS fg_Query(const CKvServiceHandle &hService)
		{
			SERVICE_STATUS_PROCESS Status = {};
			DWORD Needed = 0;
			QueryServiceStatusEx(hService.f_Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&Status), sizeof(Status), &Needed);
			return Status;
		}

		bool fg_WaitForState(const CKvServiceHandle &hService, DWORD State)
		{
			ULONGLONG End = GetTickCount64() + gc_StateWaitMs;
			while (fg_Query(hService).dwCurrentState != State)
			{
				if (GetTickCount64() >= End)
					return false;
				Sleep(10);
			}
			return true;
		}

		bool fg_Control(const CKvServiceHandle &hService, DWORD Control, DWORD Expected)
		{
			SERVICE_STATUS Status = {};
			return ControlService(hService.f_Get(), Control, &Status) && fg_WaitForState(hService, Expected);
		}

		std::uint32_t fg_CountLogFiles()
		{
			std::uint32_t Count = 0;
			WIN32_FIND_DATAA Data;
			HANDLE hFind = FindFirstFileA((fg_Folder() + "\\Log\\*.log").c_str(), &Data);
			if (hFind == INVALID_HANDLE_VALUE)
				return 0;
			do
				++Count;
			while (FindNextFileA(hFind, &Data));
			FindClose(hFind);
			return Count;
		}
	}

	bool gf_Prepare(const std::string &IdleExe)
	{
		for (const CName &Name : gc_Names)
			if (!CopyFileA(IdleExe.c_str(), (fg_Folder() + "\\" + Name.m_pName).c_str(), FALSE))
			{
				std::fprintf(stderr, "hvsoak: copying %s failed with error %lu\n", IdleExe.c_str(), GetLastError());
				return false;
			}
		return fg_WriteConfig(false);
	}

	CSoakLoad::CSoakLoad()
	{
		QueryPerformanceFrequency(&fp_Frequency);
		QueryPerformanceCounter(&fp_Start);
	}

	CSoakLoad::~CSoakLoad()
	{
		for (CLaunch &Launch : fp_Pending)
			TerminateProcess(Launch.m_hProcess.f_Get(), 0);
	}

	double CSoakLoad::fp_Now() const
	{
		LARGE_INTEGER Now;
		QueryPerformanceCounter(&Now);
		return double(Now.QuadPart - fp_Start.QuadPart) / double(fp_Frequency.QuadPart);
	}

	void CSoakLoad::fp_Event(const char *pText)
	{
		std::lock_guard<std::mutex> Guard(fp_Lock);
		if (!fp_Counts.m_Events.empty())
			fp_Counts.m_Events += ", ";
		fp_Counts.m_Events += pText;
	}

	bool CSoakLoad::fp_WasDown(double Time)
	{
		for (const auto &Window : fp_DownWindows)
			if (Time >= Window.first && Time <= Window.second)
				return true;
		return false;
	}

	void CSoakLoad::fp_Launcher()
	{
		CKvFileHandle hDevice;
		std::string Folder = fg_Folder();
		double Next = fp_Now();
		for (std::uint64_t i = 0; !fp_bStop; ++i)
		{
			double Now = fp_Now();
			if (Now < Next)
				Sleep(DWORD((Next - Now) * 1000));
			// A launcher that fell behind (a loaded machine) catches up at its own pace, no burst.
			Next = std::max(Next + gc_LaunchPeriod, fp_Now() - gc_LaunchPeriod);

			const CName &Name = gc_Names[i % 4];
			std::string Path = Folder + "\\" + Name.m_pName;
			std::string CommandLine = "\"" + Path + "\" 60";
			STARTUPINFOA Startup = {};
			Startup.cb = sizeof(Startup);
			PROCESS_INFORMATION Info = {};
			if (!CreateProcessA(Path.c_str(), CommandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &Startup, &Info))
				continue;
			CloseHandle(Info.hThread);
			CLaunch Launch;
			Launch.m_hProcess = CKvKernelHandle(Info.hProcess);
			Launch.m_Expected = Name.m_Class;

			if (!hDevice)
				hDevice = NHushvaneTest::gf_OpenHushvaneDevice();
			bool bFed = hDevice && NHushvaneTest::gf_FeedProcessEvent(hDevice.f_Get(), GetCurrentProcessId(), Info.dwProcessId, true);
			Launch.m_FedAt = fp_Now();
			std::lock_guard<std::mutex> Guard(fp_Lock);
			if (!bFed)
			{
				// No driver to take it: the device is opened afresh for the next launch.
				hDevice.f_Reset();
				++fp_Counts.m_NotFed;
				TerminateProcess(Launch.m_hProcess.f_Get(), 0);
				continue;
			}
			++fp_Counts.m_Fed;
			fp_Pending.push_back(std::move(Launch));
		}
	}

	void CSoakLoad::fp_Check(bool bFinal)
	{
		double Now = fp_Now();
		std::lock_guard<std::mutex> Guard(fp_Lock);
		for (size_t i = 0; i < fp_Pending.size();)
		{
			CLaunch &Launch = fp_Pending[i];
			DWORD Class = GetPriorityClass(Launch.m_hProcess.f_Get());
			double Age = Now - Launch.m_FedAt;
			bool bDone = false;
			if (Launch.m_Expected)
			{
				if (Class == Launch.m_Expected)
				{
					++fp_Counts.m_Applied;
					fp_Counts.m_Latencies.push_back(Age * 1000);
					bDone = true;
				}
				else if (Age >= gc_LostAfter || bFinal)
				{
					++(fp_WasDown(Launch.m_FedAt) ? fp_Counts.m_LostDown : fp_Counts.m_Lost);
					bDone = true;
				}
			}
			else if (Class != NORMAL_PRIORITY_CLASS && Class != 0)
			{
				++fp_Counts.m_Wrong;
				bDone = true;
			}
			else
				bDone = Age >= gc_UnlistedWatch || bFinal;

			if (bDone)
			{
				TerminateProcess(Launch.m_hProcess.f_Get(), 0);
				fp_Pending[i] = std::move(fp_Pending.back());
				fp_Pending.pop_back();
			}
			else
				++i;
		}
	}

	bool CSoakLoad::fp_PauseAndContinue(bool bBigConfig)
	{
		CKvServiceHandle hService = fg_OpenService("Hushvane", SERVICE_PAUSE_CONTINUE | SERVICE_QUERY_STATUS);
		if (!hService || !fg_Control(hService, SERVICE_CONTROL_PAUSE, SERVICE_PAUSED))
			return false;
		// The next run reads the config afresh: a large one makes its log roll over.
		fg_WriteConfig(bBigConfig);
		return fg_Control(hService, SERVICE_CONTROL_CONTINUE, SERVICE_RUNNING);
	}

	bool CSoakLoad::fp_CycleDriver()
	{
		CKvServiceHandle hDriver = fg_OpenService("HushvaneDriver", SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
		if (!hDriver)
			return false;
		{
			std::lock_guard<std::mutex> Guard(fp_Lock);
			fp_DownWindows.emplace_back(fp_Now() - gc_DownBefore, 1e300);
		}
		bool bOk = fg_Control(hDriver, SERVICE_CONTROL_STOP, SERVICE_STOPPED);
		Sleep(DWORD(gc_DriverDownFor * 1000));
		bOk = StartServiceA(hDriver.f_Get(), 0, nullptr) && fg_WaitForState(hDriver, SERVICE_RUNNING) && bOk;
		std::lock_guard<std::mutex> Guard(fp_Lock);
		fp_DownWindows.back().second = fp_Now() + gc_DownAfter;
		return bOk;
	}

	void CSoakLoad::fp_Controller()
	{
		double DriverPeriod = std::min(gc_DriverPeriod, fp_Seconds / 2);
		double NextPause = gc_PausePeriod;
		double NextDriver = DriverPeriod + gc_PausePeriod / 2; // between two pauses
		std::uint32_t Continues = 0;
		bool bBig = false;
		while (!fp_bStop)
		{
			double Now = fp_Now();
			if (Now >= NextPause)
			{
				NextPause += gc_PausePeriod;
				bBig = ++Continues % 3 == 0;
				bool bOk = fp_PauseAndContinue(bBig);
				fp_Event(bBig ? "pause, continue with a large config" : "pause, continue");
				if (!bOk)
				{
					++fp_ControlFailures;
					fp_Event("PAUSE/CONTINUE FAILED");
				}
			}
			else if (Now >= NextDriver)
			{
				NextDriver += DriverPeriod;
				bool bOk = fp_CycleDriver();
				fp_Event("driver stopped and started");
				if (!bOk)
				{
					++fp_ControlFailures;
					fp_Event("DRIVER CYCLE FAILED");
				}
			}
			else
				Sleep(50);
		}
		if (bBig)
			fg_WriteConfig(false);
	}

	CInterval CSoakLoad::fp_Sample()
	{
		CInterval Interval;
		Interval.m_EndSeconds = fp_Now();
		Interval.m_Handles = 0;
		DWORD Handles = 0;
		if (GetProcessHandleCount(fp_hService.f_Get(), &Handles))
			Interval.m_Handles = Handles;
		PROCESS_MEMORY_COUNTERS_EX Memory = {};
		Memory.cb = sizeof(Memory);
		if (GetProcessMemoryInfo(fp_hService.f_Get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&Memory), sizeof(Memory)))
			Interval.m_PrivateBytes = Memory.PrivateUsage;
		Interval.m_LogFiles = fg_CountLogFiles();

		CCounts Counts;
		{
			std::lock_guard<std::mutex> Guard(fp_Lock);
			std::swap(Counts, fp_Counts);
		}
		Interval.m_Fed = Counts.m_Fed;
		Interval.m_Applied = Counts.m_Applied;
		Interval.m_Lost = Counts.m_Lost;
		Interval.m_LostDown = Counts.m_LostDown;
		Interval.m_NotFed = Counts.m_NotFed;
		Interval.m_Wrong = Counts.m_Wrong;
		Interval.m_MedianMs = gf_Percentile(Counts.m_Latencies, 0.5);
		Interval.m_P99Ms = gf_Percentile(Counts.m_Latencies, 0.99);
		Interval.m_Events = Counts.m_Events;
		return Interval;
	}

	bool CSoakLoad::f_Run(double Seconds, std::vector<CInterval> &Intervals)
	{
		fp_Seconds = Seconds;
		CKvServiceHandle hService = fg_OpenService("Hushvane", SERVICE_QUERY_STATUS);
		if (!hService || !fg_WaitForState(hService, SERVICE_RUNNING))
		{
			std::printf("hvsoak: the service \"Hushvane\" is not running\n");
			return false;
		}
		DWORD ProcessId = fg_Query(hService).dwProcessId;
		fp_hService = CKvKernelHandle(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ProcessId));
		ULONGLONG End = GetTickCount64() + 60000;
		while (!NHushvaneTest::gf_OpenHushvaneDevice())
		{
			if (GetTickCount64() >= End)
			{
				std::printf("hvsoak: the driver's device did not appear\n");
				return false;
			}
			Sleep(100);
		}
		std::printf("hvsoak: %.0f s against hushvane.exe (process %lu)\n%s\n", Seconds, ProcessId, gf_TableHeader().c_str());
		std::fflush(stdout);

		QueryPerformanceCounter(&fp_Start);
		std::thread Launcher([this] { fp_Launcher(); });
		std::thread Controller([this] { fp_Controller(); });
		double NextSample = gc_SamplePeriod;
		while (fp_Now() < Seconds)
		{
			fp_Check(false);
			if (fp_Now() >= NextSample)
			{
				NextSample += gc_SamplePeriod;
				Intervals.push_back(fp_Sample());
				std::printf("%s\n", gf_TableRow(Intervals.back()).c_str());
				std::fflush(stdout);
			}
			Sleep(1);
		}
		fp_bStop = true;
		Launcher.join();
		Controller.join();
		// The last launches get their full time before the final count.
		double Drain = fp_Now() + gc_LostAfter;
		while (fp_Now() < Drain)
		{
			fp_Check(false);
			std::lock_guard<std::mutex> Guard(fp_Lock);
			if (fp_Pending.empty())
				break;
		}
		fp_Check(true);
		CInterval Last = fp_Sample();
		// Folded into the last full interval, so a short tail never counts as an idle one.
		if (!Intervals.empty())
		{
			CInterval &Previous = Intervals.back();
			Previous.m_Fed += Last.m_Fed;
			Previous.m_Applied += Last.m_Applied;
			Previous.m_Lost += Last.m_Lost;
			Previous.m_LostDown += Last.m_LostDown;
			Previous.m_NotFed += Last.m_NotFed;
			Previous.m_Wrong += Last.m_Wrong;
			std::printf("%s   (launches still pending at the end, counted in the last interval)\n", gf_TableRow(Last).c_str());
		}
		std::uint32_t LogFiles = fg_CountLogFiles();
		std::printf("log files written: %u\n", LogFiles);
		std::fflush(stdout);
		return true;
	}
}
