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

void gf_KvServiceHandleControl(CKvService &Service, CKvServiceStatus &Status, ICKvServiceReporter &Reporter, NZel::uint32 Control)
{
	switch (Control)
	{
	case EKvServiceControl_Stop:
		// A paused worker is started again first, so it is always stopped from a running thread.
		if (Status.dwCurrentState == EKvServiceState_Paused)
			Service.f_OnResume();
		Service.f_OnStop();
		Status.dwWin32ExitCode = 0;
		Status.dwCurrentState = EKvServiceState_Stopped;
		Status.dwCheckPoint = 0;
		Status.dwWaitHint = 0;
		fg_Report(Status, Reporter);
		Reporter.f_DebugOutput(gf_KvServiceDebugLine(true, "] Leaving MyService \n"));
		return;
	case EKvServiceControl_Pause:
		if (Status.dwCurrentState == EKvServiceState_Running)
		{
			Service.f_OnPause();
			Status.dwCurrentState = EKvServiceState_Paused;
		}
		break;
	case EKvServiceControl_Continue:
		if (Status.dwCurrentState == EKvServiceState_Paused)
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
}
