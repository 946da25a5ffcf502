#include "zel/library/core/general/Zel_Lock.h"
#include "zel/library/core/runtime/Zel_Sys_Thread.h"

#include "tests/zel/Thread_TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using NZel::NThread::CLock;
using NZel::NThread::CLockGuard;
using NZel::NThread::CLockUnguard;
using NZelTest::gc_SettleTime;
using NZelTest::gf_WaitUntil;

namespace
{
	bool gf_TryLockFromOtherThread(CLock &Lock)
	{
		bool bGot = false;
		std::thread Other([&] {
			bGot = Lock.f_TryLock();
			if (bGot)
				Lock.f_Unlock();
		});
		Other.join();
		return bGot;
	}
}

TEST(Lock, FreshLockIsFreeAndHasNoSemaphore)
{
	CLock Lock;
	EXPECT_EQ(Lock.f_GetWaiterCount(), 0);
	EXPECT_FALSE(Lock.f_HasSemaphore());
	EXPECT_TRUE(gf_TryLockFromOtherThread(Lock));
}

TEST(Lock, UncontendedUseNeverCreatesSemaphore)
{
	auto const Before = NZel::NSys::gf_Semaphore_GetCreatedCountOnThisThread();
	CLock Lock;
	for (int i = 0; i < 1000; ++i)
	{
		Lock.f_Lock();
		Lock.f_Lock();
		Lock.f_Unlock();
		Lock.f_Unlock();
	}
	EXPECT_FALSE(Lock.f_HasSemaphore());
	EXPECT_EQ(NZel::NSys::gf_Semaphore_GetCreatedCountOnThisThread(), Before);
	EXPECT_EQ(Lock.f_GetWaiterCount(), 0);
}

TEST(Lock, ThreeDeepRecursionIsReleasedOnlyByThirdUnlock)
{
	CLock Lock;
	Lock.f_Lock();
	Lock.f_Lock();
	Lock.f_Lock();
	EXPECT_EQ(Lock.f_GetWaiterCount(), 1); // the holder counts once, whatever its depth

	std::atomic<bool> bAcquired{false};
	std::thread Other([&] {
		Lock.f_Lock();
		bAcquired = true;
		Lock.f_Unlock();
	});
	EXPECT_TRUE(gf_WaitUntil([&] { return Lock.f_GetWaiterCount() == 2; }));

	Lock.f_Unlock();
	std::this_thread::sleep_for(gc_SettleTime);
	EXPECT_FALSE(bAcquired);
	Lock.f_Unlock();
	std::this_thread::sleep_for(gc_SettleTime);
	EXPECT_FALSE(bAcquired);

	Lock.f_Unlock();
	EXPECT_TRUE(gf_WaitUntil([&] { return bAcquired.load(); }));
	Other.join();
	EXPECT_EQ(Lock.f_GetWaiterCount(), 0);
	EXPECT_TRUE(gf_TryLockFromOtherThread(Lock));
}

TEST(Lock, TryLockFailsWhileAnotherThreadHoldsIt)
{
	CLock Lock;
	Lock.f_Lock();
	EXPECT_FALSE(gf_TryLockFromOtherThread(Lock));
	EXPECT_TRUE(Lock.f_TryLock()); // recursive for the holder
	Lock.f_Unlock();
	EXPECT_FALSE(gf_TryLockFromOtherThread(Lock));
	Lock.f_Unlock();
	EXPECT_TRUE(gf_TryLockFromOtherThread(Lock));
}

// Threads arrive together at a fresh lock that is held: all find no semaphore and race to
// make it. Repeated, so the race is really run; exactly one semaphore per lock each time. Each
// contender counts what it made itself, so other threads of the process (the heap's own lock,
// say) cannot disturb the count.
TEST(Lock, ContendingOnFreshLockCreatesExactlyOneSemaphore)
{
	constexpr int c_nContenders = 4;
	for (int Round = 0; Round < 100; ++Round)
	{
		CLock Lock;
		int Counter = 0;
		Lock.f_Lock();

		std::atomic<int> nReady{0};
		std::atomic<int> nDone{0};
		std::atomic<uint32_t> nMade{0};
		std::atomic<bool> bGo{false};
		auto fContender = [&] {
			++nReady;
			while (!bGo)
			{
			}
			auto const Before = NZel::NSys::gf_Semaphore_GetCreatedCountOnThisThread();
			Lock.f_Lock();
			nMade += NZel::NSys::gf_Semaphore_GetCreatedCountOnThisThread() - Before;
			++Counter;
			Lock.f_Unlock();
			++nDone;
		};
		std::vector<std::thread> Contenders;
		for (int i = 0; i < c_nContenders; ++i)
			Contenders.emplace_back(fContender);
		ASSERT_TRUE(gf_WaitUntil([&] { return nReady == c_nContenders; }));
		bGo = true;
		bool const bAllWaiting = gf_WaitUntil([&] { return Lock.f_GetWaiterCount() == c_nContenders + 1 && Lock.f_HasSemaphore(); });
		// With a semaphore per waiter the hand-over below would wake the wrong one and the
		// joins would never return, so a missing semaphore is reported before the release.
		EXPECT_TRUE(bAllWaiting) << "round " << Round;
		Lock.f_Unlock();
		bool const bAllDone = gf_WaitUntil([&] { return nDone == c_nContenders; });
		for (auto &Contender : Contenders)
			Contender.join();

		ASSERT_TRUE(bAllWaiting);
		ASSERT_TRUE(bAllDone);
		EXPECT_EQ(Counter, c_nContenders);
		ASSERT_EQ(nMade.load(), 1u) << "round " << Round;
		EXPECT_EQ(Lock.f_GetWaiterCount(), 0);
	}
}

TEST(Lock, ExcludesUnderHeavyContention)
{
	CLock Lock;
	long Counter = 0;
	int InsideNow = 0;
	std::atomic<bool> bOverlap{false};
	constexpr int c_nThreads = 4;
	constexpr int c_nIterations = 5000;

	std::vector<std::thread> Threads;
	for (int t = 0; t < c_nThreads; ++t)
	{
		Threads.emplace_back([&] {
			for (int i = 0; i < c_nIterations; ++i)
			{
				CLockGuard Guard(Lock);
				if (++InsideNow != 1)
					bOverlap = true;
				++Counter;
				if (i % 7 == 0)
				{
					CLockGuard Again(Lock); // recursion inside contention
					++Counter;
				}
				--InsideNow;
			}
		});
	}
	for (auto &Thread : Threads)
		Thread.join();

	long const PerThread = c_nIterations + (c_nIterations + 6) / 7;
	EXPECT_EQ(Counter, c_nThreads * PerThread);
	EXPECT_FALSE(bOverlap);
	EXPECT_EQ(Lock.f_GetWaiterCount(), 0);
}

TEST(Lock, GuardReleasesAtScopeEndAndUnguardReleasesOnce)
{
	CLock Lock;
	{
		CLockGuard Outer(Lock);
		CLockGuard Inner(Lock);
		EXPECT_FALSE(gf_TryLockFromOtherThread(Lock));
		{
			CLockUnguard Unguard(Lock); // depth 2 -> 1: still held
			EXPECT_FALSE(gf_TryLockFromOtherThread(Lock));
		}
		EXPECT_FALSE(gf_TryLockFromOtherThread(Lock));
	}
	EXPECT_TRUE(gf_TryLockFromOtherThread(Lock));

	Lock.f_Lock();
	{
		CLockUnguard Unguard(Lock); // depth 1 -> 0: free while in scope
		EXPECT_TRUE(gf_TryLockFromOtherThread(Lock));
	}
	EXPECT_FALSE(gf_TryLockFromOtherThread(Lock));
	Lock.f_Unlock();
}

TEST(Lock, UnguardTakesLockBackWhenExceptionLeavesScope)
{
	CLock Lock;
	Lock.f_Lock();
	try
	{
		CLockUnguard Unguard(Lock);
		throw 1;
	}
	catch (int)
	{
	}
	EXPECT_FALSE(gf_TryLockFromOtherThread(Lock));
	Lock.f_Unlock();
	EXPECT_TRUE(gf_TryLockFromOtherThread(Lock));
}
