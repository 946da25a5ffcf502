// The crash report's own text: growth page by page inside its reservation, the cut at its end,
// and the crash texts built into it exactly as into a string.
#include "zel/library/core/general/Zel_CrashLog.h"
#include "zel/library/core/general/Zel_CrashText.h"
#include "zel/library/core/runtime/Zel_Sys_Memory.h"
#include "zel/library/core/runtime/Zel_Sys_Time.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace NZel;
using namespace NZel::NCrash;
using NStr::CStr;

namespace
{
	bool fg_ReadBytes(umint Address, void *pDestination, uint32 Count, void *)
	{
		std::memcpy(pDestination, reinterpret_cast<const void *>(Address), Count);
		return true;
	}
}

TEST(CrashText, GrowsAcrossCommitRunsAndKeepsEveryByte)
{
	// Pieces around the 64 KiB a commit adds, so that pieces end just before, on and after it.
	struct CRow
	{
		std::vector<umint> m_Pieces;
	};
	std::vector<CRow> const Rows = {
		{{1, 2, 3}},
		{{65535, 1, 1}},
		{{65534, 2}},
		{{70000, 70000, 70000}},
		{{300000}},
		{{0, 5, 0}},
	};
	for (const CRow &Row : Rows)
	{
		CCrashText Text(1 << 20);
		std::string Expected;
		char Next = 'a';
		for (umint Piece : Row.m_Pieces)
		{
			std::string const Part(Piece, Next);
			Next = Next == 'z' ? 'a' : char(Next + 1);
			Text.f_Append(Part.data(), int32(Part.size()));
			Expected += Part;
		}
		ASSERT_EQ(Text.f_GetLen(), Expected.size());
		EXPECT_TRUE(std::string(Text.f_GetStr()) == Expected) << Row.m_Pieces.size() << " pieces, " << Expected.size() << " bytes";
		EXPECT_FALSE(Text.f_IsCut());
	}
}

TEST(CrashText, CutAtTheEndOfItsReservation)
{
	CCrashText Text(100);
	umint const Capacity = Text.f_GetCapacity();
	ASSERT_GE(Capacity, 100u);

	std::string const Block(Capacity - 10, 'x');
	Text.f_Append(Block.data(), int32(Block.size()));
	EXPECT_FALSE(Text.f_IsCut());
	Text.f_Append("0123456789ABCDEF");
	EXPECT_TRUE(Text.f_IsCut());
	ASSERT_EQ(Text.f_GetLen(), Capacity);
	EXPECT_EQ(std::string(Text.f_GetStr()), Block + "0123456789");
	Text.f_Append("more");
	EXPECT_EQ(Text.f_GetLen(), Capacity);

	// Empty again, whole again.
	Text.f_Clear();
	EXPECT_FALSE(Text.f_IsCut());
	EXPECT_STREQ(Text.f_GetStr(), "");
	Text.f_Append("after");
	EXPECT_STREQ(Text.f_GetStr(), "after");
}

TEST(CrashText, CrashTextsAreTheSameAsInAString)
{
	// Names far longer than a formatted piece: they go in whole.
	std::string const LongName(5000, 'n');
	std::string const LongFile = "C:/src/" + std::string(600, 'f') + ".cpp";
	CSymbolInfo const Short{"hv_Crash", "hvcrash", "C:/src/crash.cpp", 42};
	CSymbolInfo const Long{LongName.c_str(), "hvcrash", LongFile.c_str(), 4294967295u};
	std::vector<uint8> Stack(100);
	for (umint i = 0; i < Stack.size(); ++i)
		Stack[i] = uint8(i * 7);
	CCrashFileNames Names;
	NTime::CCalendarTime Local;
	Local.m_Year = 2026;
	gf_MakeCrashFileNames(Names, "D:/App", Local);
	CCrashSettings Settings;

	auto fBuild = [&](auto &Text) {
		gf_AppendExceptionAddress(Text, 0x1234, &Short);
		gf_AppendExceptionAddress(Text, 0x1234, &Long);
		gf_AppendExceptionAddress(Text, 0, nullptr);
		gf_AppendStackFrame(Text, ~umint(0), 0x50, &Long);
		gf_AppendStackFrame(Text, 0xab, ~umint(0), nullptr);
		gf_AppendRawStack(Text, umint(Stack.data()), umint(Stack.data() + Stack.size()), &fg_ReadBytes, nullptr);
		gf_AppendCrashBoxText(Text, Settings, Names, true);
	};
	CStr String;
	fBuild(String);
	CCrashText Text(1 << 20);
	fBuild(Text);
	EXPECT_EQ(std::string(Text.f_GetStr()), std::string(String.f_GetStr()));
	EXPECT_NE(std::string(Text.f_GetStr()).find("hvcrash!" + LongName + "\n" + LongFile + ":4294967295\n"), std::string::npos);
	EXPECT_NE(std::string(Text.f_GetStr()).find("D:/App/CrashLog_2026-01-01_00.00.00.000.txt"), std::string::npos);
}

TEST(CrashText, LocalTimeFromTheSystemHasItsFieldsInRange)
{
	NTime::CCalendarTime const Local = NSys::gf_Time_GetLocalCalendar();
	EXPECT_GE(Local.m_Year, 2020);
	EXPECT_TRUE(Local.m_Month >= 1 && Local.m_Month <= 12) << Local.m_Month;
	EXPECT_TRUE(Local.m_Day >= 1 && Local.m_Day <= 31) << Local.m_Day;
	EXPECT_LT(Local.m_Hour, 24u);
	EXPECT_LT(Local.m_Minute, 60u);
	EXPECT_LT(Local.m_Second, 60u);
	EXPECT_LT(Local.f_GetMilliseconds(), 1000u);
	// The same instant as the clock's own sources give, within a generous second or two.
	NTime::CClockTime Parsed;
	ASSERT_TRUE(NTime::CClockTime::fs_FromCalendar(Local, Parsed));
	NTime::CClockTime const Utc = NTime::CClockTime::fs_FromFileTime(NSys::gf_Time_GetSystemFileTime());
	double const Offset = (Parsed - Utc).f_GetSecondsDouble() - double(NSys::gf_Time_GetLocalOffset());
	EXPECT_LT(Offset < 0 ? -Offset : Offset, 2.0);
}
