#pragma once
// Platform layer for threads and synchronisation: thread creation, naming and priority,
// thread-local storage, kernel semaphores and manual-reset events, waits and interlocked
// counters.
//
// Contract
// - A CHandle is an opaque kernel object (thread, semaphore or event); nullptr is "no object".
//   gf_CloseUnlessInvalid / gf_WaitUnlessInvalid also accept gf_GetInvalidHandle() (the value -1) and
//   then do nothing.
// - Functions marked "throws" report failure with a foundation exception naming the failed
//   system call ("Windows returned an error from CreateThread: <error text>"); every other
//   function has no error path and its result is not checked by callers.
// - Interlocked operations are full barriers and return the value before the change.
// - gf_Thread_GetCurrentId is never 0, so 0 can mean "no thread".
#include "zel/library/core/general/Zel_System_Handle.h"
#include "zel/library/core/general/Zel_Types.h"

namespace NZel::NSys
{
	using CHandle = void *;
	// The value -1, which some system calls return for "no handle".
	inline CHandle gf_GetInvalidHandle()
	{
		return reinterpret_cast<CHandle>(~umint(0));
	}

	// The body a new thread runs; its result becomes the thread's exit code.
	using FThreadRun = int32 (*)(void *pObject);

	// Starts a thread that names itself pName for debuggers and then runs fRun(pObject).
	// Priority is on the 16-bit scale (0x8000 normal), StackSize 0 is the platform default.
	// Returns the creation handle (the caller closes it). Throws when the thread cannot be
	// created, and when its priority cannot be set (the thread then runs anyway and the
	// handle is closed).
	CHandle gf_Thread_Create(FThreadRun fRun, void *pObject, uint32 Priority, uint32 StackSize, bool bSuspended, const char *pName);

	// Windows thread priority for a 16-bit priority; the first bound the value is below wins:
	// 0x2000 -> -15, 0x4000 -> -2, 0x8000 -> -1, 0xC000 -> 0, 0xE000 -> 1, 0x10000 -> 2,
	// above that 15.
	int32 gf_Thread_MapPriority(uint32 Priority);

	// Applies gf_Thread_MapPriority(Priority) to the thread. Throws on failure.
	void gf_Thread_SetPriority(CHandle hThread, uint32 Priority);

	// A second handle to the thread that is only good for waiting on it. Throws on failure.
	CHandle gf_Thread_BeginDestroy(CHandle hThread);

	// Raises the debugger's thread-naming notification for ThreadId; harmless without a
	// debugger attached.
	void gf_Thread_SetDebugName(uint32 ThreadId, const char *pName);

#if defined(_WIN32) && (defined(__x86_64__) || defined(__i386__))
	// Inline because every lock operation asks for it: the id is the UniqueThread field of
	// the thread's own information block (what GetCurrentThreadId reads), at gs:0x48 on x64
	// and fs:0x24 on x86.
	inline uint32 gf_Thread_GetCurrentId()
	{
		uint32 Id;
#if defined(__x86_64__)
		__asm__("movl %%gs:0x48, %0" : "=r"(Id));
#else
		__asm__("movl %%fs:0x24, %0" : "=r"(Id));
#endif
		return Id;
	}
#else
	uint32 gf_Thread_GetCurrentId();
#endif

	// Sleeps for 1 ms, giving the processor to other threads.
	void gf_Thread_Yield();

	// Thread-local storage: one pointer per thread per index, nullptr until set.
	uint32 gf_Thread_AllocStorage(); // throws when out of indices
	void gf_Thread_FreeStorage(uint32 Index);
	void gf_Thread_SetStorage(uint32 Index, void *pValue); // throws on failure
	void *gf_Thread_GetStorage(uint32 Index);

	// Waits without time-out.
	void gf_Wait(CHandle hObject);
	void gf_WaitUnlessInvalid(CHandle hObject);
	// Waits at most Milliseconds; true when the object was signalled.
	bool gf_WaitTimeout(CHandle hObject, uint32 Milliseconds);

	void gf_Close(CHandle hObject);
	void gf_CloseUnlessInvalid(CHandle hObject);

	// Semaphore with the given counts and no name; nullptr when it cannot be made.
	CHandle gf_Semaphore_Create(int32 InitialCount, int32 MaximumCount);
	// false when the release would pass the maximum count (the count is then unchanged).
	bool gf_Semaphore_Release(CHandle hSemaphore, int32 Count);
	// How many semaphores gf_Semaphore_Create has made on the calling thread; lets tests check
	// that a lock makes its kernel object only once, and only under contention, whatever other
	// threads of the process make at the same time.
	uint32 gf_Semaphore_GetCreatedCountOnThisThread();

	// Manual-reset event with no name; nullptr when it cannot be made.
	CHandle gf_Event_CreateManualReset(bool bInitialState);
	void gf_Event_Set(CHandle hEvent);
	void gf_Event_Reset(CHandle hEvent);

	inline int32 gf_Interlocked_Increment(int32 volatile *pValue)
	{
		return __atomic_fetch_add(pValue, 1, __ATOMIC_SEQ_CST);
	}

	inline int32 gf_Interlocked_Decrement(int32 volatile *pValue)
	{
		return __atomic_fetch_sub(pValue, 1, __ATOMIC_SEQ_CST);
	}

	// Stores Exchange when *pValue equals Comparand; returns the value found.
	inline int32 gf_Interlocked_CompareExchange(int32 volatile *pValue, int32 Exchange, int32 Comparand)
	{
		__atomic_compare_exchange_n(pValue, &Comparand, Exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
		return Comparand;
	}

	struct CHandleTraits
	{
		using CHandle = NSys::CHandle;
		static CHandle fs_Invalid()
		{
			return nullptr;
		}
		static void fs_Close(CHandle hObject)
		{
			gf_Close(hObject);
		}
	};

	// Owner of a thread, semaphore or event handle.
	using CUniqueHandle = TCUniqueHandle<CHandleTraits>;
}
