#pragma once
// The one seam through which the foundation library's strings and the format engine get heap
// memory. A different heap plugs in here without touching the code that allocates.
#include "zel/library/core/general/Zel_Types.h"

namespace NZel::NMemory
{
	class CAllocator_Heap
	{
	public:
		// A block of at least Size bytes, or null when the heap has no room. Size 0 gives a
		// valid, freeable block.
		static void *f_Alloc(umint Size);
		// Resizes p (null behaves as f_Alloc). On failure returns null and p stays valid and
		// unchanged, so a caller never loses what it had.
		static void *f_Realloc(void *p, umint Size);
		// Gives p back; null is ignored.
		static void f_Free(void *p);
		// Gives p back, when the caller knows that p has room for at least Size bytes. A small
		// block is kept aside by the calling thread (one per 16-byte size step) and handed
		// straight to its next f_Alloc that fits it, so that a block freed and allocated again
		// and again, as short strings are, costs no call into the heap. A thread's kept blocks
		// go back to the heap when it ends.
		static void f_Free(void *p, umint Size);
		// The number of bytes the caller may use in p: at least what was asked for.
		static umint f_GetSize(const void *p);

		// Test hook: how many successful f_Alloc and f_Realloc calls this process made, so a
		// test can prove that a code path allocates nothing (or exactly what it should).
		static uint64 fs_GetAllocationCount();
		// Test hook: blocks handed out by f_Alloc and not yet freed, over the whole process.
		static int64 fs_GetLiveBlockCount();
		// Test hook: how many f_Alloc and f_Realloc calls returned null, so a test can tell
		// whether a result was cut short by a refused allocation.
		static uint64 fs_GetRefusedCount();
		// Test hook: how many blocks the calling thread keeps aside.
		static int32 fs_GetKeptBlockCount();
		// Test hook: how many kept blocks went back to the heap because their thread ended.
		static uint64 fs_GetKeptReleasedCount();
		// Test hook: while set above 0, that many further allocations succeed and the next
		// ones fail (returning null) until the hook is reset with -1.
		static void fs_SetFailAfter(int64 nAllocations);
		// Test hook: requests above MaxSize bytes fail (0: no limit), so that tests and fuzzers
		// can drive the out-of-memory paths without exhausting the machine.
		static void fs_SetSizeLimit(umint MaxSize);
	};
}
