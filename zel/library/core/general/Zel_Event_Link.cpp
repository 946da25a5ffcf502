#include "zel/library/core/general/Zel_Event_Link.h"

#include <utility>

namespace NZel::NThread
{
	struct CEventLinkPool::CBatch
	{
		static constexpr int32 c_nLinks = 32;
		CEventLink m_Links[c_nLinks];
		CBatch *m_pNext = nullptr;
	};

	CEventLinkPool::~CEventLinkPool()
	{
		while (fp_pBatches)
			delete std::exchange(fp_pBatches, fp_pBatches->m_pNext);
	}

	CEventLink *CEventLinkPool::f_Alloc()
	{
		CLockGuard Guard(fp_Lock);
		if (!fp_pFree)
		{
			auto *pBatch = new CBatch;
			pBatch->m_pNext = fp_pBatches;
			fp_pBatches = pBatch;
			for (CEventLink &Link : pBatch->m_Links)
			{
				Link.m_pNextFree = fp_pFree;
				fp_pFree = &Link;
			}
		}
		CEventLink *pLink = fp_pFree;
		fp_pFree = pLink->m_pNextFree;
		pLink->m_pNextFree = nullptr;
		++fp_InUse;
		return pLink;
	}

	void CEventLinkPool::f_Free(CEventLink *pLink)
	{
		pLink->m_SourceHook.f_Unhook();
		pLink->m_TargetHook.f_Unhook();
		pLink->m_pSource = nullptr;
		pLink->m_pTarget = nullptr;

		CLockGuard Guard(fp_Lock);
		pLink->m_pNextFree = fp_pFree;
		fp_pFree = pLink;
		--fp_InUse;
	}

	int32 CEventLinkPool::f_GetInUseCount()
	{
		CLockGuard Guard(fp_Lock);
		return fp_InUse;
	}
}
