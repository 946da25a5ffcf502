#pragma once
// The crash reporter: the process's unhandled-exception filter. When a thread meets an
// exception that nothing handles, it writes into the program folder a crash log
// (CrashLog_<local date>_<time>.txt: exception, address, registers, stack trace, raw stack), a
// small dump and a full dump (MiniDump_ / FullDump_...dmp), then tells the user where they are
// (unless the crash settings say nobody is there) and ends the process with the exception code.
// A breakpoint the user chooses to continue from is the one way back.
//
// Windows only: include from Windows sources.
#include <windows.h>

namespace NZel::NCrash
{
	LONG WINAPI gf_CrashFilter(EXCEPTION_POINTERS *pException);

	// Makes gf_CrashFilter the process's unhandled-exception filter. A different filter it
	// replaces is remembered as the previous one; it is never called.
	void gf_InstallCrashFilter();
	LPTOP_LEVEL_EXCEPTION_FILTER gf_GetPreviousCrashFilter();

	// Test hook: the dump types of the small and the full dump (0x144 and 0x367 unless set).
	// A dump of the whole memory takes long under Wine; tests that do not look into the full
	// dump make it as small as the other.
	void gf_SetDumpTypes(DWORD SmallDump, DWORD FullDump);
}
