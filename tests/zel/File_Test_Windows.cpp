#include "zel/library/core/file/Zel_File.h"

#include "tests/zel/File_TestSupport.h"

#include <windows.h>

#include <string>

using NFileTest::CTempFolder;
using NFileTest::gf_ReadFile;
using NFileTest::gf_WriteFile;

namespace
{
	const wchar_t gc_OutputVariable[] = L"HUSHVANE_TEST_PROGRAM_PATH_OUT";
}

// Runs this test program again with the command line "prog ..." in another current folder, as
// a program typed without its folder and found through PATH sees it: the program path is still
// the executable's real location. The second run only reports what it sees.
TEST(FileWindows, ProgramPathIsTheRunningImageWhateverTheCommandLineSays)
{
	wchar_t OutputPath[MAX_PATH] = {};
	if (GetEnvironmentVariableW(gc_OutputVariable, OutputPath, MAX_PATH))
	{
		std::string Report = std::string(NZel::NFile::gfs_GetProgramPath().f_GetStr()) + "\n" +
			NZel::NFile::gf_GetProgramFolder().f_GetStr();
		HANDLE hFile = CreateFileW(OutputPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
		ASSERT_NE(hFile, INVALID_HANDLE_VALUE);
		DWORD nWritten = 0;
		WriteFile(hFile, Report.data(), DWORD(Report.size()), &nWritten, nullptr);
		CloseHandle(hFile);
		return;
	}

	CTempFolder Folder;
	std::string Tools = Folder.f_Path("Tools");
	CreateDirectoryA(Tools.c_str(), nullptr);
	std::string Output = Folder.f_Path("report.txt");
	std::wstring WideOutput(Output.begin(), Output.end());
	std::wstring WideTools(Tools.begin(), Tools.end());

	wchar_t Executable[MAX_PATH] = {};
	ASSERT_GT(GetModuleFileNameW(nullptr, Executable, MAX_PATH), 0u);
	std::wstring CommandLine = L"prog --gtest_filter=FileWindows.ProgramPathIsTheRunningImageWhateverTheCommandLineSays";

	SetEnvironmentVariableW(gc_OutputVariable, WideOutput.c_str());
	STARTUPINFOW Startup = {};
	Startup.cb = sizeof(Startup);
	PROCESS_INFORMATION Process = {};
	BOOL bCreated = CreateProcessW(Executable, CommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, WideTools.c_str(), &Startup, &Process);
	SetEnvironmentVariableW(gc_OutputVariable, nullptr);
	ASSERT_TRUE(bCreated) << GetLastError();
	DWORD Wait = WaitForSingleObject(Process.hProcess, 60000);
	DWORD ExitCode = 1;
	GetExitCodeProcess(Process.hProcess, &ExitCode);
	CloseHandle(Process.hThread);
	CloseHandle(Process.hProcess);
	ASSERT_EQ(Wait, WAIT_OBJECT_0);
	EXPECT_EQ(ExitCode, 0u);

	std::string Expected(Executable, Executable + wcslen(Executable));
	for (char &Char : Expected)
		if (Char == '\\')
			Char = '/';
	EXPECT_EQ(gf_ReadFile(Output), Expected + "\n" + Expected.substr(0, Expected.rfind('/')));
}
