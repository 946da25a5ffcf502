#include "zel/library/core/runtime/Zel_Sys_Time.h"

#include <ctime>

namespace NZel::NSys
{
	namespace
	{
		// Seconds from 1601-01-01 to the Unix epoch 1970-01-01.
		constexpr uint64 gc_UnixEpochInFileTimeSeconds = 11644473600ull;
	}

	uint64 gf_Time_GetSystemFileTime()
	{
		timespec Now;
		clock_gettime(CLOCK_REALTIME, &Now);
		return (uint64(Now.tv_sec) + gc_UnixEpochInFileTimeSeconds) * 10000000ull + uint64(Now.tv_nsec) / 100;
	}

	int64 gf_Time_GetCounter()
	{
		timespec Now;
		clock_gettime(CLOCK_MONOTONIC, &Now);
		return int64(Now.tv_sec) * 1000000000ll + Now.tv_nsec;
	}

	int64 gf_Time_GetFrequency()
	{
		return 1000000000ll;
	}

	int64 gf_Time_GetLocalOffset()
	{
		time_t Now = time(nullptr);
		tm Local = {};
		if (!localtime_r(&Now, &Local))
			return 0;
		return int64(Local.tm_gmtoff);
	}
}
