// The small-object heap as an object of its own (over the platform's virtual memory).
#include "tests/zel/Heap_TestSupport.h"

#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/runtime/Zel_Sys_Memory.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace NHeapTest;
using NZel::NMemory::CChunk;

namespace
{
	constexpr umint gc_Step = 0x400000;

	struct CClassRow
	{
		umint m_Request;
		umint m_Usable; // block size minus the class's header
	};

	TEST(Heap, RequestsLandInTheirClassWithTheirBlockSize)
	{
		CClassRow const Rows[] = {
			{0, 14},            // a 16-byte block of the 8-bit class
			{1, 14},
			{14, 14},
			{15, 30},           // 17 bytes with the header: 32
			{50, 62},           // 64
			{2014, 2014},       // 8-bit class, block 2016
			{2015, 2028},       // 16-bit class, block 2032
			{524252, 524252},   // 16-bit class, block 524256
			{524253, 524264},   // large class, block 524272
			{3000000, 3000008}, // large class, over one chunk step
		};
		auto pHeap = gf_MakeHeap();
		for (CClassRow const &Row : Rows)
		{
			void *p = pHeap->f_Alloc(Row.m_Request);
			ASSERT_NE(p, nullptr) << Row.m_Request;
			EXPECT_EQ(umint(p) % 16, 0u) << Row.m_Request;
			EXPECT_EQ(pHeap->f_GetUsableSize(p), Row.m_Usable) << Row.m_Request;
			gf_Fill(p, Row.m_Request, 1);
			EXPECT_TRUE(gf_HeapIsSound(*pHeap)) << Row.m_Request;
			pHeap->f_Free(p);
		}
		EXPECT_TRUE(gf_HeapIsSound(*pHeap));
	}

	TEST(Heap, SmallBlocksComeBackFromTheQuickListWithoutMerging)
	{
		auto pHeap = gf_MakeHeap();
		void *pBefore = pHeap->f_Alloc(64);
		void *p = pHeap->f_Alloc(62); // a 64-byte block
		void *pAfter = pHeap->f_Alloc(64);
		pHeap->f_Free(p);
		EXPECT_EQ(pHeap->f_Alloc(50), p);
		// A request of another block size does not take it.
		pHeap->f_Free(p);
		void *pOther = pHeap->f_Alloc(40);
		EXPECT_NE(pOther, p);
		EXPECT_EQ(pHeap->f_Alloc(60), p);
		for (void *q : {pBefore, p, pAfter, pOther})
			pHeap->f_Free(q);
		EXPECT_TRUE(gf_HeapIsSound(*pHeap));
	}

	// Which freed blocks are cached: blocks up to 80 bytes (a 64-byte request's) wait in their
	// quick list, so a smaller request does not split them; larger ones go to the exact lists,
	// where the smallest request takes them first.
	TEST(Heap, QuickListsCacheBlocksUpTo80Bytes)
	{
		struct CRow
		{
			umint m_Request;
			bool m_bQuick;
		} const Rows[] = {{30, true}, {46, true}, {62, true}, {64, true}, {78, true}, {79, false}, {94, false}};
		for (CRow const &Row : Rows)
		{
			auto pHeap = gf_MakeHeap();
			void *pBefore = pHeap->f_Alloc(200);
			void *p = pHeap->f_Alloc(Row.m_Request);
			void *pAfter = pHeap->f_Alloc(200);
			pHeap->f_Free(p);
			void *pSmall = pHeap->f_Alloc(14);
			EXPECT_EQ(pSmall == p, !Row.m_bQuick) << Row.m_Request;
			if (Row.m_bQuick)
			{
				EXPECT_EQ(pHeap->f_Alloc(Row.m_Request), p) << Row.m_Request;
			}
			EXPECT_TRUE(gf_HeapIsSound(*pHeap)) << Row.m_Request;
			for (void *q : {pBefore, pSmall, pAfter})
				pHeap->f_Free(q);
			if (Row.m_bQuick)
				pHeap->f_Free(p);
			EXPECT_TRUE(gf_HeapIsSound(*pHeap)) << Row.m_Request;
		}
	}

	TEST(Heap, RequestAbove256BytesEmptiesTheQuickListsFirst)
	{
		auto pHeap = gf_MakeHeap();
		std::vector<void *> Run;
		for (int i = 0; i < 10; ++i)
			Run.push_back(pHeap->f_Alloc(30)); // ten adjacent 32-byte blocks: 320 bytes
		void *pGuard = pHeap->f_Alloc(100);
		for (void *p : Run)
			pHeap->f_Free(p);
		// 208 bytes: no flush, so the cached blocks stay where they are.
		void *pMedium = pHeap->f_Alloc(200);
		EXPECT_NE(pMedium, Run[0]);
		EXPECT_EQ(pHeap->f_Alloc(30), Run[9]); // still quick-listed (last freed, first out)
		pHeap->f_Free(Run[9]);
		// 304 bytes: the quick lists are given back and merge into the 320-byte run.
		void *pLarge = pHeap->f_Alloc(300);
		EXPECT_EQ(pLarge, Run[0]);
		EXPECT_TRUE(gf_HeapIsSound(*pHeap));
		for (void *p : {pGuard, pMedium, pLarge})
			pHeap->f_Free(p);
		EXPECT_TRUE(gf_HeapIsSound(*pHeap));
	}

	// Keeps the address space right above and below a chunk taken, so that the heap cannot
	// grow that chunk and must make another.
	struct CFence
	{
		std::vector<std::pair<void *, umint>> m_Reservations;
		void f_Around(CChunk const &Chunk)
		{
			umint Granularity = NZel::NSys::gf_Mem_GetInfo().m_Granularity;
			for (umint Address : {Chunk.m_Base - Granularity, Chunk.f_End()})
			{
				void *p = NZel::NSys::AllocVirtualMemory(Granularity, Address, NZel::NSys::EMemAllocation::Reserve);
				m_Reservations.emplace_back(p, Granularity);
			}
		}
		~CFence()
		{
			for (auto &Reservation : m_Reservations)
				NZel::NSys::gf_Mem_VirtualFree(Reservation.first, Reservation.second, 0);
		}
	};

	std::vector<void *> fg_FillPastOneStep(CProcessHeap &Heap, umint Request)
	{
		std::vector<void *> Blocks;
		umint Total = 0;
		while (Total < gc_Step + gc_Step / 2)
		{
			Blocks.push_back(Heap.f_Alloc(Request));
			Total += Request;
		}
		return Blocks;
	}

	TEST(Heap, EmptiedChunkShrinksToItsFirstReservationAndStaysAsTheSpare)
	{
		auto pHeap = gf_MakeHeap();
		std::vector<void *> Blocks = fg_FillPastOneStep(*pHeap, 1000);
		EXPECT_GE(pHeap->f_GetReservedBytes(), 2 * gc_Step);
		EXPECT_TRUE(gf_HeapIsSound(*pHeap));
		for (void *p : Blocks)
			pHeap->f_Free(p);
		EXPECT_TRUE(gf_HeapIsSound(*pHeap));
		EXPECT_EQ(pHeap->f_GetChunkCount(), 1u);
		EXPECT_EQ(pHeap->f_GetReservedBytes(), gc_Step);
		// The spare still serves allocations.
		void *p = pHeap->f_Alloc(1000);
		EXPECT_EQ(pHeap->f_GetReservedBytes(), gc_Step);
		pHeap->f_Free(p);
	}

	TEST(Heap, SecondEmptiedChunkIsReleasedWhileTheSpareIsEmpty)
	{
		auto pHeap = gf_MakeHeap();
		void *pFirst = pHeap->f_Alloc(1000);
		CFence Fence;
		Fence.f_Around(*pHeap->f_FindChunk(pFirst));
		std::vector<void *> Blocks = fg_FillPastOneStep(*pHeap, 1000);
		ASSERT_EQ(pHeap->f_GetChunkCount(), 2u);
		CChunk const *pFirstChunk = pHeap->f_FindChunk(pFirst);
		// Empty the first chunk: it becomes the spare.
		pHeap->f_Free(pFirst);
		Blocks.erase(std::remove_if(Blocks.begin(), Blocks.end(),
						 [&](void *p) {
							 if (pHeap->f_FindChunk(p) != pFirstChunk)
								 return false;
							 pHeap->f_Free(p);
							 return true;
						 }),
			Blocks.end());
		EXPECT_EQ(pHeap->f_GetChunkCount(), 2u);
		// Emptying the other one while the spare is empty gives it back whole.
		for (void *p : Blocks)
			pHeap->f_Free(p);
		EXPECT_EQ(pHeap->f_GetChunkCount(), 1u);
		EXPECT_EQ(pHeap->f_GetReservedBytes(), gc_Step);
		EXPECT_TRUE(gf_HeapIsSound(*pHeap));
	}

	TEST(Heap, FreeingDecommitsWholePagesAndCarvingCommitsThemAgain)
	{
		auto pHeap = gf_MakeHeap();
		std::vector<void *> Blocks = fg_FillPastOneStep(*pHeap, 1000);
		umint Live = Blocks.size() * 1008;
		umint CommittedFull = pHeap->f_GetCommittedBytes();
		EXPECT_GE(CommittedFull, Live);
		EXPECT_LE(CommittedFull, Live + 4 * 0x10000 + 0x40000);
		// Free every other block: no whole page falls free.
		for (size_t i = 0; i < Blocks.size(); i += 2)
			pHeap->f_Free(Blocks[i]);
		EXPECT_GE(pHeap->f_GetCommittedBytes(), Live - 0x10000);
		for (size_t i = 1; i < Blocks.size(); i += 2)
			pHeap->f_Free(Blocks[i]);
		umint CommittedEmpty = pHeap->f_GetCommittedBytes();
		// Only the commit runs around the spare chunk's markers stay, and the slack kept at the
		// front of the free block where carving goes on.
		EXPECT_LE(CommittedEmpty, umint(2 * 0x10000 + 0x40000));
		EXPECT_EQ(pHeap->f_GetReservedBytes(), gc_Step);
		std::printf("1000-byte blocks: %zu live bytes, %zu committed; all freed: %zu committed, %zu reserved\n",
			size_t(Live), size_t(CommittedFull), size_t(CommittedEmpty), size_t(pHeap->f_GetReservedBytes()));
		// Carving again touches only committed pages (a decommitted page would fault here).
		std::vector<void *> Again = fg_FillPastOneStep(*pHeap, 3000);
		for (void *p : Again)
			gf_Fill(p, 3000, 2);
		for (void *p : Again)
			pHeap->f_Free(p);
		EXPECT_TRUE(gf_HeapIsSound(*pHeap));
	}

	// A hole between live blocks keeps the first 256 KiB after its front committed (the next
	// blocks carved there do not fault pages in again) and gives back whole runs beyond it.
	TEST(Heap, HoleBetweenLiveBlocksKeepsItsSlackAndDecommitsTheRest)
	{
		struct CRow
		{
			size_t m_nHole;         // 1008-byte blocks freed in a row
			umint m_MinDecommitted; // at least this much goes back
			umint m_MaxDecommitted;
		} const Rows[] = {
			{200, 0, 0},                                        // about 200 KiB: all kept
			{1000, 1000 * 1008 - 0x40000 - 3 * 0x10000, 1000 * 1008 - 0x40000}, // the rest goes
		};
		for (CRow const &Row : Rows)
		{
			auto pHeap = gf_MakeHeap();
			std::vector<void *> Blocks;
			for (size_t i = 0; i < Row.m_nHole + 200; ++i)
				Blocks.push_back(pHeap->f_Alloc(1000));
			umint Before = pHeap->f_GetCommittedBytes();
			for (size_t i = 100; i < 100 + Row.m_nHole; ++i)
				pHeap->f_Free(Blocks[i]);
			umint After = pHeap->f_GetCommittedBytes();
			EXPECT_GE(Before - After, Row.m_MinDecommitted) << Row.m_nHole;
			EXPECT_LE(Before - After, Row.m_MaxDecommitted) << Row.m_nHole;
			// Carving the hole again touches only committed pages.
			for (size_t i = 100; i < 100 + Row.m_nHole; ++i)
				gf_Fill(Blocks[i] = pHeap->f_Alloc(1000), 1000, 3);
			EXPECT_TRUE(gf_HeapIsSound(*pHeap)) << Row.m_nHole;
			for (void *p : Blocks)
				pHeap->f_Free(p);
		}
	}

	TEST(Heap, ResizeMovesBetweenClassesAndKeepsTheContents)
	{
		auto pHeap = gf_MakeHeap();
		void *p = pHeap->f_Alloc(2014);
		gf_Fill(p, 2014, 3);
		void *pGrown = pHeap->f_Resize(p, 3000);
		ASSERT_NE(pGrown, nullptr);
		EXPECT_EQ(pHeap->f_GetUsableSize(pGrown), 3004u); // 16-bit class: 3008 - 4
		EXPECT_TRUE(gf_HasPattern(pGrown, 2014, 3));
		// Shrinking never leaves the class: 10 bytes in the 16-bit class is a 16-byte block.
		void *pShrunk = pHeap->f_Resize(pGrown, 10);
		ASSERT_NE(pShrunk, nullptr);
		EXPECT_EQ(pHeap->f_GetUsableSize(pShrunk), 12u);
		EXPECT_TRUE(gf_HasPattern(pShrunk, 10, 3));
		// Large blocks stay large however small they get.
		void *pLarge = pHeap->f_Alloc(600000);
		gf_Fill(pLarge, 600000, 4);
		void *pLargeSmall = pHeap->f_Resize(pLarge, 20);
		EXPECT_EQ(pHeap->f_GetUsableSize(pLargeSmall), 24u); // 32 - 8
		EXPECT_TRUE(gf_HasPattern(pLargeSmall, 20, 4));
		// Null resizes allocate.
		void *pNew = pHeap->f_Resize(nullptr, 100);
		EXPECT_EQ(pHeap->f_GetUsableSize(pNew), 110u);
		void *pDiscard = pHeap->f_ResizeDiscard(pNew, 5000);
		EXPECT_EQ(pHeap->f_GetUsableSize(pDiscard), 5004u);
		for (void *q : {pShrunk, pLargeSmall, pDiscard})
			pHeap->f_Free(q);
		EXPECT_TRUE(gf_HeapIsSound(*pHeap));
	}

	TEST(Heap, FailedResizeKeepsTheOldBlock)
	{
		auto pHeap = gf_MakeHeap();
		for (umint Request : {umint(100), umint(5000), umint(700000)})
		{
			void *p = pHeap->f_Alloc(Request);
			gf_Fill(p, Request, 5);
			EXPECT_EQ(pHeap->f_Resize(p, ~umint(0) - 64), nullptr);
			EXPECT_EQ(pHeap->f_Resize(p, NZel::NMemory::CParamsArchSize::mc_MaxRequest + 1), nullptr);
			EXPECT_TRUE(gf_HasPattern(p, Request, 5));
			EXPECT_EQ(pHeap->f_GetUsableSize(p) >= Request, true);
			EXPECT_TRUE(gf_HeapIsSound(*pHeap));
			pHeap->f_Free(p);
		}
		EXPECT_EQ(pHeap->f_Alloc(~umint(0)), nullptr);
		EXPECT_TRUE(gf_HeapIsSound(*pHeap));
	}

	TEST(Heap, ForeignAndNullPointersAreIgnored)
	{
		auto pHeap = gf_MakeHeap();
		int Local = 0;
		pHeap->f_Free(nullptr);
		pHeap->f_Free(&Local);
		EXPECT_FALSE(pHeap->f_Owns(&Local));
		EXPECT_EQ(pHeap->f_GetUsableSize(&Local), 0u);
		void *p = pHeap->f_Alloc(100);
		EXPECT_TRUE(pHeap->f_Owns(p));
		pHeap->f_Free(p);
		EXPECT_TRUE(gf_HeapIsSound(*pHeap));
	}

	// A commit the system refuses throws CExceptionMemory with the system's text before the heap
	// changes anything: the heap stays sound, what was live keeps its contents, and the same
	// request succeeds once commits are allowed again.
	TEST(Heap, RefusedCommitThrowsAndLeavesTheHeapAsItWas)
	{
		struct CRow
		{
			const char *m_pName;
			umint m_Request;
			bool m_bFresh;  // no chunk yet: the first commit is the new chunk's
			bool m_bResize; // each step grows the last live block into Request
		} const Rows[] = {
			{"new chunk of the 8-bit class", 100, true, false},
			{"carving the 8-bit class past its committed runs", 1000, false, false},
			{"carving the 16-bit class past its committed runs", 70000, false, false},
			{"new chunk of the large class", 3000000, true, false},
			{"resize keeping contents into the large class", 3000000, false, true},
		};
		for (CRow const &Row : Rows)
		{
			auto pHeap = gf_MakeHeap();
			std::vector<void *> Live;
			Live.reserve(20000); // nothing below may need the process heap
			umint const Filled = Row.m_bResize ? 100 : Row.m_Request;
			if (!Row.m_bFresh)
			{
				Live.push_back(pHeap->f_Alloc(Filled));
				gf_Fill(Live.back(), Filled, 0);
			}
			char Message[256] = {};
			NZel::NSys::gf_Mem_RefuseNextCommits(1);
			for (int i = 0; i < 10000 && !Message[0]; ++i)
			{
				try
				{
					if (Row.m_bResize)
						Live.back() = pHeap->f_Resize(Live.back(), Row.m_Request);
					else
						Live.push_back(pHeap->f_Alloc(Row.m_Request));
					gf_Fill(Live.back(), Filled, unsigned(Live.size() - 1));
				}
				catch (NZel::NException::CExceptionMemory const &Exception)
				{
					std::snprintf(Message, sizeof(Message), "%s", Exception.f_GetMessage());
				}
			}
			NZel::NSys::gf_Mem_RefuseNextCommits(0);
			SCOPED_TRACE(Row.m_pName);
			EXPECT_EQ(std::string(Message).rfind("Windows returned an error from VirtualAlloc: ", 0), 0u) << Message;
			EXPECT_TRUE(gf_HeapIsSound(*pHeap));
			for (size_t i = 0; i < Live.size(); ++i)
				EXPECT_TRUE(gf_HasPattern(Live[i], Filled, unsigned(i))) << i;
			void *p = Row.m_bResize ? pHeap->f_Resize(Live.back(), Row.m_Request) : pHeap->f_Alloc(Row.m_Request);
			ASSERT_NE(p, nullptr);
			if (Row.m_bResize)
				Live.back() = p;
			else
				Live.push_back(p);
			for (void *q : Live)
				pHeap->f_Free(q);
			EXPECT_TRUE(gf_HeapIsSound(*pHeap));
		}
	}

	TEST(Heap, ChunkWalkHoldsAfterRandomOperations)
	{
		auto pHeap = gf_MakeHeap();
		std::mt19937 Random(12);
		struct CLive
		{
			void *m_p;
			umint m_Size;
			unsigned m_Seed;
		};
		std::vector<CLive> Live;
		auto fSize = [&] {
			switch (Random() % 8)
			{
			case 0: return umint(Random() % 3000);
			case 1: return umint(Random() % 70000);
			case 2: return umint(524000 + Random() % 1000000);
			default: return umint(Random() % 130);
			}
		};
		for (unsigned Step = 0; Step < 4000; ++Step)
		{
			unsigned Op = Random() % 10;
			if (Op < 5 || Live.empty())
			{
				umint Size = fSize();
				void *p = pHeap->f_Alloc(Size);
				ASSERT_NE(p, nullptr);
				umint Check = std::min<umint>(Size, 64);
				gf_Fill(p, Check, Step);
				Live.push_back({p, Size, Step});
			}
			else
			{
				size_t i = Random() % Live.size();
				ASSERT_TRUE(gf_HasPattern(Live[i].m_p, std::min<umint>(Live[i].m_Size, 64), Live[i].m_Seed));
				if (Op < 8)
				{
					pHeap->f_Free(Live[i].m_p);
					Live[i] = Live.back();
					Live.pop_back();
				}
				else
				{
					umint Size = fSize();
					void *p = pHeap->f_Resize(Live[i].m_p, Size);
					ASSERT_NE(p, nullptr);
					ASSERT_TRUE(gf_HasPattern(p, std::min<umint>({Live[i].m_Size, Size, 64}), Live[i].m_Seed));
					gf_Fill(p, std::min<umint>(Size, 64), Step);
					Live[i] = {p, Size, Step};
				}
			}
			if (Step % 97 == 0)
			{
				ASSERT_TRUE(gf_HeapIsSound(*pHeap)) << "after step " << Step;
			}
		}
		for (CLive const &Block : Live)
			pHeap->f_Free(Block.m_p);
		EXPECT_TRUE(gf_HeapIsSound(*pHeap));
		pHeap->f_FlushQuickLists();
		EXPECT_TRUE(gf_HeapIsSound(*pHeap));
		EXPECT_LE(pHeap->f_GetChunkCount(), 3u); // at most one spare per class
	}

	TEST(Heap, ThreadsShareOneHeap)
	{
		auto pHeap = gf_MakeHeap();
		std::atomic<bool> bFailed{false};
		std::vector<std::thread> Threads;
		for (unsigned t = 0; t < 4; ++t)
		{
			Threads.emplace_back([&, t] {
				std::mt19937 Random(t);
				std::vector<std::pair<void *, unsigned>> Mine;
				for (unsigned i = 0; i < 3000; ++i)
				{
					if (Mine.size() < 50 && Random() % 3)
					{
						umint Size = Random() % 4 ? Random() % 100 : Random() % 5000;
						void *p = pHeap->f_Alloc(Size);
						static_cast<unsigned char *>(p)[0] = static_cast<unsigned char>(t + i);
						Mine.emplace_back(p, t + i);
					}
					else if (!Mine.empty())
					{
						if (static_cast<unsigned char *>(Mine.back().first)[0] != static_cast<unsigned char>(Mine.back().second))
							bFailed = true;
						pHeap->f_Free(Mine.back().first);
						Mine.pop_back();
					}
				}
				for (auto &Block : Mine)
					pHeap->f_Free(Block.first);
			});
		}
		for (std::thread &Thread : Threads)
			Thread.join();
		EXPECT_FALSE(bFailed);
		EXPECT_TRUE(gf_HeapIsSound(*pHeap));
	}

	TEST(Heap, PrivateHeapCommitsWholeReservations)
	{
		auto pHeap = std::make_unique<NZel::NMemory::CPrivateHeap>();
		std::vector<void *> Blocks;
		for (int i = 0; i < 100; ++i)
			Blocks.push_back(pHeap->f_Alloc(4000));
		EXPECT_EQ(pHeap->f_GetCommittedBytes(), pHeap->f_GetReservedBytes());
		for (void *p : Blocks)
			pHeap->f_Free(p);
		const char *pReason = "";
		EXPECT_TRUE(pHeap->f_Check(pReason)) << pReason;
		EXPECT_EQ(pHeap->f_GetCommittedBytes(), pHeap->f_GetReservedBytes());
	}

	TEST(VirtualMemory, FailuresThrowWithTheSystemText)
	{
		try
		{
			NZel::NSys::AllocVirtualMemory(umint(1) << (sizeof(void *) == 8 ? 62 : 31), 0, NZel::NSys::EMemAllocation::Reserve);
			FAIL() << "an impossible reservation succeeded";
		}
		catch (NZel::NException::CExceptionMemory const &Exception)
		{
			EXPECT_EQ(std::string(Exception.f_GetMessage()).rfind("Windows returned an error from VirtualAlloc: ", 0), 0u)
				<< Exception.f_GetMessage();
		}
		int Local = 0;
		EXPECT_GT(NZel::NSys::gf_Mem_VirtualSize(&Local), 0u);
	}
}
