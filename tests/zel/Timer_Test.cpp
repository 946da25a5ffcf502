#include "zel/library/core/general/Zel_Timer.h"

#include "tests/zel/Clock_TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace NZel;
using namespace NZel::NTime;
using NClockTest::CFakeClockSource;
using NZel::NThread::CEventAutoResetAggregate;

namespace
{
	// Wakes the timer thread so that it looks at the (fake) counter again: adding a timer
	// signals the context.
	void gf_Poke(CTimerContext &Context)
	{
		CEventAutoResetAggregate Dummy;
		Context.f_RemoveTimer(Context.f_AddTimer(Dummy, 1000.0));
	}
}

TEST(Timer, FirstTimerStartsTheThreadAndFiresPeriodically)
{
	CTimerContext Context(gf_GetClock());
	EXPECT_EQ(Context.f_GetTimerCount(), 0u);
	CEventAutoResetAggregate First;
	CEventAutoResetAggregate Second;
	CTimerContext::CTimer *pFirst = Context.f_AddTimer(First, 0.05);
	// A second timer only signals the running thread (starting it again would throw).
	CTimerContext::CTimer *pSecond = Context.f_AddTimer(Second, 0.08);
	EXPECT_EQ(Context.f_GetTimerCount(), 2u);

	auto Start = std::chrono::steady_clock::now();
	int nFirst = 0;
	while (nFirst < 5)
	{
		ASSERT_TRUE(First.f_WaitTimeout(5000)) << "after " << nFirst << " signals";
		++nFirst;
	}
	double Elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
	EXPECT_GE(Elapsed, 0.2); // five periods of 0.05 s cannot all come at once
	EXPECT_TRUE(Second.f_WaitTimeout(5000));

	Context.f_RemoveTimer(pFirst);
	EXPECT_EQ(Context.f_GetTimerCount(), 1u);
	First.f_WaitTimeout(0); // a signal given just before the removal
	EXPECT_FALSE(First.f_WaitTimeout(300));
	Context.f_RemoveTimer(pSecond);
	Context.f_RemoveTimer(pSecond); // removing twice is harmless
	Context.f_RemoveTimer(nullptr);
	EXPECT_EQ(Context.f_GetTimerCount(), 0u);
}

TEST(Timer, HeldUpTimerFiresOnceAndIsDueOnePeriodLater)
{
	CFakeClockSource Source;
	CClock Clock(Source);
	CTimerContext Context(Clock);
	CEventAutoResetAggregate Event;
	Context.f_AddTimer(Event, 1.0); // due at counter 6000

	Source.m_Counter = 5999;
	gf_Poke(Context);
	EXPECT_FALSE(Event.f_WaitTimeout(300));

	// Held up for five and a half periods: fires once now ...
	Source.m_Counter = 11500;
	gf_Poke(Context);
	EXPECT_TRUE(Event.f_WaitTimeout(5000));
	// ... and the missed periods (7000 .. 11000) are not caught up: next due at 12500.
	Source.m_Counter = 12499;
	gf_Poke(Context);
	EXPECT_FALSE(Event.f_WaitTimeout(300));
	Source.m_Counter = 12500;
	gf_Poke(Context);
	EXPECT_TRUE(Event.f_WaitTimeout(5000));
}

TEST(Timer, TimersWithEqualDueTimesAllFire)
{
	CFakeClockSource Source;
	CClock Clock(Source);
	CTimerContext Context(Clock);
	CEventAutoResetAggregate A;
	CEventAutoResetAggregate B;
	Context.f_AddTimer(A, 2.0);
	Context.f_AddTimer(B, 2.0);
	Source.m_Counter = 7000;
	gf_Poke(Context);
	EXPECT_TRUE(A.f_WaitTimeout(5000));
	EXPECT_TRUE(B.f_WaitTimeout(5000));
	EXPECT_EQ(Context.f_GetTimerCount(), 2u);
}

TEST(Timer, StoppingTheContextEndsItsThread)
{
	CTimerContext Context(gf_GetClock());
	CEventAutoResetAggregate Event;
	Context.f_AddTimer(Event, 100.0); // the thread now waits for a long time
	auto Start = std::chrono::steady_clock::now();
	EXPECT_EQ(Context.f_Stop(true), 0);
	double Elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
	EXPECT_LT(Elapsed, 5.0);
	EXPECT_EQ(Context.f_GetThreadName(), NStr::CStr("Zel_System_TimerContext"));
}
