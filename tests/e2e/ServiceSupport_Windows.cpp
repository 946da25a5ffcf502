#include "tests/e2e/ServiceSupport_Windows.h"
#include "tests/e2e/WorkerSupport_Windows.h"

namespace NHushvaneTest
{
	namespace
	{
		constexpr const char *gc_ServiceName = "Hushvane";
		constexpr DWORD gc_CommandTimeoutMs = 120000;

		// A top-level window of the process with the caption, or null.
		HWND fg_FindProcessWindow(DWORD ProcessId, const char *pCaption)
		{
			HWND hWnd = nullptr;
			while ((hWnd = FindWindowExA(nullptr, hWnd, nullptr, pCaption)) != nullptr)
			{
				DWORD Owner = 0;
				GetWindowThreadProcessId(hWnd, &Owner);
				if (Owner == ProcessId)
					return hWnd;
			}
			return nullptr;
		}
	}

	CKvServiceHandle gf_OpenProgramService(DWORD Access)
	{
		CKvServiceHandle Manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
		if (!Manager.f_IsValid())
			return CKvServiceHandle();
		return CKvServiceHandle(OpenServiceA(Manager.f_Get(), gc_ServiceName, Access));
	}

	bool gf_ProgramServiceExists()
	{
		return gf_OpenProgramService(SERVICE_QUERY_STATUS).f_IsValid();
	}

	SERVICE_STATUS_PROCESS gf_QueryProgramService()
	{
		SERVICE_STATUS_PROCESS Status = {};
		CKvServiceHandle Service = gf_OpenProgramService(SERVICE_QUERY_STATUS);
		DWORD Needed = 0;
		if (Service.f_IsValid())
			QueryServiceStatusEx(Service.f_Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&Status), sizeof(Status), &Needed);
		return Status;
	}

	bool gf_WaitForProgramServiceState(DWORD State)
	{
		return gf_WaitUntil([State] { return gf_QueryProgramService().dwCurrentState == State; }, 60000);
	}

	bool gf_ControlProgramService(DWORD Control)
	{
		CKvServiceHandle Service = gf_OpenProgramService(SERVICE_PAUSE_CONTINUE | SERVICE_STOP | SERVICE_QUERY_STATUS);
		SERVICE_STATUS Status = {};
		return Service.f_IsValid() && ControlService(Service.f_Get(), Control, &Status);
	}

	// Stops and deletes the program's service by the manager's own means, so each test starts on
	// a machine without it.
	void gf_RemoveProgramServiceDirectly()
	{
		if (!gf_ProgramServiceExists())
			return;
		DWORD ProcessId = gf_QueryProgramService().dwProcessId;
		gf_ControlProgramService(SERVICE_CONTROL_STOP);
		gf_WaitForProgramServiceState(SERVICE_STOPPED);
		if (ProcessId)
		{
			HANDLE hProcess = OpenProcess(SYNCHRONIZE, FALSE, ProcessId);
			if (hProcess)
			{
				WaitForSingleObject(hProcess, 30000);
				CloseHandle(hProcess);
			}
		}
		{
			// The manager removes a deleted service once its last handle is closed.
			CKvServiceHandle Service = gf_OpenProgramService(DELETE);
			if (Service.f_IsValid())
				DeleteService(Service.f_Get());
		}
		gf_WaitUntil([] { return !gf_ProgramServiceExists(); }, 30000);
	}

	DWORD gf_RunHushvane(const std::string &Arguments, const std::string &Folder, const char *pAnswerCaption, int *pBoxes)
	{
		std::string Program = Folder + "\\hushvane.exe";
		std::string CommandLine = "\"" + Program + "\" " + Arguments;
		STARTUPINFOA Startup = {};
		Startup.cb = sizeof(Startup);
		PROCESS_INFORMATION Info = {};
		if (!CreateProcessA(Program.c_str(), CommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, Folder.c_str(), &Startup, &Info))
			return ~0u;
		DWORD ExitCode = ~0u;
		ULONGLONG End = GetTickCount64() + gc_CommandTimeoutMs;
		HWND hAnswered = nullptr;
		for (;;)
		{
			if (WaitForSingleObject(Info.hProcess, 100) == WAIT_OBJECT_0)
			{
				GetExitCodeProcess(Info.hProcess, &ExitCode);
				break;
			}
			if (GetTickCount64() >= End)
			{
				TerminateProcess(Info.hProcess, 99);
				break;
			}
			HWND hBox = fg_FindProcessWindow(Info.dwProcessId, pAnswerCaption);
			if (hBox && hBox != hAnswered)
			{
				if (pBoxes)
					++*pBoxes;
				hAnswered = hBox; // closing takes a moment; count each box once
				PostMessageA(hBox, WM_CLOSE, 0, 0);
			}
		}
		CloseHandle(Info.hThread);
		CloseHandle(Info.hProcess);
		return ExitCode;
	}

}
