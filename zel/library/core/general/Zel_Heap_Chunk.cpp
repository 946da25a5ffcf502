#include "zel/library/core/general/Zel_Heap_Chunk.h"

#include "zel/library/core/runtime/Zel_Sys_Memory.h"

#include <cstring>
#include <new>

namespace NZel::NMemory
{
	using namespace NSys;

	CHeapCore::CHeapCore(bool bCommitOnDemand)
		: fp_bCommitOnDemand(bCommitOnDemand)
	{
	}

	CHeapCore::~CHeapCore()
	{
		// Chunks give their reservations back with their class heaps; here only the
		// bookkeeping memory goes.
		if (fp_pChunks)
			gf_Mem_VirtualFree(fp_pChunks, fp_ArraySize, 0);
		while (CChunk *pPage = fp_pRecordPages)
		{
			fp_pRecordPages = pPage->m_pNextFree;
			gf_Mem_VirtualFree(pPage, gf_Mem_GetInfo().m_Granularity, 0);
		}
	}

	uint32 CHeapCore::fp_LowerBound(umint Base) const
	{
		uint32 Low = 0, High = fp_nChunks;
		while (Low < High)
		{
			uint32 Mid = (Low + High) / 2;
			if (fp_pChunks[Mid]->m_Base < Base)
				Low = Mid + 1;
			else
				High = Mid;
		}
		return Low;
	}

	CChunk *CHeapCore::fp_FindSlow(umint Address)
	{
		// The last chunk whose base is below Address.
		uint32 i = fp_LowerBound(Address);
		if (i == 0)
			return nullptr;
		CChunk *pChunk = fp_pChunks[i - 1];
		if (!pChunk->f_Contains(Address))
			return nullptr;
		fp_pLastFound = pChunk;
		return pChunk;
	}

	CChunk *CHeapCore::f_FindEndingAt(umint Address)
	{
		uint32 i = fp_LowerBound(Address);
		if (i == 0 || fp_pChunks[i - 1]->f_End() != Address)
			return nullptr;
		return fp_pChunks[i - 1];
	}

	CChunk *CHeapCore::f_FindStartingAt(umint Address)
	{
		uint32 i = fp_LowerBound(Address);
		if (i == fp_nChunks || fp_pChunks[i]->m_Base != Address)
			return nullptr;
		return fp_pChunks[i];
	}

	void CHeapCore::fp_Grow()
	{
		umint NewSize = gf_Mem_RoundUp((fp_Capacity ? fp_Capacity * 2 : 1024) * sizeof(CChunk *), gf_Mem_GetInfo().m_Granularity);
		auto **pNew = static_cast<CChunk **>(AllocVirtualMemory(NewSize, 0, EMemAllocation::Commit));
		if (fp_nChunks)
			std::memcpy(pNew, fp_pChunks, fp_nChunks * sizeof(CChunk *));
		if (fp_pChunks)
			gf_Mem_VirtualFree(fp_pChunks, fp_ArraySize, 0);
		fp_pChunks = pNew;
		fp_ArraySize = NewSize;
		fp_Capacity = uint32(NewSize / sizeof(CChunk *));
	}

	CChunk *CHeapCore::f_AddChunk(ICClassHeap *pOwner, umint Base, umint Size)
	{
		if (fp_nChunks == fp_Capacity)
			fp_Grow();
		if (!fp_pFreeRecords)
		{
			// Chunk records come from pages of their own, carved in one go and reused; the first
			// record of each page links the pages, which go with the heap.
			umint PageSize = gf_Mem_GetInfo().m_Granularity;
			auto *pPage = static_cast<uint8 *>(AllocVirtualMemory(PageSize, 0, EMemAllocation::Commit));
			auto *pPageLink = new (pPage) CChunk;
			pPageLink->m_pNextFree = fp_pRecordPages;
			fp_pRecordPages = pPageLink;
			for (umint Offset = sizeof(CChunk); Offset + sizeof(CChunk) <= PageSize; Offset += sizeof(CChunk))
			{
				auto *pRecord = new (pPage + Offset) CChunk;
				pRecord->m_pNextFree = fp_pFreeRecords;
				fp_pFreeRecords = pRecord;
			}
		}
		CChunk *pChunk = fp_pFreeRecords;
		fp_pFreeRecords = pChunk->m_pNextFree;
		*pChunk = CChunk{};
		pChunk->m_Base = Base;
		pChunk->m_Size = Size;
		pChunk->m_pOwner = pOwner;
		pChunk->m_nReservations = 1;
		pChunk->m_Reservations[0] = {Base, Size};

		uint32 i = fp_LowerBound(Base);
		std::memmove(fp_pChunks + i + 1, fp_pChunks + i, (fp_nChunks - i) * sizeof(CChunk *));
		fp_pChunks[i] = pChunk;
		++fp_nChunks;
		return pChunk;
	}

	void CHeapCore::f_RemoveChunk(CChunk *pChunk)
	{
		uint32 i = fp_LowerBound(pChunk->m_Base);
		if (i < fp_nChunks && fp_pChunks[i] == pChunk)
		{
			std::memmove(fp_pChunks + i, fp_pChunks + i + 1, (fp_nChunks - i - 1) * sizeof(CChunk *));
			--fp_nChunks;
		}
		if (fp_pLastFound == pChunk)
			fp_pLastFound = nullptr;
		pChunk->m_pNextFree = fp_pFreeRecords;
		fp_pFreeRecords = pChunk;
	}

	// ---- virtual memory ------------------------------------------------------------------

	void *CAllocator_Virtual::fs_Reserve(umint Size, umint Placement, bool bCommit)
	{
		return AllocVirtualMemory(Size, Placement, bCommit ? EMemAllocation::Commit : EMemAllocation::Reserve);
	}

	void CAllocator_Virtual::fs_Commit(void *p, umint Size)
	{
		gf_Mem_VirtualCommit(p, Size);
	}

	void CAllocator_Virtual::fs_Decommit(void *p, umint Size)
	{
		gf_Mem_VirtualDecommit(p, Size);
	}

	void CAllocator_Virtual::fs_Release(void *p, umint Size, umint Placement)
	{
		gf_Mem_VirtualFree(p, Size, Placement);
	}

	namespace
	{
		template <typename t_CChunk, typename t_FAction>
		void fg_ForEachReservation(t_CChunk const &Chunk, umint Begin, umint End, t_FAction Action)
		{
			for (uint32 i = 0; i < Chunk.m_nReservations && Begin < End; ++i)
			{
				auto const &Reservation = Chunk.m_Reservations[i];
				umint ResEnd = Reservation.m_Base + Reservation.m_Size;
				if (ResEnd <= Begin)
					continue;
				umint PartBegin = Begin > Reservation.m_Base ? Begin : Reservation.m_Base;
				umint PartEnd = End < ResEnd ? End : ResEnd;
				if (PartBegin < PartEnd)
					Action(reinterpret_cast<void *>(PartBegin), PartEnd - PartBegin);
				Begin = PartEnd;
			}
		}
	}

	template <typename t_CAllocator>
	void THeapChunk<t_CAllocator>::f_Commit(umint Begin, umint End) const
	{
		umint Page = gf_Mem_GetInfo().m_PageSize;
		Begin = gf_Mem_RoundDown(Begin, Page);
		End = gf_Mem_RoundUp(End, Page);
		fg_ForEachReservation(*this, Begin, End, [](void *p, umint Size) { t_CAllocator::fs_Commit(p, Size); });
	}

	template <typename t_CAllocator>
	void THeapChunk<t_CAllocator>::f_Decommit(umint Begin, umint End) const
	{
		umint Page = gf_Mem_GetInfo().m_PageSize;
		Begin = gf_Mem_RoundUp(Begin, Page);
		End = gf_Mem_RoundDown(End, Page);
		if (Begin < End)
			fg_ForEachReservation(*this, Begin, End, [](void *p, umint Size) { t_CAllocator::fs_Decommit(p, Size); });
	}

	template <typename t_CAllocator>
	void THeapChunk<t_CAllocator>::fs_Release(CReservation const &Reservation, umint Placement) noexcept
	{
		try
		{
			t_CAllocator::fs_Release(reinterpret_cast<void *>(Reservation.m_Base), Reservation.m_Size, Placement);
		}
		catch (...)
		{
			// The range stays reserved; nothing else depends on it.
		}
	}

	template struct THeapChunk<CAllocator_Virtual>;
}
