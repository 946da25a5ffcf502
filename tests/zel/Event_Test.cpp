#include "zel/library/core/general/Zel_Event.h"
#include "zel/library/core/general/Zel_System.h"

#include "tests/zel/Thread_TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using NZel::NThread::CEventAutoResetAggregate;
using NZel::NThread::CLock;
using NZel::NThread::CLockGuard;
using NZel::NThread::TMutual;

namespace
{
	// Consumes a pending signal if there is one.
	bool gf_IsSignalled(CEventAutoResetAggregate &Event)
	{
		return Event.f_WaitTimeout(0);
	}

	int gf_GetLinksInUse()
	{
		return NZel::gf_GetSystem().f_GetEventLinkPool().f_GetInUseCount();
	}
}

TEST(Event, FreshEventIsNotSignalled)
{
	CEventAutoResetAggregate Event;
	EXPECT_FALSE(Event.f_WaitTimeout(10));
}

TEST(Event, RepeatedSignalsCollapseIntoOneWait)
{
	CEventAutoResetAggregate Event;
	Event.f_Signal();
	Event.f_Signal();
	Event.f_Signal();
	EXPECT_TRUE(Event.f_WaitTimeout(0));
	EXPECT_FALSE(Event.f_WaitTimeout(20));
	Event.f_Signal();
	Event.f_Wait(); // a new signal after the wait is pending again
	EXPECT_FALSE(gf_IsSignalled(Event));
}

TEST(Event, WaitBlocksUntilAnotherThreadSignals)
{
	CEventAutoResetAggregate Event;
	std::atomic<bool> bWoke{false};
	std::thread Waiter([&] {
		Event.f_Wait();
		bWoke = true;
	});
	std::this_thread::sleep_for(NZelTest::gc_SettleTime);
	EXPECT_FALSE(bWoke);
	Event.f_Signal();
	EXPECT_TRUE(NZelTest::gf_WaitUntil([&] { return bWoke.load(); }));
	Waiter.join();
}

TEST(Event, SignalsForwardAlongAChainOfLinks)
{
	int const Baseline = gf_GetLinksInUse();
	CEventAutoResetAggregate First, Second, Third;
	First.f_Link(Second);
	Second.f_Link(Third);
	EXPECT_EQ(gf_GetLinksInUse(), Baseline + 2);

	First.f_Signal();
	EXPECT_TRUE(gf_IsSignalled(First));
	EXPECT_TRUE(gf_IsSignalled(Second));
	EXPECT_TRUE(gf_IsSignalled(Third));

	// Forwarding goes downstream only.
	Third.f_Signal();
	EXPECT_FALSE(gf_IsSignalled(First));
	EXPECT_FALSE(gf_IsSignalled(Second));
	EXPECT_TRUE(gf_IsSignalled(Third));

	Second.f_Signal();
	EXPECT_FALSE(gf_IsSignalled(First));
	EXPECT_TRUE(gf_IsSignalled(Second));
	EXPECT_TRUE(gf_IsSignalled(Third));
}

TEST(Event, OneSourceForwardsToEveryTarget)
{
	CEventAutoResetAggregate Source, A, B;
	Source.f_Link(A);
	Source.f_Link(B);
	Source.f_Signal();
	EXPECT_TRUE(gf_IsSignalled(A));
	EXPECT_TRUE(gf_IsSignalled(B));
}

TEST(Event, UnlinkOfSourceStopsForwarding)
{
	int const Baseline = gf_GetLinksInUse();
	CEventAutoResetAggregate Source, Target, Downstream;
	Source.f_Link(Target);
	Target.f_Link(Downstream);
	Source.f_Unlink();
	EXPECT_EQ(gf_GetLinksInUse(), Baseline + 1);

	Source.f_Signal();
	EXPECT_TRUE(gf_IsSignalled(Source));
	EXPECT_FALSE(gf_IsSignalled(Target));
	EXPECT_FALSE(gf_IsSignalled(Downstream));

	// The target's own outgoing link was not the source's to remove.
	Target.f_Signal();
	EXPECT_TRUE(gf_IsSignalled(Downstream));
}

TEST(Event, UnlinkOfTargetRemovesIncomingAndOutgoingLinks)
{
	int const Baseline = gf_GetLinksInUse();
	CEventAutoResetAggregate Source, Middle, Downstream;
	Source.f_Link(Middle);
	Middle.f_Link(Downstream);
	Middle.f_Unlink();
	EXPECT_EQ(gf_GetLinksInUse(), Baseline);

	Source.f_Signal();
	EXPECT_FALSE(gf_IsSignalled(Middle));
	Middle.f_Signal();
	EXPECT_FALSE(gf_IsSignalled(Downstream));

	// Links can be made again after an unlink.
	Source.f_Link(Middle);
	Source.f_Signal();
	EXPECT_TRUE(gf_IsSignalled(Middle));
}

TEST(Event, DestroyingALinkedEventUnlinksIt)
{
	int const Baseline = gf_GetLinksInUse();
	CEventAutoResetAggregate Source;
	{
		CEventAutoResetAggregate Target;
		Source.f_Link(Target);
		auto pUpstream = std::make_unique<CEventAutoResetAggregate>();
		pUpstream->f_Link(Target);
		EXPECT_EQ(gf_GetLinksInUse(), Baseline + 2);
	}
	EXPECT_EQ(gf_GetLinksInUse(), Baseline);
	Source.f_Signal(); // must not reach the destroyed target
	EXPECT_TRUE(gf_IsSignalled(Source));
}

TEST(Event, CycleOfLinksSignalsEachEventOnceAndEnds)
{
	CEventAutoResetAggregate A, B, C;
	A.f_Link(B);
	B.f_Link(C);
	C.f_Link(A);
	A.f_Link(A);
	B.f_Signal();
	EXPECT_TRUE(gf_IsSignalled(A));
	EXPECT_TRUE(gf_IsSignalled(B));
	EXPECT_TRUE(gf_IsSignalled(C));
}

TEST(Event, LinkedSignalWakesWaiterOnTarget)
{
	CEventAutoResetAggregate Wake, Own;
	Wake.f_Link(Own);
	std::atomic<bool> bWoke{false};
	std::thread Waiter([&] {
		Own.f_Wait();
		bWoke = true;
	});
	Wake.f_Signal();
	EXPECT_TRUE(NZelTest::gf_WaitUntil([&] { return bWoke.load(); }));
	Waiter.join();
}

// Linking, unlinking and signalling from several threads at once must neither deadlock nor
// lose the structure; the race checker build looks at the same run.
TEST(Event, ConcurrentSignalLinkAndUnlink)
{
	int const Baseline = gf_GetLinksInUse();
	CEventAutoResetAggregate Source, Target, Downstream;
	Target.f_Link(Downstream);
	std::atomic<bool> bStop{false};

	std::thread Signaller([&] {
		while (!bStop)
		{
			Source.f_Signal();
			Target.f_Signal();
		}
	});
	std::thread Linker([&] {
		for (int i = 0; i < 300; ++i)
		{
			Source.f_Link(Target);
			Target.f_Unlink();
			Target.f_Link(Downstream);
		}
	});
	std::thread Unlinker([&] {
		for (int i = 0; i < 300; ++i)
		{
			Downstream.f_Unlink();
			Source.f_Unlink();
		}
	});
	Linker.join();
	Unlinker.join();
	bStop = true;
	Signaller.join();

	Source.f_Unlink();
	Target.f_Unlink();
	Downstream.f_Unlink();
	EXPECT_EQ(gf_GetLinksInUse(), Baseline);
}

TEST(Event, MutualIsBothLockAndEvent)
{
	TMutual<CEventAutoResetAggregate, CLock> Mutual;
	{
		CLockGuard Guard(Mutual);
		EXPECT_EQ(Mutual.f_GetLock().f_GetWaiterCount(), 1);
		Mutual.f_Signal();
	}
	EXPECT_EQ(Mutual.f_GetLock().f_GetWaiterCount(), 0);
	EXPECT_TRUE(Mutual.f_WaitTimeout(0));
	EXPECT_FALSE(Mutual.f_GetEvent().f_WaitTimeout(0));
}
