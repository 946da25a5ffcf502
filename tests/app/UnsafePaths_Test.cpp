// The folders above the program folder that the installation check walks, and the texts that
// name what is unsafe and who can change it.
#include "app/Hushvane_ConfigCheck.h"
#include "app/Hushvane_ConfigReport.h"
#include "app/Hushvane_UnsafePaths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace NHushvane;

namespace
{
	struct CAboveCase
	{
		std::string m_Folder;
		std::vector<std::string> m_Above; // nearest first, the root last
		bool m_bRooted = true;            // false for a relative path, which has no root
	};

	const CAboveCase gc_AboveCases[] = {
		{"C:\\Program Files\\Hushvane", {"C:\\Program Files", "C:\\"}},
		{"C:\\Program Files\\Hushvane\\", {"C:\\Program Files", "C:\\"}},
		{"C:\\Tools", {"C:\\"}},
		{"C:\\", {}},
		{"Z:\\work\\a\\\\b", {"Z:\\work\\a", "Z:\\work", "Z:\\"}},
		{"\\\\server\\share\\apps\\Hushvane", {"\\\\server\\share\\apps", "\\\\server\\share\\"}},
		{"\\\\server\\share", {}},
		{"\\\\server\\share\\", {}},
		{"\\\\?\\C:\\a\\b", {"\\\\?\\C:\\a", "\\\\?\\C:\\"}},
		{"\\\\?\\UNC\\server\\share\\a", {"\\\\?\\UNC\\server\\share\\"}},
		{"relative\\folder", {"relative"}, false},
	};
}

TEST(UnsafePaths, TheFoldersAboveEndAtTheRoot)
{
	for (const CAboveCase &Case : gc_AboveCases)
	{
		std::vector<std::string> Above = gf_GetFoldersAbove(Case.m_Folder);
		EXPECT_EQ(Above, Case.m_Above) << Case.m_Folder;
		for (size_t Index = 0; Index < Above.size(); ++Index)
			EXPECT_EQ(gf_IsRootFolder(Above[Index]), Case.m_bRooted && Index + 1 == Above.size()) << Above[Index];
		EXPECT_EQ(gf_IsRootFolder(Case.m_Folder), Case.m_bRooted && Case.m_Above.empty()) << Case.m_Folder;
	}
}

TEST(UnsafePaths, TheTextsNameThePathsAndWhoCanChangeThem)
{
	CUnsafePath Folder{"C:\\Tools\\Hushvane", EChangeScope::Change, {"NT AUTHORITY\\Authenticated Users"}, ""};
	CUnsafePath Program{"C:\\Tools\\Hushvane\\hushvane.exe", EChangeScope::Change, {"Everyone", "BUILTIN\\Users"}, ""};
	CUnsafePath Above{"C:\\Tools", EChangeScope::MoveOrReplace, {"S-1-5-21-1-2-3-1001"}, ""};
	CUnsafePath Unreadable{"C:\\Tools\\Hushvane\\Hushvane.x64.sys", EChangeScope::Change, {}, "Access is denied"};

	struct CCase
	{
		const CUnsafePath *m_pUnsafe;
		const char *m_pExpected;
	};
	const CCase Cases[] = {
		{&Folder, "C:\\Tools\\Hushvane can be changed by NT AUTHORITY\\Authenticated Users"},
		{&Program, "C:\\Tools\\Hushvane\\hushvane.exe can be changed by Everyone, BUILTIN\\Users"},
		{&Above, "C:\\Tools can be moved or replaced by S-1-5-21-1-2-3-1001"},
		{&Unreadable, "who can change C:\\Tools\\Hushvane\\Hushvane.x64.sys cannot be read (Access is denied)"},
	};
	for (const CCase &Case : Cases)
		EXPECT_EQ(gf_DescribeUnsafePath(*Case.m_pUnsafe), Case.m_pExpected);

	EXPECT_EQ(gf_FormatUnsafeInstallation({Folder, Above}),
		"Failed to add service: users who are not administrators can change what the service would run as SYSTEM.\n\n"
		"C:\\Tools\\Hushvane can be changed by NT AUTHORITY\\Authenticated Users\n"
		"C:\\Tools can be moved or replaced by S-1-5-21-1-2-3-1001\n\n"
		"Put the program in a folder only administrators can change, such as C:\\Program Files\\Hushvane, and run -AddService from there.");
	EXPECT_EQ(gf_FormatUnsafeDriverSource(Program),
		"Driver not deployed from an unsafe place: C:\\Tools\\Hushvane\\hushvane.exe can be changed by Everyone, BUILTIN\\Users\r\n");
	EXPECT_EQ(gf_FormatChangeableConfig({Folder, Unreadable}),
		"Warning: users who are not administrators can change the configuration: C:\\Tools\\Hushvane can be changed by NT AUTHORITY\\Authenticated "
		"Users; who can change C:\\Tools\\Hushvane\\Hushvane.x64.sys cannot be read (Access is denied)\r\n");
}

TEST(UnsafePaths, AChangeableConfigIsTheFirstWarningOfTheCheck)
{
	const std::string Text = "game.exe hihg\n";
	CConfigCheck Check = gf_CheckConfig(reinterpret_cast<const NZel::uint8 *>(Text.data()), Text.size());
	gf_AddChangeableConfigWarning(Check, {});
	ASSERT_EQ(Check.m_Warnings.size(), 1u) << "a safe configuration adds nothing";

	gf_AddChangeableConfigWarning(Check, {{"C:\\Hushvane\\config", EChangeScope::Change, {"Everyone"}, ""}});
	ASSERT_EQ(Check.m_Warnings.size(), 2u);
	EXPECT_EQ(Check.m_Warnings[0].m_Kind, EConfigWarning::Changeable);
	EXPECT_EQ(gf_GetCheckExitCode(Check), ECheckExit_Warnings);
	std::string Report = gf_FormatConfigReport("C:\\Hushvane\\config", Check, {});
	const std::string Expected = "2 warnings:\r\n"
								 "  permissions: users who are not administrators can change the configuration and so give any program any "
								 "priority class, realtime included: C:\\Hushvane\\config can be changed by Everyone; let only administrators "
								 "change it\r\n"
								 "  line 1: unknown priority word";
	EXPECT_NE(Report.find(Expected), std::string::npos) << Report;
	EXPECT_NE(Report.find("Result: 2 warnings (exit code 2)."), std::string::npos) << Report;

	// Alone it still makes the result a warning.
	const std::string Clean = "game.exe high\n";
	CConfigCheck Writable = gf_CheckConfig(reinterpret_cast<const NZel::uint8 *>(Clean.data()), Clean.size());
	gf_AddChangeableConfigWarning(Writable, {{"C:\\Hushvane", EChangeScope::Change, {"BUILTIN\\Users"}, ""}});
	EXPECT_EQ(gf_GetCheckExitCode(Writable), ECheckExit_Warnings);
	EXPECT_NE(gf_FormatConfigReport("config", Writable, {}).find("Result: 1 warning (exit code 2)."), std::string::npos);
}
