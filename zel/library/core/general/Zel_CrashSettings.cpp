#include "zel/library/core/general/Zel_CrashSettings.h"

#include "zel/library/core/general/Zel_System.h"

namespace NZel
{
	CCrashSettings &gf_GetCrashSettings()
	{
		return gf_GetSystem().f_GetCrashSettings();
	}
}
