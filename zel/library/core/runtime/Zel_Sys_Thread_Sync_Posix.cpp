// Waits, semaphores, manual-reset events and thread identity for the host build, with the same counting rules
// as the kernel objects they stand in for.
#include "zel/library/core/runtime/Zel_Sys_Thread_Posix.h"

#include <unistd.h>

namespace NZel::NSys
{
	namespace
	{
		using NPosix::CPosixObject;

		thread_local uint32 t_SemaphoresCreated = 0;
		std::atomic<uint32> g_NextThreadId{1};
		thread_local uint32 t_ThreadId = 0;

		class CSemaphore final : public CPosixObject
		{
		public:
			CSemaphore(int32 InitialCount, int32 MaximumCount)
				: fp_Count(InitialCount)
				, fp_Maximum(MaximumCount)
			{
			}

			bool f_Release(int32 Count)
			{
				{
					std::lock_guard<std::mutex> Lock(fp_Mutex);
					if (Count <= 0 || Count > fp_Maximum - fp_Count)
						return false;
					fp_Count += Count;
				}
				fp_Condition.notify_all();
				return true;
			}

		private:
			bool fp_IsSignalled() const override
			{
				return fp_Count > 0;
			}
			void fp_Consume() override
			{
				--fp_Count;
			}

			int32 fp_Count;
			int32 const fp_Maximum;
		};

		class CManualResetEvent final : public CPosixObject
		{
		public:
			explicit CManualResetEvent(bool bInitialState)
				: fp_bSignalled(bInitialState)
			{
			}

			// Wakes the waiters while holding the lock: a waiter that owns the last reference
			// may close the event as soon as it wakes, and must not find this call still inside
			// the condition.
			void f_SetState(bool bSignalled)
			{
				std::lock_guard<std::mutex> Lock(fp_Mutex);
				fp_bSignalled = bSignalled;
				if (bSignalled)
					fp_Condition.notify_all();
			}

		private:
			bool fp_IsSignalled() const override
			{
				return fp_bSignalled;
			}

			bool fp_bSignalled;
		};
	}

	uint32 gf_Thread_GetCurrentId()
	{
		// Numbered on first use, from 1, so 0 never names a thread.
		if (!t_ThreadId)
			t_ThreadId = g_NextThreadId.fetch_add(1, std::memory_order_relaxed);
		return t_ThreadId;
	}

	void gf_Thread_Yield()
	{
		usleep(1000);
	}

	void gf_Wait(CHandle hObject)
	{
		NPosix::gf_FromHandle(hObject)->f_Wait(nullptr);
	}

	void gf_WaitUnlessInvalid(CHandle hObject)
	{
		if (hObject != gf_GetInvalidHandle())
			gf_Wait(hObject);
	}

	bool gf_WaitTimeout(CHandle hObject, uint32 Milliseconds)
	{
		std::chrono::milliseconds const Timeout(Milliseconds);
		return NPosix::gf_FromHandle(hObject)->f_Wait(&Timeout);
	}

	void gf_Close(CHandle hObject)
	{
		if (hObject && hObject != gf_GetInvalidHandle())
			NPosix::gf_FromHandle(hObject)->f_Release();
	}

	void gf_CloseUnlessInvalid(CHandle hObject)
	{
		gf_Close(hObject);
	}

	CHandle gf_Semaphore_Create(int32 InitialCount, int32 MaximumCount)
	{
		if (MaximumCount <= 0 || InitialCount < 0 || InitialCount > MaximumCount)
			return nullptr;
		++t_SemaphoresCreated;
		return static_cast<CPosixObject *>(new CSemaphore(InitialCount, MaximumCount));
	}

	bool gf_Semaphore_Release(CHandle hSemaphore, int32 Count)
	{
		return static_cast<CSemaphore *>(NPosix::gf_FromHandle(hSemaphore))->f_Release(Count);
	}

	uint32 gf_Semaphore_GetCreatedCountOnThisThread()
	{
		return t_SemaphoresCreated;
	}

	CHandle gf_Event_CreateManualReset(bool bInitialState)
	{
		return static_cast<CPosixObject *>(new CManualResetEvent(bInitialState));
	}

	void gf_Event_Set(CHandle hEvent)
	{
		static_cast<CManualResetEvent *>(NPosix::gf_FromHandle(hEvent))->f_SetState(true);
	}

	void gf_Event_Reset(CHandle hEvent)
	{
		static_cast<CManualResetEvent *>(NPosix::gf_FromHandle(hEvent))->f_SetState(false);
	}
}
