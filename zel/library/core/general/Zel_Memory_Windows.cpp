#include "zel/library/core/general/Zel_Memory_Platform.h"
#include "zel/library/core/runtime/Zel_Sys_Memory.h"

#include "zel/library/core/general/Zel_Heap.h"
#include "zel/library/core/general/Zel_System.h"

#include <windows.h>
#include <winternl.h>

#include <atomic>

namespace NZel::NMemory::NPlatform
{
	// The process heap; running out of memory is a null result here, never an exception.

	void *gf_HeapAlloc(umint Size)
	{
		try
		{
			return gf_GetProcessHeap().f_Alloc(Size);
		}
		catch (...)
		{
			return nullptr;
		}
	}

	void *gf_HeapRealloc(void *p, umint Size)
	{
		try
		{
			return gf_GetProcessHeap().f_Resize(p, Size);
		}
		catch (...)
		{
			return nullptr;
		}
	}

	void gf_HeapFree(void *p)
	{
		gf_GetProcessHeap().f_Free(p);
	}

	umint gf_HeapSize(const void *p)
	{
		return gf_GetProcessHeap().f_GetUsableSize(p);
	}

	namespace
	{
		// The TLS value of a thread whose kept blocks went back: it keeps nothing from then on.
		void *const gc_pEnded = reinterpret_cast<void *>(umint(1));

		void WINAPI fg_ThreadEnds(void *pData);

		// A TLS index for the quick look-up, and an FLS index only for its callback, which runs
		// on the thread as it ends. The TLS index is published (plus one, so that 0 means not
		// yet made) once both are made.
		std::atomic<DWORD> g_TlsPlusOne{0};

		struct CKeptBlocksKeys
		{
			DWORD m_Tls = TlsAlloc();
			DWORD m_Fls = FlsAlloc(fg_ThreadEnds);
		};

		CKeptBlocksKeys const &fg_Keys()
		{
			static CKeptBlocksKeys const s_Keys;
			return s_Keys;
		}

		// The calling thread's value of a TLS index: the first 64 straight from the thread's
		// environment block, as TlsGetValue reads them.
		void *fg_TlsValue(DWORD Index)
		{
			if (Index < 64)
			{
				// GCC 12 takes the segment read inside NtCurrentTeb for an access to an empty array.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
				return reinterpret_cast<TEB *>(NtCurrentTeb())->TlsSlots[Index];
#pragma GCC diagnostic pop
			}
			return TlsGetValue(Index);
		}

		void WINAPI fg_ThreadEnds(void *pData)
		{
			auto *pKept = static_cast<CKeptBlocks *>(pData);
			if (!pKept)
				return;
			TlsSetValue(fg_Keys().m_Tls, gc_pEnded);
			gf_ReleaseKeptBlocks(*pKept);
			gf_HeapFree(pKept);
		}

		// The first call of a thread (and of the process): makes the keys and the record.
		__attribute__((noinline)) CKeptBlocks *fg_MakeKeptBlocks()
		{
			CKeptBlocksKeys const &Keys = fg_Keys();
			if (Keys.m_Tls == TLS_OUT_OF_INDEXES || Keys.m_Fls == FLS_OUT_OF_INDEXES)
				return nullptr;
			g_TlsPlusOne.store(Keys.m_Tls + 1, std::memory_order_release);
			void *pValue = fg_TlsValue(Keys.m_Tls);
			if (pValue)
				return pValue == gc_pEnded ? nullptr : static_cast<CKeptBlocks *>(pValue);
			auto *pKept = static_cast<CKeptBlocks *>(gf_HeapAlloc(sizeof(CKeptBlocks)));
			if (!pKept)
				return nullptr;
			*pKept = {};
			if (!FlsSetValue(Keys.m_Fls, pKept) || !TlsSetValue(Keys.m_Tls, pKept))
			{
				FlsSetValue(Keys.m_Fls, nullptr);
				gf_HeapFree(pKept);
				return nullptr;
			}
			return pKept;
		}
	}

	namespace
	{
		// The calling thread's record when it has one; null when it has none yet or has ended.
		inline CKeptBlocks *fg_FindKeptBlocks()
		{
			DWORD TlsPlusOne = g_TlsPlusOne.load(std::memory_order_acquire);
			if (!TlsPlusOne)
				return nullptr;
			void *pValue = fg_TlsValue(TlsPlusOne - 1);
			return umint(pValue) > umint(gc_pEnded) ? static_cast<CKeptBlocks *>(pValue) : nullptr;
		}
	}

	CKeptBlocks *gf_GetThreadKeptBlocks()
	{
		if (CKeptBlocks *pKept = fg_FindKeptBlocks())
			return pKept;
		return fg_MakeKeptBlocks();
	}

	void *gf_TakeKeptBlock(umint i)
	{
		CKeptBlocks *pKept = fg_FindKeptBlocks(); // a thread without a record keeps nothing
		if (!pKept)
			return nullptr;
		void *p = pKept->m_pBlocks[i];
		pKept->m_pBlocks[i] = nullptr;
		return p;
	}

	bool gf_KeepBlock(umint i, void *p)
	{
		CKeptBlocks *pKept = fg_FindKeptBlocks();
		if (!pKept && !(pKept = fg_MakeKeptBlocks()))
			return false;
		if (pKept->m_pBlocks[i] == p)
			NSys::gf_Mem_HeapCorruption(p); // freed twice: the first free kept it
		if (pKept->m_pBlocks[i])
			return false;
		pKept->m_pBlocks[i] = p;
		return true;
	}
}
