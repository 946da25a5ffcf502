#pragma once
#include "zel/library/core/general/Zel_Types.h"

namespace NHushvane
{
	// Turns a burst of change notifications into one action: due once no change has come for
	// the quiet time, or, for a file that never stops changing, once the longest wait has
	// passed since the first change of the burst. Times are milliseconds of any monotonic clock.
	class CChangeCoalescer
	{
	public:
		static constexpr NZel::uint64 mc_QuietMs = 500;
		static constexpr NZel::uint64 mc_LongestWaitMs = 2000;

		void f_OnChange(NZel::uint64 NowMs);
		bool f_IsPending() const { return fp_bPending; }
		bool f_IsDue(NZel::uint64 NowMs) const;
		// Forgets the burst, after it has been acted on.
		void f_Reset() { fp_bPending = false; }

	private:
		bool fp_bPending = false;
		NZel::uint64 fp_FirstMs = 0;
		NZel::uint64 fp_LastMs = 0;
	};
}
