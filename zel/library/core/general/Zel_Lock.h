#pragma once
// CLock: a recursive lock that costs one interlocked instruction to take and one to release
// when nobody contends, and makes its kernel semaphore only the first time somebody has to
// wait. A freshly made lock is all zeros, so locks can live in zero-initialised memory.
#include "zel/library/core/general/Zel_Types.h"

namespace NZel::NThread
{
	class CLock
	{
	public:
		CLock() = default;
		~CLock();
		CLock(CLock const &) = delete;
		CLock &operator=(CLock const &) = delete;

		// Recursive: the holder may take the lock again, and must release it as often.
		void f_Lock();
		// Only the holder may release.
		void f_Unlock();
		// Takes the lock if it is free or already held by the caller; never waits.
		bool f_TryLock();

		// Threads that hold or wait for the lock (the holder counts once, whatever its
		// recursion). Only a snapshot: meant for diagnostics and tests.
		int32 f_GetWaiterCount() const;
		// Whether the kernel semaphore has been made, i.e. the lock was ever contended.
		bool f_HasSemaphore() const;

	private:
		void fp_WaitForSemaphore(int32 PrevState);
		void *fp_GetSemaphoreWhenPublished();

		// State word, changed only by interlocked operations:
		//
		//   31  30  29 ...................... 0
		//  +---+---+---------------------------+
		//  | R | C | holders + waiters          |
		//  +---+---+---------------------------+
		//  R: the semaphore exists and may be used (set once, after fp_hSemaphore is stored)
		//  C: a thread has claimed the creation of the semaphore (set once, before R)
		//
		// The count includes the holder, so a release that leaves the count above zero hands
		// the lock to exactly one waiter through the semaphore (initial count 0, maximum 1);
		// the woken waiter then makes itself the owner.
		int32 volatile fp_State = 0;
		// Thread id of the holder, 0 when free. Written only by the holder; other threads
		// read it only to learn that they are not the holder.
		uint32 fp_OwnerThreadId = 0;
		int32 fp_Recursion = 0;
		void *fp_hSemaphore = nullptr;
	};

	// Holds a lock for its scope.
	class CLockGuard
	{
	public:
		explicit CLockGuard(CLock &Lock)
			: fp_Lock(Lock)
		{
			fp_Lock.f_Lock();
		}
		~CLockGuard()
		{
			fp_Lock.f_Unlock();
		}
		CLockGuard(CLockGuard const &) = delete;
		CLockGuard &operator=(CLockGuard const &) = delete;

	private:
		CLock &fp_Lock;
	};

	// Releases a held lock once for its scope (to wait without holding it) and takes it back
	// when the scope ends, even when an exception leaves it.
	class CLockUnguard
	{
	public:
		explicit CLockUnguard(CLock &Lock)
			: fp_Lock(Lock)
		{
			fp_Lock.f_Unlock();
		}
		~CLockUnguard()
		{
			fp_Lock.f_Lock();
		}
		CLockUnguard(CLockUnguard const &) = delete;
		CLockUnguard &operator=(CLockUnguard const &) = delete;

	private:
		CLock &fp_Lock;
	};
}
