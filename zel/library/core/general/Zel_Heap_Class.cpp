#include "zel/library/core/general/Zel_Heap_Class.h"

#include "zel/library/core/runtime/Zel_Sys_Memory.h"

namespace NZel::NMemory
{
	using namespace NSys;
	using NPrivate::fg_Load;
	using NPrivate::fg_Store;

	namespace
	{
		umint fg_Min(umint A, umint B)
		{
			return A < B ? A : B;
		}
		umint fg_Max(umint A, umint B)
		{
			return A > B ? A : B;
		}
		int fg_LowestBit(uint64 Bits)
		{
			return __builtin_ctzll(Bits);
		}
	}

	template <typename t_CParams>
	THeap<t_CParams>::THeap(CHeapCore &Core, umint ChunkStep)
		: fp_Core(Core)
		, fp_ChunkStep(ChunkStep)
	{
	}

	template <typename t_CParams>
	THeap<t_CParams>::~THeap()
	{
		// Every chunk of this class goes back to the system.
		for (uint32 i = fp_Core.f_GetChunkCount(); i-- > 0;)
		{
			CChunk *pChunk = fp_Core.f_GetChunk(i);
			if (pChunk->m_pOwner != this)
				continue;
			for (uint32 r = 0; r < pChunk->m_nReservations; ++r)
				fp_ReleaseReservation(pChunk->m_Reservations[r]);
			fp_Core.f_RemoveChunk(pChunk);
		}
	}

	// ---- headers and links -------------------------------------------------------------

	template <typename t_CParams>
	umint THeap<t_CParams>::fs_BlockSize(uint8 const *pBlock)
	{
		umint Units = t_CParams::fs_Units(pBlock);
		if (Units || t_CParams::fs_State(pBlock) != EBlockState_Free)
			return Units * 16;
		return umint(fg_Load<uint64>(pBlock + mc_HeaderSize + 16)); // a large free block
	}

	template <typename t_CParams>
	uint8 *THeap<t_CParams>::fs_PrevBlock(uint8 *pBlock)
	{
		umint PrevUnits = t_CParams::fs_PrevUnits(pBlock);
		if (PrevUnits)
			return pBlock - PrevUnits * 16;
		return fg_Load<uint8 *>(pBlock - sizeof(void *));
	}

	template <typename t_CParams>
	void THeap<t_CParams>::fs_SetPrevField(uint8 *pBlock, umint PrevUnits)
	{
		t_CParams::fs_Write(pBlock, t_CParams::fs_Units(pBlock), PrevUnits, t_CParams::fs_State(pBlock));
	}

	template <typename t_CParams>
	uint8 *THeap<t_CParams>::fs_LoadLink(uint8 const *pField)
	{
		uint64 Value = 0;
		std::memcpy(&Value, pField, 6);
		return Value ? reinterpret_cast<uint8 *>(umint(Value << 4) - mc_HeaderSize) : nullptr;
	}

	template <typename t_CParams>
	void THeap<t_CParams>::fs_StoreLink(uint8 *pField, uint8 const *pBlock)
	{
		uint64 Value = pBlock ? uint64(umint(pBlock + mc_HeaderSize)) >> 4 : 0;
		std::memcpy(pField, &Value, 6);
	}

	template <typename t_CParams>
	void THeap<t_CParams>::fs_Interior(uint8 const *pBlock, umint Size, umint &Begin, umint &End)
	{
		// The whole commit runs between a free block's front plus its slack and its trailer:
		// decommitted. Everything else of the chunk is committed. A block merged with the free
		// block before it starts where that one started, so its interior begins where that
		// one's began.
		Begin = gf_Mem_RoundUp(umint(pBlock) + mc_Front + mc_Slack, mc_CommitUnit);
		End = gf_Mem_RoundDown(umint(pBlock) + Size - mc_Back, mc_CommitUnit);
		if (End < Begin)
			End = Begin;
	}

	template <typename t_CParams>
	void THeap<t_CParams>::fp_WriteFree(uint8 *pBlock, umint Size, umint PrevUnits)
	{
		umint Units = Size / 16;
		uint8 *pNext = pBlock + Size;
		if (Units > t_CParams::mc_FieldMax)
		{
			t_CParams::fs_Write(pBlock, 0, PrevUnits, EBlockState_Free);
			fg_Store<uint64>(pBlock + mc_HeaderSize + 16, uint64(Size));
			fg_Store<uint8 *>(pNext - sizeof(void *), pBlock);
			fs_SetPrevField(pNext, 0);
		}
		else
		{
			t_CParams::fs_Write(pBlock, Units, PrevUnits, EBlockState_Free);
			fs_SetPrevField(pNext, Units);
		}
	}

	// ---- free lists ----------------------------------------------------------------------

	template <typename t_CParams>
	void THeap<t_CParams>::fp_Link(uint8 *pBlock, umint Size)
	{
		umint Units = Size / 16;
		uint8 **ppHead = &fp_pBucket;
		if (Units < t_CParams::mc_BinCount)
		{
			ppHead = &fp_Bins[Units];
			umint Word = Units >> 6;
			fp_Bits[Word] |= uint64(1) << (Units & 63);
			fp_Summary[Word >> 6] |= uint64(1) << (Word & 63);
		}
		uint8 *pHead = *ppHead;
		fs_StoreLink(pBlock + mc_HeaderSize, pHead);
		fs_StoreLink(pBlock + mc_HeaderSize + 6, nullptr);
		if (pHead)
			fs_StoreLink(pHead + mc_HeaderSize + 6, pBlock);
		*ppHead = pBlock;
	}

	template <typename t_CParams>
	void THeap<t_CParams>::fp_Unlink(uint8 *pBlock, umint Size)
	{
		umint Units = Size / 16;
		uint8 *pNext = fs_LoadLink(pBlock + mc_HeaderSize);
		uint8 *pPrev = fs_LoadLink(pBlock + mc_HeaderSize + 6);
		if (pNext)
			fs_StoreLink(pNext + mc_HeaderSize + 6, pPrev);
		if (pPrev)
		{
			fs_StoreLink(pPrev + mc_HeaderSize, pNext);
			return;
		}
		if (Units >= t_CParams::mc_BinCount)
		{
			fp_pBucket = pNext;
			return;
		}
		fp_Bins[Units] = pNext;
		if (!pNext)
		{
			umint Word = Units >> 6;
			fp_Bits[Word] &= ~(uint64(1) << (Units & 63));
			if (!fp_Bits[Word])
				fp_Summary[Word >> 6] &= ~(uint64(1) << (Word & 63));
		}
	}

	template <typename t_CParams>
	umint THeap<t_CParams>::fp_FindBin(umint Units) const
	{
		// The lowest non-empty exact list at or above Units; mc_BinCount when none.
		umint Word = Units >> 6;
		uint64 Bits = fp_Bits[Word] & (~uint64(0) << (Units & 63));
		if (Bits)
			return (Word << 6) | umint(fg_LowestBit(Bits));
		++Word;
		if (Word >= mc_BinWords)
			return t_CParams::mc_BinCount;
		umint Summary = Word >> 6;
		uint64 SummaryBits = fp_Summary[Summary] & (~uint64(0) << (Word & 63));
		while (!SummaryBits)
		{
			if (++Summary >= mc_SummaryWords)
				return t_CParams::mc_BinCount;
			SummaryBits = fp_Summary[Summary];
		}
		Word = (Summary << 6) | umint(fg_LowestBit(SummaryBits));
		return (Word << 6) | umint(fg_LowestBit(fp_Bits[Word]));
	}

	template <typename t_CParams>
	uint8 *THeap<t_CParams>::fp_FindFree(umint Size)
	{
		umint Units = Size / 16;
		if (Units < t_CParams::mc_BinCount)
		{
			umint Bin = fp_FindBin(Units);
			if (Bin < t_CParams::mc_BinCount)
				return fp_Bins[Bin];
		}
		// Best fit among the blocks too large for the size field.
		uint8 *pBest = nullptr;
		umint BestSize = ~umint(0);
		for (uint8 *pBlock = fp_pBucket; pBlock; pBlock = fs_LoadLink(pBlock + mc_HeaderSize))
		{
			umint BlockSize = fs_BlockSize(pBlock);
			if (BlockSize >= Size && BlockSize < BestSize)
			{
				pBest = pBlock;
				BestSize = BlockSize;
				if (BlockSize == Size)
					break;
			}
		}
		return pBest;
	}

	// ---- allocation ----------------------------------------------------------------------

	template <typename t_CParams>
	void *THeap<t_CParams>::f_Alloc(umint Size)
	{
		if (Size > t_CParams::mc_MaxRequest)
			return nullptr;
		umint Block = fs_BlockSizeFor(Size);
		if (Block <= mc_QuickMax)
		{
			void *&pQuick = fp_Quick[Block / 16 - 1];
			if (void *p = pQuick)
			{
				pQuick = *static_cast<void **>(p);
				t_CParams::fs_SetState(static_cast<uint8 *>(p) - mc_HeaderSize, EBlockState_Used);
				return p;
			}
		}
		else if (Block > 256 && fp_bQuickDirty)
			f_FlushQuickLists();
		uint8 *pBlock = fp_FindFree(Block);
		if (!pBlock)
		{
			fp_AddSpace(Block);
			pBlock = fp_FindFree(Block);
			if (!pBlock)
				return nullptr;
		}
		return fp_Carve(pBlock, Block);
	}

	template <typename t_CParams>
	void *THeap<t_CParams>::fp_Carve(uint8 *pBlock, umint Size)
	{
		umint const FreeSize = fs_BlockSize(pBlock);
		umint Rest = FreeSize - Size;
		if (Rest < t_CParams::mc_MinBlock)
		{
			Size = FreeSize;
			Rest = 0;
		}
		// Commit first: if that throws, nothing has changed yet.
		if (fp_Core.f_CommitsOnDemand())
		{
			umint Begin, End;
			fs_Interior(pBlock, FreeSize, Begin, End);
			if (Begin < End)
			{
				umint Needed = Rest ? fg_Min(End, gf_Mem_RoundUp(umint(pBlock) + Size + mc_Front + mc_Slack, mc_CommitUnit)) : End;
				if (Needed > Begin)
					fp_Core.f_CommitRange(*fp_Core.f_Find(umint(pBlock) + mc_HeaderSize), Begin, Needed);
			}
		}
		fp_Unlink(pBlock, FreeSize);
		umint const PrevUnits = t_CParams::fs_PrevUnits(pBlock);
		if (Rest)
		{
			uint8 *pRest = pBlock + Size;
			fp_WriteFree(pRest, Rest, Size / 16);
			fp_Link(pRest, Rest);
		}
		else
			fs_SetPrevField(pBlock + Size, Size / 16);
		t_CParams::fs_Write(pBlock, Size / 16, PrevUnits, EBlockState_Used);
		return pBlock + mc_HeaderSize;
	}

	// ---- free ----------------------------------------------------------------------------

	template <typename t_CParams>
	bool THeap<t_CParams>::f_IsLive(CChunk const &Chunk, void const *p) const
	{
		// A live block's header says used, and its neighbours agree: the previous block ends
		// where it begins, and the next block's previous-size field is its size. A header left
		// behind inside a block that was merged into its free neighbour still says used, but
		// the merged block's header no longer ends there. The previous block is looked at
		// first: it lies where that merged block keeps its front committed.
		auto const *pBlock = static_cast<uint8 const *>(p) - mc_HeaderSize;
		if (umint(p) % 16)
			return false;
		if constexpr (t_CParams::mc_BinCount == 1)
		{
			// Every free block of this class is on the one list, and its merged blocks keep no
			// slack committed: a header left behind inside one is found there before it is read,
			// since its page is most likely decommitted.
			for (uint8 *pFree = fp_pBucket; pFree; pFree = fs_LoadLink(pFree + mc_HeaderSize))
			{
				if (pBlock > pFree && pBlock < pFree + fs_BlockSize(pFree))
					return false;
			}
		}
		if (t_CParams::fs_State(pBlock) != EBlockState_Used)
			return false;
		umint const Units = t_CParams::fs_Units(pBlock);
		umint const Start = Chunk.m_Base + 16 - mc_HeaderSize; // the start marker
		umint const EndMarker = Chunk.f_End() - mc_HeaderSize;
		if (Units == 0 || umint(pBlock) < Start + 16 || Units * 16 > EndMarker - umint(pBlock))
			return false;
		umint const PrevUnits = t_CParams::fs_PrevUnits(pBlock);
		if (PrevUnits)
		{
			if (PrevUnits * 16 > umint(pBlock) - Start || t_CParams::fs_Units(pBlock - PrevUnits * 16) != PrevUnits)
				return false;
		}
		else
		{
			// A large free block before it, whose start is stored in the word before its header.
			umint const Prev = umint(fg_Load<uint8 const *>(pBlock - sizeof(void *)));
			if (Prev < Start + 16 || Prev >= umint(pBlock) || Prev % 16 != 16 - mc_HeaderSize)
				return false;
			auto const *pPrev = reinterpret_cast<uint8 const *>(Prev);
			if (t_CParams::fs_State(pPrev) != EBlockState_Free || t_CParams::fs_Units(pPrev) != 0 || fs_BlockSize(pPrev) != umint(pBlock) - Prev)
				return false;
		}
		return t_CParams::fs_PrevUnits(pBlock + Units * 16) == Units;
	}

	template <typename t_CParams>
	bool THeap<t_CParams>::f_Free(CChunk &Chunk, void *p)
	{
		uint8 *pBlock = static_cast<uint8 *>(p) - mc_HeaderSize;
		if constexpr (t_CParams::mc_BinCount > 1)
		{
			umint const Units = t_CParams::fs_Units(pBlock);
			if (Units - 1 < mc_QuickMax / 16)
			{
				// A block this small goes through the quick state before it can be merged, so no
				// header of one is left behind saying used: the state tells a second free, and
				// the next block's previous-size field a pointer that is no block at all.
				if (t_CParams::fs_State(pBlock) != EBlockState_Used || umint(p) % 16 ||
					umint(pBlock) + Units * 16 > Chunk.f_End() - mc_HeaderSize || t_CParams::fs_PrevUnits(pBlock + Units * 16) != Units)
					return false; // freed already, or never handed out: the caller reports it
				fp_PushQuick(p, Units);
				return true;
			}
		}
		// The large class looks its free blocks up before it reads the header at all.
		if (!f_IsLive(Chunk, p))
			return false;
		umint const Units = t_CParams::fs_Units(pBlock);
		if (t_CParams::mc_BinCount == 1 && Units - 1 < mc_QuickMax / 16)
			fp_PushQuick(p, Units); // a block of the large class that a resize shrank
		else
			fp_Coalesce(Chunk, pBlock, pBlock + Units * 16, true);
		return true;
	}

	template <typename t_CParams>
	void THeap<t_CParams>::fp_PushQuick(void *p, umint Units)
	{
		void *&pQuick = fp_Quick[Units - 1];
		*static_cast<void **>(p) = pQuick;
		pQuick = p;
		t_CParams::fs_SetState(static_cast<uint8 *>(p) - mc_HeaderSize, EBlockState_Quick);
		fp_bQuickDirty = true;
	}

	template <typename t_CParams>
	void THeap<t_CParams>::f_FlushQuickLists()
	{
		for (void *&pQuick : fp_Quick)
		{
			while (void *p = pQuick)
			{
				pQuick = *static_cast<void **>(p);
				uint8 *pBlock = static_cast<uint8 *>(p) - mc_HeaderSize;
				fp_Coalesce(*fp_Core.f_Find(umint(p)), pBlock, pBlock + t_CParams::fs_Units(pBlock) * 16, true);
			}
		}
		fp_bQuickDirty = false;
	}

	template <typename t_CParams>
	void THeap<t_CParams>::fp_Coalesce(CChunk &Chunk, uint8 *pBegin, uint8 *pEnd, bool bMayRelease)
	{
		// [pBegin, pEnd) falls free; the header at pBegin holds a valid previous-size field.
		// Merge with free neighbours, then decommit the pages that became interior: those of
		// the merged block minus what the neighbours' interiors already had decommitted.
		umint PrevUnits = t_CParams::fs_PrevUnits(pBegin);
		umint Keep = 0, KeepEnd = ~umint(0);
		uint8 *pPrev = fs_PrevBlock(pBegin);
		if (fs_IsFree(t_CParams::fs_State(pPrev)))
		{
			umint PrevSize = fs_BlockSize(pPrev);
			fp_Unlink(pPrev, PrevSize);
			umint Begin, End;
			fs_Interior(pPrev, PrevSize, Begin, End);
			if (Begin < End)
				Keep = End;
			PrevUnits = t_CParams::fs_PrevUnits(pPrev);
			pBegin = pPrev;
		}
		if (fs_IsFree(t_CParams::fs_State(pEnd)))
		{
			umint NextSize = fs_BlockSize(pEnd);
			fp_Unlink(pEnd, NextSize);
			umint Begin, End;
			fs_Interior(pEnd, NextSize, Begin, End);
			if (Begin < End)
				KeepEnd = Begin;
			pEnd += NextSize;
		}
		umint Size = umint(pEnd - pBegin);
		fp_WriteFree(pBegin, Size, PrevUnits);
		fp_Link(pBegin, Size);

		if (fp_Core.f_CommitsOnDemand())
		{
			umint Begin, End;
			fs_Interior(pBegin, Size, Begin, End);
			Begin = fg_Max(Begin, Keep);
			End = fg_Min(End, KeepEnd);
			if (Begin < End)
				fp_Core.f_DecommitRange(Chunk, Begin, End);
		}
		if (!bMayRelease)
			return;
		if (umint(pBegin) == Chunk.m_Base + fs_FirstBlockOffset() && umint(pEnd) == Chunk.f_End() - mc_HeaderSize)
			fp_ChunkEmptied(Chunk);
		else if (Size > 2 * fp_ChunkStep && umint(pEnd) == Chunk.f_End() - mc_HeaderSize)
			fp_TrimTop(Chunk, pBegin);
	}

	// ---- chunks --------------------------------------------------------------------------

	template <typename t_CParams>
	void THeap<t_CParams>::fp_CommitEdges(CChunk const &Chunk, umint Begin, umint End, bool bFront, bool bTrailer)
	{
		umint Limit = End + mc_HeaderSize;
		if (bFront)
			fp_Core.f_CommitRange(Chunk, Begin, fg_Min(gf_Mem_RoundUp(Begin + mc_Front + mc_Slack, mc_CommitUnit), Limit));
		if (bTrailer)
			fp_Core.f_CommitRange(Chunk, fg_Max(gf_Mem_RoundDown(End - mc_Back, mc_CommitUnit), Begin), Limit);
	}

	template <typename t_CParams>
	void THeap<t_CParams>::fp_AddSpace(umint Size)
	{
		// Room for the block and both markers, in whole chunk steps.
		if (Size > ~umint(0) - 2 * fp_ChunkStep)
			return;
		umint Reserve = gf_Mem_RoundUp(fg_Max(Size + 32, fp_ChunkStep), fp_ChunkStep);
		umint Base = umint(CChunk::CAllocator::fs_Reserve(Reserve, t_CParams::mc_PlacementHint, !fp_Core.f_CommitsOnDemand()));
		Reserve = gf_Mem_RoundUp(Reserve, gf_Mem_GetInfo().m_Granularity);
		try
		{
			CChunk *pBelow = fp_Core.f_FindEndingAt(Base);
			CChunk *pAbove = fp_Core.f_FindStartingAt(Base + Reserve);
			if (pBelow && pBelow->m_pOwner == this && pBelow->m_nReservations < CChunk::mc_MaxReservations)
				fp_GrowUp(*pBelow, Base, Reserve);
			else if (pAbove && pAbove->m_pOwner == this && pAbove->m_nReservations < CChunk::mc_MaxReservations)
				fp_GrowDown(*pAbove, Base, Reserve);
			else
				fp_NewChunk(Base, Reserve);
		}
		catch (...)
		{
			fp_ReleaseReservation({Base, Reserve});
			throw;
		}
	}

	template <typename t_CParams>
	void THeap<t_CParams>::fp_NewChunk(umint Base, umint Size)
	{
		umint End = Base + Size;
		CChunk Pending;
		Pending.m_nReservations = 1;
		Pending.m_Reservations[0] = {Base, Size};
		fp_Core.f_CommitRange(Pending, Base, Base + fs_FirstBlockOffset());
		fp_CommitEdges(Pending, Base + fs_FirstBlockOffset(), End - mc_HeaderSize, true, true);
		CChunk &Chunk = *fp_Core.f_AddChunk(this, Base, Size);
		(void)Chunk;
		auto *pStart = reinterpret_cast<uint8 *>(Base + 16 - mc_HeaderSize);
		auto *pEndMarker = reinterpret_cast<uint8 *>(End - mc_HeaderSize);
		auto *pFirst = reinterpret_cast<uint8 *>(Base + fs_FirstBlockOffset());
		t_CParams::fs_Write(pStart, 1, 0, EBlockState_Marker);
		t_CParams::fs_Write(pEndMarker, 0, 0, EBlockState_Marker);
		fp_WriteFree(pFirst, umint(pEndMarker - pFirst), 1);
		fp_Link(pFirst, umint(pEndMarker - pFirst));
	}

	template <typename t_CParams>
	void THeap<t_CParams>::fp_GrowUp(CChunk &Chunk, umint Base, umint Size)
	{
		auto *pOldEnd = reinterpret_cast<uint8 *>(Chunk.f_End() - mc_HeaderSize);
		umint End = Base + Size;
		CChunk Pending = Chunk;
		Pending.m_Reservations[Pending.m_nReservations++] = {Base, Size};
		fp_CommitEdges(Pending, umint(pOldEnd), End - mc_HeaderSize, true, true);

		Chunk.m_Reservations[Chunk.m_nReservations++] = {Base, Size};
		Chunk.m_Size += Size;
		auto *pEndMarker = reinterpret_cast<uint8 *>(End - mc_HeaderSize);
		t_CParams::fs_Write(pEndMarker, 0, 0, EBlockState_Marker);
		// The old end marker becomes the start of the new free space.
		t_CParams::fs_Write(pOldEnd, 0, t_CParams::fs_PrevUnits(pOldEnd), EBlockState_Used);
		fp_Coalesce(Chunk, pOldEnd, pEndMarker, false);
	}

	template <typename t_CParams>
	void THeap<t_CParams>::fp_GrowDown(CChunk &Chunk, umint Base, umint Size)
	{
		auto *pOldFirst = reinterpret_cast<uint8 *>(Chunk.m_Base + fs_FirstBlockOffset());
		CChunk Pending;
		Pending.m_nReservations = 2;
		Pending.m_Reservations[0] = {Base, Size};
		Pending.m_Reservations[1] = Chunk.m_Reservations[0];
		fp_Core.f_CommitRange(Pending, Base, Base + fs_FirstBlockOffset());
		fp_CommitEdges(Pending, Base + fs_FirstBlockOffset(), umint(pOldFirst), true, true);

		for (uint32 i = Chunk.m_nReservations; i > 0; --i)
			Chunk.m_Reservations[i] = Chunk.m_Reservations[i - 1];
		Chunk.m_Reservations[0] = {Base, Size};
		++Chunk.m_nReservations;
		Chunk.m_Base = Base;
		Chunk.m_Size += Size;
		// A new start marker; the old one and the space up to the old first block fall free.
		t_CParams::fs_Write(reinterpret_cast<uint8 *>(Base + 16 - mc_HeaderSize), 1, 0, EBlockState_Marker);
		auto *pFirst = reinterpret_cast<uint8 *>(Base + fs_FirstBlockOffset());
		t_CParams::fs_Write(pFirst, 0, 1, EBlockState_Used);
		fp_Coalesce(Chunk, pFirst, pOldFirst, false);
	}

	template <typename t_CParams>
	bool THeap<t_CParams>::fp_IsWhollyFree(CChunk const &Chunk) const
	{
		auto const *pFirst = reinterpret_cast<uint8 const *>(Chunk.m_Base + fs_FirstBlockOffset());
		return fs_IsFree(t_CParams::fs_State(pFirst)) && fs_BlockSize(pFirst) == Chunk.m_Size - 32;
	}

	template <typename t_CParams>
	void THeap<t_CParams>::fp_ReleaseReservation(CChunk::CReservation const &Reservation)
	{
		CChunk::fs_Release(Reservation, t_CParams::mc_PlacementHint);
	}

	template <typename t_CParams>
	void THeap<t_CParams>::fp_ChunkEmptied(CChunk &Chunk)
	{
		if (fp_pSpare && fp_pSpare != &Chunk && fp_IsWhollyFree(*fp_pSpare))
		{
			fp_ReleaseChunk(Chunk);
			return;
		}
		fp_pSpare = &Chunk;
		if (Chunk.m_nReservations > 1)
			fp_ShrinkTo(Chunk, 1, reinterpret_cast<uint8 *>(Chunk.m_Base + fs_FirstBlockOffset()));
	}

	template <typename t_CParams>
	void THeap<t_CParams>::fp_ReleaseChunk(CChunk &Chunk)
	{
		auto *pFirst = reinterpret_cast<uint8 *>(Chunk.m_Base + fs_FirstBlockOffset());
		fp_Unlink(pFirst, fs_BlockSize(pFirst));
		for (uint32 i = 0; i < Chunk.m_nReservations; ++i)
			fp_ReleaseReservation(Chunk.m_Reservations[i]);
		if (fp_pSpare == &Chunk)
			fp_pSpare = nullptr;
		fp_Core.f_RemoveChunk(&Chunk);
	}

	template <typename t_CParams>
	void THeap<t_CParams>::fp_ShrinkTo(CChunk &Chunk, uint32 nReservations, uint8 *pFree)
	{
		// pFree is the free block that runs to the end marker and covers every reservation
		// from nReservations on; those are released and the end marker moves down.
		CChunk::CReservation const &Last = Chunk.m_Reservations[nReservations - 1];
		umint NewEnd = Last.m_Base + Last.m_Size;
		try
		{
			fp_CommitEdges(Chunk, umint(pFree), NewEnd - mc_HeaderSize, false, true);
		}
		catch (...)
		{
			return; // keep the chunk as it is
		}
		fp_Unlink(pFree, fs_BlockSize(pFree));
		for (uint32 i = nReservations; i < Chunk.m_nReservations; ++i)
			fp_ReleaseReservation(Chunk.m_Reservations[i]);
		Chunk.m_nReservations = nReservations;
		Chunk.m_Size = NewEnd - Chunk.m_Base;
		auto *pEndMarker = reinterpret_cast<uint8 *>(NewEnd - mc_HeaderSize);
		t_CParams::fs_Write(pEndMarker, 0, 0, EBlockState_Marker);
		umint FreeSize = umint(pEndMarker - pFree);
		fp_WriteFree(pFree, FreeSize, t_CParams::fs_PrevUnits(pFree));
		fp_Link(pFree, FreeSize);
	}

	template <typename t_CParams>
	void THeap<t_CParams>::fp_TrimTop(CChunk &Chunk, uint8 *pFree)
	{
		// Release the top reservations that the free block covers whole, keeping at least a
		// block of it below them.
		uint32 nKeep = Chunk.m_nReservations;
		while (nKeep > 1 && umint(pFree) + t_CParams::mc_MinBlock <= Chunk.m_Reservations[nKeep - 1].m_Base - mc_HeaderSize)
			--nKeep;
		if (nKeep < Chunk.m_nReservations)
			fp_ShrinkTo(Chunk, nKeep, pFree);
	}

	// ---- checks --------------------------------------------------------------------------

	template <typename t_CParams>
	bool THeap<t_CParams>::f_CheckChunk(CChunk const &Chunk, const char *&pReason, CBlockCount &Count) const
	{
		auto const *pStart = reinterpret_cast<uint8 const *>(Chunk.m_Base + 16 - mc_HeaderSize);
		auto const *pEndMarker = reinterpret_cast<uint8 const *>(Chunk.f_End() - mc_HeaderSize);
		if (t_CParams::fs_State(pStart) != EBlockState_Marker || t_CParams::fs_Units(pStart) != 1)
			return pReason = "start marker damaged", false;
		if (t_CParams::fs_State(pEndMarker) != EBlockState_Marker)
			return pReason = "end marker damaged", false;
		auto const *pBlock = reinterpret_cast<uint8 const *>(Chunk.m_Base + fs_FirstBlockOffset());
		uint8 const *pPrev = pStart;
		umint PrevSize = 16;
		bool bPrevFree = false;
		bool bPrevLarge = false;
		for (;;)
		{
			umint PrevField = t_CParams::fs_PrevUnits(pBlock);
			if (PrevField ? PrevField * 16 != PrevSize : (!bPrevLarge || fg_Load<uint8 const *>(pBlock - sizeof(void *)) != pPrev))
				return pReason = "previous-size field does not match the previous block", false;
			if (pBlock == pEndMarker)
				return true;
			uint32 State = t_CParams::fs_State(pBlock);
			umint Size = fs_BlockSize(pBlock);
			if (State == EBlockState_Marker)
				return pReason = "marker inside the chunk", false;
			if (Size < t_CParams::mc_MinBlock || Size % 16 || Size > umint(pEndMarker - pBlock))
				return pReason = "block size out of range", false;
			if ((umint(pBlock) + mc_HeaderSize) % 16)
				return pReason = "user data not 16-byte aligned", false;
			bool const bFree = fs_IsFree(State);
			bool const bLarge = bFree && t_CParams::fs_Units(pBlock) == 0;
			if (bFree)
			{
				if (bPrevFree)
					return pReason = "two free blocks side by side", false;
				if (bLarge != (Size / 16 > t_CParams::mc_FieldMax))
					return pReason = "free block in the wrong state for its size", false;
				++Count.m_nFree;
			}
			else if (State == EBlockState_Quick)
			{
				if (Size > mc_QuickMax)
					return pReason = "quick-listed block too large for the quick lists", false;
				++Count.m_nQuick;
			}
			pPrev = pBlock;
			PrevSize = Size;
			bPrevFree = bFree;
			bPrevLarge = bLarge;
			pBlock += Size;
		}
	}

	template <typename t_CParams>
	umint THeap<t_CParams>::f_CountListed() const
	{
		umint n = 0;
		auto fCount = [&n](uint8 *pBlock) {
			for (; pBlock; pBlock = fs_LoadLink(pBlock + mc_HeaderSize))
				++n;
		};
		for (uint8 *pHead : fp_Bins)
			fCount(pHead);
		fCount(fp_pBucket);
		return n;
	}

	template <typename t_CParams>
	umint THeap<t_CParams>::f_CountQuick(umint Limit) const
	{
		umint n = 0;
		for (void *pHead : fp_Quick)
		{
			for (void *p = pHead; p && n < Limit; p = *static_cast<void **>(p))
				++n;
		}
		return n;
	}

	template class THeap<CParams8Bit>;
	template class THeap<CParams16Bit>;
	template class THeap<CParamsArchSize>;
}
