// hvlaunch: drives process launches for the end-to-end tests and the demo.
//
//   hvlaunch spawn <seconds> <exe>...        start each program (argument: its lifetime in
//                                            seconds) and print "<name> <pid>" per line
//   hvlaunch feed <pid> [0|1]                hand one creation (1, default) or exit (0) record
//                                            for <pid> to the test driver's process-notify routine
//   hvlaunch run [--settle ms] [--no-feed] <seconds> <exe>...
//                                            spawn each program and feed its creation (not with
//                                            --no-feed: a service without its driver sees real
//                                            launches itself), wait for the settle time (default
//                                            1000 ms), then print a table of name, process id and
//                                            priority class, and end them
//   hvlaunch class <pid>...                  print "<pid> <priority word>" per process
//   hvlaunch wait-device <seconds>           wait until the driver's device can be opened
//
// Exit code 0 on success, 2 on bad usage, 1 when a Windows call failed (the reason is printed).
// The feed needs the test build of the driver, started, and rights to open its device.
#include "KvWin/KvWindowsHandles.h"
#include "driver/Hushvane_TestControl.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{
	const char *fg_ClassWord(DWORD Class)
	{
		switch (Class)
		{
		case IDLE_PRIORITY_CLASS: return "idle";
		case BELOW_NORMAL_PRIORITY_CLASS: return "belownormal";
		case NORMAL_PRIORITY_CLASS: return "normal";
		case ABOVE_NORMAL_PRIORITY_CLASS: return "abovenormal";
		case HIGH_PRIORITY_CLASS: return "high";
		case REALTIME_PRIORITY_CLASS: return "realtime";
		default: return "unknown";
		}
	}

	int fg_Fail(const char *pWhat)
	{
		std::fprintf(stderr, "hvlaunch: %s failed with error %lu\n", pWhat, GetLastError());
		return 1;
	}

	struct CLaunched
	{
		std::string m_Name;
		DWORD m_ProcessId = 0;
		CKvKernelHandle m_hProcess;
	};

	std::string fg_BaseName(const std::string &Path)
	{
		size_t Slash = Path.find_last_of("\\/");
		return Slash == std::string::npos ? Path : Path.substr(Slash + 1);
	}

	bool fg_Spawn(const char *pSeconds, const char *pExe, CLaunched &Launched)
	{
		std::string CommandLine = std::string("\"") + pExe + "\" " + pSeconds;
		STARTUPINFOA Startup{};
		Startup.cb = sizeof(Startup);
		PROCESS_INFORMATION Info{};
		// Detached: a child attached to our console is ended with it when we exit (Wine closes
		// the console of a program started without one), and "spawn" must outlive us.
		if (!CreateProcessA(pExe, CommandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &Startup, &Info))
			return false;
		CloseHandle(Info.hThread);
		Launched.m_Name = fg_BaseName(pExe);
		Launched.m_ProcessId = Info.dwProcessId;
		Launched.m_hProcess = CKvKernelHandle(Info.hProcess);
		return true;
	}

	bool fg_Feed(HANDLE hDevice, DWORD ProcessId, bool bCreate)
	{
		HUSHVANE_TEST_NOTIFY_INPUT Input{};
		Input.ParentId = GetCurrentProcessId();
		Input.ProcessId = ProcessId;
		Input.Create = bCreate ? 1 : 0;
		DWORD Returned = 0;
		return DeviceIoControl(hDevice, IOCTL_HUSHVANE_TEST_NOTIFY, &Input, sizeof(Input), nullptr, 0, &Returned, nullptr);
	}

	CKvFileHandle fg_OpenDevice()
	{
		return CKvFileHandle(CreateFileA(DHushvaneUserDeviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
	}

	int fg_Usage()
	{
		std::fprintf(stderr, "usage: hvlaunch spawn <seconds> <exe>... | feed <pid> [0|1] | run [--settle ms] [--no-feed] <seconds> <exe>... | class <pid>... | wait-device <seconds>\n");
		return 2;
	}

	int fg_Spawn(int argc, char **argv)
	{
		if (argc < 4)
			return fg_Usage();
		for (int i = 3; i < argc; ++i)
		{
			CLaunched Launched;
			if (!fg_Spawn(argv[2], argv[i], Launched))
				return fg_Fail("CreateProcess");
			std::printf("%s %lu\n", Launched.m_Name.c_str(), Launched.m_ProcessId);
		}
		return 0;
	}

	int fg_FeedOne(int argc, char **argv)
	{
		if (argc < 3 || argc > 4)
			return fg_Usage();
		CKvFileHandle hDevice = fg_OpenDevice();
		if (!hDevice.f_IsValid())
			return fg_Fail("opening the driver's device");
		bool bCreate = argc < 4 || std::strcmp(argv[3], "0") != 0;
		if (!fg_Feed(hDevice.f_Get(), DWORD(std::strtoul(argv[2], nullptr, 10)), bCreate))
			return fg_Fail("the feed request");
		return 0;
	}

	int fg_Class(int argc, char **argv)
	{
		if (argc < 3)
			return fg_Usage();
		int Result = 0;
		for (int i = 2; i < argc; ++i)
		{
			DWORD ProcessId = DWORD(std::strtoul(argv[i], nullptr, 10));
			CKvKernelHandle hProcess(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, ProcessId));
			DWORD Class = hProcess.f_IsValid() ? GetPriorityClass(hProcess.f_Get()) : 0;
			if (!Class)
			{
				std::printf("%lu gone\n", ProcessId);
				Result = 1;
				continue;
			}
			std::printf("%lu %s\n", ProcessId, fg_ClassWord(Class));
		}
		return Result;
	}

	int fg_WaitDevice(int argc, char **argv)
	{
		if (argc != 3)
			return fg_Usage();
		DWORD Deadline = GetTickCount() + DWORD(std::strtoul(argv[2], nullptr, 10)) * 1000;
		for (;;)
		{
			if (fg_OpenDevice().f_IsValid())
				return 0;
			if (LONG(GetTickCount() - Deadline) >= 0)
				return fg_Fail("waiting for the driver's device");
			Sleep(100);
		}
	}

	int fg_Run(int argc, char **argv)
	{
		int Arg = 2;
		DWORD SettleMs = 1000;
		bool bFeed = true;
		for (;;)
		{
			if (Arg + 1 < argc && std::strcmp(argv[Arg], "--settle") == 0)
			{
				SettleMs = DWORD(std::strtoul(argv[Arg + 1], nullptr, 10));
				Arg += 2;
			}
			else if (Arg < argc && std::strcmp(argv[Arg], "--no-feed") == 0)
			{
				bFeed = false;
				++Arg;
			}
			else
				break;
		}
		if (Arg + 1 >= argc)
			return fg_Usage();
		const char *pSeconds = argv[Arg++];

		CKvFileHandle hDevice;
		if (bFeed && !(hDevice = fg_OpenDevice()).f_IsValid())
			return fg_Fail("opening the driver's device");

		std::vector<CLaunched> Launched(size_t(argc - Arg));
		for (size_t i = 0; i < Launched.size(); ++i)
		{
			if (!fg_Spawn(pSeconds, argv[Arg + int(i)], Launched[i]))
				return fg_Fail("CreateProcess");
			if (bFeed && !fg_Feed(hDevice.f_Get(), Launched[i].m_ProcessId, true))
				return fg_Fail("the feed request");
		}
		Sleep(SettleMs);

		std::printf("%-20s %8s  %s\n", "process", "id", "priority class");
		for (CLaunched &Process : Launched)
		{
			DWORD Class = GetPriorityClass(Process.m_hProcess.f_Get());
			std::printf("%-20s %8lu  %s\n", Process.m_Name.c_str(), Process.m_ProcessId, Class ? fg_ClassWord(Class) : "gone");
			TerminateProcess(Process.m_hProcess.f_Get(), 0);
		}
		return 0;
	}
}

int main(int argc, char **argv)
{
	if (argc < 2)
		return fg_Usage();
	if (std::strcmp(argv[1], "spawn") == 0)
		return fg_Spawn(argc, argv);
	if (std::strcmp(argv[1], "feed") == 0)
		return fg_FeedOne(argc, argv);
	if (std::strcmp(argv[1], "class") == 0)
		return fg_Class(argc, argv);
	if (std::strcmp(argv[1], "run") == 0)
		return fg_Run(argc, argv);
	if (std::strcmp(argv[1], "wait-device") == 0)
		return fg_WaitDevice(argc, argv);
	return fg_Usage();
}
