#include "zel/library/core/general/Zel_System_Thread.h"

#include "zel/library/core/general/Zel_ThreadPlacement.h"

#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_ThreadStorage.h"

namespace NZel::NThread
{
	ICThread::ICThread()
		: fp_FinishedEvent(NSys::gf_Event_CreateManualReset(false))
	{
		NSys::gf_Event_Set(fp_FinishedEvent.f_Get());
	}

	ICThread::~ICThread()
	{
		CLockGuard Guard(fp_Lock);
		if (fp_State == EThreadState::Running || fp_State == EThreadState::StopRequested)
		{
			CLockUnguard Unguard(fp_Lock);
			f_Stop(true);
		}
		fp_hThreadWait.f_Reset();
		// The members then go in reverse order: wake event, finished event, lock.
	}

	void ICThread::f_Start(uint32 Priority, uint32 StackSize)
	{
		CLockGuard Guard(fp_Lock);
		if (fp_State == EThreadState::Running || fp_State == EThreadState::StopRequested)
			DZelThrow(NException::CException, "You cannot start a thread that is already running");

		fp_hThreadWait.f_Reset();
		NSys::gf_Event_Reset(fp_FinishedEvent.f_Get());
		fp_ReturnValue = 0;
		fp_RunningThreadId = 0;

		// The lock is held throughout, so the new thread may run its body at once but cannot
		// record its end before the state says Running.
		NStr::CStr const Name = f_GetThreadName();
		fp_hThread.f_Reset(NSys::gf_Thread_Create(&ICThread::fs_Run, this, Priority, StackSize, false, Name.f_GetStr()));
		fp_hThreadWait.f_Reset(NSys::gf_Thread_BeginDestroy(fp_hThread.f_Get()));
		fp_State = EThreadState::Running;
	}

	int32 ICThread::f_Stop(bool bWait)
	{
		CLockGuard Guard(fp_Lock);
		switch (fp_State)
		{
		case EThreadState::NeverRun:
			return 0;
		case EThreadState::Stopped:
			return f_GetReturnValue();
		case EThreadState::Running:
			fp_State = EThreadState::StopRequested;
			fp_WakeEvent.f_Signal();
			break;
		case EThreadState::StopRequested:
			break;
		}

		if (!bWait || fp_RunningThreadId == NSys::gf_Thread_GetCurrentId())
			return 0;

		NSys::CHandle const hThreadWait = fp_hThreadWait.f_Get();
		{
			CLockUnguard Unguard(fp_Lock);
			NSys::gf_Wait(fp_FinishedEvent.f_Get());
			// The run is recorded; waiting for the thread itself makes sure it no longer
			// touches this object when the caller goes on to destroy it.
			if (hThreadWait)
				NSys::gf_Wait(hThreadWait);
		}
		return f_GetReturnValue();
	}

	int32 ICThread::f_GetReturnValue()
	{
		CLockGuard Guard(fp_Lock);
		if (fp_State != EThreadState::Stopped)
			DZelThrow(NException::CException, "You are trying to get a return value from a thread that isn't stopped (or has never run)");
		return fp_ReturnValue;
	}

	int32 ICThread::fs_Run(void *pThis)
	{
		return static_cast<ICThread *>(pThis)->fp_Run();
	}

	int32 ICThread::fp_Run()
	{
		{
			CLockGuard Guard(fp_Lock);
			fp_RunningThreadId = NSys::gf_Thread_GetCurrentId();
		}

		int32 const Result = f_Execute();
		// Each run is a new system thread: its storage record would otherwise outlive it.
		gf_GetSystem().f_GetThreadStorage().f_ReleaseCallingThread();
		gf_GetSystem().f_GetPlacement().f_ReleaseCallingThread();
		{
			CLockGuard Guard(fp_Lock);
			fp_ReturnValue = Result;
			fp_State = EThreadState::Stopped;
			fp_RunningThreadId = 0;
			fp_hThread.f_Reset();
		}
		// Last touch of this object: a waiter in f_Stop may destroy it once this is set and
		// the thread has exited.
		NSys::gf_Event_Set(fp_FinishedEvent.f_Get());
		return Result;
	}
}
