#include "zel/library/core/general/Zel_Memory.h"
#include "zel/library/core/general/Zel_Memory_Platform.h"

#include <atomic>

namespace NZel::NMemory
{
	namespace
	{
		std::atomic<uint64> g_AllocationCount{0};
		// -1: no failures injected. Otherwise the number of allocations still allowed.
		std::atomic<int64> g_FailAfter{-1};

		bool fg_MayAllocate()
		{
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
	}

	void *CAllocator_Heap::f_Alloc(umint Size)
	{
		if (!fg_MayAllocate())
			return nullptr;
		void *p = NPlatform::gf_HeapAlloc(Size);
		if (p)
			g_AllocationCount.fetch_add(1, std::memory_order_relaxed);
		return p;
	}

	void *CAllocator_Heap::f_Realloc(void *p, umint Size)
	{
		if (!p)
			return f_Alloc(Size);
		if (!fg_MayAllocate())
			return nullptr;
		void *pNew = NPlatform::gf_HeapRealloc(p, Size);
		if (pNew)
			g_AllocationCount.fetch_add(1, std::memory_order_relaxed);
		return pNew;
	}

	void CAllocator_Heap::f_Free(void *p)
	{
		if (p)
			NPlatform::gf_HeapFree(p);
	}

	umint CAllocator_Heap::f_GetSize(const void *p)
	{
		return p ? NPlatform::gf_HeapSize(p) : 0;
	}

	uint64 CAllocator_Heap::fs_GetAllocationCount()
	{
		return g_AllocationCount.load(std::memory_order_relaxed);
	}

	void CAllocator_Heap::fs_SetFailAfter(int64 nAllocations)
	{
		g_FailAfter.store(nAllocations < 0 ? -1 : nAllocations, std::memory_order_relaxed);
	}
}
