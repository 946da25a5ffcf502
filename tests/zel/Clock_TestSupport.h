#pragma once
// A clock source driven by the test: counter, system time and zone offset are set by hand.
#include "zel/library/core/general/Zel_Clock.h"

#include <atomic>

namespace NClockTest
{
	class CFakeClockSource : public NZel::NTime::ICClockSource
	{
	public:
		static constexpr NZel::int64 mc_Frequency = 1000;
		// 2026-12-07 02:40:50 UTC as a file time.
		static constexpr NZel::uint64 mc_Start = 134410848500000000ull;

		NZel::uint64 f_GetSystemFileTime() override { return m_FileTime.load(); }
		NZel::int64 f_GetCounter() override { return m_Counter.load(); }
		NZel::int64 f_GetFrequency() override { return mc_Frequency; }
		NZel::int64 f_GetLocalOffset() override { return m_LocalOffset.load(); }

		// Real time passes: counter and system time move together.
		void f_Advance(NZel::int64 Ticks)
		{
			m_Counter += Ticks;
			m_FileTime += NZel::uint64(Ticks) * (10000000 / mc_Frequency);
		}
		// Someone sets the system time: only the system time moves.
		void f_ShiftSystemTime(NZel::int64 Milliseconds)
		{
			m_FileTime += NZel::uint64(Milliseconds * 10000);
		}

		std::atomic<NZel::uint64> m_FileTime{mc_Start};
		std::atomic<NZel::int64> m_Counter{5000};
		std::atomic<NZel::int64> m_LocalOffset{3600};
	};

	// Seconds from the fake start to the time given.
	inline double gf_SecondsSinceStart(const NZel::NTime::CClockTime &Time)
	{
		return (Time - NZel::NTime::CClockTime::fs_FromFileTime(CFakeClockSource::mc_Start)).f_GetSecondsDouble();
	}
}
