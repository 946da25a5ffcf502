#include "app/Hushvane_ReportOutput.h"
#include "KvWin/KvWindowsHandles.h"

#include <windows.h>

#include <algorithm>

namespace NHushvane
{
	namespace
	{
		bool fg_WriteAll(HANDLE hOutput, const std::string &Text)
		{
			size_t Written = 0;
			while (Written < Text.size())
			{
				DWORD Chunk = 0;
				DWORD Count = DWORD(std::min<size_t>(Text.size() - Written, 1u << 20));
				if (!WriteFile(hOutput, Text.data() + Written, Count, &Chunk, nullptr) || Chunk == 0)
					return false;
				Written += Chunk;
			}
			return true;
		}

		// A GUI program gets a standard output only when its starter handed one over: a
		// redirection to a file, a pipe, or the null device.
		bool fg_WriteToStandardOutput(const std::string &Text)
		{
			HANDLE hOutput = GetStdHandle(STD_OUTPUT_HANDLE);
			if (!hOutput || hOutput == INVALID_HANDLE_VALUE || GetFileType(hOutput) == FILE_TYPE_UNKNOWN)
				return false;
			return fg_WriteAll(hOutput, Text);
		}

		bool fg_WriteToParentConsole(const std::string &Text)
		{
			if (!AttachConsole(ATTACH_PARENT_PROCESS))
				return false;
			CKvFileHandle hConsole(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
			// The prompt is usually back before this program writes: begin on a line of our own.
			bool bWritten = hConsole && fg_WriteAll(hConsole.f_Get(), "\r\n" + Text);
			FreeConsole();
			return bWritten;
		}

		UINT fg_Icon(EReportTone Tone)
		{
			switch (Tone)
			{
			case EReportTone::Warning:
				return MB_ICONWARNING;
			case EReportTone::Error:
				return MB_ICONERROR;
			case EReportTone::Information:
				break;
			}
			return MB_ICONINFORMATION;
		}
	}

	void gf_WriteReport(const std::string &Text, const char *pCaption, EReportTone Tone)
	{
		if (fg_WriteToStandardOutput(Text) || fg_WriteToParentConsole(Text))
			return;
		MessageBoxA(nullptr, Text.c_str(), pCaption, MB_OK | fg_Icon(Tone));
	}
}
