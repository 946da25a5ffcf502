#include "zel/library/core/general/Zel_Str.h"
#include "zel/library/core/general/Zel_Str_Convert.h"
#include "tests/zel/StrTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace NZel;
using namespace NZel::NStr;

namespace
{
	using CUnits = std::vector<uint32>;

	template <typename t_CUnit>
	std::basic_string<t_CUnit> fg_Text(const CUnits &Units)
	{
		std::basic_string<t_CUnit> Text;
		for (uint32 Unit : Units)
			Text.push_back(t_CUnit(Unit));
		return Text;
	}

	template <typename t_CUnit>
	std::basic_string<t_CUnit> fg_Text(const char *pAscii)
	{
		return std::basic_string<t_CUnit>(pAscii, pAscii + std::char_traits<char>::length(pAscii));
	}

	// The units of a string as unsigned values, whatever their width.
	template <typename t_CUnit>
	CUnits fg_UnitsOf(const TCStr<t_CUnit> &Str)
	{
		CUnits Units;
		for (int32 i = 0; i < Str.f_GetLen(); ++i)
		{
			if constexpr (sizeof(t_CUnit) == 1)
				Units.push_back(uint8(Str.f_GetStr()[i]));
			else if constexpr (sizeof(t_CUnit) == 2)
				Units.push_back(uint16(Str.f_GetStr()[i]));
			else
				Units.push_back(uint32(Str.f_GetStr()[i]));
		}
		return Units;
	}

	template <typename t_CUnit>
	TCStr<t_CUnit> fg_Str(const char *pAscii)
	{
		return TCStr<t_CUnit>(fg_Text<t_CUnit>(pAscii).c_str());
	}
}

// The block handling is one implementation for every width; these run it at each one.
template <typename t_CUnit>
class StrWidth : public testing::Test
{
};
using CUnitTypes = testing::Types<char, CChar16, CChar32>;
TYPED_TEST_SUITE(StrWidth, CUnitTypes);

TYPED_TEST(StrWidth, CopyThenAppendLeavesTheFirstUnchanged)
{
	using CString = TCStr<TypeParam>;
	CString Original = fg_Str<TypeParam>("process");
	CString Copy(Original);
	EXPECT_EQ(Original.f_GetStr(), Copy.f_GetStr()) << "a copy shares the block";
	EXPECT_EQ(Original.f_GetRefCount(), 2);

	Copy.f_Append(fg_Text<TypeParam>(".exe").c_str());
	EXPECT_TRUE(Original == fg_Text<TypeParam>("process").c_str());
	EXPECT_TRUE(Copy == fg_Text<TypeParam>("process.exe").c_str());
	EXPECT_EQ(Copy.f_GetLen(), 11);
	EXPECT_EQ(Original.f_GetRefCount(), 1);
	EXPECT_EQ(Copy.f_GetRefCount(), 1);

	CString Moved(static_cast<CString &&>(Copy));
	EXPECT_TRUE(Copy.f_IsEmpty());
	EXPECT_EQ(Moved.f_GetLen(), 11);
	CString &Alias = Moved;
	Moved = Alias;
	EXPECT_EQ(Moved.f_GetLen(), 11) << "self-assignment keeps the text";
	Moved = Moved.f_GetStr() + 7;
	EXPECT_TRUE(Moved == fg_Text<TypeParam>(".exe").c_str()) << "assigning a text from the string's own block";
}

TYPED_TEST(StrWidth, LengthZeroOrTrimmingToEmptyMakesNull)
{
	using CString = TCStr<TypeParam>;
	const CString Null;
	ASSERT_NE(Null.f_GetStr(), nullptr);
	EXPECT_EQ(Null.f_GetStr()[0], TypeParam(0));
	EXPECT_EQ(Null.f_GetKind(), gc_KindLatin1);

	CString S = fg_Str<TypeParam>("text");
	S.f_SetLengthAndTrim(0);
	EXPECT_EQ(S.f_GetRefCount(), 0);
	EXPECT_EQ(S.f_GetStr(), Null.f_GetStr()) << "the static empty text";

	CString T;
	TypeParam *p = T.f_GetWritableBuffer(8);
	ASSERT_NE(p, nullptr);
	p[0] = 0;
	T.f_SetLengthAndTrim(-1);
	EXPECT_EQ(T.f_GetRefCount(), 0);
	EXPECT_EQ(T.f_GetStr(), Null.f_GetStr());

	CString U = fg_Str<TypeParam>("abc");
	EXPECT_EQ(U.f_Reserve(0), 0);
	EXPECT_EQ(U.f_GetRefCount(), 0);
}

TYPED_TEST(StrWidth, WritableBufferThenMeasuredLength)
{
	using CString = TCStr<TypeParam>;
	CString S;
	TypeParam *p = S.f_GetWritableBuffer(10);
	ASSERT_NE(p, nullptr);
	EXPECT_GE(S.f_GetCapacity(), 11);
	p[0] = 'a';
	p[1] = 'b';
	p[2] = 'c';
	p[3] = 0;
	EXPECT_EQ(S.f_GetLen(), 3);
	// Cached: a change behind the string's back is not seen.
	p[3] = 'd';
	p[4] = 0;
	EXPECT_EQ(S.f_GetLen(), 3);

	// Written to the last unit without a terminator: measured within the block.
	CString U;
	TypeParam *q = U.f_GetWritableBuffer(5);
	ASSERT_NE(q, nullptr);
	int32 Capacity = U.f_GetCapacity();
	for (int32 i = 0; i < Capacity; ++i)
		q[i] = 'x';
	EXPECT_EQ(U.f_GetLen(), Capacity - 1);
	EXPECT_EQ(U.f_GetStr()[Capacity - 1], TypeParam(0));

	// A shared string gets its own block before it is handed out.
	CString A = fg_Str<TypeParam>("shared");
	CString B(A);
	TypeParam *r = B.f_GetWritableBuffer(6);
	ASSERT_NE(r, nullptr);
	r[0] = 'S';
	EXPECT_TRUE(A == fg_Text<TypeParam>("shared").c_str());
	EXPECT_TRUE(B == fg_Text<TypeParam>("Shared").c_str());
}

TYPED_TEST(StrWidth, CapacityIsTheBlockTheHeapGaveLessItsHeader)
{
	using CString = TCStr<TypeParam>;
	int32 const UnitSize = int32(sizeof(TypeParam));
	// What the heap really gave the string's block, in units after the header.
	auto fHeapCapacity = [&](CString const &S)
	{
		const void *pBlock = reinterpret_cast<const char *>(S.f_GetStr()) - gc_BlockHeaderSize;
		return int32((NMemory::CAllocator_Heap::f_GetSize(pBlock) - gc_BlockHeaderSize) / umint(UnitSize));
	};
	std::basic_string<TypeParam> const Long(300, TypeParam('L'));
	struct
	{
		const char *pPath;
		std::function<CString()> fMake;
	} const Paths[] = {
		{"from text, 1 unit", [] { return fg_Str<TypeParam>("a"); }},
		{"from text, 20 units", [] { return fg_Str<TypeParam>("abcdefghijklmnopqrst"); }},
		{"from text, 300 units", [&] { return CString(Long.c_str()); }},
		{"from text of another kind", [] { return CString(U"\u20ACuro", -1, gc_KindUnicode); }},
		{"reserve, 1 unit", []
			{
				CString S;
				S.f_Reserve(1);
				return S;
			}},
		{"reserve, 245 units", []
			{
				CString S;
				S.f_Reserve(245);
				return S;
			}},
		{"reserve growing a block", []
			{
				CString S = fg_Str<TypeParam>("grow");
				S.f_Reserve(600);
				return S;
			}},
		{"reserve with discard", []
			{
				CString S = fg_Str<TypeParam>("old");
				S.f_Reserve(100, true);
				return S;
			}},
		{"appending beyond the block", []
			{
				CString S = fg_Str<TypeParam>("ab");
				int32 Pos = 2;
				S.f_AppendChar(Pos, TypeParam('x'), 70);
				return S;
			}},
		{"copy on write", []
			{
				CString Shared = fg_Str<TypeParam>("shared text");
				CString Copy(Shared);
				int32 Pos = Copy.f_GetLen();
				Copy.f_AppendChar(Pos, TypeParam('!'), 1);
				return Copy;
			}},
		{"writable buffer of a shared string", []
			{
				CString Shared = fg_Str<TypeParam>("shared");
				CString Copy(Shared);
				Copy.f_GetWritableBuffer(40)[0] = TypeParam('S');
				return Copy;
			}},
		{"trimmed to the text", []
			{
				CString S;
				S.f_Reserve(1000);
				int32 Pos = 0;
				S.f_AppendChar(Pos, TypeParam('q'), 10);
				S.f_SetLengthAndTrim(Pos);
				return S;
			}},
		{"concatenation", [] { return fg_Str<TypeParam>("left") + fg_Str<TypeParam>("right"); }},
	};
	for (auto const &Path : Paths)
	{
		CString S = Path.fMake();
		ASSERT_GT(S.f_GetRefCount(), 0) << Path.pPath;
		EXPECT_EQ(S.f_GetCapacity(), fHeapCapacity(S)) << Path.pPath;
		EXPECT_GT(S.f_GetCapacity(), S.f_GetLen()) << Path.pPath;
	}

	// Reserving gives at least what was asked for, and reports what the block really holds.
	for (int32 nUnits : {1, 2, 3, 4, 5, 20, 61, 62, 100, 122, 245, 300, 1000})
	{
		CString S;
		int32 Capacity = S.f_Reserve(nUnits);
		EXPECT_GE(Capacity, nUnits);
		EXPECT_EQ(Capacity, fHeapCapacity(S)) << nUnits << " units";
		EXPECT_EQ(S.f_GetCapacity(), Capacity);
	}

	// Growing keeps the text; growing with discard starts afresh as kind 1.
	CString C = fg_Str<TypeParam>("grow");
	EXPECT_GE(C.f_Reserve(600), 600);
	EXPECT_TRUE(C == fg_Text<TypeParam>("grow").c_str());
	C.f_Reserve(2000, true);
	EXPECT_TRUE(C.f_IsEmpty());
	EXPECT_EQ(C.f_GetKind(), gc_KindLatin1);

	// Generous room, short text: trimmed to the text and about 32 spare bytes (plus what the
	// heap adds to a block).
	CString Big;
	ASSERT_GE(Big.f_Reserve(1000), 1000);
	int32 Pos = 0;
	Big.f_AppendChar(Pos, TypeParam('q'), 10);
	Big.f_SetLengthAndTrim(Pos);
	EXPECT_EQ(Big.f_GetLen(), 10);
	EXPECT_LE(umint(Big.f_GetCapacity()) * umint(UnitSize), gf_BlockSize(11 + 32 / UnitSize, UnitSize) + 16) << "shrunk";
}

TYPED_TEST(StrWidth, TrimLeavesABlockTheHeapWouldGiveAgain)
{
	// A trim takes a new block only when it is smaller by more than a 16-byte step than the one
	// the string has, however much room the heap added to that one: a block that already has
	// the size a request for the text would get is never reallocated.
	using CString = TCStr<TypeParam>;
	for (int32 Len : {1, 3, 4, 5, 15, 16, 17, 40, 100, 240, 300})
	{
		for (int32 SpareBytes : {0, 32})
		{
			std::basic_string<TypeParam> const Text(umint(Len), TypeParam('t'));
			CString S(Text.c_str());
			const TypeParam *pBefore = S.f_GetStr();
			umint const BytesBefore = umint(S.f_GetCapacity()) * sizeof(TypeParam);
			uint64 const Allocations = NMemory::CAllocator_Heap::fs_GetAllocationCount();
			S.f_SetLengthAndTrim(Len, SpareBytes);
			umint const BytesAfter = umint(S.f_GetCapacity()) * sizeof(TypeParam);
			if (NMemory::CAllocator_Heap::fs_GetAllocationCount() != Allocations || S.f_GetStr() != pBefore)
			{
				EXPECT_LT(BytesAfter + 16, BytesBefore) << Len << " units, " << SpareBytes << " spare bytes: a new block no smaller";
			}
			if (BytesBefore <= gf_BlockSize(Len + 1, sizeof(TypeParam)) - gc_BlockHeaderSize)
			{
				EXPECT_EQ(S.f_GetStr(), pBefore) << Len << " units, " << SpareBytes << " spare bytes: the block a request would get";
			}
			EXPECT_EQ(S.f_GetLen(), Len);
			EXPECT_TRUE(S == Text.c_str());
		}
	}
}

TYPED_TEST(StrWidth, AppendCharConcatenationAndCompare)
{
	using CString = TCStr<TypeParam>;
	CString S = fg_Str<TypeParam>("ab");
	int32 Pos = 2;
	S.f_AppendChar(Pos, TypeParam('-'), 3);
	S.f_AppendChar(Pos, TypeParam('x'), 0);
	S.f_SetLengthAndTrim(Pos);
	EXPECT_TRUE(S == fg_Text<TypeParam>("ab---").c_str());

	S.f_Append(S.f_GetStr()); // the source lies inside the block that grows
	EXPECT_TRUE(S == fg_Text<TypeParam>("ab---ab---").c_str());

	CString A = fg_Str<TypeParam>("left");
	CString B = fg_Str<TypeParam>("right");
	EXPECT_TRUE(A + B == fg_Text<TypeParam>("leftright").c_str());
	EXPECT_TRUE(A + fg_Text<TypeParam>("-").c_str() == fg_Text<TypeParam>("left-").c_str());
	EXPECT_TRUE(fg_Text<TypeParam>("-").c_str() + B == fg_Text<TypeParam>("-right").c_str());
	EXPECT_TRUE((CString() + CString()).f_IsEmpty());
	EXPECT_FALSE(A == B);

	struct
	{
		CUnits A;
		CUnits B;
		int32 Expected;
	} const Cases[] = {
		{{'a'}, {'a'}, 0},
		{{}, {}, 0},
		{{'a'}, {'b'}, -2},
		{{'b'}, {'a'}, 2},
		{{'a'}, {'a', 'b'}, -1},
		{{'a', 'b'}, {'a'}, 1},
		{{0xFF}, {'a'}, 2 * (0xFF - 'a')}, // units compare unsigned
	};
	for (auto const &Case : Cases)
		EXPECT_EQ(int32(gf_Compare(fg_Text<TypeParam>(Case.A).c_str(), fg_Text<TypeParam>(Case.B).c_str())), Case.Expected);
}

TYPED_TEST(StrWidth, ReplaceUnitKeepsTheKindAndLeavesTheCopiesAlone)
{
	using CString = TCStr<TypeParam>;
	std::basic_string<TypeParam> const Path = fg_Text<TypeParam>("C:\\Program Files\\x.exe");
	CString const Original(Path.c_str(), -1, gc_KindUnicode);
	CString const Copy = Original;
	CString const Replaced = gf_ReplaceUnit(Copy, TypeParam('\\'), TypeParam('/'), "no memory");
	EXPECT_TRUE(Replaced == fg_Text<TypeParam>("C:/Program Files/x.exe").c_str());
	EXPECT_EQ(Replaced.f_GetKind(), gc_KindUnicode);
	EXPECT_TRUE(Original == Path.c_str());
	EXPECT_TRUE(Copy == Path.c_str());
	EXPECT_TRUE(gf_ReplaceUnit(CString(), TypeParam('a'), TypeParam('b'), "no memory").f_IsEmpty());

	// No memory for a private copy: refused, not handed on half replaced.
	NZelTest::CHeapFailureScope NoHeap(0);
	EXPECT_THROW(gf_ReplaceUnit(Copy, TypeParam('\\'), TypeParam('/'), "no memory"), NException::CExceptionMemory);
	EXPECT_THROW((gf_ConvertWhole<TypeParam>(gc_KindLatin1, "a longer text than any block on hand", 36, "no memory")),
		NException::CExceptionMemory);
}

TEST(StrWide, WideUnitsCompareUnsignedOverTheirWholeWidth)
{
	EXPECT_EQ(gf_Compare(fg_Text<CChar16>(CUnits{0xFFFF}).c_str(), fg_Text<CChar16>(CUnits{0x41}).c_str()), 2 * (0xFFFF - 0x41));
	EXPECT_EQ(gf_Compare(fg_Text<CChar32>(CUnits{0x41}).c_str(), fg_Text<CChar32>(CUnits{0x10FFFF}).c_str()), 2 * (0x41 - 0x10FFFF));
	EXPECT_GT(gf_Compare(fg_Text<CChar32>(CUnits{0xFFFFFFFF}).c_str(), fg_Text<CChar32>(CUnits{1}).c_str()), 0) << "no overflow";
}

namespace
{
	// One append: a string of width TargetWidth holding Existing (of ExistingKind; none when
	// empty) gets Source (of SourceWidth and SourceKind) appended.
	struct CConversion
	{
		const char *pWhat;
		int32 SourceWidth;
		uint32 SourceKind;
		CUnits Source;
		int32 TargetWidth;
		uint32 ExistingKind;
		CUnits Existing;
		CUnits Expected;
		uint32 ExpectedKind;
	};

	template <typename t_CTarget, typename t_CSource>
	TCStr<t_CTarget> fg_Convert(const CConversion &Row)
	{
		TCStr<t_CTarget> Str;
		int32 Pos = 0;
		std::basic_string<t_CTarget> Existing = fg_Text<t_CTarget>(Row.Existing);
		if (!Existing.empty())
			Str.f_AppendText(Pos, Row.ExistingKind, Existing.data(), int32(Existing.size()));
		std::basic_string<t_CSource> Source = fg_Text<t_CSource>(Row.Source);
		EXPECT_TRUE(Str.f_AppendText(Pos, Row.SourceKind, Source.data(), int32(Source.size()))) << Row.pWhat;
		Str.f_SetLengthAndTrim(Pos);
		EXPECT_EQ(Pos, Str.f_GetLen()) << Row.pWhat;
		return Str;
	}

	template <typename t_CTarget>
	void fg_Check(const CConversion &Row)
	{
		TCStr<t_CTarget> Result;
		if (Row.SourceWidth == 1)
			Result = fg_Convert<t_CTarget, char>(Row);
		else if (Row.SourceWidth == 2)
			Result = fg_Convert<t_CTarget, CChar16>(Row);
		else
			Result = fg_Convert<t_CTarget, CChar32>(Row);
		EXPECT_EQ(fg_UnitsOf(Result), Row.Expected) << Row.pWhat;
		EXPECT_EQ(Result.f_GetKind(), Row.ExpectedKind) << Row.pWhat;
	}

	constexpr uint32 K1 = gc_KindLatin1;
	constexpr uint32 K2 = gc_KindUnicode;
	constexpr uint32 R = 0xFFFD;
}

TEST(StrConvert, BetweenWidthsAndKinds)
{
	CConversion const Rows[] = {
		// Latin-1 widens unit by unit and stays kind 1.
		{"latin-1 to 16", 1, K1, {'A', 0xE9, 0xFF}, 2, 0, {}, {'A', 0xE9, 0xFF}, K1},
		{"latin-1 to 32", 1, K1, {'A', 0xE9, 0xFF}, 4, 0, {}, {'A', 0xE9, 0xFF}, K1},
		// UTF-8 of 2, 3 and 4 bytes.
		{"utf-8 2 bytes to 16", 1, K2, {0xC3, 0xA9}, 2, 0, {}, {0xE9}, K2},
		{"utf-8 3 bytes to 16", 1, K2, {0xE2, 0x82, 0xAC}, 2, 0, {}, {0x20AC}, K2},
		{"utf-8 4 bytes to 16", 1, K2, {0xF0, 0x9F, 0x98, 0x80}, 2, 0, {}, {0xD83D, 0xDE00}, K2},
		{"utf-8 4 bytes to 32", 1, K2, {'a', 0xF0, 0x9F, 0x98, 0x80, 0xC3, 0xA9}, 4, 0, {}, {'a', 0x1F600, 0xE9}, K2},
		{"utf-16 to utf-8", 2, K2, {0xE9, 0x7FF, 0x800, 0x20AC, 0xFFFF}, 1, 0, {},
			{0xC3, 0xA9, 0xDF, 0xBF, 0xE0, 0xA0, 0x80, 0xE2, 0x82, 0xAC, 0xEF, 0xBF, 0xBF}, K2},
		// A surrogate pair is one character of four bytes, not two of three.
		{"surrogate pair to utf-8", 2, K2, {'x', 0xD83D, 0xDE00, 'y'}, 1, 0, {}, {'x', 0xF0, 0x9F, 0x98, 0x80, 'y'}, K2},
		{"highest pair to utf-8", 2, K2, {0xDBFF, 0xDFFF}, 1, 0, {}, {0xF4, 0x8F, 0xBF, 0xBF}, K2},
		{"surrogate pair to 32", 2, K2, {0xD83D, 0xDE00}, 4, 0, {}, {0x1F600}, K2},
		{"code points to utf-16", 4, K2, {0x1F600, 0x10FFFF, 0xE9}, 2, 0, {}, {0xD83D, 0xDE00, 0xDBFF, 0xDFFF, 0xE9}, K2},
		{"code point to utf-8", 4, K2, {0x1F600}, 1, 0, {}, {0xF0, 0x9F, 0x98, 0x80}, K2},
		// Lone surrogates and codes beyond Unicode become U+FFFD.
		{"lone high then letter", 2, K2, {0xD83D, 'A'}, 1, 0, {}, {0xEF, 0xBF, 0xBD, 'A'}, K2},
		{"lone low", 2, K2, {0xDE00}, 1, 0, {}, {0xEF, 0xBF, 0xBD}, K2},
		{"high at the end", 2, K2, {'A', 0xD83D}, 1, 0, {}, {'A', 0xEF, 0xBF, 0xBD}, K2},
		{"two highs", 2, K2, {0xD83D, 0xD83D, 0xDE00}, 4, 0, {}, {R, 0x1F600}, K2},
		{"lone surrogate to 32", 2, K2, {0xDC00}, 4, 0, {}, {R}, K2},
		{"surrogate code point", 4, K2, {0xD800}, 1, 0, {}, {0xEF, 0xBF, 0xBD}, K2},
		{"beyond U+10FFFF", 4, K2, {0x110000}, 2, 0, {}, {R}, K2},
		// Invalid UTF-8: one U+FFFD per bad sequence.
		{"stray continuation", 1, K2, {'a', 0x80, 'b'}, 2, 0, {}, {'a', R, 'b'}, K2},
		{"cut 2-byte at end", 1, K2, {'a', 0xC3}, 2, 0, {}, {'a', R}, K2},
		{"cut 3-byte at end", 1, K2, {0xE2, 0x82}, 2, 0, {}, {R}, K2},
		{"cut 3-byte before a letter", 1, K2, {0xE2, 0x82, 'A'}, 4, 0, {}, {R, 'A'}, K2},
		{"overlong slash", 1, K2, {0xC0, 0xAF}, 2, 0, {}, {R, R}, K2},
		{"overlong 3-byte", 1, K2, {0xE0, 0x80, 0xAF}, 2, 0, {}, {R, R, R}, K2},
		{"encoded surrogate", 1, K2, {0xED, 0xA0, 0x80}, 2, 0, {}, {R, R, R}, K2},
		{"beyond U+10FFFF in utf-8", 1, K2, {0xF4, 0x90, 0x80, 0x80}, 4, 0, {}, {R, R, R, R}, K2},
		{"bytes that never start a sequence", 1, K2, {0xFE, 0xFF, 0xF5}, 2, 0, {}, {R, R, R}, K2},
		// Kind 1 targets of a narrower width take the low bits.
		{"16 kind 1 to 8", 2, K1, {0xE9, 0x141}, 1, 0, {}, {0xE9, 0x41}, K1},
		{"32 kind 1 to 16", 4, K1, {0x1F600, 'a'}, 2, 0, {}, {0xF600, 'a'}, K1},
		// Kinds meet: a wider-kind text upgrades the existing text first...
		{"8-bit kind 1 gets utf-16", 2, K2, {0x20AC}, 1, K1, {0xE9, 'x'}, {0xC3, 0xA9, 'x', 0xE2, 0x82, 0xAC}, K2},
		{"8-bit kind 1 gets utf-8", 1, K2, {0xC3, 0xA0}, 1, K1, {0xE9}, {0xC3, 0xA9, 0xC3, 0xA0}, K2},
		{"16-bit kind 1 gets utf-8", 1, K2, {0xF0, 0x9F, 0x98, 0x80}, 2, K1, {0xE9}, {0xE9, 0xD83D, 0xDE00}, K2},
		{"16-bit kind 1 with a surrogate unit upgrades", 1, K2, {'a'}, 2, K1, {0xD800}, {R, 'a'}, K2},
		// ...and a lower-kind text is converted to the string's kind.
		{"utf-8 string gets 16 kind 1", 2, K1, {0x141}, 1, K2, {0xC3, 0xA9}, {0xC3, 0xA9, 0xC5, 0x81}, K2},
		{"utf-16 string gets latin-1", 1, K1, {0xE9}, 2, K2, {0x20AC}, {0x20AC, 0xE9}, K2},
		{"same kinds copy as they are", 1, K2, {0x80}, 1, K2, {'a'}, {'a', 0x80}, K2},
		{"same width kind 1", 2, K1, {0xD800}, 2, K1, {'a'}, {'a', 0xD800}, K1},
	};
	for (auto const &Row : Rows)
	{
		if (Row.TargetWidth == 1)
			fg_Check<char>(Row);
		else if (Row.TargetWidth == 2)
			fg_Check<CChar16>(Row);
		else
			fg_Check<CChar32>(Row);
	}
}

TEST(StrConvert, StringsOfAnotherWidthKeepTheirKind)
{
	CStr Utf8("a\xC3\xA9", -1, gc_KindUnicode);
	CStr16 Wide(Utf8);
	EXPECT_EQ(fg_UnitsOf(Wide), (CUnits{'a', 0xE9}));
	EXPECT_EQ(Wide.f_GetKind(), gc_KindUnicode);
	CStr Back(Wide);
	EXPECT_EQ(Back, Utf8);
	EXPECT_EQ(Back.f_GetKind(), gc_KindUnicode);

	CStr Latin("a\xE9");
	CStr32 Points(Latin);
	EXPECT_EQ(fg_UnitsOf(Points), (CUnits{'a', 0xE9}));
	EXPECT_EQ(Points.f_GetKind(), gc_KindLatin1);

	std::u16string const Pair = u"\U0001F600";
	CStr FromUnits(reinterpret_cast<const CChar16 *>(Pair.c_str()), -1, gc_KindUnicode);
	EXPECT_EQ(std::string(FromUnits.f_GetStr()), "\xF0\x9F\x98\x80");
	EXPECT_TRUE(CStr16(static_cast<const char *>(nullptr), -1, gc_KindUnicode).f_IsEmpty());
}

TEST(StrConvert, Utf8Validity)
{
	struct
	{
		const char *pText;
		bool bValid;
	} const Cases[] = {
		{"", true},
		{"plain", true},
		{"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true},
		{"\xF4\x8F\xBF\xBF", true},
		{"\xE9", false},
		{"\xC3", false},
		{"\xC0\xAF", false},
		{"\xED\xA0\x80", false},
		{"\xF4\x90\x80\x80", false},
		{"ok\x80", false},
	};
	for (auto const &Case : Cases)
		EXPECT_EQ(gf_IsUtf8(Case.pText, int32(std::char_traits<char>::length(Case.pText))), Case.bValid) << Case.pText;
}

TEST(StrConvert, OutOfRoomNeverCutsInsideACharacter)
{
	// A block filled up to room for one more byte; the euro sign needs three.
	CStr Utf8("ab", -1, gc_KindUnicode);
	int32 Pos = 2;
	Utf8.f_AppendChar(Pos, 'b', Utf8.f_GetCapacity() - 4);
	std::string const Before(Utf8.f_GetStr());
	ASSERT_EQ(Pos + 2, Utf8.f_GetCapacity());
	std::u16string const Euro = u"\u20ACc";
	{
		NZelTest::CHeapFailureScope NoHeap(0);
		EXPECT_FALSE(Utf8.f_AppendText(Pos, gc_KindUnicode, reinterpret_cast<const CChar16 *>(Euro.data()), int32(Euro.size())));
		Utf8.f_SetLengthAndTrim(Pos);
	}
	EXPECT_EQ(std::string(Utf8.f_GetStr()), Before);
	EXPECT_EQ(Utf8.f_GetLen(), int32(Before.size()));

	// A 16-bit string with room for one more unit does not keep half of a surrogate pair.
	CStr16 Wide("aaaaa", -1, gc_KindUnicode);
	Pos = 5;
	Wide.f_AppendChar(Pos, CChar16('b'), Wide.f_GetCapacity() - 7);
	int32 const Filled = Pos;
	ASSERT_EQ(Filled + 2, Wide.f_GetCapacity());
	CStr32 const Smile(U"\U0001F600", -1, gc_KindUnicode);
	{
		NZelTest::CHeapFailureScope NoHeap(0);
		EXPECT_FALSE(Wide.f_AppendText(Pos, gc_KindUnicode, Smile.f_GetStr(), Smile.f_GetLen()));
		Wide.f_SetLengthAndTrim(Pos);
	}
	EXPECT_EQ(Wide.f_GetLen(), Filled);
	EXPECT_EQ(Wide.f_GetStr()[Filled - 1], CChar16('b'));

	// No memory to convert the existing text to the wider kind: nothing is appended, and the
	// string keeps its one kind.
	CStr Latin("\xE9");
	{
		NZelTest::CHeapFailureScope NoHeap(0);
		Pos = 1;
		EXPECT_FALSE(Latin.f_AppendText(Pos, gc_KindUnicode, "\xC3\xA0", 2));
		EXPECT_TRUE(Latin.f_AppendText(Pos, gc_KindLatin1, "", 0)) << "nothing to append, nothing cut";
	}
	EXPECT_EQ(std::string(Latin.f_GetStr()), "\xE9");
	EXPECT_EQ(Latin.f_GetKind(), gc_KindLatin1);
}
