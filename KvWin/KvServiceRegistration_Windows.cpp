#include "KvWin/KvServiceRegistration.h"

#include "KvWin/KvEventSource.h"
#include "KvWin/KvService.h"
#include "KvWin/KvServiceFailureActions.h"
#include "KvWin/KvWindowsHandles.h"
#include "zel/library/core/file/Zel_File.h"
#include "zel/library/core/general/Zel_Exception.h"

#include <windows.h>

#include <cstring>
#include <vector>

using NZel::NStr::CStr;

namespace
{
	// DELETE | SC_MANAGER_QUERY_LOCK_STATUS | SC_MANAGER_LOCK | SC_MANAGER_ENUMERATE_SERVICE |
	// SC_MANAGER_CREATE_SERVICE
	constexpr DWORD gc_ManagerAccess = 0x10036;
	constexpr DWORD gc_StartAccess = SERVICE_START | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE;
	constexpr DWORD gc_StopAccess = SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE;
	constexpr DWORD gc_ConfigAccess = SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG;
	constexpr DWORD gc_PollIntervalMs = 10;
	// A service that stays pending longer than this is taken as failed rather than waited for
	// without end.
	constexpr ULONGLONG gc_StatePollLimitMs = 60000;
	constexpr DWORD gc_ProcessExitWaitMs = 240000;

	static_assert(gc_StartAccess == 0x94 && gc_StopAccess == 0xA4 && gc_ConfigAccess == 3);

	// Asks the service for its state every 10 ms while Pending says so, for at most the limit.
	// The last state read is left in State.
	template <typename t_CPending>
	void fg_PollWhile(SC_HANDLE hService, DWORD &State, t_CPending Pending)
	{
		ULONGLONG Deadline = GetTickCount64() + gc_StatePollLimitMs;
		for (;;)
		{
			SERVICE_STATUS Status{};
			if (!ControlService(hService, SERVICE_CONTROL_INTERROGATE, &Status))
			{
				// A service that has just stopped no longer answers controls; ask the manager.
				if (!QueryServiceStatus(hService, &Status))
					return;
			}
			State = Status.dwCurrentState;
			if (!Pending(State) || GetTickCount64() >= Deadline)
				return;
			Sleep(gc_PollIntervalMs);
		}
	}

	bool fg_Add(SC_HANDLE hManager, const CKvServiceDefinition &Definition, const CStr &ImagePath)
	{
		CKvServiceHandle Existing(OpenServiceA(hManager, Definition.ServiceName.f_GetStr(), gc_ConfigAccess));
		if (Existing)
		{
			// Already registered: only follow the program if it moved. The other settings belong
			// to the administrator now.
			DWORD Needed = 0;
			QueryServiceConfigA(Existing.f_Get(), nullptr, 0, &Needed);
			if (Needed > 0)
			{
				std::vector<unsigned char> Buffer(Needed);
				auto *pConfig = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(Buffer.data());
				if (QueryServiceConfigA(Existing.f_Get(), pConfig, Needed, &Needed)
					&& (!pConfig->lpBinaryPathName || std::strcmp(pConfig->lpBinaryPathName, ImagePath.f_GetStr()) != 0))
				{
					ChangeServiceConfigA(Existing.f_Get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
						ImagePath.f_GetStr(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
				}
			}
			return true;
		}

		CKvServiceHandle Stale(OpenServiceA(hManager, Definition.ServiceName.f_GetStr(), DELETE));
		if (Stale && !DeleteService(Stale.f_Get()))
			return false;
		Stale.f_Reset();

		CKvServiceHandle Created(CreateServiceA(hManager, Definition.ServiceName.f_GetStr(), Definition.DisplayName.f_GetStr(),
			SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, ImagePath.f_GetStr(),
			nullptr, nullptr, nullptr, nullptr, nullptr));
		if (!Created)
			return false;

		SERVICE_DESCRIPTIONA Description;
		Description.lpDescription = const_cast<char *>(Definition.Description.f_GetStr());
		ChangeServiceConfig2A(Created.f_Get(), SERVICE_CONFIG_DESCRIPTION, &Description);

		CKvServiceFailureActions Actions(Definition.DisplayName);
		ChangeServiceConfig2A(Created.f_Get(), SERVICE_CONFIG_FAILURE_ACTIONS, Actions.f_Get());
		return true;
	}

	bool fg_Start(SC_HANDLE hManager, const CKvServiceDefinition &Definition)
	{
		CKvServiceHandle Service(OpenServiceA(hManager, Definition.ServiceName.f_GetStr(), gc_StartAccess));
		if (!Service)
			return false;
		SERVICE_STATUS Status{};
		if (!QueryServiceStatus(Service.f_Get(), &Status))
			return false;
		if (Status.dwCurrentState == SERVICE_RUNNING || Status.dwCurrentState == SERVICE_START_PENDING)
			return true;
		if (!StartServiceA(Service.f_Get(), 0, nullptr))
			return false;
		// A service still starting after the limit, or one that stopped again at once (its start
		// failed), has not been started.
		DWORD State = SERVICE_START_PENDING;
		fg_PollWhile(Service.f_Get(), State, [](DWORD Current) { return Current == SERVICE_START_PENDING; });
		return State != SERVICE_START_PENDING && State != SERVICE_STOPPED;
	}

	bool fg_Stop(SC_HANDLE hManager, const CKvServiceDefinition &Definition)
	{
		CKvServiceHandle Service(OpenServiceA(hManager, Definition.ServiceName.f_GetStr(), gc_StopAccess));
		if (!Service)
			return false;
		SERVICE_STATUS Status{};
		if (!QueryServiceStatus(Service.f_Get(), &Status))
			return false;
		if (Status.dwCurrentState == SERVICE_STOPPED)
			return true;

		CKvKernelHandle Process;
		SERVICE_STATUS_PROCESS ProcessStatus{};
		DWORD Needed = 0;
		if (QueryServiceStatusEx(Service.f_Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&ProcessStatus),
				sizeof(ProcessStatus), &Needed)
			&& ProcessStatus.dwProcessId != 0)
			Process.f_Reset(OpenProcess(SYNCHRONIZE, FALSE, ProcessStatus.dwProcessId));

		if (!ControlService(Service.f_Get(), SERVICE_CONTROL_STOP, &Status))
		{
			DWORD Error = GetLastError();
			// The request can fail after it was carried out: the service's process may end before
			// its answer reaches the manager (Wine then reports a broken pipe). A service that
			// is now stopping or stopped took the request.
			SERVICE_STATUS After{};
			bool bTaken = QueryServiceStatus(Service.f_Get(), &After)
				&& (After.dwCurrentState == SERVICE_STOPPED || After.dwCurrentState == SERVICE_STOP_PENDING);
			if (!bTaken)
				return Error == ERROR_SERVICE_NOT_ACTIVE;
			Status = After;
		}

		DWORD State = Status.dwCurrentState;
		if (State != SERVICE_STOPPED)
			fg_PollWhile(Service.f_Get(), State, [](DWORD Current) { return Current != SERVICE_STOPPED; });
		if (State != SERVICE_STOPPED)
			return false;
		// The process ends shortly after it has reported stopped; the caller relies on it being gone.
		if (Process)
			WaitForSingleObject(Process.f_Get(), gc_ProcessExitWaitMs);
		return true;
	}

	bool fg_Delete(SC_HANDLE hManager, const CKvServiceDefinition &Definition)
	{
		CKvServiceHandle Service(OpenServiceA(hManager, Definition.ServiceName.f_GetStr(), DELETE));
		if (!Service)
			return true; // nothing left to delete
		return DeleteService(Service.f_Get()) != FALSE;
	}
}

bool gf_KvServiceCommand(EKvServiceCommand Command, const CKvServiceDefinition &Definition, const CStr &ProgramPath)
{
	CStr ImagePath = gf_KvServiceImagePath(ProgramPath, Definition.ServiceName);
	CKvServiceHandle Manager(OpenSCManagerA(nullptr, nullptr, gc_ManagerAccess));
	if (!Manager)
		return false;
	switch (Command)
	{
	// The service's events are written as a source of its name: registered and removed with it.
	case EKvServiceCommand::Add:
		return fg_Add(Manager.f_Get(), Definition, ImagePath) && gf_KvRegisterEventSource(Definition.ServiceName, ProgramPath);
	case EKvServiceCommand::Remove:
		return fg_Stop(Manager.f_Get(), Definition) && fg_Delete(Manager.f_Get(), Definition) && gf_KvRemoveEventSource(Definition.ServiceName);
	case EKvServiceCommand::Start:
		return fg_Start(Manager.f_Get(), Definition);
	case EKvServiceCommand::Stop:
		return fg_Stop(Manager.f_Get(), Definition);
	}
	return false;
}

namespace
{
	bool fg_RunForThisProgram(EKvServiceCommand Command)
	{
		CKvServiceDefinition Definition{CKvService::fs_GetServiceName(), CKvService::fs_GetDisplayName(), CKvService::fs_GetDescription()};
		CStr ProgramPath;
		try
		{
			ProgramPath = NZel::NSys::NFile::gfs_GetProgramPath();
		}
		catch (const NZel::NException::CException &)
		{
			// Without its own path the program cannot be registered; the caller reports the
			// failure like any other.
			return false;
		}
		if (ProgramPath.f_IsEmpty())
			return false; // an empty path would register a service that can never start
		return gf_KvServiceCommand(Command, Definition, ProgramPath);
	}
}

bool CKvService::f_AddService()
{
	return fg_RunForThisProgram(EKvServiceCommand::Add);
}

bool CKvService::f_RemoveService()
{
	return fg_RunForThisProgram(EKvServiceCommand::Remove);
}

bool CKvService::f_StartService()
{
	return fg_RunForThisProgram(EKvServiceCommand::Start);
}

bool CKvService::f_StopService()
{
	return fg_RunForThisProgram(EKvServiceCommand::Stop);
}
