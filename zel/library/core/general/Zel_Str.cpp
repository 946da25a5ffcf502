#include "zel/library/core/general/Zel_Str.h"
#include "zel/library/core/general/Zel_Memory.h"

#include <cstring>

namespace NZel::NStr
{
	using NPrivate::CStrBlock;
	using NMemory::CAllocator_Heap;

	namespace
	{
		constexpr uint32 gc_KindMask = ~gc_LengthMask;
		constexpr uint32 gc_NewBlockWord = (gc_KindLatin1 << gc_KindShift) | gc_LengthMask;
		// Lengths must stay below the 30-bit unmeasured mark, and a block at most 1 GiB.
		constexpr int32 gc_MaxUnits = (1 << 30) - gc_BlockHeaderSize;

		// A block's size as the trim rule estimates it: capacity + 4, above 256 bytes rounded
		// down to a power of two.
		umint fg_EstimatedBlockSize(int32 Capacity)
		{
			umint Size = umint(Capacity) + 4;
			if (Size > 256)
			{
				umint Pow = 256;
				while (Pow * 2 <= Size)
					Pow *= 2;
				Size = Pow;
			}
			return Size;
		}

		// The capacity of a block of Size bytes that we just allocated. The heap gives at least
		// what was asked for, and asking it again would cost a locked call on every new block;
		// a block of unknown size (capacity 0) is measured through the heap instead.
		int32 fg_KnownCapacity(umint Size)
		{
			umint Units = Size - gc_BlockHeaderSize;
			return Units > umint(gc_MaxUnits) ? gc_MaxUnits : int32(Units);
		}

		CStrBlock *fg_NewBlock(int32 nUnits)
		{
			umint Size = gf_BlockSize(nUnits);
			void *pMem = CAllocator_Heap::f_Alloc(Size);
			if (!pMem)
				return nullptr;
			CStrBlock *pBlock = static_cast<CStrBlock *>(pMem);
			pBlock->f_RefCount.store(1, std::memory_order_relaxed);
			pBlock->f_Capacity.store(fg_KnownCapacity(Size), std::memory_order_relaxed);
			pBlock->f_LengthWord.store(gc_NewBlockWord, std::memory_order_relaxed);
			pBlock->f_GetText()[0] = 0;
			return pBlock;
		}

		int32 fg_Capacity(CStrBlock *pBlock)
		{
			int32 Capacity = pBlock->f_Capacity.load(std::memory_order_relaxed);
			if (Capacity == 0)
			{
				umint Size = CAllocator_Heap::f_GetSize(pBlock);
				umint Units = Size > umint(gc_BlockHeaderSize) ? Size - gc_BlockHeaderSize : 0;
				if (Units > umint(gc_MaxUnits))
					Units = gc_MaxUnits;
				Capacity = int32(Units);
				pBlock->f_Capacity.store(Capacity, std::memory_order_relaxed);
			}
			return Capacity;
		}

		int32 fg_Length(CStrBlock *pBlock)
		{
			uint32 Word = pBlock->f_LengthWord.load(std::memory_order_relaxed);
			if ((Word & gc_LengthMask) != gc_LengthMask)
				return int32(Word & gc_LengthMask);
			// Measured within the block, so text written without a terminator cannot make us
			// read past it.
			int32 Capacity = fg_Capacity(pBlock);
			const char *pText = pBlock->f_GetText();
			int32 Len = Capacity > 0 ? int32(strnlen(pText, umint(Capacity))) : 0;
			if (Len >= Capacity && Capacity > 0)
			{
				Len = Capacity - 1;
				// Only a private block can lack its terminator (it was written through a
				// writable buffer), so this write races with no reader.
				pBlock->f_GetText()[Len] = 0;
			}
			pBlock->f_LengthWord.store((Word & gc_KindMask) | uint32(Len), std::memory_order_relaxed);
			return Len;
		}

		void fg_SetLength(CStrBlock *pBlock, uint32 Kind, int32 Len)
		{
			pBlock->f_LengthWord.store((Kind << gc_KindShift) | uint32(Len), std::memory_order_relaxed);
		}

		int32 fg_Min(int32 a, int32 b)
		{
			return a < b ? a : b;
		}
	}

	umint gf_BlockSize(int32 nUnits, int32 UnitSize)
	{
		if (nUnits < 0)
			nUnits = 0;
		umint Size = umint(nUnits) * umint(UnitSize) + gc_BlockHeaderSize;
		Size = (Size + 15) & ~umint(15);
		if (Size > 256)
		{
			umint Pow = 512;
			while (Pow < Size)
				Pow *= 2;
			Size = Pow;
		}
		return Size;
	}

	int16 gf_Compare(const char *pA, const char *pB)
	{
		const unsigned char *a = reinterpret_cast<const unsigned char *>(pA ? pA : "");
		const unsigned char *b = reinterpret_cast<const unsigned char *>(pB ? pB : "");
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
			return int16(2 * (int(*a) - int(*b)));
		}
	}

	void NPrivate::gf_ReleaseBlock(CStrBlock *pBlock)
	{
		if (pBlock->f_RefCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
			CAllocator_Heap::f_Free(pBlock);
	}

	CStr::CStr(const char *pText)
	{
		f_Append(pText, -1);
	}

	CStr::CStr(const char *pText, int32 Count)
	{
		f_Append(pText, Count);
	}

	CStr &CStr::operator=(const CStr &Other) noexcept
	{
		// The new reference is taken before the old one goes, so self-assignment is safe.
		CStrBlock *pNew = Other.fp_pBlock;
		if (pNew)
			pNew->f_RefCount.fetch_add(1, std::memory_order_relaxed);
		CStrBlock *pOld = fp_pBlock;
		fp_pBlock = pNew;
		if (pOld)
			NPrivate::gf_ReleaseBlock(pOld);
		return *this;
	}

	CStr &CStr::operator=(CStr &&Other) noexcept
	{
		if (this != &Other)
		{
			CStrBlock *pOld = fp_pBlock;
			fp_pBlock = Other.fp_pBlock;
			Other.fp_pBlock = nullptr;
			if (pOld)
				NPrivate::gf_ReleaseBlock(pOld);
		}
		return *this;
	}

	CStr &CStr::operator=(const char *pText)
	{
		// pText may point into our own block: build the new text first.
		CStr New(pText);
		*this = static_cast<CStr &&>(New);
		return *this;
	}

	int32 CStr::f_GetLen() const
	{
		return fp_pBlock ? fg_Length(fp_pBlock) : 0;
	}

	int32 CStr::f_GetCapacity() const
	{
		return fp_pBlock ? fg_Capacity(fp_pBlock) : 0;
	}

	void CStr::f_Clear()
	{
		if (fp_pBlock)
		{
			NPrivate::gf_ReleaseBlock(fp_pBlock);
			fp_pBlock = nullptr;
		}
	}

	int32 CStr::fp_MakePrivate(int32 nUnits, bool bCopy)
	{
		CStrBlock *pOld = fp_pBlock;
		int32 Len = bCopy ? fg_Length(pOld) : 0;
		if (nUnits < Len + 1)
			nUnits = Len + 1;
		CStrBlock *pNew = fg_NewBlock(nUnits);
		if (!pNew)
			return 0; // the shared text stays as it was; the caller gets no room to write
		if (bCopy)
		{
			int32 Room = fg_Capacity(pNew);
			int32 n = fg_Min(Len, Room - 1);
			std::memcpy(pNew->f_GetText(), pOld->f_GetText(), umint(n));
			pNew->f_GetText()[n] = 0;
			uint32 Word = pOld->f_LengthWord.load(std::memory_order_relaxed);
			fg_SetLength(pNew, Word >> gc_KindShift, n);
		}
		fp_pBlock = pNew;
		NPrivate::gf_ReleaseBlock(pOld);
		return fg_Capacity(pNew);
	}

	int32 CStr::f_Reserve(int32 nUnits, bool bDiscard)
	{
		if (nUnits <= 0)
		{
			f_Clear();
			return 0;
		}
		if (nUnits > gc_MaxUnits)
			nUnits = gc_MaxUnits;
		if (!fp_pBlock)
		{
			fp_pBlock = fg_NewBlock(nUnits);
			return fp_pBlock ? fg_Capacity(fp_pBlock) : 0;
		}
		bool bShared = fp_pBlock->f_RefCount.load(std::memory_order_acquire) > 1;
		int32 Capacity = fg_Capacity(fp_pBlock);
		if (bShared)
			return fp_MakePrivate(nUnits, !bDiscard);
		if (Capacity >= nUnits)
			return Capacity;
		umint Size = gf_BlockSize(nUnits);
		void *pNew = CAllocator_Heap::f_Realloc(fp_pBlock, Size);
		if (!pNew)
			return Capacity; // less room than asked; the text is kept
		fp_pBlock = static_cast<CStrBlock *>(pNew);
		fp_pBlock->f_Capacity.store(fg_KnownCapacity(Size), std::memory_order_relaxed);
		if (bDiscard)
		{
			fp_pBlock->f_LengthWord.store(gc_NewBlockWord, std::memory_order_relaxed);
			fp_pBlock->f_GetText()[0] = 0;
		}
		return fg_Capacity(fp_pBlock);
	}

	char *CStr::f_GetWritableBuffer(int32 Count)
	{
		if (Count < 0 || Count >= gc_MaxUnits)
			return nullptr;
		int32 Needed = Count + 1;
		int32 Len = f_GetLen();
		if (Needed < Len + 1)
			Needed = Len + 1;
		if (f_Reserve(Needed) < Needed || !fp_pBlock)
			return nullptr;
		uint32 Word = fp_pBlock->f_LengthWord.load(std::memory_order_relaxed);
		fp_pBlock->f_LengthWord.store(Word | gc_LengthMask, std::memory_order_relaxed);
		return fp_pBlock->f_GetText();
	}

	char *CStr::fp_BeginWrite(int32 &Pos, int32 &Count)
	{
		if (Count < 0)
			Count = 0;
		if (Pos < 0)
			Pos = 0;
		// Writing beyond the text would leave unwritten bytes inside it.
		int32 Len = f_GetLen();
		if (Pos > Len)
			Pos = Len;
		int64 Wanted = int64(Pos) + Count + 1;
		int32 Room = f_Reserve(Wanted > gc_MaxUnits ? gc_MaxUnits : int32(Wanted));
		if (!fp_pBlock || Room <= Pos)
			return nullptr;
		Count = fg_Min(Count, Room - 1 - Pos);
		return fp_pBlock->f_GetText() + Pos;
	}

	void CStr::fp_EndWrite(int32 &Pos, uint32 Kind, int32 Count)
	{
		Pos += Count;
		fp_pBlock->f_GetText()[Pos] = 0;
		fg_SetLength(fp_pBlock, Kind, Pos);
	}

	void CStr::fp_AppendRaw(int32 &Pos, uint32 Kind, const char *pUnits, int32 Count)
	{
		char *pWrite = fp_BeginWrite(Pos, Count);
		if (!pWrite)
			return;
		if (Count > 0)
			std::memmove(pWrite, pUnits, umint(Count));
		fp_EndWrite(Pos, Kind, Count);
	}

	void CStr::fp_ConvertToUtf8(int32 &Pos)
	{
		// Every byte from 0x80 up becomes two bytes; rebuilt into a new string so the old text
		// stays readable while it is converted.
		CStr New;
		int32 NewPos = 0;
		const unsigned char *pText = reinterpret_cast<const unsigned char *>(f_GetStr());
		int32 Len = f_GetLen();
		int32 Extra = 0;
		for (int32 i = 0; i < Len; ++i)
			Extra += pText[i] >= 0x80;
		if (New.f_Reserve(Len + Extra + 1) <= 0)
			return;
		New.f_AppendText(NewPos, gc_KindUtf8, "", 0);
		for (int32 i = 0; i < Len; ++i)
		{
			char Buf[2];
			int32 n = 1;
			if (pText[i] < 0x80)
				Buf[0] = char(pText[i]);
			else
			{
				Buf[0] = char(0xC0 | (pText[i] >> 6));
				Buf[1] = char(0x80 | (pText[i] & 0x3F));
				n = 2;
			}
			New.fp_AppendRaw(NewPos, gc_KindUtf8, Buf, n);
		}
		*this = static_cast<CStr &&>(New);
		Pos = NewPos;
	}

	void CStr::f_AppendText(int32 &Pos, uint32 Kind, const char *pUnits, int32 Count)
	{
		Kind &= 3;
		if (!pUnits)
			Count = 0;
		uint32 Own = f_GetKind();
		if (Kind != Own && Pos > 0 && fp_pBlock)
		{
			if (Own > Kind)
			{
				if (Own == gc_KindUtf8 && Kind == gc_KindLatin1)
				{
					// Latin-1 into UTF-8: convert through a small buffer.
					const unsigned char *p = reinterpret_cast<const unsigned char *>(pUnits);
					char Buf[128];
					int32 i = 0;
					while (i < Count)
					{
						int32 n = 0;
						while (i < Count && n < int32(sizeof(Buf)) - 1)
						{
							unsigned char c = p[i++];
							if (c < 0x80)
								Buf[n++] = char(c);
							else
							{
								Buf[n++] = char(0xC0 | (c >> 6));
								Buf[n++] = char(0x80 | (c & 0x3F));
							}
						}
						int32 Before = Pos;
						fp_AppendRaw(Pos, Own, Buf, n);
						if (Pos - Before < n)
							return; // out of room
					}
					if (Count == 0)
						fp_AppendRaw(Pos, Own, "", 0);
					return;
				}
				fp_AppendRaw(Pos, Own, pUnits, Count);
				return;
			}
			// The appended text needs a higher kind: the existing text is converted first.
			f_SetLengthAndTrim(Pos);
			if (Own == gc_KindLatin1 && Kind == gc_KindUtf8)
				fp_ConvertToUtf8(Pos);
			else
				Pos = f_GetLen();
		}
		fp_AppendRaw(Pos, Kind, pUnits, Count);
	}

	void CStr::f_AppendText(int32 &Pos, uint32 Kind, const uint16 *pUnits, int32 Count)
	{
		// Wide units: kind 2 becomes UTF-8 (one to three bytes per unit), any other kind keeps
		// the low 8 bits of each unit.
		Kind &= 3;
		if (!pUnits)
			Count = 0;
		char Buf[192];
		int32 i = 0;
		do
		{
			int32 n = 0;
			while (i < Count && n < int32(sizeof(Buf)) - 3)
			{
				uint16 c = pUnits[i++];
				if (Kind != gc_KindUtf8 || c < 0x80)
					Buf[n++] = char(c & 0xFF);
				else if (c < 0x800)
				{
					Buf[n++] = char(0xC0 | (c >> 6));
					Buf[n++] = char(0x80 | (c & 0x3F));
				}
				else
				{
					Buf[n++] = char(0xE0 | (c >> 12));
					Buf[n++] = char(0x80 | ((c >> 6) & 0x3F));
					Buf[n++] = char(0x80 | (c & 0x3F));
				}
			}
			int32 Before = Pos;
			f_AppendText(Pos, Kind, Buf, n);
			if (Pos - Before < n)
				return;
		} while (i < Count);
	}

	void CStr::f_AppendChar(int32 &Pos, char Char, int32 Count)
	{
		char *pWrite = fp_BeginWrite(Pos, Count);
		if (!pWrite)
			return;
		std::memset(pWrite, Char, umint(Count));
		fp_EndWrite(Pos, f_GetKind(), Count);
	}

	void CStr::f_SetLengthAndTrim(int32 Pos, int32 SpareBytes)
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
		int32 Capacity = fg_Capacity(fp_pBlock);
		if (Pos < 0)
		{
			fp_pBlock->f_LengthWord.store((Kind << gc_KindShift) | gc_LengthMask, std::memory_order_relaxed);
			Pos = fg_Length(fp_pBlock);
			if (Pos == 0)
			{
				f_Clear();
				return;
			}
		}
		if (Pos > Capacity - 1)
			Pos = Capacity - 1;
		fp_pBlock->f_GetText()[Pos] = 0;
		fg_SetLength(fp_pBlock, Kind, Pos);
		if (Capacity == Pos + 1)
			return;
		umint Wanted = gf_BlockSize(Pos + 1 + (SpareBytes > 0 ? SpareBytes : 0));
		umint Current = SpareBytes > 0 ? fg_EstimatedBlockSize(Capacity) : umint(Capacity) + gc_BlockHeaderSize;
		if (Wanted >= Current)
			return;
		void *pNew = CAllocator_Heap::f_Realloc(fp_pBlock, Wanted);
		if (!pNew)
			return; // a smaller block is only an economy; keep the larger one
		fp_pBlock = static_cast<CStrBlock *>(pNew);
		fp_pBlock->f_Capacity.store(fg_KnownCapacity(Wanted), std::memory_order_relaxed);
	}

	void CStr::f_Append(const char *pText, int32 Count)
	{
		if (!pText || !*pText || Count == 0)
			return;
		if (Count < 0)
		{
			umint Len = std::strlen(pText);
			Count = Len > umint(gc_MaxUnits) ? gc_MaxUnits : int32(Len);
		}
		int32 Pos = f_GetLen();
		// The source may lie inside our own block, which growing could move.
		if (fp_pBlock && pText >= fp_pBlock->f_GetText() && pText < fp_pBlock->f_GetText() + f_GetCapacity())
		{
			CStr Source(pText, Count);
			f_AppendText(Pos, gc_KindLatin1, Source.f_GetStr(), Count);
		}
		else
			f_AppendText(Pos, gc_KindLatin1, pText, Count);
		f_SetLengthAndTrim(Pos);
	}

	CStr operator+(const CStr &A, const CStr &B)
	{
		CStr Result;
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

	CStr operator+(const CStr &A, const char *pB)
	{
		return A + CStr(pB);
	}

	CStr operator+(const char *pA, const CStr &B)
	{
		return CStr(pA) + B;
	}
}
