#pragma once
// ICThread: the base of every long-running thread. A thread object can be run any number of
// times; each run calls the subclass's f_Execute on a new thread. State lives under fp_Lock:
//
//   NeverRun --f_Start--> Running --f_Stop--> StopRequested
//                            |                    |
//                            +---- f_Execute returns ----> Stopped --f_Start--> Running ...
//
// A thread body reads fp_State under fp_Lock and leaves its loop when it reads StopRequested.
// To sleep, it waits on fp_WakeEvent, or links fp_WakeEvent to one of its own events
// (fp_WakeEvent.f_Link(MyEvent)) so that f_Stop also wakes a wait on that event.
//
// The base destructor stops a running thread and waits for it, but by then the subclass's
// members are gone: a subclass whose body uses its own members calls f_Stop(true) in its own
// destructor first.
#include "zel/library/core/general/Zel_Event.h"
#include "zel/library/core/general/Zel_Lock.h"
#include "zel/library/core/general/Zel_Str.h"
#include "zel/library/core/runtime/Zel_Sys_Thread.h"

namespace NZel::NThread
{
	enum class EThreadState : int32
	{
		NeverRun = 0,
		Stopped = 1, // a run has finished and its return value is available
		Running = 2,
		StopRequested = 3,
	};

	class ICThread
	{
	public:
		ICThread();
		virtual ~ICThread();
		ICThread(ICThread const &) = delete;
		ICThread &operator=(ICThread const &) = delete;

		// Starts a new run on a new thread (Priority on the 16-bit scale, 0x8000 normal;
		// StackSize 0 is the platform default). Throws if a run is in progress.
		virtual void f_Start(uint32 Priority = 0x8000, uint32 StackSize = 0);
		// Asks a running thread to stop. With bWait it also waits until the thread has exited
		// and returns the run's result; without, it returns 0 unless the run had already
		// finished. Must not be called with bWait from the thread's own body (it would wait
		// for itself; it then only asks, and returns 0).
		virtual int32 f_Stop(bool bWait);
		// The thread body.
		virtual int32 f_Execute() = 0;
		// The name debuggers show for the thread.
		virtual NStr::CStr f_GetThreadName() = 0;

		// The result of the last finished run. Throws unless the state is Stopped.
		int32 f_GetReturnValue();

	protected:
		CLock fp_Lock; // guards every member below
		EThreadState fp_State = EThreadState::NeverRun;

	private:
		int32 fp_ReturnValue = 0;
		NSys::CUniqueHandle fp_hThread;     // creation handle of the current run
		NSys::CUniqueHandle fp_hThreadWait; // wait-only handle, kept until the next start
		NSys::CUniqueHandle fp_FinishedEvent; // manual reset; set while no run is in progress
		uint32 fp_RunningThreadId = 0;        // the current run's thread, once it has begun

	protected:
		CEventAutoResetAggregate fp_WakeEvent; // signalled by f_Stop

	private:
		static int32 fs_Run(void *pThis);
		int32 fp_Run();
	};
}
