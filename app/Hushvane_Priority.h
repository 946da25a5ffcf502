#pragma once
#include "zel/library/core/general/Zel_Types.h"

namespace NHushvane
{
	// Gives process ProcessId the priority class the current worker context's table lists for
	// its executable (module base name, with extension, any letter case). A process that is
	// not readable yet (ERROR_INVALID_HANDLE, as right after its creation) is retried about
	// every millisecond for up to 5 seconds. Only a refused SetPriorityClass is logged:
	// "Failed to set priority class on <name> with process id <id>". Processes that cannot
	// be opened, have ended or are not listed are skipped silently. Windows-only.
	void gf_ApplyPriority(NZel::uint32 ProcessId);
}
