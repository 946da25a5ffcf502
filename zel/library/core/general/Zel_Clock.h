#pragma once
// The foundation library's clock: time of day counted with the high-resolution counter and
// kept disciplined to the system time.
//
// Once a second (at the first reading after it is due) the clock compares itself with the
// system time. An error beyond 60 seconds is stepped away at once; an error above 0.1 second
// is slewed, worked off over about ten seconds but never faster than half a second per second,
// so time read from it never jumps for small corrections. The local-time offset is re-read
// every 60 seconds.
//
// Where time comes from is an ICClockSource, so tests can drive the discipline with a counter
// and system time of their own; the process's clock (gf_GetClock) reads the platform's.
#include "zel/library/core/general/Zel_ClockTime.h"
#include "zel/library/core/general/Zel_Lock.h"

namespace NZel::NTime
{
	class ICClockSource
	{
	public:
		virtual ~ICClockSource() = default;
		// 100-ns intervals since 1601-01-01 UTC.
		virtual uint64 f_GetSystemFileTime() = 0;
		virtual int64 f_GetCounter() = 0;
		// Ticks per second; fixed and positive.
		virtual int64 f_GetFrequency() = 0;
		// Seconds to add to UTC for local time.
		virtual int64 f_GetLocalOffset() = 0;
	};

	// The platform's sources (NZel::NSys time functions).
	class CClockSourceSystem : public ICClockSource
	{
	public:
		uint64 f_GetSystemFileTime() override;
		int64 f_GetCounter() override;
		int64 f_GetFrequency() override;
		int64 f_GetLocalOffset() override;
	};

	class CClock
	{
	public:
		// The source must outlive the clock. Speed other than 1.0 runs the clock faster or
		// slower than real time and turns the discipline off.
		explicit CClock(ICClockSource &Source, double Speed = 1.0);
		CClock(const CClock &) = delete;
		CClock &operator=(const CClock &) = delete;

		// UTC.
		CClockTime f_GetTime();
		CClockTime f_GetLocalTime();
		// The span added to UTC for local time, as of the last zone reading.
		CClockTime f_GetLocalOffset();

		// The counter (scaled by the speed) and its ticks per second.
		int64 f_GetCounter();
		int64 f_GetFrequency() const { return fp_Frequency; }
		double f_GetFrequencyDouble() const { return fp_FrequencyDouble; }
		double f_GetSpeed() const { return fp_Speed; }
		// A wait of Seconds of clock time in real milliseconds (at least 0), for timed waits.
		uint32 f_GetWaitMilliseconds(double Seconds) const;

		// The slew in progress: the fraction of elapsed ticks being taken back (positive when
		// the clock runs ahead of the system time), 0 when none.
		double f_GetCorrectionRate();

		// Test hook: calls fCall(pContext) while holding the clock's lock, as a thread that
		// stops inside a reading holds it (code that must never wait for it, such as the crash
		// reporter, is tested against it).
		void f_CallHoldingLock(void (*fCall)(void *pContext), void *pContext);

	private:
		CClockTime fp_TimeAt(int64 Counter) const;
		void fp_Discipline(int64 Counter);
		void fp_ApplyCorrection(int64 Counter);
		void fp_ReadZone();

		ICClockSource &fp_Source;
		CClockTime fp_BaseTime;
		int64 fp_BaseCount = 0;
		int64 fp_Frequency = 1;
		double fp_FrequencyDouble = 1.0;
		CClockTime fp_LocalOffset;
		int64 fp_NextCheck = 0;
		int64 fp_NextZoneRefresh = 0;
		int64 fp_StepThreshold = 0;   // 60 seconds of ticks
		int64 fp_SlewThreshold = 0;   // 0.1 second of ticks
		double fp_CorrectionRate = 0.0;
		double fp_CorrectionCarry = 0.0;
		int64 fp_LastCorrectedCount = 0;
		double fp_Speed = 1.0;
		NThread::CLock fp_Lock;
	};

	// The process's clock, the system object's: started with it and never destroyed (threads
	// may read it until the process ends).
	CClock &gf_GetClock();
}
