#include "zel/library/core/general/Zel_Memory_Platform.h"
#include "zel/library/core/runtime/Zel_Sys_Memory.h"

#include <cstdlib>
#include <malloc.h>

namespace NZel::NMemory::NPlatform
{
	void *gf_HeapAlloc(umint Size)
	{
		return std::malloc(Size ? Size : 1);
	}

	void *gf_HeapRealloc(void *p, umint Size)
	{
		return std::realloc(p, Size ? Size : 1);
	}

	void gf_HeapFree(void *p)
	{
		std::free(p);
	}

	umint gf_HeapSize(const void *p)
	{
		return malloc_usable_size(const_cast<void *>(p));
	}

	namespace
	{
		// The record itself needs no destruction, so it stays readable while other objects of
		// the ending thread are destroyed; a second thread-local object gives its blocks back.
		struct CThreadKept
		{
			CKeptBlocks m_Kept;
			bool m_bRegistered;
			bool m_bEnded;
		};
		thread_local CThreadKept t_Kept{};

		struct CThreadKeptRelease
		{
			~CThreadKeptRelease()
			{
				t_Kept.m_bEnded = true;
				gf_ReleaseKeptBlocks(t_Kept.m_Kept);
			}
		};
		thread_local CThreadKeptRelease t_Release;
	}

	CKeptBlocks *gf_GetThreadKeptBlocks()
	{
		CThreadKept &Kept = t_Kept;
		if (Kept.m_bEnded)
			return nullptr;
		if (!Kept.m_bRegistered)
		{
			Kept.m_bRegistered = true;
			(void)&t_Release; // made now, so that it is destroyed when the thread ends
		}
		return &Kept.m_Kept;
	}

	void *gf_TakeKeptBlock(umint i)
	{
		CThreadKept &Kept = t_Kept; // before its first keep the record is empty, so it need not be made
		void *p = Kept.m_Kept.m_pBlocks[i];
		Kept.m_Kept.m_pBlocks[i] = nullptr;
		return p;
	}

	bool gf_KeepBlock(umint i, void *p)
	{
		CKeptBlocks *pKept = gf_GetThreadKeptBlocks();
		if (pKept && pKept->m_pBlocks[i] == p)
			NSys::gf_Mem_HeapCorruption(p); // freed twice: the first free kept it
		if (!pKept || pKept->m_pBlocks[i])
			return false;
		pKept->m_pBlocks[i] = p;
		return true;
	}
}
