// Entry point of hushvane.exe: makes the process's service object, writes the crash-report
// settings, and runs the branch of the first switch found on the command line.
#include "app/Hushvane_CheckConfig.h"
#include "app/Hushvane_CommandLine.h"
#include "app/Hushvane_CrashSetup.h"
#include "app/Hushvane_InstallSafety.h"
#include "app/Hushvane_Service.h"
#include "app/Hushvane_Worker.h"
#include "KvWin/KvTray.h"

#include <windows.h>

#include <string>
#include <vector>

namespace
{
	constexpr DWORD gc_PumpSleepMs = 50;
	constexpr int gc_TrayIconResource = 101;

	constexpr char gc_HelpText[] =
		"Command line options:\n\n"
		"-AddService\t\tAdds the current executable to the system as a service.\n"
		"-RemoveService\t\tRemoves the program from the system service list.\n"
		"-StartService\t\tAttempts to start the Hushvane service.\n"
		"-StopService\t\tAttempts to stop the Hushvane service.\n"
		"-RunAsProgram\t\tRuns the server as a usual windows program in the background.\n"
		"-Service\t\t\tStarts the program as a service. Only used by the system.\n\n";

	// Shows the failure box of a command; the exit code 1 lets scripts tell as well.
	int fg_CommandResult(bool bSucceeded, const char *pFailureText)
	{
		if (bSucceeded)
			return 0;
		MessageBoxA(nullptr, pFailureText, "Error", MB_OK | MB_ICONERROR);
		return 1;
	}

	constexpr char gc_AddFailureText[] =
		"Failed to add service. Make sure that the service is not running and that no service manager is open";

	// The service runs the program as SYSTEM and loads the driver beside it into the kernel: it
	// is registered only where nobody but administrators can change them. A refusal names the
	// paths and who can change them, in the same box as the other failures.
	int fg_AddService(NHushvane::CLS_Service &Service)
	{
		std::vector<NHushvane::CUnsafePath> Unsafe = NHushvane::gf_CheckInstallation();
		if (Unsafe.empty())
			return fg_CommandResult(Service.f_AddService(), gc_AddFailureText);
		std::string Text = NHushvane::gf_FormatUnsafeInstallation(Unsafe);
		std::wstring WideText(size_t(MultiByteToWideChar(CP_UTF8, 0, Text.c_str(), -1, nullptr, 0)), L'\0');
		MultiByteToWideChar(CP_UTF8, 0, Text.c_str(), -1, WideText.data(), int(WideText.size()));
		MessageBoxW(nullptr, WideText.c_str(), L"Error", MB_OK | MB_ICONERROR);
		return 1;
	}

	void fg_RunAsProgram(NHushvane::CLS_Service &Service, HINSTANCE hInstance)
	{
		Service.f_OnStart();
		CTrayIcon::fs_Get().f_Create(LoadIconA(hInstance, MAKEINTRESOURCEA(gc_TrayIconResource)));
		while (!CTrayIcon::fs_PumpMessage())
			Sleep(gc_PumpSleepMs);
		// The worker has ended before the process does; the icon goes at exit.
		Service.f_OnStop();
	}

	int fg_Run(HINSTANCE hInstance, const char *pCommandLine)
	{
		NHushvane::CLS_Service Service("Hushvane", "Hushvane", "Sets the priority class of processes at process launch.");
		NHushvane::gf_SetCrashSettings(NHushvane::ECrashMode::Program);

		using NHushvane::ESwitch;
		switch (NHushvane::gf_FindSwitch(pCommandLine))
		{
		case ESwitch::Add:
			return fg_AddService(Service);
		case ESwitch::Remove:
			return fg_CommandResult(Service.f_RemoveService(),
				"Failed to delete service. Make sure that the service is not running and that no service manager is open");
		case ESwitch::Start:
			return fg_CommandResult(Service.f_StartService(), "Failed to start service.");
		case ESwitch::Stop:
			Service.f_StopService();
			return 0;
		case ESwitch::UninstallDrivers:
		{
			NHushvane::CTCPF_MainWin32 Worker;
			Worker.f_UninstallDrivers();
			return 0;
		}
		case ESwitch::RunAsProgram:
			fg_RunAsProgram(Service, hInstance);
			return 0;
		case ESwitch::Service:
			NHushvane::gf_SetCrashSettings(NHushvane::ECrashMode::Service);
			Service.f_RunDispatcher();
			return 0;
		case ESwitch::CheckConfig:
			return NHushvane::gf_RunCheckConfig();
		case ESwitch::None:
			break;
		}
		MessageBoxA(nullptr, gc_HelpText, "Command Line Options", MB_OK);
		return 0;
	}
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR pCommandLine, int)
{
	return fg_Run(hInstance, pCommandLine);
}
