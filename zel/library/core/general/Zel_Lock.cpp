#include "zel/library/core/general/Zel_Lock.h"

#include "zel/library/core/runtime/Zel_Sys_Thread.h"

namespace NZel::NThread
{
	namespace
	{
		constexpr int32 c_CountMask = 0x3FFFFFFF;
		constexpr int32 c_CreationClaimed = 0x40000000;
		constexpr int32 c_SemaphoreReady = int32(0x80000000u);

		// Owner and recursion are plain words in the lock's protocol: only the holder writes
		// them. Relaxed atomic access compiles to the same plain moves and tells race
		// checkers that a non-holder's look at the owner is intended.
		template <typename t_CValue>
		t_CValue gf_LoadRelaxed(t_CValue const &Value)
		{
			return __atomic_load_n(&Value, __ATOMIC_RELAXED);
		}

		template <typename t_CValue>
		void gf_StoreRelaxed(t_CValue &Value, t_CValue New)
		{
			__atomic_store_n(&Value, New, __ATOMIC_RELAXED);
		}
	}

	CLock::~CLock()
	{
		if (fp_hSemaphore)
			NSys::gf_Close(fp_hSemaphore);
	}

	void CLock::f_Lock()
	{
		uint32 const ThreadId = NSys::gf_Thread_GetCurrentId();
		if (gf_LoadRelaxed(fp_OwnerThreadId) == ThreadId)
		{
			gf_StoreRelaxed(fp_Recursion, fp_Recursion + 1);
			return;
		}

		int32 const Prev = NSys::gf_Interlocked_Increment(&fp_State);
		if (Prev & c_CountMask)
			fp_WaitForSemaphore(Prev);

		gf_StoreRelaxed(fp_OwnerThreadId, ThreadId);
		gf_StoreRelaxed(fp_Recursion, 1);
	}

	bool CLock::f_TryLock()
	{
		uint32 const ThreadId = NSys::gf_Thread_GetCurrentId();
		if (gf_LoadRelaxed(fp_OwnerThreadId) == ThreadId)
		{
			gf_StoreRelaxed(fp_Recursion, fp_Recursion + 1);
			return true;
		}

		int32 State = __atomic_load_n(&fp_State, __ATOMIC_RELAXED);
		for (;;)
		{
			if (State & c_CountMask)
				return false;
			int32 const Found = NSys::gf_Interlocked_CompareExchange(&fp_State, State + 1, State);
			if (Found == State)
				break;
			State = Found;
		}

		gf_StoreRelaxed(fp_OwnerThreadId, ThreadId);
		gf_StoreRelaxed(fp_Recursion, 1);
		return true;
	}

	void CLock::f_Unlock()
	{
		int32 const Recursion = fp_Recursion - 1;
		gf_StoreRelaxed(fp_Recursion, Recursion);
		if (Recursion > 0)
			return;

		gf_StoreRelaxed(fp_OwnerThreadId, uint32(0));
		int32 const Prev = NSys::gf_Interlocked_Decrement(&fp_State);
		if ((Prev & c_CountMask) <= 1)
			return;

		// Someone is counted in: hand the lock over. A waiter that is still making the
		// semaphore has not published it yet, so wait for it to appear.
		void *hSemaphore = (Prev & c_SemaphoreReady) ? __atomic_load_n(&fp_hSemaphore, __ATOMIC_ACQUIRE) : fp_GetSemaphoreWhenPublished();
		NSys::gf_Semaphore_Release(hSemaphore, 1);
	}

	void CLock::fp_WaitForSemaphore(int32 PrevState)
	{
		if (PrevState & c_SemaphoreReady)
		{
			NSys::gf_Wait(__atomic_load_n(&fp_hSemaphore, __ATOMIC_ACQUIRE));
			return;
		}

		// First contention (or one racing with it): exactly one thread wins the claim bit
		// and makes the semaphore; the others wait below until it is published.
		int32 State = __atomic_load_n(&fp_State, __ATOMIC_RELAXED);
		while (!(State & c_CreationClaimed))
		{
			int32 const Found = NSys::gf_Interlocked_CompareExchange(&fp_State, State | c_CreationClaimed, State);
			if (Found == State)
			{
				if (!__atomic_load_n(&fp_hSemaphore, __ATOMIC_RELAXED))
				{
					// Every waiter depends on this semaphore, so a failed creation (the
					// process is out of handles) is retried rather than left as a hang.
					void *hSemaphore;
					while (!(hSemaphore = NSys::gf_Semaphore_Create(0, 1)))
						NSys::gf_Thread_Yield();
					__atomic_store_n(&fp_hSemaphore, hSemaphore, __ATOMIC_RELEASE);
				}

				int32 Current = State | c_CreationClaimed;
				for (;;)
				{
					int32 const Seen = NSys::gf_Interlocked_CompareExchange(&fp_State, Current | c_SemaphoreReady, Current);
					if (Seen == Current)
						break;
					Current = Seen;
				}
				break;
			}
			State = Found;
		}

		NSys::gf_Wait(fp_GetSemaphoreWhenPublished());
	}

	void *CLock::fp_GetSemaphoreWhenPublished()
	{
		for (;;)
		{
			void *hSemaphore = __atomic_load_n(&fp_hSemaphore, __ATOMIC_ACQUIRE);
			if (hSemaphore)
				return hSemaphore;
			NSys::gf_Thread_Yield();
		}
	}

	int32 CLock::f_GetWaiterCount() const
	{
		return __atomic_load_n(&fp_State, __ATOMIC_SEQ_CST) & c_CountMask;
	}

	bool CLock::f_HasSemaphore() const
	{
		return __atomic_load_n(&fp_hSemaphore, __ATOMIC_ACQUIRE) != nullptr;
	}
}
