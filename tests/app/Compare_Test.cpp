#include "app/Hushvane_Compare.h"

#include <gtest/gtest.h>

using NHushvane::gf_CompareNoCase;

namespace
{
	int fg_Sign(int Value)
	{
		return (Value > 0) - (Value < 0);
	}

	struct CCompareCase
	{
		const char *m_pA;
		const char *m_pB;
		int m_Expected; // the exact value returned
	};
}

TEST(CompareNoCase, ReturnsTwiceTheFoldedDifferenceOrTheLengthOrder)
{
	const CCompareCase Cases[] = {
		{"", "", 0},
		{"notepad.exe", "notepad.exe", 0},
		{"NOTEPAD.EXE", "notepad.exe", 0},
		{"a", "b", -2},
		{"b", "a", 2},
		{"B", "a", 2},         // folds before comparing: 'b' - 'a'
		{"abc", "abcd", -1},   // a ends first
		{"abcd", "abc", 1},    // b ends first
		{"", "x", -1},
		{"x", "", 1},
		{"[", "a", 2 * ('[' - 'a')}, // '[' (91) stays, 'a' is 97
		{"@", "A", 2 * ('@' - 'a')}, // 64 is not a letter; 'A' folds to 97
		{"\xC0", "\xE0", 0},   // 192 folds to 224
		{"\xDF", "\xFF", 0},   // 223 folds to 255
		{"\xDE", "\xFF", -2},  // 222 -> 254
		{"\xBF", "\xDF", 2 * (0xBF - 0xFF)}, // 191 stays; 223 -> 255
		{"\xE0", "\x7F", 2 * (0xE0 - 0x7F)}, // high bytes compare unsigned
		{"\xF7", "\xD7", 0},   // 215 folds to 247 as well
	};
	for (const CCompareCase &Case : Cases)
		EXPECT_EQ(gf_CompareNoCase(Case.m_pA, Case.m_pB), Case.m_Expected) << '"' << Case.m_pA << "\" vs \"" << Case.m_pB << '"';
}

TEST(CompareNoCase, IsAntisymmetricAndNullIsEmpty)
{
	const char *Texts[] = {"", "a", "A", "ab", "aB", "b", "Z", "z", "\xC9", "\xE9", "\x80", "a b", "#"};
	for (const char *pA : Texts)
		for (const char *pB : Texts)
			EXPECT_EQ(fg_Sign(gf_CompareNoCase(pA, pB)), -fg_Sign(gf_CompareNoCase(pB, pA))) << pA << " / " << pB;
	EXPECT_EQ(gf_CompareNoCase(nullptr, ""), 0);
	EXPECT_EQ(gf_CompareNoCase(nullptr, "a"), -1);
	EXPECT_EQ(gf_CompareNoCase("a", nullptr), 1);
}
