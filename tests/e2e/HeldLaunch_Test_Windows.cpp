// Launches created suspended and held suspended (as launchers, sandboxes and installers make
// them): no module of the new process is loaded yet, but it is named by its image and gets its
// class at once, without holding up the records behind it.
#include "app/Hushvane_Priority.h"
#include "app/Hushvane_Worker.h"
#include "tests/e2e/WorkerSupport_Windows.h"

#include <gtest/gtest.h>

#include <memory>

using namespace NHushvaneTest;

namespace
{
	// Well inside the 5 seconds a process that cannot be named may hold the worker up.
	constexpr DWORD gc_PromptMs = 2000;

	bool fg_IsHeld(const CChildProcess &Child)
	{
		// Suspended once by its creation and once now: the previous count tells.
		HANDLE hThread = Child.f_GetThread();
		DWORD Previous = SuspendThread(hThread);
		ResumeThread(hThread);
		return Previous == 1;
	}

	class HeldLaunch : public testing::Test
	{
	protected:
		void TearDown() override
		{
			m_pWorker.reset();
			gf_RemoveTree(gf_InProgramFolder("config"));
		}

		CKvFileHandle f_StartWorker(const std::string &Config)
		{
			EXPECT_TRUE(gf_WriteFile(gf_InProgramFolder("config"), Config));
			m_pWorker = std::make_unique<NHushvane::CTCPF_MainWin32>();
			m_pWorker->f_Start();
			CKvFileHandle hDevice = gf_WaitForDevice();
			EXPECT_TRUE(hDevice.f_IsValid());
			return hDevice;
		}

		std::unique_ptr<NHushvane::CTCPF_MainWin32> m_pWorker;
	};
}

TEST_F(HeldLaunch, AHeldLaunchGetsItsClassAtOnceAndHoldsNothingUp)
{
	CKvFileHandle hDevice = f_StartWorker("hvheld_a.exe abovenormal\nhvheld_b.exe idle\n");
	ASSERT_TRUE(hDevice.f_IsValid());
	CChildProcess Held("hvheld_a.exe", true);
	CChildProcess Running("hvheld_b.exe");
	ASSERT_TRUE(Held.f_IsRunning() && Running.f_IsRunning());

	// The record of the held launch comes first; the running launch's record waits behind it.
	ULONGLONG Fed = GetTickCount64();
	ASSERT_TRUE(gf_FeedProcessEvent(hDevice.f_Get(), GetCurrentProcessId(), Held.f_GetId(), true));
	ASSERT_TRUE(gf_FeedProcessEvent(hDevice.f_Get(), GetCurrentProcessId(), Running.f_GetId(), true));
	EXPECT_TRUE(gf_WaitUntil([&] { return Held.f_GetPriorityClass() == ABOVE_NORMAL_PRIORITY_CLASS; }, gc_PromptMs))
		<< std::hex << Held.f_GetPriorityClass();
	EXPECT_TRUE(gf_WaitUntil([&] { return Running.f_GetPriorityClass() == IDLE_PRIORITY_CLASS; }, gc_PromptMs))
		<< std::hex << Running.f_GetPriorityClass();
	EXPECT_LT(GetTickCount64() - Fed, ULONGLONG(2 * gc_PromptMs));
	EXPECT_TRUE(fg_IsHeld(Held)) << "the class was given while the process was still held";
}

TEST(HeldLaunchName, ARefusedClassOnAHeldLaunchIsLoggedWithItsImageName)
{
	CCollectingContext Context;
	Context.f_GetProcessTable().f_Insert(NZel::NStr::CStr("hvheld_c.exe"), 0x12345); // Windows refuses this value
	CChildProcess Held("hvheld_c.exe", true);
	ASSERT_TRUE(Held.f_IsRunning());
	ULONGLONG Start = GetTickCount64();
	NHushvane::gf_ApplyPriority(Held.f_GetId());
	EXPECT_LT(GetTickCount64() - Start, ULONGLONG(gc_PromptMs)) << "named at once, not retried";
	EXPECT_EQ(Context.m_Lines,
		std::vector<std::string>{"Failed to set priority class on hvheld_c.exe with process id " + std::to_string(Held.f_GetId()) + "\r\n"});
	EXPECT_TRUE(fg_IsHeld(Held));
}
