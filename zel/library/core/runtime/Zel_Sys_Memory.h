#pragma once
// Platform layer for virtual memory: reserving address space, committing and decommitting
// pages, releasing reservations, and asking what lies at an address.
//
// Contract
// - The functions without "Try" throw NException::CExceptionMemory on failure, with the
//   message "Windows returned an error from <call>: <system error text>" (VirtualAlloc,
//   VirtualFree or VirtualQuery); they never return a failure.
// - Reservations are aligned to the allocation granularity; commit and decommit work on whole
//   pages and may cover several reservations (each reservation is asked separately).
// - Committing pages that are already committed, and decommitting pages that are not, is
//   harmless.
// - Placement: 0 asks for no particular address (the highest free one, like MEM_TOP_DOWN);
//   1 and 2 place the reservation next to the calling thread's earlier reservations of the
//   same placement (see Zel_ThreadPlacement.h); any other value is an address to try first.
//   A placed attempt that fails always falls back to an unplaced one.
// - gf_Mem_HeapCorruption never returns: it ends the process (see there).
#include "zel/library/core/general/Zel_Types.h"

namespace NZel::NSys
{
	enum class EMemAllocation : uint32
	{
		Reserve, // address space only; pages are committed separately
		Commit,  // address space with every page committed
	};

	struct CMemoryInfo
	{
		umint m_PageSize;
		umint m_Granularity;
		umint m_MinAddress;
		umint m_MaxAddress; // last usable byte
	};
	// GetSystemInfo, read once.
	CMemoryInfo const &gf_Mem_GetInfo();

	umint gf_Mem_RoundUp(umint Value, umint Step);
	umint gf_Mem_RoundDown(umint Value, umint Step);

	// A reservation of Size bytes (rounded up to the granularity). Throws when no address
	// space is left.
	void *AllocVirtualMemory(umint Size, umint Placement, EMemAllocation Type);
	void gf_Mem_VirtualCommit(void *pAddress, umint Size);
	void gf_Mem_VirtualDecommit(void *pAddress, umint Size);
	// Bytes from pAddress's region base to the end of its region (VirtualQuery's region size).
	umint gf_Mem_VirtualSize(void *pAddress);
	// Releases the whole reservation at pAddress, Size bytes long, that was made with
	// Placement (which keeps the calling thread's placement frontiers right).
	void gf_Mem_VirtualFree(void *pAddress, umint Size, umint Placement);

	// What VirtualQuery says about the region holding pAddress.
	struct CMemoryRegion
	{
		umint m_Base;
		umint m_Size;
		umint m_AllocationBase;
		bool m_bFree;
		bool m_bCommitted;
	};
	bool gf_Mem_QueryRegion(const void *pAddress, CMemoryRegion &Region);

	// Committed bytes in [pBegin, pBegin + Size): for tests and diagnostics.
	umint gf_Mem_CountCommitted(const void *pBegin, umint Size);

	// What the system's own heap raises when it finds itself misused or damaged.
	inline constexpr uint32 gc_StatusHeapCorruption = 0xC0000374;

	// Ends the process because a heap was asked to free pAddress, which is not one of its live
	// blocks (freed already, or never handed out), or found its own structures damaged. Windows:
	// raises gc_StatusHeapCorruption, non-continuable, with pAddress as its one parameter, so
	// the unhandled-exception filter (the crash reporter) logs it with the caller's stack.
	// Elsewhere: writes "heap corruption: <address> is not a live block" to the standard error
	// and aborts. Takes no lock and allocates nothing.
	[[noreturn]] void gf_Mem_HeapCorruption(const void *pAddress);

	// Test hook: the next nCommits commits (gf_Mem_VirtualCommit) of the process fail as they do
	// at the system's commit limit; later ones are made again. 0 ends the refusals.
	void gf_Mem_RefuseNextCommits(uint32 nCommits);

	namespace NPlatform
	{
		// One reservation attempt at pAddress (null: anywhere; bTopDown: highest free address).
		// Null on failure, with the system's last error set.
		void *gf_Mem_TryAlloc(void *pAddress, umint Size, EMemAllocation Type, bool bTopDown);
		bool gf_Mem_TryCommit(void *pAddress, umint Size);
		bool gf_Mem_TryDecommit(void *pAddress, umint Size);
		bool gf_Mem_TryRelease(void *pAddress, umint Size);
		// Sets the calling thread's last error to what a commit refused at the commit limit
		// leaves there.
		void gf_Mem_SetCommitLimitError();
		CMemoryInfo gf_Mem_ReadInfo();
		// Whether placement near a thread's home is worth trying on this platform.
		bool gf_Mem_SupportsPlacement();
	}
}
