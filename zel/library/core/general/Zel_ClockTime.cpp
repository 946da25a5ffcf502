#include "zel/library/core/general/Zel_ClockTime.h"

#include <cmath>

namespace NZel::NTime
{
	namespace
	{
		constexpr int64 gc_SecondsPerDay = 86400;
		constexpr int64 gc_DaysPer400Years = 146097;
		// Days from 0000-03-01 (the start of the shifted year used below) to 1601-01-01.
		constexpr int64 gc_DaysTo1601 = 584694;

		int64 gf_FloorDiv(int64 Value, int64 Divisor)
		{
			int64 Quotient = Value / Divisor;
			if ((Value % Divisor) != 0 && ((Value < 0) != (Divisor < 0)))
				--Quotient;
			return Quotient;
		}
	}

	uint64 gf_MulDivPortable(uint64 Value, uint64 Multiplier, uint64 Divisor)
	{
		// Forms the 128-bit product from 32-bit halves and divides it bit by bit: for targets
		// without a 128-bit integer (32-bit ones).
		uint64 aLo = Value & 0xFFFFFFFFu, aHi = Value >> 32;
		uint64 bLo = Multiplier & 0xFFFFFFFFu, bHi = Multiplier >> 32;
		uint64 LoLo = aLo * bLo, HiLo = aHi * bLo, LoHi = aLo * bHi, HiHi = aHi * bHi;
		uint64 Cross = (LoLo >> 32) + (HiLo & 0xFFFFFFFFu) + (LoHi & 0xFFFFFFFFu);
		uint64 High = HiHi + (HiLo >> 32) + (LoHi >> 32) + (Cross >> 32);
		uint64 Low = (Cross << 32) | (LoLo & 0xFFFFFFFFu);

		uint64 Quotient = 0;
		uint64 Remainder = High % Divisor;
		for (int Bit = 63; Bit >= 0; --Bit)
		{
			bool bCarry = (Remainder >> 63) != 0;
			Remainder = (Remainder << 1) | ((Low >> Bit) & 1);
			if (bCarry || Remainder >= Divisor)
			{
				Remainder -= Divisor;
				Quotient |= uint64(1) << Bit;
			}
		}
		return Quotient;
	}

	uint64 gf_MulDiv(uint64 Value, uint64 Multiplier, uint64 Divisor)
	{
#ifdef __SIZEOF_INT128__
		return uint64((unsigned __int128)Value * Multiplier / Divisor);
#else
		return gf_MulDivPortable(Value, Multiplier, Divisor);
#endif
	}

	uint32 CCalendarTime::f_GetMilliseconds() const
	{
		return uint32(gf_MulDiv(m_Fraction, 1000, gc_FractionPerSecond));
	}

	uint64 CCalendarTime::fs_FractionOfMilliseconds(uint32 Milliseconds)
	{
		return gf_MulDiv(2 * uint64(Milliseconds) + 1, gc_FractionPerSecond, 2000);
	}

	bool gf_IsLeapYear(int64 Year)
	{
		return (Year % 4 == 0 && Year % 100 != 0) || Year % 400 == 0;
	}

	uint32 gf_DaysInMonth(int64 Year, uint32 Month)
	{
		static const uint32 gc_Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
		if (Month == 2 && gf_IsLeapYear(Year))
			return 29;
		return gc_Days[(Month - 1) % 12];
	}

	// The shifted-year method: years start on 1 March, so the leap day is the last day of a
	// year and month lengths repeat in a fixed 5-month pattern; eras of 400 years make the
	// arithmetic exact for negative years too.
	int64 gf_DaysFromCivil(int64 Year, uint32 Month, uint32 Day)
	{
		Year -= Month <= 2;
		int64 Era = gf_FloorDiv(Year, 400);
		int64 YearOfEra = Year - Era * 400;
		int64 ShiftedMonth = Month > 2 ? Month - 3 : Month + 9;
		int64 DayOfYear = (153 * ShiftedMonth + 2) / 5 + Day - 1;
		int64 DayOfEra = YearOfEra * 365 + YearOfEra / 4 - YearOfEra / 100 + DayOfYear;
		return Era * gc_DaysPer400Years + DayOfEra - gc_DaysTo1601;
	}

	void gf_CivilFromDays(int64 Days, int64 &Year, uint32 &Month, uint32 &Day)
	{
		Days += gc_DaysTo1601;
		int64 Era = gf_FloorDiv(Days, gc_DaysPer400Years);
		int64 DayOfEra = Days - Era * gc_DaysPer400Years;
		int64 YearOfEra = (DayOfEra - DayOfEra / 1460 + DayOfEra / 36524 - DayOfEra / 146096) / 365;
		int64 DayOfYear = DayOfEra - (365 * YearOfEra + YearOfEra / 4 - YearOfEra / 100);
		int64 ShiftedMonth = (5 * DayOfYear + 2) / 153;
		Day = uint32(DayOfYear - (153 * ShiftedMonth + 2) / 5 + 1);
		Month = uint32(ShiftedMonth < 10 ? ShiftedMonth + 3 : ShiftedMonth - 9);
		Year = YearOfEra + Era * 400 + (Month <= 2);
	}

	CClockTime CClockTime::fs_FromSeconds(double Seconds)
	{
		double Whole = std::floor(Seconds);
		// The unit is not representable in a double; scaling an exact 53-bit binary fraction by
		// it in integers keeps halves, quarters and the like exact.
		constexpr double gc_TwoTo53 = 9007199254740992.0;
		uint64 Mantissa = uint64((Seconds - Whole) * gc_TwoTo53);
		if (Mantissa >= uint64(gc_TwoTo53))
			Mantissa = uint64(gc_TwoTo53) - 1;
		return CClockTime(int64(Whole), gf_MulDiv(Mantissa, gc_FractionPerSecond, uint64(gc_TwoTo53)));
	}

	CClockTime CClockTime::fs_Span(int64 Days, int64 Hours, int64 Minutes, int64 Seconds, double Fraction)
	{
		return CClockTime(((Days * 24 + Hours) * 60 + Minutes) * 60 + Seconds, 0) + fs_FromSeconds(Fraction);
	}

	CClockTime CClockTime::fs_FromFileTime(uint64 FileTime)
	{
		// Rounded up, so that converting back (rounded down) gives the same file time again and
		// whole milliseconds of a file time stay whole.
		uint64 Remainder = FileTime % gc_FileTimePerSecond;
		uint64 Fraction = gf_MulDiv(Remainder, gc_FractionPerSecond, gc_FileTimePerSecond);
		if (gf_MulDiv(Fraction, gc_FileTimePerSecond, gc_FractionPerSecond) < Remainder)
			++Fraction;
		return CClockTime(int64(FileTime / gc_FileTimePerSecond), Fraction);
	}

	bool CClockTime::fs_FromCalendar(const CCalendarTime &Calendar, CClockTime &Result)
	{
		if (Calendar.m_Month < 1 || Calendar.m_Month > 12 || Calendar.m_Day < 1 ||
			Calendar.m_Day > gf_DaysInMonth(Calendar.m_Year, Calendar.m_Month) || Calendar.m_Hour > 23 ||
			Calendar.m_Minute > 59 || Calendar.m_Second > 59 || Calendar.m_Fraction >= gc_FractionPerSecond)
			return false;
		int64 Days = gf_DaysFromCivil(Calendar.m_Year, Calendar.m_Month, Calendar.m_Day);
		int64 Seconds = Days * gc_SecondsPerDay + Calendar.m_Hour * 3600 + Calendar.m_Minute * 60 + Calendar.m_Second;
		Result = CClockTime(Seconds, Calendar.m_Fraction);
		return true;
	}

	CClockTime CClockTime::fs_Never()
	{
		return CClockTime(INT64_MAX, gc_FractionPerSecond - 1);
	}

	double CClockTime::f_GetSecondsDouble() const
	{
		return double(fp_Seconds) + double(fp_Fraction) / gc_FractionPerSecondDouble;
	}

	CCalendarTime CClockTime::f_GetCalendar() const
	{
		CCalendarTime Result;
		int64 Days = gf_FloorDiv(fp_Seconds, gc_SecondsPerDay);
		int64 SecondOfDay = fp_Seconds - Days * gc_SecondsPerDay;
		gf_CivilFromDays(Days, Result.m_Year, Result.m_Month, Result.m_Day);
		Result.m_Hour = uint32(SecondOfDay / 3600);
		Result.m_Minute = uint32(SecondOfDay / 60 % 60);
		Result.m_Second = uint32(SecondOfDay % 60);
		Result.m_Fraction = fp_Fraction;
		return Result;
	}

	uint64 CClockTime::f_GetFileTime() const
	{
		if (fp_Seconds < 0)
			return 0;
		return uint64(fp_Seconds) * gc_FileTimePerSecond + gf_MulDiv(fp_Fraction, gc_FileTimePerSecond, gc_FractionPerSecond);
	}

	CClockTime CClockTime::operator+(const CClockTime &Other) const
	{
		uint64 Fraction = fp_Fraction + Other.fp_Fraction; // both below 2^63: cannot overflow
		int64 Seconds = fp_Seconds + Other.fp_Seconds;
		if (Fraction >= gc_FractionPerSecond)
		{
			Fraction -= gc_FractionPerSecond;
			++Seconds;
		}
		return CClockTime(Seconds, Fraction);
	}

	CClockTime CClockTime::operator-() const
	{
		if (fp_Fraction == 0)
			return CClockTime(-fp_Seconds, 0);
		return CClockTime(-fp_Seconds - 1, gc_FractionPerSecond - fp_Fraction);
	}

	CClockTime CClockTime::operator-(const CClockTime &Other) const
	{
		return *this + (-Other);
	}
}
