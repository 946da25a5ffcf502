// Random sequences of allocations, frees and both resizes on a heap of its own, checked
// against a shadow model of the live blocks: every block 16-byte aligned, none overlapping
// another, contents kept across a keeping resize, the block headers sound, and every byte
// given back at the end. The heap's decommitted pages are inaccessible in this build, so a
// touch of a page the heap failed to commit faults at once.
#include "zel/library/core/general/Zel_Heap.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

using NZel::umint;
using NZel::NMemory::CProcessHeap;

namespace
{
	struct CReader
	{
		const uint8_t *p;
		size_t Left;

		uint32_t f_Take(unsigned nBytes)
		{
			uint32_t Value = 0;
			for (unsigned i = 0; i < nBytes && Left; ++i, --Left)
				Value = Value << 8 | *p++;
			return Value;
		}
	};

	struct CShadow
	{
		uint8_t *m_p;
		umint m_Size;
		uint8_t m_Seed;
	};

	[[noreturn]] void fg_Fail(const char *pWhat)
	{
		std::fprintf(stderr, "heap fuzz: %s\n", pWhat);
		std::abort();
	}

	umint fg_Size(CReader &Reader)
	{
		uint32_t Kind = Reader.f_Take(1) % 8;
		uint32_t Raw = Reader.f_Take(3);
		switch (Kind)
		{
		case 0: return Raw % 2100;               // around the 8-bit class end
		case 1: return 2000 + Raw % 70000;       // 16-bit class
		case 2: return 524200 + Raw % 100;       // the 16-bit / large boundary
		case 3: return 524252 + Raw % 3000000;   // large class, up to several chunk steps
		default: return Raw % 130;               // the sizes nearly every request has
		}
	}

	// Contents are marked at the start, the middle and the end, which is enough to see a block
	// moved without its data or overwritten by another, and keeps large blocks cheap.
	void fg_Mark(CShadow const &Block)
	{
		for (umint i = 0; i < Block.m_Size && i < 16; ++i)
			Block.m_p[i] = uint8_t(Block.m_Seed + i);
		if (Block.m_Size > 16)
			Block.m_p[Block.m_Size - 1] = uint8_t(Block.m_Seed ^ 0x5A);
		if (Block.m_Size > 32)
			Block.m_p[Block.m_Size / 2] = uint8_t(Block.m_Seed ^ 0xA5);
	}

	// The first Prefix bytes' marks, and with bWhole the middle and end marks too.
	bool fg_Marked(CShadow const &Block, umint Prefix, bool bWhole)
	{
		for (umint i = 0; i < Prefix && i < 16; ++i)
			if (Block.m_p[i] != uint8_t(Block.m_Seed + i))
				return false;
		if (!bWhole)
			return true;
		if (Block.m_Size > 16 && Block.m_p[Block.m_Size - 1] != uint8_t(Block.m_Seed ^ 0x5A))
			return false;
		return Block.m_Size <= 32 || Block.m_p[Block.m_Size / 2] == uint8_t(Block.m_Seed ^ 0xA5);
	}

	void fg_CheckPlacement(std::vector<CShadow> const &Live, uint8_t *p, umint Size, size_t Skip)
	{
		if (umint(p) % 16)
			fg_Fail("block not 16-byte aligned");
		for (size_t i = 0; i < Live.size(); ++i)
		{
			if (i == Skip)
				continue;
			CShadow const &Other = Live[i];
			umint OtherEnd = umint(Other.m_p) + (Other.m_Size ? Other.m_Size : 1);
			if (umint(p) < OtherEnd && umint(Other.m_p) < umint(p) + (Size ? Size : 1))
				fg_Fail("blocks overlap");
		}
	}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t Size)
{
	CReader Reader{pData, Size};
	auto *pHeap = new CProcessHeap;
	std::vector<CShadow> Live;
	uint8_t Seed = 0;
	while (Reader.Left)
	{
		uint32_t Op = Reader.f_Take(1) % 4;
		if (Op == 0 || Live.empty())
		{
			umint n = fg_Size(Reader);
			auto *p = static_cast<uint8_t *>(pHeap->f_Alloc(n));
			if (!p)
				fg_Fail("allocation refused");
			fg_CheckPlacement(Live, p, n, size_t(-1));
			Live.push_back({p, n, ++Seed});
			fg_Mark(Live.back());
			continue;
		}
		size_t i = Reader.f_Take(1) % Live.size();
		CShadow Block = Live[i];
		if (!fg_Marked(Block, Block.m_Size, true))
			fg_Fail("contents changed while the block was live");
		if (Op == 1)
		{
			pHeap->f_Free(Block.m_p);
			Live[i] = Live.back();
			Live.pop_back();
			continue;
		}
		umint n = fg_Size(Reader);
		bool const bKeep = Op == 2;
		auto *p = static_cast<uint8_t *>(bKeep ? pHeap->f_Resize(Block.m_p, n) : pHeap->f_ResizeDiscard(Block.m_p, n));
		if (!p)
			fg_Fail("resize refused");
		fg_CheckPlacement(Live, p, n, i);
		if (bKeep)
		{
			// The first min(old, new) bytes moved along.
			CShadow Moved = Block;
			Moved.m_p = p;
			if (!fg_Marked(Moved, Block.m_Size < n ? Block.m_Size : n, false))
				fg_Fail("keeping resize lost contents");
		}
		Live[i] = {p, n, ++Seed};
		fg_Mark(Live[i]);
		if (Live.size() > 64)
		{
			pHeap->f_Free(Live.front().m_p);
			Live.erase(Live.begin());
		}
	}
	const char *pReason = "";
	if (!pHeap->f_Check(pReason))
		fg_Fail(pReason);
	for (CShadow const &Block : Live)
	{
		if (!fg_Marked(Block, Block.m_Size, true))
			fg_Fail("contents changed before the final free");
		pHeap->f_Free(Block.m_p);
	}
	if (!pHeap->f_Check(pReason))
		fg_Fail(pReason);
	pHeap->f_FlushQuickLists();
	if (!pHeap->f_Check(pReason))
		fg_Fail(pReason);
	// Everything given back: at most one spare chunk per class, with nothing committed but
	// the commit runs around its markers and the slack where carving goes on.
	if (pHeap->f_GetChunkCount() > 3)
		fg_Fail("chunks left over after every block was freed");
	if (pHeap->f_GetCommittedBytes() > 3 * (2 * 0x10000 + 0x40000))
		fg_Fail("committed pages left over after every block was freed");
	delete pHeap;
	return 0;
}
