#include "zel/library/core/general/Zel_Memory.h"
#include "zel/library/core/general/Zel_Memory_Platform.h"

#include <atomic>

namespace NZel::NMemory
{
	namespace
	{
		// Test counters. They are kept with a plain load and store rather than an interlocked
		// add, which would cost more than the rest of a small allocation: exact for the
		// single-threaded windows in which tests read them, approximate under contention.
		std::atomic<uint64> g_AllocationCount{0};
		std::atomic<int64> g_LiveBlocks{0};
		std::atomic<uint64> g_RefusedCount{0};
		// -1: no failures injected. Otherwise the number of allocations still allowed.
		std::atomic<int64> g_FailAfter{-1};
		std::atomic<umint> g_SizeLimit{0};

		std::atomic<uint64> g_KeptReleasedCount{0};

		template <typename t_CValue>
		void fg_Add(std::atomic<t_CValue> &Counter, int Delta)
		{
			Counter.store(t_CValue(Counter.load(std::memory_order_relaxed) + t_CValue(Delta)), std::memory_order_relaxed);
		}

		bool fg_MayAllocateInjected(umint Size)
		{
			umint Limit = g_SizeLimit.load(std::memory_order_relaxed);
			if (Limit && Size > Limit)
				return false;
			int64 Left = g_FailAfter.load(std::memory_order_relaxed);
			while (Left >= 0)
			{
				if (Left == 0)
					return false;
				if (g_FailAfter.compare_exchange_weak(Left, Left - 1, std::memory_order_relaxed))
					return true;
			}
			return true;
		}

		// False when the test hooks refuse the allocation; without them a check of two words.
		inline bool fg_MayAllocate(umint Size)
		{
			if (g_SizeLimit.load(std::memory_order_relaxed) == 0 && g_FailAfter.load(std::memory_order_relaxed) < 0)
				return true;
			return fg_MayAllocateInjected(Size);
		}

		// Blocks kept aside by the sized f_Free, per thread: at most one per 16-byte size step,
		// so a thread keeps at most about 2 KiB aside, and a block freed and allocated again and
		// again, as a short string is, costs neither the heap's lock nor any interlocked
		// operation. A block freed on one thread may be taken again on another: the heap is one.
		using NPlatform::CKeptBlocks;

		void *fg_TakeKept(umint Size)
		{
			umint i = Size > CKeptBlocks::mc_Step ? (Size - 1) / CKeptBlocks::mc_Step : 0;
			if (i >= CKeptBlocks::mc_Slots)
				return nullptr;
			return NPlatform::gf_TakeKeptBlock(i);
		}

		bool fg_Keep(void *p, umint Size)
		{
			umint i = Size / CKeptBlocks::mc_Step;
			if (i == 0 || i > CKeptBlocks::mc_Slots)
				return false;
			return NPlatform::gf_KeepBlock(i - 1, p);
		}
	}

	void NPlatform::gf_ReleaseKeptBlocks(CKeptBlocks &Kept)
	{
		for (void *&p : Kept.m_pBlocks)
		{
			if (p)
			{
				gf_HeapFree(p);
				g_KeptReleasedCount.fetch_add(1, std::memory_order_relaxed);
				p = nullptr;
			}
		}
	}

	void *CAllocator_Heap::f_Alloc(umint Size)
	{
		void *p = nullptr;
		if (fg_MayAllocate(Size))
		{
			p = fg_TakeKept(Size);
			if (!p)
				p = NPlatform::gf_HeapAlloc(Size);
		}
		if (p)
		{
			fg_Add(g_AllocationCount, 1);
			fg_Add(g_LiveBlocks, 1);
		}
		else
			fg_Add(g_RefusedCount, 1);
		return p;
	}

	void *CAllocator_Heap::f_Realloc(void *p, umint Size)
	{
		if (!p)
			return f_Alloc(Size);
		void *pNew = fg_MayAllocate(Size) ? NPlatform::gf_HeapRealloc(p, Size) : nullptr;
		if (pNew)
			fg_Add(g_AllocationCount, 1);
		else
			fg_Add(g_RefusedCount, 1);
		return pNew;
	}

	void CAllocator_Heap::f_Free(void *p)
	{
		if (p)
		{
			fg_Add(g_LiveBlocks, -1);
			NPlatform::gf_HeapFree(p);
		}
	}

	void CAllocator_Heap::f_Free(void *p, umint Size)
	{
		if (!p)
			return;
		fg_Add(g_LiveBlocks, -1);
		if (!fg_Keep(p, Size))
			NPlatform::gf_HeapFree(p);
	}

	int32 CAllocator_Heap::fs_GetKeptBlockCount()
	{
		CKeptBlocks *pKept = NPlatform::gf_GetThreadKeptBlocks();
		int32 Count = 0;
		if (pKept)
		{
			for (void *p : pKept->m_pBlocks)
				Count += p ? 1 : 0;
		}
		return Count;
	}

	uint64 CAllocator_Heap::fs_GetKeptReleasedCount()
	{
		return g_KeptReleasedCount.load(std::memory_order_relaxed);
	}

	umint CAllocator_Heap::f_GetSize(const void *p)
	{
		return p ? NPlatform::gf_HeapSize(p) : 0;
	}

	int64 CAllocator_Heap::fs_GetLiveBlockCount()
	{
		return g_LiveBlocks.load(std::memory_order_relaxed);
	}

	uint64 CAllocator_Heap::fs_GetAllocationCount()
	{
		return g_AllocationCount.load(std::memory_order_relaxed);
	}

	uint64 CAllocator_Heap::fs_GetRefusedCount()
	{
		return g_RefusedCount.load(std::memory_order_relaxed);
	}

	void CAllocator_Heap::fs_SetSizeLimit(umint MaxSize)
	{
		g_SizeLimit.store(MaxSize, std::memory_order_relaxed);
	}

	void CAllocator_Heap::fs_SetFailAfter(int64 nAllocations)
	{
		g_FailAfter.store(nAllocations < 0 ? -1 : nAllocations, std::memory_order_relaxed);
	}
}
