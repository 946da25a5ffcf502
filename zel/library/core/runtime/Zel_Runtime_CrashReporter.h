#pragma once
// The crash reporter: the process's unhandled-exception filter. When a thread meets an
// exception that nothing handles, it writes into the program folder a crash log
// (CrashLog_<local date>_<time>.txt: exception, address, registers, stack trace, raw stack), a
// small dump and a full dump (MiniDump_ / FullDump_...dmp), then tells the user where they are
// (unless the crash settings say nobody is there) and ends the process with the exception code.
// A breakpoint the user chooses to continue from is the one way back.
//
// A report runs while the crashed thread may hold any lock of the program, the heap's and the
// clock's among them, and may have damaged the heap. So the report takes none of those locks
// and allocates nothing from the heap: the program folder is worked out when the reporter is
// installed, the texts are built in memory reserved for them then, the local time is read from
// the system, and files are written with the system's calls. The symbol engine keeps a heap
// and a lock of its own.
//
// A thread kept ready for it writes every report (it also has the stack an overflowed thread
// lacks) while the crashed thread waits, for a limited time only: a lock that keeps the report
// from going on must not keep the process alive, so after the limit the process ends with the
// exception code. The crash log is written first, before the dumps, so that a report cut short
// still leaves it. One report runs at a time; a fault inside a report ends the process at once
// with the code of the exception being reported.
//
// Windows only: include from Windows sources.
#include <windows.h>

namespace NZel::NCrash
{
	LONG WINAPI gf_CrashFilter(EXCEPTION_POINTERS *pException);

	// Makes gf_CrashFilter the process's unhandled-exception filter. A different filter it
	// replaces is remembered as the previous one; it is never called. The first call also
	// prepares what a report needs (the system object makes it, before the program's code).
	void gf_InstallCrashFilter();
	LPTOP_LEVEL_EXCEPTION_FILTER gf_GetPreviousCrashFilter();

	// Test hook: the dump types of the small and the full dump (0x144 and 0x367 unless set).
	// A dump of the whole memory takes long under Wine; tests that do not look into the full
	// dump make it as small as the other.
	void gf_SetDumpTypes(DWORD SmallDump, DWORD FullDump);

	// How long a crashed thread waits for the files of its report (60 seconds unless set).
	inline constexpr DWORD gc_DefaultReportLimitMs = 60000;
	// Test hook: another limit.
	void gf_SetReportLimit(DWORD Milliseconds);
}
