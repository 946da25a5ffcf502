#include "zel/library/core/general/Zel_CrashSettings.h"

namespace NZel
{
	CCrashSettings &gf_GetCrashSettings()
	{
		// Made on first use, so it is there whenever the reporter runs, even during start-up.
		static CCrashSettings s_Settings;
		return s_Settings;
	}
}
