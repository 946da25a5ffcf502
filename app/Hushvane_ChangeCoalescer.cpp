#include "app/Hushvane_ChangeCoalescer.h"

namespace NHushvane
{
	void CChangeCoalescer::f_OnChange(NZel::uint64 NowMs)
	{
		if (!fp_bPending)
			fp_FirstMs = NowMs;
		fp_bPending = true;
		fp_LastMs = NowMs;
	}

	bool CChangeCoalescer::f_IsDue(NZel::uint64 NowMs) const
	{
		// A clock read before the change was noted counts as no time passed.
		return fp_bPending && ((NowMs > fp_LastMs && NowMs - fp_LastMs >= mc_QuietMs) || (NowMs > fp_FirstMs && NowMs - fp_FirstMs >= mc_LongestWaitMs));
	}
}
