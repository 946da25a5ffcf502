#pragma once
// The text "-CheckConfig" prints, and the exit code it ends with.
#include "app/Hushvane_ConfigCheck.h"

#include <string>
#include <vector>

namespace NHushvane
{
	// A running process whose executable has an entry.
	struct CMatchingProcess
	{
		NZel::uint32 m_ProcessId = 0;
		std::string m_Name;
		NZel::uint32 m_CurrentClass = 0; // 0 when the process could not be asked
		NZel::uint32 m_NewClass = 0;
	};

	enum : int
	{
		ECheckExit_Clean = 0,
		ECheckExit_Unreadable = 1,
		ECheckExit_Warnings = 2,
	};

	// The class's priority word ("belownormal"), or its value in hex for any other value.
	std::string gf_PriorityClassText(NZel::uint32 PriorityClass);

	// The report of a configuration that was read: entries, warnings, matching processes and
	// the result. Lines end in "\r\n".
	std::string gf_FormatConfigReport(const std::string &Path, const CConfigCheck &Check, const std::vector<CMatchingProcess> &Processes);

	// The report when the configuration could not be read at all.
	std::string gf_FormatUnreadableConfig(const std::string &Path, const std::string &Reason);

	int gf_GetCheckExitCode(const CConfigCheck &Check);
}
