#pragma once
// Links between aggregate events: a node joins a source event, which forwards its signals, to
// a target event, which receives them. Each node sits in two lists at once (the source's
// outgoing list and the target's incoming list) and comes from a process-wide pool.
#include "zel/library/core/general/Zel_Lock.h"

namespace NZel::NThread
{
	class CEventAutoResetAggregate;
	class CEventLink;

	// Hook of a circular doubly linked list; a list head is a hook that belongs to no link.
	// An unhooked hook points at itself.
	struct CEventLinkHook
	{
		CEventLinkHook *m_pNext = this;
		CEventLinkHook *m_pPrev = this;
		CEventLink *m_pLink = nullptr;

		CEventLinkHook() = default;
		CEventLinkHook(CEventLinkHook const &) = delete;
		CEventLinkHook &operator=(CEventLinkHook const &) = delete;

		bool f_IsEmpty() const
		{
			return m_pNext == this;
		}

		void f_Unhook()
		{
			m_pPrev->m_pNext = m_pNext;
			m_pNext->m_pPrev = m_pPrev;
			m_pNext = this;
			m_pPrev = this;
		}

		// Unhooks this hook from wherever it is and appends it to the list headed by Head.
		void f_MoveToBackOf(CEventLinkHook &Head)
		{
			f_Unhook();
			m_pPrev = Head.m_pPrev;
			m_pNext = &Head;
			Head.m_pPrev->m_pNext = this;
			Head.m_pPrev = this;
		}
	};

	class CEventLink
	{
	public:
		CEventLink()
		{
			m_SourceHook.m_pLink = this;
			m_TargetHook.m_pLink = this;
		}

		CEventAutoResetAggregate *m_pTarget = nullptr;
		CEventAutoResetAggregate *m_pSource = nullptr;
		CEventLinkHook m_SourceHook; // in the source's outgoing list
		CEventLinkHook m_TargetHook; // in the target's incoming list
		CEventLink *m_pNextFree = nullptr;
	};

	// Hands out link nodes, allocated a batch at a time and reused; memory goes back to the
	// system only when the pool is destroyed. Its lock is innermost: it is taken while event
	// locks may be held, never the other way round.
	class CEventLinkPool
	{
	public:
		CEventLinkPool() = default;
		~CEventLinkPool();
		CEventLinkPool(CEventLinkPool const &) = delete;
		CEventLinkPool &operator=(CEventLinkPool const &) = delete;

		CEventLink *f_Alloc();
		void f_Free(CEventLink *pLink);

		// Nodes handed out and not yet given back.
		int32 f_GetInUseCount();

	private:
		struct CBatch;

		CLock fp_Lock;
		CEventLink *fp_pFree = nullptr;
		CBatch *fp_pBatches = nullptr;
		int32 fp_InUse = 0;
	};
}
