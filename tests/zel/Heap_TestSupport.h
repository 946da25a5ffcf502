#pragma once
// A heap of its own for each test, and a check of its block headers.
#include "zel/library/core/general/Zel_Heap.h"

#include <gtest/gtest.h>

#include <memory>

namespace NHeapTest
{
	using NZel::umint;
	using NZel::NMemory::CProcessHeap;

	inline std::unique_ptr<CProcessHeap> gf_MakeHeap()
	{
		return std::make_unique<CProcessHeap>();
	}

	inline ::testing::AssertionResult gf_HeapIsSound(CProcessHeap &Heap)
	{
		const char *pReason = "";
		if (Heap.f_Check(pReason))
			return ::testing::AssertionSuccess();
		return ::testing::AssertionFailure() << pReason;
	}

	// Fills a block with a pattern that depends on its seed and on the position.
	inline void gf_Fill(void *p, umint Size, unsigned Seed)
	{
		auto *pBytes = static_cast<unsigned char *>(p);
		for (umint i = 0; i < Size; ++i)
			pBytes[i] = static_cast<unsigned char>(Seed * 131 + i * 7);
	}

	inline bool gf_HasPattern(const void *p, umint Size, unsigned Seed)
	{
		auto const *pBytes = static_cast<const unsigned char *>(p);
		for (umint i = 0; i < Size; ++i)
		{
			if (pBytes[i] != static_cast<unsigned char>(Seed * 131 + i * 7))
				return false;
		}
		return true;
	}
}
