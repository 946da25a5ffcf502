#pragma once
// TCStr: the reference-counted, copy-on-write string of the whole system, over 8-bit units
// (CStr), 16-bit units (CStr16, the UTF-16 text of the Windows W functions) or 32-bit units
// (CStr32, code points); and the fixed strings CFStr256 and TCStrImp_Fixed<n>. A TCStr is one
// pointer to a shared heap block:
//
//   +0  reference count  (int32, interlocked)
//   +4  capacity cache   (int32, units including the terminator; 0 = not yet known)
//   +8  length word      (bits 0-29 length in units, 0x3FFFFFFF = unmeasured; bits 30-31 kind)
//   +12 text             (length + 1 units, zero-terminated)
//
// A null pointer is the empty string. A block whose count is above 1 is never written; every
// changing operation first makes its block private. Kind 1 is one unit per character (Latin-1
// in 8-bit strings), kind 2 the multi-unit Unicode form (UTF-8 in 8-bit strings, UTF-16 in
// 16-bit strings; 32-bit units hold code points either way); a higher kind can hold every
// text of a lower one. Text of another width or kind is converted when it is appended.
#include "zel/library/core/general/Zel_Types.h"

#include <atomic>
#include <cstring>

namespace NZel::NStr
{
	inline constexpr uint32 gc_LengthMask = 0x3FFFFFFFu;  // also the "unmeasured" mark
	inline constexpr uint32 gc_KindShift = 30;
	inline constexpr uint32 gc_KindLatin1 = 1;
	inline constexpr uint32 gc_KindUnicode = 2; // UTF-8 in 8-bit strings, UTF-16 in 16-bit ones
	inline constexpr int32 gc_BlockHeaderSize = 12;

#ifdef _WIN32
	using CChar16 = wchar_t;  // so that CStr16 texts go straight into the W functions
#else
	using CChar16 = char16_t;
#endif
	using CChar32 = char32_t;
	static_assert(sizeof(CChar16) == 2 && sizeof(CChar32) == 4);

	// Bytes of the heap block that holds nUnits units (terminator included) of UnitSize bytes:
	// header + text rounded up to 16 bytes, and above 256 bytes to the next power of two.
	inline umint gf_BlockSize(int32 nUnits, int32 UnitSize = 1)
	{
		umint Size = ((nUnits > 0 ? umint(nUnits) * umint(UnitSize) : 0) + gc_BlockHeaderSize + 15) & ~umint(15);
		if (Size > 256)
		{
			umint Pow = 512;
			while (Pow < Size)
				Pow *= 2;
			Size = Pow;
		}
		return Size;
	}

	// Unit-wise unsigned comparison: 2 * (a - b) at the first difference, -1 when a ends
	// first, 1 when b ends first, 0 when equal. Null reads as empty.
	int16 gf_Compare(const char *pA, const char *pB);
	int32 gf_Compare(const CChar16 *pA, const CChar16 *pB);
	int32 gf_Compare(const CChar32 *pA, const CChar32 *pB);

	// Units before the first zero unit, looking at no more than Max units.
	int32 gf_TextLength(const char *pText, int32 Max);

	// True when the Count bytes are well-formed UTF-8 (no overlong forms, no surrogates,
	// nothing above U+10FFFF, no cut sequence).
	bool gf_IsUtf8(const char *pText, int32 Count);

	namespace NPrivate
	{
		// Copies Bytes bytes between buffers that do not overlap; short runs, the common ones,
		// without a call into the C library, whose memcpy costs more than such a copy.
		inline void gf_CopyBytes(void *pTo, const void *pFrom, umint Bytes)
		{
			char *pT = static_cast<char *>(pTo);
			const char *pF = static_cast<const char *>(pFrom);
			if (Bytes > 16)
				std::memcpy(pT, pF, Bytes);
			else if (Bytes >= 8)
			{
				// Two moves of a fixed size, overlapping in the middle.
				std::memcpy(pT, pF, 8);
				std::memcpy(pT + Bytes - 8, pF + Bytes - 8, 8);
			}
			else if (Bytes >= 4)
			{
				std::memcpy(pT, pF, 4);
				std::memcpy(pT + Bytes - 4, pF + Bytes - 4, 4);
			}
			else if (Bytes >= 2)
			{
				std::memcpy(pT, pF, 2);
				std::memcpy(pT + Bytes - 2, pF + Bytes - 2, 2);
			}
			else if (Bytes)
				*pT = *pF;
		}

		struct CStrBlock
		{
			std::atomic<int32> f_RefCount;
			// Both caches may be filled in by any reader of a shared block; all readers store
			// the same value, so relaxed atomics are enough.
			std::atomic<int32> f_Capacity;
			std::atomic<uint32> f_LengthWord;

			template <typename t_CUnit = char>
			t_CUnit *f_GetText()
			{
				return reinterpret_cast<t_CUnit *>(reinterpret_cast<char *>(this) + gc_BlockHeaderSize);
			}
		};
		static_assert(sizeof(CStrBlock) == gc_BlockHeaderSize);

		// Drops one reference to a block of units of UnitSize bytes; the last one frees it.
		void gf_ReleaseBlock(CStrBlock *pBlock, int32 UnitSize);
	}

	// t_CUnit is char, CChar16 or CChar32; the three are instantiated in Zel_Str.cpp.
	template <typename t_CUnit>
	class TCStr
	{
	public:
		using CUnit = t_CUnit;
		class CFormat; // Zel_Format.h, for the 8-bit string

		TCStr() noexcept = default;
		TCStr(const t_CUnit *pText);
		TCStr(const t_CUnit *pText, int32 Count);
		// Count units (Count < 0: up to the zero terminator) of text of any width and kind,
		// converted to this width.
		TCStr(const char *pText, int32 Count, uint32 Kind);
		TCStr(const CChar16 *pText, int32 Count, uint32 Kind);
		TCStr(const CChar32 *pText, int32 Count, uint32 Kind);
		// A string of another width, converted; the result keeps its kind.
		template <typename t_COther>
		explicit TCStr(const TCStr<t_COther> &Other) : TCStr(Other.f_GetStr(), Other.f_GetLen(), Other.f_GetKind())
		{
		}
		TCStr(const TCStr &Other) noexcept : fp_pBlock(Other.fp_pBlock)
		{
			if (fp_pBlock)
				fp_pBlock->f_RefCount.fetch_add(1, std::memory_order_relaxed);
		}
		TCStr(TCStr &&Other) noexcept : fp_pBlock(Other.fp_pBlock)
		{
			Other.fp_pBlock = nullptr;
		}
		~TCStr()
		{
			if (fp_pBlock)
				NPrivate::gf_ReleaseBlock(fp_pBlock, int32(sizeof(t_CUnit)));
		}

		TCStr &operator=(const TCStr &Other) noexcept;
		TCStr &operator=(TCStr &&Other) noexcept
		{
			if (this != &Other)
			{
				NPrivate::CStrBlock *pOld = fp_pBlock;
				fp_pBlock = Other.fp_pBlock;
				Other.fp_pBlock = nullptr;
				if (pOld)
					NPrivate::gf_ReleaseBlock(pOld, int32(sizeof(t_CUnit)));
			}
			return *this;
		}
		TCStr &operator=(const t_CUnit *pText);

		// Never null: the empty string reads as a static zero unit.
		const t_CUnit *f_GetStr() const
		{
			return fp_pBlock ? fp_pBlock->f_GetText<t_CUnit>() : fs_EmptyText;
		}
		// Measures (and caches) the length when it is marked unmeasured.
		int32 f_GetLen() const
		{
			if (!fp_pBlock)
				return 0;
			uint32 Len = fp_pBlock->f_LengthWord.load(std::memory_order_relaxed) & gc_LengthMask;
			return Len != gc_LengthMask ? int32(Len) : fp_MeasureLen();
		}
		int32 f_GetCapacity() const;
		uint32 f_GetKind() const
		{
			return fp_pBlock ? fp_pBlock->f_LengthWord.load(std::memory_order_relaxed) >> gc_KindShift : gc_KindLatin1;
		}
		bool f_IsEmpty() const
		{
			return f_GetLen() == 0;
		}
		// How many strings share this block (0 for the empty string); for diagnostics and tests.
		int32 f_GetRefCount() const
		{
			return fp_pBlock ? fp_pBlock->f_RefCount.load(std::memory_order_relaxed) : 0;
		}
		void f_Clear();

		// Room for nUnits units including the terminator; returns the capacity obtained, which
		// is smaller than asked when memory ran out. 0 releases the block. With bDiscard the
		// old text need not survive.
		int32 f_Reserve(int32 nUnits, bool bDiscard = false);
		// Room for the larger of Count + 1 and length + 1 units; the length is then unmeasured
		// so that the next f_GetLen finds what was written. Null when the room cannot be had.
		t_CUnit *f_GetWritableBuffer(int32 Count);

		// The building steps (format engine, assignments): write at Pos, zero-terminate, advance
		// Pos. Texts of another width or kind are converted as the kinds require; whatever does
		// not fit into the memory obtained is cut, never inside a character. False when
		// something was cut.
		bool f_AppendText(int32 &Pos, uint32 Kind, const char *pUnits, int32 Count);
		bool f_AppendText(int32 &Pos, uint32 Kind, const CChar16 *pUnits, int32 Count);
		bool f_AppendText(int32 &Pos, uint32 Kind, const CChar32 *pUnits, int32 Count);
		bool f_AppendText(int32 &Pos, uint32 Kind, const uint16 *pUnits, int32 Count);
		void f_AppendChar(int32 &Pos, t_CUnit Char, int32 Count);
		// Ends building: Pos becomes the length (-1: measure it; 0: the string becomes empty)
		// and the block is trimmed when it holds more than about SpareBytes bytes too many.
		void f_SetLengthAndTrim(int32 Pos, int32 SpareBytes = 32);

		// Appends Count kind-1 units (Count < 0: up to the zero terminator) at the end.
		void f_Append(const t_CUnit *pText, int32 Count = -1);

		friend TCStr operator+(const TCStr &A, const TCStr &B)
		{
			return fs_Concat(A, B);
		}
		friend TCStr operator+(const TCStr &A, const t_CUnit *pB)
		{
			return fs_Concat(A, TCStr(pB));
		}
		friend TCStr operator+(const t_CUnit *pA, const TCStr &B)
		{
			return fs_Concat(TCStr(pA), B);
		}
		friend bool operator==(const TCStr &A, const TCStr &B)
		{
			return A.fp_pBlock == B.fp_pBlock || gf_Compare(A.f_GetStr(), B.f_GetStr()) == 0;
		}
		friend bool operator==(const TCStr &A, const t_CUnit *pB)
		{
			return gf_Compare(A.f_GetStr(), pB) == 0;
		}

	private:
		static constexpr t_CUnit fs_EmptyText[1] = {};

		NPrivate::CStrBlock *fp_pBlock = nullptr;

		static TCStr fs_Concat(const TCStr &A, const TCStr &B);
		int32 fp_MeasureLen() const;
		int32 fp_MakePrivate(int32 nUnits, bool bCopy);
		// Clamps Pos to the text and makes room for Count units there, cutting Count to what fits;
		// returns where they go, or null when nothing fits. fp_EndWrite then ends the text after
		// the Count units written, as text of Kind.
		t_CUnit *fp_BeginWrite(int32 &Pos, int32 &Count);
		void fp_EndWrite(int32 &Pos, uint32 Kind, int32 Count);
		bool fp_AppendRaw(int32 &Pos, uint32 Kind, const t_CUnit *pUnits, int32 Count);
		template <typename t_CSource>
		bool fp_AppendUnits(int32 &Pos, uint32 Kind, const t_CSource *pUnits, int32 Count);
		// The constructors from text of any width: Count < 0 measures it.
		template <typename t_CSource>
		void fp_Build(const t_CSource *pText, int32 Count, uint32 Kind);
		template <typename t_CSource>
		bool fp_AppendConverted(int32 &Pos, uint32 FromKind, uint32 ToKind, const t_CSource *pUnits, int32 Count);
		bool fp_ConvertKind(int32 &Pos, uint32 Kind);
	};

	using CStr = TCStr<char>;
	using CStr16 = TCStr<CChar16>;
	using CStr32 = TCStr<CChar32>;

	// A string in a fixed buffer of t_Capacity bytes (terminator included): same reading and
	// building operations as CStr, no heap, no sharing. What does not fit is dropped.
	template <int32 t_Capacity>
	class TCStrImp_Fixed
	{
		static_assert(t_Capacity >= 1);

	public:
		class CFormat; // Zel_Format.h

		TCStrImp_Fixed()
		{
			fp_Text[0] = 0;
		}
		TCStrImp_Fixed(const char *pText)
		{
			fp_Text[0] = 0;
			f_Append(pText, -1);
		}

		const char *f_GetStr() const
		{
			return fp_Text;
		}
		int32 f_GetLen() const
		{
			return gf_TextLength(fp_Text, t_Capacity - 1);
		}
		int32 f_GetCapacity() const
		{
			return t_Capacity;
		}
		uint32 f_GetKind() const
		{
			return gc_KindLatin1;
		}
		bool f_IsEmpty() const
		{
			return fp_Text[0] == 0;
		}
		void f_Clear()
		{
			fp_Text[0] = 0;
		}
		int32 f_Reserve(int32 nUnits, bool bDiscard = false)
		{
			if (bDiscard || nUnits <= 0)
				fp_Text[0] = 0;
			return t_Capacity;
		}
		char *f_GetWritableBuffer(int32 Count)
		{
			if (Count < 0 || Count >= t_Capacity)
				return nullptr;
			fp_Text[t_Capacity - 1] = 0;
			return fp_Text;
		}
		void f_AppendText(int32 &Pos, uint32 Kind, const char *pUnits, int32 Count)
		{
			(void)Kind; // fixed strings hold bytes as given
			fp_ClampPos(Pos);
			int32 n = Count < t_Capacity - 1 - Pos ? Count : t_Capacity - 1 - Pos;
			for (int32 i = 0; i < n; ++i)
				fp_Text[Pos + i] = pUnits[i];
			if (n > 0)
				Pos += n;
			fp_Text[Pos] = 0;
		}
		void f_AppendChar(int32 &Pos, char Char, int32 Count)
		{
			fp_ClampPos(Pos);
			int32 n = Count < t_Capacity - 1 - Pos ? Count : t_Capacity - 1 - Pos;
			for (int32 i = 0; i < n; ++i)
				fp_Text[Pos + i] = Char;
			if (n > 0)
				Pos += n;
			fp_Text[Pos] = 0;
		}
		void f_SetLengthAndTrim(int32 Pos, int32 SpareBytes = 32)
		{
			(void)SpareBytes;
			if (Pos < 0)
				Pos = f_GetLen();
			fp_ClampPos(Pos);
			fp_Text[Pos] = 0;
		}
		void f_Append(const char *pText, int32 Count = -1)
		{
			if (!pText || !*pText)
				return;
			if (Count < 0)
			{
				Count = 0;
				while (pText[Count] && Count < t_Capacity)
					++Count;
			}
			int32 Pos = f_GetLen();
			f_AppendText(Pos, gc_KindLatin1, pText, Count);
		}

		friend bool operator==(const TCStrImp_Fixed &A, const TCStrImp_Fixed &B)
		{
			return gf_Compare(A.fp_Text, B.fp_Text) == 0;
		}
		friend bool operator==(const TCStrImp_Fixed &A, const char *pB)
		{
			return gf_Compare(A.fp_Text, pB) == 0;
		}

	private:
		char fp_Text[t_Capacity];

		void fp_ClampPos(int32 &Pos) const
		{
			if (Pos < 0)
				Pos = 0;
			if (Pos > t_Capacity - 1)
				Pos = t_Capacity - 1;
		}
	};

	using CFStr256 = TCStrImp_Fixed<256>;
	static_assert(sizeof(CFStr256) == 256);

	// Traits naming the output string of each format-engine instantiation.
	struct CStrTraits_CStr
	{
		using CStrType = CStr;
	};
	template <int32 t_Capacity>
	struct TCTCStrTraits_Fixed
	{
		using CStrType = TCStrImp_Fixed<t_Capacity>;
	};
	using CStrTraits_CFStr256 = TCTCStrTraits_Fixed<256>;
}
