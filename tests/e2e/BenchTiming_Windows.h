// Timing helpers of the end-to-end benchmarks: the performance counter in milliseconds,
// percentiles of a sample, and a wait that polls every millisecond so that a figure is not
// rounded up to a coarse poll.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

namespace NHushvaneTest
{
	inline LARGE_INTEGER gf_BenchNow()
	{
		LARGE_INTEGER Now;
		QueryPerformanceCounter(&Now);
		return Now;
	}

	inline double gf_BenchMs(LARGE_INTEGER Start, LARGE_INTEGER End)
	{
		LARGE_INTEGER Frequency;
		QueryPerformanceFrequency(&Frequency);
		return double(End.QuadPart - Start.QuadPart) * 1000.0 / double(Frequency.QuadPart);
	}

	// Nearest-rank percentile; 0 for no samples.
	inline double gf_Percentile(std::vector<double> Samples, double Fraction)
	{
		if (Samples.empty())
			return 0;
		std::sort(Samples.begin(), Samples.end());
		size_t Index = size_t(Fraction * double(Samples.size() - 1) + 0.5);
		return Samples[std::min(Index, Samples.size() - 1)];
	}

	template <typename t_CCondition>
	bool gf_WaitFine(t_CCondition &&Condition, DWORD TimeoutMs)
	{
		ULONGLONG End = GetTickCount64() + TimeoutMs;
		while (!Condition())
		{
			if (GetTickCount64() >= End)
				return false;
			Sleep(1);
		}
		return true;
	}
}
