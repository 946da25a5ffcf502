#include "zel/library/core/general/Zel_ClockTime.h"

#include <gtest/gtest.h>

using namespace NZel;
using namespace NZel::NTime;

namespace
{
	CCalendarTime gf_Date(int64 Year, uint32 Month, uint32 Day, uint32 Hour = 0, uint32 Minute = 0, uint32 Second = 0)
	{
		CCalendarTime Calendar;
		Calendar.m_Year = Year;
		Calendar.m_Month = Month;
		Calendar.m_Day = Day;
		Calendar.m_Hour = Hour;
		Calendar.m_Minute = Minute;
		Calendar.m_Second = Second;
		return Calendar;
	}

	struct CKnownPoint
	{
		CCalendarTime m_Calendar;
		int64 m_Seconds; // from 1601-01-01 00:00:00, computed independently
	};
}

TEST(ClockTime, KnownDatesMapBothWays)
{
	const CKnownPoint Points[] = {
		{gf_Date(1601, 1, 1), 0},
		{gf_Date(1600, 12, 31, 23, 59, 59), -1},
		{gf_Date(1970, 1, 1), 11644473600},
		{gf_Date(2026, 12, 7, 2, 40, 50), 13441084850},
		{gf_Date(2000, 2, 29, 12), 12596299200},
		{gf_Date(2100, 3, 1), 15752016000},
		{gf_Date(9999, 12, 31, 23, 59, 59), 265046774399},
		{gf_Date(1, 1, 1), -50491123200},
	};
	for (const CKnownPoint &Point : Points)
	{
		CClockTime Time;
		ASSERT_TRUE(CClockTime::fs_FromCalendar(Point.m_Calendar, Time)) << Point.m_Seconds;
		EXPECT_EQ(Time.f_GetSeconds(), Point.m_Seconds);
		EXPECT_EQ(CClockTime(Point.m_Seconds, 0).f_GetCalendar(), Point.m_Calendar) << Point.m_Seconds;
	}
}

TEST(ClockTime, LeapRules)
{
	struct CCase
	{
		int64 m_Year;
		bool m_Leap;
	};
	const CCase Cases[] = {{1600, true}, {1700, false}, {1900, false}, {2000, true}, {2004, true},
		{2023, false}, {2100, false}, {2400, true}, {0, true}, {-4, true}, {-100, false}, {-400, true}};
	for (const CCase &Case : Cases)
	{
		EXPECT_EQ(gf_IsLeapYear(Case.m_Year), Case.m_Leap) << Case.m_Year;
		CClockTime Time;
		EXPECT_EQ(CClockTime::fs_FromCalendar(gf_Date(Case.m_Year, 2, 29), Time), Case.m_Leap) << Case.m_Year;
		if (Case.m_Leap)
		{
			// The day after 29 February is 1 March.
			CCalendarTime Next = (Time + CClockTime(86400, 0)).f_GetCalendar();
			EXPECT_EQ(Next, gf_Date(Case.m_Year, 3, 1)) << Case.m_Year;
		}
		else
		{
			ASSERT_TRUE(CClockTime::fs_FromCalendar(gf_Date(Case.m_Year, 2, 28), Time));
			EXPECT_EQ((Time + CClockTime(86400, 0)).f_GetCalendar(), gf_Date(Case.m_Year, 3, 1)) << Case.m_Year;
		}
	}
}

TEST(ClockTime, MonthAndYearEndsRollOver)
{
	const CCalendarTime Ends[][2] = {
		{gf_Date(2023, 12, 31, 23, 59, 59), gf_Date(2024, 1, 1)},
		{gf_Date(2024, 1, 31, 23, 59, 59), gf_Date(2024, 2, 1)},
		{gf_Date(2024, 4, 30, 23, 59, 59), gf_Date(2024, 5, 1)},
		{gf_Date(1600, 12, 31, 23, 59, 59), gf_Date(1601, 1, 1)},
		{gf_Date(0, 12, 31, 23, 59, 59), gf_Date(1, 1, 1)},
		{gf_Date(-1, 12, 31, 23, 59, 59), gf_Date(0, 1, 1)},
	};
	for (const auto &End : Ends)
	{
		CClockTime Time;
		ASSERT_TRUE(CClockTime::fs_FromCalendar(End[0], Time));
		EXPECT_EQ((Time + CClockTime(1, 0)).f_GetCalendar(), End[1]) << End[0].m_Year;
	}
}

TEST(ClockTime, EveryDayOfFarRangeIsTheNextDate)
{
	// Walking day by day, each date must follow the previous one by the calendar's own rules;
	// this covers every month end and leap rule across many 400-year eras on both sides of 1601.
	for (int64 Start : {int64(-400000), int64(-2000), int64(140000), int64(100000000)})
	{
		int64 Year;
		uint32 Month, Day;
		gf_CivilFromDays(Start, Year, Month, Day);
		for (int64 Days = Start + 1; Days < Start + 300000; ++Days)
		{
			int64 NextYear;
			uint32 NextMonth, NextDay;
			gf_CivilFromDays(Days, NextYear, NextMonth, NextDay);
			bool bSameMonth = NextYear == Year && NextMonth == Month && NextDay == Day + 1;
			bool bNextMonth = NextDay == 1 && Day == gf_DaysInMonth(Year, Month) &&
				((NextYear == Year && NextMonth == Month + 1) || (NextYear == Year + 1 && Month == 12 && NextMonth == 1));
			ASSERT_TRUE(bSameMonth || bNextMonth) << Days << ": " << Year << "-" << Month << "-" << Day << " then "
												  << NextYear << "-" << NextMonth << "-" << NextDay;
			ASSERT_EQ(gf_DaysFromCivil(NextYear, NextMonth, NextDay), Days);
			Year = NextYear;
			Month = NextMonth;
			Day = NextDay;
		}
	}
}

TEST(ClockTime, InvalidCalendarFieldsAreRefused)
{
	CClockTime Time(5, 0);
	const CCalendarTime Bad[] = {gf_Date(2024, 0, 1), gf_Date(2024, 13, 1), gf_Date(2024, 4, 31), gf_Date(2024, 1, 0),
		gf_Date(2024, 1, 1, 24), gf_Date(2024, 1, 1, 0, 60), gf_Date(2024, 1, 1, 0, 0, 60)};
	for (const CCalendarTime &Calendar : Bad)
		EXPECT_FALSE(CClockTime::fs_FromCalendar(Calendar, Time));
	EXPECT_EQ(Time, CClockTime(5, 0));
}

TEST(ClockTime, FileTimeMappingIsExact)
{
	const uint64 FileTimes[] = {0, 1, 9999999, 10000000, 134410848501230000ull, 134410848509999999ull, 0x7FFFFFFFFFFFFFFFull};
	for (uint64 FileTime : FileTimes)
	{
		CClockTime Time = CClockTime::fs_FromFileTime(FileTime);
		EXPECT_EQ(Time.f_GetSeconds(), int64(FileTime / 10000000)) << FileTime;
		EXPECT_EQ(Time.f_GetFileTime(), FileTime) << FileTime;
	}
	// 7 December 2026, 02:40:50.123 UTC, the example of a log file name.
	CCalendarTime Calendar = CClockTime::fs_FromFileTime(134410848501230000ull).f_GetCalendar();
	EXPECT_EQ(Calendar.m_Year, 2026);
	EXPECT_EQ(Calendar.m_Month, 12u);
	EXPECT_EQ(Calendar.m_Day, 7u);
	EXPECT_EQ(Calendar.m_Hour, 2u);
	EXPECT_EQ(Calendar.m_Minute, 40u);
	EXPECT_EQ(Calendar.m_Second, 50u);
	EXPECT_EQ(Calendar.f_GetMilliseconds(), 123u);
	EXPECT_EQ(CClockTime(-5, 0).f_GetFileTime(), 0u);
}

TEST(ClockTime, ArithmeticCarriesAndBorrows)
{
	const uint64 U = gc_FractionPerSecond;
	EXPECT_EQ(CClockTime(0, U - 1) + CClockTime(0, 1), CClockTime(1, 0));
	EXPECT_EQ(CClockTime(2, U - 1) + CClockTime(3, U - 1), CClockTime(6, U - 2));
	EXPECT_EQ(CClockTime(1, 0) - CClockTime(0, 1), CClockTime(0, U - 1));
	EXPECT_EQ(-CClockTime(1, 5), CClockTime(-2, U - 5));
	EXPECT_EQ(-CClockTime(3, 0), CClockTime(-3, 0));
	EXPECT_EQ(CClockTime(0, 0) - CClockTime(0, 1), CClockTime(-1, U - 1));
	EXPECT_LT(CClockTime(-1, U - 1), CClockTime(0, 0));
	EXPECT_LT(CClockTime(4, 7), CClockTime(4, 8));
	EXPECT_LT(CClockTime(4, U - 1), CClockTime(5, 0));
	EXPECT_LT(CClockTime(1LL << 40, 0), CClockTime::fs_Never());
}

TEST(ClockTime, SpansAndFractions)
{
	EXPECT_EQ(CClockTime::fs_Span(28, 0, 0, 0), CClockTime(2419200, 0));
	EXPECT_EQ(CClockTime::fs_Span(1, 2, 3, 4).f_GetSeconds(), 93784);
	EXPECT_EQ(CClockTime::fs_Span(0, 0, 0, 5).f_GetFraction(), 0u);

	CClockTime Half = CClockTime::fs_FromSeconds(0.5);
	EXPECT_EQ(Half.f_GetSeconds(), 0);
	EXPECT_NEAR(double(Half.f_GetFraction()), gc_FractionPerSecondDouble / 2, 1e6);
	EXPECT_EQ(Half + Half, CClockTime(1, 0)); // U is even: two halves make exactly one second

	CClockTime Negative = CClockTime::fs_FromSeconds(-1.25);
	EXPECT_EQ(Negative.f_GetSeconds(), -2);
	EXPECT_NEAR(Negative.f_GetSecondsDouble(), -1.25, 1e-9);

	CCalendarTime Calendar;
	Calendar.m_Fraction = gc_FractionPerSecond - 1;
	EXPECT_EQ(Calendar.f_GetMilliseconds(), 999u);
	Calendar.m_Fraction = gc_FractionPerSecond / 1000; // just below one millisecond
	EXPECT_EQ(Calendar.f_GetMilliseconds(), 0u);
	Calendar.m_Fraction = gc_FractionPerSecond / 1000 + 1;
	EXPECT_EQ(Calendar.f_GetMilliseconds(), 1u);
}

TEST(ClockTime, MulDivIsExactForLargeOperands)
{
	struct CCase
	{
		uint64 m_Value, m_Multiplier, m_Divisor, m_Expected;
	};
	const CCase Cases[] = {
		{gc_FractionPerSecond - 1, 1000, gc_FractionPerSecond, 999},
		{9999999, gc_FractionPerSecond, 10000000, 9223371109420626294ull},
		{0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull},
		{0xFFFFFFFF00000001ull, 0xFFFFFFFF00000001ull, 0xFFFFFFFF00000002ull, 0xFFFFFFFF00000000ull},
		{3, 5, 2, 7},
		{0, 12345, 7, 0},
	};
	for (const CCase &Case : Cases)
	{
		EXPECT_EQ(gf_MulDiv(Case.m_Value, Case.m_Multiplier, Case.m_Divisor), Case.m_Expected) << Case.m_Value;
		EXPECT_EQ(gf_MulDivPortable(Case.m_Value, Case.m_Multiplier, Case.m_Divisor), Case.m_Expected) << Case.m_Value;
	}
}

TEST(ClockTime, MillisecondFractionsGiveTheirMillisecondsBack)
{
	// A fraction cut from milliseconds * (fraction per second / 1000) reads back one less for
	// most values; the middle of the millisecond reads back exactly.
	for (uint32 Milliseconds : {0u, 1u, 42u, 99u, 100u, 500u, 998u, 999u})
	{
		CCalendarTime Calendar;
		Calendar.m_Fraction = CCalendarTime::fs_FractionOfMilliseconds(Milliseconds);
		EXPECT_EQ(Calendar.f_GetMilliseconds(), Milliseconds);
		EXPECT_LT(Calendar.m_Fraction, gc_FractionPerSecond);
	}
}

