// Helpers of the tests that run hushvane.exe itself: the program's service "Hushvane" under
// the real service control manager, and runs of the program with a command line.
#pragma once

#include "KvWin/KvWindowsHandles.h"
#include "tests/e2e/WorkerSupport_Windows.h"

#include <windows.h>

#include <string>

namespace NHushvaneTest
{
	CKvServiceHandle gf_OpenService(DWORD Access);
	bool gf_ServiceExists();
	// Zeroed when the service cannot be asked.
	SERVICE_STATUS_PROCESS gf_QueryServiceStatus();
	// Up to 60 s.
	bool gf_WaitForServiceState(DWORD State);
	bool gf_ControlService(DWORD Control);
	// Stops and deletes the program's service by the manager's own means, waiting until its
	// process has ended and the service is gone.
	void gf_RemoveServiceDirectly();

	// True when the log file number Index (in time order) begins with "Launching".
	bool gf_HasLogWithLaunching(size_t Index);

	// Runs hushvane.exe from Folder with the arguments and returns its exit code (or ~0u when it
	// could not be run or did not end in time). A box with the caption pAnswerCaption is answered
	// as a user would, and counted in *pBoxes. Without a display Wine shows no box: the call
	// returns at once and only the exit code tells. With pOutput the program's standard output
	// is a pipe, and what it wrote lands there. With pBoxText the text of the last box answered
	// lands there.
	DWORD gf_RunHushvane(const std::string &Arguments, const std::string &Folder = gf_ProgramFolder(), const char *pAnswerCaption = "Error",
		int *pBoxes = nullptr, std::string *pOutput = nullptr, std::string *pBoxText = nullptr);

	// True when boxes can be shown (an X display): without one Wine returns from a box at once.
	bool gf_CanShowBoxes();
}
