#include "app/Hushvane_CommandLine.h"

#include <gtest/gtest.h>

using NHushvane::gf_FindText;

TEST(FindText, EmptyTextOrPatternIsNotFound)
{
	EXPECT_EQ(gf_FindText("", "-Service"), -1);
	EXPECT_EQ(gf_FindText("-Service", ""), -1);
	EXPECT_EQ(gf_FindText(nullptr, "-Service"), -1);
}

TEST(FindText, MatchesCaseSensitiveSubstrings)
{
	EXPECT_EQ(gf_FindText("x-Servicey", "-Service"), 1);
	EXPECT_EQ(gf_FindText("-service", "-Service"), -1);
	EXPECT_EQ(gf_FindText("-Service -AddService", "-AddService"), 9);
	EXPECT_EQ(gf_FindText("aab", "ab"), 1);
}

TEST(FindText, ServiceIsNotInsideTheOtherSwitches)
{
	for (const char *pSwitch : {"-AddService", "-RemoveService", "-StartService", "-StopService"})
		EXPECT_EQ(gf_FindText(pSwitch, "-Service"), -1) << pSwitch;
}

TEST(FindText, TextEndingInsideThePatternIsNotFound)
{
	EXPECT_EQ(gf_FindText("-Serv", "-Service"), -1);
	EXPECT_EQ(gf_FindText("ab-Servic", "-Service"), -1);
}

using NHushvane::ESwitch;
using NHushvane::gf_FindSwitch;

struct CSwitchCase
{
	const char *pCommandLine;
	ESwitch Expected;
};

class FindSwitch : public ::testing::TestWithParam<CSwitchCase>
{
};

TEST_P(FindSwitch, PicksTheFirstRowOfTheTablePresent)
{
	const CSwitchCase &Case = GetParam();
	EXPECT_EQ(int(gf_FindSwitch(Case.pCommandLine)), int(Case.Expected)) << '"' << Case.pCommandLine << '"';
}

INSTANTIATE_TEST_SUITE_P(CommandLines, FindSwitch,
	::testing::Values(
		CSwitchCase{"", ESwitch::None},
		CSwitchCase{nullptr, ESwitch::None},
		CSwitchCase{"   ", ESwitch::None},
		CSwitchCase{"-service", ESwitch::None},
		CSwitchCase{"-addservice", ESwitch::None},
		CSwitchCase{"-Servic", ESwitch::None},
		CSwitchCase{"x-Servicey", ESwitch::Service},
		CSwitchCase{"-Service Hushvane", ESwitch::Service},
		CSwitchCase{"-AddService", ESwitch::Add},
		CSwitchCase{"-RemoveService", ESwitch::Remove},
		CSwitchCase{"-StartService", ESwitch::Start},
		CSwitchCase{"-StopService", ESwitch::Stop},
		CSwitchCase{"-UninstallDrivers", ESwitch::UninstallDrivers},
		CSwitchCase{"-RunAsProgram", ESwitch::RunAsProgram},
		// An earlier row wins whatever the order on the line.
		CSwitchCase{"-Service -AddService", ESwitch::Add},
		CSwitchCase{"-RunAsProgram -StopService", ESwitch::Stop},
		CSwitchCase{"-Service -UninstallDrivers", ESwitch::UninstallDrivers},
		CSwitchCase{"-StartService -RemoveService", ESwitch::Remove},
		CSwitchCase{"-Service -RunAsProgram", ESwitch::RunAsProgram},
		CSwitchCase{"foo-StopServicebar", ESwitch::Stop},
		CSwitchCase{"-CheckConfig", ESwitch::CheckConfig},
		CSwitchCase{"-checkconfig", ESwitch::None},
		CSwitchCase{"-CheckConfig -Service", ESwitch::Service},
		CSwitchCase{"-CheckConfig -RunAsProgram", ESwitch::RunAsProgram}));

TEST(SwitchText, NoSwitchOccursInsideAnother)
{
	// Otherwise the longer switch alone would also find the shorter one's row.
	for (int Outer = 0; Outer < int(ESwitch::None); ++Outer)
	{
		for (int Inner = 0; Inner < int(ESwitch::None); ++Inner)
		{
			const char *pOuter = NHushvane::gf_GetSwitchText(ESwitch(Outer));
			const char *pInner = NHushvane::gf_GetSwitchText(ESwitch(Inner));
			if (Outer != Inner)
			{
				EXPECT_EQ(gf_FindText(pOuter, pInner), -1) << pInner << " in " << pOuter;
			}
		}
	}
}

TEST(SwitchText, EveryRowHasItsTextAndFindsItself)
{
	for (int Index = 0; Index < int(ESwitch::None); ++Index)
	{
		const char *pText = NHushvane::gf_GetSwitchText(ESwitch(Index));
		ASSERT_NE(pText, nullptr) << Index;
		EXPECT_EQ(pText[0], '-');
		EXPECT_EQ(int(gf_FindSwitch(pText)), Index) << pText;
	}
	EXPECT_EQ(NHushvane::gf_GetSwitchText(ESwitch::None), nullptr);
}
