#pragma once
#include "zel/library/core/general/Zel_Types.h"

namespace NHushvane
{
	constexpr NZel::uint32 gc_WorkerWaitMs = 100;
	constexpr NZel::uint32 gc_WorkerEndPauseMs = 200;
	// After a run an error ended: 5 s before the next, doubling while runs keep failing, at
	// most 5 minutes.
	constexpr NZel::uint32 gc_FailedRunFirstPauseMs = 5000;
	constexpr NZel::uint32 gc_FailedRunLongestPauseMs = 300000;

	// What a run asks of the thread that carries it.
	class ICWorkerControl
	{
	public:
		// Read once per pass of the loop.
		virtual bool f_IsStopRequested() = 0;
		// Waits up to Milliseconds, returning early when a stop is requested. Paces the loop
		// when the driver gave no event to wait on.
		virtual void f_WaitForStop(NZel::uint32 Milliseconds) = 0;

	protected:
		~ICWorkerControl() = default;
	};
}
