// Faults a real machine throws at the running service, under the real service control manager
// with the test driver image: an unreadable config, the driver's image and kernel service taken
// away behind the worker's back, the log's drive full, and the service's process killed.
// hushvane.exe, the driver image and the helper process sit beside this test program.
#include "KvWin/KvWindowsHandles.h"
#include "app/Hushvane_DriverDeploy.h"
#include "tests/e2e/ServiceSupport_Windows.h"
#include "tests/e2e/WorkerSupport_Windows.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

using namespace NHushvaneTest;

namespace
{
	constexpr const char *gc_Config = "hvfault_app.exe high\r\n";

	bool fg_HasLogWith(size_t Index, const std::string &Text, const std::string &LogFolder = gf_InProgramFolder("Log"))
	{
		std::vector<std::string> Logs = gf_ReadLogs(LogFolder);
		return Logs.size() > Index && Logs[Index].find(Text) != std::string::npos;
	}

	CKvServiceHandle fg_OpenDriverService(DWORD Access)
	{
		CKvServiceHandle Manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
		if (!Manager)
			return CKvServiceHandle();
		return CKvServiceHandle(OpenServiceA(Manager.f_Get(), NHushvane::gc_DriverServiceName, Access));
	}

	// A launch of a listed program, fed to the driver as the kernel would report it; true when it
	// got its class within the time.
	bool fg_LaunchGetsItsClass(DWORD TimeoutMs = 20000)
	{
		CChildProcess Child("hvfault_app.exe");
		CKvFileHandle Device;
		if (!gf_WaitUntil([&] { Device = gf_OpenHushvaneDevice(); return Device.f_IsValid(); }, TimeoutMs))
			return false;
		if (!gf_FeedProcessEvent(Device.f_Get(), GetCurrentProcessId(), Child.f_GetId(), true))
			return false;
		return gf_WaitUntil([&] { return Child.f_GetPriorityClass() == HIGH_PRIORITY_CLASS; }, TimeoutMs);
	}

	class ServiceFaults : public ::testing::Test
	{
	protected:
		void SetUp() override
		{
			gf_RemoveServiceDirectly();
			gf_RemoveDriverCompletely();
			gf_ClearLogs();
			gf_RemoveTree(gf_InProgramFolder("config"));
			gf_WriteFile(gf_InProgramFolder("config"), gc_Config);
		}

		void TearDown() override
		{
			gf_RemoveServiceDirectly();
			gf_RemoveDriverCompletely();
			gf_RemoveTree(gf_InProgramFolder("config"));
		}

		// The service registered and started from Folder, which holds the program, its driver
		// image and its config.
		void f_AddAndStart(const std::string &Folder = gf_ProgramFolder())
		{
			fp_LogFolder = Folder + "\\Log";
			ASSERT_EQ(gf_RunHushvane("-AddService", Folder), 0u);
			ASSERT_EQ(gf_RunHushvane("-StartService", Folder), 0u);
			ASSERT_TRUE(gf_WaitUntil([&] { return fg_HasLogWith(0, "Launching\r\n", fp_LogFolder); }, 30000));
			fp_ProcessId = gf_QueryServiceStatus().dwProcessId;
		}

		// Pause and continue: a new run of the worker with a new log file.
		void f_NewRun()
		{
			size_t Logs = gf_ReadLogs(fp_LogFolder).size();
			ASSERT_TRUE(gf_ControlService(SERVICE_CONTROL_PAUSE));
			ASSERT_TRUE(gf_WaitForServiceState(SERVICE_PAUSED));
			ASSERT_TRUE(gf_ControlService(SERVICE_CONTROL_CONTINUE));
			ASSERT_TRUE(gf_WaitForServiceState(SERVICE_RUNNING));
			ASSERT_TRUE(gf_WaitUntil([&] { return gf_ReadLogs(fp_LogFolder).size() > Logs; }, 30000)) << "no new log";
		}

		// The log of the newest run once its writer has had time to write everything.
		std::string f_NewestLog()
		{
			Sleep(6000);
			std::vector<std::string> Logs = gf_ReadLogs(fp_LogFolder);
			return Logs.empty() ? std::string() : Logs.back();
		}

		void f_ExpectSameProcessRunning()
		{
			SERVICE_STATUS_PROCESS Status = gf_QueryServiceStatus();
			EXPECT_EQ(Status.dwCurrentState, DWORD(SERVICE_RUNNING));
			EXPECT_EQ(Status.dwProcessId, fp_ProcessId) << "the service's process was replaced";
		}

		DWORD fp_ProcessId = 0;
		std::string fp_LogFolder;
	};
}

TEST_F(ServiceFaults, UnreadableConfigIsReportedAndTheRunGoesOnWithTheLastTable)
{
	f_AddAndStart();
	ASSERT_TRUE(fg_LaunchGetsItsClass());
	std::string Config = gf_InProgramFolder("config");

	struct CCase
	{
		const char *m_pName;
		const char *m_pLine; // what the run's log says; null: nothing (a missing config is no fault)
	};
	const CCase Cases[] = {
		{"replaced by a folder", "Windows returned an error from CreateFile"},
		{"held open without sharing", "Windows returned an error from CreateFile"},
		{"deleted", nullptr},
	};
	for (const CCase &Case : Cases)
	{
		SCOPED_TRACE(Case.m_pName);
		CKvFileHandle Holder;
		gf_RemoveTree(Config);
		if (Case.m_pName == Cases[0].m_pName)
			ASSERT_TRUE(CreateDirectoryA(Config.c_str(), nullptr));
		else if (Case.m_pName == Cases[1].m_pName)
		{
			ASSERT_TRUE(gf_WriteFile(Config, gc_Config));
			Holder = CKvFileHandle(CreateFileA(Config.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
			ASSERT_TRUE(Holder.f_IsValid());
		}
		ASSERT_NO_FATAL_FAILURE(f_NewRun());
		std::string Log = f_NewestLog();
		EXPECT_EQ(Log.rfind("Launching\r\n", 0), 0u) << Log;
		EXPECT_EQ(Log.find("Added process"), std::string::npos) << "nothing was read:\n" << Log;
		if (Case.m_pLine)
		{
			// The table of the run before stays in force: no process loses its class to a file
			// that cannot be read.
			EXPECT_NE(Log.find(std::string(Case.m_pLine)), std::string::npos) << Log;
			EXPECT_NE(Log.find("Configuration could not be read; keeping the last table read until it can be\r\n"), std::string::npos) << Log;
			EXPECT_TRUE(fg_LaunchGetsItsClass());
		}
		else
			EXPECT_EQ(Log, "Launching\r\n");
		EXPECT_EQ(Log.find("Failed to initialize driver"), std::string::npos) << "the run did not go on:\n" << Log;
		f_ExpectSameProcessRunning();

		// Restored: the next run reads it again.
		Holder.f_Reset();
		gf_RemoveTree(Config);
		ASSERT_TRUE(gf_WriteFile(Config, gc_Config));
		ASSERT_NO_FATAL_FAILURE(f_NewRun());
		EXPECT_TRUE(fg_LaunchGetsItsClass());
		EXPECT_NE(f_NewestLog().find("Added process hvfault_app.exe with priority high\r\n"), std::string::npos);
	}
}

TEST_F(ServiceFaults, DriverStoppedBehindTheWorkersBackIsBroughtUpAgain)
{
	f_AddAndStart();
	ASSERT_TRUE(fg_LaunchGetsItsClass());
	{
		CKvServiceHandle Driver = fg_OpenDriverService(SERVICE_STOP | SERVICE_QUERY_STATUS);
		SERVICE_STATUS Status = {};
		ASSERT_TRUE(ControlService(Driver.f_Get(), SERVICE_CONTROL_STOP, &Status)) << GetLastError();
	}
	// The watcher takes over at once, and the driver is brought up again.
	EXPECT_TRUE(gf_WaitUntil(
		[] {
			return fg_HasLogWith(
				0, "Lost the driver's device; bringing the driver up again\r\nWatching launches without the driver, every 100 ms\r\nDriver up again\r\n");
		},
		30000))
		<< gf_ReadLogs()[0];
	EXPECT_EQ(gf_DriverServiceState(), DWORD(SERVICE_RUNNING));
	EXPECT_TRUE(fg_LaunchGetsItsClass());
	f_ExpectSameProcessRunning();
}

TEST_F(ServiceFaults, DriverImageAndKernelServiceRemovedAreReportedAndRecovered)
{
	f_AddAndStart();
	ASSERT_TRUE(fg_LaunchGetsItsClass());
	std::string Image = gf_InProgramFolder(NHushvane::gf_GetDriverImageName());
	std::string Away = Image + ".away";
	// The image beside the program goes while the driver runs, then the kernel service is
	// stopped and deleted behind the worker's back.
	ASSERT_TRUE(MoveFileA(Image.c_str(), Away.c_str()));
	{
		CKvServiceHandle Driver = fg_OpenDriverService(SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
		SERVICE_STATUS Status = {};
		ControlService(Driver.f_Get(), SERVICE_CONTROL_STOP, &Status);
		ASSERT_TRUE(DeleteService(Driver.f_Get())) << GetLastError();
	}
	ASSERT_TRUE(gf_WaitUntil([] { return !gf_DriverServiceExists(); }, 30000));
	// The run notices at once and says why it cannot bring the driver back.
	EXPECT_TRUE(gf_WaitUntil([] { return fg_HasLogWith(0, "Lost the driver's device") && fg_HasLogWith(0, "Driver image not found: "); }, 30000))
		<< gf_ReadLogs()[0];

	// The next run says the same and watches launches itself; the service lives on.
	ASSERT_NO_FATAL_FAILURE(f_NewRun());
	std::string Log = f_NewestLog();
	EXPECT_NE(Log.find("Driver image not found: "), std::string::npos) << Log;
	EXPECT_NE(Log.find("Failed to initialize driver\r\nWatching launches without the driver, every 100 ms\r\n"), std::string::npos) << Log;
	f_ExpectSameProcessRunning();

	// The files return: the next run installs the kernel service again and works.
	ASSERT_TRUE(MoveFileA(Away.c_str(), Image.c_str()));
	ASSERT_NO_FATAL_FAILURE(f_NewRun());
	EXPECT_TRUE(fg_LaunchGetsItsClass());
	Log = f_NewestLog();
	EXPECT_EQ(Log.find("Failed"), std::string::npos) << Log;
	EXPECT_EQ(Log.find("not found"), std::string::npos) << Log;
	f_ExpectSameProcessRunning();
}

TEST_F(ServiceFaults, LogDriveFullKeepsTheLinesUntilSpaceReturns)
{
	const std::string Drive = "Q:\\";
	if (!gf_FileExists(Drive + "hv-small-drive"))
		GTEST_SKIP() << "no small drive Q: (mounting a tmpfs needs root)";
	const std::string Folder = Drive + "Hushvane";
	const std::string Ballast = Drive + "ballast";
	gf_RemoveTree(Folder);
	gf_RemoveTree(Ballast);
	ASSERT_TRUE(CreateDirectoryA(Folder.c_str(), nullptr));
	for (const std::string Name : {"hushvane.exe", NHushvane::gf_GetDriverImageName(), "config"})
		ASSERT_TRUE(CopyFileA(gf_InProgramFolder(Name).c_str(), (Folder + "\\" + Name).c_str(), FALSE)) << Name;
	ASSERT_NO_FATAL_FAILURE(f_AddAndStart(Folder));
	ASSERT_TRUE(fg_LaunchGetsItsClass());

	// Fill the drive to the last byte.
	{
		CKvFileHandle File(CreateFileA(Ballast.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
		ASSERT_TRUE(File.f_IsValid());
		std::vector<char> Chunk(1024 * 1024, 'x');
		for (DWORD Size = DWORD(Chunk.size()); Size; Size /= 4)
		{
			DWORD Written = 0;
			while (WriteFile(File.f_Get(), Chunk.data(), Size, &Written, nullptr) && Written == Size)
				;
		}
	}
	ULARGE_INTEGER Free = {};
	ASSERT_TRUE(GetDiskFreeSpaceExA(Drive.c_str(), &Free, nullptr, nullptr));
	ASSERT_LT(Free.QuadPart, 4096u) << "the drive is not full";

	// A new run on the full drive: its file is made, its lines cannot be written.
	ASSERT_NO_FATAL_FAILURE(f_NewRun());
	EXPECT_EQ(f_NewestLog(), "") << "lines written to a full drive?";
	f_ExpectSameProcessRunning();
	EXPECT_TRUE(fg_LaunchGetsItsClass()) << "the worker stopped working with its log's drive full";

	// Space returns: the kept lines are written at the writer's next pass, once and in order.
	ASSERT_TRUE(DeleteFileA(Ballast.c_str()));
	const std::string Expected = std::string("Launching\r\n") + "Added process hvfault_app.exe with priority high\r\n";
	EXPECT_TRUE(gf_WaitUntil([&] { return gf_ReadLogs(fp_LogFolder).back() == Expected; }, 20000)) << gf_ReadLogs(fp_LogFolder).back();
	f_ExpectSameProcessRunning();

	gf_RemoveServiceDirectly();
	gf_RemoveTree(Folder);
}

TEST_F(ServiceFaults, KilledServiceIsRestartedWhereTheManagerKeepsFailureActions)
{
	f_AddAndStart();
	ASSERT_TRUE(fg_LaunchGetsItsClass());

	// What the manager kept of the failure actions -AddService registered.
	std::vector<BYTE> Buffer(8192);
	DWORD Needed = 0;
	const auto *pActions = reinterpret_cast<const SERVICE_FAILURE_ACTIONSA *>(Buffer.data());
	bool bRead;
	{
		CKvServiceHandle Service = gf_OpenService(SERVICE_QUERY_CONFIG);
		bRead = QueryServiceConfig2A(Service.f_Get(), SERVICE_CONFIG_FAILURE_ACTIONS, Buffer.data(), DWORD(Buffer.size()), &Needed);
	}
	if (!bRead || pActions->cActions == 0)
	{
		// Wine 8 accepts the failure actions without keeping them (and cannot read them back),
		// and its manager never notices
		// that a service's process was killed: it keeps reporting the service running with the
		// dead process's id, refuses the stop and takes a start as already running. A kill would
		// leave the service stuck until the Wine server ends, so it is not done here.
		GTEST_SKIP() << "the service manager kept no failure actions (Wine): no restart to show";
	}
	ASSERT_EQ(pActions->cActions, 3u);
	EXPECT_EQ(pActions->dwResetPeriod, 86400u);
	EXPECT_EQ(pActions->lpsaActions[0].Type, SC_ACTION_RESTART);
	EXPECT_EQ(pActions->lpsaActions[1].Type, SC_ACTION_RESTART);
	EXPECT_EQ(pActions->lpsaActions[2].Type, SC_ACTION_NONE);

	{
		CKvKernelHandle Process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, fp_ProcessId));
		ASSERT_TRUE(Process.f_IsValid());
		ASSERT_TRUE(TerminateProcess(Process.f_Get(), 1));
		WaitForSingleObject(Process.f_Get(), 30000);
	}
	// The manager restarts it: a new process, running, with a new run of the worker.
	EXPECT_TRUE(gf_WaitUntil([&] {
		SERVICE_STATUS_PROCESS Status = gf_QueryServiceStatus();
		return Status.dwCurrentState == SERVICE_RUNNING && Status.dwProcessId != fp_ProcessId;
	}, 60000));
	EXPECT_TRUE(gf_WaitUntil([] { return fg_HasLogWith(1, "Launching\r\n"); }, 30000));
	EXPECT_TRUE(fg_LaunchGetsItsClass());
}
