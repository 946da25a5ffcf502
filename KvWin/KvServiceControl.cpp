#include "KvWin/KvServiceControl.h"

#include "zel/library/core/general/Zel_Format.h"

using NZel::NStr::CStr;

namespace
{
	constexpr NZel::uint32 gc_OwnOrSharedProcess = 0x30;
	constexpr NZel::uint32 gc_AcceptStopPauseContinue = 3;

	CStr fg_Prefix(bool LeadingBlank)
	{
		return CStr(LeadingBlank ? " [" : "[") + CKvService::fs_GetServiceName();
	}

	void fg_Report(CKvServiceStatus &Status, ICKvServiceReporter &Reporter)
	{
		NZel::uint32 ErrorCode = 0;
		if (!Reporter.f_Report(Status, ErrorCode))
			Reporter.f_DebugOutput(gf_KvServiceDebugLine(true, "] SetServiceStatus error {}\n", ErrorCode));
	}
}

CStr gf_KvServiceDebugLine(bool LeadingBlank, const char *pRest, NZel::uint32 Value)
{
	// The name goes in as text, never as part of the format, so braces in it stay braces.
	CStr Rest = CStr::CFormat(pRest) << Value;
	return fg_Prefix(LeadingBlank) + Rest;
}

CStr gf_KvServiceDebugLine(bool LeadingBlank, const char *pRest)
{
	return fg_Prefix(LeadingBlank) + CStr(pRest);
}

CKvServiceStatus gf_KvServiceInitialStatus()
{
	CKvServiceStatus Status{};
	Status.dwServiceType = gc_OwnOrSharedProcess;
	Status.dwCurrentState = EKvServiceState_StartPending;
	Status.dwControlsAccepted = gc_AcceptStopPauseContinue;
	return Status;
}

void gf_KvServiceRunStart(CKvService &Service, CKvServiceStatus &Status, ICKvServiceReporter &Reporter)
{
	int Started = Service.f_OnStart();
	Status.dwCheckPoint = 0;
	Status.dwWaitHint = 0;
	if (!Started)
	{
		Status.dwWin32ExitCode = 1;
		Status.dwCurrentState = EKvServiceState_Stopped;
		NZel::uint32 Ignored = 0;
		Reporter.f_Report(Status, Ignored);
		return;
	}
	Status.dwCurrentState = EKvServiceState_Running;
	fg_Report(Status, Reporter);
	Reporter.f_DebugOutput(gf_KvServiceDebugLine(true, "] Returning the Main Thread\n"));
}

namespace
{
	void fg_EnterPending(CKvServiceStatus &Status, NZel::uint32 State, ICKvServiceReporter &Reporter)
	{
		Status.dwCurrentState = State;
		Status.dwCheckPoint = 1;
		Status.dwWaitHint = gc_KvServiceWaitHintMs;
		fg_Report(Status, Reporter);
	}

	void fg_LeavePending(CKvServiceStatus &Status, NZel::uint32 State)
	{
		Status.dwCurrentState = State;
		Status.dwCheckPoint = 0;
		Status.dwWaitHint = 0;
	}
}

EKvServiceWork gf_KvServiceHandleControl(CKvService &Service, CKvServiceStatus &Status, ICKvServiceReporter &Reporter, NZel::uint32 Control)
{
	NZel::uint32 State = Status.dwCurrentState;
	switch (Control)
	{
	case EKvServiceControl_Stop:
		if (State == EKvServiceState_Running || State == EKvServiceState_Paused)
		{
			// A paused worker is started again first, so it is always stopped from a running
			// thread.
			fg_EnterPending(Status, EKvServiceState_StopPending, Reporter);
			return State == EKvServiceState_Paused ? EKvServiceWork::ResumeAndStop : EKvServiceWork::Stop;
		}
		if (State == EKvServiceState_PausePending)
		{
			// The pause's work is under way; it carries on to the stop when it ends.
			Status.dwCurrentState = EKvServiceState_StopPending;
			++Status.dwCheckPoint;
		}
		break;
	case EKvServiceControl_Pause:
		if (State == EKvServiceState_Running)
		{
			fg_EnterPending(Status, EKvServiceState_PausePending, Reporter);
			return EKvServiceWork::Pause;
		}
		break;
	case EKvServiceControl_Continue:
		if (State == EKvServiceState_Paused)
		{
			Service.f_OnResume();
			Status.dwCurrentState = EKvServiceState_Running;
		}
		break;
	case EKvServiceControl_Interrogate:
		break;
	default:
		Reporter.f_DebugOutput(gf_KvServiceDebugLine(true, "] Unrecognized opcode {}\n", Control));
		break;
	}
	fg_Report(Status, Reporter);
	return EKvServiceWork::None;
}

void gf_KvServiceDoWork(CKvService &Service, EKvServiceWork Work)
{
	switch (Work)
	{
	case EKvServiceWork::Pause:
		Service.f_OnPause();
		break;
	case EKvServiceWork::ResumeAndStop:
		Service.f_OnResume();
		Service.f_OnStop();
		break;
	case EKvServiceWork::Stop:
		Service.f_OnStop();
		break;
	case EKvServiceWork::None:
		break;
	}
}

void gf_KvServiceReportProgress(CKvServiceStatus &Status, ICKvServiceReporter &Reporter)
{
	if (Status.dwCurrentState != EKvServiceState_StopPending && Status.dwCurrentState != EKvServiceState_PausePending)
		return;
	++Status.dwCheckPoint;
	fg_Report(Status, Reporter);
}

EKvServiceWork gf_KvServiceFinishWork(CKvServiceStatus &Status, ICKvServiceReporter &Reporter, EKvServiceWork Work)
{
	switch (Work)
	{
	case EKvServiceWork::None:
		return EKvServiceWork::None;
	case EKvServiceWork::Pause:
		if (Status.dwCurrentState == EKvServiceState_StopPending)
			return EKvServiceWork::ResumeAndStop;
		fg_LeavePending(Status, EKvServiceState_Paused);
		fg_Report(Status, Reporter);
		return EKvServiceWork::None;
	case EKvServiceWork::Stop:
	case EKvServiceWork::ResumeAndStop:
		break;
	}
	Status.dwWin32ExitCode = 0;
	fg_LeavePending(Status, EKvServiceState_Stopped);
	fg_Report(Status, Reporter);
	Reporter.f_DebugOutput(gf_KvServiceDebugLine(true, "] Leaving MyService \n"));
	return EKvServiceWork::None;
}
