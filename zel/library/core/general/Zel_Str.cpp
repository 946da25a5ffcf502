#include "zel/library/core/general/Zel_Str.h"
#include "zel/library/core/general/Zel_Memory.h"

#include <cstring>
#include <type_traits>

#if defined(_WIN32) && defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace NZel::NStr
{
	using NPrivate::CStrBlock;
	using NMemory::CAllocator_Heap;

	namespace
	{
		constexpr uint32 gc_KindMask = ~gc_LengthMask;
		constexpr uint32 gc_NewBlockWord = (gc_KindLatin1 << gc_KindShift) | gc_LengthMask;
		constexpr char32_t gc_Replacement = 0xFFFD;

		// Lengths must stay below the 30-bit unmeasured mark, and a block at most 1 GiB.
		template <typename t_CUnit>
		constexpr int32 gc_MaxUnits = int32(((1 << 30) - gc_BlockHeaderSize) / int32(sizeof(t_CUnit)));

		template <typename t_CUnit>
		constexpr int32 gc_UnitSize = int32(sizeof(t_CUnit));

		// The size of a block of this capacity as the trim rule compares it: the block the heap
		// really gave (the capacity is measured from it) rounded down to the 16-byte step a
		// request for that much would take; with bPowerOfTwo, above 256 bytes rounded down to a
		// power of two, the steps in which large blocks grow.
		umint fg_TrimSize(int32 Capacity, int32 UnitSize, bool bPowerOfTwo)
		{
			umint Size = (umint(Capacity) * umint(UnitSize) + gc_BlockHeaderSize) & ~umint(15);
			if (bPowerOfTwo && Size > 256)
			{
				umint Pow = 256;
				while (Pow * 2 <= Size)
					Pow *= 2;
				Size = Pow;
			}
			return Size;
		}

		// The capacity of a block of Size bytes: what follows the header, in whole units.
		template <typename t_CUnit>
		int32 fg_CapacityOfSize(umint Size)
		{
			umint Units = Size > umint(gc_BlockHeaderSize) ? (Size - gc_BlockHeaderSize) / sizeof(t_CUnit) : 0;
			return Units > umint(gc_MaxUnits<t_CUnit>) ? gc_MaxUnits<t_CUnit> : int32(Units);
		}

		void fg_SetLength(CStrBlock *pBlock, uint32 Kind, int32 Len)
		{
			pBlock->f_LengthWord.store((Kind << gc_KindShift) | uint32(Len), std::memory_order_relaxed);
		}

		// A new block with room for at least nUnits units: count 1, an unmeasured length of kind
		// 1, empty text. Its capacity is left unknown (0): the heap may have given more than was
		// asked for, and the capacity is measured from the block it really gave when first
		// needed. Paths that only write what they asked for never need to ask.
		template <typename t_CUnit>
		CStrBlock *fg_NewBlock(int32 nUnits)
		{
			void *pMem = CAllocator_Heap::f_Alloc(gf_BlockSize(nUnits, gc_UnitSize<t_CUnit>));
			if (!pMem)
				return nullptr;
			CStrBlock *pBlock = static_cast<CStrBlock *>(pMem);
			pBlock->f_RefCount.store(1, std::memory_order_relaxed);
			pBlock->f_Capacity.store(0, std::memory_order_relaxed);
			pBlock->f_LengthWord.store(gc_NewBlockWord, std::memory_order_relaxed);
			pBlock->f_GetText<t_CUnit>()[0] = 0;
			return pBlock;
		}

		// A new block holding the Count units (0 < Count < gc_MaxUnits) of the given kind, sized
		// for them alone; null when the heap has no room.
		template <typename t_CUnit>
		CStrBlock *fg_NewBlockWith(const t_CUnit *pUnits, int32 Count, uint32 Kind)
		{
			void *pMem = CAllocator_Heap::f_Alloc(gf_BlockSize(Count + 1, gc_UnitSize<t_CUnit>));
			if (!pMem)
				return nullptr;
			CStrBlock *pBlock = static_cast<CStrBlock *>(pMem);
			pBlock->f_RefCount.store(1, std::memory_order_relaxed);
			pBlock->f_Capacity.store(0, std::memory_order_relaxed);
			t_CUnit *pText = pBlock->f_GetText<t_CUnit>();
			NPrivate::gf_CopyBytes(pText, pUnits, umint(Count) * sizeof(t_CUnit));
			pText[Count] = 0;
			fg_SetLength(pBlock, Kind, Count);
			return pBlock;
		}

		// Bytes the block is known to hold without asking the heap: from its capacity when that
		// is measured; otherwise from its length, as a block whose capacity was never measured
		// has only been written within the size it was asked for, which is at least the block
		// size of its text. 0 when neither is known.
		umint fg_KnownBlockSize(CStrBlock *pBlock, int32 UnitSize)
		{
			int32 Capacity = pBlock->f_Capacity.load(std::memory_order_relaxed);
			if (Capacity > 0)
				return umint(Capacity) * umint(UnitSize) + gc_BlockHeaderSize;
			uint32 Len = pBlock->f_LengthWord.load(std::memory_order_relaxed) & gc_LengthMask;
			return Len == gc_LengthMask ? 0 : gf_BlockSize(int32(Len) + 1, UnitSize);
		}

		template <typename t_CUnit>
		int32 fg_Capacity(CStrBlock *pBlock)
		{
			int32 Capacity = pBlock->f_Capacity.load(std::memory_order_relaxed);
			if (Capacity == 0)
			{
				Capacity = fg_CapacityOfSize<t_CUnit>(CAllocator_Heap::f_GetSize(pBlock));
				pBlock->f_Capacity.store(Capacity, std::memory_order_relaxed);
			}
			return Capacity;
		}

		template <typename t_CUnit>
		int32 fg_TextLength(const t_CUnit *pText, int32 Max)
		{
			if constexpr (sizeof(t_CUnit) == 1)
				return gf_TextLength(reinterpret_cast<const char *>(pText), Max);
			int32 Len = 0;
			while (Len < Max && pText[Len])
				++Len;
			return Len;
		}

		template <typename t_CUnit>
		int32 fg_Length(CStrBlock *pBlock)
		{
			uint32 Word = pBlock->f_LengthWord.load(std::memory_order_relaxed);
			if ((Word & gc_LengthMask) != gc_LengthMask)
				return int32(Word & gc_LengthMask);
			// Measured within the block, so text written without a terminator cannot make us
			// read past it.
			int32 Capacity = fg_Capacity<t_CUnit>(pBlock);
			t_CUnit *pText = pBlock->f_GetText<t_CUnit>();
			int32 Len = fg_TextLength(pText, Capacity);
			if (Len >= Capacity && Capacity > 0)
			{
				Len = Capacity - 1;
				// Only a private block can lack its terminator (it was written through a
				// writable buffer), so this write races with no reader.
				pText[Len] = 0;
			}
			pBlock->f_LengthWord.store((Word & gc_KindMask) | uint32(Len), std::memory_order_relaxed);
			return Len;
		}

		int32 fg_Min(int32 a, int32 b)
		{
			return a < b ? a : b;
		}

		bool fg_IsSurrogate(char32_t Code)
		{
			return Code >= 0xD800 && Code <= 0xDFFF;
		}

		// One character of UTF-8 at i, advancing i. A bad sequence (a byte that cannot start
		// one, or the longest start of a valid sequence that is cut or broken) reads as one
		// U+FFFD and clears bValid.
		char32_t fg_DecodeUtf8(const unsigned char *p, int32 Count, int32 &i, bool &bValid)
		{
			unsigned char Lead = p[i++];
			if (Lead < 0x80)
				return Lead;
			int32 nMore;
			char32_t Code;
			unsigned char Low = 0x80; // the range of the second byte, narrowed for the leads
			unsigned char High = 0xBF; // that would otherwise allow overlong forms, surrogates
			if (Lead >= 0xC2 && Lead <= 0xDF) // or code points above U+10FFFF
			{
				nMore = 1;
				Code = Lead & 0x1F;
			}
			else if (Lead >= 0xE0 && Lead <= 0xEF)
			{
				nMore = 2;
				Code = Lead & 0x0F;
				if (Lead == 0xE0)
					Low = 0xA0;
				else if (Lead == 0xED)
					High = 0x9F;
			}
			else if (Lead >= 0xF0 && Lead <= 0xF4)
			{
				nMore = 3;
				Code = Lead & 0x07;
				if (Lead == 0xF0)
					Low = 0x90;
				else if (Lead == 0xF4)
					High = 0x8F;
			}
			else
			{
				bValid = false;
				return gc_Replacement;
			}
			for (int32 n = 0; n < nMore; ++n)
			{
				if (i >= Count || p[i] < Low || p[i] > High)
				{
					bValid = false;
					return gc_Replacement;
				}
				Code = (Code << 6) | (p[i++] & 0x3F);
				Low = 0x80;
				High = 0xBF;
			}
			return Code;
		}

		// One character of text in units of t_CSource and the given kind, at i, advancing i.
		template <typename t_CSource>
		char32_t fg_Decode(const t_CSource *pUnits, int32 Count, int32 &i, uint32 Kind)
		{
			if constexpr (sizeof(t_CSource) == 1)
			{
				const unsigned char *p = reinterpret_cast<const unsigned char *>(pUnits);
				if (Kind != gc_KindUnicode)
					return p[i++];
				bool bValid = true;
				return fg_DecodeUtf8(p, Count, i, bValid);
			}
			else if constexpr (sizeof(t_CSource) == 2)
			{
				char32_t Unit = char16_t(pUnits[i++]);
				if (Kind != gc_KindUnicode || !fg_IsSurrogate(Unit))
					return Unit;
				if (Unit <= 0xDBFF && i < Count)
				{
					char32_t Next = char16_t(pUnits[i]);
					if (Next >= 0xDC00 && Next <= 0xDFFF)
					{
						++i;
						return 0x10000 + ((Unit - 0xD800) << 10) + (Next - 0xDC00);
					}
				}
				return gc_Replacement; // a surrogate without its partner
			}
			else
			{
				(void)Count;
				(void)Kind;
				return char32_t(pUnits[i++]);
			}
		}

		// Code as units of t_CUnit for the given kind into pOut (room for 4); returns how many.
		// Kind 2 cannot hold surrogates or codes above U+10FFFF: they become U+FFFD. Other
		// kinds hold one unit per character and keep the low bits of the code.
		template <typename t_CUnit>
		int32 fg_Encode(char32_t Code, uint32 Kind, t_CUnit *pOut)
		{
			if (Kind != gc_KindUnicode)
			{
				pOut[0] = t_CUnit(Code);
				return 1;
			}
			if (fg_IsSurrogate(Code) || Code > 0x10FFFF)
				Code = gc_Replacement;
			if constexpr (sizeof(t_CUnit) == 1)
			{
				if (Code < 0x80)
				{
					pOut[0] = t_CUnit(Code);
					return 1;
				}
				if (Code < 0x800)
				{
					pOut[0] = t_CUnit(0xC0 | (Code >> 6));
					pOut[1] = t_CUnit(0x80 | (Code & 0x3F));
					return 2;
				}
				if (Code < 0x10000)
				{
					pOut[0] = t_CUnit(0xE0 | (Code >> 12));
					pOut[1] = t_CUnit(0x80 | ((Code >> 6) & 0x3F));
					pOut[2] = t_CUnit(0x80 | (Code & 0x3F));
					return 3;
				}
				pOut[0] = t_CUnit(0xF0 | (Code >> 18));
				pOut[1] = t_CUnit(0x80 | ((Code >> 12) & 0x3F));
				pOut[2] = t_CUnit(0x80 | ((Code >> 6) & 0x3F));
				pOut[3] = t_CUnit(0x80 | (Code & 0x3F));
				return 4;
			}
			else if constexpr (sizeof(t_CUnit) == 2)
			{
				if (Code < 0x10000)
				{
					pOut[0] = t_CUnit(Code);
					return 1;
				}
				pOut[0] = t_CUnit(0xD800 + ((Code - 0x10000) >> 10));
				pOut[1] = t_CUnit(0xDC00 + ((Code - 0x10000) & 0x3FF));
				return 2;
			}
			else
			{
				pOut[0] = t_CUnit(Code);
				return 1;
			}
		}

		// True when Unit, in text of the given kind, continues a character begun before it.
		template <typename t_CUnit>
		bool fg_IsContinuation(t_CUnit Unit, uint32 Kind)
		{
			if (Kind != gc_KindUnicode)
				return false;
			if constexpr (sizeof(t_CUnit) == 1)
				return (uint8(Unit) & 0xC0) == 0x80;
			else if constexpr (sizeof(t_CUnit) == 2)
				return uint16(Unit) >= 0xDC00 && uint16(Unit) <= 0xDFFF;
			else
				return false;
		}

		template <typename t_CUnit>
		int32 fg_CompareUnits(const t_CUnit *pA, const t_CUnit *pB)
		{
			static const t_CUnit c_Empty[1] = {};
			const t_CUnit *a = pA ? pA : c_Empty;
			const t_CUnit *b = pB ? pB : c_Empty;
			using CUnsigned = std::conditional_t<sizeof(t_CUnit) == 1, uint8, std::conditional_t<sizeof(t_CUnit) == 2, uint16, uint32>>;
			for (;; ++a, ++b)
			{
				if (*a == *b)
				{
					if (!*a)
						return 0;
					continue;
				}
				if (!*a)
					return -1;
				if (!*b)
					return 1;
				int64 Difference = 2 * (int64(CUnsigned(*a)) - int64(CUnsigned(*b)));
				if (Difference > 0x7FFFFFFF)
					return 0x7FFFFFFE;
				if (Difference < -0x7FFFFFFF)
					return -0x7FFFFFFE;
				return int32(Difference);
			}
		}
	}

	int32 gf_TextLength(const char *pText, int32 Max)
	{
		if (Max <= 0)
			return 0;
#if defined(_WIN32) && defined(__SSE2__)
		// The C library's strlen reads one byte at a time here. Sixteen at a time, from 16-byte
		// aligned addresses (which never cross into another page, so the bytes around the text
		// that are read along with it are always readable):
		auto fZeroMask = [](const char *pChunk) -> uint32
		{
			__m128i const Chunk = _mm_load_si128(reinterpret_cast<const __m128i *>(pChunk));
			return uint32(_mm_movemask_epi8(_mm_cmpeq_epi8(Chunk, _mm_setzero_si128())));
		};
		umint const Skip = umint(pText) & 15;
		const char *pChunk = pText - Skip;
		uint32 Mask = fZeroMask(pChunk) >> Skip;
		if (Mask)
			return fg_Min(int32(__builtin_ctz(Mask)), Max);
		for (umint Done = 16 - Skip; Done < umint(Max); Done += 16)
		{
			pChunk += 16;
			Mask = fZeroMask(pChunk);
			if (Mask)
			{
				umint Len = Done + umint(__builtin_ctz(Mask));
				return Len < umint(Max) ? int32(Len) : Max;
			}
		}
		return Max;
#else
		const void *pZero = std::memchr(pText, 0, umint(Max));
		return pZero ? int32(static_cast<const char *>(pZero) - pText) : Max;
#endif
	}

	int16 gf_Compare(const char *pA, const char *pB)
	{
		return int16(fg_CompareUnits(pA, pB));
	}

	int32 gf_Compare(const CChar16 *pA, const CChar16 *pB)
	{
		return fg_CompareUnits(pA, pB);
	}

	int32 gf_Compare(const CChar32 *pA, const CChar32 *pB)
	{
		return fg_CompareUnits(pA, pB);
	}

	bool gf_IsUtf8(const char *pText, int32 Count)
	{
		bool bValid = true;
		const unsigned char *p = reinterpret_cast<const unsigned char *>(pText);
		for (int32 i = 0; i < Count && bValid;)
			fg_DecodeUtf8(p, Count, i, bValid);
		return bValid;
	}

	void NPrivate::gf_ReleaseBlock(CStrBlock *pBlock, int32 UnitSize)
	{
		// A count of 1 is the caller's own reference: no other string can reach the block to
		// change the count, so the last holder frees it without the interlocked decrement.
		if (pBlock->f_RefCount.load(std::memory_order_acquire) != 1 && pBlock->f_RefCount.fetch_sub(1, std::memory_order_acq_rel) != 1)
			return;
		CAllocator_Heap::f_Free(pBlock, fg_KnownBlockSize(pBlock, UnitSize));
	}

	template <typename t_CUnit>
	TCStr<t_CUnit>::TCStr(const t_CUnit *pText)
	{
		if (pText && *pText)
			fp_Build(pText, -1, gc_KindLatin1);
	}

	template <typename t_CUnit>
	TCStr<t_CUnit>::TCStr(const t_CUnit *pText, int32 Count)
	{
		if (pText && *pText && Count != 0)
			fp_Build(pText, Count, gc_KindLatin1);
	}

	template <typename t_CUnit>
	template <typename t_CSource>
	void TCStr<t_CUnit>::fp_Build(const t_CSource *pText, int32 Count, uint32 Kind)
	{
		if (pText && Count < 0)
			Count = fg_TextLength(pText, gc_MaxUnits<t_CSource>);
		if constexpr (sizeof(t_CSource) == sizeof(t_CUnit))
		{
			// Units of our own width need no recoding whatever their kind: one block of just
			// the size they need, and nothing to trim.
			if (!pText || Count <= 0)
				return;
			if (Count > gc_MaxUnits<t_CUnit> - 1)
				Count = gc_MaxUnits<t_CUnit> - 1;
			fp_pBlock = fg_NewBlockWith(reinterpret_cast<const t_CUnit *>(pText), Count, Kind & 3);
			return;
		}
		int32 Pos = 0;
		fp_AppendUnits(Pos, Kind, pText, Count);
		f_SetLengthAndTrim(Pos);
	}

	template <typename t_CUnit>
	TCStr<t_CUnit>::TCStr(const char *pText, int32 Count, uint32 Kind)
	{
		fp_Build(pText, Count, Kind);
	}

	template <typename t_CUnit>
	TCStr<t_CUnit>::TCStr(const CChar16 *pText, int32 Count, uint32 Kind)
	{
		fp_Build(pText, Count, Kind);
	}

	template <typename t_CUnit>
	TCStr<t_CUnit>::TCStr(const CChar32 *pText, int32 Count, uint32 Kind)
	{
		fp_Build(pText, Count, Kind);
	}

	template <typename t_CUnit>
	TCStr<t_CUnit> &TCStr<t_CUnit>::operator=(const TCStr &Other) noexcept
	{
		// The new reference is taken before the old one goes, so self-assignment is safe.
		CStrBlock *pNew = Other.fp_pBlock;
		if (pNew)
			pNew->f_RefCount.fetch_add(1, std::memory_order_relaxed);
		CStrBlock *pOld = fp_pBlock;
		fp_pBlock = pNew;
		if (pOld)
			NPrivate::gf_ReleaseBlock(pOld, gc_UnitSize<t_CUnit>);
		return *this;
	}

	template <typename t_CUnit>
	TCStr<t_CUnit> &TCStr<t_CUnit>::operator=(const t_CUnit *pText)
	{
		// pText may point into our own block: build the new text first.
		TCStr New(pText);
		*this = static_cast<TCStr &&>(New);
		return *this;
	}

	template <typename t_CUnit>
	int32 TCStr<t_CUnit>::fp_MeasureLen() const
	{
		return fg_Length<t_CUnit>(fp_pBlock);
	}

	template <typename t_CUnit>
	int32 TCStr<t_CUnit>::f_GetCapacity() const
	{
		return fp_pBlock ? fg_Capacity<t_CUnit>(fp_pBlock) : 0;
	}

	template <typename t_CUnit>
	void TCStr<t_CUnit>::f_Clear()
	{
		if (fp_pBlock)
		{
			NPrivate::gf_ReleaseBlock(fp_pBlock, gc_UnitSize<t_CUnit>);
			fp_pBlock = nullptr;
		}
	}

	template <typename t_CUnit>
	int32 TCStr<t_CUnit>::fp_MakePrivate(int32 nUnits, bool bCopy)
	{
		CStrBlock *pOld = fp_pBlock;
		int32 Len = bCopy ? fg_Length<t_CUnit>(pOld) : 0;
		if (nUnits < Len + 1)
			nUnits = Len + 1;
		CStrBlock *pNew = fg_NewBlock<t_CUnit>(nUnits);
		if (!pNew)
			return 0; // the shared text stays as it was; the caller gets no room to write
		if (bCopy)
		{
			int32 Room = fg_Capacity<t_CUnit>(pNew);
			int32 n = fg_Min(Len, Room - 1);
			std::memcpy(pNew->f_GetText<t_CUnit>(), pOld->f_GetText<t_CUnit>(), umint(n) * sizeof(t_CUnit));
			pNew->f_GetText<t_CUnit>()[n] = 0;
			uint32 Word = pOld->f_LengthWord.load(std::memory_order_relaxed);
			fg_SetLength(pNew, Word >> gc_KindShift, n);
		}
		fp_pBlock = pNew;
		NPrivate::gf_ReleaseBlock(pOld, gc_UnitSize<t_CUnit>);
		return fg_Capacity<t_CUnit>(pNew);
	}

	template <typename t_CUnit>
	int32 TCStr<t_CUnit>::f_Reserve(int32 nUnits, bool bDiscard)
	{
		if (nUnits <= 0)
		{
			f_Clear();
			return 0;
		}
		if (nUnits > gc_MaxUnits<t_CUnit>)
			nUnits = gc_MaxUnits<t_CUnit>;
		if (!fp_pBlock)
		{
			fp_pBlock = fg_NewBlock<t_CUnit>(nUnits);
			return fp_pBlock ? fg_Capacity<t_CUnit>(fp_pBlock) : 0;
		}
		bool bShared = fp_pBlock->f_RefCount.load(std::memory_order_acquire) > 1;
		int32 Capacity = fg_Capacity<t_CUnit>(fp_pBlock);
		if (bShared)
			return fp_MakePrivate(nUnits, !bDiscard);
		if (Capacity >= nUnits)
			return Capacity;
		umint Size = gf_BlockSize(nUnits, gc_UnitSize<t_CUnit>);
		void *pNew = CAllocator_Heap::f_Realloc(fp_pBlock, Size);
		if (!pNew)
			return Capacity; // less room than asked; the text is kept
		fp_pBlock = static_cast<CStrBlock *>(pNew);
		fp_pBlock->f_Capacity.store(0, std::memory_order_relaxed); // measured from the new block
		if (bDiscard)
		{
			fp_pBlock->f_LengthWord.store(gc_NewBlockWord, std::memory_order_relaxed);
			fp_pBlock->f_GetText<t_CUnit>()[0] = 0;
		}
		return fg_Capacity<t_CUnit>(fp_pBlock);
	}

	template <typename t_CUnit>
	t_CUnit *TCStr<t_CUnit>::f_GetWritableBuffer(int32 Count)
	{
		if (Count < 0 || Count >= gc_MaxUnits<t_CUnit>)
			return nullptr;
		int32 Needed = Count + 1;
		int32 Len = f_GetLen();
		if (Needed < Len + 1)
			Needed = Len + 1;
		if (f_Reserve(Needed) < Needed || !fp_pBlock)
			return nullptr;
		uint32 Word = fp_pBlock->f_LengthWord.load(std::memory_order_relaxed);
		fp_pBlock->f_LengthWord.store(Word | gc_LengthMask, std::memory_order_relaxed);
		return fp_pBlock->f_GetText<t_CUnit>();
	}

	template <typename t_CUnit>
	t_CUnit *TCStr<t_CUnit>::fp_BeginWrite(int32 &Pos, int32 &Count)
	{
		if (Count < 0)
			Count = 0;
		if (Pos < 0)
			Pos = 0;
		// Writing beyond the text would leave unwritten units inside it.
		int32 Len = f_GetLen();
		if (Pos > Len)
			Pos = Len;
		int64 Wanted = int64(Pos) + Count + 1;
		int32 Room = f_Reserve(Wanted > gc_MaxUnits<t_CUnit> ? gc_MaxUnits<t_CUnit> : int32(Wanted));
		if (!fp_pBlock || Room <= Pos)
			return nullptr;
		Count = fg_Min(Count, Room - 1 - Pos);
		return fp_pBlock->f_GetText<t_CUnit>() + Pos;
	}

	template <typename t_CUnit>
	void TCStr<t_CUnit>::fp_EndWrite(int32 &Pos, uint32 Kind, int32 Count)
	{
		Pos += Count;
		fp_pBlock->f_GetText<t_CUnit>()[Pos] = 0;
		fg_SetLength(fp_pBlock, Kind, Pos);
	}

	template <typename t_CUnit>
	bool TCStr<t_CUnit>::fp_AppendRaw(int32 &Pos, uint32 Kind, const t_CUnit *pUnits, int32 Count)
	{
		int32 Wanted = Count < 0 ? 0 : Count;
		t_CUnit *pWrite = fp_BeginWrite(Pos, Count);
		if (!pWrite)
			return Wanted == 0;
		if (Count > 0)
			std::memmove(pWrite, pUnits, umint(Count) * sizeof(t_CUnit));
		fp_EndWrite(Pos, Kind, Count);
		return Count == Wanted;
	}

	template <typename t_CUnit>
	template <typename t_CSource>
	bool TCStr<t_CUnit>::fp_AppendConverted(int32 &Pos, uint32 FromKind, uint32 ToKind, const t_CSource *pUnits, int32 Count)
	{
		// Character by character through a small buffer; at least one write even for no text,
		// so that an empty string takes the kind.
		t_CUnit Buf[128];
		int32 i = 0;
		do
		{
			int32 n = 0;
			while (i < Count && n <= int32(sizeof(Buf) / sizeof(Buf[0])) - 4)
				n += fg_Encode(fg_Decode(pUnits, Count, i, FromKind), ToKind, Buf + n);
			int32 Before = Pos;
			fp_AppendRaw(Pos, ToKind, Buf, n);
			int32 Written = Pos - Before;
			if (Written < n)
			{
				// Out of room: a character whose units did not all fit is taken back whole.
				int32 Keep = Written;
				while (Keep > 0 && fg_IsContinuation(Buf[Keep], ToKind))
					--Keep;
				if (Keep < Written && fp_pBlock)
				{
					Pos = Before + Keep;
					fp_pBlock->f_GetText<t_CUnit>()[Pos] = 0;
					fg_SetLength(fp_pBlock, ToKind, Pos);
				}
				return false;
			}
		} while (i < Count);
		return true;
	}

	template <typename t_CUnit>
	bool TCStr<t_CUnit>::fp_ConvertKind(int32 &Pos, uint32 Kind)
	{
		// Rebuilt into a new string so the old text stays readable while it is converted.
		TCStr New;
		int32 Len = f_GetLen();
		if (New.f_Reserve(Len + 1) <= 0)
			return false;
		int32 NewPos = 0;
		if (!New.fp_AppendConverted(NewPos, f_GetKind(), Kind, f_GetStr(), Len))
			return false; // the old text stays whole
		*this = static_cast<TCStr &&>(New);
		Pos = NewPos;
		return true;
	}

	template <typename t_CUnit>
	template <typename t_CSource>
	bool TCStr<t_CUnit>::fp_AppendUnits(int32 &Pos, uint32 Kind, const t_CSource *pUnits, int32 Count)
	{
		Kind &= 3;
		if (!pUnits || Count < 0)
			Count = 0;
		uint32 Target = Kind;
		uint32 Own = f_GetKind();
		if (Kind != Own && Pos > 0 && fp_pBlock)
		{
			if (Own > Kind)
				Target = Own; // the appended text is converted to the string's kind
			else
			{
				// The appended text needs a higher kind: the existing text is converted first.
				int32 Len = f_GetLen();
				if (Pos > Len)
					Pos = Len;
				f_SetLengthAndTrim(Pos);
				// Without memory for the conversion nothing fits: text of two kinds in one
				// string could no longer be read.
				if (!fp_ConvertKind(Pos, Kind))
					return Count == 0;
			}
		}
		if constexpr (sizeof(t_CSource) == sizeof(t_CUnit))
		{
			// Same width, and either both or neither are the multi-unit form: nothing to recode.
			if ((Kind == gc_KindUnicode) == (Target == gc_KindUnicode))
			{
				return fp_AppendRaw(Pos, Target, reinterpret_cast<const t_CUnit *>(pUnits), Count);
			}
		}
		return fp_AppendConverted(Pos, Kind, Target, pUnits, Count);
	}

	template <typename t_CUnit>
	bool TCStr<t_CUnit>::f_AppendText(int32 &Pos, uint32 Kind, const char *pUnits, int32 Count)
	{
		return fp_AppendUnits(Pos, Kind, pUnits, Count);
	}

	template <typename t_CUnit>
	bool TCStr<t_CUnit>::f_AppendText(int32 &Pos, uint32 Kind, const CChar16 *pUnits, int32 Count)
	{
		return fp_AppendUnits(Pos, Kind, pUnits, Count);
	}

	template <typename t_CUnit>
	bool TCStr<t_CUnit>::f_AppendText(int32 &Pos, uint32 Kind, const CChar32 *pUnits, int32 Count)
	{
		return fp_AppendUnits(Pos, Kind, pUnits, Count);
	}

	template <typename t_CUnit>
	bool TCStr<t_CUnit>::f_AppendText(int32 &Pos, uint32 Kind, const uint16 *pUnits, int32 Count)
	{
		return fp_AppendUnits(Pos, Kind, reinterpret_cast<const CChar16 *>(pUnits), Count);
	}

	template <typename t_CUnit>
	void TCStr<t_CUnit>::f_AppendChar(int32 &Pos, t_CUnit Char, int32 Count)
	{
		t_CUnit *pWrite = fp_BeginWrite(Pos, Count);
		if (!pWrite)
			return;
		for (int32 i = 0; i < Count; ++i)
			pWrite[i] = Char;
		fp_EndWrite(Pos, f_GetKind(), Count);
	}

	template <typename t_CUnit>
	void TCStr<t_CUnit>::f_SetLengthAndTrim(int32 Pos, int32 SpareBytes)
	{
		if (!fp_pBlock)
			return;
		if (Pos == 0)
		{
			f_Clear();
			return;
		}
		if (fp_pBlock->f_RefCount.load(std::memory_order_acquire) > 1 && f_Reserve(f_GetLen() + 1) <= 0)
			return;
		uint32 Kind = f_GetKind();
		int32 Capacity = fg_Capacity<t_CUnit>(fp_pBlock);
		if (Pos < 0)
		{
			fp_pBlock->f_LengthWord.store((Kind << gc_KindShift) | gc_LengthMask, std::memory_order_relaxed);
			Pos = fg_Length<t_CUnit>(fp_pBlock);
			if (Pos == 0)
			{
				f_Clear();
				return;
			}
		}
		if (Pos > Capacity - 1)
			Pos = Capacity - 1;
		fp_pBlock->f_GetText<t_CUnit>()[Pos] = 0;
		fg_SetLength(fp_pBlock, Kind, Pos);
		if (Capacity == Pos + 1)
			return;
		int32 SpareUnits = SpareBytes > 0 ? (SpareBytes + gc_UnitSize<t_CUnit> - 1) / gc_UnitSize<t_CUnit> : 0;
		umint Wanted = gf_BlockSize(Pos + 1 + SpareUnits, gc_UnitSize<t_CUnit>);
		// A block handed on by a sized free may be one 16-byte step larger than a fresh request
		// would get: a new block is worth it only when it saves more than that step.
		if (Wanted + 16 >= fg_TrimSize(Capacity, gc_UnitSize<t_CUnit>, SpareBytes > 0))
			return;
		void *pNew = CAllocator_Heap::f_Realloc(fp_pBlock, Wanted);
		if (!pNew)
			return; // a smaller block is only an economy; keep the larger one
		fp_pBlock = static_cast<CStrBlock *>(pNew);
		fp_pBlock->f_Capacity.store(0, std::memory_order_relaxed); // measured from the new block
	}

	template <typename t_CUnit>
	void TCStr<t_CUnit>::f_Append(const t_CUnit *pText, int32 Count)
	{
		if (!pText || !*pText || Count == 0)
			return;
		if (Count < 0)
			Count = fg_TextLength(pText, gc_MaxUnits<t_CUnit>);
		int32 Pos = f_GetLen();
		// The source may lie inside our own block, which growing could move.
		const t_CUnit *pOwn = fp_pBlock ? fp_pBlock->f_GetText<t_CUnit>() : nullptr;
		if (pOwn && pText >= pOwn && pText < pOwn + f_GetCapacity())
		{
			TCStr Source(pText, Count);
			f_AppendText(Pos, gc_KindLatin1, Source.f_GetStr(), Count);
		}
		else
			f_AppendText(Pos, gc_KindLatin1, pText, Count);
		f_SetLengthAndTrim(Pos);
	}

	template <typename t_CUnit>
	TCStr<t_CUnit> TCStr<t_CUnit>::fs_Concat(const TCStr &A, const TCStr &B)
	{
		TCStr Result;
		int32 LenA = A.f_GetLen();
		int32 LenB = B.f_GetLen();
		if (LenA + LenB == 0)
			return Result;
		Result.f_Reserve(LenA + LenB + 1);
		int32 Pos = 0;
		Result.f_AppendText(Pos, A.f_GetKind(), A.f_GetStr(), LenA);
		Result.f_AppendText(Pos, B.f_GetKind(), B.f_GetStr(), LenB);
		Result.f_SetLengthAndTrim(Pos);
		return Result;
	}

	template class TCStr<char>;
	template class TCStr<CChar16>;
	template class TCStr<CChar32>;
}
