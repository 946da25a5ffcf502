#include "zel/library/core/general/Zel_Memory.h"
#include "tests/zel/StrTestSupport.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace NZel;
using NZel::NMemory::CAllocator_Heap;

namespace
{
	// Frees everything the calling thread keeps aside, so that each case starts from nothing.
	void fg_EmptyKeptBlocks()
	{
		for (umint Size = 16; Size <= 256; Size += 16)
			CAllocator_Heap::f_Free(CAllocator_Heap::f_Alloc(Size));
		ASSERT_EQ(CAllocator_Heap::fs_GetKeptBlockCount(), 0);
	}
}

TEST(AllocatorKeptBlocks, ASizedFreeKeepsTheBlockForTheNextAllocationThatFits)
{
	struct
	{
		umint FreedSize; // what the block is known to hold when it is freed
		bool bKept;
		umint AskedSize; // the next allocation
		bool bServes;    // whether it gets the kept block
	} const Cases[] = {
		{16, true, 16, true},
		{16, true, 1, true},
		{16, true, 0, true},
		{32, true, 17, true},
		{32, true, 32, true},
		{47, true, 32, true},   // a block known to hold 47 bytes serves requests up to 32
		{47, true, 33, false},  // but not 33
		{32, true, 48, false},
		{64, true, 32, false},  // no larger block for a smaller request: each step keeps its own
		{256, true, 256, true},
		{271, true, 256, true},
		{272, false, 272, false}, // beyond the largest step nothing is kept
		{1000, false, 1000, false},
		{15, false, 15, false},  // too small to be known to hold a step
		{0, false, 16, false},   // unknown size
	};
	for (auto const &Case : Cases)
	{
		fg_EmptyKeptBlocks();
		void *p = CAllocator_Heap::f_Alloc(Case.FreedSize < 16 ? 16 : Case.FreedSize);
		ASSERT_NE(p, nullptr);
		int64 Live = CAllocator_Heap::fs_GetLiveBlockCount();
		CAllocator_Heap::f_Free(p, Case.FreedSize);
		EXPECT_EQ(CAllocator_Heap::fs_GetLiveBlockCount(), Live - 1) << "a kept block is freed for the caller";
		EXPECT_EQ(CAllocator_Heap::fs_GetKeptBlockCount(), Case.bKept ? 1 : 0) << "freed as " << Case.FreedSize;
		void *q = CAllocator_Heap::f_Alloc(Case.AskedSize);
		ASSERT_NE(q, nullptr);
		if (Case.bKept)
		{
			EXPECT_EQ(q == p, Case.bServes) << "freed as " << Case.FreedSize << ", asked for " << Case.AskedSize;
		}
		EXPECT_GE(CAllocator_Heap::f_GetSize(q), Case.AskedSize);
		CAllocator_Heap::f_Free(q);
	}
}

TEST(AllocatorKeptBlocks, OneBlockPerStepAndNothingFromAnUnsizedFree)
{
	fg_EmptyKeptBlocks();
	void *pFirst = CAllocator_Heap::f_Alloc(32);
	void *pSecond = CAllocator_Heap::f_Alloc(32);
	CAllocator_Heap::f_Free(pFirst, 32);
	CAllocator_Heap::f_Free(pSecond, 32); // the step is taken: this one goes to the heap
	EXPECT_EQ(CAllocator_Heap::fs_GetKeptBlockCount(), 1);
	void *pAgain = CAllocator_Heap::f_Alloc(32);
	EXPECT_EQ(pAgain, pFirst);
	CAllocator_Heap::f_Free(pAgain);
	EXPECT_EQ(CAllocator_Heap::fs_GetKeptBlockCount(), 0) << "the unsized free keeps nothing";
}

#ifndef _WIN32
// A block freed twice while the first free keeps it is still heap corruption, as it is for
// blocks that go straight back to the heap.
TEST(AllocatorKeptBlocksDeathTest, ASizedBlockFreedTwiceIsHeapCorruption)
{
	GTEST_FLAG_SET(death_test_style, "threadsafe");
	EXPECT_DEATH(
		{
			fg_EmptyKeptBlocks();
			void *p = CAllocator_Heap::f_Alloc(40);
			CAllocator_Heap::f_Free(p, 40);
			CAllocator_Heap::f_Free(p, 40);
		},
		"heap corruption: 0x[0-9a-f]+ is not a live block");
}
#endif

TEST(AllocatorKeptBlocks, RefusedAllocationsAreRefusedEvenWithABlockKept)
{
	fg_EmptyKeptBlocks();
	CAllocator_Heap::f_Free(CAllocator_Heap::f_Alloc(48), 48);
	ASSERT_EQ(CAllocator_Heap::fs_GetKeptBlockCount(), 1);
	{
		NZelTest::CHeapFailureScope NoHeap(0);
		EXPECT_EQ(CAllocator_Heap::f_Alloc(48), nullptr);
	}
	{
		NZelTest::CHeapFailureScope Limit(-1, 40);
		EXPECT_EQ(CAllocator_Heap::f_Alloc(48), nullptr);
	}
	uint64 Count = CAllocator_Heap::fs_GetAllocationCount();
	void *p = CAllocator_Heap::f_Alloc(48);
	EXPECT_NE(p, nullptr);
	EXPECT_EQ(CAllocator_Heap::fs_GetAllocationCount(), Count + 1) << "a kept block counts as an allocation";
	CAllocator_Heap::f_Free(p);
}

TEST(AllocatorKeptBlocks, AThreadThatEndsGivesItsKeptBlocksBack)
{
	uint64 const Before = CAllocator_Heap::fs_GetKeptReleasedCount();
	int32 KeptInThread = 0;
	std::thread Thread([&]
		{
			for (umint Size : {16u, 64u, 200u})
				CAllocator_Heap::f_Free(CAllocator_Heap::f_Alloc(Size), Size);
			KeptInThread = CAllocator_Heap::fs_GetKeptBlockCount();
		});
	Thread.join();
	EXPECT_EQ(KeptInThread, 3);
	EXPECT_EQ(CAllocator_Heap::fs_GetKeptReleasedCount() - Before, 3u);
}

TEST(AllocatorKeptBlocks, BlocksMovingBetweenThreadsAreNeverHandedOutTwice)
{
	// Each thread allocates, stamps and frees with sizes of every step, taking blocks the
	// others freed into the heap; a block handed to two holders at once shows as a changed
	// stamp.
	constexpr int c_Threads = 4;
	std::vector<std::thread> Threads;
	std::vector<int> Clashes(c_Threads, 0);
	for (int t = 0; t < c_Threads; ++t)
	{
		Threads.emplace_back([t, &Clashes]
			{
				std::vector<std::pair<unsigned char *, umint>> Held;
				for (int i = 0; i < 20000; ++i)
				{
					umint Size = umint(16 * (1 + (i * 7 + t) % 16));
					auto *p = static_cast<unsigned char *>(CAllocator_Heap::f_Alloc(Size));
					if (!p)
						continue;
					for (umint b = 0; b < Size; ++b)
						p[b] = static_cast<unsigned char>(t + 1);
					Held.emplace_back(p, Size);
					if (Held.size() > 8 || i % 3 == 0)
					{
						auto [q, QSize] = Held.front();
						Held.erase(Held.begin());
						for (umint b = 0; b < QSize; ++b)
							Clashes[umint(t)] += q[b] != static_cast<unsigned char>(t + 1);
						CAllocator_Heap::f_Free(q, QSize);
					}
				}
				for (auto [q, QSize] : Held)
					CAllocator_Heap::f_Free(q, QSize);
			});
	}
	for (auto &Thread : Threads)
		Thread.join();
	for (int t = 0; t < c_Threads; ++t)
		EXPECT_EQ(Clashes[umint(t)], 0) << "thread " << t;
}
