#pragma once
// The worker: the one thread that does the program's job. The service object owns one
// CTCPF_MainWin32: f_Start runs it (again after a pause), f_Stop(true) pauses it and returns
// when the run has ended, deleting it stops it for good.
#include "app/Hushvane_ProcessTable.h"
#include "app/Hushvane_WorkerControl.h"
#include "zel/library/core/general/Zel_Event.h"
#include "zel/library/core/general/Zel_Str.h"
#include "zel/library/core/general/Zel_System_Thread.h"
#include "zel/library/core/general/Zel_Types.h"

namespace NHushvane
{
	// Each run: a new log file with "Launching", the configuration read afresh, the driver
	// brought up, every running process given its class, then process-creation records from
	// the driver until a stop is requested. A stop is seen within about 100 ms; the run then
	// needs 200 ms more before it ends. A change of the configuration ends the run and begins
	// the next at once, as a pause and a continue would.
	class CHushvane_Main : public NZel::NThread::ICThread, private ICWorkerControl
	{
	public:
		CHushvane_Main();
		~CHushvane_Main() override;

		// Stops the kernel driver and removes its service and image, logging to a new log
		// file. Needs no running thread; never run it while a run is going on.
		void f_UninstallDrivers();

		NZel::int32 f_Execute() override;
		NZel::NStr::CStr f_GetThreadName() override;

	private:
		// One run with a context of its own; true when the configuration changed and the next
		// run is to begin at once.
		bool fp_RunOnce();
		bool f_IsStopRequested() override;
		void f_WaitForStop(NZel::uint32 Milliseconds) override;

		NZel::NThread::CEventAutoResetAggregate fp_WorkerEvent;
		// The table of the last run that could read the configuration, for a run that cannot.
		CProcessTable fp_LastTable;
		// The pause before the next run after a run an error ended.
		NZel::uint32 fp_FailedRunPauseMs = gc_FailedRunFirstPauseMs;
	};

	// The Windows flavour: the class that is instantiated.
	class CTCPF_MainWin32 : public CHushvane_Main
	{
	public:
		// A message box owned by no window, caption "Hushvane Error", error icon.
		virtual void f_ReportError(NZel::NStr::CStr Text);
	};
}
