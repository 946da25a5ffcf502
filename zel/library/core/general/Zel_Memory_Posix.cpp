#include "zel/library/core/general/Zel_Memory_Platform.h"

#include <cstdlib>
#include <malloc.h>

namespace NZel::NMemory::NPlatform
{
	void *gf_HeapAlloc(umint Size)
	{
		return std::malloc(Size ? Size : 1);
	}

	void *gf_HeapRealloc(void *p, umint Size)
	{
		return std::realloc(p, Size ? Size : 1);
	}

	void gf_HeapFree(void *p)
	{
		std::free(p);
	}

	umint gf_HeapSize(const void *p)
	{
		return malloc_usable_size(const_cast<void *>(p));
	}
}
