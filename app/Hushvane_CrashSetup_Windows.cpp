#include "app/Hushvane_CrashSetup.h"

#include "app/Hushvane_RunEvents.h"
#include "zel/library/core/general/Zel_CrashSettings.h"

#include <windows.h>

#include "HushvaneEvents.h"

namespace NHushvane
{
	namespace
	{
		constexpr char gc_ProgramName[] = "Hushvane";
		constexpr char gc_ProgramSupportAddress[] = "support@hushvane.example";
		constexpr char gc_ServiceSupportAddress[] = "service-support@hushvane.example";
	}

	void gf_SetCrashSettings(ECrashMode Mode)
	{
		NZel::CCrashSettings &Settings = NZel::gf_GetCrashSettings();
		bool const bService = Mode == ECrashMode::Service;
		Settings.fp_CrashProgramName = gc_ProgramName;
		Settings.fp_CrashSupportAddress = bService ? gc_ServiceSupportAddress : gc_ProgramSupportAddress;
		Settings.fp_CrashNoDialog = bService;
		// A crash report and the watchdog's report are events of the program's source as well.
		Settings.fp_CrashEventSource = gc_EventSource;
		Settings.fp_CrashEventId = MSG_HUSHVANE_CRASH;
		Settings.fp_NotRespondingEventId = MSG_HUSHVANE_NOT_RESPONDING;
	}
}
