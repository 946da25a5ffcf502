#include "zel/library/core/general/Zel_Str.h"
#include "tests/zel/StrTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace NZel;
using namespace NZel::NStr;

namespace
{
	CStr fg_Kind2(const char *pUtf8)
	{
		CStr S;
		int32 Pos = 0;
		S.f_AppendText(Pos, gc_KindUnicode, pUtf8, int32(std::char_traits<char>::length(pUtf8)));
		S.f_SetLengthAndTrim(Pos);
		return S;
	}

	std::string fg_Bytes(const CStr &S)
	{
		return std::string(S.f_GetStr(), umint(S.f_GetLen()));
	}
}

TEST(StrBlock, SizesRoundTo16BytesAndAbove256ToPowersOfTwo)
{
	struct
	{
		int32 nUnits;
		int32 UnitSize;
		umint Expected;
	} const Cases[] = {
		{1, 1, 16}, {4, 1, 16}, {5, 1, 32}, {20, 1, 32}, {21, 1, 48}, {244, 1, 256},
		{245, 1, 512}, {500, 1, 512}, {501, 1, 1024}, {2, 2, 16}, {3, 2, 32}, {1, 4, 16}, {61, 4, 256}, {62, 4, 512},
	};
	for (auto const &Case : Cases)
		EXPECT_EQ(gf_BlockSize(Case.nUnits, Case.UnitSize), Case.Expected) << Case.nUnits << " units of " << Case.UnitSize;
}

TEST(Str, NullStringReadsAsStaticEmptyText)
{
	CStr Empty;
	ASSERT_NE(Empty.f_GetStr(), nullptr);
	EXPECT_STREQ(Empty.f_GetStr(), "");
	EXPECT_EQ(Empty.f_GetLen(), 0);
	EXPECT_EQ(Empty.f_GetCapacity(), 0);
	EXPECT_EQ(Empty.f_GetKind(), gc_KindLatin1);
	EXPECT_TRUE(Empty.f_IsEmpty());
	EXPECT_EQ(Empty.f_GetRefCount(), 0);
	EXPECT_TRUE(CStr("").f_IsEmpty());
	EXPECT_EQ(CStr("").f_GetRefCount(), 0) << "an empty text makes no block";
	EXPECT_EQ(CStr(nullptr).f_GetLen(), 0);
}

TEST(Str, CopySharesTheBlockAndAppendingToTheCopyLeavesTheOriginal)
{
	CStr Original("process");
	CStr Copy(Original);
	EXPECT_EQ(Original.f_GetStr(), Copy.f_GetStr()) << "a copy shares the block";
	EXPECT_EQ(Original.f_GetRefCount(), 2);

	Copy.f_Append(".exe");
	EXPECT_STREQ(Original.f_GetStr(), "process");
	EXPECT_STREQ(Copy.f_GetStr(), "process.exe");
	EXPECT_NE(Original.f_GetStr(), Copy.f_GetStr());
	EXPECT_EQ(Original.f_GetRefCount(), 1);
	EXPECT_EQ(Copy.f_GetRefCount(), 1);
}

TEST(Str, AssignmentMovesAndSelfAssignment)
{
	CStr A("alpha");
	CStr B("beta");
	A = B;
	EXPECT_EQ(A.f_GetStr(), B.f_GetStr());
	EXPECT_EQ(B.f_GetRefCount(), 2);

	CStr &Alias = A;
	A = Alias;
	EXPECT_STREQ(A.f_GetStr(), "beta");
	EXPECT_EQ(B.f_GetRefCount(), 2);

	CStr Moved(static_cast<CStr &&>(A));
	EXPECT_TRUE(A.f_IsEmpty());
	EXPECT_STREQ(Moved.f_GetStr(), "beta");

	// Assigning a text that lives in the string's own block.
	CStr Own("abcdef");
	Own = Own.f_GetStr() + 2;
	EXPECT_STREQ(Own.f_GetStr(), "cdef");
}

TEST(Str, WritableBufferAskedForLessThanTheTextStillHoldsTheText)
{
	CStr T("0123456789");
	char *q = T.f_GetWritableBuffer(2);
	ASSERT_NE(q, nullptr);
	EXPECT_STREQ(q, "0123456789");
	EXPECT_EQ(T.f_GetLen(), 10);
}

TEST(Str, SetLengthCutsAndMeasures)
{
	CStr S("abcdef");
	S.f_SetLengthAndTrim(3);
	EXPECT_STREQ(S.f_GetStr(), "abc");
	EXPECT_EQ(S.f_GetLen(), 3);

	CStr T;
	char *p = T.f_GetWritableBuffer(20);
	ASSERT_NE(p, nullptr);
	std::char_traits<char>::copy(p, "hello", 6);
	T.f_SetLengthAndTrim(-1);
	EXPECT_EQ(T.f_GetLen(), 5);

	// A length beyond the block is held to what the block can hold.
	CStr U("xy");
	U.f_SetLengthAndTrim(1000);
	EXPECT_LT(U.f_GetLen(), U.f_GetCapacity());
}

TEST(Str, TrimKeepsAbout32SpareBytesAndShrinksLargerBlocks)
{
	// Generous room, short text: the block shrinks to the text plus 32 spare bytes.
	CStr Big;
	ASSERT_GE(Big.f_Reserve(1000), 1000);
	int32 Pos = 0;
	Big.f_AppendText(Pos, gc_KindLatin1, "0123456789", 10);
	Big.f_SetLengthAndTrim(Pos);
	EXPECT_STREQ(Big.f_GetStr(), "0123456789");
	EXPECT_GE(Big.f_GetCapacity(), 11);
	EXPECT_LT(Big.f_GetCapacity(), 256) << "shrunk";
	EXPECT_LE(umint(Big.f_GetCapacity()), gf_BlockSize(11 + 32) + 16) << "no more than the spare room (plus heap slack)";

	// A small difference is left alone.
	CStr Small;
	int32 Room = Small.f_Reserve(40);
	ASSERT_GE(Room, 40);
	Pos = 0;
	Small.f_AppendText(Pos, gc_KindLatin1, "abcde", 5);
	Small.f_SetLengthAndTrim(Pos);
	EXPECT_EQ(Small.f_GetCapacity(), Room) << "within 32 spare bytes: not reallocated";
}

TEST(Str, ReserveWithDiscardOnASharedStringGivesAFreshBlock)
{
	CStr A("keep me");
	CStr B(A);
	int32 Room = B.f_Reserve(4, true);
	EXPECT_GE(Room, 4);
	EXPECT_STREQ(A.f_GetStr(), "keep me");
	EXPECT_STREQ(B.f_GetStr(), "");
	EXPECT_NE(A.f_GetStr(), B.f_GetStr());

	CStr C("grow");
	int32 Bigger = C.f_Reserve(600);
	EXPECT_GE(Bigger, 600);
	EXPECT_STREQ(C.f_GetStr(), "grow") << "growing keeps the text";
	C.f_Reserve(2000, true);
	EXPECT_STREQ(C.f_GetStr(), "") << "growing with discard starts afresh";
	EXPECT_EQ(C.f_GetKind(), gc_KindLatin1);
}

TEST(Str, AppendTextKinds)
{
	// Kind 1 into a kind 2 string: 0xE9 becomes C3 A9.
	CStr Utf8 = fg_Kind2("a");
	ASSERT_EQ(Utf8.f_GetKind(), gc_KindUnicode);
	int32 Pos = Utf8.f_GetLen();
	Utf8.f_AppendText(Pos, gc_KindLatin1, "\xE9", 1);
	Utf8.f_SetLengthAndTrim(Pos);
	EXPECT_EQ(fg_Bytes(Utf8), "a\xC3\xA9");
	EXPECT_EQ(Utf8.f_GetKind(), gc_KindUnicode);

	// Kind 2 into a non-empty kind 1 string: the existing text is converted first.
	CStr Latin("\xE9t\xE9 ");
	Pos = Latin.f_GetLen();
	Latin.f_AppendText(Pos, gc_KindUnicode, "\xC3\xA0", 2);
	Latin.f_SetLengthAndTrim(Pos);
	EXPECT_EQ(fg_Bytes(Latin), "\xC3\xA9t\xC3\xA9 \xC3\xA0");
	EXPECT_EQ(Latin.f_GetKind(), gc_KindUnicode);

	// An empty string simply takes the kind of what is appended.
	CStr Empty;
	Pos = 0;
	Empty.f_AppendText(Pos, gc_KindUnicode, "\xC3\xA9", 2);
	EXPECT_EQ(Empty.f_GetKind(), gc_KindUnicode);
	EXPECT_EQ(fg_Bytes(Empty), "\xC3\xA9");

	// Same kinds: bytes as they are.
	CStr Plain("x");
	Pos = 1;
	Plain.f_AppendText(Pos, gc_KindLatin1, "\xE9", 1);
	EXPECT_EQ(fg_Bytes(Plain), "x\xE9");
}

TEST(Str, AppendWideUnits)
{
	struct
	{
		uint32 Kind;
		std::u16string Units;
		std::string Expected;
	} const Cases[] = {
		{gc_KindUnicode, u"A", "A"},
		{gc_KindUnicode, u"\u00E9", "\xC3\xA9"},
		{gc_KindUnicode, u"\u07FF", "\xDF\xBF"},
		{gc_KindUnicode, u"\u20AC", "\xE2\x82\xAC"},
		{gc_KindLatin1, u"\u00E9\u0141", "\xE9\x41"},
	};
	for (auto const &Case : Cases)
	{
		CStr S;
		int32 Pos = 0;
		S.f_AppendText(Pos, Case.Kind, reinterpret_cast<const uint16 *>(Case.Units.data()), int32(Case.Units.size()));
		S.f_SetLengthAndTrim(Pos);
		EXPECT_EQ(fg_Bytes(S), Case.Expected);
	}
}

TEST(Str, AppendCharacterRepeated)
{
	CStr S("ab");
	int32 Pos = 2;
	S.f_AppendChar(Pos, '-', 5);
	S.f_AppendChar(Pos, 'x', 0);
	S.f_SetLengthAndTrim(Pos);
	EXPECT_STREQ(S.f_GetStr(), "ab-----");
	EXPECT_EQ(Pos, 7);
}

TEST(Str, AppendAndConcatenation)
{
	CStr S("ab");
	S.f_Append("cd");
	S.f_Append("ef", 1);
	S.f_Append("");
	S.f_Append(nullptr);
	S.f_Append("\0zz", 3);
	EXPECT_STREQ(S.f_GetStr(), "abcde");

	S.f_Append(S.f_GetStr()); // the source lies inside the block that grows
	EXPECT_STREQ(S.f_GetStr(), "abcdeabcde");

	CStr A("left");
	CStr B("right");
	EXPECT_STREQ((A + B).f_GetStr(), "leftright");
	EXPECT_STREQ((A + "-").f_GetStr(), "left-");
	EXPECT_STREQ(("-" + B).f_GetStr(), "-right");
	EXPECT_TRUE((CStr() + CStr()).f_IsEmpty());
	EXPECT_EQ(fg_Bytes(CStr("\xE9") + fg_Kind2("\xC3\xA9")), "\xC3\xA9\xC3\xA9");

	std::string Long(5000, 'q');
	CStr L;
	for (int i = 0; i < 50; ++i)
		L.f_Append(Long.c_str(), 100);
	EXPECT_EQ(L.f_GetLen(), 5000);
	EXPECT_EQ(fg_Bytes(L), Long);
}

TEST(Str, Equality)
{
	CStr A("same");
	CStr B("same");
	EXPECT_TRUE(A == B);
	EXPECT_TRUE(A == "same");
	EXPECT_TRUE("same" == A);
	EXPECT_TRUE(A != "Same");
	EXPECT_TRUE(CStr() == "");
	EXPECT_FALSE(A == CStr("sam"));
}

TEST(StrCompare, ByteWise)
{
	struct
	{
		const char *pA;
		const char *pB;
		int16 Expected;
	} const Cases[] = {
		{"a", "a", 0},
		{"", "", 0},
		{"a", "b", -2},
		{"b", "a", 2},
		{"a", "ab", -1},
		{"ab", "a", 1},
		{"", "x", -1},
		{"\xFF", "a", 2 * (255 - 97)},
		{"a", "\xFF", 2 * (97 - 255)},
		{"abcX", "abcx", 2 * ('X' - 'x')},
		{nullptr, "", 0},
	};
	for (auto const &Case : Cases)
		EXPECT_EQ(gf_Compare(Case.pA, Case.pB), Case.Expected) << (Case.pA ? Case.pA : "(null)") << " vs " << Case.pB;
}

TEST(Str, OutOfMemoryCutsTextAndKeepsWhatWasThere)
{
	{
		NZelTest::CHeapFailureScope NoHeap(0);
		CStr S("abc");
		EXPECT_TRUE(S.f_IsEmpty()) << "a string that cannot get one unit stays empty";
		EXPECT_EQ(S.f_GetWritableBuffer(4), nullptr);
	}

	CStr Kept("0123456789");
	int32 Capacity = Kept.f_GetCapacity();
	{
		NZelTest::CHeapFailureScope NoHeap(0);
		std::string Long(200, 'z');
		Kept.f_Append(Long.c_str());
		EXPECT_EQ(Kept.f_GetLen(), Capacity - 1) << "cut to the room the block had";
		EXPECT_EQ(std::string(Kept.f_GetStr(), 10), "0123456789");

		// A shared string that cannot be made private is not written at all.
		CStr Other(Kept);
		Other.f_Append("x");
		EXPECT_EQ(Other.f_GetStr(), Kept.f_GetStr());
	}
}

TEST(FStr, FixedStringsHoldWhatFitsAndTerminate)
{
	std::string Long(300, 'k');
	CFStr256 F(Long.c_str());
	EXPECT_EQ(F.f_GetLen(), 255);
	EXPECT_EQ(std::string(F.f_GetStr()), Long.substr(0, 255));

	TCStrImp_Fixed<9> Nine("0123456789");
	EXPECT_STREQ(Nine.f_GetStr(), "01234567");
	EXPECT_EQ(Nine.f_GetCapacity(), 9);

	CFStr256 G("ab");
	G.f_Append("cd");
	int32 Pos = G.f_GetLen();
	G.f_AppendChar(Pos, '!', 3);
	EXPECT_TRUE(G == "abcd!!!");
	EXPECT_EQ(G.f_GetWritableBuffer(256), nullptr);
	EXPECT_NE(G.f_GetWritableBuffer(255), nullptr);
	EXPECT_TRUE(CFStr256().f_IsEmpty());
}

TEST(Str, BadArgumentsLoseNothingAndNeverCrash)
{
	CStr S("abc");
	int32 Pos = 100; // beyond the text: held to its end, no unwritten bytes inside the text
	S.f_AppendText(Pos, gc_KindLatin1, "d", 1);
	EXPECT_STREQ(S.f_GetStr(), "abcd");
	EXPECT_EQ(Pos, 4);

	Pos = -5;
	CStr T("xyz");
	T.f_AppendText(Pos, gc_KindLatin1, "Q", 1);
	EXPECT_STREQ(T.f_GetStr(), "Q") << "a negative position writes at the start";

	CStr U("keep");
	Pos = 4;
	U.f_AppendText(Pos, gc_KindLatin1, static_cast<const char *>(nullptr), 10);
	U.f_AppendText(Pos, gc_KindLatin1, "zz", -3);
	U.f_AppendChar(Pos, 'z', -1);
	U.f_SetLengthAndTrim(Pos);
	EXPECT_STREQ(U.f_GetStr(), "keep");

	EXPECT_EQ(U.f_GetWritableBuffer(-1), nullptr);
	EXPECT_EQ(U.f_GetWritableBuffer(0x7FFFFFFF), nullptr);
	EXPECT_STREQ(U.f_GetStr(), "keep");
	EXPECT_EQ(U.f_Reserve(-4), 0) << "a negative reservation releases like 0";
	EXPECT_TRUE(U.f_IsEmpty());

	// Kinds beyond the defined ones are taken from their two low bits.
	CStr V;
	Pos = 0;
	V.f_AppendText(Pos, 7, "k", 1);
	EXPECT_EQ(V.f_GetKind(), 3u);
	EXPECT_STREQ(V.f_GetStr(), "k");
}

TEST(Str, TextLengthAtEveryAlignmentAndBound)
{
	// The text at each offset within a 16-byte step, of lengths on both sides of the steps,
	// measured with bounds below, at and above its length; the bytes around it are not zero.
	alignas(16) char Buffer[128];
	for (int32 Offset = 0; Offset < 16; ++Offset)
	{
		for (int32 Len = 0; Len <= 70; ++Len)
		{
			std::memset(Buffer, 'x', sizeof(Buffer));
			Buffer[Offset + Len] = 0;
			const char *pText = Buffer + Offset;
			for (int32 Max : {0, 1, Len - 1, Len, Len + 1, Len + 17, 1 << 29})
			{
				if (Max < 0)
					continue;
				int32 Expected = Len < Max ? Len : Max;
				EXPECT_EQ(gf_TextLength(pText, Max), Expected) << "offset " << Offset << ", length " << Len << ", bound " << Max;
			}
			CStr S(pText);
			EXPECT_EQ(S.f_GetLen(), Len);
			EXPECT_EQ(std::string(S.f_GetStr()), std::string(pText));
		}
	}
}

TEST(Str, BuildingFromTextCopiesExactlyWhatItIsGiven)
{
	const char Text[] = "ab\0cd\xE9";
	struct
	{
		int32 Count;
		uint32 Kind;
		std::string Expected;
		uint32 ExpectedKind;
	} const Cases[] = {
		{-1, gc_KindLatin1, "ab", gc_KindLatin1},
		{2, gc_KindLatin1, "ab", gc_KindLatin1},
		{5, gc_KindLatin1, std::string("ab\0cd", 5), gc_KindLatin1}, // a count copies zero units too
		{6, gc_KindUnicode, std::string("ab\0cd\xE9", 6), gc_KindUnicode},
		{6, 7, std::string("ab\0cd\xE9", 6), 3}, // only the two kind bits are kept
		{0, gc_KindUnicode, "", gc_KindLatin1},
	};
	for (auto const &Case : Cases)
	{
		CStr S(Text, Case.Count, Case.Kind);
		EXPECT_EQ(fg_Bytes(S), Case.Expected) << Case.Count;
		EXPECT_EQ(S.f_GetKind(), Case.ExpectedKind) << Case.Count;
		EXPECT_EQ(S.f_GetStr()[S.f_GetLen()], 0);
	}
	EXPECT_TRUE(CStr(Text + 2, 3).f_IsEmpty()) << "text that starts with a zero unit appends nothing";
}
