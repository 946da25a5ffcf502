#include "zel/library/core/general/Zel_Heap.h"

#include "zel/library/core/runtime/Zel_Sys_Memory.h"

#include <cstring>

namespace NZel::NMemory
{
	namespace
	{
		template <typename t_CLock>
		class TCGuard
		{
		public:
			explicit TCGuard(t_CLock &Lock)
				: fp_Lock(Lock)
			{
				fp_Lock.f_Lock();
			}
			~TCGuard()
			{
				fp_Lock.f_Unlock();
			}
			TCGuard(TCGuard const &) = delete;
			TCGuard &operator=(TCGuard const &) = delete;

		private:
			t_CLock &fp_Lock;
		};
	}

	template <typename t_CHeapParams>
	THeap_Combined<t_CHeapParams>::THeap_Combined()
		: fp_Core(t_CHeapParams::CAllocator::mc_bCommitOnDemand)
		, fp_Small(fp_Core, t_CHeapParams::mc_ChunkStep)
		, fp_Medium(fp_Core, t_CHeapParams::mc_ChunkStep)
		, fp_Large(fp_Core, t_CHeapParams::mc_ChunkStep)
	{
	}

	template <typename t_CHeapParams>
	THeap_Combined<t_CHeapParams>::~THeap_Combined() = default;

	template <typename t_CHeapParams>
	ICClassHeap *THeap_Combined<t_CHeapParams>::fp_ClassFor(umint Size)
	{
		if (Size <= CParams8Bit::mc_MaxRequest)
			return &fp_Small;
		if (Size <= CParams16Bit::mc_MaxRequest)
			return &fp_Medium;
		return &fp_Large;
	}

	template <typename t_CHeapParams>
	void *THeap_Combined<t_CHeapParams>::f_Alloc(umint Size)
	{
		TCGuard Guard(fp_Lock);
		if (Size <= CParams8Bit::mc_MaxRequest)
			return fp_Small.f_Alloc(Size);
		if (Size <= CParams16Bit::mc_MaxRequest)
			return fp_Medium.f_Alloc(Size);
		return fp_Large.f_Alloc(Size);
	}

	template <typename t_CHeapParams>
	void THeap_Combined<t_CHeapParams>::f_Free(void *p)
	{
		if (!p)
			return;
		{
			TCGuard Guard(fp_Lock);
			CChunk *pChunk = fp_Core.f_Find(umint(p));
			if (!pChunk)
				return;
			// The common case, the small class, is called directly.
			if (pChunk->m_pOwner == &fp_Small ? fp_Small.f_Free(*pChunk, p) : pChunk->m_pOwner->f_Free(*pChunk, p))
				return;
		}
		// Not a live block: reported outside the lock, with the heap as it was.
		NSys::gf_Mem_HeapCorruption(p);
	}

	template <typename t_CHeapParams>
	ICClassHeap *THeap_Combined<t_CHeapParams>::fp_ClassForResize(void *p, umint Size, umint &Usable, bool &bLive)
	{
		CChunk *pChunk = fp_Core.f_Find(umint(p));
		if (!pChunk)
			return nullptr;
		ICClassHeap *pClass = pChunk->m_pOwner;
		bLive = pClass->f_IsLive(*pChunk, p);
		if (!bLive)
			return pClass;
		Usable = pClass->f_GetUsableSize(p);
		// A block stays in its class while the class can hold the new size (so shrinking never
		// changes class); otherwise the request picks its class afresh.
		if (Size > pClass->f_GetMaxRequest())
			pClass = fp_ClassFor(Size);
		return pClass;
	}

	template <typename t_CHeapParams>
	void *THeap_Combined<t_CHeapParams>::fp_Resize(void *p, umint Size, bool bKeep)
	{
		if (!p)
			return f_Alloc(Size);
		{
			TCGuard Guard(fp_Lock);
			umint Usable = 0;
			bool bLive = false;
			ICClassHeap *pClass = fp_ClassForResize(p, Size, Usable, bLive);
			if (!pClass)
				return nullptr;
			if (bLive)
			{
				if (!bKeep)
				{
					f_Free(p);
					return pClass->f_Alloc(Size);
				}
				void *pNew = pClass->f_Alloc(Size);
				if (!pNew)
					return nullptr; // the old block stays
				std::memcpy(pNew, p, Usable < Size ? Usable : Size);
				f_Free(p);
				return pNew;
			}
		}
		NSys::gf_Mem_HeapCorruption(p);
	}

	template <typename t_CHeapParams>
	void *THeap_Combined<t_CHeapParams>::f_Resize(void *p, umint Size)
	{
		return fp_Resize(p, Size, true);
	}

	template <typename t_CHeapParams>
	void *THeap_Combined<t_CHeapParams>::f_ResizeDiscard(void *p, umint Size)
	{
		return fp_Resize(p, Size, false);
	}

	template <typename t_CHeapParams>
	umint THeap_Combined<t_CHeapParams>::f_GetUsableSize(const void *p)
	{
		if (!p)
			return 0;
		TCGuard Guard(fp_Lock);
		CChunk *pChunk = fp_Core.f_Find(umint(p));
		return pChunk ? pChunk->m_pOwner->f_GetUsableSize(const_cast<void *>(p)) : 0;
	}

	template <typename t_CHeapParams>
	void THeap_Combined<t_CHeapParams>::f_FlushQuickLists()
	{
		TCGuard Guard(fp_Lock);
		fp_Small.f_FlushQuickLists();
		fp_Medium.f_FlushQuickLists();
		fp_Large.f_FlushQuickLists();
	}

	template <typename t_CHeapParams>
	bool THeap_Combined<t_CHeapParams>::f_Owns(const void *p)
	{
		return f_FindChunk(p) != nullptr;
	}

	template <typename t_CHeapParams>
	CChunk const *THeap_Combined<t_CHeapParams>::f_FindChunk(const void *p)
	{
		TCGuard Guard(fp_Lock);
		return fp_Core.f_Find(umint(p));
	}

	template <typename t_CHeapParams>
	bool THeap_Combined<t_CHeapParams>::f_Check(const char *&pReason)
	{
		TCGuard Guard(fp_Lock);
		ICClassHeap::CBlockCount Count;
		umint PrevEnd = 0;
		for (uint32 i = 0; i < fp_Core.f_GetChunkCount(); ++i)
		{
			CChunk const &Chunk = *fp_Core.f_GetChunk(i);
			if (Chunk.m_Base < PrevEnd)
				return pReason = "chunks overlap or are out of order", false;
			PrevEnd = Chunk.f_End();
			umint Covered = 0;
			for (uint32 r = 0; r < Chunk.m_nReservations; ++r)
			{
				if (Chunk.m_Reservations[r].m_Base != Chunk.m_Base + Covered)
					return pReason = "chunk reservations are not contiguous", false;
				Covered += Chunk.m_Reservations[r].m_Size;
			}
			if (Covered != Chunk.m_Size)
				return pReason = "chunk size differs from its reservations", false;
			if (!Chunk.m_pOwner->f_CheckChunk(Chunk, pReason, Count))
				return false;
		}
		if (Count.m_nFree != fp_Small.f_CountListed() + fp_Medium.f_CountListed() + fp_Large.f_CountListed())
			return pReason = "free lists and free blocks disagree", false;
		// A quick list that loops or holds a block twice counts past the blocks there are.
		umint Limit = Count.m_nQuick + 1;
		if (Count.m_nQuick != fp_Small.f_CountQuick(Limit) + fp_Medium.f_CountQuick(Limit) + fp_Large.f_CountQuick(Limit))
			return pReason = "quick lists and quick-listed blocks disagree", false;
		return true;
	}

	template <typename t_CHeapParams>
	umint THeap_Combined<t_CHeapParams>::f_GetReservedBytes()
	{
		TCGuard Guard(fp_Lock);
		umint Total = 0;
		for (uint32 i = 0; i < fp_Core.f_GetChunkCount(); ++i)
			Total += fp_Core.f_GetChunk(i)->m_Size;
		return Total;
	}

	template <typename t_CHeapParams>
	uint32 THeap_Combined<t_CHeapParams>::f_GetChunkCount()
	{
		TCGuard Guard(fp_Lock);
		return fp_Core.f_GetChunkCount();
	}

	template <typename t_CHeapParams>
	umint THeap_Combined<t_CHeapParams>::f_GetCommittedBytes()
	{
		TCGuard Guard(fp_Lock);
		umint Total = 0;
		for (uint32 i = 0; i < fp_Core.f_GetChunkCount(); ++i)
		{
			CChunk const &Chunk = *fp_Core.f_GetChunk(i);
			Total += NSys::gf_Mem_CountCommitted(reinterpret_cast<const void *>(Chunk.m_Base), Chunk.m_Size);
		}
		return Total;
	}

	template class THeap_Combined<CProcessHeapParams>;
	template class THeap_Combined<CPrivateHeapParams>;
}
