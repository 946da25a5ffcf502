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
