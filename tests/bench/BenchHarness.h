#pragma once
// A small benchmark harness: runs a body in a fixed number of batches and prints the median and
// best nanoseconds per iteration. 101 batches: a short burst of other load on the machine then
// moves few of them, and the median not at all. Prints figures only; never asserts on time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace NBench
{
	struct CResult
	{
		double m_MedianNs = 0;
		double m_BestNs = 0;
	};

	template <typename t_CBody>
	CResult gf_Measure(const char *pName, t_CBody &&Body, unsigned BatchSize = 1000, unsigned nBatches = 101)
	{
		std::vector<double> Samples;
		Samples.reserve(nBatches);
		for (unsigned i = 0; i < 3; ++i) // warm-up
			Body();
		for (unsigned Batch = 0; Batch < nBatches; ++Batch)
		{
			auto Start = std::chrono::steady_clock::now();
			for (unsigned i = 0; i < BatchSize; ++i)
				Body();
			auto End = std::chrono::steady_clock::now();
			Samples.push_back(std::chrono::duration<double, std::nano>(End - Start).count() / BatchSize);
		}
		std::sort(Samples.begin(), Samples.end());
		CResult Result{Samples[Samples.size() / 2], Samples.front()};
		std::printf("%-48s median %10.1f ns   best %10.1f ns\n", pName, Result.m_MedianNs, Result.m_BestNs);
		std::fflush(stdout);
		return Result;
	}

	inline void gf_Ratio(const char *pWhat, const CResult &Ours, const CResult &Theirs)
	{
		std::printf("%-48s %.2fx (theirs / ours, median)\n", pWhat, Theirs.m_MedianNs / Ours.m_MedianNs);
		std::fflush(stdout);
	}
}
