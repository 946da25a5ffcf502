#pragma once
// CClockTime: a 128-bit point in time or span. Whole seconds are signed 64-bit; the fraction
// counts units of which gc_FractionPerSecond make one second (just under 2^63, so two
// fractions can be added without overflow).
//
// Points count seconds from 1 January 1601 00:00:00 UTC, the origin of Windows file times,
// in the proleptic Gregorian calendar; negative seconds lie before it.
#include "zel/library/core/general/Zel_Types.h"

#include <compare>

namespace NZel::NTime
{
	constexpr uint64 gc_FractionPerSecond = 9223372031757829470ull; // 0x7FFFFFFED032C55E
	constexpr double gc_FractionPerSecondDouble = 9.223372031757829e18;
	constexpr int64 gc_FileTimePerSecond = 10000000;

	// (Value * Multiplier) / Divisor without intermediate overflow, rounded down.
	// Requires Value < Divisor * 2^64 / Multiplier, true for every use here (Value < Divisor).
	uint64 gf_MulDiv(uint64 Value, uint64 Multiplier, uint64 Divisor);
	// The same without a 128-bit integer type; gf_MulDiv uses it where the compiler has none.
	uint64 gf_MulDivPortable(uint64 Value, uint64 Multiplier, uint64 Divisor);

	// Broken-down calendar fields of a point in time.
	struct CCalendarTime
	{
		int64 m_Year = 1601;
		uint32 m_Month = 1;  // 1..12
		uint32 m_Day = 1;    // 1..31
		uint32 m_Hour = 0;   // 0..23
		uint32 m_Minute = 0; // 0..59
		uint32 m_Second = 0; // 0..59
		uint64 m_Fraction = 0;

		// The fraction as whole milliseconds, cut (0..999).
		uint32 f_GetMilliseconds() const;
		// The fraction for a whole millisecond count (0..999): its middle, so that
		// f_GetMilliseconds gives it back exactly.
		static uint64 fs_FractionOfMilliseconds(uint32 Milliseconds);
		bool operator==(const CCalendarTime &Other) const = default;
	};

	class CClockTime
	{
	public:
		constexpr CClockTime() = default;
		// Fraction must be below gc_FractionPerSecond.
		constexpr CClockTime(int64 Seconds, uint64 Fraction) : fp_Seconds(Seconds), fp_Fraction(Fraction) {}

		static CClockTime fs_FromSeconds(double Seconds);
		static CClockTime fs_Span(int64 Days, int64 Hours, int64 Minutes, int64 Seconds, double Fraction = 0.0);
		static CClockTime fs_FromFileTime(uint64 FileTime);
		// Fields outside their ranges are not accepted: returns false and leaves Result alone.
		static bool fs_FromCalendar(const CCalendarTime &Calendar, CClockTime &Result);
		// A point far enough in the future to compare later than any real time.
		static CClockTime fs_Never();

		int64 f_GetSeconds() const { return fp_Seconds; }
		uint64 f_GetFraction() const { return fp_Fraction; }
		double f_GetSecondsDouble() const;
		CCalendarTime f_GetCalendar() const;
		// 100-ns intervals since 1601, cut; points before 1601 give 0.
		uint64 f_GetFileTime() const;

		CClockTime operator+(const CClockTime &Other) const;
		CClockTime operator-(const CClockTime &Other) const;
		CClockTime operator-() const;
		CClockTime &operator+=(const CClockTime &Other) { return *this = *this + Other; }
		CClockTime &operator-=(const CClockTime &Other) { return *this = *this - Other; }

		auto operator<=>(const CClockTime &Other) const = default;
		bool operator==(const CClockTime &Other) const = default;

	private:
		int64 fp_Seconds = 0;
		uint64 fp_Fraction = 0;
	};

	// Days since 1 January 1601 of a proleptic Gregorian date (negative before), and back.
	int64 gf_DaysFromCivil(int64 Year, uint32 Month, uint32 Day);
	void gf_CivilFromDays(int64 Days, int64 &Year, uint32 &Month, uint32 &Day);
	bool gf_IsLeapYear(int64 Year);
	uint32 gf_DaysInMonth(int64 Year, uint32 Month);
}
