#pragma once
// The process-wide system object: one per process, owning what the foundation library shares
// between all threads.
//
// Construction order (each part may use the ones above it, never those below):
//   1. placement context   - thread homes for placed reservations; needs no heap
//   2. process heap        - from here on every operator new of the process is served
//   3. event link pool     - nodes that forward one event's signals to another
//   4. thread storage      - per-thread values by key
//   5. crash-report settings
//   6. clock               - started at once, over the system's time sources
//   7. timer context       - its thread starts with the first timer; links its wake event
//                            through the event link pool
//
// It is made by gf_GetSystem before the first allocation (on Windows the first operator new
// asks for it, and start-up makes it before any static constructor of the program), in one
// block of virtual memory, and never destroyed: objects whose destructors run late in process
// exit (static locks, events, thread records, the blocks they free) may still use it then.
// While it is being made, the making thread already reaches the parts made so far.
#include "zel/library/core/general/Zel_Types.h"

#include <atomic>

namespace NZel
{
	namespace NThread
	{
		class CEventLinkPool;
	}
	namespace NThreadPlacement
	{
		class CPlacementContext;
	}
	namespace NTime
	{
		class CClock;
		class CClockSourceSystem;
		class CTimerContext;
	}
	namespace NMemory
	{
		template <umint t_ChunkStep, typename t_CAllocator, typename t_CLock>
		struct THeapParams;
		template <typename t_CLock>
		class TMutual;
		template <typename t_CHeapParams>
		class THeap_Combined;
		struct CAllocator_Virtual;
	}
	namespace NThread
	{
		class CLock;
	}
	class CCrashSettings;

	namespace NMemory
	{
		using CProcessHeap = THeap_Combined<THeapParams<0x400000, CAllocator_Virtual, TMutual<NThread::CLock>>>;
	}

	class CSystem
	{
	public:
		class CThreadStorageContext;

		// Builds the parts in the order above, into the memory that follows the object.
		explicit CSystem(void *pPartsStorage);
		virtual ~CSystem();
		CSystem(CSystem const &) = delete;
		CSystem &operator=(CSystem const &) = delete;

		// Bytes of storage the parts need after the object.
		static umint fs_GetPartsSize();

		NThreadPlacement::CPlacementContext &f_GetPlacement();
		// Null while the context is not made yet.
		NThreadPlacement::CPlacementContext *f_GetPlacementIfMade();
		NMemory::CProcessHeap &f_GetHeap();
		NThread::CEventLinkPool &f_GetEventLinkPool();
		CThreadStorageContext &f_GetThreadStorage(); // Zel_ThreadStorage.h
		CCrashSettings &f_GetCrashSettings();
		NTime::CClock &f_GetClock();
		NTime::CTimerContext &f_GetTimerContext();

	private:
		NThreadPlacement::CPlacementContext *fp_pPlacement = nullptr;
		NMemory::CProcessHeap *fp_pHeap = nullptr;
		NThread::CEventLinkPool *fp_pEventLinkPool = nullptr;
		CThreadStorageContext *fp_pThreadStorage = nullptr;
		CCrashSettings *fp_pCrashSettings = nullptr;
		NTime::CClockSourceSystem *fp_pClockSource = nullptr;
		NTime::CClock *fp_pClock = nullptr;
		NTime::CTimerContext *fp_pTimerContext = nullptr;
	};

	namespace NCrash
	{
		class CStackTrace;
	}

	// The Windows flavour of the system object. Its construction restricts the search for
	// libraries loaded by name to the system folder (Zel_Sys_Library.h) and installs the crash
	// reporter as the process's unhandled-exception filter (Zel_Runtime_CrashReporter.h), after
	// the parts above, so a crash from then on is reported.
	class CSystemWindowsMSVC : public CSystem
	{
	public:
		class CDeadlockDetector; // Zel_Runtime_DeadlockDetector.h

		explicit CSystemWindowsMSVC(void *pPartsStorage);
		~CSystemWindowsMSVC() override;

		// The crash reporter's symbol engine.
		NCrash::CStackTrace &f_GetStackTrace();
		// The not-responding watchdog, made at its first use (its events need the finished
		// system object). Idle until somebody starts it.
		CDeadlockDetector &f_GetDeadlockDetector();

	private:
		NCrash::CStackTrace *fp_pStackTrace = nullptr;
	};

	// The system object of a Windows process.
	CSystemWindowsMSVC &gf_GetSystemWindows();

	// The system object, made on first use.
	CSystem &gf_GetSystem();
	// The system object if it is made, or being made by the calling thread; otherwise null.
	CSystem *gf_GetSystemIfMade();

	namespace NMemory
	{
		namespace NPrivate
		{
			extern std::atomic<CProcessHeap *> g_pProcessHeap;
		}
		// The process heap (the system object's), quickly.
		inline CProcessHeap &gf_GetProcessHeap()
		{
			if (CProcessHeap *pHeap = NPrivate::g_pProcessHeap.load(std::memory_order_acquire))
				return *pHeap;
			return gf_GetSystem().f_GetHeap();
		}
	}
}
