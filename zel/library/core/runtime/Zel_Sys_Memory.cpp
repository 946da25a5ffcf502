#include "zel/library/core/runtime/Zel_Sys_Memory.h"

#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_ThreadPlacement.h"

#include <atomic>

namespace NZel::NSys
{
	namespace
	{
		std::atomic<uint32> g_CommitsToRefuse{0};

		bool fg_RefuseCommit()
		{
			uint32 Left = g_CommitsToRefuse.load(std::memory_order_relaxed);
			while (Left)
			{
				if (g_CommitsToRefuse.compare_exchange_weak(Left, Left - 1, std::memory_order_relaxed))
					return true;
			}
			return false;
		}
	}

	void gf_Mem_RefuseNextCommits(uint32 nCommits)
	{
		g_CommitsToRefuse.store(nCommits, std::memory_order_relaxed);
	}

	CMemoryInfo const &gf_Mem_GetInfo()
	{
		static CMemoryInfo const s_Info = NPlatform::gf_Mem_ReadInfo();
		return s_Info;
	}

	umint gf_Mem_RoundUp(umint Value, umint Step)
	{
		return (Value + Step - 1) / Step * Step;
	}

	umint gf_Mem_RoundDown(umint Value, umint Step)
	{
		return Value / Step * Step;
	}

	void *AllocVirtualMemory(umint Size, umint Placement, EMemAllocation Type)
	{
		Size = gf_Mem_RoundUp(Size, gf_Mem_GetInfo().m_Granularity);
		if (Size == 0)
			DZelThrow(NException::CExceptionMemory, "Windows returned an error from VirtualAlloc: size out of range");
		if (Placement == 1 || Placement == 2)
		{
			if (void *p = NThreadPlacement::gf_TryPlacedAlloc(Size, Placement, Type))
				return p;
		}
		else if (Placement != 0)
		{
			if (void *p = NPlatform::gf_Mem_TryAlloc(reinterpret_cast<void *>(Placement), Size, Type, false))
				return p;
		}
		void *p = NPlatform::gf_Mem_TryAlloc(nullptr, Size, Type, Placement == 0);
		if (!p)
			DZelThrowSystemError(NException::CExceptionMemory, "VirtualAlloc");
		return p;
	}

	void gf_Mem_VirtualCommit(void *pAddress, umint Size)
	{
		if (fg_RefuseCommit())
		{
			NPlatform::gf_Mem_SetCommitLimitError();
			DZelThrowSystemError(NException::CExceptionMemory, "VirtualAlloc");
		}
		if (!NPlatform::gf_Mem_TryCommit(pAddress, Size))
			DZelThrowSystemError(NException::CExceptionMemory, "VirtualAlloc");
	}

	void gf_Mem_VirtualDecommit(void *pAddress, umint Size)
	{
		if (!NPlatform::gf_Mem_TryDecommit(pAddress, Size))
			DZelThrowSystemError(NException::CExceptionMemory, "VirtualFree");
	}

	umint gf_Mem_VirtualSize(void *pAddress)
	{
		CMemoryRegion Region{};
		if (!gf_Mem_QueryRegion(pAddress, Region))
			DZelThrowSystemError(NException::CExceptionMemory, "VirtualQuery");
		return Region.m_Size;
	}

	void gf_Mem_VirtualFree(void *pAddress, umint Size, umint Placement)
	{
		if (Placement == 1 || Placement == 2)
			NThreadPlacement::gf_NoteRelease(pAddress, Size, Placement);
		if (!NPlatform::gf_Mem_TryRelease(pAddress, Size))
			DZelThrowSystemError(NException::CExceptionMemory, "VirtualFree");
	}

	umint gf_Mem_CountCommitted(const void *pBegin, umint Size)
	{
		umint Committed = 0;
		umint Address = umint(pBegin);
		umint const End = Address + Size;
		while (Address < End)
		{
			CMemoryRegion Region{};
			if (!gf_Mem_QueryRegion(reinterpret_cast<const void *>(Address), Region) || Region.m_Size == 0)
				break;
			umint RegionEnd = Region.m_Base + Region.m_Size;
			if (RegionEnd > End)
				RegionEnd = End;
			if (Region.m_bCommitted)
				Committed += RegionEnd - Address;
			Address = RegionEnd;
		}
		return Committed;
	}
}
