#pragma once
// Contract of the platform heap under CAllocator_Heap (one implementation per platform):
// gf_HeapAlloc gives at least Size bytes or null; gf_HeapRealloc gives null on failure and
// leaves p untouched; gf_HeapFree takes a non-null block; gf_HeapSize gives the usable size of
// a non-null block, at least the size last asked for. gf_GetThreadKeptBlocks gives the calling
// thread's record of kept blocks (made at its first call, null when it cannot be made, or once
// the thread is ending); when the thread ends, the blocks in it go back with gf_HeapFree.
#include "zel/library/core/general/Zel_Types.h"

namespace NZel::NMemory::NPlatform
{
	void *gf_HeapAlloc(umint Size);
	void *gf_HeapRealloc(void *p, umint Size);
	void gf_HeapFree(void *p);
	umint gf_HeapSize(const void *p);

	// Small blocks kept aside by the sized CAllocator_Heap::f_Free: slot i holds at most one
	// block with room for at least (i + 1) * mc_Step bytes.
	struct CKeptBlocks
	{
		static constexpr umint mc_Step = 16;
		static constexpr umint mc_Slots = 16;
		void *m_pBlocks[mc_Slots];
	};
	CKeptBlocks *gf_GetThreadKeptBlocks();
	// The block in slot i of the calling thread's record, taken out of it; null when there is none.
	void *gf_TakeKeptBlock(umint i);
	// Puts p into slot i of the calling thread's record; false when the slot is taken or the
	// thread keeps nothing.
	bool gf_KeepBlock(umint i, void *p);
	// Gives the blocks of a thread's record back to the heap, at the thread's end.
	void gf_ReleaseKeptBlocks(CKeptBlocks &Kept);
}
