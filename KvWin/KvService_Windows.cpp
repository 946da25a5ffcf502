// The service host under the Windows service control manager: the dispatcher entry, the service
// main function and the control handler. The transitions themselves live in KvServiceControl.
#include "KvWin/KvService.h"
#include "KvWin/KvServiceControl.h"
#include "KvWin/KvWindowsHandles.h"

#include "zel/library/core/general/Zel_Lock.h"
#include "zel/library/core/runtime/Zel_Sys_Debug.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <utility>

using NZel::NStr::CStr;

static_assert(sizeof(CKvServiceStatus) == sizeof(SERVICE_STATUS));
static_assert(offsetof(CKvServiceStatus, dwCurrentState) == offsetof(SERVICE_STATUS, dwCurrentState));
static_assert(offsetof(CKvServiceStatus, dwWaitHint) == offsetof(SERVICE_STATUS, dwWaitHint));

namespace
{
	// The status last reported and the handle to report it through. The service main function's
	// thread, the control handler's thread, the work thread and the progress timer all change the
	// status, so every change and report happens under the lock.
	struct CKvServiceHostState
	{
		NZel::NThread::CLock fp_Lock;
		CKvServiceStatus fp_Status{};
		SERVICE_STATUS_HANDLE fp_hStatus = nullptr;
		CKvKernelHandle fp_hWorkThread; // carries out the latest stop or pause
	};

	CKvServiceHostState &fg_Host()
	{
		static CKvServiceHostState s_Host;
		return s_Host;
	}

	class CKvManagerReporter final : public ICKvServiceReporter
	{
	public:
		explicit CKvManagerReporter(SERVICE_STATUS_HANDLE hStatus)
			: fp_hStatus(hStatus)
		{
		}

		bool f_Report(const CKvServiceStatus &Status, NZel::uint32 &ErrorCode) override
		{
			SERVICE_STATUS WinStatus;
			WinStatus.dwServiceType = Status.dwServiceType;
			WinStatus.dwCurrentState = Status.dwCurrentState;
			WinStatus.dwControlsAccepted = Status.dwControlsAccepted;
			WinStatus.dwWin32ExitCode = Status.dwWin32ExitCode;
			WinStatus.dwServiceSpecificExitCode = Status.dwServiceSpecificExitCode;
			WinStatus.dwCheckPoint = Status.dwCheckPoint;
			WinStatus.dwWaitHint = Status.dwWaitHint;
			if (SetServiceStatus(fp_hStatus, &WinStatus))
				return true;
			ErrorCode = GetLastError();
			return false;
		}

		void f_DebugOutput(const CStr &Line) override
		{
			NZel::NSys::gf_DebugOutput(Line.f_GetStr());
		}

	private:
		SERVICE_STATUS_HANDLE fp_hStatus;
	};

	// Reports a new checkpoint every gc_KvServiceCheckpointMs while it lives. Without a timer
	// the manager still has the first checkpoint and the wait hint.
	class CKvProgressTimer
	{
	public:
		CKvProgressTimer()
		{
			if (!CreateTimerQueueTimer(&fp_hTimer, nullptr, fs_Tick, nullptr, gc_KvServiceCheckpointMs, gc_KvServiceCheckpointMs, WT_EXECUTEDEFAULT))
				fp_hTimer = nullptr;
		}
		// Waits for a tick that is under way: none comes after the work's final report.
		~CKvProgressTimer()
		{
			if (fp_hTimer)
				DeleteTimerQueueTimer(nullptr, fp_hTimer, INVALID_HANDLE_VALUE);
		}
		CKvProgressTimer(const CKvProgressTimer &) = delete;
		CKvProgressTimer &operator=(const CKvProgressTimer &) = delete;

	private:
		static VOID CALLBACK fs_Tick(PVOID, BOOLEAN)
		{
			CKvServiceHostState &Host = fg_Host();
			NZel::NThread::CLockGuard Guard(Host.fp_Lock);
			CKvManagerReporter Reporter(Host.fp_hStatus);
			gf_KvServiceReportProgress(Host.fp_Status, Reporter);
		}

		HANDLE fp_hTimer = nullptr;
	};

	// Runs the work, and the work that follows it, each with progress reports while the service
	// object's operation runs. The operations run without the lock: the handler keeps answering
	// interrogations meanwhile.
	void fg_CarryOut(EKvServiceWork Work)
	{
		CKvServiceHostState &Host = fg_Host();
		while (Work != EKvServiceWork::None)
		{
			{
				CKvProgressTimer Progress;
				if (CKvService *pService = CKvService::fs_GetInstance())
					gf_KvServiceDoWork(*pService, Work);
			}
			NZel::NThread::CLockGuard Guard(Host.fp_Lock);
			CKvManagerReporter Reporter(Host.fp_hStatus);
			Work = gf_KvServiceFinishWork(Host.fp_Status, Reporter, Work);
		}
	}

	DWORD WINAPI fg_WorkThread(LPVOID pWork)
	{
		fg_CarryOut(EKvServiceWork(std::uintptr_t(pWork)));
		return 0;
	}

	// The handler answers at once; a stop or pause, which waits for the worker, runs on a thread
	// of its own (the manager gives a handler 30 seconds, a worker may need longer).
	void WINAPI fg_ControlHandler(DWORD Control)
	{
		CKvServiceHostState &Host = fg_Host();
		EKvServiceWork Work = EKvServiceWork::None;
		{
			NZel::NThread::CLockGuard Guard(Host.fp_Lock);
			CKvService *pService = CKvService::fs_GetInstance();
			CKvManagerReporter Reporter(Host.fp_hStatus);
			if (!pService)
			{
				// The object is gone (the process is ending): only answer with the status.
				NZel::uint32 Ignored = 0;
				Reporter.f_Report(Host.fp_Status, Ignored);
				return;
			}
			Work = gf_KvServiceHandleControl(*pService, Host.fp_Status, Reporter, Control);
			if (Work == EKvServiceWork::None)
				return;
			// New work starts only once the last one has reported its end: its thread is
			// at most returning.
			if (Host.fp_hWorkThread)
				WaitForSingleObject(Host.fp_hWorkThread.f_Get(), INFINITE);
			Host.fp_hWorkThread = CKvKernelHandle(CreateThread(nullptr, 0, fg_WorkThread, reinterpret_cast<LPVOID>(std::uintptr_t(Work)), 0, nullptr));
			if (Host.fp_hWorkThread)
				return;
		}
		// No thread to be had: do the work here. The request answers late, but the service still
		// ends in the right state.
		fg_CarryOut(Work);
	}

	void WINAPI fg_ServiceMain(DWORD, LPWSTR *)
	{
		CKvServiceHostState &Host = fg_Host();
		NZel::NThread::CLockGuard Guard(Host.fp_Lock);
		Host.fp_Status = gf_KvServiceInitialStatus();
		// Registered under a fixed name: a service alone in its process is not matched by name.
		Host.fp_hStatus = RegisterServiceCtrlHandlerA("MyService", fg_ControlHandler);
		if (!Host.fp_hStatus)
		{
			CStr Line = gf_KvServiceDebugLine(true, "] RegisterServiceCtrlHandler failed {}\n", NZel::uint32(GetLastError()));
			NZel::NSys::gf_DebugOutput(Line.f_GetStr());
			return;
		}
		CKvManagerReporter Reporter(Host.fp_hStatus);
		CKvService *pService = CKvService::fs_GetInstance();
		if (!pService)
		{
			Host.fp_Status.dwWin32ExitCode = 1;
			Host.fp_Status.dwCurrentState = EKvServiceState_Stopped;
			NZel::uint32 Ignored = 0;
			Reporter.f_Report(Host.fp_Status, Ignored);
			return;
		}
		gf_KvServiceRunStart(*pService, Host.fp_Status, Reporter);
	}
}

bool CKvService::f_RunDispatcher()
{
	NZel::NStr::CStr16 Name(fs_GetServiceName());
	wchar_t *pName = Name.f_GetWritableBuffer(Name.f_GetLen()); // the table takes a writable name
	if (!pName)
		return false;
	SERVICE_TABLE_ENTRYW Table[2] = {{pName, fg_ServiceMain}, {nullptr, nullptr}};
	if (StartServiceCtrlDispatcherW(Table))
	{
		// The stop's thread reports the service stopped and then writes its last line; the
		// service object must outlive it.
		CKvKernelHandle hWork;
		{
			CKvServiceHostState &Host = fg_Host();
			NZel::NThread::CLockGuard Guard(Host.fp_Lock);
			hWork = std::move(Host.fp_hWorkThread);
		}
		if (hWork)
			WaitForSingleObject(hWork.f_Get(), INFINITE);
		return true;
	}
	CStr Line = gf_KvServiceDebugLine(false, "] StartServiceCtrlDispatcher error = {}\n", NZel::uint32(GetLastError()));
	NZel::NSys::gf_DebugOutput(Line.f_GetStr());
	return false;
}
