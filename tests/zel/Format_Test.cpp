#include "zel/library/core/general/Zel_Format.h"
#include "zel/library/core/runtime/Zel_Sys_Memory.h"
#include "tests/zel/StrTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <type_traits>
#include <variant>
#include <vector>

using namespace NZel;
using namespace NZel::NStr;

namespace
{
	using CArg = std::variant<int32, uint32, int64, uint64, const char *, CStr, CFStr256>;

	template <typename t_CFormat>
	void fg_AddAll(t_CFormat &Format, const std::vector<CArg> &Args)
	{
		for (auto const &Arg : Args)
			std::visit([&](auto const &Value) { Format << Value; }, Arg);
	}

	std::string fg_Format(const char *pFormat, const std::vector<CArg> &Args)
	{
		CStr::CFormat Format(pFormat);
		fg_AddAll(Format, Args);
		CStr Result = Format.f_ToString();
		return std::string(Result.f_GetStr(), umint(Result.f_GetLen()));
	}

	const std::string gc_Range = "###format var out of range###";
	const std::string gc_Parse = "###format var parse error###";
	std::string fg_Unknown(const char *pLetters)
	{
		return std::string("| format specifier unknown (") + pLetters + ") |";
	}

	struct CCase
	{
		const char *pFormat;
		std::vector<CArg> Args;
		std::string Expected;
	};

	void fg_RunCases(const std::vector<CCase> &Cases)
	{
		for (auto const &Case : Cases)
			EXPECT_EQ(fg_Format(Case.pFormat, Case.Args), Case.Expected) << "format text: " << Case.pFormat;
	}
}

TEST(Format, BracesAndMissingArguments)
{
	fg_RunCases({
		{"{{x}", {}, "{x}"},
		{"a}b", {}, "a}b"},
		{"{}", {}, gc_Range},
		{"plain text", {}, "plain text"},
		{"", {}, ""},
		{"ab{", {}, "ab"},
		{"{", {}, ""},
		{"x{nh", {int32(255)}, "xff"},
		{"{} and {}", {int32(1)}, "1 and " + gc_Range},
		{"{}", {int32(1), int32(2)}, "1"},
		{"{{{}}}", {int32(7)}, "{7}}"},
	});
}

TEST(Format, ExplicitAndStarIndexes)
{
	fg_RunCases({
		{"{1} {0} {}", {"A", "B"}, "B A A"},
		{"{*}", {int32(1), "X"}, "X"},
		{"{*1}", {"X", int32(0)}, "X"},
		{"{*}", {}, gc_Range},
		{"{*5}", {int32(0)}, gc_Range},
		{"{*}", {int32(7), "X"}, gc_Range},
		// A negative selected index falls back to the next argument.
		{"{*}", {int32(-1), "next"}, "next"},
		// A string argument read as an index.
		{"{*}", {"0x2", "a", "b"}, "b"},
		{"{2}", {"a", "b"}, gc_Range},
		{"{4294950972}", {"a"}, gc_Parse},
		{"{4294967295}", {"a"}, gc_Range},
		{"{1}{}{}", {"a", "b"}, "bab"},
	});
}

TEST(Format, OptionTokenizing)
{
	fg_RunCases({
		{"{nh, sj4,sf0}", {int32(255)}, "ff"},
		{"{0, nh}", {int32(255)}, "255"},
		{"{0 ,nh}", {int32(255)}, "ff"},
		{"{qx}", {int32(5)}, fg_Unknown("QX") + "5"},
		{"{q}", {int32(5)}, fg_Unknown("Q") + "5"},
		{"{qx,nh}", {int32(255)}, fg_Unknown("QX") + "ff"},
		{"{nq}", {int32(5)}, fg_Unknown("NQ") + "5"},
		{"{sq}", {int32(5)}, fg_Unknown("SQ") + "5"},
		{"{a}", {int32(5)}, fg_Unknown("A") + "5"},
		{"{lx}", {int32(5)}, fg_Unknown("LX") + "5"},
		{"{nh,nb}", {int32(5)}, "101"},
		{"{,,nh}", {int32(255)}, "ff"},
		{"{*}", {int32(0)}, "0"},
	});
}

TEST(Format, IntegerOptions)
{
	fg_RunCases({
		{"{nh}", {int32(255)}, "ff"},
		{"{nh,nc}", {int32(255)}, "FF"},
		{"{nh,nc0}", {int32(255)}, "ff"},
		{"{nfh,sj8,sf0}", {int32(255)}, "000000ff"},
		{"{nfH}", {int32(255)}, "ff"},
		{"{ns,}", {int32(1234567)}, "1,234,567"},
		{"{nh,ns,}", {int32(0x123456)}, "123456"},
		{"{ns.}", {int32(123)}, "123"},
		{"{ns.}", {int32(1234)}, "1.234"},
		{"{nt46}", {int32(1234567)}, "1.234.567"},
		{"{no,ns_}", {int32(01234567)}, "1_234_567"},
		{"{nf9,ns_}", {int32(6560)}, "8_888"},
		{"{n+}", {int32(0)}, "0"},
		{"{n+}", {int32(5)}, "+5"},
		{"{}", {int32(-5)}, "-5"},
		{"{ns,}", {int32(0)}, "0"},
		{"{}", {int32(INT32_MIN)}, "-2147483648"},
		{"{}", {int64(INT64_MIN)}, "-9223372036854775808"},
		{"{}", {uint64(UINT64_MAX)}, "18446744073709551615"},
		{"{nb}", {uint64(UINT64_MAX)}, std::string(64, '1')},
		{"{nb}", {int64(INT64_MIN)}, "-1" + std::string(63, '0')},
		{"{}", {uint32(4294967295u)}, "4294967295"},
		{"{nh}", {int32(-1)}, "-1"},
		{"{nh}", {uint32(0xFFFFFFFFu)}, "ffffffff"},
		{"{nb}", {int32(5)}, "101"},
		{"{no}", {int32(8)}, "10"},
		{"{nf36}", {int32(26)}, "q"},
		{"{nf1}", {int32(26)}, "11010"},
		{"{nf99}", {int32(26)}, "q"},
		{"{nf36,nc}", {int32(35)}, "Z"},
		{"{nf*}", {int32(255), int32(16)}, "ff"},
		{"{nf*}", {int32(255)}, "255"},
		{"{sf0,sj5}", {int32(-42)}, "00-42"},
		{"{sj2}", {int32(1234)}, "34"},
		{"{sj*}", {int32(7), int32(3)}, "  7"},
		{"0x{nfh,sf0,sj*}", {int32(5)}, "0x"},
		{"0x{nfh,sf0,sj*1}", {int32(255), int32(4)}, "0x00ff"},
		{"0x{nfh,sj8,sf0}", {uint32(5)}, "0x00000005"},
		{"{m}", {int32(5)}, ""},
		{"{l4}", {int32(5)}, "   5"},
		{"{l*}", {int32(5)}, "5"},
		{"{m*}", {int32(12345)}, "12345"},
		{"{nh,sf0,l8,m8}", {uint64(0x123456789ull)}, "23456789"},
		{"{nh,sf0,l8,m8}", {int32(0x1234)}, "00001234"},
	});
}

TEST(Format, StringOptionsAndJustification)
{
	fg_RunCases({
		{"{sm3}", {"abcdef"}, "def"},
		{"{a-0,sm3}", {"abcdef"}, "abc"},
		{"{sl6}", {"abc"}, "   abc"},
		{"{sl6,sf*}", {"abc"}, "***abc"},
		{"{a-1,sl6}", {"abc"}, " abc  "},
		{"{a-2,sl4,sm5}", {"abcdef"}, "  abc"},
		{"{a-6,sm5}", {"abc"}, "     "},
		{"{a+0,sl5}", {"ab"}, "   ab"},
		{"{a+2,sl5}", {"ab"}, "   ab"},
		{"{a-1,sl6}", {int32(-5)}, "-5    "},
		{"{a-3,sl6}", {int32(-5)}, "  -5  "},
		{"{cu}", {"abc"}, "ABC"},
		{"{cl}", {"ABC"}, "abc"},
		{"{cu}", {"\xE9\xF7z9"}, "\xC9\xD7Z9"},
		{"{cl}", {"\xC9\xDF\xD7Q"}, "\xE9\xFF\xF7q"},
		{"{cu}", {int32(5)}, fg_Unknown("CU") + "5"},
		{"{cx}", {"a"}, fg_Unknown("CX") + "a"},
		{"{sl3}", {static_cast<const char *>(nullptr)}, "   "},
		{"{}", {static_cast<const char *>(nullptr)}, ""},
		{"[{}]", {CStr("cstr")}, "[cstr]"},
		{"[{sl6,cu}]", {CStr("cstr")}, "[  CSTR]"},
		{"[{}]", {CFStr256("fixed")}, "[fixed]"},
		{"{sj3,sf0}", {int32(7)}, "007"},
	});

	std::string Long(600, 'a');
	EXPECT_EQ(fg_Format("{cu}", {Long.c_str()}), std::string(600, 'A')) << "case conversion beyond the stack buffer";
}

TEST(Format, PatternsOfTheProgram)
{
	EXPECT_EQ(fg_Format("Added process {} with priority {}\r\n", {CStr("notepad.exe"), "high"}),
		"Added process notepad.exe with priority high\r\n");
	EXPECT_EQ(fg_Format("Failed to set priority class on {} with process id {}\r\n", {CStr("a.exe"), uint32(1234)}),
		"Failed to set priority class on a.exe with process id 1234\r\n");
	EXPECT_EQ(fg_Format("/{}-{sj2,sf0}-{sj2,sf0}_{sj2,sf0}.{sj2,sf0}.{sj2,sf0}.{sj3,sf0}.log",
				  {int32(2026), int32(12), int32(7), int32(2), int32(40), int32(50), int32(123)}),
		"/2026-12-07_02.40.50.123.log");
	EXPECT_EQ(fg_Format("{nfh,sf0,sj16}", {uint64(0xABCDEFull)}), "0000000000abcdef");
}

TEST(Format, UnicodeKindsOfStringArguments)
{
	CStr Utf8;
	int32 Pos = 0;
	Utf8.f_AppendText(Pos, gc_KindUnicode, "\xC3\xA0", 2);
	Utf8.f_SetLengthAndTrim(Pos);

	CStr::CFormat Format("\xE9 {}");
	Format << Utf8;
	CStr Result = Format.f_ToString();
	EXPECT_EQ(std::string(Result.f_GetStr()), "\xC3\xA9 \xC3\xA0");
	EXPECT_EQ(Result.f_GetKind(), gc_KindUnicode);
}

TEST(Format, FixedOutputsDropWhatDoesNotFit)
{
	std::string Long(300, 'x');
	CFStr256 Fixed = CFStr256::CFormat(Long.c_str());
	EXPECT_EQ(std::string(Fixed.f_GetStr()), Long.substr(0, 255));

	CFStr256 Args = CFStr256::CFormat("{}{}") << CStr(Long.c_str()) << int32(5);
	EXPECT_EQ(std::string(Args.f_GetStr()), Long.substr(0, 255));

	TCStrImp_Fixed<9> Nine = TCStrImp_Fixed<9>::CFormat("{nh,sf0,l8,m8}") << int32(-1);
	EXPECT_STREQ(Nine.f_GetStr(), "000000-1") << "a signed value keeps its sign in any base";
	TCStrImp_Fixed<9> Name = TCStrImp_Fixed<9>::CFormat("{nh,sf0,l8,m8}") << int32(0xBEEF);
	EXPECT_STREQ(Name.f_GetStr(), "0000beef");
	TCStrImp_Fixed<9> Marker = TCStrImp_Fixed<9>::CFormat("ab{5}cdefghij") << int32(1);
	EXPECT_STREQ(Marker.f_GetStr(), "ab###for") << "markers are cut like everything else";
	TCStrImp_Fixed<9> After = TCStrImp_Fixed<9>::CFormat("0123456789{}") << int32(1);
	EXPECT_STREQ(After.f_GetStr(), "01234567");
}

TEST(Format, ToStringTwiceGivesTheSameResult)
{
	CStr::CFormat Format("{} {} {*}");
	Format << int32(1) << int32(2) << int32(0);
	CStr First = Format.f_ToString();
	CStr Second = Format.f_ToString();
	EXPECT_STREQ(First.f_GetStr(), "1 2 1");
	EXPECT_TRUE(First == Second);
}

TEST(FormatArguments, TablesBeyondSixteenAndDoubling)
{
	// 40 arguments: the inline table, then a heap table that doubles (32, then 64).
	CStr::CFormat Format("{0}|{15}|{16}|{31}|{32}|{39}|{40}");
	for (int32 i = 0; i < 40; ++i)
		Format << i * 3;
	EXPECT_EQ(Format.f_GetArgumentCount(), 40);
	CStr Result = Format.f_ToString();
	EXPECT_EQ(std::string(Result.f_GetStr()), "0|45|48|93|96|117|" + gc_Range);

	std::string Text;
	std::string Expected;
	CStr::CFormat Many(nullptr);
	std::vector<CStr> Keep;
	for (int32 i = 0; i < 70; ++i)
		Keep.emplace_back(std::to_string(i).c_str());
	std::string ManyText;
	for (int32 i = 0; i < 70; ++i)
		ManyText += "{}";
	CStr::CFormat All(ManyText.c_str());
	for (int32 i = 0; i < 70; ++i)
	{
		All << Keep[umint(i)];
		Expected += std::to_string(i);
	}
	EXPECT_EQ(std::string(All.f_ToString().f_GetStr()), Expected);
}

TEST(FormatArguments, SixteenArgumentsInTheArenaAllocateOnlyTheResult)
{
	int64 LiveBefore = NMemory::CAllocator_Heap::fs_GetLiveBlockCount();
	uint64 CountBefore = NMemory::CAllocator_Heap::fs_GetAllocationCount();
	CStr Result;
	{
		CStr::CFormat Format("{}{}{}{}{}{}{}{}{}{}{}{}{}{}{}{}");
		for (int32 i = 0; i < 16; ++i)
			Format << i;
		EXPECT_EQ(NMemory::CAllocator_Heap::fs_GetAllocationCount(), CountBefore) << "adding arguments allocates nothing";
		Result = Format.f_ToString();
	}
	EXPECT_STREQ(Result.f_GetStr(), "0123456789101112131415");
	EXPECT_EQ(NMemory::CAllocator_Heap::fs_GetLiveBlockCount(), LiveBefore + 1) << "only the result remains";

	// A typical log line: a string, a text and numbers of both widths.
	CountBefore = NMemory::CAllocator_Heap::fs_GetAllocationCount();
	CStr Name("notepad.exe");
	uint64 AfterName = NMemory::CAllocator_Heap::fs_GetAllocationCount();
	{
		CStr::CFormat Format("{} {} {} {}");
		Format << Name << "high" << uint32(7) << uint64(9);
		EXPECT_EQ(NMemory::CAllocator_Heap::fs_GetAllocationCount(), AfterName);
	}
	EXPECT_EQ(AfterName, CountBefore + 1);
}

TEST(FormatArguments, ArenaOverflowAndTheSeventeenthArgument)
{
	CStr::CFormat Format("{16}");
	Format << int32(0);
	const int32 Words = (Format.f_GetArgument(0)->f_GetObjectSize() + 3) / 4;
	const int32 InArena = 64 / Words;
	for (int32 i = 1; i < 16; ++i)
		Format << i;
	uint64 Before = NMemory::CAllocator_Heap::fs_GetAllocationCount();
	Format << int32(16);
	uint64 Expected = 1 /* heap table */ + (InArena < 17 ? 1 : 0) /* wrapper outside the arena */;
	EXPECT_EQ(NMemory::CAllocator_Heap::fs_GetAllocationCount() - Before, Expected);
	EXPECT_STREQ(Format.f_ToString().f_GetStr(), "16");
}

TEST(FormatArguments, AWrapperThatCannotBeStoredFormatsOutOfRange)
{
	CStr::CFormat Format("{16}{}");
	const CStr S("s");
	for (int32 i = 0; i < 16; ++i)
		Format << S; // fills the arena on every platform
	{
		NZelTest::CHeapFailureScope NoHeap(0);
		Format << int32(16);
	}
	EXPECT_EQ(Format.f_GetArgumentCount(), 16) << "no table for the 17th: the argument is lost";
	EXPECT_EQ(std::string(Format.f_ToString().f_GetStr()), gc_Range + "s");

	CStr::CFormat Second("{}");
	for (int32 i = 0; i < 12; ++i)
		Second << uint64(i);
	{
		NZelTest::CHeapFailureScope NoHeap(0);
		Second << uint64(99);
	}
	EXPECT_EQ(Second.f_GetArgumentCount(), 13);
	EXPECT_EQ(Second.f_GetArgument(12), nullptr);
	CStr::CFormat Third("{12}");
	EXPECT_STREQ(Third.f_ToString().f_GetStr(), gc_Range.c_str());
}

TEST(FormatArguments, ResultThatCannotGrowIsCut)
{
	std::string Long(5000, 'y');
	CStr::CFormat Format("{}");
	Format << Long.c_str();
	{
		NZelTest::CHeapFailureScope Limit(-1, 1024);
		CStr Result = Format.f_ToString();
		EXPECT_GT(Result.f_GetLen(), 0);
		EXPECT_LT(Result.f_GetLen(), 1024);
		EXPECT_EQ(std::string(Result.f_GetStr()), Long.substr(0, umint(Result.f_GetLen())));
	}
	{
		NZelTest::CHeapFailureScope NoHeap(0);
		EXPECT_TRUE(Format.f_ToString().f_IsEmpty());
	}
	{
		// Once the result could not grow, nothing after the cut is added: no holes.
		CStr::CFormat Padded("ab{sl100000}x{}yz");
		Padded << "v" << "w";
		NZelTest::CHeapFailureScope Limit(-1, 4096);
		CStr Result = Padded.f_ToString();
		std::string Text(Result.f_GetStr());
		ASSERT_GE(Text.size(), 2u);
		EXPECT_LT(Text.size(), 4096u);
		EXPECT_EQ(Text.substr(0, 2), "ab");
		EXPECT_EQ(Text.find_first_not_of(' ', 2), std::string::npos) << "only the padding that fitted";
	}
}

TEST(FormatArguments, NumericReadings)
{
	struct
	{
		const char *pText;
		int32 Expected;
	} const IntCases[] = {
		{"42", 42}, {"  42", 42}, {"abc-12x", -12}, {"+7", 7}, {"0b101", 5}, {"0B11", 3}, {"0o17", 15},
		{"0xFf", 255}, {"0X1a", 26}, {"xyz", 0}, {"", 0}, {"-", 0}, {"--3", -3}, {"4294967297", 1},
	};
	for (auto const &Case : IntCases)
	{
		CStr::CFormat Format("");
		Format << Case.pText;
		EXPECT_EQ(Format.f_GetArgument(0)->f_GetInt(), Case.Expected) << Case.pText;
	}

	struct
	{
		const char *pText;
		double Expected;
	} const DoubleCases[] = {
		{"1.5e2", 150.0}, {"-0.25", -0.25}, {"x", 0.0}, {"3", 3.0}, {"2E-1", 0.2}, {".5", 0.5}, {"1e999", 1e300 * 1e300},
	};
	for (auto const &Case : DoubleCases)
	{
		const CStr Text(Case.pText);
		CStr::CFormat Format("");
		Format << Text;
		EXPECT_DOUBLE_EQ(Format.f_GetArgument(0)->f_GetDouble(), Case.Expected) << Case.pText;
		EXPECT_FLOAT_EQ(Format.f_GetArgument(0)->f_GetFloat(), float(Case.Expected)) << Case.pText;
	}

	CStr::CFormat Numbers("");
	Numbers << uint32(0x80000000u) << int64(0x100000005ll) << int32(-3);
	EXPECT_DOUBLE_EQ(Numbers.f_GetArgument(0)->f_GetDouble(), 2147483648.0);
	EXPECT_EQ(Numbers.f_GetArgument(1)->f_GetInt(), 5) << "the low 32 bits";
	EXPECT_DOUBLE_EQ(Numbers.f_GetArgument(2)->f_GetDouble(), -3.0);
	EXPECT_EQ(Numbers.f_GetArgument(2)->f_Query(), 0);
}

namespace
{
	// One set of integer options that has a printf equivalent: the engine's option text and the
	// printf conversion (flags and width, without the length modifier and the conversion
	// letter) for width w and fill character f; the expected text is printf's, with its leading
	// spaces turned into the fill character when bFill is set, and cut to its rightmost w
	// characters when bCut is set (the engine's exact width keeps the rightmost characters).
	struct CPrintfRow
	{
		const char *pOptions; // %w stands for the width, %f for the fill character
		const char *pPrintf;  // %w stands for the width
		char Conversion;      // d, x, X or o
		bool bNonNegativeOnly; // printf shows negatives as two's complement digits, or puts zeros after the sign
		bool bNonZeroOnly;     // the engine writes 0 without a sign
		bool bSignedOnly;      // printf writes no sign for an unsigned conversion
		bool bFill;
		bool bCut;
	};

	std::string fg_Expand(const char *pPattern, int Width, char Fill)
	{
		std::string Text;
		for (const char *p = pPattern; *p; ++p)
		{
			if (p[0] == '%' && p[1] == 'w')
				Text += std::to_string(Width), ++p;
			else if (p[0] == '%' && p[1] == 'f')
				Text += Fill, ++p;
			else
				Text += *p;
		}
		return Text;
	}

	template <typename t_CValue>
	std::string fg_Printf(const CPrintfRow &Row, int Width, char Fill, t_CValue Value)
	{
		std::string Spec = "%" + fg_Expand(Row.pPrintf, Width, Fill);
		char Conversion = Row.Conversion;
		if (Conversion == 'd' && std::is_unsigned_v<t_CValue>)
			Conversion = 'u';
		char Buffer[128];
		int n;
		if constexpr (sizeof(t_CValue) == 8)
			n = std::snprintf(Buffer, sizeof(Buffer), (Spec + "ll" + Conversion).c_str(), Value);
		else
			n = std::snprintf(Buffer, sizeof(Buffer), (Spec + Conversion).c_str(), Value);
		std::string Text(Buffer, size_t(n));
		if (Row.bFill)
		{
			for (char &c : Text)
			{
				if (c != ' ')
					break;
				c = Fill;
			}
		}
		if (Row.bCut && Text.size() > size_t(Width))
			Text = Text.substr(Text.size() - size_t(Width));
		return Text;
	}

	const CPrintfRow gc_PrintfRows[] = {
		{"", "", 'd', false, false, false, false, false},
		{"sl%w", "%w", 'd', false, false, false, false, false},
		{"l%w", "%w", 'd', false, false, false, false, false},
		{"sl%w,sf%f", "%w", 'd', false, false, false, true, false},
		{"sf0,sl%w", "0%w", 'd', true, false, false, false, false},
		{"sj%w,sf0", "0%w", 'd', true, false, false, false, true},
		{"sm%w", "", 'd', false, false, false, false, true},
		{"a-0,sl%w", "-%w", 'd', false, false, false, false, false},
		{"n+,sl%w", "+%w", 'd', false, true, true, false, false},
		{"nh", "", 'x', true, false, false, false, false},
		{"nfh,sl%w", "%w", 'x', true, false, false, false, false},
		{"nh,nc,sl%w,sf0", "0%w", 'X', true, false, false, false, false},
		{"nfh,sj%w,sf0", "0%w", 'x', true, false, false, false, true},
		{"nfH,sl%w,sf%f", "%w", 'x', true, false, false, true, false},
		{"no,sl%w", "%w", 'o', true, false, false, false, false},
		{"nf8,sf0,sl%w", "0%w", 'o', true, false, false, false, false},
	};

	template <typename t_CValue>
	t_CValue fg_RandomValue(std::mt19937_64 &Random)
	{
		uint64 Bits = Random();
		switch (Bits % 4)
		{
		case 0:
			return t_CValue(int64(Random() % 2001) - 1000); // small, of both signs
		case 1:
		{
			t_CValue const Edges[] = {0, 1, t_CValue(-1), std::numeric_limits<t_CValue>::min(), std::numeric_limits<t_CValue>::max(), t_CValue(std::numeric_limits<t_CValue>::max() - 1)};
			return Edges[Random() % (sizeof(Edges) / sizeof(Edges[0]))];
		}
		default:
			return t_CValue(Random() >> (Random() % 64)); // every magnitude
		}
	}

	// The value through every output the engine has, with the options of one row.
	template <typename t_CValue>
	void fg_CheckAgainstPrintf(std::mt19937_64 &Random, int nCases)
	{
		const char gc_Fills[] = "*.#xZ-_~7";
		for (int i = 0; i < nCases; ++i)
		{
			const CPrintfRow &Row = gc_PrintfRows[Random() % (sizeof(gc_PrintfRows) / sizeof(gc_PrintfRows[0]))];
			t_CValue Value = fg_RandomValue<t_CValue>(Random);
			if ((Row.bNonNegativeOnly && Value < 0) || (Row.bNonZeroOnly && Value == 0) || (Row.bSignedOnly && std::is_unsigned_v<t_CValue>))
				continue;
			int Width = int(Random() % 25);
			char Fill = gc_Fills[Random() % (sizeof(gc_Fills) - 1)];
			std::string Format = "[{" + fg_Expand(Row.pOptions, Width, Fill) + "}]";
			std::string Expected = "[" + fg_Printf(Row, Width, Fill, Value) + "]";

			CStr Result = CStr::CFormat(Format.c_str()) << Value;
			EXPECT_EQ(std::string(Result.f_GetStr()), Expected) << "format " << Format << ", value " << std::to_string(Value);
			CFStr256 Fixed = CFStr256::CFormat(Format.c_str()) << Value;
			EXPECT_EQ(std::string(Fixed.f_GetStr()), Expected) << "format " << Format << " into CFStr256";
			TCStrImp_Fixed<9> Short = TCStrImp_Fixed<9>::CFormat(Format.c_str()) << Value;
			EXPECT_EQ(std::string(Short.f_GetStr()), Expected.substr(0, 8)) << "format " << Format << " into 8 characters";
		}
	}
}

TEST(FormatAgainstPrintf, RandomIntegersWidthsAndFills)
{
	std::mt19937_64 Random(0x5EED2026); // fixed: a failure reproduces
	fg_CheckAgainstPrintf<int32>(Random, 3000);
	fg_CheckAgainstPrintf<uint32>(Random, 3000);
	fg_CheckAgainstPrintf<int64>(Random, 3000);
	fg_CheckAgainstPrintf<uint64>(Random, 3000);
}

TEST(FormatAgainstPrintf, TheProgramsHexadecimalAndTimeStampFields)
{
	std::mt19937_64 Random(0x0DA7E);
	for (int i = 0; i < 2000; ++i)
	{
		uint32 Value = uint32(Random());
		char Buffer[64];
		std::snprintf(Buffer, sizeof(Buffer), "0x%08x", unsigned(Value));
		EXPECT_EQ(std::string((CStr::CFormat("0x{nfh,sj8,sf0}") << Value).f_ToString().f_GetStr()), Buffer);
		EXPECT_EQ(std::string((CFStr256::CFormat("0x{nfh,sj8,sf0}") << Value).f_ToString().f_GetStr()), Buffer);

		int32 const Fields[] = {int32(Random() % 10000), int32(Random() % 13), int32(Random() % 32), int32(Random() % 24), int32(Random() % 60), int32(Random() % 60), int32(Random() % 1000)};
		std::snprintf(Buffer, sizeof(Buffer), "/%d-%02d-%02d_%02d.%02d.%02d.%03d.log", Fields[0], Fields[1], Fields[2], Fields[3], Fields[4], Fields[5], Fields[6]);
		CStr Name = CStr::CFormat("/{}-{sj2,sf0}-{sj2,sf0}_{sj2,sf0}.{sj2,sf0}.{sj2,sf0}.{sj3,sf0}.log")
			<< Fields[0] << Fields[1] << Fields[2] << Fields[3] << Fields[4] << Fields[5] << Fields[6];
		EXPECT_EQ(std::string(Name.f_GetStr()), Buffer);
	}
}

TEST(FormatOutputs, TextAcrossTheRoomOfEveryOutput)
{
	// Literal text, padding and string arguments that end before, at and after the room each
	// output builds in (a CStr result moves out of its 256-byte stack buffer, the fixed strings
	// hold 255 and 8 characters): every output gives the same text, cut where it must be.
	for (int32 Literal : {0, 1, 5, 8, 100, 200, 240, 250, 251, 252, 253, 254, 255, 256, 300})
	{
		for (int32 ArgLen : {0, 1, 3, 9, 40})
		{
			for (int32 Width : {0, 2, 20})
			{
				std::string const Prefix(umint(Literal), 'a');
				std::string const Arg(umint(ArgLen), 'b');
				std::string const Format = Prefix + "{sl" + std::to_string(Width) + "}xyz{}{1,qq}!";
				std::string Expected = Prefix;
				if (ArgLen < Width)
					Expected += std::string(umint(Width - ArgLen), ' ');
				Expected += Arg + "xyz7" + fg_Unknown("QQ") + "7!";
				std::string const Where = "literal " + std::to_string(Literal) + ", argument " + std::to_string(ArgLen) + ", width " + std::to_string(Width);

				CStr Result = CStr::CFormat(Format.c_str()) << Arg.c_str() << int32(7);
				EXPECT_EQ(std::string(Result.f_GetStr()), Expected) << Where;
				EXPECT_EQ(Result.f_GetLen(), int32(Expected.size())) << Where;
				CFStr256 Fixed = CFStr256::CFormat(Format.c_str()) << CFStr256(Arg.c_str()) << uint32(7);
				EXPECT_EQ(std::string(Fixed.f_GetStr()), Expected.substr(0, 255)) << Where;
				TCStrImp_Fixed<9> Short = TCStrImp_Fixed<9>::CFormat(Format.c_str()) << int32(7);
				std::string ShortExpected = Prefix + (Width > 1 ? std::string(umint(Width - 1), ' ') : "") + "7xyz" + gc_Range + gc_Range + "!";
				EXPECT_EQ(std::string(Short.f_GetStr()), ShortExpected.substr(0, 8)) << Where;
			}
		}
	}
}

TEST(FormatOutputs, TextOfAnotherKindAfterBufferedText)
{
	// Kind 1 text built in the stack buffer, then a UTF-8 argument: the result converts what
	// came before, whether or not the buffer was full by then.
	CStr Utf8;
	int32 Pos = 0;
	Utf8.f_AppendText(Pos, gc_KindUnicode, "\xC3\xA0", 2);
	Utf8.f_SetLengthAndTrim(Pos);
	for (int32 Literal : {1, 100, 254, 255, 256, 400})
	{
		std::string const Prefix(umint(Literal - 1), 'a');
		CStr Result = CStr::CFormat((Prefix + "\xE9{}{}").c_str()) << Utf8 << int32(5);
		EXPECT_EQ(std::string(Result.f_GetStr()), Prefix + "\xC3\xA9\xC3\xA0" "5") << Literal;
		EXPECT_EQ(Result.f_GetKind(), gc_KindUnicode);
	}
}

TEST(FormatOptionsReuse, AFormatTextChangedInPlaceIsReadAgain)
{
	// Buffers of this test alone, rewritten between conversions: the first list converted in
	// each is kept for that place, and is reused only while the text there and the type of the
	// argument are the same. Every row is converted twice.
	static char s_Buffers[3][64];
	struct CRow
	{
		int Buffer;
		const char *pFormat;
		std::vector<CArg> Args;
		std::string Expected;
	};
	CRow const Rows[] = {
		{0, "{sj4,nb}", {int32(5)}, " 101"},
		{0, "{sj4,nb}", {"AB"}, fg_Unknown("NB") + "  AB"},
		{0, "{sj4,nb,sf0}", {int32(5)}, "0101"},
		{0, "{sj4,nc}", {int32(5)}, "   5"},
		{0, "{sj4}", {int32(5)}, "   5"},
		{0, "{sj4,nb}", {int32(6)}, " 110"},
		{1, "{sj4,sf0,nh,nc1}", {int32(255)}, "00FF"},
		{1, "{sj4,sf0,nh,nc0}", {int32(255)}, "00ff"},
		{1, "{sj4,sf1,nh,nc1}", {int32(255)}, "11FF"},
		{1, "{sj4,sf0,nh,nc1,sf }", {int32(255)}, "  FF"},
		{1, "{sj4,sf0,nh,nc1}", {int32(254)}, "00FE"},
		{2, "{sj*,sf0}", {int32(7), int32(3)}, "007"},
		{2, "{sj*,sf0}", {int32(7), int32(5)}, "00007"},
		{2, "{sj3,qq}", {int32(7)}, fg_Unknown("QQ") + "  7"},
		{2, "{sj3,cu}", {"ab"}, " AB"},
		{2, "{sj3,cu}", {int32(5)}, fg_Unknown("CU") + "  5"},
	};
	for (CRow const &Row : Rows)
	{
		char *pBuffer = s_Buffers[Row.Buffer];
		std::strcpy(pBuffer, Row.pFormat);
		for (int Round = 0; Round < 2; ++Round)
			EXPECT_EQ(fg_Format(pBuffer, Row.Args), Row.Expected) << Row.pFormat << ", round " << Round;
	}
}

TEST(FormatOptionsReuse, ListsAtTheEndOfAReadablePage)
{
	// Option lists compared as words near the end of a page followed by one that cannot be
	// read: the format text ends at every distance from the last readable byte.
	umint const PageSize = NZel::NSys::gf_Mem_GetInfo().m_PageSize;
	umint const Size = NZel::NSys::gf_Mem_RoundUp(2 * PageSize, NZel::NSys::gf_Mem_GetInfo().m_Granularity);
	char *pBase = static_cast<char *>(NZel::NSys::AllocVirtualMemory(Size, 0, NZel::NSys::EMemAllocation::Reserve));
	NZel::NSys::gf_Mem_VirtualCommit(pBase, PageSize);
	char *pPageEnd = pBase + PageSize;
	// The second list of the first format begins as the first, the one just parsed, and ends
	// before it: comparing their last words would read past the page.
	for (const char *pFormat : {"{sj4,sf0,nh,nc1}{sj4,sf0,}", "{sj2,sf0}{}", "{sj4}", "{}"})
	{
		umint const Len = std::strlen(pFormat);
		for (umint Gap = 0; Gap < 24; ++Gap)
		{
			char *pText = pPageEnd - Gap - Len - 1;
			std::memcpy(pText, pFormat, Len + 1);
			std::string const Expected = fg_Format(std::string(pFormat).c_str(), {int32(171), int32(171)});
			for (int Round = 0; Round < 2; ++Round)
				EXPECT_EQ(fg_Format(pText, {int32(171), int32(171)}), Expected) << pFormat << ", " << Gap << " bytes before the end";
		}
	}
	NZel::NSys::gf_Mem_VirtualFree(pBase, Size, 0);
}

TEST(FormatOptionsReuse, ThreadsConvertingTheSameFormats)
{
	// Threads that meet the same lists at once, while they are kept: every result is right.
	std::atomic<int> Wrong{0};
	std::vector<std::thread> Threads;
	for (int t = 0; t < 4; ++t)
	{
		Threads.emplace_back([&, t] {
			for (int32 i = 0; i < 2000; ++i)
			{
				int32 Value = i * 4 + t;
				char Expected[64];
				std::snprintf(Expected, sizeof(Expected), "%05d|%x|%-4d|   ab", Value, unsigned(Value), Value % 100);
				CStr Result = CStr::CFormat("{sj5,sf0}|{nh}|{a-0,sl4}|{sj5}") << Value << Value << (Value % 100) << "ab";
				if (std::strcmp(Result.f_GetStr(), Expected) != 0)
					++Wrong;
			}
		});
	}
	for (auto &Thread : Threads)
		Thread.join();
	EXPECT_EQ(Wrong.load(), 0);
}
