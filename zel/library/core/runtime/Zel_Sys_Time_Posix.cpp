#include "zel/library/core/runtime/Zel_Sys_Time.h"

#include <ctime>

namespace NZel::NSys
{
	namespace
	{
		// Seconds from 1601-01-01 to the Unix epoch 1970-01-01.
		constexpr uint64 gc_UnixEpochInFileTimeSeconds = 11644473600ull;
	}

	uint64 gf_Time_GetSystemFileTime()
	{
		timespec Now;
		clock_gettime(CLOCK_REALTIME, &Now);
		return (uint64(Now.tv_sec) + gc_UnixEpochInFileTimeSeconds) * 10000000ull + uint64(Now.tv_nsec) / 100;
	}

	int64 gf_Time_GetCounter()
	{
		timespec Now;
		clock_gettime(CLOCK_MONOTONIC, &Now);
		return int64(Now.tv_sec) * 1000000000ll + Now.tv_nsec;
	}

	int64 gf_Time_GetFrequency()
	{
		return 1000000000ll;
	}

	int64 gf_Time_GetLocalOffset()
	{
		time_t Now = time(nullptr);
		tm Local = {};
		if (!localtime_r(&Now, &Local))
			return 0;
		return int64(Local.tm_gmtoff);
	}

	NTime::CCalendarTime gf_Time_GetLocalCalendar()
	{
		timespec Now;
		clock_gettime(CLOCK_REALTIME, &Now);
		tm Local = {};
		NTime::CCalendarTime Calendar;
		if (!localtime_r(&Now.tv_sec, &Local))
			return Calendar;
		Calendar.m_Year = int64(Local.tm_year) + 1900;
		Calendar.m_Month = uint32(Local.tm_mon + 1);
		Calendar.m_Day = uint32(Local.tm_mday);
		Calendar.m_Hour = uint32(Local.tm_hour);
		Calendar.m_Minute = uint32(Local.tm_min);
		Calendar.m_Second = uint32(Local.tm_sec < 60 ? Local.tm_sec : 59); // a leap second is not a field value here
		Calendar.m_Fraction = NTime::CCalendarTime::fs_FractionOfMilliseconds(uint32(Now.tv_nsec / 1000000));
		return Calendar;
	}
}
