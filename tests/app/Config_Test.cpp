#include "app/Hushvane_Config.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using NHushvane::CProcessTable;
using NHushvane::gf_GetPriorityClass;
using NHushvane::gf_ParseConfig;
using NZel::NStr::CStr;

namespace
{
	class CCollectedLog : public NHushvane::ICRunLog
	{
	public:
		void f_WriteLine(CStr Line) override { m_Lines.push_back(std::string(Line.f_GetStr(), size_t(Line.f_GetLen()))); }
		std::vector<std::string> m_Lines;
	};

	using CEntries = std::vector<std::pair<std::string, NZel::uint32>>;

	struct CConfigCase
	{
		const char *m_pWhat;
		std::string m_Text;
		CEntries m_Entries;                // in key order
		std::vector<std::string> m_Lines;  // log lines in order
	};

	std::string fg_Added(const char *pName, const char *pWord)
	{
		return std::string("Added process ") + pName + " with priority " + pWord + "\r\n";
	}

	CEntries fg_Entries(const CProcessTable &Table)
	{
		CEntries Entries;
		Table.f_ForEach([&](const CProcessTable::CEntry &Entry) { Entries.emplace_back(Entry.f_GetName().f_GetStr(), Entry.f_GetPriorityClass()); });
		return Entries;
	}

	const std::string gc_Nul(1, '\0');
}

TEST(ConfigParse, EdgeCasesGiveTheStatedTableAndLines)
{
	const CConfigCase Cases[] = {
		{"empty file", "", {}, {}},
		{"whitespace only", " \t\r\n\b  \n", {}, {}},
		{"comments only", "# one\r\n  #two words\n#three", {}, {}},
		{"one pair", "notepad.exe high\r\n", {{"notepad.exe", 0x80}}, {fg_Added("notepad.exe", "high")}},
		{"every word in any case", "a.exe idle\nb.exe BelowNormal\nc.exe NORMAL\nd.exe aboveNORMAL\ne.exe High\nf.exe realtime\n",
			{{"a.exe", 0x40}, {"b.exe", 0x4000}, {"c.exe", 0x20}, {"d.exe", 0x8000}, {"e.exe", 0x80}, {"f.exe", 0x100}},
			{fg_Added("a.exe", "idle"), fg_Added("b.exe", "BelowNormal"), fg_Added("c.exe", "NORMAL"), fg_Added("d.exe", "aboveNORMAL"),
				fg_Added("e.exe", "High"), fg_Added("f.exe", "realtime")}},
		{"unknown word is normal and shown as written", "x.exe Turbo\n", {{"x.exe", 0x20}}, {fg_Added("x.exe", "Turbo")}},
		{"name at end of file has an empty word", "x.exe", {{"x.exe", 0x20}}, {fg_Added("x.exe", "")}},
		{"name then trailing space at end of file", "x.exe \r\n", {{"x.exe", 0x20}}, {fg_Added("x.exe", "")}},
		{"LF line ends", "a.exe high\nb.exe idle\n", {{"a.exe", 0x80}, {"b.exe", 0x40}}, {fg_Added("a.exe", "high"), fg_Added("b.exe", "idle")}},
		{"CR line ends", "a.exe high\rb.exe idle\r", {{"a.exe", 0x80}, {"b.exe", 0x40}}, {fg_Added("a.exe", "high"), fg_Added("b.exe", "idle")}},
		{"CRLF line ends", "a.exe high\r\nb.exe idle", {{"a.exe", 0x80}, {"b.exe", 0x40}}, {fg_Added("a.exe", "high"), fg_Added("b.exe", "idle")}},
		{"comment line between pairs with CR only", "a.exe high\r# skip me\rb.exe idle", {{"a.exe", 0x80}, {"b.exe", 0x40}},
			{fg_Added("a.exe", "high"), fg_Added("b.exe", "idle")}},
		{"comment glued to the hash", "#a.exe high\nb.exe idle", {{"b.exe", 0x40}}, {fg_Added("b.exe", "idle")}},
		{"hash after a name is the priority word", "a.exe # high text\nb.exe idle\n",
			{{"a.exe", 0x20}, {"b.exe", 0x40}, {"high", 0x20}},
			{fg_Added("a.exe", "#"), fg_Added("high", "text"), fg_Added("b.exe", "idle")}},
		{"hash as priority word glued to text", "a.exe #idle\n", {{"a.exe", 0x20}}, {fg_Added("a.exe", "#idle")}},
		{"missing word shifts the pairs", "a.exe\nb.exe high\nc.exe idle\n",
			{{"a.exe", 0x20}, {"high", 0x20}, {"idle", 0x20}},
			{fg_Added("a.exe", "b.exe"), fg_Added("high", "c.exe"), fg_Added("idle", "")}},
		{"three words on a line", "a.exe high extra.exe\nidle\n", {{"a.exe", 0x80}, {"extra.exe", 0x40}},
			{fg_Added("a.exe", "high"), fg_Added("extra.exe", "idle")}},
		{"several pairs on one line", "a.exe high b.exe idle", {{"a.exe", 0x80}, {"b.exe", 0x40}}, {fg_Added("a.exe", "high"), fg_Added("b.exe", "idle")}},
		{"pair across lines", "a.exe\n\n  high\n", {{"a.exe", 0x80}}, {fg_Added("a.exe", "high")}},
		{"duplicate in other case is dropped silently", "Game.exe high\ngame.EXE idle\n", {{"Game.exe", 0x80}}, {fg_Added("Game.exe", "high")}},
		{"UTF-8 byte-order mark sticks to the first name", "\xEF\xBB\xBFnotepad.exe high\n", {{"\xEF\xBB\xBFnotepad.exe", 0x80}},
			{fg_Added("\xEF\xBB\xBFnotepad.exe", "high")}},
		{"a 0 byte ends the text", "a.exe high\n" + gc_Nul + "b.exe idle\n", {{"a.exe", 0x80}}, {fg_Added("a.exe", "high")}},
		{"a 0 byte inside a word cuts it", "a.exe hi" + gc_Nul + "gh b.exe idle", {{"a.exe", 0x20}}, {fg_Added("a.exe", "hi")}},
		{"form feed and vertical tab belong to words", "a.exe\fhigh b.exe\vidle", {{"a.exe\fhigh", 0x20}}, {fg_Added("a.exe\fhigh", "b.exe\vidle")}},
		{"backspace separates", "a.exe\bhigh", {{"a.exe", 0x80}}, {fg_Added("a.exe", "high")}},
		{"high bytes belong to words", "caf\xE9.exe \xA0high", {{"caf\xE9.exe", 0x20}}, {fg_Added("caf\xE9.exe", "\xA0high")}},
		{"hash where a name is expected after a full pair", "a.exe high # not.exe idle", {{"a.exe", 0x80}}, {fg_Added("a.exe", "high")}},
		{"comment at end of file", "a.exe high\n# the end", {{"a.exe", 0x80}}, {fg_Added("a.exe", "high")}},
	};
	for (const CConfigCase &Case : Cases)
	{
		CProcessTable Table;
		CCollectedLog Log;
		gf_ParseConfig(reinterpret_cast<const NZel::uint8 *>(Case.m_Text.data()), Case.m_Text.size(), Table, Log);
		EXPECT_EQ(fg_Entries(Table), Case.m_Entries) << Case.m_pWhat;
		EXPECT_EQ(Log.m_Lines, Case.m_Lines) << Case.m_pWhat;
		EXPECT_TRUE(Table.f_CheckStructure()) << Case.m_pWhat;
	}
}

TEST(ConfigParse, PriorityWordsMapToWindowsClasses)
{
	const std::pair<const char *, NZel::uint32> Words[] = {
		{"normal", 0x20}, {"idle", 0x40}, {"high", 0x80}, {"realtime", 0x100}, {"belownormal", 0x4000}, {"abovenormal", 0x8000},
		{"IDLE", 0x40}, {"RealTime", 0x100}, {"", 0x20}, {"hig", 0x20}, {"highest", 0x20}, {"below normal", 0x20}, {nullptr, 0x20},
	};
	for (const auto &Word : Words)
		EXPECT_EQ(gf_GetPriorityClass(Word.first), Word.second) << (Word.first ? Word.first : "(null)");
}

TEST(ConfigParse, ManyEntriesAreAllFound)
{
	std::string Text;
	for (int i = 0; i < 500; ++i)
		Text += "p" + std::to_string(i) + ".exe " + (i % 2 ? "high" : "IDLE") + "\n";
	CProcessTable Table;
	CCollectedLog Log;
	gf_ParseConfig(reinterpret_cast<const NZel::uint8 *>(Text.data()), Text.size(), Table, Log);
	EXPECT_EQ(Table.f_GetCount(), 500u);
	EXPECT_EQ(Log.m_Lines.size(), 500u);
	for (int i = 0; i < 500; ++i)
	{
		std::string Upper = "P" + std::to_string(i) + ".EXE";
		const CProcessTable::CEntry *pEntry = Table.f_Find(Upper.c_str());
		ASSERT_NE(pEntry, nullptr) << Upper;
		EXPECT_EQ(pEntry->f_GetPriorityClass(), i % 2 ? 0x80u : 0x40u);
	}
}
