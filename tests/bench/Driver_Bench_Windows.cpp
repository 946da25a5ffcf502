// Throughput of the driver's record path through the real device, with the test image loaded as
// a kernel service: reports handed to the process-notify routine and read back one per request by
// a single reader. Prints figures only.
#include "driver/Hushvane_Ring.h"
#include "driver/Hushvane_Shared.h"
#include "tests/bench/BenchHarness.h"
#include "tests/driver/support/TestDriverClient_Windows.h"
#include "tests/driver/support/TestKernelService_Windows.h"

#include <cstdint>
#include <cstdio>

using namespace NHushvaneTest;

namespace
{
	void fg_PrintRate(const char *pWhat, const NBench::CResult &Result, double PerIteration, const char *pUnit = "records/s")
	{
		std::printf("%-48s %10.0f %s (median)\n", pWhat, 1e9 * PerIteration / Result.m_MedianNs, pUnit);
		std::fflush(stdout);
	}

	// The ring operations alone, as the callback and the request run them under the lock.
	void fg_BenchRing()
	{
		struct CState
		{
			PROCESS_EVENT_RECORD Records[128];
			LONG WriteIndex;
			LONG ReadIndex;
			LONG Count;
		} State{};
		PROCESS_EVENT_RECORD Record{};
		volatile ULONG_PTR Sink = 0;
		std::uintptr_t Id = 0;
		auto Result = NBench::gf_Measure(
			"ring store + take (no lock, no device)",
			[&]
			{
				Record.ProcessId = reinterpret_cast<HANDLE>(++Id);
				NHushvane::NRing::gf_Store(State, Record);
				// Keep the compiler from folding the store into the take.
				asm volatile("" : : "g"(&State) : "memory");
				NHushvane::NRing::gf_Take(State, [&](const PROCESS_EVENT_RECORD &Oldest) { Sink = Sink + reinterpret_cast<ULONG_PTR>(Oldest.ProcessId); });
				asm volatile("" : : "g"(&State) : "memory");
			},
			100000
		);
		fg_PrintRate("ring store + take", Result, 1);
	}
}

int main()
{
	fg_BenchRing();

	CTestKernelService Service("HushvaneDriverBench", HV_TEST_DRIVER_IMAGE,
#ifdef _WIN64
		"HushvaneBench.x64.sys"
#else
		"HushvaneBench.x86.sys"
#endif
	);
	if (!Service.f_IsInstalled() || !Service.f_Start())
	{
		std::printf("cannot load the test driver: %s\n", Service.f_GetError().c_str());
		return 1;
	}
	CKvFileHandle Device = gf_OpenHushvaneDevice();
	if (!Device.f_IsValid())
	{
		std::printf("cannot open the device (error %lu)\n", GetLastError());
		return 1;
	}

	PROCESS_EVENT_RECORD Record;
	std::uint64_t Id = 0;
	bool bAllOk = true;

	auto RoundTrip = NBench::gf_Measure(
		"feed one + read one (two requests)",
		[&]
		{
			bAllOk &= gf_FeedProcessEvent(Device.f_Get(), 4, ++Id, true);
			bAllOk &= gf_ReadProcessEvent(Device.f_Get(), &Record, sizeof(Record));
		},
		200, 21
	);
	fg_PrintRate("feed one + read one", RoundTrip, 1);

	auto Burst = NBench::gf_Measure(
		"feed 128 then read 128 (256 requests)",
		[&]
		{
			for (int i = 0; i < 128; ++i)
				bAllOk &= gf_FeedProcessEvent(Device.f_Get(), 4, ++Id, true);
			for (int i = 0; i < 128; ++i)
				bAllOk &= gf_ReadProcessEvent(Device.f_Get(), &Record, sizeof(Record));
		},
		2, 21
	);
	fg_PrintRate("feed 128 then read 128", Burst, 128);

	auto Empty = NBench::gf_Measure(
		"read from an empty ring (refused request)",
		[&] { bAllOk &= !gf_ReadProcessEvent(Device.f_Get(), &Record, sizeof(Record)); },
		200, 21
	);
	fg_PrintRate("empty-ring requests", Empty, 1, "requests/s");

	if (!bAllOk)
	{
		std::printf("some requests did not behave as expected: figures are not valid\n");
		return 1;
	}
	return 0;
}
