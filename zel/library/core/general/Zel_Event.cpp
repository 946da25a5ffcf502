#include "zel/library/core/general/Zel_Event.h"

#include "zel/library/core/general/Zel_System.h"

namespace NZel::NThread
{
	namespace
	{
		CEventLinkPool &gf_GetLinkPool()
		{
			return gf_GetSystem().f_GetEventLinkPool();
		}
	}

	CEventAutoResetAggregate::CEventAutoResetAggregate()
		: fp_Semaphore(NSys::gf_Semaphore_Create(0, 1))
	{
		// Touching the pool here makes sure the system object outlives every event.
		(void)gf_GetLinkPool();
	}

	CEventAutoResetAggregate::~CEventAutoResetAggregate()
	{
		f_Unlink();
	}

	void CEventAutoResetAggregate::f_Signal()
	{
		// Beyond the maximum count of 1 the release fails, which is how signals collapse.
		NSys::gf_Semaphore_Release(fp_Semaphore.f_Get(), 1);

		CLockGuard Guard(fp_Lock);
		// The lock is recursive, so a cycle of links would come back here on this thread
		// and recurse without end; the flag stops it (other threads wait for the lock).
		if (fp_bForwarding)
			return;
		fp_bForwarding = true;
		for (CEventLinkHook *pHook = fp_Outgoing.m_pNext; pHook != &fp_Outgoing; pHook = pHook->m_pNext)
			pHook->m_pLink->m_pTarget->f_Signal();
		fp_bForwarding = false;
	}

	void CEventAutoResetAggregate::f_Wait()
	{
		NSys::gf_Wait(fp_Semaphore.f_Get());
	}

	bool CEventAutoResetAggregate::f_WaitTimeout(uint32 Milliseconds)
	{
		return NSys::gf_WaitTimeout(fp_Semaphore.f_Get(), Milliseconds);
	}

	void CEventAutoResetAggregate::f_Link(CEventAutoResetAggregate &Target)
	{
		CEventLink *pLink = gf_GetLinkPool().f_Alloc();

		CLockGuard SourceGuard(fp_Lock);
		CLockGuard TargetGuard(Target.fp_Lock);
		pLink->m_pTarget = &Target;
		pLink->m_pSource = this;
		pLink->m_SourceHook.f_MoveToBackOf(fp_Outgoing);
		pLink->m_TargetHook.f_MoveToBackOf(Target.fp_Incoming);
	}

	void CEventAutoResetAggregate::f_Unlink()
	{
		CEventLinkPool &Pool = gf_GetLinkPool();

		// Outgoing links: this event is the source, so its lock comes first anyway.
		{
			CLockGuard Guard(fp_Lock);
			while (!fp_Outgoing.f_IsEmpty())
			{
				CEventLink *pLink = fp_Outgoing.m_pNext->m_pLink;
				CLockGuard TargetGuard(pLink->m_pTarget->fp_Lock);
				Pool.f_Free(pLink);
			}
		}

		// Incoming links: the source's lock belongs before this one. Waiting for it while
		// holding this lock could deadlock with the source forwarding a signal here, so
		// only try it, and on failure let go of this lock and come back. While this lock is
		// held the source cannot finish unlinking, so it is still alive when it is tried.
		for (;;)
		{
			{
				CLockGuard Guard(fp_Lock);
				if (fp_Incoming.f_IsEmpty())
					return;
				CEventLink *pLink = fp_Incoming.m_pNext->m_pLink;
				CLock &SourceLock = pLink->m_pSource->fp_Lock;
				if (SourceLock.f_TryLock())
				{
					Pool.f_Free(pLink);
					SourceLock.f_Unlock();
					continue;
				}
			}
			NSys::gf_Thread_Yield();
		}
	}
}
