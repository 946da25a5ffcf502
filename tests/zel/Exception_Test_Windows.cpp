#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/runtime/Zel_Sys_Debug.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

using namespace NZel;

namespace
{
	std::string fg_SystemText(DWORD Code)
	{
		wchar_t *pBuffer = nullptr;
		DWORD Len = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
			nullptr, Code, 0x400, reinterpret_cast<wchar_t *>(&pBuffer), 0, nullptr);
		std::string Text;
		for (DWORD i = 0; i < Len && Text.size() < 255; ++i)
			Text += char(pBuffer[i] & 0xFF);
		if (pBuffer)
			LocalFree(pBuffer);
		return Text;
	}

	HANDLE fg_OpenMissingFile()
	{
		return CreateFileW(L"Z:\\hushvane-missing\\no such file.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
	}
}

TEST(ErrorTextWindows, LastErrorOfAFailedCreateFile)
{
	HANDLE h = fg_OpenMissingFile();
	ASSERT_EQ(h, INVALID_HANDLE_VALUE);
	DWORD Code = GetLastError();
	SetLastError(Code);
	NStr::CFStr256 Text = NSys::gf_GetErrorText(0);
	std::string Expected = fg_SystemText(Code);
	ASSERT_FALSE(Expected.empty());
	EXPECT_EQ(std::string(Text.f_GetStr()), Expected);
	EXPECT_EQ(Expected.substr(Expected.size() - 2), "\r\n") << "kept as the system gives it";
	EXPECT_STREQ(NSys::gf_GetErrorText(Code).f_GetStr(), Text.f_GetStr());
}

TEST(ErrorTextWindows, ThrowSystemErrorReadsTheLastErrorFirst)
{
	HANDLE h = fg_OpenMissingFile();
	ASSERT_EQ(h, INVALID_HANDLE_VALUE);
	DWORD Code = GetLastError();
	try
	{
		SetLastError(Code);
		DZelThrowSystemError(NZel::NFile::CExceptionFile, "CreateFile");
	}
	catch (NException::CException &Caught)
	{
		EXPECT_EQ(std::string(Caught.f_GetMessage()), ("Windows returned an error from CreateFile: " + fg_SystemText(Code)).substr(0, 255));
		return;
	}
	ADD_FAILURE() << "nothing thrown";
}
