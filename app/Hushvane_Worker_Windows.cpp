#include "app/Hushvane_Worker.h"
#include "app/Hushvane_Config.h"
#include "app/Hushvane_DriverDeploy.h"
#include "app/Hushvane_Priority.h"
#include "app/Hushvane_WorkerContext.h"
#include "app/Hushvane_WorkerRun.h"
#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_Format.h"
#include "zel/library/core/general/Zel_Lock.h"

#include <windows.h>

#include <optional>

namespace NHushvane
{
	using NZel::NStr::CStr;
	using NZel::int32;

	CHushvane_Main::CHushvane_Main() = default;

	CHushvane_Main::~CHushvane_Main()
	{
		// The body uses fp_WorkerEvent: it must have ended before the members go.
		f_Stop(true);
	}

	CStr CHushvane_Main::f_GetThreadName()
	{
		return CStr("Hushvane Main");
	}

	bool CHushvane_Main::f_IsStopRequested()
	{
		NZel::NThread::CLockGuard Guard(fp_Lock);
		return fp_State == NZel::NThread::EThreadState::StopRequested;
	}

	void CHushvane_Main::f_WaitForStop(NZel::uint32 Milliseconds)
	{
		// f_Stop signals fp_WakeEvent, which forwards to fp_WorkerEvent while the body runs.
		fp_WorkerEvent.f_WaitTimeout(Milliseconds);
	}

	int32 CHushvane_Main::f_Execute()
	{
		fp_WakeEvent.f_Link(fp_WorkerEvent);
		while (fp_RunOnce() && !f_IsStopRequested())
		{
		}
		fp_WorkerEvent.f_Unlink();
		return 0;
	}

	bool CHushvane_Main::fp_RunOnce()
	{
		std::optional<CWorkerContext> Context;
		try
		{
			Context.emplace();
		}
		catch (...)
		{
			// Without a log there is nothing to report to; the run cannot go on.
		}
		if (!Context)
		{
			Sleep(gc_WorkerEndPauseMs);
			return false;
		}
		ULONGLONG Start = GetTickCount64();
		CStr Failure;
		EWorkerRunEnd End = gf_RunWorker(*Context, *this, gf_ApplyPriority, &fp_LastTable, &Failure);
		if (End == EWorkerRunEnd::ConfigChanged)
			return true;
		if (End == EWorkerRunEnd::Stopped || f_IsStopRequested())
		{
			Sleep(gc_WorkerEndPauseMs);
			return false;
		}
		// An error ended the run while the service is meant to be working: a new run begins
		// after a pause that doubles while runs keep failing at once, so that a lasting fault
		// neither spins nor leaves the service running with nothing applied.
		if (GetTickCount64() - Start > gc_FailedRunLongestPauseMs)
			fp_FailedRunPauseMs = gc_FailedRunFirstPauseMs;
		NZel::uint32 PauseMs = fp_FailedRunPauseMs;
		fp_FailedRunPauseMs = PauseMs * 2 < gc_FailedRunLongestPauseMs ? PauseMs * 2 : gc_FailedRunLongestPauseMs;
		Context->f_ReportEvent(ERunEvent::RunFailed, {Failure, CStr::CFormat("{}") << PauseMs / 1000});
		Context.reset();
		f_WaitForStop(PauseMs);
		return true;
	}

	void CHushvane_Main::f_UninstallDrivers()
	{
		try
		{
			CWorkerContext Context;
			gf_RunGuarded(Context, [&] { gf_UninstallDriver(Context); });
		}
		catch (...)
		{
			// The log itself could not be opened: nothing to report to.
		}
	}

	void CTCPF_MainWin32::f_ReportError(CStr Text)
	{
		MessageBoxA(nullptr, Text.f_GetStr(), "Hushvane Error", MB_OK | MB_ICONERROR);
	}
}
