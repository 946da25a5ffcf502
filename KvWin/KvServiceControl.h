#pragma once
// The service host's state machine, kept free of Windows so that every transition can be checked
// without a service control manager: the service main function's start and the control
// handler's four codes, each followed by the status report the manager expects.
#include "KvWin/KvService.h"
#include "zel/library/core/general/Zel_Str.h"
#include "zel/library/core/general/Zel_Types.h"

// Same layout as the Windows SERVICE_STATUS record (checked where the two meet).
struct CKvServiceStatus
{
	NZel::uint32 dwServiceType;
	NZel::uint32 dwCurrentState;
	NZel::uint32 dwControlsAccepted;
	NZel::uint32 dwWin32ExitCode;
	NZel::uint32 dwServiceSpecificExitCode;
	NZel::uint32 dwCheckPoint;
	NZel::uint32 dwWaitHint;
};

enum EKvServiceState : NZel::uint32
{
	EKvServiceState_Stopped = 1,
	EKvServiceState_StartPending = 2,
	EKvServiceState_Running = 4,
	EKvServiceState_Paused = 7,
};

enum EKvServiceControl : NZel::uint32
{
	EKvServiceControl_Stop = 1,
	EKvServiceControl_Pause = 2,
	EKvServiceControl_Continue = 3,
	EKvServiceControl_Interrogate = 4,
};

// Where the state machine's reports and diagnostics go: the service control manager and the
// debugger output in the product, a recorder in tests.
class ICKvServiceReporter
{
public:
	// Hands the whole status to the manager. On failure returns false with the system's error code.
	virtual bool f_Report(const CKvServiceStatus &Status, NZel::uint32 &ErrorCode) = 0;
	virtual void f_DebugOutput(const NZel::NStr::CStr &Line) = 0;

protected:
	~ICKvServiceReporter() = default;
};

// A debug line of the service host: " [" + service name + pRest, where pRest holds one "{}" for
// Value. The dispatcher's line alone goes without the leading blank.
NZel::NStr::CStr gf_KvServiceDebugLine(bool LeadingBlank, const char *pRest, NZel::uint32 Value);
NZel::NStr::CStr gf_KvServiceDebugLine(bool LeadingBlank, const char *pRest);

// Status before anything is reported: own or shared process, start pending, stop and
// pause/continue accepted, every other field 0.
CKvServiceStatus gf_KvServiceInitialStatus();

// The service main function once its handler is registered: starts the service object and
// reports running, or stopped with exit code 1 when the start failed.
void gf_KvServiceRunStart(CKvService &Service, CKvServiceStatus &Status, ICKvServiceReporter &Reporter);

// The control handler for one control code: runs the service object's operation that fits the
// current state and reports the resulting status.
void gf_KvServiceHandleControl(CKvService &Service, CKvServiceStatus &Status, ICKvServiceReporter &Reporter, NZel::uint32 Control);
