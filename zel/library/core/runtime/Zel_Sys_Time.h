#pragma once
// Platform contract: time sources of the clock.
//
// None of these functions fail or throw; the Windows calls behind them have no error paths.
#include "zel/library/core/general/Zel_ClockTime.h"

namespace NZel::NSys
{
	// The system time in UTC as 100-nanosecond intervals since 1 January 1601 (a Windows file time).
	uint64 gf_Time_GetSystemFileTime();

	// A monotonic high-resolution counter and its ticks per second (the performance counter on
	// Windows). The frequency is fixed for the life of the process and always positive.
	int64 gf_Time_GetCounter();
	int64 gf_Time_GetFrequency();

	// Seconds to add to UTC to get local time now: minus the zone's bias, and minus the daylight
	// bias as well while daylight time is in effect. Zero when the zone cannot be read.
	int64 gf_Time_GetLocalOffset();

	// The local date and time now, to the millisecond, read straight from the system: no clock
	// object and no lock, for code that must not wait for a lock another thread may hold (the
	// crash reporter).
	NTime::CCalendarTime gf_Time_GetLocalCalendar();
}
