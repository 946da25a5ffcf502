#pragma once
// THeap: one size class of the small-object heap (see Zel_Heap_Block.h for its headers).
//
// Free structures:
// - quick lists: five singly linked lists of freed 16, 32, 48, 64 and 80-byte blocks, in the
//   quick state while cached there (neither live nor mergeable), so the commonest sizes come
//   and go with one list operation (80 bytes is the block of a 64-byte request: the header
//   takes two bytes);
// - exact lists: one doubly linked list per block size the header can encode, found through a
//   two-level bitmap, so "the smallest free block of at least this size" is a few bit scans;
// - one best-fit list for free blocks too large for the header's size field;
// - the spare: one chunk that fell wholly free and stays reserved.
//
// Not thread-safe: THeap_Combined calls it under its lock.
#include "zel/library/core/general/Zel_Heap_Block.h"
#include "zel/library/core/general/Zel_Heap_Chunk.h"

namespace NZel::NMemory
{
	template <typename t_CParams>
	class THeap final : public ICClassHeap
	{
	public:
		static constexpr umint mc_HeaderSize = t_CParams::mc_HeaderSize;
		// The largest block the quick lists cache.
		// Five lists rather than four, on purpose: 80 bytes is the block of a 64-byte request.
		static constexpr umint mc_QuickMax = 80;

		THeap(CHeapCore &Core, umint ChunkStep);
		~THeap();
		THeap(THeap const &) = delete;
		THeap &operator=(THeap const &) = delete;

		// Null when the class cannot hold Size or no block could be found after adding a chunk;
		// throws CExceptionMemory when address space or memory runs out.
		void *f_Alloc(umint Size) override;
		bool f_Free(CChunk &Chunk, void *p) override;
		bool f_IsLive(CChunk const &Chunk, void const *p) const override;
		umint f_GetUsableSize(void *p) const override
		{
			return fs_BlockUnits(static_cast<uint8 *>(p) - mc_HeaderSize) * 16 - mc_HeaderSize;
		}
		umint f_GetMaxRequest() const override
		{
			return t_CParams::mc_MaxRequest;
		}
		bool f_CheckChunk(CChunk const &Chunk, const char *&pReason, CBlockCount &Count) const override;

		// The block size a request of Size bytes gets.
		static umint fs_BlockSizeFor(umint Size)
		{
			umint Block = (Size + mc_HeaderSize + 15) & ~umint(15);
			return Block < t_CParams::mc_MinBlock ? t_CParams::mc_MinBlock : Block;
		}
		// Free blocks in the lists (quick lists not counted): for the consistency check.
		umint f_CountListed() const;
		// Blocks in the quick lists, counting no further than Limit (a list may loop).
		umint f_CountQuick(umint Limit) const;
		// Gives every quick-listed block back to the free structures.
		void f_FlushQuickLists();
		CChunk const *f_GetSpare() const
		{
			return fp_pSpare;
		}

	private:
		static constexpr umint mc_Front = mc_HeaderSize + 24; // header, links, large size
		static constexpr umint mc_Back = 8;                    // the start-address trailer
		// Pages are committed and decommitted in aligned runs of this size, deliberately not
		// page by page: a block carved or freed across a run's edge costs one system call per
		// run rather than one per page, and each call is far dearer than the heap operation
		// itself (measured under Wine, page by page made carving and freeing 100 to 200 times
		// slower).
		static constexpr umint mc_CommitUnit = 0x10000;
		// Every free block keeps this much after its front committed, deliberately rather than
		// decommitting every whole free page at once, so that allocating and freeing the same
		// blocks over and over (at the chunk's end, or in a hole between live blocks) does not
		// decommit and fault in the same pages each time: a fresh page costs a page fault, far
		// dearer than the heap operation. The large class, whose blocks span many runs anyway,
		// keeps none.
		static constexpr umint mc_Slack = t_CParams::mc_PlacementHint == 1 ? 0 : 0x40000;
		static constexpr umint mc_BinWords = (t_CParams::mc_BinCount + 63) / 64;
		static constexpr umint mc_SummaryWords = (mc_BinWords + 63) / 64;

		static umint fs_BlockUnits(uint8 const *pBlock)
		{
			return t_CParams::fs_Units(pBlock);
		}
		static umint fs_BlockSize(uint8 const *pBlock);
		static uint8 *fs_PrevBlock(uint8 *pBlock);
		static void fs_SetPrevField(uint8 *pBlock, umint PrevUnits);
		static uint8 *fs_LoadLink(uint8 const *pField);
		static void fs_StoreLink(uint8 *pField, uint8 const *pBlock);
		static void fs_Interior(uint8 const *pBlock, umint Size, umint &Begin, umint &End);
		static bool fs_IsFree(uint32 State)
		{
			return State == EBlockState_Free;
		}
		static umint fs_FirstBlockOffset()
		{
			return 32 - mc_HeaderSize;
		}

		void fp_WriteFree(uint8 *pBlock, umint Size, umint PrevUnits);
		void fp_PushQuick(void *p, umint Units);
		void fp_Link(uint8 *pBlock, umint Size);
		void fp_Unlink(uint8 *pBlock, umint Size);
		uint8 *fp_FindFree(umint Size);
		umint fp_FindBin(umint Units) const;
		void *fp_Carve(uint8 *pBlock, umint Size);
		void fp_Coalesce(CChunk &Chunk, uint8 *pBegin, uint8 *pEnd, bool bMayRelease);
		// Commits what a free block [pBegin, pEnd) keeps committed outside its interior: its
		// front run and (with bTrailer) its trailer run up to the next block's header.
		void fp_CommitEdges(CChunk const &Chunk, umint Begin, umint End, bool bFront, bool bTrailer);
		void fp_AddSpace(umint Size);
		void fp_NewChunk(umint Base, umint Size);
		void fp_GrowUp(CChunk &Chunk, umint Base, umint Size);
		void fp_GrowDown(CChunk &Chunk, umint Base, umint Size);
		void fp_ChunkEmptied(CChunk &Chunk);
		bool fp_IsWhollyFree(CChunk const &Chunk) const;
		void fp_ReleaseChunk(CChunk &Chunk);
		void fp_ReleaseReservation(CChunk::CReservation const &Reservation);
		void fp_ShrinkTo(CChunk &Chunk, uint32 nReservations, uint8 *pFree);
		void fp_TrimTop(CChunk &Chunk, uint8 *pFree);

		CHeapCore &fp_Core;
		umint const fp_ChunkStep;
		void *fp_Quick[mc_QuickMax / 16] = {};
		bool fp_bQuickDirty = false;
		CChunk *fp_pSpare = nullptr;
		uint8 *fp_pBucket = nullptr;
		uint64 fp_Bits[mc_BinWords] = {};
		uint64 fp_Summary[mc_SummaryWords] = {};
		uint8 *fp_Bins[t_CParams::mc_BinCount] = {};
	};

	extern template class THeap<CParams8Bit>;
	extern template class THeap<CParams16Bit>;
	extern template class THeap<CParamsArchSize>;
}
