#pragma once
// The files the service runs as SYSTEM or loads into the kernel, checked for changes by anyone
// but administrators: the installation before it is registered, the driver image before it is
// deployed, and the configuration, which decides the class of every program. Windows-only.
#include "app/Hushvane_RunLog.h"
#include "app/Hushvane_UnsafePaths.h"

#include <vector>

namespace NHushvane
{
	// The program folder, the running program and the driver images beside it, for every right
	// that changes them, and each folder above the program folder for the rights that let a user
	// move it or the program folder away. Empty when only administrators can change them.
	std::vector<CUnsafePath> gf_CheckInstallation();

	// The driver image this Windows loads (when it is beside the program) and the program
	// folder. Writes one line to Log for each that anyone but administrators can change, and
	// returns false then: such an image is neither copied nor started.
	bool gf_IsDriverSourceSafe(ICRunLog &Log);

	// "config" (when it is there) and the program folder that holds it.
	std::vector<CUnsafePath> gf_CheckConfigChangers();

	// Writes one line to Log when anyone but administrators can change the configuration. Never
	// throws: a failure of the check itself is written as its own line.
	void gf_LogChangeableConfig(ICRunLog &Log);
}
