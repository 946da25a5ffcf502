#include "KvWin/KvServiceRegistration.h"

#include <gtest/gtest.h>

using NZel::NStr::CStr;

struct CImagePathCase
{
	const char *pProgramPath;
	const char *pServiceName;
	const char *pExpected;
};

class KvServiceImagePath : public ::testing::TestWithParam<CImagePathCase>
{
};

TEST_P(KvServiceImagePath, QuotesOnceAndAppendsTheServiceSwitch)
{
	const CImagePathCase &Case = GetParam();
	EXPECT_STREQ(gf_KvServiceImagePath(CStr(Case.pProgramPath), CStr(Case.pServiceName)).f_GetStr(), Case.pExpected);
}

INSTANTIATE_TEST_SUITE_P(Paths, KvServiceImagePath,
	::testing::Values(
		CImagePathCase{"C:/Program Files/Hushvane/hushvane.exe", "Hushvane",
			"\"C:/Program Files/Hushvane/hushvane.exe\" -Service Hushvane"},
		CImagePathCase{"C:/hv.exe", "Hushvane", "\"C:/hv.exe\" -Service Hushvane"},
		CImagePathCase{"\"C:/already quoted/hv.exe\"", "Hushvane", "\"C:/already quoted/hv.exe\" -Service Hushvane"},
		CImagePathCase{"", "Hushvane", "\"\" -Service Hushvane"},
		CImagePathCase{"C:/hv.exe", "", "\"C:/hv.exe\" -Service "}));

TEST(KvServiceRebootMessage, NamesTheDisplayName)
{
	EXPECT_STREQ(gf_KvServiceRebootMessage(CStr("Hushvane")).f_GetStr(),
		"Rebooting the server in response to crash of Hushvane crash.");
}
