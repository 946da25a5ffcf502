#pragma once
// Where a window-less program's command writes its report. Windows-only.
#include <string>

namespace NHushvane
{
	enum class EReportTone
	{
		Information,
		Warning,
		Error,
	};

	// An inherited standard output (a pipe, a file, the null device) gets the text as it is;
	// without one the text goes to the console of the parent process (a command prompt started
	// the program); without that it is shown in a box with Caption, whose icon follows Tone.
	void gf_WriteReport(const std::string &Text, const char *pCaption, EReportTone Tone);
}
