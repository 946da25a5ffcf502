#pragma once
// Contract of the platform heap under CAllocator_Heap (one implementation per platform):
// gf_HeapAlloc gives at least Size bytes or null; gf_HeapRealloc gives null on failure and
// leaves p untouched; gf_HeapFree takes a non-null block; gf_HeapSize gives the usable size of
// a non-null block, at least the size last asked for.
#include "zel/library/core/general/Zel_Types.h"

namespace NZel::NMemory::NPlatform
{
	void *gf_HeapAlloc(umint Size);
	void *gf_HeapRealloc(void *p, umint Size);
	void gf_HeapFree(void *p);
	umint gf_HeapSize(const void *p);
}
