// hushvane.exe as a service with no driver image beside it: the run says so and watches launches
// itself. Real CreateProcess launches (which Wine's kernel never reports to a driver) get their
// class; pause, continue and an edit of the config behave as with the driver; and the image
// copied back in makes the run switch to the driver.
#include "app/Hushvane_DriverDeploy.h"
#include "tests/driver/support/TestKernelService_Windows.h"
#include "tests/e2e/ServiceSupport_Windows.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace NHushvaneTest;

namespace
{
	constexpr DWORD gc_IntervalMs = 100;
	constexpr DWORD gc_ClassTimeoutMs = 10000;
	const char *const gc_Watching = "Failed to initialize driver\r\nWatching launches without the driver, every 100 ms\r\n";

	bool fg_LogHas(size_t Index, const std::string &Text)
	{
		std::vector<std::string> Logs = gf_ReadLogs();
		return Logs.size() > Index && Logs[Index].find(Text) != std::string::npos;
	}

	std::string fg_Log(size_t Index)
	{
		std::vector<std::string> Logs = gf_ReadLogs();
		return Logs.size() > Index ? Logs[Index] : std::string("<no log ") + std::to_string(Index) + ">";
	}

	bool fg_GetsClass(const CChildProcess &Child, DWORD Class, DWORD TimeoutMs = gc_ClassTimeoutMs)
	{
		return gf_WaitUntil([&] { return Child.f_GetPriorityClass() == Class; }, TimeoutMs);
	}

	// Milliseconds from the launch until the class is seen, or ~0u when it never came.
	DWORD fg_LaunchLatency(const char *pName, DWORD Class)
	{
		CChildProcess Child(pName);
		ULONGLONG Start = GetTickCount64();
		if (!Child.f_IsRunning() || !gf_WaitUntil([&] { return Child.f_GetPriorityClass() == Class; }, gc_ClassTimeoutMs))
			return ~0u;
		return DWORD(GetTickCount64() - Start);
	}

	class WatcherE2E : public ::testing::Test
	{
	protected:
		void SetUp() override
		{
			gf_RemoveServiceDirectly();
			gf_RemoveDriverCompletely();
			gf_RemoveTree(gf_InProgramFolder(NHushvane::gf_GetDriverImageName()));
			gf_ClearLogs();
			ASSERT_TRUE(gf_WriteFile(gf_InProgramFolder("config"), "hvw_new.exe high\r\nhvw_old.exe idle\r\nhvw_many.exe abovenormal\r\n"));
		}

		void TearDown() override
		{
			gf_RemoveServiceDirectly();
			gf_RemoveDriverCompletely();
			gf_RemoveTree(gf_InProgramFolder(NHushvane::gf_GetDriverImageName()));
		}

		void f_AddAndStart()
		{
			ASSERT_EQ(gf_RunHushvane("-AddService"), 0u);
			ASSERT_EQ(gf_RunHushvane("-StartService"), 0u);
			ASSERT_TRUE(gf_WaitUntil([] { return fg_LogHas(0, gc_Watching); }, 30000)) << fg_Log(0);
		}
	};
}

TEST_F(WatcherE2E, LaunchesGetTheirClassWithoutTheDriver)
{
	CChildProcess Before("hvw_old.exe");
	CChildProcess Unlisted("hvw_other.exe");
	ASSERT_TRUE(Before.f_IsRunning() && Unlisted.f_IsRunning());
	ASSERT_NO_FATAL_FAILURE(f_AddAndStart());
	EXPECT_EQ(gf_QueryServiceStatus().dwCurrentState, DWORD(SERVICE_RUNNING));
	EXPECT_TRUE(fg_GetsClass(Before, IDLE_PRIORITY_CLASS)) << "the sweep reaches a process that ran before the start";

	// Each launch waits at most one interval for the next look. A loaded machine can hold one
	// launch up; the median of a few must stay within two intervals.
	fg_LaunchLatency("hvw_new.exe", HIGH_PRIORITY_CLASS); // the copy of the helper is made once
	std::vector<DWORD> Latencies;
	for (int i = 0; i < 7; ++i)
		Latencies.push_back(fg_LaunchLatency("hvw_new.exe", HIGH_PRIORITY_CLASS));
	std::sort(Latencies.begin(), Latencies.end());
	EXPECT_LT(Latencies.back(), gc_ClassTimeoutMs) << "a launch never got its class";
	EXPECT_LE(Latencies[Latencies.size() / 2], 2 * gc_IntervalMs) << "median launch-to-class latency";

	// An unlisted process, old or new, keeps its class; so does one whose class was changed by
	// hand after the watcher had seen it.
	CChildProcess NewUnlisted("hvw_other.exe");
	ASSERT_TRUE(Before.f_SetPriorityClass(BELOW_NORMAL_PRIORITY_CLASS));
	Sleep(5 * gc_IntervalMs);
	EXPECT_EQ(Unlisted.f_GetPriorityClass(), DWORD(NORMAL_PRIORITY_CLASS));
	EXPECT_EQ(NewUnlisted.f_GetPriorityClass(), DWORD(NORMAL_PRIORITY_CLASS));
	EXPECT_EQ(Before.f_GetPriorityClass(), DWORD(BELOW_NORMAL_PRIORITY_CLASS)) << "a class set by hand is left alone";

	// The run says nothing per process, and nothing more about the driver.
	std::string Log = fg_Log(0);
	EXPECT_EQ(Log.find("Failed to set"), std::string::npos) << Log;
	EXPECT_EQ(Log.substr(Log.find(gc_Watching) + std::string(gc_Watching).size()), "") << Log;
}

TEST_F(WatcherE2E, FiftyLaunchesAtOnceFromSeveralThreadsAllGetTheirClass)
{
	ASSERT_NO_FATAL_FAILURE(f_AddAndStart());
	{
		CChildProcess First("hvw_many.exe"); // makes the copy the threads start
		ASSERT_TRUE(fg_GetsClass(First, ABOVE_NORMAL_PRIORITY_CLASS));
	}
	constexpr size_t gc_Threads = 5;
	constexpr size_t gc_PerThread = 10;
	std::vector<std::unique_ptr<CChildProcess>> Children(gc_Threads * gc_PerThread);
	std::vector<std::thread> Threads;
	for (size_t Thread = 0; Thread < gc_Threads; ++Thread)
		Threads.emplace_back([&, Thread] {
			for (size_t i = 0; i < gc_PerThread; ++i)
				Children[Thread * gc_PerThread + i] = std::make_unique<CChildProcess>("hvw_many.exe");
		});
	for (std::thread &Thread : Threads)
		Thread.join();
	size_t Applied = 0;
	gf_WaitUntil(
		[&] {
			Applied = size_t(std::count_if(Children.begin(), Children.end(),
				[](const auto &pChild) { return pChild->f_GetPriorityClass() == ABOVE_NORMAL_PRIORITY_CLASS; }));
			return Applied == Children.size();
		},
		30000);
	EXPECT_EQ(Applied, Children.size());
	for (const auto &pChild : Children)
		EXPECT_TRUE(pChild->f_IsRunning());
	gf_EndChildren(Children);
}

TEST_F(WatcherE2E, PauseStopsApplyingContinueAndAConfigEditResume)
{
	ASSERT_NO_FATAL_FAILURE(f_AddAndStart());
	ASSERT_TRUE(gf_ControlService(SERVICE_CONTROL_PAUSE));
	ASSERT_TRUE(gf_WaitForServiceState(SERVICE_PAUSED));
	CChildProcess DuringPause("hvw_new.exe");
	Sleep(5 * gc_IntervalMs);
	EXPECT_EQ(DuringPause.f_GetPriorityClass(), DWORD(NORMAL_PRIORITY_CLASS)) << "a paused service applies nothing";

	// Continue: a new run, which watches again and sweeps what launched meanwhile.
	ASSERT_TRUE(gf_ControlService(SERVICE_CONTROL_CONTINUE));
	ASSERT_TRUE(gf_WaitForServiceState(SERVICE_RUNNING));
	EXPECT_TRUE(fg_GetsClass(DuringPause, HIGH_PRIORITY_CLASS));
	EXPECT_TRUE(gf_WaitUntil([] { return fg_LogHas(1, gc_Watching); }, 10000)) << fg_Log(1);
	EXPECT_NE(fg_LaunchLatency("hvw_new.exe", HIGH_PRIORITY_CLASS), ~0u);

	// An edit of the config starts a new run with the new table, as with the driver.
	ASSERT_TRUE(gf_WriteFile(gf_InProgramFolder("config"), "hvw_new.exe belownormal\r\n"));
	ASSERT_TRUE(gf_WaitUntil([] { return fg_LogHas(2, "Added process hvw_new.exe with priority belownormal\r\n"); }, 10000));
	EXPECT_TRUE(fg_LogHas(1, "Configuration changed, reading it again\r\n")) << fg_Log(1);
	EXPECT_NE(fg_LaunchLatency("hvw_new.exe", BELOW_NORMAL_PRIORITY_CLASS), ~0u);
}

TEST_F(WatcherE2E, TheDriverImageCopiedBackMakesTheRunSwitchToTheDriver)
{
	ASSERT_NO_FATAL_FAILURE(f_AddAndStart());
	ASSERT_TRUE(CopyFileA(gf_WindowsPath(HV_TEST_DRIVER_IMAGE).c_str(), gf_InProgramFolder(NHushvane::gf_GetDriverImageName()).c_str(), FALSE));
	// The next attempt comes 5 s after the failed start.
	ASSERT_TRUE(gf_WaitUntil([] { return fg_LogHas(0, "Driver up again\r\n"); }, 30000)) << fg_Log(0);
	EXPECT_EQ(gf_DriverServiceState(), DWORD(SERVICE_RUNNING));

	// Wine's kernel reports no launch to the driver: a launch stays as it is until its creation
	// is fed through the test image, which shows that the records are what the run now takes.
	CChildProcess Launched("hvw_new.exe");
	Sleep(5 * gc_IntervalMs);
	EXPECT_EQ(Launched.f_GetPriorityClass(), DWORD(NORMAL_PRIORITY_CLASS)) << "the watcher still runs";
	CKvFileHandle hDevice = gf_OpenHushvaneDevice();
	ASSERT_TRUE(hDevice.f_IsValid());
	ASSERT_TRUE(gf_FeedProcessEvent(hDevice.f_Get(), GetCurrentProcessId(), Launched.f_GetId(), true));
	EXPECT_TRUE(fg_GetsClass(Launched, HIGH_PRIORITY_CLASS));
	std::string Log = fg_Log(0);
	EXPECT_EQ(Log.find("Driver image not found"), Log.rfind("Driver image not found")) << "a failed retry writes nothing: " << Log;
}
