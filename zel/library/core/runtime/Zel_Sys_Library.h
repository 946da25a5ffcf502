#pragma once
// Platform layer: loading system libraries at run time.
//
// Windows looks for a library named without a folder in the program's own folder first. A
// service runs as SYSTEM, so a library planted beside the program by anyone who may write
// to that folder would run with SYSTEM's rights the first time the program loads that name.
// The program therefore takes every library it loads at run time from the system folder
// only, and restricts the process's own search to that folder as soon as its code runs.
//
// Windows only: include from Windows sources.
#include <windows.h>

namespace NZel::NSys
{
	// From now on, libraries loaded by name in this process are looked for in the system
	// folder only. On a Windows without that setting (Windows 7 without its update
	// KB2533623) nothing changes; gf_LoadSystemLibrary still loads from the system folder.
	void gf_RestrictLibrarySearch();

	// The library pName (a file name without a folder, such as "Dbghelp.dll") from the system
	// folder, its own imports likewise; null, with the thread's last error set, when it cannot
	// be loaded from there.
	HMODULE gf_LoadSystemLibrary(const wchar_t *pName);
}
