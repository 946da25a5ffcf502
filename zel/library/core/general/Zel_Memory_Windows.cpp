#include "zel/library/core/general/Zel_Memory_Platform.h"

#include "zel/library/core/general/Zel_Heap.h"
#include "zel/library/core/general/Zel_System.h"

namespace NZel::NMemory::NPlatform
{
	// The process heap; running out of memory is a null result here, never an exception.

	void *gf_HeapAlloc(umint Size)
	{
		try
		{
			return gf_GetProcessHeap().f_Alloc(Size);
		}
		catch (...)
		{
			return nullptr;
		}
	}

	void *gf_HeapRealloc(void *p, umint Size)
	{
		try
		{
			return gf_GetProcessHeap().f_Resize(p, Size);
		}
		catch (...)
		{
			return nullptr;
		}
	}

	void gf_HeapFree(void *p)
	{
		gf_GetProcessHeap().f_Free(p);
	}

	umint gf_HeapSize(const void *p)
	{
		return gf_GetProcessHeap().f_GetUsableSize(p);
	}
}
