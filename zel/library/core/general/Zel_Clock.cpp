#include "zel/library/core/general/Zel_Clock.h"
#include "zel/library/core/general/Zel_System.h"

#include "zel/library/core/runtime/Zel_Sys_Time.h"

#include <cmath>

namespace NZel::NTime
{
	uint64 CClockSourceSystem::f_GetSystemFileTime()
	{
		return NSys::gf_Time_GetSystemFileTime();
	}

	int64 CClockSourceSystem::f_GetCounter()
	{
		return NSys::gf_Time_GetCounter();
	}

	int64 CClockSourceSystem::f_GetFrequency()
	{
		return NSys::gf_Time_GetFrequency();
	}

	int64 CClockSourceSystem::f_GetLocalOffset()
	{
		return NSys::gf_Time_GetLocalOffset();
	}

	CClock::CClock(ICClockSource &Source, double Speed)
		: fp_Source(Source)
		, fp_Speed(Speed > 0.0 ? Speed : 1.0)
	{
		// System time and counter are read back to back so that they describe the same instant.
		uint64 FileTime = fp_Source.f_GetSystemFileTime();
		fp_BaseCount = fp_Source.f_GetCounter();
		fp_Frequency = fp_Source.f_GetFrequency();
		if (fp_Frequency <= 0)
			fp_Frequency = 1;
		fp_FrequencyDouble = double(fp_Frequency);
		fp_BaseTime = CClockTime::fs_FromFileTime(FileTime);
		fp_ReadZone();
		fp_NextCheck = fp_BaseCount + fp_Frequency;
		fp_NextZoneRefresh = fp_BaseCount + 60 * fp_Frequency;
		fp_StepThreshold = 60 * fp_Frequency;
		fp_SlewThreshold = fp_Frequency / 10;
		fp_LastCorrectedCount = fp_BaseCount;
	}

	void CClock::fp_ReadZone()
	{
		fp_LocalOffset = CClockTime(fp_Source.f_GetLocalOffset(), 0);
	}

	CClockTime CClock::fp_TimeAt(int64 Counter) const
	{
		int64 Elapsed = Counter - fp_BaseCount;
		if (fp_Speed != 1.0)
			Elapsed = int64(double(Elapsed) * fp_Speed);
		// Floor division, so that a counter before the base (after a backward step) still
		// gives a fraction in range.
		int64 Seconds = Elapsed / fp_Frequency;
		int64 Remainder = Elapsed % fp_Frequency;
		if (Remainder < 0)
		{
			Remainder += fp_Frequency;
			--Seconds;
		}
		return fp_BaseTime + CClockTime(Seconds, gf_MulDiv(uint64(Remainder), gc_FractionPerSecond, uint64(fp_Frequency)));
	}

	void CClock::fp_ApplyCorrection(int64 Counter)
	{
		if (fp_CorrectionRate == 0.0)
			return;
		double Shift = double(Counter - fp_LastCorrectedCount) * fp_CorrectionRate + fp_CorrectionCarry;
		double Whole = std::trunc(Shift);
		fp_BaseCount += int64(Whole);
		fp_CorrectionCarry = Shift - Whole;
		fp_LastCorrectedCount = Counter;
	}

	void CClock::fp_Discipline(int64 Counter)
	{
		// The slew in progress is brought up to date first, so the one-second check measures
		// the error that is really left.
		fp_ApplyCorrection(Counter);
		if (Counter < fp_NextCheck || fp_Speed != 1.0)
			return;
		fp_NextCheck = Counter + fp_Frequency;

		CClockTime System = CClockTime::fs_FromFileTime(fp_Source.f_GetSystemFileTime());
		CClockTime SinceBase = System - fp_BaseTime;
		// The system's elapsed time in ticks: whole seconds exactly, the fraction rounded down.
		int64 SystemTicks = SinceBase.f_GetSeconds() * fp_Frequency +
			int64(gf_MulDiv(SinceBase.f_GetFraction(), uint64(fp_Frequency), gc_FractionPerSecond));
		int64 Error = (Counter - fp_BaseCount) - SystemTicks;

		if (Error > fp_StepThreshold || Error < -fp_StepThreshold)
		{
			fp_BaseCount += Error;
			fp_CorrectionRate = 0.0;
			fp_CorrectionCarry = 0.0;
		}
		else if (Error <= fp_SlewThreshold && Error >= -fp_SlewThreshold)
		{
			fp_CorrectionRate = 0.0;
			fp_CorrectionCarry = 0.0;
		}
		else
		{
			double Rate = double(Error) / (fp_FrequencyDouble * 10.0);
			if (Rate > 0.5)
				Rate = 0.5;
			else if (Rate < -0.5)
				Rate = -0.5;
			fp_CorrectionRate = Rate;
			fp_LastCorrectedCount = Counter;
		}

		if (Counter >= fp_NextZoneRefresh)
		{
			fp_ReadZone();
			fp_NextZoneRefresh = Counter + 60 * fp_Frequency;
		}
	}

	CClockTime CClock::f_GetTime()
	{
		int64 Counter = fp_Source.f_GetCounter();
		NThread::CLockGuard Guard(fp_Lock);
		fp_Discipline(Counter);
		return fp_TimeAt(Counter);
	}

	CClockTime CClock::f_GetLocalOffset()
	{
		NThread::CLockGuard Guard(fp_Lock);
		return fp_LocalOffset;
	}

	CClockTime CClock::f_GetLocalTime()
	{
		int64 Counter = fp_Source.f_GetCounter();
		NThread::CLockGuard Guard(fp_Lock);
		fp_Discipline(Counter);
		return fp_TimeAt(Counter) + fp_LocalOffset;
	}

	int64 CClock::f_GetCounter()
	{
		int64 Counter = fp_Source.f_GetCounter();
		if (fp_Speed != 1.0)
			return int64(double(Counter) * fp_Speed);
		return Counter;
	}

	uint32 CClock::f_GetWaitMilliseconds(double Seconds) const
	{
		double Milliseconds = std::ceil(std::fabs(Seconds) * 1000.0 / fp_Speed);
		if (Milliseconds >= 4294967294.0)
			return 4294967294u; // the largest finite wait
		return uint32(Milliseconds);
	}

	double CClock::f_GetCorrectionRate()
	{
		NThread::CLockGuard Guard(fp_Lock);
		return fp_CorrectionRate;
	}

	void CClock::f_CallHoldingLock(void (*fCall)(void *pContext), void *pContext)
	{
		NThread::CLockGuard Guard(fp_Lock);
		fCall(pContext);
	}

	CClock &gf_GetClock()
	{
		return gf_GetSystem().f_GetClock();
	}
}
