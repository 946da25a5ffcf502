// The process heap behind global new and delete, and where its chunks land.
#include "tests/zel/Heap_TestSupport.h"

#include "zel/library/core/general/Zel_System.h"
#include "zel/library/core/general/Zel_ThreadPlacement.h"
#include "zel/library/core/runtime/Zel_Sys_Memory.h"

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

using namespace NHeapTest;
using NZel::NMemory::gf_GetProcessHeap;

namespace
{
	TEST(ProcessHeap, GlobalNewIsServedFromRegisteredChunks)
	{
		CProcessHeap &Heap = gf_GetProcessHeap();
		EXPECT_EQ(&Heap, &NZel::gf_GetSystem().f_GetHeap());
		auto pSmall = std::make_unique<int>(5);
		std::string Medium(3000, 'x');
		std::vector<char> Large(1 << 20);
		for (const void *p : {static_cast<const void *>(pSmall.get()), static_cast<const void *>(Medium.data()), static_cast<const void *>(Large.data())})
		{
			EXPECT_NE(Heap.f_FindChunk(p), nullptr);
			EXPECT_EQ(NZel::umint(p) % 16, 0u);
		}
		EXPECT_EQ(Heap.f_GetUsableSize(pSmall.get()), 14u);
		void *pMalloc = std::malloc(100);
		EXPECT_EQ(Heap.f_FindChunk(pMalloc), nullptr);
		std::free(pMalloc);
		EXPECT_TRUE(gf_HeapIsSound(Heap));
	}

	// Every throwing form of operator new throws std::bad_alloc when the heap cannot serve the
	// request, whether it is larger than any reservation can be or the system refuses the
	// commit; the nothrow forms return null. Afterwards the heap is sound and serves the request.
	TEST(ProcessHeap, OutOfMemoryIsBadAllocFromEveryFormOfNew)
	{
		constexpr std::align_val_t c_Align{64};
		struct CForm
		{
			const char *m_pName;
			void *(*m_fNew)(std::size_t);
			void (*m_fDelete)(void *);
			bool m_bNoThrow;
		} const Forms[] = {
			{"new", [](std::size_t n) { return ::operator new(n); }, [](void *p) { ::operator delete(p); }, false},
			{"new[]", [](std::size_t n) { return ::operator new[](n); }, [](void *p) { ::operator delete[](p); }, false},
			{"aligned new", [](std::size_t n) { return ::operator new(n, c_Align); }, [](void *p) { ::operator delete(p, c_Align); }, false},
			{"aligned new[]", [](std::size_t n) { return ::operator new[](n, c_Align); }, [](void *p) { ::operator delete[](p, c_Align); }, false},
			{"nothrow new", [](std::size_t n) { return ::operator new(n, std::nothrow); }, [](void *p) { ::operator delete(p); }, true},
			{"nothrow new[]", [](std::size_t n) { return ::operator new[](n, std::nothrow); }, [](void *p) { ::operator delete[](p); }, true},
			{"aligned nothrow new", [](std::size_t n) { return ::operator new(n, c_Align, std::nothrow); },
				[](void *p) { ::operator delete(p, c_Align); }, true},
			{"aligned nothrow new[]", [](std::size_t n) { return ::operator new[](n, c_Align, std::nothrow); },
				[](void *p) { ::operator delete[](p, c_Align); }, true},
		};
		// More than this build's address space can hold, and a request that needs a new chunk
		// (so a commit) but is otherwise easy.
		volatile std::size_t const Impossible = sizeof(void *) == 8 ? std::size_t(1) << 46 : std::size_t(0xF0000000u);
		volatile std::size_t const Possible = 64 << 20;
		for (CForm const &Form : Forms)
		{
			for (bool bRefuseCommit : {false, true})
			{
				SCOPED_TRACE(std::string(Form.m_pName) + (bRefuseCommit ? ", commit refused" : ", impossible size"));
				void *p = nullptr;
				bool bBadAlloc = false, bOther = false;
				NZel::NSys::gf_Mem_RefuseNextCommits(bRefuseCommit ? 1 : 0);
				try
				{
					p = Form.m_fNew(bRefuseCommit ? Possible : Impossible);
				}
				catch (std::bad_alloc const &)
				{
					bBadAlloc = true;
				}
				catch (...)
				{
					bOther = true;
				}
				NZel::NSys::gf_Mem_RefuseNextCommits(0);
				EXPECT_EQ(p, nullptr);
				EXPECT_FALSE(bOther);
				EXPECT_EQ(bBadAlloc, !Form.m_bNoThrow);
				if (p)
					Form.m_fDelete(p);
				EXPECT_TRUE(gf_HeapIsSound(gf_GetProcessHeap()));
				p = Form.m_fNew(Possible);
				EXPECT_NE(p, nullptr);
				Form.m_fDelete(p);
			}
		}
	}

	TEST(ProcessHeap, FreeingDecommitsThePagesNewHadCommitted)
	{
		CProcessHeap &Heap = gf_GetProcessHeap();
		umint CommittedBefore = Heap.f_GetCommittedBytes();
		std::vector<std::unique_ptr<char[]>> Blocks;
		for (int i = 0; i < 20000; ++i)
			Blocks.push_back(std::make_unique<char[]>(400));
		umint CommittedFull = Heap.f_GetCommittedBytes();
		umint ReservedFull = Heap.f_GetReservedBytes();
		Blocks.clear();
		Blocks.shrink_to_fit();
		umint CommittedAfter = Heap.f_GetCommittedBytes();
		std::printf("process heap: committed %zu before, %zu with 20000 x 400 bytes (%zu reserved), %zu after freeing; %zu reserved\n",
			size_t(CommittedBefore), size_t(CommittedFull), size_t(ReservedFull), size_t(CommittedAfter), size_t(Heap.f_GetReservedBytes()));
		EXPECT_GE(CommittedFull - CommittedBefore, 20000u * 400u);
		EXPECT_LT(CommittedAfter, CommittedBefore + 0x80000);
		EXPECT_TRUE(gf_HeapIsSound(Heap));
	}

	// Reservations of one class and thread lie next to each other, so the chunk grows in place.
	TEST(Placement, ChunksOfAThreadGrowInPlace)
	{
		for (umint Request : {umint(100000), umint(3000000)})
		{
			auto pHeap = gf_MakeHeap();
			std::vector<void *> Blocks;
			for (umint Total = 0; Total < 12 * 0x100000; Total += Request)
				Blocks.push_back(pHeap->f_Alloc(Request));
			EXPECT_EQ(pHeap->f_GetChunkCount(), 1u) << Request;
			EXPECT_GE(pHeap->f_GetReservedBytes(), umint(12 * 0x100000)) << Request;
			EXPECT_TRUE(gf_HeapIsSound(*pHeap));
			for (void *p : Blocks)
				pHeap->f_Free(p);
		}
	}

	TEST(Placement, ThreadsGetHomesOfTheirOwnInTheLargestFreeRange)
	{
		NZel::NThreadPlacement::CPlacementContext &Placement = NZel::gf_GetSystem().f_GetPlacement();
		ASSERT_FALSE(Placement.f_IsDisabled());
		auto fHome = [&] {
			auto pHeap = gf_MakeHeap();
			pHeap->f_Free(pHeap->f_Alloc(100000)); // a placed reservation makes the record
			NZel::NThreadPlacement::CThreadInfo *pInfo = Placement.f_GetCallingThreadIfMade();
			umint Home = pInfo ? pInfo->m_Home : 0;
			if (pInfo)
			{
				EXPECT_GT(pInfo->m_StackEnd, umint(&pInfo));
				EXPECT_GE(pInfo->m_LowerBound, Placement.f_GetRangeBegin());
			}
			return Home;
		};
		umint Home1 = 0, Home2 = 0;
		std::thread First([&] {
			Home1 = fHome();
			std::thread Second([&] {
				Home2 = fHome();
				Placement.f_ReleaseCallingThread();
			});
			Second.join();
			Placement.f_ReleaseCallingThread();
		});
		First.join();
		EXPECT_NE(Home1, 0u);
		EXPECT_NE(Home2, 0u);
		EXPECT_NE(Home1, Home2);
		for (umint Home : {Home1, Home2})
		{
			EXPECT_GE(Home, Placement.f_GetRangeBegin());
			EXPECT_LT(Home, Placement.f_GetRangeEnd());
		}
	}
}
