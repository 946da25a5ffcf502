#include "zel/library/core/general/Zel_Memory_Platform.h"

#include <windows.h>

namespace NZel::NMemory::NPlatform
{
	void *gf_HeapAlloc(umint Size)
	{
		return HeapAlloc(GetProcessHeap(), 0, Size ? Size : 1);
	}

	void *gf_HeapRealloc(void *p, umint Size)
	{
		// HeapReAlloc leaves the old block valid when it fails.
		return HeapReAlloc(GetProcessHeap(), 0, p, Size ? Size : 1);
	}

	void gf_HeapFree(void *p)
	{
		HeapFree(GetProcessHeap(), 0, p);
	}

	umint gf_HeapSize(const void *p)
	{
		SIZE_T Size = HeapSize(GetProcessHeap(), 0, p);
		return Size == SIZE_T(-1) ? 0 : umint(Size);
	}
}
