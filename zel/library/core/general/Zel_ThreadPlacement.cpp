#include "zel/library/core/general/Zel_ThreadPlacement.h"

#include "zel/library/core/general/Zel_System.h"
#include "zel/library/core/runtime/Zel_Sys_Thread.h"

#include <new>

namespace NZel::NThreadPlacement
{
	using namespace NSys;

	CPlacementContext::CPlacementContext()
		: fp_TlsIndex(gf_Thread_AllocStorage())
	{
		CMemoryInfo const &Info = gf_Mem_GetInfo();
		fp_bDisabled = !NPlatform::gf_Mem_SupportsPlacement();
		if (fp_bDisabled)
			return;
		// The largest free range, rounded inwards to the granularity.
		umint Address = Info.m_MinAddress;
		while (Address < Info.m_MaxAddress)
		{
			CMemoryRegion Region{};
			if (!gf_Mem_QueryRegion(reinterpret_cast<void *>(Address), Region) || Region.m_Size == 0)
				break;
			if (Region.m_bFree)
			{
				umint Begin = gf_Mem_RoundUp(Region.m_Base, Info.m_Granularity);
				umint End = gf_Mem_RoundDown(Region.m_Base + Region.m_Size, Info.m_Granularity);
				if (End > Begin && End - Begin > fp_RangeEnd - fp_RangeBegin)
				{
					fp_RangeBegin = Begin;
					fp_RangeEnd = End;
				}
			}
			if (Region.m_Base + Region.m_Size <= Address)
				break;
			Address = Region.m_Base + Region.m_Size;
		}
		if (fp_RangeEnd == fp_RangeBegin)
			fp_bDisabled = true;
	}

	CPlacementContext::~CPlacementContext()
	{
		gf_Thread_FreeStorage(fp_TlsIndex);
	}

	umint CPlacementContext::fp_TakeHome(umint &LowerBound, umint &GapEnd)
	{
		// The middle of the largest gap between the homes already given out.
		umint BestBegin = fp_RangeBegin;
		umint BestEnd = fp_nHomes ? fp_Homes[0] : fp_RangeEnd;
		for (int32 i = 0; i < fp_nHomes; ++i)
		{
			umint Begin = fp_Homes[i];
			umint End = i + 1 < fp_nHomes ? fp_Homes[i + 1] : fp_RangeEnd;
			if (End - Begin > BestEnd - BestBegin)
			{
				BestBegin = Begin;
				BestEnd = End;
			}
		}
		umint Home = gf_Mem_RoundDown(BestBegin + (BestEnd - BestBegin) / 2, gf_Mem_GetInfo().m_Granularity);
		LowerBound = BestBegin;
		GapEnd = BestEnd;
		if (fp_nHomes < mc_MaxHomes)
		{
			int32 i = fp_nHomes++;
			for (; i > 0 && fp_Homes[i - 1] > Home; --i)
				fp_Homes[i] = fp_Homes[i - 1];
			fp_Homes[i] = Home;
		}
		return Home;
	}

	CThreadInfo *CPlacementContext::f_GetCallingThreadIfMade() const
	{
		return static_cast<CThreadInfo *>(gf_Thread_GetStorage(fp_TlsIndex));
	}

	CThreadInfo &CPlacementContext::f_GetCallingThread()
	{
		if (CThreadInfo *pInfo = f_GetCallingThreadIfMade())
			return *pInfo;
		void *pMemory = AllocVirtualMemory(sizeof(CThreadInfo), 0, EMemAllocation::Commit);
		CThreadInfo *pInfo = new (pMemory) CThreadInfo;
		int Local = 0;
		CMemoryRegion Stack{};
		if (gf_Mem_QueryRegion(&Local, Stack))
			pInfo->m_StackEnd = Stack.m_Base + Stack.m_Size;
		{
			NThread::CLockGuard Guard(fp_ThreadRecordsLock);
			umint GapEnd = 0;
			umint Home = fp_TakeHome(pInfo->m_LowerBound, GapEnd);
			pInfo->m_Home = Home;
			pInfo->m_DownFrontier1 = pInfo->m_UpFrontier1 = pInfo->m_UpFrontier2 = Home;
			// The second run of placement 2 starts a quarter of the gap above the home, clear
			// of what placement 1 and the first run take.
			pInfo->m_SecondFrontier2 = gf_Mem_RoundDown(Home + (GapEnd - Home) / 4, gf_Mem_GetInfo().m_Granularity);
		}
		gf_Thread_SetStorage(fp_TlsIndex, pInfo);
		return *pInfo;
	}

	void CPlacementContext::f_ReleaseCallingThread()
	{
		CThreadInfo *pInfo = f_GetCallingThreadIfMade();
		if (!pInfo)
			return;
		{
			NThread::CLockGuard Guard(fp_ThreadRecordsLock);
			for (int32 i = 0; i < fp_nHomes; ++i)
			{
				if (fp_Homes[i] != pInfo->m_Home)
					continue;
				for (--fp_nHomes; i < fp_nHomes; ++i)
					fp_Homes[i] = fp_Homes[i + 1];
				break;
			}
		}
		gf_Thread_SetStorage(fp_TlsIndex, nullptr);
		gf_Mem_VirtualFree(pInfo, gf_Mem_RoundUp(sizeof(CThreadInfo), gf_Mem_GetInfo().m_Granularity), 0);
	}

	namespace
	{
		CPlacementContext *fg_GetContext()
		{
			CSystem *pSystem = gf_GetSystemIfMade();
			if (!pSystem)
				return nullptr;
			CPlacementContext *pContext = pSystem->f_GetPlacementIfMade();
			return pContext && !pContext->f_IsDisabled() ? pContext : nullptr;
		}

		void *fg_TryAt(umint Address, umint Size, EMemAllocation Type)
		{
			if (Address == 0)
				return nullptr;
			return NPlatform::gf_Mem_TryAlloc(reinterpret_cast<void *>(Address), Size, Type, false);
		}
	}

	void *gf_TryPlacedAlloc(umint Size, umint Placement, EMemAllocation Type)
	{
		CPlacementContext *pContext = fg_GetContext();
		if (!pContext)
			return nullptr;
		CThreadInfo &Info = pContext->f_GetCallingThread();
		if (Placement == 1)
		{
			if (Info.m_DownFrontier1 >= Size && Info.m_DownFrontier1 - Size >= Info.m_LowerBound)
			{
				if (void *p = fg_TryAt(Info.m_DownFrontier1 - Size, Size, Type))
				{
					Info.m_DownFrontier1 -= Size;
					return p;
				}
			}
			if (void *p = fg_TryAt(Info.m_UpFrontier1, Size, Type))
			{
				Info.m_UpFrontier1 += Size;
				return p;
			}
			return nullptr;
		}
		if (void *p = fg_TryAt(Info.m_UpFrontier2, Size, Type))
		{
			Info.m_UpFrontier2 += Size;
			return p;
		}
		if (void *p = fg_TryAt(Info.m_SecondFrontier2, Size, Type))
		{
			Info.m_SecondFrontier2 += Size;
			return p;
		}
		return nullptr;
	}

	void gf_NoteRelease(void *pAddress, umint Size, umint Placement)
	{
		CPlacementContext *pContext = fg_GetContext();
		CThreadInfo *pInfo = pContext ? pContext->f_GetCallingThreadIfMade() : nullptr;
		if (!pInfo)
			return;
		umint Begin = umint(pAddress);
		umint End = Begin + Size;
		if (Placement == 1)
		{
			if (Begin == pInfo->m_DownFrontier1)
				pInfo->m_DownFrontier1 = End;
			if (End == pInfo->m_UpFrontier1)
				pInfo->m_UpFrontier1 = Begin;
		}
		else
		{
			if (End == pInfo->m_UpFrontier2)
				pInfo->m_UpFrontier2 = Begin;
			if (End == pInfo->m_SecondFrontier2)
				pInfo->m_SecondFrontier2 = Begin;
		}
	}
}
