// The soak's figures per sampling interval, the table they print as, and the verdict over a
// whole run. Portable: the rules are checked natively, the load runs under Windows (hvsoak).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace NHvSoak
{
	// One sampling interval (10 s): what the load did in it and what the service looked like at
	// its end.
	struct CInterval
	{
		double m_EndSeconds = 0;
		std::uint32_t m_Fed = 0;          // creations fed through the driver
		std::uint32_t m_Fresh = 0;        // of those, processes started for the feed (the others
		                                  // are earlier ones set back to normal and fed again)
		std::uint32_t m_Applied = 0;      // listed launches that got their class
		std::uint32_t m_Lost = 0;         // listed launches that never got it, driver up
		std::uint32_t m_LostDown = 0;     // the same while the driver was down or coming back
		std::uint32_t m_NotFed = 0;       // launches whose feed failed: no driver to take it
		std::uint32_t m_Wrong = 0;        // unlisted launches whose class was changed
		double m_MedianMs = 0;            // feed-to-class latency of the applied ones
		double m_P99Ms = 0;
		std::uint32_t m_Handles = 0;      // hushvane.exe's handle count (0: unreadable)
		std::uint64_t m_PrivateBytes = 0; // hushvane.exe's private bytes (0: unreadable)
		std::uint32_t m_LogFiles = 0;     // files in the Log folder
		std::string m_Events;             // what the controller did in the interval
	};

	// Adds From's counts of launches to To's.
	void gf_AddCounts(CInterval &To, const CInterval &From);

	// Latency percentile (0..1) of a set of milliseconds; 0 for none.
	double gf_Percentile(std::vector<double> Samples, double Fraction);

	std::string gf_TableHeader();
	std::string gf_TableRow(const CInterval &Interval);

	struct CVerdict
	{
		bool m_bGreen = true;
		std::vector<std::string> m_Lines; // one finding per line, failures first marked "FAIL"
	};

	// Limits of "flat": growth over the last half of the run, median of its last three samples
	// against the median of its first three.
	struct CLimits
	{
		std::int64_t m_HandleGrowth = 12;
		std::int64_t m_PrivateBytesGrowth = 4 * 1024 * 1024;
		std::uint32_t m_MinSamplesForTrend = 6;
	};

	// Nothing lost while the driver was up, no unlisted launch changed, every interval with
	// progress, handles and private bytes flat over the last half.
	CVerdict gf_Judge(const std::vector<CInterval> &Intervals, std::uint32_t ControlFailures, const CLimits &Limits = CLimits());
}
