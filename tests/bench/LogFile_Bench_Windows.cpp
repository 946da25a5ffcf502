// Cost of one 80-byte log line: CKvLogFile::f_WriteLine against fprintf + fflush and against
// one WriteFile per line.
#include "KvWin/KvLogFile.h"

#include "tests/bench/BenchHarness.h"

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>

int main()
{
	std::filesystem::path Folder = std::filesystem::temp_directory_path() / "hv_bench_log";
	std::error_code Error;
	std::filesystem::remove_all(Folder, Error);
	std::filesystem::create_directories(Folder);

	std::string Text(78, 'x');
	Text += "\r\n";
	NZel::NStr::CStr Line(Text.c_str());

	NBench::CResult Ours;
	{
		CKvLogFile Log;
		Log.f_Open(NZel::NStr::CStr((Folder / "Log").generic_string().c_str()), 0x10000, NZel::NTime::CClockTime::fs_Span(28, 0, 0, 0));
		Ours = NBench::gf_Measure("CKvLogFile::f_WriteLine (80 bytes)", [&] { Log.f_WriteLine(Line); });
	}

	std::FILE *pFile = std::fopen((Folder / "stdio.log").string().c_str(), "ab");
	NBench::CResult Stdio = NBench::gf_Measure("fprintf + fflush (80 bytes)", [&]
		{
			std::fprintf(pFile, "%s", Text.c_str());
			std::fflush(pFile);
		});
	std::fclose(pFile);

	HANDLE hFile = CreateFileW((Folder / "win32.log").wstring().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
	NBench::CResult Win32 = NBench::gf_Measure("WriteFile per line (80 bytes)", [&]
		{
			DWORD nWritten = 0;
			WriteFile(hFile, Text.data(), DWORD(Text.size()), &nWritten, nullptr);
		});
	CloseHandle(hFile);

	NBench::gf_Ratio("f_WriteLine vs fprintf + fflush", Ours, Stdio);
	NBench::gf_Ratio("f_WriteLine vs WriteFile per line", Ours, Win32);
	std::filesystem::remove_all(Folder, Error);
	return 0;
}
