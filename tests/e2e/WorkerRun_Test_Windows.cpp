// One run of the worker body on a plain thread, with a context that collects its lines and a
// stop flag of the test's own.
#include "app/Hushvane_DriverDeploy.h"
#include "app/Hushvane_WorkerRun.h"
#include "tests/e2e/EveryoneWrite_Windows.h"
#include "tests/e2e/WorkerSupport_Windows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

using namespace NHushvaneTest;

namespace
{
	class CTestControl : public NHushvane::ICWorkerControl
	{
	public:
		bool f_IsStopRequested() override
		{
			++m_Passes;
			return m_bStop.load();
		}
		void f_WaitForStop(NZel::uint32 Milliseconds) override
		{
			++m_EventlessWaits;
			Sleep(Milliseconds);
		}

		std::atomic<bool> m_bStop{false};
		std::atomic<int> m_Passes{0};
		std::atomic<int> m_EventlessWaits{0};
	};

	class WorkerRunBodyTest : public testing::Test
	{
	protected:
		void SetUp() override
		{
			gf_ReadFile(gf_InProgramFolder(NHushvane::gf_GetDriverImageName()), m_Image);
			ASSERT_FALSE(m_Image.empty());
		}
		void TearDown() override
		{
			gf_RemoveTree(gf_InProgramFolder("config"));
			gf_WriteFile(gf_InProgramFolder(NHushvane::gf_GetDriverImageName()), m_Image);
		}
		std::string m_Image;
	};
}

TEST_F(WorkerRunBodyTest, RunsUntilAskedToStopThenClosesTheChannel)
{
	ASSERT_TRUE(gf_WriteFile(gf_InProgramFolder("config"), "hvbody_a.exe realtime\n"));
	CChildProcess Child("hvbody_a.exe");
	ASSERT_TRUE(Child.f_IsRunning());
	CCollectingContext Context;
	CTestControl Control;
	std::thread Run([&] { NHushvane::gf_RunWorker(Context, Control); });

	EXPECT_TRUE(gf_WaitUntil([&] { return Child.f_GetPriorityClass() == REALTIME_PRIORITY_CLASS; }, 10000));
	// The loop keeps passing while it waits on the driver's event.
	int Passes = Control.m_Passes.load();
	Sleep(350);
	EXPECT_GE(Control.m_Passes.load() - Passes, 2);
	EXPECT_EQ(Control.m_EventlessWaits.load(), 0) << "the driver's event paces the loop";

	ULONGLONG Start = GetTickCount64();
	Control.m_bStop = true;
	Run.join();
	EXPECT_LT(GetTickCount64() - Start, 250u) << "a stop is seen after at most one wait";
	EXPECT_FALSE(Context.f_IsChannelOpen());
	EXPECT_EQ(Context.f_GetEvent(), nullptr);
	EXPECT_EQ(Context.m_Lines, (std::vector<std::string>{"Launching\r\n", "Added process hvbody_a.exe with priority realtime\r\n"}));
}

TEST_F(WorkerRunBodyTest, WithoutADriverTheRunWatchesLaunchesUntilAskedToStop)
{
	struct CCase
	{
		const char *m_pName;
		bool m_bImageBlocked;     // a folder where the image is installed: the copy fails
		const char *m_pReason;    // the line the failed bring-up writes before the fallback
	};
	const CCase Cases[] = {
		{"the kernel refuses the image", false, nullptr},
		{"the image cannot be copied", true, "Windows returned an error from MoveFileEx: "},
	};
	for (const CCase &Case : Cases)
	{
		SCOPED_TRACE(Case.m_pName);
		gf_RemoveDriverCompletely();
		if (Case.m_bImageBlocked)
			ASSERT_TRUE(CreateDirectoryA(gf_InstalledImagePath().c_str(), nullptr));
		else
			ASSERT_TRUE(gf_WriteFile(gf_InProgramFolder(NHushvane::gf_GetDriverImageName()), "no driver"));
		ASSERT_TRUE(gf_WriteFile(gf_InProgramFolder("config"), "hvbody_b.exe high\n"));
		CChildProcess Before("hvbody_b.exe");
		CCollectingContext Context;
		CTestControl Control;
		std::thread Run([&] { NHushvane::gf_RunWorker(Context, Control); });
		EXPECT_TRUE(gf_WaitUntil([&] { return Before.f_GetPriorityClass() == HIGH_PRIORITY_CLASS; }, 10000)) << "the sweep";
		CChildProcess After("hvbody_b.exe");
		EXPECT_TRUE(gf_WaitUntil([&] { return After.f_GetPriorityClass() == HIGH_PRIORITY_CLASS; }, 10000)) << "a launch";
		EXPECT_GT(Control.m_EventlessWaits.load(), 0) << "the watcher paces the loop itself";
		ULONGLONG Start = GetTickCount64();
		Control.m_bStop = true;
		Run.join();
		EXPECT_LT(GetTickCount64() - Start, 250u) << "a stop is seen after at most one wait";
		EXPECT_FALSE(Context.f_IsChannelOpen());

		std::vector<std::string> Expected = {"Launching\r\n", "Added process hvbody_b.exe with priority high\r\n"};
		size_t Reason = Expected.size();
		if (Case.m_pReason)
			Expected.push_back(Case.m_pReason);
		Expected.push_back("Failed to initialize driver\r\n");
		Expected.push_back("Watching launches without the driver, every 100 ms\r\n");
		// One event for the Application log: the lines that said why, and the interval.
		ASSERT_EQ(Context.m_Events.size(), 1u);
		EXPECT_EQ(Context.m_Events[0].m_Kind, NHushvane::ERunEvent::DriverNotUp);
		EXPECT_EQ(Context.m_Events[0].m_Inserts,
			(std::vector<std::string>{Case.m_pReason ? Context.m_Lines[Reason] : std::string(), "100"}));
		ASSERT_EQ(Context.m_Lines.size(), Expected.size());
		for (size_t i = 0; i < Expected.size(); ++i)
		{
			if (i == Reason && Case.m_pReason)
			{
				EXPECT_EQ(Context.m_Lines[i].rfind(Case.m_pReason, 0), 0u) << Context.m_Lines[i];
				EXPECT_EQ(Context.m_Lines[i].find("\r\n"), Context.m_Lines[i].size() - 2) << "one line, one line end";
			}
			else
				EXPECT_EQ(Context.m_Lines[i], Expected[i]);
		}
		if (Case.m_bImageBlocked)
			RemoveDirectoryA(gf_InstalledImagePath().c_str());
		gf_RemoveDriverCompletely();
		gf_WriteFile(gf_InProgramFolder(NHushvane::gf_GetDriverImageName()), m_Image);
	}
}

namespace
{
	// Priority application that throws for one process and works for every other.
	std::atomic<DWORD> g_FaultyProcessId{0};
	std::atomic<int> g_Faults{0};

	void fg_ApplyFaultyForOne(NZel::uint32 ProcessId)
	{
		if (ProcessId == g_FaultyProcessId.load())
		{
			++g_Faults;
			DZelThrow(NZel::NException::CException, "Injected fault");
		}
		NHushvane::gf_ApplyPriority(ProcessId);
	}
}

TEST_F(WorkerRunBodyTest, AnExceptionForOneProcessIsLoggedAndTheRunGoesOn)
{
	ASSERT_TRUE(gf_WriteFile(gf_InProgramFolder("config"), "hvbody_c.exe high\nhvbody_d.exe idle\nhvbody_e.exe abovenormal\n"));
	CChildProcess Faulty("hvbody_c.exe");
	CChildProcess Swept("hvbody_d.exe");
	ASSERT_TRUE(Faulty.f_IsRunning() && Swept.f_IsRunning());
	g_FaultyProcessId = Faulty.f_GetId();
	g_Faults = 0;
	CCollectingContext Context;
	CTestControl Control;
	std::thread Run([&] { NHushvane::gf_RunWorker(Context, Control, fg_ApplyFaultyForOne); });

	// The sweep meets the faulty process and still reaches every other one.
	EXPECT_TRUE(gf_WaitUntil([&] { return Swept.f_GetPriorityClass() == IDLE_PRIORITY_CLASS; }, 10000));
	EXPECT_TRUE(gf_WaitUntil([&] { return g_Faults.load() == 1; }, 10000));

	// A faulty record, then one behind it in the same drain.
	CChildProcess Launched("hvbody_e.exe");
	ASSERT_TRUE(Launched.f_IsRunning());
	CKvFileHandle hDevice = gf_OpenHushvaneDevice();
	ASSERT_TRUE(hDevice.f_IsValid());
	ASSERT_TRUE(gf_FeedProcessEvent(hDevice.f_Get(), GetCurrentProcessId(), Faulty.f_GetId(), true));
	ASSERT_TRUE(gf_FeedProcessEvent(hDevice.f_Get(), GetCurrentProcessId(), Launched.f_GetId(), true));
	EXPECT_TRUE(gf_WaitUntil([&] { return Launched.f_GetPriorityClass() == ABOVE_NORMAL_PRIORITY_CLASS; }, 10000));
	EXPECT_EQ(g_Faults.load(), 2);

	// The loop keeps passing.
	int Passes = Control.m_Passes.load();
	EXPECT_TRUE(gf_WaitUntil([&] { return Control.m_Passes.load() > Passes + 1; }, 5000));
	Control.m_bStop = true;
	Run.join();
	EXPECT_EQ(Faulty.f_GetPriorityClass(), DWORD(NORMAL_PRIORITY_CLASS));
	EXPECT_EQ(Context.m_Lines,
		(std::vector<std::string>{"Launching\r\n", "Added process hvbody_c.exe with priority high\r\n", "Added process hvbody_d.exe with priority idle\r\n",
			"Added process hvbody_e.exe with priority abovenormal\r\n", "Injected fault\r\n", "Injected fault\r\n"}));
}

namespace
{
	// A control whose first eventless wait throws, as a fault inside the run's loop would.
	class CFaultyControl : public CTestControl
	{
	public:
		void f_WaitForStop(NZel::uint32 Milliseconds) override
		{
			if (m_bThrown.exchange(true))
				CTestControl::f_WaitForStop(Milliseconds);
			else
				DZelThrow(NZel::NException::CException, "Injected fault in the loop");
		}
		std::atomic<bool> m_bThrown{false};
	};
}

TEST_F(WorkerRunBodyTest, TheConfigurationsTroublesAndAnErrorThatEndsTheRunAreEvents)
{
	// Without the driver the run waits on its own control, whose first wait throws.
	gf_RemoveDriverCompletely();
	ASSERT_TRUE(gf_WriteFile(gf_InProgramFolder(NHushvane::gf_GetDriverImageName()), "no driver"));
	struct CCase
	{
		const char *m_pName;
		const char *m_pConfig;                 // null: a folder named config
		std::vector<NHushvane::ERunEvent> m_Events; // besides the failure, which the caller writes
	};
	using NHushvane::ERunEvent;
	const CCase Cases[] = {
		{"a clean file", "hvbody_f.exe idle\n", {ERunEvent::DriverNotUp}},
		{"two warnings", "hvbody_f.exe idle\nnotepad hihg\n", {ERunEvent::ConfigWarnings, ERunEvent::DriverNotUp}},
		{"unreadable", nullptr, {ERunEvent::ConfigUnreadable, ERunEvent::DriverNotUp}},
	};
	for (const CCase &Case : Cases)
	{
		SCOPED_TRACE(Case.m_pName);
		gf_RemoveTree(gf_InProgramFolder("config"));
		if (Case.m_pConfig)
			ASSERT_TRUE(gf_WriteFile(gf_InProgramFolder("config"), Case.m_pConfig));
		else
			ASSERT_TRUE(CreateDirectoryA(gf_InProgramFolder("config").c_str(), nullptr));
		CCollectingContext Context;
		CFaultyControl Control;
		NZel::NStr::CStr Failure;
		EXPECT_EQ(NHushvane::gf_RunWorker(Context, Control, NHushvane::gf_ApplyPriority, nullptr, &Failure), NHushvane::EWorkerRunEnd::Failed);
		EXPECT_STREQ(Failure.f_GetStr(), "Injected fault in the loop");
		EXPECT_EQ(Context.m_Lines.back(), "Injected fault in the loop\r\n");
		std::vector<ERunEvent> Kinds;
		for (const CCollectedEvent &Event : Context.m_Events)
			Kinds.push_back(Event.m_Kind);
		// The error that ended the run goes to the caller, which writes its event.
		EXPECT_EQ(Kinds, Case.m_Events);
		std::string Path = gf_InProgramFolder("config");
		for (const CCollectedEvent &Event : Context.m_Events)
		{
			if (Event.m_Kind == ERunEvent::ConfigWarnings)
			{
				EXPECT_EQ(Event.m_Inserts, (std::vector<std::string>{Path, "2"}));
			}
			if (Event.m_Kind == ERunEvent::ConfigUnreadable)
			{
				ASSERT_EQ(Event.m_Inserts.size(), 3u);
				EXPECT_EQ(Event.m_Inserts[0], Path);
				EXPECT_EQ(Event.m_Inserts[1].rfind("Windows returned an error from CreateFile: ", 0), 0u) << Event.m_Inserts[1];
				EXPECT_EQ(Event.m_Inserts[2], "The run goes on with an empty table");
			}
		}
	}
	gf_RemoveTree(gf_InProgramFolder("config"));
	gf_RemoveDriverCompletely();
}

namespace
{
	// Lines collected from the run's thread while the test reads them.
	class CLockedContext : public NHushvane::CWorkerContextDriver
	{
	public:
		void f_WriteLine(NZel::NStr::CStr Line) override
		{
			std::lock_guard<std::mutex> Lock(fp_Mutex);
			fp_Lines.emplace_back(Line.f_GetStr(), size_t(Line.f_GetLen()));
		}
		std::vector<std::string> f_Lines()
		{
			std::lock_guard<std::mutex> Lock(fp_Mutex);
			return fp_Lines;
		}
		void f_ReportEvent(NHushvane::ERunEvent Kind, std::initializer_list<NZel::NStr::CStr> Inserts) override
		{
			std::lock_guard<std::mutex> Lock(fp_Mutex);
			fp_Events.push_back({Kind, {}});
			for (const NZel::NStr::CStr &Insert : Inserts)
				fp_Events.back().m_Inserts.emplace_back(Insert.f_GetStr(), size_t(Insert.f_GetLen()));
		}
		std::vector<CCollectedEvent> f_Events()
		{
			std::lock_guard<std::mutex> Lock(fp_Mutex);
			return fp_Events;
		}

	private:
		std::mutex fp_Mutex;
		std::vector<std::string> fp_Lines;
		std::vector<CCollectedEvent> fp_Events;
	};
}

TEST_F(WorkerRunBodyTest, ARunSaysWhatOthersCanChangeAndDeploysNoImageOthersCanChange)
{
	// Under Wine chmod o+w lets Everyone change a file; the default tree is safe (see the first
	// test, whose run reports nothing of the kind).
	gf_RemoveDriverCompletely();
	const std::string Config = gf_InProgramFolder("config");
	const std::string Image = gf_InProgramFolder(NHushvane::gf_GetDriverImageName());
	ASSERT_TRUE(gf_WriteFile(Config, "hvbody_f.exe high\n"));
	CEveryoneMayWrite ConfigWritable(Config);
	CEveryoneMayWrite ImageWritable(Image);
	ASSERT_TRUE(ConfigWritable.f_IsSet() && ImageWritable.f_IsSet());

	CLockedContext Context;
	CTestControl Control;
	std::thread Run([&] { NHushvane::gf_RunWorker(Context, Control); });
	const std::string Failed = "Failed to initialize driver\r\n";
	EXPECT_TRUE(gf_WaitUntil(
		[&] {
			std::vector<std::string> Lines = Context.f_Lines();
			return std::find(Lines.begin(), Lines.end(), Failed) != Lines.end();
		},
		20000));
	Control.m_bStop = true;
	Run.join();
	std::vector<std::string> Lines = Context.f_Lines();
	const std::vector<std::string> Expected = {"Launching\r\n", "Added process hvbody_f.exe with priority high\r\n",
		"Warning: users who are not administrators can change the configuration: " + Config + " can be changed by Everyone\r\n",
		"Driver not deployed from an unsafe place: " + Image + " can be changed by Everyone\r\n", Failed};
	ASSERT_GE(Lines.size(), Expected.size());
	EXPECT_EQ(std::vector<std::string>(Lines.begin(), Lines.begin() + std::ptrdiff_t(Expected.size())), Expected);
	// Each refusal is an event of its own too, the image's before the one of the driver not up.
	std::vector<CCollectedEvent> Events = Context.f_Events();
	ASSERT_GE(Events.size(), 3u);
	EXPECT_EQ(Events[0].m_Kind, NHushvane::ERunEvent::ConfigWritable);
	EXPECT_EQ(Events[0].m_Inserts, std::vector<std::string>{Expected[2]});
	EXPECT_EQ(Events[1].m_Kind, NHushvane::ERunEvent::ImageRefused);
	EXPECT_EQ(Events[1].m_Inserts, std::vector<std::string>{Expected[3]});
	EXPECT_EQ(Events[2].m_Kind, NHushvane::ERunEvent::DriverNotUp);
	EXPECT_EQ(Events[2].m_Inserts, (std::vector<std::string>{Expected[3], "100"}));
	EXPECT_FALSE(gf_FileExists(gf_InstalledImagePath()));
	EXPECT_FALSE(gf_DriverServiceExists());
}
