#pragma once
// Where a run learns of launches. The driver is the fast path: the kernel reports each creation
// and the run takes its record. Where the driver cannot be brought up (no image, refused by the
// kernel, no device) or is lost during the run, the launch watcher takes over, and the driver is
// tried again from time to time. One loop drives either. Windows-only.
#include "app/Hushvane_LaunchWatcher.h"

#include <windows.h>

namespace NHushvane
{
	enum class ELaunchSource
	{
		Driver,
		Watcher,
	};

	// While watching, the driver is tried again after 5 s, then after twice the last wait, at
	// most every 5 minutes; a driver lost during a run is tried again at once.
	constexpr ULONGLONG gc_DriverRetryFirstMs = 5000;
	constexpr ULONGLONG gc_DriverRetryLongestMs = 300000;

	class CLaunchSource
	{
	public:
		CLaunchSource(CWorkerContextDriver &Context, FApplyPriority fApply);

		// Brings the driver up, or says that it could not ("Failed to initialize driver") and
		// which source the run uses instead, then gives every running process its class.
		void f_Begin();

		// One pass of the run's loop: hands over the launches since the last pass. A lost
		// driver is said once and the watcher takes over at once, sweeping first; while
		// watching, the driver is tried again when due (only the first attempt after a loss
		// writes why it failed), and when it comes up the run says "Driver up again", sweeps
		// and takes its records.
		void f_Take();

		ELaunchSource f_GetKind() const { return fp_Kind; }

	private:
		void fp_Watch(bool bLost);
		bool fp_RetryDriver();

		CWorkerContextDriver &fp_Context;
		FApplyPriority fp_fApply;
		ELaunchSource fp_Kind = ELaunchSource::Driver;
		CLaunchWatcher fp_Watcher;
		ULONGLONG fp_NextRetry = 0;
		ULONGLONG fp_RetryMs = gc_DriverRetryFirstMs;
		bool fp_bReportRetry = false;
	};
}
