#include "app/Hushvane_FsRedirection.h"

namespace NHushvane
{
	CFsRedirectionOff::CFsRedirectionOff(ICFsRedirection &System)
		: fp_System(System)
	{
		if (!fp_System.f_IsRedirected())
			return;
		fp_pOldValue = fp_System.f_Disable();
		fp_bOff = true;
	}

	CFsRedirectionOff::~CFsRedirectionOff()
	{
		if (fp_bOff)
			fp_System.f_Revert(fp_pOldValue);
	}
}
