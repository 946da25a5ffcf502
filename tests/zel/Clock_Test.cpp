#include "zel/library/core/general/Zel_Clock.h"

#include "tests/zel/Clock_TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace NZel;
using namespace NZel::NTime;
using NClockTest::CFakeClockSource;
using NClockTest::gf_SecondsSinceStart;

namespace
{
	double gf_SystemSeconds(const CFakeClockSource &Source)
	{
		return double(int64(Source.m_FileTime.load() - CFakeClockSource::mc_Start)) / 1e7;
	}
}

TEST(Clock, StartsAtTheSystemTimeAndCountsWithTheCounter)
{
	CFakeClockSource Source;
	CClock Clock(Source);
	EXPECT_EQ(Clock.f_GetTime(), CClockTime::fs_FromFileTime(CFakeClockSource::mc_Start));
	Source.f_Advance(250);
	EXPECT_DOUBLE_EQ(gf_SecondsSinceStart(Clock.f_GetTime()), 0.25);
	EXPECT_EQ(Clock.f_GetFrequency(), 1000);
	EXPECT_EQ(Clock.f_GetCounter(), 5250);
	EXPECT_EQ(Clock.f_GetLocalTime() - Clock.f_GetTime(), CClockTime(3600, 0));
	EXPECT_EQ(Clock.f_GetCorrectionRate(), 0.0);
}

TEST(Clock, JumpBeyondAMinuteIsSteppedAtTheNextCheck)
{
	for (int64 Jump : {int64(120000), int64(-90000)})
	{
		CFakeClockSource Source;
		CClock Clock(Source);
		Source.f_Advance(900);
		Source.f_ShiftSystemTime(Jump);
		// The one-second check is not yet due: the jump does not show.
		EXPECT_NEAR(gf_SecondsSinceStart(Clock.f_GetTime()), 0.9, 1e-9) << Jump;
		Source.f_Advance(100);
		// Due now: the clock equals the system time at once.
		EXPECT_NEAR(gf_SecondsSinceStart(Clock.f_GetTime()), gf_SystemSeconds(Source), 1e-3) << Jump;
		EXPECT_EQ(Clock.f_GetCorrectionRate(), 0.0);
		Source.f_Advance(500);
		EXPECT_NEAR(gf_SecondsSinceStart(Clock.f_GetTime()), gf_SystemSeconds(Source), 1e-3) << Jump;
	}
}

TEST(Clock, SmallErrorsAreSlewedAtMostHalfASecondPerSecond)
{
	struct CCase
	{
		int64 m_ShiftMs;
		double m_ExpectedRate; // at the first check
	};
	// The clock runs behind when the system time moves forward: a negative rate speeds it up.
	const CCase Cases[] = {{3000, -0.3}, {-3000, 0.3}, {10000, -0.5}, {-59000, 0.5}, {1000, -0.1}};
	for (const CCase &Case : Cases)
	{
		CFakeClockSource Source;
		CClock Clock(Source);
		Source.f_ShiftSystemTime(Case.m_ShiftMs);
		Source.f_Advance(1000);
		CClockTime Previous = Clock.f_GetTime();
		EXPECT_NEAR(Clock.f_GetCorrectionRate(), Case.m_ExpectedRate, 1e-9) << Case.m_ShiftMs;
		// No step: the clock still reads about its own time, not the system's.
		EXPECT_NEAR(gf_SecondsSinceStart(Previous), 1.0, 1e-3) << Case.m_ShiftMs;

		for (int Step = 0; Step < 3000; ++Step)
		{
			Source.f_Advance(100);
			CClockTime Now = Clock.f_GetTime();
			double Advance = (Now - Previous).f_GetSecondsDouble();
			ASSERT_GE(Advance, 0.05 - 1e-3) << Case.m_ShiftMs << " step " << Step;
			ASSERT_LE(Advance, 0.15 + 1e-3) << Case.m_ShiftMs << " step " << Step;
			Previous = Now;
		}
		// Five minutes later the error is worked off and the slew has ended.
		EXPECT_NEAR(gf_SecondsSinceStart(Previous), gf_SystemSeconds(Source), 0.1) << Case.m_ShiftMs;
		EXPECT_EQ(Clock.f_GetCorrectionRate(), 0.0) << Case.m_ShiftMs;
	}
}

TEST(Clock, ErrorsUpToATenthOfASecondAreLeftAlone)
{
	CFakeClockSource Source;
	CClock Clock(Source);
	Source.f_ShiftSystemTime(100);
	for (int Step = 0; Step < 50; ++Step)
	{
		Source.f_Advance(100);
		Clock.f_GetTime();
		EXPECT_EQ(Clock.f_GetCorrectionRate(), 0.0);
	}
	EXPECT_NEAR(gf_SecondsSinceStart(Clock.f_GetTime()), 5.0, 1e-9);
}

TEST(Clock, ZoneChangeShowsWithinAMinute)
{
	CFakeClockSource Source;
	CClock Clock(Source);
	Source.f_Advance(10000);
	Source.m_LocalOffset = 7200; // daylight time begins
	EXPECT_EQ(Clock.f_GetLocalOffset(), CClockTime(3600, 0));
	bool bSeen = false;
	for (int Step = 0; Step < 60 && !bSeen; ++Step)
	{
		Source.f_Advance(1000);
		bSeen = Clock.f_GetLocalTime() - Clock.f_GetTime() == CClockTime(7200, 0);
	}
	EXPECT_TRUE(bSeen);
	EXPECT_EQ(Clock.f_GetLocalOffset(), CClockTime(7200, 0));
}

TEST(Clock, SpeedScalesTimeAndWaits)
{
	CFakeClockSource Source;
	CClock Clock(Source, 2.0);
	Source.f_Advance(1500);
	Source.f_ShiftSystemTime(100000); // no discipline at another speed
	EXPECT_NEAR(gf_SecondsSinceStart(Clock.f_GetTime()), 3.0, 1e-9);
	EXPECT_EQ(Clock.f_GetWaitMilliseconds(1.0), 500u);
	EXPECT_EQ(Clock.f_GetWaitMilliseconds(-1.0), 500u);

	CClock Normal(Source);
	EXPECT_EQ(Normal.f_GetWaitMilliseconds(0.0), 0u);
	EXPECT_EQ(Normal.f_GetWaitMilliseconds(0.0001), 1u); // never rounds a real wait down to a spin
	EXPECT_EQ(Normal.f_GetWaitMilliseconds(5.0), 5000u);
}

TEST(Clock, ProcessClockFollowsTheSystemTime)
{
	CClockSourceSystem System;
	CClockTime Now = gf_GetClock().f_GetTime();
	CClockTime SystemNow = CClockTime::fs_FromFileTime(System.f_GetSystemFileTime());
	EXPECT_LT(std::fabs((Now - SystemNow).f_GetSecondsDouble()), 1.0);
	EXPECT_GE(Now.f_GetCalendar().m_Year, 2020);
	EXPECT_GT(gf_GetClock().f_GetFrequency(), 0);
}
