#pragma once
// Per-thread placement of reservations: each thread gets a home address in the largest free
// range of the address space, and the reservations it makes with placement 1 or 2 are laid
// next to each other around that home, so that a heap's chunks can grow in place.
//
//   lower bound                home                       home + gap/4
//        |<-- placement 1 grows down --|-- placement 2 grows up -->|-- placement 2, second run -->
//                                      |-- placement 1 grows up (when the room below is gone)
//
// A placed attempt that fails falls back to an unplaced reservation, so placement decides
// only where memory lies, never whether it is had.
//
// Each thread's record (CThreadInfo) sits in a TLS slot of its own, made with virtual memory
// and never with the heap: the heap asks for placement while it holds its lock, so making the
// record must neither allocate from the heap nor take a lock that a heap caller may hold.
#include "zel/library/core/general/Zel_Lock.h"
#include "zel/library/core/runtime/Zel_Sys_Memory.h"

namespace NZel::NThreadPlacement
{
	struct CThreadInfo
	{
		umint m_StackEnd = 0;
		umint m_Home = 0;
		umint m_LowerBound = 0;
		umint m_DownFrontier1 = 0;
		umint m_UpFrontier1 = 0;
		umint m_UpFrontier2 = 0;
		umint m_SecondFrontier2 = 0;
	};

	class CPlacementContext
	{
	public:
		// Scans the address space for its largest free range.
		CPlacementContext();
		~CPlacementContext();
		CPlacementContext(CPlacementContext const &) = delete;
		CPlacementContext &operator=(CPlacementContext const &) = delete;

		// The calling thread's record, made (with its home) on first use.
		CThreadInfo &f_GetCallingThread();
		// Null when the calling thread has no record yet.
		CThreadInfo *f_GetCallingThreadIfMade() const;
		// Frees the calling thread's record and gives its home back.
		void f_ReleaseCallingThread();

		// Placement is off: every reservation goes wherever the system puts it.
		bool f_IsDisabled() const
		{
			return fp_bDisabled;
		}
		void f_SetDisabled(bool bDisabled)
		{
			fp_bDisabled = bDisabled;
		}

		umint f_GetRangeBegin() const
		{
			return fp_RangeBegin;
		}
		umint f_GetRangeEnd() const
		{
			return fp_RangeEnd;
		}

	private:
		umint fp_TakeHome(umint &LowerBound, umint &GapEnd);

		static constexpr int32 mc_MaxHomes = 256;

		NThread::CLock fp_ThreadRecordsLock;
		umint fp_Homes[mc_MaxHomes] = {}; // ascending
		int32 fp_nHomes = 0;
		umint fp_RangeBegin = 0;
		umint fp_RangeEnd = 0;
		uint32 fp_TlsIndex = 0;
		bool fp_bDisabled = false;
	};

	// AllocVirtualMemory's placed attempts (placement 1 or 2) for the calling thread: null when
	// placement is off or no placed address was free.
	void *gf_TryPlacedAlloc(umint Size, umint Placement, NSys::EMemAllocation Type);
	// Keeps the calling thread's frontiers right when a placed reservation is released.
	void gf_NoteRelease(void *pAddress, umint Size, umint Placement);
}
