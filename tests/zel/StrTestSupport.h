#pragma once
// Helpers shared by the string, format and exception tests.
#include "zel/library/core/general/Zel_Memory.h"

namespace NZelTest
{
	// Makes the heap refuse allocations for the lifetime of the object (after nAllowed more
	// succeed, or above MaxSize bytes), and restores it on every path out of the test.
	class CHeapFailureScope
	{
	public:
		explicit CHeapFailureScope(NZel::int64 nAllowed, NZel::umint MaxSize = 0)
		{
			NZel::NMemory::CAllocator_Heap::fs_SetFailAfter(nAllowed);
			NZel::NMemory::CAllocator_Heap::fs_SetSizeLimit(MaxSize);
		}
		~CHeapFailureScope()
		{
			NZel::NMemory::CAllocator_Heap::fs_SetFailAfter(-1);
			NZel::NMemory::CAllocator_Heap::fs_SetSizeLimit(0);
		}
		CHeapFailureScope(const CHeapFailureScope &) = delete;
		CHeapFailureScope &operator=(const CHeapFailureScope &) = delete;
	};
}
