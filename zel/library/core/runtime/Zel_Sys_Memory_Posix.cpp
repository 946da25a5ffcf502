// The POSIX stand-in for the test build: reservations are PROT_NONE mappings, a commit makes
// pages readable and writable, a decommit drops their contents and makes them inaccessible
// again, so a heap that touches a page it has not committed faults at once.
#include "zel/library/core/runtime/Zel_Sys_Memory.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace NZel::NSys
{
	namespace NPlatform
	{
		void *gf_Mem_TryAlloc(void *pAddress, umint Size, EMemAllocation Type, bool)
		{
			int Protection = Type == EMemAllocation::Commit ? PROT_READ | PROT_WRITE : PROT_NONE;
			void *p = mmap(pAddress, Size, Protection, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
			if (p == MAP_FAILED)
				return nullptr;
			if (pAddress && p != pAddress)
			{
				munmap(p, Size);
				return nullptr;
			}
			return p;
		}

		bool gf_Mem_TryCommit(void *pAddress, umint Size)
		{
			return mprotect(pAddress, Size, PROT_READ | PROT_WRITE) == 0;
		}

		bool gf_Mem_TryDecommit(void *pAddress, umint Size)
		{
			return madvise(pAddress, Size, MADV_DONTNEED) == 0 && mprotect(pAddress, Size, PROT_NONE) == 0;
		}

		bool gf_Mem_TryRelease(void *pAddress, umint Size)
		{
			return munmap(pAddress, Size) == 0;
		}

		void gf_Mem_SetCommitLimitError()
		{
			errno = ENOMEM;
		}

		CMemoryInfo gf_Mem_ReadInfo()
		{
			umint Page = umint(sysconf(_SC_PAGESIZE));
			// Page granularity keeps successive mappings adjacent, as the kernel places them.
			return CMemoryInfo{Page, Page, Page, (umint(1) << 47) - 1};
		}

		bool gf_Mem_SupportsPlacement()
		{
			// The sanitizers own parts of the address space; the test build reserves wherever
			// the kernel puts mappings.
			return false;
		}
	}

	void gf_Mem_HeapCorruption(const void *pAddress)
	{
		// One write of a text made on the stack: no lock, no allocation.
		char Text[96];
		int Len = std::snprintf(Text, sizeof(Text), "heap corruption: %p is not a live block\n", pAddress);
		if (Len > 0)
		{
			ssize_t Written = write(STDERR_FILENO, Text, size_t(Len) < sizeof(Text) ? size_t(Len) : sizeof(Text) - 1);
			(void)Written;
		}
		std::abort();
	}

	bool gf_Mem_QueryRegion(const void *pAddress, CMemoryRegion &Region)
	{
		// Reads the mapping holding pAddress from /proc/self/maps; between mappings the region
		// is free, and a mapping counts as committed when it is readable (decommitted pages are
		// inaccessible).
		FILE *pFile = std::fopen("/proc/self/maps", "r");
		if (!pFile)
			return false;
		umint Address = umint(pAddress);
		umint PrevEnd = 0;
		bool bFound = false;
		unsigned long Begin = 0, End = 0;
		char Perms[8] = {};
		char Line[512];
		while (std::fgets(Line, sizeof(Line), pFile))
		{
			if (std::sscanf(Line, "%lx-%lx %7s", &Begin, &End, Perms) != 3)
				continue;
			if (Address < Begin)
			{
				Region = CMemoryRegion{PrevEnd, umint(Begin) - PrevEnd, 0, true, false};
				bFound = true;
				break;
			}
			if (Address < End)
			{
				Region = CMemoryRegion{umint(Begin), umint(End - Begin), umint(Begin), false, Perms[0] == 'r'};
				bFound = true;
				break;
			}
			PrevEnd = umint(End);
		}
		std::fclose(pFile);
		return bFound;
	}
}
