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

TEST_F(WorkerRunBodyTest, WithoutADriverTheRunEndsByItself)
{
	gf_RemoveDriverCompletely();
	ASSERT_TRUE(gf_WriteFile(gf_InProgramFolder(NHushvane::gf_GetDriverImageName()), "no driver"));
	ASSERT_TRUE(gf_WriteFile(gf_InProgramFolder("config"), "hvbody_b.exe high\n"));
	CChildProcess Child("hvbody_b.exe");
	CCollectingContext Context;
	CTestControl Control;
	NHushvane::gf_RunWorker(Context, Control); // returns without a stop request
	EXPECT_EQ(Control.m_Passes.load(), 0);
	EXPECT_EQ(Child.f_GetPriorityClass(), DWORD(NORMAL_PRIORITY_CLASS)) << "no sweep without a driver";
	EXPECT_EQ(Context.m_Lines,
		(std::vector<std::string>{"Launching\r\n", "Added process hvbody_b.exe with priority high\r\n", "Failed to initialize driver\r\n"}));
	gf_RemoveDriverCompletely();
}

TEST_F(WorkerRunBodyTest, ADriverImageThatCannotBeCopiedIsReportedAndEndsTheRun)
{
	gf_RemoveDriverCompletely();
	// A folder in the image's place: the copy cannot be moved over it.
	ASSERT_TRUE(CreateDirectoryA(gf_InstalledImagePath().c_str(), nullptr));
	CCollectingContext Context;
	CTestControl Control;
	NHushvane::gf_RunWorker(Context, Control);
	ASSERT_EQ(Context.m_Lines.size(), 3u);
	EXPECT_EQ(Context.m_Lines[0], "Launching\r\n");
	EXPECT_EQ(Context.m_Lines[1].rfind("Windows returned an error from MoveFileEx: ", 0), 0u) << Context.m_Lines[1];
	EXPECT_EQ(Context.m_Lines[1].find("\r\n"), Context.m_Lines[1].size() - 2) << "one line, one line end";
	EXPECT_EQ(Context.m_Lines[2], "Failed to initialize driver\r\n");
	RemoveDirectoryA(gf_InstalledImagePath().c_str());
	gf_RemoveDriverCompletely();
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

	private:
		std::mutex fp_Mutex;
		std::vector<std::string> fp_Lines;
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
	EXPECT_FALSE(gf_FileExists(gf_InstalledImagePath()));
	EXPECT_FALSE(gf_DriverServiceExists());
}
