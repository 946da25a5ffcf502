#pragma once
#include "zel/library/core/general/Zel_Types.h"

namespace NHushvane
{
	// Gives process ProcessId the priority class the current worker context's table lists for
	// its executable: the last element of its image path (file name with extension, any letter
	// case), which is readable from the moment the process exists, also while it is held
	// suspended. Only when the image path cannot be read is the module base name used, retried
	// about every millisecond for up to 5 seconds while the process is not readable yet. Only
	// a refused SetPriorityClass on a living process is logged: "Failed to set priority class
	// on <name> with process id <id>", with the same name. Processes that cannot be opened,
	// have ended or are not listed are skipped silently. Windows-only.
	void gf_ApplyPriority(NZel::uint32 ProcessId);
}
