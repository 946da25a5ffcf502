#pragma once
// The small-object heap: THeap_Combined sends each request to one of three size classes
// (Zel_Heap_Block.h) under one lock, and finds the chunk of any pointer in its registry.
//
//   request n        class             block             header
//   n <= 2014        CParams8Bit       n + 2 -> x16      2 bytes
//   n <= 524252      CParams16Bit      n + 4 -> x16      4 bytes
//   larger           CParamsArchSize   n + 8 -> x16      8 bytes
//
// Chunks (CChunk, Zel_Heap_Chunk.h) are reserved in 4 MiB steps. With CAllocator_Virtual
// their pages are committed as blocks are carved and decommitted as whole runs fall free; one
// wholly free chunk per class stays as the spare. CAllocator_VirtualNoCommit commits each
// reservation whole and never decommits: for small private heaps that should not pay for
// page bookkeeping.
//
// Departures from a heap that commits page by page and caches four quick lists, kept on
// purpose because they were measured:
// - pages are committed and decommitted in aligned 64 KiB runs, not page by page: under Wine
//   each call costs far more than the heap operation, and page by page made carving and
//   freeing 100 to 200 times slower;
// - every free block of the two small classes keeps the first 256 KiB after its front
//   committed, so blocks carved and freed over and over in the same place do not fault the
//   same pages in again each time;
// - five quick lists (16 to 80-byte blocks), not four: 80 bytes is the block of a 64-byte
//   request, which would otherwise be merged with its neighbours at every free and split off
//   again at every allocation (in the Windows benchmark an allocation and free through a
//   quick list takes about 33 ns, through the free lists about 125 ns).
//
// Misuse that is caught. Freeing (or resizing) a pointer inside a chunk that is not a live
// block is heap corruption: the process ends through NSys::gf_Mem_HeapCorruption (on Windows
// STATUS_HEAP_CORRUPTION, which the crash reporter logs with the caller's stack), before the
// heap changes anything. That covers
// - a block freed twice while it waits in a quick list (16 to 80 bytes), which would
//   otherwise be handed out twice;
// - a block freed twice after it was merged into a free neighbour, or is free itself;
// - a pointer into the middle of a block (unless the bytes before it happen to read as a
//   header its neighbours agree with), or one not 16-byte aligned.
// What is not caught:
// - a second free after the memory was handed out again: it frees the new owner's block;
// - a second free of a block of the two small classes whose header lies in pages decommitted
//   since (its space merged deep into a free block, beyond the 256 KiB kept committed): that
//   read faults, and the process ends with an access violation instead (the large class looks
//   its few free blocks up first, so there it is caught);
// - pointers outside every chunk, which are not ours and are ignored;
// - writes past a block's end or after its free, unless they damage a header that a later
//   free checks.
#include "zel/library/core/general/Zel_Heap_Class.h"
#include "zel/library/core/general/Zel_Lock.h"

namespace NZel::NMemory
{
	// Locks like t_CLock, but first spins a little on f_TryLock: a heap operation holds the lock
	// for far less time than a waiting CLock spends going through its kernel semaphore, and a
	// thread that only spins is never handed the lock through that semaphore.
	template <typename t_CLock>
	class TMutual
	{
	public:
		void f_Lock()
		{
			for (int i = 0; i < mc_SpinCount; ++i)
			{
				if (fp_Lock.f_TryLock())
					return;
#if defined(__x86_64__) || defined(__i386__)
				__builtin_ia32_pause();
#endif
			}
			fp_Lock.f_Lock();
		}
		void f_Unlock()
		{
			fp_Lock.f_Unlock();
		}

	private:
		static constexpr int mc_SpinCount = 100;
		t_CLock fp_Lock;
	};

	template <umint t_ChunkStep, typename t_CAllocator, typename t_CLock>
	struct THeapParams
	{
		static constexpr umint mc_ChunkStep = t_ChunkStep;
		using CAllocator = t_CAllocator;
		using CLock = t_CLock;
	};

	template <typename t_CHeapParams>
	class THeap_Combined
	{
	public:
		THeap_Combined();
		// Gives every chunk back to the system.
		~THeap_Combined();
		THeap_Combined(THeap_Combined const &) = delete;
		THeap_Combined &operator=(THeap_Combined const &) = delete;

		// A 16-byte aligned block of at least Size bytes. Null when no class can hold Size;
		// throws NException::CExceptionMemory when address space or memory is exhausted.
		void *f_Alloc(umint Size);
		// Null and pointers outside every chunk are ignored; a pointer inside a chunk that is
		// not a live block ends the process as heap corruption (see above).
		void f_Free(void *p);
		// Resize keeping contents: the first min(old usable size, Size) bytes move along. Null
		// p allocates. On failure returns null and p stays valid and unchanged. A p that is not
		// a live block is treated as f_Free treats it.
		void *f_Resize(void *p, umint Size);
		// Resize without keeping contents: p is freed first, then a block allocated. Null p
		// allocates. On failure returns null, and p is gone all the same.
		void *f_ResizeDiscard(void *p, umint Size);
		// Bytes the caller may use in p (block size minus header); 0 for null or foreign p.
		umint f_GetUsableSize(const void *p);
		bool f_Owns(const void *p);
		// The chunk holding p, or null: a snapshot for tests and diagnostics.
		CChunk const *f_FindChunk(const void *p);

		// Gives the blocks cached in the quick lists back to the free structures (otherwise
		// that happens at the next request above 256 bytes), so emptied chunks are released.
		void f_FlushQuickLists();

		// Walks every chunk and checks the block headers and free lists; on failure pReason
		// says what is wrong.
		bool f_Check(const char *&pReason);
		// Reserved bytes over all chunks, and how many chunks there are.
		umint f_GetReservedBytes();
		uint32 f_GetChunkCount();
		// Committed bytes over all chunks (asks the system, page by page region).
		umint f_GetCommittedBytes();

	private:
		using CLock = typename t_CHeapParams::CLock;

		ICClassHeap *fp_ClassFor(umint Size);
		// Under the lock: the class a resize of live block p to Size allocates from, and p's
		// usable size; null when p lies outside every chunk. bLive tells whether p is live.
		ICClassHeap *fp_ClassForResize(void *p, umint Size, umint &Usable, bool &bLive);
		// Both resizes: with bKeep the contents move and a failed allocation keeps p; without,
		// p is freed first.
		void *fp_Resize(void *p, umint Size, bool bKeep);

		CLock fp_Lock;
		CHeapCore fp_Core;
		THeap<CParams8Bit> fp_Small;
		THeap<CParams16Bit> fp_Medium;
		THeap<CParamsArchSize> fp_Large;
	};

	// The process heap, and the private heap of the symbol engine.
	using CProcessHeapParams = THeapParams<0x400000, CAllocator_Virtual, TMutual<NThread::CLock>>;
	using CPrivateHeapParams = THeapParams<0x400000, CAllocator_VirtualNoCommit, NThread::CLock>;
	using CProcessHeap = THeap_Combined<CProcessHeapParams>;
	using CPrivateHeap = THeap_Combined<CPrivateHeapParams>;

	extern template class THeap_Combined<CProcessHeapParams>;
	extern template class THeap_Combined<CPrivateHeapParams>;
}
