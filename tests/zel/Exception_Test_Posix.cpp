#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/runtime/Zel_Sys_Debug.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>

using namespace NZel;

TEST(ErrorTextPosix, LastErrorOfAFailedOpen)
{
	ASSERT_EQ(open("/nonexistent-hushvane/file", O_RDONLY), -1);
	int Code = errno;
	NStr::CFStr256 Text = NSys::gf_GetErrorText(0);
	EXPECT_EQ(std::string(Text.f_GetStr()), std::string(std::strerror(Code)) + "\r\n");
	try
	{
		errno = Code;
		DZelThrowSystemError(NZel::NFile::CExceptionFile, "CreateFile");
	}
	catch (NException::CException &Caught)
	{
		EXPECT_EQ(std::string(Caught.f_GetMessage()), "Windows returned an error from CreateFile: " + std::string(std::strerror(Code)) + "\r\n");
		return;
	}
	ADD_FAILURE() << "nothing thrown";
}
