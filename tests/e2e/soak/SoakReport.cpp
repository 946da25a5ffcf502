#include "tests/e2e/soak/SoakReport.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace NHvSoak
{
	void gf_AddCounts(CInterval &To, const CInterval &From)
	{
		To.m_Fed += From.m_Fed;
		To.m_Fresh += From.m_Fresh;
		To.m_Applied += From.m_Applied;
		To.m_Lost += From.m_Lost;
		To.m_LostDown += From.m_LostDown;
		To.m_NotFed += From.m_NotFed;
		To.m_Wrong += From.m_Wrong;
	}

	double gf_Percentile(std::vector<double> Samples, double Fraction)
	{
		if (Samples.empty())
			return 0;
		std::sort(Samples.begin(), Samples.end());
		size_t Index = size_t(Fraction * double(Samples.size() - 1) + 0.5);
		return Samples[std::min(Index, Samples.size() - 1)];
	}

	std::string gf_TableHeader()
	{
		char Line[256];
		std::snprintf(Line, sizeof(Line), "%7s %5s %5s %7s %4s %9s %6s %5s %8s %8s %7s %11s %5s  %s", "time s", "fed", "fresh", "applied", "lost",
			"lost-down", "notfed", "wrong", "med ms", "p99 ms", "handles", "private KiB", "logs", "events");
		return Line;
	}

	std::string gf_TableRow(const CInterval &Interval)
	{
		char Line[512];
		std::snprintf(Line, sizeof(Line), "%7.0f %5u %5u %7u %4u %9u %6u %5u %8.2f %8.2f %7u %11" PRIu64 " %5u  %s",
			Interval.m_EndSeconds, Interval.m_Fed, Interval.m_Fresh, Interval.m_Applied, Interval.m_Lost, Interval.m_LostDown, Interval.m_NotFed, Interval.m_Wrong,
			Interval.m_MedianMs, Interval.m_P99Ms, Interval.m_Handles, Interval.m_PrivateBytes / 1024, Interval.m_LogFiles,
			Interval.m_Events.c_str());
		return Line;
	}

	namespace
	{
		template <typename t_CValue>
		std::int64_t fg_Median3(const std::vector<CInterval> &Intervals, size_t First, t_CValue &&Value)
		{
			std::int64_t Values[3] = {Value(Intervals[First]), Value(Intervals[First + 1]), Value(Intervals[First + 2])};
			std::sort(Values, Values + 3);
			return Values[1];
		}

		// Growth over the last half of the run, or false when there are too few samples (or a
		// sample could not be read) to tell.
		template <typename t_CValue>
		bool fg_Growth(const std::vector<CInterval> &Intervals, const CLimits &Limits, t_CValue &&Value, std::int64_t &Growth)
		{
			size_t Half = Intervals.size() / 2;
			if (Intervals.size() - Half < Limits.m_MinSamplesForTrend)
				return false;
			for (size_t i = Half; i < Intervals.size(); ++i)
				if (Value(Intervals[i]) == 0)
					return false;
			Growth = fg_Median3(Intervals, Intervals.size() - 3, Value) - fg_Median3(Intervals, Half, Value);
			return true;
		}
	}

	CVerdict gf_Judge(const std::vector<CInterval> &Intervals, std::uint32_t ControlFailures, const CLimits &Limits)
	{
		CVerdict Verdict;
		auto fFail = [&](const std::string &Line) {
			Verdict.m_bGreen = false;
			Verdict.m_Lines.push_back("FAIL " + Line);
		};
		char Line[256];

		if (Intervals.empty())
		{
			fFail("no interval was sampled");
			return Verdict;
		}

		CInterval Total;
		std::uint32_t Idle = 0;
		for (const CInterval &Interval : Intervals)
		{
			gf_AddCounts(Total, Interval);
			Idle += Interval.m_Applied == 0;
		}

		std::snprintf(Line, sizeof(Line), "launches fed %u, applied %u, lost %u (while the driver was down: %u lost, %u not fed)", Total.m_Fed,
			Total.m_Applied, Total.m_Lost, Total.m_LostDown, Total.m_NotFed);
		if (Total.m_Lost)
			fFail(std::string(Line) + ": launches lost while the driver was up");
		else
			Verdict.m_Lines.push_back(std::string("ok   ") + Line);

		std::snprintf(Line, sizeof(Line), "unlisted launches given a class: %u", Total.m_Wrong);
		if (Total.m_Wrong)
			fFail(Line);
		else
			Verdict.m_Lines.push_back(std::string("ok   ") + Line);

		std::snprintf(Line, sizeof(Line), "intervals without progress: %u of %zu", Idle, Intervals.size());
		if (Idle)
			fFail(Line);
		else
			Verdict.m_Lines.push_back(std::string("ok   ") + Line);

		std::snprintf(Line, sizeof(Line), "failed service or driver control requests: %u", ControlFailures);
		if (ControlFailures)
			fFail(Line);
		else
			Verdict.m_Lines.push_back(std::string("ok   ") + Line);

		struct CTrend
		{
			const char *m_pName;
			std::int64_t (*m_fValue)(const CInterval &);
			std::int64_t m_Limit;
		};
		const CTrend Trends[] = {
			{"handle count", [](const CInterval &I) { return std::int64_t(I.m_Handles); }, Limits.m_HandleGrowth},
			{"private bytes", [](const CInterval &I) { return std::int64_t(I.m_PrivateBytes); }, Limits.m_PrivateBytesGrowth},
		};
		for (const CTrend &Trend : Trends)
		{
			std::int64_t Growth = 0;
			if (!fg_Growth(Intervals, Limits, Trend.m_fValue, Growth))
			{
				std::snprintf(Line, sizeof(Line), "%s over the last half: not judged (too few readable samples)", Trend.m_pName);
				fFail(Line);
				continue;
			}
			std::snprintf(Line, sizeof(Line), "%s growth over the last half: %" PRId64 " (limit %" PRId64 ")", Trend.m_pName, Growth,
				Trend.m_Limit);
			if (Growth > Trend.m_Limit)
				fFail(Line);
			else
				Verdict.m_Lines.push_back(std::string("ok   ") + Line);
		}
		return Verdict;
	}
}
