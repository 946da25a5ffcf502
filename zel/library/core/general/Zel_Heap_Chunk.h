#pragma once
// Chunks of the small-object heap and what the three class heaps of one heap share: the
// registry that finds the chunk of any pointer, the pool chunk records come from, and page
// commits that respect reservation boundaries.
//
// A chunk is one contiguous run of reserved address space, made of up to
// CChunk::mc_MaxReservations adjacent reservations (it grows when a new reservation lands
// right above or below it). None of this memory comes from the heap itself.
#include "zel/library/core/general/Zel_Types.h"

namespace NZel::NMemory
{
	class ICClassHeap;

	struct CChunk
	{
		struct CReservation
		{
			umint m_Base;
			umint m_Size;
		};
		static constexpr uint32 mc_MaxReservations = 32;

		umint m_Base = 0;
		umint m_Size = 0;
		ICClassHeap *m_pOwner = nullptr;
		uint32 m_nReservations = 0;
		CReservation m_Reservations[mc_MaxReservations] = {}; // ascending
		CChunk *m_pNextFree = nullptr;

		bool f_Contains(umint Address) const
		{
			return Address > m_Base && Address < m_Base + m_Size;
		}
		umint f_End() const
		{
			return m_Base + m_Size;
		}
	};

	class CHeapCore
	{
	public:
		// bCommitOnDemand: reservations are committed page by page as blocks are carved, and
		// whole free pages decommitted; otherwise every reservation is committed at once.
		explicit CHeapCore(bool bCommitOnDemand);
		~CHeapCore();
		CHeapCore(CHeapCore const &) = delete;
		CHeapCore &operator=(CHeapCore const &) = delete;

		bool f_CommitsOnDemand() const
		{
			return fp_bCommitOnDemand;
		}

		// The chunk holding Address, or null.
		CChunk *f_Find(umint Address)
		{
			CChunk *pLast = fp_pLastFound;
			if (pLast && pLast->f_Contains(Address))
				return pLast;
			return fp_FindSlow(Address);
		}
		// The chunk that ends exactly at Address / begins exactly at Address, or null.
		CChunk *f_FindEndingAt(umint Address);
		CChunk *f_FindStartingAt(umint Address);

		// A new chunk over one reservation, registered.
		CChunk *f_AddChunk(ICClassHeap *pOwner, umint Base, umint Size);
		// Unregisters and frees the record (the reservations are the caller's to release).
		void f_RemoveChunk(CChunk *pChunk);

		// Commits / decommits the whole pages of [Begin, End) (rounded outwards / inwards), one
		// call per reservation of pChunk. No-ops when the heap does not commit on demand.
		void f_CommitRange(CChunk const &Chunk, umint Begin, umint End);
		void f_DecommitRange(CChunk const &Chunk, umint Begin, umint End);

		uint32 f_GetChunkCount() const
		{
			return fp_nChunks;
		}
		CChunk *f_GetChunk(uint32 i) const
		{
			return fp_pChunks[i];
		}

	private:
		CChunk *fp_FindSlow(umint Address);
		uint32 fp_LowerBound(umint Base) const;
		void fp_Grow();

		bool const fp_bCommitOnDemand;
		CChunk **fp_pChunks = nullptr; // ascending by base
		uint32 fp_nChunks = 0;
		uint32 fp_Capacity = 0;
		umint fp_ArraySize = 0;
		CChunk *fp_pLastFound = nullptr;
		CChunk *fp_pFreeRecords = nullptr;
		CChunk *fp_pRecordPages = nullptr;
	};

	// The part of a class heap that a chunk calls back (the chunk's operations).
	class ICClassHeap
	{
	public:
		virtual void f_Free(CChunk &Chunk, void *p) = 0;
		virtual umint f_GetUsableSize(void *p) const = 0;
		virtual umint f_GetMaxRequest() const = 0;
		virtual void *f_Alloc(umint Size) = 0;
		// Checks every block of Chunk; false with a reason when a header is inconsistent.
		virtual bool f_CheckChunk(CChunk const &Chunk, const char *&pReason, umint &nFree) const = 0;

	protected:
		~ICClassHeap() = default;
	};
}
