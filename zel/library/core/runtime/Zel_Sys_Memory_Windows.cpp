#include "zel/library/core/runtime/Zel_Sys_Memory.h"

#include <windows.h>

namespace NZel::NSys
{
	namespace NPlatform
	{
		void *gf_Mem_TryAlloc(void *pAddress, umint Size, EMemAllocation Type, bool bTopDown)
		{
			DWORD Flags = Type == EMemAllocation::Commit ? MEM_RESERVE | MEM_COMMIT : MEM_RESERVE;
			if (bTopDown)
				Flags |= MEM_TOP_DOWN;
			return VirtualAlloc(pAddress, Size, Flags, PAGE_READWRITE);
		}

		bool gf_Mem_TryCommit(void *pAddress, umint Size)
		{
			return VirtualAlloc(pAddress, Size, MEM_COMMIT, PAGE_READWRITE) != nullptr;
		}

		bool gf_Mem_TryDecommit(void *pAddress, umint Size)
		{
			return VirtualFree(pAddress, Size, MEM_DECOMMIT) != 0;
		}

		bool gf_Mem_TryRelease(void *pAddress, umint)
		{
			return VirtualFree(pAddress, 0, MEM_RELEASE) != 0;
		}

		void gf_Mem_SetCommitLimitError()
		{
			SetLastError(ERROR_COMMITMENT_LIMIT);
		}

		CMemoryInfo gf_Mem_ReadInfo()
		{
			SYSTEM_INFO Info{};
			GetSystemInfo(&Info);
			return CMemoryInfo{Info.dwPageSize, Info.dwAllocationGranularity, umint(Info.lpMinimumApplicationAddress), umint(Info.lpMaximumApplicationAddress)};
		}

		bool gf_Mem_SupportsPlacement()
		{
			return true;
		}
	}

	void gf_Mem_HeapCorruption(const void *pAddress)
	{
		ULONG_PTR const Parameter = ULONG_PTR(pAddress);
		RaiseException(gc_StatusHeapCorruption, EXCEPTION_NONCONTINUABLE, 1, &Parameter);
		// Only when nothing handled it and the system let the raise return.
		TerminateProcess(GetCurrentProcess(), gc_StatusHeapCorruption);
		for (;;)
			Sleep(INFINITE);
	}

	bool gf_Mem_QueryRegion(const void *pAddress, CMemoryRegion &Region)
	{
		MEMORY_BASIC_INFORMATION Info{};
		if (VirtualQuery(pAddress, &Info, sizeof(Info)) != sizeof(Info))
			return false;
		Region.m_Base = umint(Info.BaseAddress);
		Region.m_Size = umint(Info.RegionSize);
		Region.m_AllocationBase = umint(Info.AllocationBase);
		Region.m_bFree = Info.State == MEM_FREE;
		Region.m_bCommitted = Info.State == MEM_COMMIT;
		return true;
	}
}
