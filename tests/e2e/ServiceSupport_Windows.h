// The program's service "Hushvane" as the end-to-end tests see it: its status, control requests,
// removal by the manager's own means, and hushvane.exe run as a command.
#pragma once

#include "KvWin/KvWindowsHandles.h"

#include <windows.h>

#include <string>

namespace NHushvaneTest
{
	CKvServiceHandle gf_OpenProgramService(DWORD Access);
	bool gf_ProgramServiceExists();
	SERVICE_STATUS_PROCESS gf_QueryProgramService();
	// Waits up to 60 s for the state.
	bool gf_WaitForProgramServiceState(DWORD State);
	bool gf_ControlProgramService(DWORD Control);
	// Stops and deletes the service, waiting for its process to end, so that a test starts on a
	// machine without it.
	void gf_RemoveProgramServiceDirectly();

	// Runs hushvane.exe from Folder with the arguments and returns its exit code (or ~0u when it
	// could not be run or did not end in time). A box with the caption pAnswerCaption is answered
	// as a user would, and counted in *pBoxes. Without a display Wine shows no box: the call
	// returns at once and only the exit code tells.
	DWORD gf_RunHushvane(const std::string &Arguments, const std::string &Folder, const char *pAnswerCaption = "Error", int *pBoxes = nullptr);
}
