#include "zel/library/core/general/Zel_Format.h"
#include "tests/zel/StrTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
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
