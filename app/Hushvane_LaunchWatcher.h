#pragma once
// The launch watcher: learns of new processes without the driver, by comparing the system's
// process list with the previous look. Windows-only.
#include "app/Hushvane_LaunchDelta.h"
#include "app/Hushvane_WorkerRun.h"

#include <vector>

namespace NHushvane
{
	// Between two looks: a launch waits at most this long (plus the look) for its class.
	constexpr NZel::uint32 gc_WatchIntervalMs = 100;

	class CLaunchWatcher
	{
	public:
		// Reads the process list once (one NtQuerySystemInformation call into a buffer that is
		// kept and grows only with the list) and hands every process the previous look did not
		// hold to fApply, guarded, in list order. The first look, and the first after
		// f_Forget, hands over every running process: it is the run's sweep. False, with
		// nothing handed over, when the list cannot be read.
		bool f_Look(ICRunLog &Log, FApplyPriority fApply);

		// Reads the process list into Stamps without comparing it with anything.
		bool f_Read(std::vector<CProcessStamp> &Stamps);

		void f_Forget() { fp_Delta.f_Forget(); }
		size_t f_GetKnownCount() const { return fp_Delta.f_GetKnownCount(); }

	private:
		std::vector<unsigned char> fp_Buffer;
		std::vector<CProcessStamp> fp_Stamps;
		CLaunchDelta fp_Delta;
	};
}
