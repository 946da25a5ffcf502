#include "app/Hushvane_ConfigCheck.h"
#include "app/Hushvane_ConfigReport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using NHushvane::CConfigCheck;
using NHushvane::EConfigWarning;

namespace
{
	CConfigCheck fg_Check(const std::string &Text)
	{
		return NHushvane::gf_CheckConfig(reinterpret_cast<const NZel::uint8 *>(Text.data()), Text.size());
	}

	struct CFound
	{
		EConfigWarning m_Kind;
		NZel::uint32 m_Line;
		bool operator==(const CFound &Other) const { return m_Kind == Other.m_Kind && m_Line == Other.m_Line; }
	};

	std::ostream &operator<<(std::ostream &Stream, const CFound &Found)
	{
		return Stream << "{kind " << int(Found.m_Kind) << ", line " << Found.m_Line << "}";
	}

	struct CWarningCase
	{
		const char *m_pWhat;
		std::string m_Text;
		std::vector<CFound> m_Expected; // in report order
	};

	using E = EConfigWarning;
}

TEST(ConfigCheck, EachMistakeGivesItsWarningOnItsLine)
{
	const CWarningCase Cases[] = {
		{"clean file", "# name priority\r\ngame.exe high\r\nbackup.exe IDLE\r\n", {}},
		{"empty file", "", {}},
		{"name without extension", "game.exe high\nnotepad high\n", {{E::NoExtension, 2}}},
		{"name ending in a dot", "x. idle\n", {{E::NoExtension, 1}}},
		{"unknown priority word", "game.exe hihg\n", {{E::UnknownWord, 1}}},
		{"missing word shifts every later pair", "a.exe\nb.exe high\nc.exe idle\n",
			{{E::WordIsName, 2}, {E::NameIsPriority, 2}, {E::WordIsName, 3}, {E::NameIsPriority, 3}, {E::MissingWord, 3}}},
		{"word ending in .EXE in capitals", "a.exe B.EXE\n", {{E::WordIsName, 1}}},
		{"hash after a name is a word, its text the next name", "game.exe # fast\n",
			{{E::UnknownWord, 1}, {E::NoExtension, 1}, {E::MissingWord, 1}}},
		{"duplicate in another case", "Game.exe high\r\ngame.EXE idle\r\n", {{E::Duplicate, 2}}},
		{"trailing name without a word", "game.exe high\nlast.exe", {{E::MissingWord, 2}}},
		{"UTF-8 byte-order mark", "\xEF\xBB\xBFgame.exe high\n", {{E::ByteOrderMark, 1}}},
		{"UTF-16 file", std::string("\xFF\xFEg\0a\0", 6), {{E::ByteOrderMark, 1}, {E::NoExtension, 1}, {E::MissingWord, 1}, {E::ZeroByte, 1}}},
		{"byte outside 7-bit ASCII in a name", "caf\xE9.exe high\n", {{E::NonAscii, 1}}},
		{"byte-order mark and a foreign byte", "\xEF\xBB\xBF\xC3\xA9.exe high\n", {{E::ByteOrderMark, 1}, {E::NonAscii, 1}}},
		{"0 byte before the end", std::string("a.exe high\n\0b.exe idle\n", 23), {{E::ZeroByte, 2}}},
		{"0 byte as the last byte", std::string("a.exe high\n\0", 12), {{E::ZeroByte, 2}}},
		{"CR, CRLF and LF each end one line", "a.exe high\rb.exe hihg\r\nc.exe idle\nd turbo\n", {{E::UnknownWord, 2}, {E::NoExtension, 4}, {E::UnknownWord, 4}}},
		{"comment lines are counted", "# head\r\n#x\rgame high\n", {{E::NoExtension, 3}}},
		{"word on a later line is reported there", "a.exe\n\n  turbo\n", {{E::UnknownWord, 3}}},
	};
	for (const CWarningCase &Case : Cases)
	{
		CConfigCheck Check = fg_Check(Case.m_Text);
		std::vector<CFound> Found;
		for (const NHushvane::CConfigWarning &Warning : Check.m_Warnings)
		{
			Found.push_back({Warning.m_Kind, Warning.m_Line});
			EXPECT_FALSE(Warning.m_Text.empty()) << Case.m_pWhat;
		}
		EXPECT_EQ(Found, Case.m_Expected) << Case.m_pWhat;
		EXPECT_EQ(NHushvane::gf_GetCheckExitCode(Check), Case.m_Expected.empty() ? 0 : 2) << Case.m_pWhat;
	}
}

TEST(ConfigCheck, EntriesAreTheWorkersTableWithTheirLinesAndWords)
{
	CConfigCheck Check = fg_Check("zeta.exe high\nAlpha.exe turbo\nalpha.exe idle\nmid.exe");
	ASSERT_EQ(Check.m_Entries.size(), 3u);
	auto fExpect = [&](size_t Index, const char *pName, const char *pWord, NZel::uint32 Class, NZel::uint32 Line) {
		const NHushvane::CConfigCheckEntry &Entry = Check.m_Entries[Index];
		EXPECT_EQ(Entry.m_Name, pName);
		EXPECT_EQ(Entry.m_Word, pWord) << pName;
		EXPECT_EQ(Entry.m_Class, Class) << pName;
		EXPECT_EQ(Entry.m_Line, Line) << pName;
	};
	// Table order, letter case ignored; the first pair of a name is the one kept.
	fExpect(0, "Alpha.exe", "turbo", 0x20, 2);
	fExpect(1, "mid.exe", "", 0x20, 4);
	fExpect(2, "zeta.exe", "high", 0x80, 1);
}

TEST(ConfigReport, ShowsEntriesWarningsProcessesAndTheResult)
{
	CConfigCheck Check = fg_Check("game.exe high\nnotepad idle\nbackup.exe hihg\n");
	std::vector<NHushvane::CMatchingProcess> Processes = {{1234, "game.exe", 0x20, 0x80}, {77, "backup.exe", 0, 0x20}};
	std::string Report = NHushvane::gf_FormatConfigReport("C:\\Hushvane\\config", Check, Processes);
	for (const char *pPart : {"C:\\Hushvane\\config", "3 entries", "line 1    game.exe    high", "normal (written \"hihg\")",
			 "line 2: name \"notepad\" has no extension", "line 3: unknown priority word \"hihg\"", "process 1234   game.exe    normal -> high",
			 "process 77     backup.exe  (not readable) -> normal", "Result: 2 warnings (exit code 2)."})
		EXPECT_NE(Report.find(pPart), std::string::npos) << pPart << "\n" << Report;
	EXPECT_EQ(Report.find('\n'), Report.find("\r\n") + 1) << "lines end in CRLF";

	// Bytes outside 7-bit ASCII are shown, not passed through to the console.
	std::string Foreign = NHushvane::gf_FormatConfigReport("config", fg_Check("caf\xE9.exe idle\n"), {{5, "caf\xE9.exe", 0x20, 0x40}});
	EXPECT_NE(Foreign.find("line 1    caf\\xE9.exe  idle"), std::string::npos) << Foreign;
	EXPECT_NE(Foreign.find("process 5      caf\\xE9.exe  normal -> idle"), std::string::npos) << Foreign;
	EXPECT_EQ(Foreign.find('\xE9'), std::string::npos) << Foreign;

	std::string Clean = NHushvane::gf_FormatConfigReport("config", fg_Check("a.exe high\n"), {});
	EXPECT_NE(Clean.find("No warnings."), std::string::npos) << Clean;
	EXPECT_NE(Clean.find("No running process matches an entry."), std::string::npos) << Clean;
	EXPECT_NE(Clean.find("(exit code 0)"), std::string::npos) << Clean;

	std::string Unreadable = NHushvane::gf_FormatUnreadableConfig("config", "the file does not exist");
	EXPECT_NE(Unreadable.find("cannot be read: the file does not exist"), std::string::npos) << Unreadable;
	EXPECT_NE(Unreadable.find("(exit code 1)"), std::string::npos) << Unreadable;
}

#ifdef HV_SAMPLE_CONFIG
#include <fstream>
#include <iterator>

// The sample shipped with every release is read without a warning, and its examples, once the
// administrator takes away their "# ", are entries as the sample says.
TEST(ConfigCheck, TheReleasesSampleIsCleanAndItsExamplesAreEntries)
{
	std::ifstream File(HV_SAMPLE_CONFIG, std::ios::binary);
	ASSERT_TRUE(File) << HV_SAMPLE_CONFIG;
	std::string const Sample{std::istreambuf_iterator<char>(File), std::istreambuf_iterator<char>()};
	CConfigCheck const Check = fg_Check(Sample);
	EXPECT_TRUE(Check.m_Warnings.empty()) << Check.m_Warnings.front().m_Text;
	EXPECT_TRUE(Check.m_Entries.empty());

	// The examples are the commented lines at the end that hold two words and nothing else.
	std::string Examples;
	size_t Start = Sample.rfind("\n#\n");
	ASSERT_NE(Start, std::string::npos);
	for (size_t i = Sample.find("\n# ", Start + 1); i != std::string::npos; i = Sample.find("\n# ", i + 1))
		Examples += Sample.substr(i + 3, Sample.find('\n', i + 1) - (i + 3)) + "\n";
	CConfigCheck const Uncommented = fg_Check(Examples);
	EXPECT_TRUE(Uncommented.m_Warnings.empty()) << Examples;
	EXPECT_EQ(Uncommented.m_Entries.size(), 3u) << Examples;
}
#endif
