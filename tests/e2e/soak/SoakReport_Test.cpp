// The soak's verdict: each rule turns a run red on its own, and a steady run is green.
#include "tests/e2e/soak/SoakReport.h"

#include <gtest/gtest.h>

#include <functional>

using namespace NHvSoak;

namespace
{
	// Twelve steady intervals: progress in each, nothing lost, flat handles and memory.
	std::vector<CInterval> fg_SteadyRun()
	{
		std::vector<CInterval> Intervals(12);
		for (size_t i = 0; i < Intervals.size(); ++i)
		{
			Intervals[i].m_EndSeconds = double(10 * (i + 1));
			Intervals[i].m_Fed = 200;
			Intervals[i].m_Applied = 150;
			Intervals[i].m_Handles = 60 + std::uint32_t(i % 3); // noise of a run starting or ending
			Intervals[i].m_PrivateBytes = 8 * 1024 * 1024 + (i % 2) * 300 * 1024;
			Intervals[i].m_LogFiles = std::uint32_t(i / 2 + 1);
		}
		return Intervals;
	}

	bool fg_AnyLineContains(const CVerdict &Verdict, const char *pText)
	{
		for (const std::string &Line : Verdict.m_Lines)
			if (Line.find(pText) != std::string::npos)
				return true;
		return false;
	}
}

TEST(SoakVerdict, EachRuleTurnsTheRunRedOnItsOwn)
{
	struct CCase
	{
		const char *m_pName;
		std::function<void(std::vector<CInterval> &)> m_fSpoil;
		std::uint32_t m_ControlFailures;
		bool m_bGreen;
		const char *m_pFinding;
	};
	const CCase Cases[] = {
		{"steady", [](std::vector<CInterval> &) {}, 0, true, "launches fed 2400, applied 1800, lost 0"},
		{"lost while the driver was down is excused", [](std::vector<CInterval> &I) { I[5].m_LostDown = 4; I[5].m_NotFed = 30; }, 0, true,
			"4 lost, 30 not fed"},
		{"one launch lost while up", [](std::vector<CInterval> &I) { I[7].m_Lost = 1; }, 0, false, "FAIL launches fed"},
		{"an unlisted launch changed", [](std::vector<CInterval> &I) { I[2].m_Wrong = 1; }, 0, false, "FAIL unlisted"},
		{"an interval without progress", [](std::vector<CInterval> &I) { I[4].m_Applied = 0; }, 0, false, "FAIL intervals without progress: 1"},
		{"a failed control request", [](std::vector<CInterval> &) {}, 1, false, "FAIL failed service or driver control requests: 1"},
		{"a handle per interval in the last half",
			[](std::vector<CInterval> &I) {
				for (size_t i = 6; i < I.size(); ++i)
					I[i].m_Handles = 60 + std::uint32_t(5 * (i - 5));
			},
			0, false, "FAIL handle count growth"},
		{"growth in the first half only is warm-up",
			[](std::vector<CInterval> &I) {
				for (size_t i = 0; i < 6; ++i)
					I[i].m_Handles = std::uint32_t(20 + 7 * i);
			},
			0, true, "handle count growth over the last half: 0"},
		{"memory growing by two megabytes an interval",
			[](std::vector<CInterval> &I) {
				for (size_t i = 6; i < I.size(); ++i)
					I[i].m_PrivateBytes += (i - 5) * 2 * 1024 * 1024;
			},
			0, false, "FAIL private bytes growth"},
		{"an unreadable sample in the last half",
			[](std::vector<CInterval> &I) { I[9].m_PrivateBytes = 0; }, 0, false, "FAIL private bytes over the last half: not judged"},
	};
	for (const CCase &Case : Cases)
	{
		std::vector<CInterval> Intervals = fg_SteadyRun();
		Case.m_fSpoil(Intervals);
		CVerdict Verdict = gf_Judge(Intervals, Case.m_ControlFailures);
		EXPECT_EQ(Verdict.m_bGreen, Case.m_bGreen) << Case.m_pName;
		EXPECT_TRUE(fg_AnyLineContains(Verdict, Case.m_pFinding)) << Case.m_pName << ": no line with \"" << Case.m_pFinding << "\"";
	}
}

TEST(SoakVerdict, ARunTooShortForATrendIsNotGreen)
{
	std::vector<CInterval> Intervals = fg_SteadyRun();
	Intervals.resize(8); // four in the last half: too few to tell growth from noise
	EXPECT_FALSE(gf_Judge(Intervals, 0).m_bGreen);
	EXPECT_FALSE(gf_Judge({}, 0).m_bGreen);
}

TEST(SoakVerdict, PercentileOfLatencies)
{
	EXPECT_EQ(gf_Percentile({}, 0.5), 0);
	EXPECT_EQ(gf_Percentile({7}, 0.99), 7);
	EXPECT_EQ(gf_Percentile({5, 1, 3}, 0.5), 3);
	std::vector<double> Hundred;
	for (int i = 100; i >= 1; --i)
		Hundred.push_back(i);
	EXPECT_EQ(gf_Percentile(Hundred, 0.99), 99);
	EXPECT_EQ(gf_Percentile(Hundred, 1.0), 100);
}
