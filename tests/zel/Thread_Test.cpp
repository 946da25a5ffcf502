#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_System_Thread.h"

#include "tests/zel/Thread_TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

using NZel::int32;
using NZel::NException::CException;
using NZel::NThread::CEventAutoResetAggregate;
using NZel::NThread::CLockGuard;
using NZel::NThread::EThreadState;
using NZel::NThread::ICThread;
using NZelTest::gc_SettleTime;
using NZelTest::gf_WaitUntil;

namespace
{
	// What a test thread's body does and records. It lives outside the thread object, so the
	// body never needs a member of its subclass after that subclass may have been destroyed.
	struct CBodyScript
	{
		enum class EMode
		{
			ReturnAtOnce,     // return the next value
			LoopUntilStopped, // sleep on the wake event until asked to stop
			WaitForGate,      // block on Gate (not the wake event), then return
			StopSelfWithWait, // call f_Stop(true) from the body, then return
		};

		EMode m_Mode = EMode::ReturnAtOnce;
		std::atomic<int32> m_NextReturnValue{0};
		std::atomic<int> m_nStarted{0};
		std::atomic<int> m_nFinished{0};
		std::atomic<int> m_nWakeUps{0};
		std::atomic<int32> m_SelfStopResult{-1};
		CEventAutoResetAggregate m_Gate;
	};

	class CTestThread : public ICThread
	{
	public:
		explicit CTestThread(CBodyScript &Script)
			: fp_pScript(&Script)
		{
		}

		int32 f_Execute() override
		{
			CBodyScript *pScript = fp_pScript;
			++pScript->m_nStarted;
			switch (pScript->m_Mode)
			{
			case CBodyScript::EMode::ReturnAtOnce:
				break;
			case CBodyScript::EMode::LoopUntilStopped:
				for (;;)
				{
					{
						CLockGuard Guard(fp_Lock);
						if (fp_State == EThreadState::StopRequested)
							break;
					}
					fp_WakeEvent.f_Wait();
					++pScript->m_nWakeUps;
				}
				// Linger, so a caller that returns before the thread is done is caught.
				std::this_thread::sleep_for(std::chrono::milliseconds(30));
				break;
			case CBodyScript::EMode::WaitForGate:
				pScript->m_Gate.f_Wait();
				break;
			case CBodyScript::EMode::StopSelfWithWait:
				pScript->m_SelfStopResult = f_Stop(true);
				break;
			}
			++pScript->m_nFinished;
			return pScript->m_NextReturnValue;
		}

		NZel::NStr::CStr f_GetThreadName() override
		{
			return "Zel_Test_Thread";
		}

		EThreadState f_GetState()
		{
			CLockGuard Guard(fp_Lock);
			return fp_State;
		}

		// Consumes a pending wake-up, if any.
		bool f_TakeWakeSignal()
		{
			return fp_WakeEvent.f_WaitTimeout(0);
		}

	private:
		CBodyScript *fp_pScript;
	};

	template <typename t_FAction>
	std::string gf_ThrownMessage(t_FAction &&fAction)
	{
		try
		{
			fAction();
		}
		catch (CException const &Exception)
		{
			return Exception.f_GetMessage();
		}
		return "(nothing thrown)";
	}

	char const gc_NotStopped[] = "You are trying to get a return value from a thread that isn't stopped (or has never run)";
	char const gc_AlreadyRunning[] = "You cannot start a thread that is already running";
}

TEST(Thread, NeverRunThreadStopsWithZeroAndHasNoReturnValue)
{
	CBodyScript Script;
	CTestThread Thread(Script);
	EXPECT_EQ(Thread.f_GetState(), EThreadState::NeverRun);
	EXPECT_EQ(Thread.f_Stop(false), 0);
	EXPECT_EQ(Thread.f_Stop(true), 0);
	EXPECT_EQ(Thread.f_GetState(), EThreadState::NeverRun);
	EXPECT_EQ(gf_ThrownMessage([&] { Thread.f_GetReturnValue(); }), gc_NotStopped);
	EXPECT_EQ(Script.m_nStarted, 0);
}

TEST(Thread, StopWithWaitEndsTheRunAndReturnsItsValue)
{
	CBodyScript Script;
	Script.m_Mode = CBodyScript::EMode::LoopUntilStopped;
	Script.m_NextReturnValue = 42;
	CTestThread Thread(Script);
	Thread.f_Start();
	EXPECT_EQ(Thread.f_GetState(), EThreadState::Running);
	ASSERT_TRUE(gf_WaitUntil([&] { return Script.m_nStarted == 1; }));
	EXPECT_EQ(gf_ThrownMessage([&] { Thread.f_GetReturnValue(); }), gc_NotStopped);

	EXPECT_EQ(Thread.f_Stop(true), 42);
	EXPECT_EQ(Script.m_nFinished, 1); // waited for the body's linger, not just the request
	EXPECT_EQ(Thread.f_GetState(), EThreadState::Stopped);
	EXPECT_EQ(Thread.f_GetReturnValue(), 42);
	// Finished: no more waiting, same value, with or without wait.
	EXPECT_EQ(Thread.f_Stop(true), 42);
	EXPECT_EQ(Thread.f_Stop(false), 42);
}

TEST(Thread, StartWhileRunningThrowsAndChangesNothing)
{
	CBodyScript Script;
	Script.m_Mode = CBodyScript::EMode::LoopUntilStopped;
	Script.m_NextReturnValue = 3;
	CTestThread Thread(Script);
	Thread.f_Start();
	EXPECT_EQ(gf_ThrownMessage([&] { Thread.f_Start(); }), gc_AlreadyRunning);
	EXPECT_EQ(Thread.f_GetState(), EThreadState::Running);

	EXPECT_EQ(Thread.f_Stop(false), 0);
	EXPECT_EQ(gf_ThrownMessage([&] { Thread.f_Start(0x8000, 0); }), gc_AlreadyRunning);
	EXPECT_EQ(Thread.f_Stop(true), 3);
	EXPECT_EQ(Script.m_nStarted, 1);
}

TEST(Thread, SecondStopFindsStopRequestedAndDoesNotSignalAgain)
{
	CBodyScript Script;
	Script.m_Mode = CBodyScript::EMode::WaitForGate;
	Script.m_NextReturnValue = 7;
	CTestThread Thread(Script);
	Thread.f_Start();

	EXPECT_EQ(Thread.f_Stop(false), 0);
	EXPECT_EQ(Thread.f_GetState(), EThreadState::StopRequested);
	EXPECT_TRUE(Thread.f_TakeWakeSignal());
	EXPECT_EQ(Thread.f_Stop(false), 0);
	EXPECT_EQ(Thread.f_GetState(), EThreadState::StopRequested);
	EXPECT_FALSE(Thread.f_TakeWakeSignal());

	// Two callers waiting at once both get the value.
	std::atomic<int32> OtherResult{-1};
	std::thread Other([&] { OtherResult = Thread.f_Stop(true); });
	std::this_thread::sleep_for(gc_SettleTime);
	EXPECT_EQ(OtherResult, -1);
	Script.m_Gate.f_Signal();
	EXPECT_EQ(Thread.f_Stop(true), 7);
	Other.join();
	EXPECT_EQ(OtherResult, 7);
	EXPECT_FALSE(Thread.f_TakeWakeSignal());
}

TEST(Thread, FinishedThreadCanBeStartedAgain)
{
	CBodyScript Script;
	Script.m_Mode = CBodyScript::EMode::ReturnAtOnce;
	Script.m_NextReturnValue = 5;
	CTestThread Thread(Script);
	Thread.f_Start();
	ASSERT_TRUE(gf_WaitUntil([&] { return Thread.f_GetState() == EThreadState::Stopped; }));
	EXPECT_EQ(Thread.f_GetReturnValue(), 5);

	Script.m_Mode = CBodyScript::EMode::WaitForGate;
	Script.m_NextReturnValue = -6;
	Thread.f_Start();
	EXPECT_EQ(Thread.f_GetState(), EThreadState::Running);
	EXPECT_EQ(gf_ThrownMessage([&] { Thread.f_GetReturnValue(); }), gc_NotStopped);
	Script.m_Gate.f_Signal();
	ASSERT_TRUE(gf_WaitUntil([&] { return Thread.f_GetState() == EThreadState::Stopped; }));
	EXPECT_EQ(Thread.f_GetReturnValue(), -6);
	EXPECT_EQ(Thread.f_Stop(false), -6);
	EXPECT_EQ(Script.m_nStarted, 2);
}

TEST(Thread, RunsManyTimesInARow)
{
	CBodyScript Script;
	Script.m_Mode = CBodyScript::EMode::LoopUntilStopped;
	CTestThread Thread(Script);
	for (int32 Run = 1; Run <= 15; ++Run)
	{
		Script.m_NextReturnValue = Run;
		Thread.f_Start(0x8000 + Run * 0x400);
		EXPECT_EQ(Thread.f_Stop(true), Run);
	}
	EXPECT_EQ(Script.m_nStarted, 15);
	EXPECT_EQ(Script.m_nFinished, 15);
}

TEST(Thread, StopRequestWakesBodyThroughLinkedEvent)
{
	CBodyScript Script;
	Script.m_Mode = CBodyScript::EMode::WaitForGate;
	Script.m_NextReturnValue = 11;

	class CLinkedThread : public CTestThread
	{
	public:
		CLinkedThread(CBodyScript &Script)
			: CTestThread(Script)
		{
			fp_WakeEvent.f_Link(Script.m_Gate);
		}
	} Thread(Script);

	Thread.f_Start();
	EXPECT_EQ(Thread.f_Stop(true), 11);
	EXPECT_EQ(Script.m_nFinished, 1);
}

TEST(Thread, DestroyingRunningThreadStopsAndWaitsForIt)
{
	CBodyScript Script;
	Script.m_Mode = CBodyScript::EMode::LoopUntilStopped;
	auto pThread = std::make_unique<CTestThread>(Script);
	pThread->f_Start();
	ASSERT_TRUE(gf_WaitUntil([&] { return Script.m_nStarted == 1; }));
	pThread.reset();
	EXPECT_EQ(Script.m_nFinished, 1);
}

TEST(Thread, DestroyingThreadWithStopAlreadyRequestedWaitsForIt)
{
	CBodyScript Script;
	Script.m_Mode = CBodyScript::EMode::WaitForGate;
	auto pThread = std::make_unique<CTestThread>(Script);
	pThread->f_Start();
	ASSERT_TRUE(gf_WaitUntil([&] { return Script.m_nStarted == 1; }));
	pThread->f_Stop(false);

	std::thread Opener([&] {
		std::this_thread::sleep_for(gc_SettleTime);
		Script.m_Gate.f_Signal();
	});
	pThread.reset();
	EXPECT_EQ(Script.m_nFinished, 1);
	Opener.join();
}

TEST(Thread, StopWithWaitFromOwnBodyDoesNotDeadlock)
{
	CBodyScript Script;
	Script.m_Mode = CBodyScript::EMode::StopSelfWithWait;
	Script.m_NextReturnValue = 9;
	CTestThread Thread(Script);
	Thread.f_Start();
	ASSERT_TRUE(gf_WaitUntil([&] { return Thread.f_GetState() == EThreadState::Stopped; }));
	EXPECT_EQ(Script.m_SelfStopResult, 0);
	EXPECT_EQ(Thread.f_GetReturnValue(), 9);
}

TEST(Thread, PriorityOutsideTheScaleStillStarts)
{
	for (NZel::uint32 Priority : {0u, 0x1FFFu, 0xFFFFu, 0x10000u, 0xFFFFFFFFu})
	{
		CBodyScript Script;
		Script.m_NextReturnValue = int32(Priority & 0x7FFF);
		CTestThread Thread(Script);
		Thread.f_Start(Priority);
		ASSERT_TRUE(gf_WaitUntil([&] { return Thread.f_GetState() == EThreadState::Stopped; }));
		EXPECT_EQ(Thread.f_GetReturnValue(), int32(Priority & 0x7FFF));
	}
}
