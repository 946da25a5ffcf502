#include "tests/e2e/soak/HvSoakLoad_Windows.h"
#include "tests/driver/support/TestDriverClient_Windows.h"

#include <winternl.h>

#include <algorithm>

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
		// Starting a process costs Wine far more than the worker's part of a launch; a loaded
		// machine could not start 20 a second. Processes are started as fast as the machine
		// allows, and between them earlier ones are set back to normal and fed again.
		constexpr size_t gc_FreshWaiting = 4;
		constexpr std::uint32_t gc_MaxUses = 20;
		constexpr size_t gc_MaxReusable = 50;

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

		// A process's handle count and private bytes from the system's process list: Wine
		// answers GetProcessHandleCount with 0 for every process, and keeps the list's
		// figures (its private bytes are the process's anonymous memory, resident or swapped).
		void fg_ReadProcessFigures(DWORD ProcessId, std::uint32_t &Handles, std::uint64_t &PrivateBytes)
		{
			Handles = 0;
			PrivateBytes = 0;
			std::vector<std::uint64_t> Buffer(64 * 1024);
			ULONG Needed = 0;
			NTSTATUS Status;
			while ((Status = NtQuerySystemInformation(SystemProcessInformation, Buffer.data(), ULONG(Buffer.size() * 8), &Needed)) ==
				NTSTATUS(0xC0000004L)) // STATUS_INFO_LENGTH_MISMATCH
				Buffer.resize(Buffer.size() * 2);
			if (Status != 0)
				return;
			const BYTE *pEntry = reinterpret_cast<const BYTE *>(Buffer.data());
			for (;;)
			{
				const auto *pProcess = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION *>(pEntry);
				if (DWORD(reinterpret_cast<ULONG_PTR>(pProcess->UniqueProcessId)) == ProcessId)
				{
					Handles = pProcess->HandleCount;
					PrivateBytes = std::max<std::uint64_t>(pProcess->PrivatePageCount, pProcess->VirtualMemoryCounters.PagefileUsage);
					return;
				}
				if (!pProcess->NextEntryOffset)
					return;
				pEntry += pProcess->NextEntryOffset;
			}
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

	CSoakLoad::CSoakLoad(bool bWatcher)
		: fp_bWatcher(bWatcher)
	{
		QueryPerformanceFrequency(&fp_Frequency);
		QueryPerformanceCounter(&fp_Start);
	}

	CSoakLoad::~CSoakLoad()
	{
		auto fEnd = [](std::vector<CLaunch> &List) {
			for (CLaunch &Launch : List)
				TerminateProcess(Launch.m_hProcess.f_Get(), 0);
		};
		fEnd(fp_Pending);
		for (size_t i = 0; i < 4; ++i)
		{
			fEnd(fp_Fresh[i]);
			fEnd(fp_Reusable[i]);
		}
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

	namespace
	{
		// A process of the soak's name, detached, waiting for 10 minutes; true with its handle
		// and id in Launch.
		bool fg_Start(size_t Name, CKvKernelHandle &hProcess, DWORD &ProcessId)
		{
			std::string Path = fg_Folder() + "\\" + gc_Names[Name].m_pName;
			std::string CommandLine = "\"" + Path + "\" 600";
			STARTUPINFOA Startup = {};
			Startup.cb = sizeof(Startup);
			PROCESS_INFORMATION Info = {};
			if (!CreateProcessA(Path.c_str(), CommandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &Startup, &Info))
				return false;
			CloseHandle(Info.hThread);
			hProcess = CKvKernelHandle(Info.hProcess);
			ProcessId = Info.dwProcessId;
			return true;
		}
	}

	void CSoakLoad::fp_Spawner()
	{
		for (size_t Next = 0; !fp_bStop; ++Next)
		{
			// Round the names, skipping one that has enough processes waiting.
			size_t Name = Next % 4;
			bool bFull;
			{
				std::lock_guard<std::mutex> Guard(fp_Lock);
				bFull = fp_Fresh[Name].size() >= gc_FreshWaiting;
			}
			if (bFull)
			{
				Sleep(5);
				continue;
			}
			CLaunch Launch;
			if (!fg_Start(Name, Launch.m_hProcess, Launch.m_ProcessId))
			{
				Sleep(100);
				continue;
			}
			Launch.m_Name = Name;
			Launch.m_Expected = gc_Names[Name].m_Class;
			std::lock_guard<std::mutex> Guard(fp_Lock);
			fp_Fresh[Name].push_back(std::move(Launch));
		}
	}

	bool CSoakLoad::fp_TakeProcess(size_t Name, CLaunch &Launch)
	{
		std::lock_guard<std::mutex> Guard(fp_Lock);
		std::vector<CLaunch> &List = !fp_Fresh[Name].empty() ? fp_Fresh[Name] : fp_Reusable[Name];
		if (List.empty())
			return false;
		Launch = std::move(List.front());
		List.erase(List.begin());
		return true;
	}

	void CSoakLoad::fp_Retire(CLaunch &&Launch)
	{
		// With the lock held. A watcher sees a process only once: nothing is used again.
		if (!fp_bWatcher && Launch.m_Uses < gc_MaxUses && fp_Reusable[Launch.m_Name].size() < gc_MaxReusable)
			fp_Reusable[Launch.m_Name].push_back(std::move(Launch));
		else
			TerminateProcess(Launch.m_hProcess.f_Get(), 0);
	}

	bool CSoakLoad::fp_LaunchNew(size_t Name)
	{
		CLaunch Launch;
		if (!fg_Start(Name, Launch.m_hProcess, Launch.m_ProcessId))
			return false;
		// The launch is the event the service sees: timed from the end of CreateProcess.
		Launch.m_FedAt = fp_Now();
		Launch.m_Name = Name;
		Launch.m_Expected = gc_Names[Name].m_Class;
		Launch.m_Uses = 1;
		std::lock_guard<std::mutex> Guard(fp_Lock);
		++fp_Counts.m_Fed;
		++fp_Counts.m_Fresh;
		fp_Pending.push_back(std::move(Launch));
		return true;
	}

	void CSoakLoad::fp_Launcher()
	{
		CKvFileHandle hDevice;
		double Next = fp_Now();
		for (std::uint64_t i = 0; !fp_bStop; ++i)
		{
			double Now = fp_Now();
			if (Now < Next)
				Sleep(DWORD((Next - Now) * 1000));
			// A launcher that fell behind (a loaded machine) goes on at its pace, with no burst.
			Next = std::max(Next + gc_LaunchPeriod, fp_Now() - gc_LaunchPeriod);

			if (fp_bWatcher)
			{
				if (!fp_LaunchNew(i % 4))
					Sleep(100);
				continue;
			}
			CLaunch Launch;
			if (!fp_TakeProcess(i % 4, Launch))
				continue;
			bool bFresh = Launch.m_Uses++ == 0;
			// A process fed again starts over from the class a new process has.
			if (!bFresh)
				SetPriorityClass(Launch.m_hProcess.f_Get(), NORMAL_PRIORITY_CLASS);

			if (!hDevice)
				hDevice = NHushvaneTest::gf_OpenHushvaneDevice();
			bool bFed = hDevice && NHushvaneTest::gf_FeedProcessEvent(hDevice.f_Get(), GetCurrentProcessId(), Launch.m_ProcessId, true);
			Launch.m_FedAt = fp_Now();
			std::lock_guard<std::mutex> Guard(fp_Lock);
			if (!bFed)
			{
				// No driver to take it: the device is opened afresh for the next launch.
				hDevice.f_Reset();
				++fp_Counts.m_NotFed;
				fp_Retire(std::move(Launch));
				continue;
			}
			++fp_Counts.m_Fed;
			fp_Counts.m_Fresh += bFresh;
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
				fp_Retire(std::move(Launch));
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
		{
			fp_Event("driver service not found");
			return false;
		}
		{
			std::lock_guard<std::mutex> Guard(fp_Lock);
			fp_DownWindows.emplace_back(fp_Now() - gc_DownBefore, 1e300);
		}
		char Text[160];
		double Begin = fp_Now();
		SERVICE_STATUS Status = {};
		bool bStopped = ControlService(hDriver.f_Get(), SERVICE_CONTROL_STOP, &Status) != FALSE;
		DWORD StopError = bStopped ? 0 : GetLastError();
		bStopped = bStopped && fg_WaitForState(hDriver, SERVICE_STOPPED);
		std::snprintf(Text, sizeof(Text), "driver stop %s after %.0f ms (error %lu, state %lu)", bStopped ? "done" : "FAILED",
			(fp_Now() - Begin) * 1000, StopError, fg_Query(hDriver).dwCurrentState);
		fp_Event(Text);
		Sleep(DWORD(gc_DriverDownFor * 1000));
		Begin = fp_Now();
		bool bStarted = StartServiceA(hDriver.f_Get(), 0, nullptr) != FALSE;
		DWORD StartError = bStarted ? 0 : GetLastError();
		// The worker may have brought its driver up again by itself meanwhile.
		bStarted = bStarted || StartError == ERROR_SERVICE_ALREADY_RUNNING;
		bStarted = bStarted && fg_WaitForState(hDriver, SERVICE_RUNNING);
		std::snprintf(Text, sizeof(Text), "driver start %s after %.0f ms (error %lu)", bStarted ? "done" : "FAILED", (fp_Now() - Begin) * 1000,
			StartError);
		fp_Event(Text);
		std::lock_guard<std::mutex> Guard(fp_Lock);
		fp_DownWindows.back().second = fp_Now() + gc_DownAfter;
		return bStopped && bStarted;
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
			else if (Now >= NextDriver && !fp_bWatcher)
			{
				NextDriver += DriverPeriod;
				if (!fp_CycleDriver())
					++fp_ControlFailures;
			}
			else
				Sleep(50);
		}
		if (bBig)
			fg_WriteConfig(false);
	}

	CInterval CSoakLoad::fp_Sample()
	{
		CCounts Counts;
		{
			std::lock_guard<std::mutex> Guard(fp_Lock);
			std::swap(Counts, fp_Counts);
		}
		CInterval Interval = Counts;
		Interval.m_EndSeconds = fp_Now();
		fg_ReadProcessFigures(fp_ServiceId, Interval.m_Handles, Interval.m_PrivateBytes);
		Interval.m_LogFiles = fg_CountLogFiles();
		Interval.m_MedianMs = gf_Percentile(Counts.m_Latencies, 0.5);
		Interval.m_P99Ms = gf_Percentile(Counts.m_Latencies, 0.99);
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
		fp_ServiceId = ProcessId;
		ULONGLONG End = GetTickCount64() + 60000;
		while (!fp_bWatcher && !NHushvaneTest::gf_OpenHushvaneDevice())
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
		std::thread Spawner([this] {
			if (!fp_bWatcher)
				fp_Spawner();
		});
		std::thread Launcher([this] { fp_Launcher(); });
		std::thread Controller([this] { fp_Controller(); });
		double NextSample = gc_SamplePeriod;
		size_t nIntervals = size_t(Seconds / gc_SamplePeriod);
		while (Intervals.size() < nIntervals)
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
		Spawner.join();
		Launcher.join();
		Controller.join();
		// The last launches get their full time before the final count.
		double Drain = fp_Now() + gc_LostAfter;
		while (fp_Now() < Drain)
		{
			fp_Check(false);
			{
				std::lock_guard<std::mutex> Guard(fp_Lock);
				if (fp_Pending.empty())
					break;
			}
			Sleep(1);
		}
		fp_Check(true);
		CInterval Last = fp_Sample();
		// Folded into the last full interval, so a short tail never counts as an idle one.
		if (!Intervals.empty())
		{
			gf_AddCounts(Intervals.back(), Last);
			std::printf("%s   (launches still pending at the end, counted in the last interval)\n", gf_TableRow(Last).c_str());
		}
		std::uint32_t LogFiles = fg_CountLogFiles();
		std::printf("log files written: %u\n", LogFiles);
		std::fflush(stdout);
		return true;
	}
}
