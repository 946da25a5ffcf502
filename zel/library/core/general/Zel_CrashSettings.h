#pragma once
// What the crash reporter says and whether it may show a dialog. The entry point writes these
// before anything else runs; the reporter and the watchdog only read them.
#include "zel/library/core/general/Zel_Types.h"

namespace NZel
{
	class CCrashSettings
	{
	public:
		// Name of the program in the crash box; null means "The program".
		const char *fp_CrashProgramName = nullptr;
		// Address the user is asked to send the crash files to; null means the built-in one.
		const char *fp_CrashSupportAddress = nullptr;
		// Unattended (service mode): no dialog at all.
		bool fp_CrashNoDialog = false;
		// The Application log's source (registered with its message table) and the ids there of
		// a crash report and of the watchdog's report; without a source no event is written.
		const char *fp_CrashEventSource = nullptr;
		uint32 fp_CrashEventId = 0;
		uint32 fp_NotRespondingEventId = 0;

		static constexpr const char *mc_pDefaultSupportAddress = "support@hushvane.example";

		const char *f_GetProgramName() const
		{
			return fp_CrashProgramName ? fp_CrashProgramName : "The program";
		}

		const char *f_GetSupportAddress() const
		{
			return fp_CrashSupportAddress ? fp_CrashSupportAddress : mc_pDefaultSupportAddress;
		}
	};

	// The process's settings (one record for the whole process).
	CCrashSettings &gf_GetCrashSettings();
}
