#include "app/Hushvane_Config.h"
#include "app/Hushvane_DriverDeploy.h"
#include "app/Hushvane_Worker.h"
#include "app/Hushvane_WorkerRun.h"
#include "tests/e2e/WorkerSupport_Windows.h"

#include <gtest/gtest.h>

#include <memory>

using namespace NHushvaneTest;

namespace
{
	std::string fg_Added(const char *pName, const char *pWord)
	{
		return std::string("Added process ") + pName + " with priority " + pWord + "\r\n";
	}

	std::string fg_Content(const std::string &Path)
	{
		std::string Content;
		gf_ReadFile(Path, Content);
		return Content;
	}

	bool fg_WaitForClass(const CChildProcess &Child, DWORD Class, DWORD TimeoutMs = 5000)
	{
		return gf_WaitUntil([&] { return Child.f_GetPriorityClass() == Class; }, TimeoutMs);
	}

	// Hands the driver the report the kernel would make for a process creation or exit.
	bool fg_Feed(NZel::uint64 ProcessId, bool bCreate)
	{
		CKvFileHandle hDevice = gf_OpenHushvaneDevice();
		return hDevice.f_IsValid() && gf_FeedProcessEvent(hDevice.f_Get(), GetCurrentProcessId(), ProcessId, bCreate);
	}

	// True when no record waits in the driver a while after feeding: the worker took it. Reads
	// one record itself when the worker did not, which then fails the caller's check anyway.
	bool fg_DrainedAfter(DWORD Ms)
	{
		Sleep(Ms);
		CKvFileHandle hDevice = gf_OpenHushvaneDevice();
		PROCESS_EVENT_RECORD Record;
		return hDevice.f_IsValid() && !gf_ReadProcessEvent(hDevice.f_Get(), &Record, sizeof(Record));
	}
}

// Whole runs of the worker thread, with its own log files beside the program.
namespace
{
	class WorkerRunTest : public testing::Test
	{
	protected:
		void SetUp() override
		{
			ASSERT_TRUE(gf_FileExists(gf_InProgramFolder(NHushvane::gf_GetDriverImageName())));
			gf_ReadFile(gf_InProgramFolder(NHushvane::gf_GetDriverImageName()), m_Image);
			gf_ClearLogs();
			gf_RemoveTree(gf_InProgramFolder("config"));
		}
		void TearDown() override
		{
			m_pWorker.reset();
			gf_RemoveTree(gf_InProgramFolder("config"));
			gf_WriteFile(gf_InProgramFolder(NHushvane::gf_GetDriverImageName()), m_Image);
		}

		void f_WriteConfig(const std::string &Text)
		{
			ASSERT_TRUE(gf_WriteFile(gf_InProgramFolder("config"), Text));
		}

		void f_StartWorker()
		{
			m_pWorker = std::make_unique<NHushvane::CTCPF_MainWin32>();
			m_pWorker->f_Start();
		}

		// Deletes the worker (which stops it) and returns how long that took.
		ULONGLONG f_DeleteWorker()
		{
			ULONGLONG Start = GetTickCount64();
			m_pWorker.reset();
			return GetTickCount64() - Start;
		}

		std::unique_ptr<NHushvane::CTCPF_MainWin32> m_pWorker;
		std::string m_Image;
	};
}

TEST_F(WorkerRunTest, SweepsRunningProcessesThenAppliesFedCreationsAndLogsTheRun)
{
	f_WriteConfig("hvrun_a.exe high\r\nhvrun_b.exe idle\r\nhvrun_c.exe abovenormal\r\n# hvrun_d.exe realtime\r\n");
	CChildProcess Before("hvrun_a.exe");
	ASSERT_TRUE(Before.f_IsRunning());

	f_StartWorker();
	EXPECT_TRUE(fg_WaitForClass(Before, HIGH_PRIORITY_CLASS)) << "the start-up sweep";

	CChildProcess After("hvrun_b.exe");
	CChildProcess Exiting("hvrun_c.exe");
	ASSERT_TRUE(After.f_IsRunning() && Exiting.f_IsRunning());
	// Wine never reports launches itself: without a fed record nothing happens.
	Sleep(300);
	EXPECT_EQ(After.f_GetPriorityClass(), DWORD(NORMAL_PRIORITY_CLASS));

	// Records are taken in order: once the creation fed last has been applied, the exit
	// record before it has been taken, and dropped.
	ASSERT_TRUE(fg_Feed(Exiting.f_GetId(), false));
	ASSERT_TRUE(fg_Feed(After.f_GetId(), true));
	EXPECT_TRUE(fg_WaitForClass(After, IDLE_PRIORITY_CLASS));
	EXPECT_EQ(Exiting.f_GetPriorityClass(), DWORD(NORMAL_PRIORITY_CLASS));

	// A record of a process that has ended is skipped without a word (the log is checked
	// below), and the records after it are handled.
	DWORD EndedId = 0;
	{
		CChildProcess Ended("hvrun_c.exe");
		EndedId = Ended.f_GetId();
	}
	ASSERT_TRUE(fg_Feed(EndedId, true));
	ASSERT_TRUE(fg_Feed(Exiting.f_GetId(), true));
	EXPECT_TRUE(fg_WaitForClass(Exiting, ABOVE_NORMAL_PRIORITY_CLASS));

	ULONGLONG StopMs = f_DeleteWorker();
	EXPECT_LT(StopMs, 700u) << "a stop ends the run within about 300 ms";
	std::vector<std::string> Logs = gf_ReadLogs();
	ASSERT_EQ(Logs.size(), 1u);
	EXPECT_EQ(Logs[0], "Launching\r\n" + fg_Added("hvrun_a.exe", "high") + fg_Added("hvrun_b.exe", "idle") + fg_Added("hvrun_c.exe", "abovenormal"));
}

TEST_F(WorkerRunTest, PauseAndResumeStartANewLogAndSweepAgain)
{
	f_WriteConfig("hvrun_e.exe high\n");
	CChildProcess Child("hvrun_e.exe");
	ASSERT_TRUE(Child.f_IsRunning());
	f_StartWorker();
	ASSERT_TRUE(fg_WaitForClass(Child, HIGH_PRIORITY_CLASS));

	m_pWorker->f_Stop(true);
	// Edits made while paused count at the next run.
	f_WriteConfig("hvrun_e.exe idle\n");
	m_pWorker->f_Start();
	EXPECT_TRUE(fg_WaitForClass(Child, IDLE_PRIORITY_CLASS)) << "the resumed run sweeps again";

	f_DeleteWorker();
	std::vector<std::string> Logs = gf_ReadLogs();
	ASSERT_EQ(Logs.size(), 2u);
	EXPECT_EQ(Logs[0], "Launching\r\n" + fg_Added("hvrun_e.exe", "high"));
	EXPECT_EQ(Logs[1], "Launching\r\n" + fg_Added("hvrun_e.exe", "idle"));
}

TEST_F(WorkerRunTest, AnUnreadableConfigIsReportedAndTheRunGoesOn)
{
	for (int Case = 0; Case < 2; ++Case)
	{
		gf_ClearLogs();
		gf_RemoveTree(gf_InProgramFolder("config"));
		HANDLE hLocked = INVALID_HANDLE_VALUE;
		if (Case == 0)
			ASSERT_TRUE(CreateDirectoryA(gf_InProgramFolder("config").c_str(), nullptr));
		else
		{
			f_WriteConfig("hvrun_f.exe high\n");
			// The reader asks for no sharing, so any open handle locks it out.
			hLocked = CreateFileA(gf_InProgramFolder("config").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
			ASSERT_NE(hLocked, INVALID_HANDLE_VALUE);
		}
		CChildProcess Child("hvrun_f.exe");
		f_StartWorker();
		// The driver comes up all the same: records are taken, once the read has been tried
		// for a while.
		ASSERT_TRUE(gf_WaitUntil([] { return fg_Feed(1, true); }, 10000));
		EXPECT_TRUE(fg_DrainedAfter(2000 + NHushvane::gc_ConfigReadAttempts * NHushvane::gc_ConfigReadRetryMs)) << "case " << Case;
		f_DeleteWorker();
		if (hLocked != INVALID_HANDLE_VALUE)
			CloseHandle(hLocked);

		EXPECT_EQ(Child.f_GetPriorityClass(), DWORD(NORMAL_PRIORITY_CLASS)) << "an empty table changes nothing";
		std::vector<std::string> Logs = gf_ReadLogs();
		ASSERT_EQ(Logs.size(), 1u);
		const std::string Launching = "Launching\r\n";
		ASSERT_EQ(Logs[0].compare(0, Launching.size(), Launching), 0) << Logs[0];
		std::string Rest = Logs[0].substr(Launching.size());
		EXPECT_NE(Rest.find("Windows returned an error from CreateFile: "), std::string::npos) << Rest;
		EXPECT_EQ(Rest.find("\r\n"), Rest.size() - 2) << "one line: " << Rest;
		EXPECT_EQ(Rest.find("Failed to initialize driver"), std::string::npos);
	}
}

TEST_F(WorkerRunTest, ADriverTheKernelRefusesLeavesTheRunWatchingLaunches)
{
	f_WriteConfig("hvrun_g.exe high\n");
	gf_RemoveDriverCompletely();
	ASSERT_TRUE(gf_WriteFile(gf_InProgramFolder(NHushvane::gf_GetDriverImageName()), "not a driver image"));
	CChildProcess Child("hvrun_g.exe");
	f_StartWorker();
	// The image is installed, its start fails, and the run goes on without it: the sweep and
	// then the watcher give the class.
	ASSERT_TRUE(gf_WaitUntil([] { return gf_FileExists(gf_InstalledImagePath()); }, 10000));
	EXPECT_TRUE(gf_WaitUntil([&] { return Child.f_GetPriorityClass() == HIGH_PRIORITY_CLASS; }, 10000));
	CChildProcess Launched("hvrun_g.exe");
	EXPECT_TRUE(gf_WaitUntil([&] { return Launched.f_GetPriorityClass() == HIGH_PRIORITY_CLASS; }, 10000));
	f_DeleteWorker();
	EXPECT_EQ(gf_ReadLogs(), std::vector<std::string>{"Launching\r\n" + fg_Added("hvrun_g.exe", "high") +
								  "Failed to initialize driver\r\nWatching launches without the driver, every 100 ms\r\n"});
	gf_RemoveDriverCompletely();
}

TEST_F(WorkerRunTest, WithoutTheDriverEventRecordsAreTakenAtTheNextBoundedPass)
{
	// The test image loads without its named event when its service key says so.
	gf_RemoveDriverCompletely();
	{
		CCollectingContext Installer;
		ASSERT_TRUE(NHushvane::gf_InitializeDriver(Installer));
	}
	ASSERT_TRUE(NHushvane::gf_StopDriverService());
	ASSERT_TRUE(gf_SetDriverServiceDword("TestWithoutEvent", 1));
	{
		CCollectingContext Channel;
		ASSERT_TRUE(NHushvane::gf_InitializeDriver(Channel)) << "the device alone makes the channel";
		EXPECT_TRUE(Channel.f_IsChannelOpen());
		EXPECT_EQ(Channel.f_GetEvent(), nullptr);
		EXPECT_TRUE(Channel.m_Lines.empty()) << "a missing event is not reported";
	}

	f_WriteConfig("hvrun_h.exe high\n");
	f_StartWorker();
	// Give the run time to sweep and to reach its waiting loop before the launch.
	Sleep(500);
	CChildProcess Later("hvrun_h.exe");
	ASSERT_TRUE(Later.f_IsRunning());
	ASSERT_TRUE(fg_Feed(Later.f_GetId(), true));
	ULONGLONG Fed = GetTickCount64();
	EXPECT_TRUE(fg_WaitForClass(Later, HIGH_PRIORITY_CLASS, 3000));
	EXPECT_LT(GetTickCount64() - Fed, 1000u) << "no event to wake on, but every wait is bounded";
	EXPECT_LT(f_DeleteWorker(), 700u) << "a stop ends the run within about 300 ms";
	EXPECT_EQ(gf_ReadLogs(), std::vector<std::string>{"Launching\r\n" + fg_Added("hvrun_h.exe", "high")});

	EXPECT_TRUE(gf_DeleteDriverServiceValue("TestWithoutEvent"));
	gf_RemoveDriverCompletely();
}

TEST_F(WorkerRunTest, UninstallDriversStopsTheServiceRemovesItAndMovesTheImageAside)
{
	gf_RemoveDriverCompletely();
	CCollectingContext First;
	ASSERT_TRUE(NHushvane::gf_InitializeDriver(First));
	First.f_CloseChannel();
	ASSERT_EQ(gf_DriverServiceState(), DWORD(SERVICE_RUNNING));
	gf_ClearLogs();

	{
		NHushvane::CTCPF_MainWin32 Worker;
		Worker.f_UninstallDrivers();
	}
	EXPECT_TRUE(gf_WaitUntil([] { return !gf_DriverServiceExists(); }, 5000));
	EXPECT_FALSE(gf_FileExists(gf_InstalledImagePath()));
	std::vector<std::string> Moved = gf_MovedAsideImages();
	ASSERT_EQ(Moved.size(), 1u) << "an identical image is moved aside all the same";
	EXPECT_EQ(fg_Content(gf_InstalledImagePath() + Moved[0].substr(std::string(NHushvane::gf_GetDriverImageName()).size())), m_Image);
	// The uninstall writes its own log file, empty when no restart is needed.
	EXPECT_EQ(gf_ReadLogs(), std::vector<std::string>{""});
}
