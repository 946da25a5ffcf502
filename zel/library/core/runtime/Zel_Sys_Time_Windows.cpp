#include "zel/library/core/runtime/Zel_Sys_Time.h"

#include <windows.h>

namespace NZel::NSys
{
	uint64 gf_Time_GetSystemFileTime()
	{
		FILETIME FileTime;
		GetSystemTimeAsFileTime(&FileTime);
		return (uint64(FileTime.dwHighDateTime) << 32) | FileTime.dwLowDateTime;
	}

	int64 gf_Time_GetCounter()
	{
		LARGE_INTEGER Counter;
		QueryPerformanceCounter(&Counter);
		return Counter.QuadPart;
	}

	int64 gf_Time_GetFrequency()
	{
		LARGE_INTEGER Frequency;
		QueryPerformanceFrequency(&Frequency);
		return Frequency.QuadPart;
	}

	int64 gf_Time_GetLocalOffset()
	{
		// Zeroed first: a failing call then leaves a zero bias and so a zero offset.
		TIME_ZONE_INFORMATION Zone = {};
		DWORD Result = GetTimeZoneInformation(&Zone);
		int64 OffsetMinutes = -int64(Zone.Bias);
		if (Result == TIME_ZONE_ID_DAYLIGHT)
			OffsetMinutes -= Zone.DaylightBias;
		return OffsetMinutes * 60;
	}

	NTime::CCalendarTime gf_Time_GetLocalCalendar()
	{
		SYSTEMTIME Local;
		GetLocalTime(&Local);
		NTime::CCalendarTime Calendar;
		Calendar.m_Year = Local.wYear;
		Calendar.m_Month = Local.wMonth;
		Calendar.m_Day = Local.wDay;
		Calendar.m_Hour = Local.wHour;
		Calendar.m_Minute = Local.wMinute;
		Calendar.m_Second = Local.wSecond;
		Calendar.m_Fraction = NTime::CCalendarTime::fs_FractionOfMilliseconds(Local.wMilliseconds);
		return Calendar;
	}
}
