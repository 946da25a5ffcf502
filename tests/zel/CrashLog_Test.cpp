// The processor-independent texts of a crash report and the watchdog's arithmetic and dialog
// template.
#include "zel/library/core/general/Zel_CrashLog.h"
#include "zel/library/core/general/Zel_WatchdogParts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace NZel;
using namespace NZel::NCrash;
using NStr::CStr;
using NTime::CClockTime;

namespace
{
	std::string const gc_Zeros(gc_AddressDigits, '0');

	// The address as this build prints it: zero-filled to the width of a pointer.
	std::string fg_Address(const std::string &Digits)
	{
		return std::string(gc_AddressDigits - Digits.size(), '0') + Digits;
	}

	struct CMemory
	{
		umint m_Base;
		std::vector<uint8> m_Bytes;
		umint m_Unreadable = ~umint(0); // reads touching this address or above fail
	};

	bool fg_Read(umint Address, void *pDestination, uint32 Count, void *pContext)
	{
		const CMemory &Memory = *static_cast<const CMemory *>(pContext);
		if (Address + Count > Memory.m_Unreadable)
			return false;
		std::memcpy(pDestination, Memory.m_Bytes.data() + (Address - Memory.m_Base), Count);
		return true;
	}
}

TEST(CrashLog, ExceptionTypeTexts)
{
	umint const Write[2] = {1, 0};
	umint const Read[2] = {0, 0x1234};
	struct CRow
	{
		uint32 m_Code;
		uint32 m_nParameters;
		const umint *m_pParameters;
		std::string m_Text;
	};
	std::vector<CRow> const Rows = {
		{0xC0000005, 2, Write, "Access violation trying to write to address: 0x" + gc_Zeros},
		{0xC0000005, 2, Read, "Access violation trying to read to address: 0x" + fg_Address("1234")},
		{0xC0000005, 0, nullptr, "Access violation trying to read to address: 0x" + gc_Zeros},
		{0x80000002, 0, nullptr, "Datatype misalignment"},
		{0x80000003, 0, nullptr, "Breakpoint"},
		{0xC0000096, 0, nullptr, "Priviledged instruction"},
		{0xC0000094, 0, nullptr, "Integer divide by zero"},
		{0xC00000FD, 0, nullptr, "Stack overflow"},
		{0xC0000093, 0, nullptr, "Float underflow"},
		{0xE0481234, 0, nullptr, "Unknown"},
		{0, 0, nullptr, "Unknown"},
	};
	for (const CRow &Row : Rows)
		EXPECT_EQ(gf_GetExceptionTypeText(Row.m_Code, Row.m_nParameters, Row.m_pParameters).f_GetStr(), Row.m_Text) << std::hex << Row.m_Code;
}

TEST(CrashLog, FileNamesFromTheLocalTime)
{
	NTime::CCalendarTime Local;
	Local.m_Year = 2009;
	Local.m_Month = 3;
	Local.m_Day = 5;
	Local.m_Hour = 14;
	Local.m_Minute = 3;
	Local.m_Second = 7;
	Local.m_Fraction = NTime::gc_FractionPerSecond / 1000 * 42 + 1000;
	CCrashFileNames Names;
	gf_MakeCrashFileNames(Names, "C:/Program Files/Hushvane", Local);
	EXPECT_STREQ(Names.m_CrashLog.f_GetStr(), "C:/Program Files/Hushvane/CrashLog_2009-03-05_14.03.07.042.txt");
	EXPECT_STREQ(Names.m_FullDump.f_GetStr(), "C:/Program Files/Hushvane/FullDump_2009-03-05_14.03.07.042.dmp");
	EXPECT_STREQ(Names.m_MiniDump.f_GetStr(), "C:/Program Files/Hushvane/MiniDump_2009-03-05_14.03.07.042.dmp");
}

TEST(CrashLog, AddressAndFrameLines)
{
	CSymbolInfo const Symbol{"hv_Crash", "hvcrash", "C:/src/crash.cpp", 42};
	CStr Text;
	gf_AppendExceptionAddress(Text, 0x1234, &Symbol);
	gf_AppendExceptionAddress(Text, 0x1234, nullptr);
	gf_AppendStackFrame(Text, 0xab, 0x50, &Symbol);
	gf_AppendStackFrame(Text, 0xab, 0x50, nullptr);
	std::string const A = "0x" + fg_Address("1234");
	std::string const F = "0x" + fg_Address("ab");
	std::string const S = "StackFrame: 0x" + fg_Address("50") + "\n";
	EXPECT_EQ(std::string(Text.f_GetStr()), "Exception address: " + A + " (hvcrash!hv_Crash)\n\n" + "Exception address: " + A + "\n\n" + F +
												" hvcrash!hv_Crash\nC:/src/crash.cpp:42\n" + S + F + "\n" + S);
}

TEST(CrashLog, RawStackLinesInMemoryOrder)
{
	CMemory Memory{0x1000, {}};
	for (int i = 0; i < 64; ++i)
		Memory.m_Bytes.push_back(uint8(i));
	std::string const Full = "0001020304050607 08090a0b0c0d0e0f 1011121314151617 18191a1b1c1d1e1f \n";

	struct CRow
	{
		umint m_Length;
		std::string m_SecondLine; // after the first full line; empty: none
	};
	std::vector<CRow> const Rows = {
		{32, ""},
		{64, "2021222324252627 28292a2b2c2d2e2f 3031323334353637 38393a3b3c3d3e3f \n"},
		{32 + 8, "2021222324252627 \n"},
		{32 + 15, "2021222324252627 28292a2b2c2d2e\n"}, // 8, then 4 + 2 + 1
		{32 + 13, "2021222324252627 28292a2b2c\n"},     // 8, then 4 + 1
		{32 + 6, "202122232425\n"},                     // 4 + 2
		{32 + 1, "20\n"},
	};
	for (const CRow &Row : Rows)
	{
		CStr Text;
		gf_AppendRawStack(Text, 0x1000, 0x1000 + Row.m_Length, &fg_Read, &Memory);
		std::string Expected = "0x" + fg_Address("1000") + ": " + Full;
		if (!Row.m_SecondLine.empty())
			Expected += "0x" + fg_Address("1020") + ": " + Row.m_SecondLine;
		EXPECT_EQ(std::string(Text.f_GetStr()), Expected) << Row.m_Length;
	}

	// A line that cannot be read ends the dump; what came before stays.
	Memory.m_Unreadable = 0x1030;
	CStr Cut;
	gf_AppendRawStack(Cut, 0x1000, 0x1040, &fg_Read, &Memory);
	EXPECT_EQ(std::string(Cut.f_GetStr()), "0x" + fg_Address("1000") + ": " + Full);
}

TEST(CrashLog, BoxTextNamesTheFiles)
{
	CCrashFileNames Names;
	Names.m_CrashLog = "D:/App/CrashLog_x.txt";
	Names.m_MiniDump = "D:/App/MiniDump_x.dmp";
	Names.m_FullDump = "D:/App/FullDump_x.dmp";
	CCrashSettings Settings;
	std::string const Body = " has encountered an unhandled exception. Please send the following crash log files to ";
	std::string const Files = "\nAlong with a description of what you were doing when the program crashed.\n\nD:/App/CrashLog_x.txt\n"
							  "D:/App/MiniDump_x.dmp\n\nAlso please save the following crash log file for future reference:\n\n"
							  "D:/App/FullDump_x.dmp";
	auto fBoxText = [&](bool bAskContinue) {
		CStr Text;
		gf_AppendCrashBoxText(Text, Settings, Names, bAskContinue);
		return std::string(Text.f_GetStr());
	};
	EXPECT_EQ(fBoxText(false), "The program" + Body + CCrashSettings::mc_pDefaultSupportAddress + Files);
	Settings.fp_CrashProgramName = "Hushvane";
	Settings.fp_CrashSupportAddress = "a@b.example";
	EXPECT_EQ(fBoxText(true), "Hushvane" + Body + "a@b.example" + Files + "\n\nDo you want to continue execution?");
}

TEST(WatchdogParts, StallDiscountsTheWatchsOwnGaps)
{
	auto fAt = [](double Seconds) { return CClockTime::fs_FromSeconds(Seconds); };
	struct CRow
	{
		double m_Now, m_LastCheck, m_LastAlive, m_Paused;
		bool m_bHeldUp;
		double m_Stall;
	};
	// Time-out 2 s, so a gap above 1 s is the watch's own.
	std::vector<CRow> const Rows = {
		{10.5, 10.0, 10.0, 0.0, false, 0.0},  // a regular look, just after a heartbeat
		{14.0, 13.5, 10.0, 0.0, false, 3.5},  // a real stall: 4 s without a heartbeat, less the last look
		{14.0, 10.5, 10.0, 0.0, true, 0.5},   // a suspended machine: the 3.5 s gap is not counted
		{15.0, 14.5, 10.0, 3.5, false, 1.0},  // later looks keep discounting the paused time
		{10.9, 10.0, 10.0, 0.0, false, 0.0},  // 0.9 s gap: below half the time-out, regular
	};
	for (const CRow &Row : Rows)
	{
		NWatchdog::CWatchLook const Look = NWatchdog::gf_WatchLook(fAt(Row.m_Now), fAt(Row.m_LastCheck), fAt(Row.m_LastAlive), fAt(Row.m_Paused), 2.0);
		EXPECT_EQ(Look.m_bHeldUp, Row.m_bHeldUp) << Row.m_Now << " " << Row.m_LastCheck;
		EXPECT_NEAR(Look.m_StallSeconds, Row.m_Stall, 1e-6) << Row.m_Now << " " << Row.m_LastCheck;
	}
}

TEST(WatchdogParts, DialogTemplateLayout)
{
	std::vector<uint8> Buffer(NWatchdog::gc_DialogTemplateBytes, 0);
	std::u16string const Caption = u"Hushvane is not responding";
	umint const Used = NWatchdog::gf_BuildNotRespondingTemplate(Buffer.data(), Buffer.size(), reinterpret_cast<const uint16 *>(Caption.data()),
		int32(Caption.size()), "Msg");
	auto fWord = [&](umint Offset) { return uint32(Buffer[Offset] | Buffer[Offset + 1] << 8); };
	auto fDword = [&](umint Offset) { return fWord(Offset) | fWord(Offset + 2) << 16; };

	EXPECT_EQ(fDword(0), 0x80C80080u);
	EXPECT_EQ(fWord(8), 3u); // items
	EXPECT_EQ(fWord(10), 10u);
	EXPECT_EQ(fWord(12), 10u);
	EXPECT_EQ(fWord(14), 200u);
	EXPECT_EQ(fWord(16), 75u);
	EXPECT_EQ(fWord(18), 0u); // no menu
	EXPECT_EQ(fWord(20), 0u); // default class
	umint Pos = 22;
	for (char16_t c : Caption)
	{
		EXPECT_EQ(fWord(Pos), uint32(c));
		Pos += 2;
	}
	EXPECT_EQ(fWord(Pos), 0u);
	Pos += 2;

	struct CItem
	{
		uint32 m_Style;
		uint32 m_x, m_y, m_cx, m_cy, m_Id, m_Class;
		const char *m_pText;
	};
	CItem const Items[] = {
		{0x50000001, 65, 55, 35, 12, 201, 0x80, "Yes"},
		{0x50000000, 105, 55, 35, 12, 202, 0x80, "No"},
		{0x50000000, 7, 7, 180, 45, 200, 0x82, "Msg"},
	};
	for (const CItem &Item : Items)
	{
		Pos = (Pos + 3) & ~umint(3); // each item on a 4-byte boundary
		EXPECT_EQ(fDword(Pos), Item.m_Style) << Item.m_pText;
		EXPECT_EQ(fDword(Pos + 4), 0u);
		EXPECT_EQ(fWord(Pos + 8), Item.m_x);
		EXPECT_EQ(fWord(Pos + 10), Item.m_y);
		EXPECT_EQ(fWord(Pos + 12), Item.m_cx);
		EXPECT_EQ(fWord(Pos + 14), Item.m_cy);
		EXPECT_EQ(fWord(Pos + 16), Item.m_Id);
		EXPECT_EQ(fWord(Pos + 18), 0xFFFFu);
		EXPECT_EQ(fWord(Pos + 20), Item.m_Class);
		Pos += 22;
		for (const char *p = Item.m_pText; *p; ++p, Pos += 2)
			EXPECT_EQ(fWord(Pos), uint32(uint8(*p)));
		EXPECT_EQ(fWord(Pos), 0u);
		EXPECT_EQ(fWord(Pos + 2), 0u); // no creation data
		Pos += 4;
	}
	EXPECT_EQ(Used, Pos);

	// A caption longer than 50 characters is cut; a buffer too small is refused.
	std::u16string const Long(80, u'x');
	std::vector<uint8> Other(NWatchdog::gc_DialogTemplateBytes, 0);
	umint const LongUsed = NWatchdog::gf_BuildNotRespondingTemplate(Other.data(), Other.size(), reinterpret_cast<const uint16 *>(Long.data()), 80, "Msg");
	EXPECT_EQ(LongUsed, Used + (50 - Caption.size()) * 2);
	EXPECT_EQ(NWatchdog::gf_BuildNotRespondingTemplate(Other.data(), 40, reinterpret_cast<const uint16 *>(Long.data()), 80, "Msg"), 0u);
}
