#include "tests/driver/support/TestKernelService_Windows.h"

#include "KvWin/KvWindowsHandles.h"

#include <cstdio>

namespace NHushvaneTest
{
	namespace
	{
		CKvServiceHandle fg_OpenManager()
		{
			return CKvServiceHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
		}

		// Polls until the service reaches State or TimeoutMs passes.
		bool fg_WaitForState(SC_HANDLE Service, DWORD State, DWORD TimeoutMs)
		{
			ULONGLONG Deadline = GetTickCount64() + TimeoutMs;
			for (;;)
			{
				SERVICE_STATUS Status{};
				if (!QueryServiceStatus(Service, &Status))
					return false;
				if (Status.dwCurrentState == State)
					return true;
				// Waiting for a start that ended in the stopped state: it will not run.
				if (State == SERVICE_RUNNING && Status.dwCurrentState == SERVICE_STOPPED)
					return false;
				if (GetTickCount64() >= Deadline)
					return false;
				Sleep(20);
			}
		}

		// Every image of ours creates the same device, so the program's own kernel service, left
		// running by an earlier test of the program in this Windows, must not hold it.
		void fg_StopProgramDriver(SC_HANDLE Manager)
		{
			CKvServiceHandle Service(OpenServiceA(Manager, "HushvaneDriver", SERVICE_STOP | SERVICE_QUERY_STATUS));
			if (!Service.f_IsValid())
				return;
			SERVICE_STATUS Status{};
			if (ControlService(Service.f_Get(), SERVICE_CONTROL_STOP, &Status))
				fg_WaitForState(Service.f_Get(), SERVICE_STOPPED, 30000);
		}
	}

	std::string gf_WindowsPath(const std::string &Path)
	{
		if (Path.empty() || Path[0] != '/')
			return Path;
		std::string Result = "Z:" + Path;
		for (char &Char : Result)
		{
			if (Char == '/')
				Char = '\\';
		}
		return Result;
	}

	CTestKernelService::CTestKernelService(const std::string &ServiceName, const std::string &SourceImage, const std::string &ImageFileName)
		: fp_ServiceName(ServiceName)
	{
		CKvServiceHandle Manager = fg_OpenManager();
		if (!Manager.f_IsValid())
		{
			fp_Fail("OpenSCManagerA", GetLastError());
			return;
		}
		if (ServiceName != "HushvaneDriver")
			fg_StopProgramDriver(Manager.f_Get());
		// A run that died half way may have left the service (and its driver) behind.
		if (!fs_RemoveService(Manager.f_Get(), ServiceName))
		{
			fp_Fail("removing the leftover service", GetLastError());
			return;
		}

		char SystemFolder[MAX_PATH];
		UINT Length = GetSystemDirectoryA(SystemFolder, MAX_PATH);
		if (Length == 0 || Length >= MAX_PATH)
		{
			fp_Fail("GetSystemDirectoryA", GetLastError());
			return;
		}
		std::string Target = std::string(SystemFolder) + "\\drivers\\" + ImageFileName;
		if (!CopyFileA(gf_WindowsPath(SourceImage).c_str(), Target.c_str(), FALSE))
		{
			fp_Fail("CopyFileA", GetLastError());
			return;
		}
		fp_InstalledImage = Target;

		std::string ImagePath = "\\SystemRoot\\System32\\Drivers\\" + ImageFileName;
		CKvServiceHandle Service(CreateServiceA(
			Manager.f_Get(), ServiceName.c_str(), ServiceName.c_str(), SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
			SERVICE_ERROR_NORMAL, ImagePath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr
		));
		if (!Service.f_IsValid())
		{
			fp_Fail("CreateServiceA", GetLastError());
			return;
		}
		fp_bInstalled = true;
	}

	CTestKernelService::~CTestKernelService()
	{
		CKvServiceHandle Manager = fg_OpenManager();
		if (Manager.f_IsValid())
			fs_RemoveService(Manager.f_Get(), fp_ServiceName);
		if (!fp_InstalledImage.empty())
			DeleteFileA(fp_InstalledImage.c_str());
	}

	bool CTestKernelService::f_Start(DWORD TimeoutMs)
	{
		CKvServiceHandle Manager = fg_OpenManager();
		if (!Manager.f_IsValid())
			return fp_Fail("OpenSCManagerA", GetLastError());
		CKvServiceHandle Service(OpenServiceA(Manager.f_Get(), fp_ServiceName.c_str(), SERVICE_ALL_ACCESS));
		if (!Service.f_IsValid())
			return fp_Fail("OpenServiceA", GetLastError());
		if (!StartServiceA(Service.f_Get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
			return fp_Fail("StartServiceA", GetLastError());
		if (!fg_WaitForState(Service.f_Get(), SERVICE_RUNNING, TimeoutMs))
			return fp_Fail("waiting for the service to run", GetLastError());
		return true;
	}

	bool CTestKernelService::f_Stop(DWORD TimeoutMs)
	{
		CKvServiceHandle Manager = fg_OpenManager();
		if (!Manager.f_IsValid())
			return fp_Fail("OpenSCManagerA", GetLastError());
		CKvServiceHandle Service(OpenServiceA(Manager.f_Get(), fp_ServiceName.c_str(), SERVICE_ALL_ACCESS));
		if (!Service.f_IsValid())
			return fp_Fail("OpenServiceA", GetLastError());
		SERVICE_STATUS Status{};
		if (!ControlService(Service.f_Get(), SERVICE_CONTROL_STOP, &Status) && GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
			return fp_Fail("ControlService(SERVICE_CONTROL_STOP)", GetLastError());
		if (!fg_WaitForState(Service.f_Get(), SERVICE_STOPPED, TimeoutMs))
			return fp_Fail("waiting for the service to stop", GetLastError());
		return true;
	}

	bool CTestKernelService::f_SetDwordValue(const char *pName, DWORD Value)
	{
		std::string Key = "SYSTEM\\CurrentControlSet\\Services\\" + fp_ServiceName;
		LSTATUS Status = RegSetKeyValueA(HKEY_LOCAL_MACHINE, Key.c_str(), pName, REG_DWORD, &Value, sizeof(Value));
		return Status == ERROR_SUCCESS || fp_Fail("RegSetKeyValueA", DWORD(Status));
	}

	bool CTestKernelService::f_DeleteValue(const char *pName)
	{
		std::string Key = "SYSTEM\\CurrentControlSet\\Services\\" + fp_ServiceName;
		LSTATUS Status = RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, Key.c_str(), pName);
		return Status == ERROR_SUCCESS || Status == ERROR_FILE_NOT_FOUND || fp_Fail("RegDeleteKeyValueA", DWORD(Status));
	}

	DWORD CTestKernelService::f_GetState() const
	{
		CKvServiceHandle Manager = fg_OpenManager();
		if (!Manager.f_IsValid())
			return 0;
		CKvServiceHandle Service(OpenServiceA(Manager.f_Get(), fp_ServiceName.c_str(), SERVICE_QUERY_STATUS));
		SERVICE_STATUS Status{};
		if (!Service.f_IsValid() || !QueryServiceStatus(Service.f_Get(), &Status))
			return 0;
		return Status.dwCurrentState;
	}

	bool CTestKernelService::fp_Fail(const char *pWhat, DWORD Code)
	{
		char Text[256];
		std::snprintf(Text, sizeof(Text), "%s failed for service %s (error %lu)", pWhat, fp_ServiceName.c_str(), static_cast<unsigned long>(Code));
		fp_Error = Text;
		return false;
	}

	bool CTestKernelService::fs_RemoveService(SC_HANDLE Manager, const std::string &ServiceName)
	{
		CKvServiceHandle Service(OpenServiceA(Manager, ServiceName.c_str(), SERVICE_ALL_ACCESS));
		if (!Service.f_IsValid())
			return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
		SERVICE_STATUS Status{};
		ControlService(Service.f_Get(), SERVICE_CONTROL_STOP, &Status);
		fg_WaitForState(Service.f_Get(), SERVICE_STOPPED, 30000);
		return DeleteService(Service.f_Get()) || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
	}
}
