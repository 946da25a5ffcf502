#include "app/Hushvane_CrashSetup.h"

#include "zel/library/core/general/Zel_CrashSettings.h"

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
	}
}
