#pragma once
// Chunks of the small-object heap and what the three class heaps of one heap share: the
// registry that finds the chunk of any pointer, and the pool chunk records come from.
#include "zel/library/core/general/Zel_Types.h"

namespace NZel::NMemory
{
	class ICClassHeap;

	// The virtual memory chunks are made of, through the platform layer (Zel_Sys_Memory.h):
	// reservations committed page run by page run as blocks are carved, and whole free runs
	// decommitted again.
	struct CAllocator_Virtual
	{
		static constexpr bool mc_bCommitOnDemand = true;

		// A reservation of Size bytes (rounded up to the granularity) near the calling thread's
		// earlier ones of the same Placement; with bCommit every page committed at once.
		// Throws NException::CExceptionMemory when no address space is left.
		static void *fs_Reserve(umint Size, umint Placement, bool bCommit);
		static void fs_Commit(void *p, umint Size);
		static void fs_Decommit(void *p, umint Size);
		static void fs_Release(void *p, umint Size, umint Placement);
	};

	// The same memory committed whole when reserved and never decommitted: for small private
	// heaps that should not pay for page bookkeeping.
	struct CAllocator_VirtualNoCommit : CAllocator_Virtual
	{
		static constexpr bool mc_bCommitOnDemand = false;
	};

	// One contiguous run of reserved address space, made of up to mc_MaxReservations adjacent
	// reservations of t_CAllocator (it grows when a new reservation lands right above or below
	// it), and the page commits that respect the reservations' boundaries.
	template <typename t_CAllocator>
	struct THeapChunk
	{
		using CAllocator = t_CAllocator;
		struct CReservation
		{
			umint m_Base;
			umint m_Size;
		};
		static constexpr uint32 mc_MaxReservations = 32;

		umint m_Base = 0;
		umint m_Size = 0;
		uint32 m_nReservations = 0;
		CReservation m_Reservations[mc_MaxReservations] = {}; // ascending

		bool f_Contains(umint Address) const
		{
			return Address > m_Base && Address < m_Base + m_Size;
		}
		umint f_End() const
		{
			return m_Base + m_Size;
		}

		// Commits / decommits the whole pages of [Begin, End) (rounded outwards / inwards), one
		// call per reservation they touch. Both throw CExceptionMemory when the system refuses.
		void f_Commit(umint Begin, umint End) const;
		void f_Decommit(umint Begin, umint End) const;
		// Gives one reservation back; a failure leaves the range reserved and is not reported
		// (nothing depends on it any more).
		static void fs_Release(CReservation const &Reservation, umint Placement) noexcept;
	};

	extern template struct THeapChunk<CAllocator_Virtual>;

	// A chunk of the small-object heap: its reservations, and the class heap that carves it.
	// None of this memory comes from the heap itself.
	struct CChunk : THeapChunk<CAllocator_Virtual>
	{
		ICClassHeap *m_pOwner = nullptr;
		CChunk *m_pNextFree = nullptr;
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

		// The chunk's f_Commit / f_Decommit; no-ops when the heap does not commit on demand.
		void f_CommitRange(CChunk const &Chunk, umint Begin, umint End)
		{
			if (fp_bCommitOnDemand)
				Chunk.f_Commit(Begin, End);
		}
		void f_DecommitRange(CChunk const &Chunk, umint Begin, umint End)
		{
			if (fp_bCommitOnDemand)
				Chunk.f_Decommit(Begin, End);
		}

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
		struct CBlockCount
		{
			umint m_nFree = 0;
			umint m_nQuick = 0;
		};

		// Frees p, a pointer inside Chunk; false, with nothing changed, when p is not a live
		// block (freed already, or never handed out).
		virtual bool f_Free(CChunk &Chunk, void *p) = 0;
		// Whether p, a pointer inside Chunk, is a live block.
		virtual bool f_IsLive(CChunk const &Chunk, void const *p) const = 0;
		virtual umint f_GetUsableSize(void *p) const = 0;
		virtual umint f_GetMaxRequest() const = 0;
		virtual void *f_Alloc(umint Size) = 0;
		// Checks every block of Chunk, counting its free and quick-listed blocks into Count;
		// false with a reason when a header is inconsistent.
		virtual bool f_CheckChunk(CChunk const &Chunk, const char *&pReason, CBlockCount &Count) const = 0;

	protected:
		~ICClassHeap() = default;
	};
}
