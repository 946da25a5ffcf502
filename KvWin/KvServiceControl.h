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
	EKvServiceState_StopPending = 3,
	EKvServiceState_Running = 4,
	EKvServiceState_PausePending = 6,
	EKvServiceState_Paused = 7,
};

// While a stop or pause waits for the service's work to end (a worker may sit in a driver poll
// for up to a minute), the manager is told a new checkpoint every gc_KvServiceCheckpointMs and
// to expect the next one within gc_KvServiceWaitHintMs; without that it would take the service
// for hung and time the request out.
constexpr NZel::uint32 gc_KvServiceCheckpointMs = 1000;
constexpr NZel::uint32 gc_KvServiceWaitHintMs = 3000;

// What a control leaves to be done away from the handler, which must return at once.
enum class EKvServiceWork : NZel::uint32
{
	None,
	Pause,
	Stop,
	ResumeAndStop, // stop a paused service: its worker is started again first, then stopped
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

// The control handler for one control code. Stop and pause report their pending state (first
// checkpoint, wait hint) and return the work still to do; continue, interrogate and unknown codes
// are handled completely and return EKvServiceWork::None. A stop that arrives while a pause is
// pending turns the pending state into a stop; the pause's work goes on to the stop when it ends.
EKvServiceWork gf_KvServiceHandleControl(CKvService &Service, CKvServiceStatus &Status, ICKvServiceReporter &Reporter, NZel::uint32 Control);

// Runs the service object's operations for the work. Touches no status: called without the
// host's lock, so that progress and interrogations are reported meanwhile.
void gf_KvServiceDoWork(CKvService &Service, EKvServiceWork Work);

// The next checkpoint of a pending stop or pause; nothing in any other state.
void gf_KvServiceReportProgress(CKvServiceStatus &Status, ICKvServiceReporter &Reporter);

// Reports the state the finished work leads to (paused, or stopped with "Leaving MyService"),
// or returns the work that must follow (the stop that arrived during a pause).
EKvServiceWork gf_KvServiceFinishWork(CKvServiceStatus &Status, ICKvServiceReporter &Reporter, EKvServiceWork Work);
