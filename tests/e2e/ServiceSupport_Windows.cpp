#include "tests/e2e/ServiceSupport_Windows.h"

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

		// The texts of a box's static controls: its icon has none, its message is one of them.
		std::string fg_BoxText(HWND hBox)
		{
			std::string Text;
			for (HWND hChild = FindWindowExA(hBox, nullptr, "Static", nullptr); hChild; hChild = FindWindowExA(hBox, hChild, "Static", nullptr))
			{
				char Buffer[4096] = {};
				GetWindowTextA(hChild, Buffer, int(sizeof(Buffer)));
				Text += Buffer;
			}
			return Text;
		}
	}

	bool gf_CanShowBoxes()
	{
		return GetEnvironmentVariableA("DISPLAY", nullptr, 0) > 0;
	}

	CKvServiceHandle gf_OpenService(DWORD Access)
	{
		CKvServiceHandle Manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
		if (!Manager.f_IsValid())
			return CKvServiceHandle();
		return CKvServiceHandle(OpenServiceA(Manager.f_Get(), gc_ServiceName, Access));
	}

	bool gf_ServiceExists()
	{
		return gf_OpenService(SERVICE_QUERY_STATUS).f_IsValid();
	}

	SERVICE_STATUS_PROCESS gf_QueryServiceStatus()
	{
		SERVICE_STATUS_PROCESS Status = {};
		CKvServiceHandle Service = gf_OpenService(SERVICE_QUERY_STATUS);
		DWORD Needed = 0;
		if (Service.f_IsValid())
			QueryServiceStatusEx(Service.f_Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&Status), sizeof(Status), &Needed);
		return Status;
	}

	bool gf_WaitForServiceState(DWORD State)
	{
		return gf_WaitUntil([State] { return gf_QueryServiceStatus().dwCurrentState == State; }, 60000);
	}

	bool gf_ControlService(DWORD Control)
	{
		CKvServiceHandle Service = gf_OpenService(SERVICE_PAUSE_CONTINUE | SERVICE_STOP | SERVICE_QUERY_STATUS);
		SERVICE_STATUS Status = {};
		return Service.f_IsValid() && ControlService(Service.f_Get(), Control, &Status);
	}

	void gf_RemoveServiceDirectly()
	{
		if (!gf_ServiceExists())
			return;
		DWORD ProcessId = gf_QueryServiceStatus().dwProcessId;
		gf_ControlService(SERVICE_CONTROL_STOP);
		gf_WaitForServiceState(SERVICE_STOPPED);
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
			CKvServiceHandle Service = gf_OpenService(DELETE);
			if (Service.f_IsValid())
				DeleteService(Service.f_Get());
		}
		gf_WaitUntil([] { return !gf_ServiceExists(); }, 30000);
	}

	bool gf_HasLogWithLaunching(size_t Index)
	{
		std::vector<std::string> Logs = gf_ReadLogs();
		return Logs.size() > Index && Logs[Index].rfind("Launching\r\n", 0) == 0;
	}

	namespace
	{
		// Moves what waits in the pipe into Output; with bToEnd, reads until the writer is gone.
		void fg_Drain(HANDLE hRead, std::string &Output, bool bToEnd)
		{
			char Buffer[4096];
			for (;;)
			{
				DWORD Available = 0;
				if (!bToEnd && (!PeekNamedPipe(hRead, nullptr, 0, nullptr, &Available, nullptr) || Available == 0))
					return;
				DWORD Read = 0;
				if (!ReadFile(hRead, Buffer, sizeof(Buffer), &Read, nullptr) || Read == 0)
					return;
				Output.append(Buffer, Read);
			}
		}
	}

	DWORD gf_RunHushvane(const std::string &Arguments, const std::string &Folder, const char *pAnswerCaption, int *pBoxes, std::string *pOutput,
		std::string *pBoxText)
	{
		std::string Program = Folder + "\\hushvane.exe";
		std::string CommandLine = "\"" + Program + "\" " + Arguments;
		STARTUPINFOA Startup = {};
		Startup.cb = sizeof(Startup);
		CKvKernelHandle hRead;
		CKvKernelHandle hWrite;
		if (pOutput)
		{
			SECURITY_ATTRIBUTES Inherit = {sizeof(Inherit), nullptr, TRUE};
			HANDLE hPipeRead = nullptr;
			HANDLE hPipeWrite = nullptr;
			if (!CreatePipe(&hPipeRead, &hPipeWrite, &Inherit, 0))
				return ~0u;
			hRead = CKvKernelHandle(hPipeRead);
			hWrite = CKvKernelHandle(hPipeWrite);
			SetHandleInformation(hRead.f_Get(), HANDLE_FLAG_INHERIT, 0);
			Startup.dwFlags = STARTF_USESTDHANDLES;
			Startup.hStdOutput = hWrite.f_Get();
			Startup.hStdError = hWrite.f_Get();
		}
		PROCESS_INFORMATION Info = {};
		if (!CreateProcessA(Program.c_str(), CommandLine.data(), nullptr, nullptr, pOutput ? TRUE : FALSE, 0, nullptr, Folder.c_str(), &Startup, &Info))
			return ~0u;
		// Only the child holds the writing end now: the pipe breaks when it ends.
		hWrite.f_Reset();
		CKvKernelHandle hProcess(Info.hProcess);
		CKvKernelHandle hThread(Info.hThread);
		DWORD ExitCode = ~0u;
		ULONGLONG End = GetTickCount64() + gc_CommandTimeoutMs;
		HWND hAnswered = nullptr;
		for (;;)
		{
			if (pOutput)
				fg_Drain(hRead.f_Get(), *pOutput, false);
			if (WaitForSingleObject(hProcess.f_Get(), 100) == WAIT_OBJECT_0)
			{
				GetExitCodeProcess(hProcess.f_Get(), &ExitCode);
				break;
			}
			if (GetTickCount64() >= End)
			{
				TerminateProcess(hProcess.f_Get(), 99);
				break;
			}
			HWND hBox = fg_FindProcessWindow(Info.dwProcessId, pAnswerCaption);
			// A box gets its caption before its message: one without a message yet is read again.
			std::string Text = hBox && hBox != hAnswered && pBoxText ? fg_BoxText(hBox) : std::string();
			if (hBox && hBox != hAnswered && (!pBoxText || !Text.empty()))
			{
				if (pBoxes)
					++*pBoxes;
				if (pBoxText)
					*pBoxText = Text;
				hAnswered = hBox; // closing takes a moment; count each box once
				PostMessageA(hBox, WM_CLOSE, 0, 0);
			}
		}
		if (pOutput)
			fg_Drain(hRead.f_Get(), *pOutput, true);
		return ExitCode;
	}
}
