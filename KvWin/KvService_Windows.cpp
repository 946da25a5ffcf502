// The service host under the Windows service control manager: the dispatcher entry, the service
// main function and the control handler. The transitions themselves live in KvServiceControl.
#include "KvWin/KvService.h"
#include "KvWin/KvServiceControl.h"

#include "zel/library/core/general/Zel_Lock.h"
#include "zel/library/core/runtime/Zel_Sys_Debug.h"

#include <windows.h>

#include <cstddef>
#include <string>

using NZel::NStr::CStr;

static_assert(sizeof(CKvServiceStatus) == sizeof(SERVICE_STATUS));
static_assert(offsetof(CKvServiceStatus, dwCurrentState) == offsetof(SERVICE_STATUS, dwCurrentState));
static_assert(offsetof(CKvServiceStatus, dwWaitHint) == offsetof(SERVICE_STATUS, dwWaitHint));

namespace
{
	// The status last reported and the handle to report it through. The service main function's
	// thread and the control handler's thread both change the status, so every change and report
	// happens under the lock.
	struct CKvServiceHostState
	{
		NZel::NThread::CLock fp_Lock;
		CKvServiceStatus fp_Status{};
		SERVICE_STATUS_HANDLE fp_hStatus = nullptr;
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

	void WINAPI fg_ControlHandler(DWORD Control)
	{
		CKvServiceHostState &Host = fg_Host();
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
		gf_KvServiceHandleControl(*pService, Host.fp_Status, Reporter, Control);
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

	std::wstring fg_Widen(const CStr &Text)
	{
		int Length = MultiByteToWideChar(CP_ACP, 0, Text.f_GetStr(), Text.f_GetLen(), nullptr, 0);
		std::wstring Wide(size_t(Length > 0 ? Length : 0), L'\0');
		if (Length > 0)
			MultiByteToWideChar(CP_ACP, 0, Text.f_GetStr(), Text.f_GetLen(), Wide.data(), Length);
		return Wide;
	}
}

bool CKvService::f_RunDispatcher()
{
	std::wstring Name = fg_Widen(fs_GetServiceName());
	SERVICE_TABLE_ENTRYW Table[2] = {{Name.data(), fg_ServiceMain}, {nullptr, nullptr}};
	if (StartServiceCtrlDispatcherW(Table))
		return true;
	CStr Line = gf_KvServiceDebugLine(false, "] StartServiceCtrlDispatcher error = {}\n", NZel::uint32(GetLastError()));
	NZel::NSys::gf_DebugOutput(Line.f_GetStr());
	return false;
}
