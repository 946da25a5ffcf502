#include "tests/e2e/WorkerSupport_Windows.h"
#include "app/Hushvane_DriverDeploy.h"
#include "KvWin/KvWindowsHandles.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace NHushvaneTest
{
	namespace
	{
		constexpr const char *gc_ServiceKey = "SYSTEM\\CurrentControlSet\\Services\\HushvaneDriver";
	}

	std::string gf_ProgramFolder()
	{
		char Path[MAX_PATH * 4];
		DWORD Length = GetModuleFileNameA(nullptr, Path, DWORD(sizeof(Path)));
		std::string Folder(Path, Length);
		size_t Slash = Folder.find_last_of("\\/");
		return Slash == std::string::npos ? std::string(".") : Folder.substr(0, Slash);
	}

	std::string gf_InProgramFolder(const std::string &Name)
	{
		return gf_ProgramFolder() + "\\" + Name;
	}

	bool gf_FileExists(const std::string &Path)
	{
		DWORD Attributes = GetFileAttributesA(Path.c_str());
		return Attributes != INVALID_FILE_ATTRIBUTES && !(Attributes & FILE_ATTRIBUTE_DIRECTORY);
	}

	bool gf_ReadFile(const std::string &Path, std::string &Content)
	{
		std::ifstream File(Path, std::ios::binary);
		if (!File)
			return false;
		std::ostringstream Stream;
		Stream << File.rdbuf();
		Content = Stream.str();
		return true;
	}

	bool gf_WriteFile(const std::string &Path, const std::string &Content)
	{
		std::ofstream File(Path, std::ios::binary | std::ios::trunc);
		File << Content;
		return bool(File);
	}

	std::vector<std::string> gf_ListFolder(const std::string &Folder, const std::string &Pattern)
	{
		std::vector<std::string> Names;
		WIN32_FIND_DATAA Data;
		HANDLE hFind = FindFirstFileA((Folder + "\\" + Pattern).c_str(), &Data);
		if (hFind == INVALID_HANDLE_VALUE)
			return Names;
		do
		{
			std::string Name = Data.cFileName;
			if (Name != "." && Name != "..")
				Names.push_back(Name);
		} while (FindNextFileA(hFind, &Data));
		FindClose(hFind);
		std::sort(Names.begin(), Names.end());
		return Names;
	}

	void gf_RemoveTree(const std::string &Path)
	{
		DWORD Attributes = GetFileAttributesA(Path.c_str());
		if (Attributes == INVALID_FILE_ATTRIBUTES)
			return;
		if (Attributes & FILE_ATTRIBUTE_DIRECTORY)
		{
			for (const std::string &Name : gf_ListFolder(Path, "*"))
				gf_RemoveTree(Path + "\\" + Name);
			RemoveDirectoryA(Path.c_str());
		}
		else
		{
			SetFileAttributesA(Path.c_str(), FILE_ATTRIBUTE_NORMAL);
			DeleteFileA(Path.c_str());
		}
	}

	// Not from %SystemRoot%: tests change it.
	static std::string fg_DriversFolder()
	{
		char Root[MAX_PATH];
		UINT Length = GetSystemWindowsDirectoryA(Root, UINT(sizeof(Root)));
		return std::string(Root, Length < sizeof(Root) ? Length : 0) + "\\System32\\Drivers";
	}

	std::string gf_InstalledImagePath()
	{
		return fg_DriversFolder() + "\\" + NHushvane::gf_GetDriverImageName();
	}

	std::vector<std::string> gf_MovedAsideImages()
	{
		return gf_ListFolder(fg_DriversFolder(), std::string(NHushvane::gf_GetDriverImageName()) + ".old.*");
	}

	std::vector<std::string> gf_TemporaryImages()
	{
		return gf_ListFolder(fg_DriversFolder(), std::string(NHushvane::gf_GetDriverImageName()) + ".new.*");
	}

	bool gf_DriverServiceExists()
	{
		CKvServiceHandle Manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
		if (!Manager)
			return false;
		CKvServiceHandle Service(OpenServiceA(Manager.f_Get(), NHushvane::gc_DriverServiceName, SERVICE_QUERY_STATUS));
		return Service.f_IsValid();
	}

	DWORD gf_DriverServiceState()
	{
		CKvServiceHandle Manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
		if (!Manager)
			return 0;
		CKvServiceHandle Service(OpenServiceA(Manager.f_Get(), NHushvane::gc_DriverServiceName, SERVICE_QUERY_STATUS));
		SERVICE_STATUS Status = {};
		if (!Service || !QueryServiceStatus(Service.f_Get(), &Status))
			return 0;
		return Status.dwCurrentState;
	}

	void gf_RemoveDriverCompletely()
	{
		{
			CKvServiceHandle Manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
			if (Manager)
			{
				CKvServiceHandle Service(OpenServiceA(Manager.f_Get(), NHushvane::gc_DriverServiceName, SERVICE_ALL_ACCESS));
				if (Service)
				{
					SERVICE_STATUS Status = {};
					ControlService(Service.f_Get(), SERVICE_CONTROL_STOP, &Status);
					gf_WaitUntil([&] { return !QueryServiceStatus(Service.f_Get(), &Status) || Status.dwCurrentState == SERVICE_STOPPED; }, 20000);
					DeleteService(Service.f_Get());
				}
			}
		}
		gf_WaitUntil([] { return !gf_DriverServiceExists(); }, 20000);
		RegDeleteTreeA(HKEY_LOCAL_MACHINE, gc_ServiceKey);
		gf_RemoveTree(gf_InstalledImagePath());
		for (const std::string &Name : gf_MovedAsideImages())
			gf_RemoveTree(fg_DriversFolder() + "\\" + Name);
		for (const std::string &Name : gf_TemporaryImages())
			gf_RemoveTree(fg_DriversFolder() + "\\" + Name);
	}

	bool gf_SetDriverServiceDword(const char *pName, DWORD Value)
	{
		HKEY hKey = nullptr;
		if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, gc_ServiceKey, 0, KEY_SET_VALUE, &hKey) != ERROR_SUCCESS)
			return false;
		bool bSet = RegSetValueExA(hKey, pName, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&Value), sizeof(Value)) == ERROR_SUCCESS;
		RegCloseKey(hKey);
		return bSet;
	}

	bool gf_DeleteDriverServiceValue(const char *pName)
	{
		HKEY hKey = nullptr;
		if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, gc_ServiceKey, 0, KEY_SET_VALUE, &hKey) != ERROR_SUCCESS)
			return false;
		LSTATUS Status = RegDeleteValueA(hKey, pName);
		RegCloseKey(hKey);
		return Status == ERROR_SUCCESS || Status == ERROR_FILE_NOT_FOUND;
	}

	bool gf_SetDeleteFlag(DWORD Value)
	{
		return gf_SetDriverServiceDword("DeleteFlag", Value);
	}

	bool gf_DeleteFlagExists()
	{
		HKEY hKey = nullptr;
		if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, gc_ServiceKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
			return false;
		bool bExists = RegQueryValueExA(hKey, "DeleteFlag", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
		RegCloseKey(hKey);
		return bExists;
	}

	std::vector<std::string> gf_ReadLogs()
	{
		return gf_ReadLogs(gf_InProgramFolder("Log"));
	}

	std::vector<std::string> gf_ReadLogs(const std::string &Folder)
	{
		std::vector<std::string> Logs;
		for (const std::string &Name : gf_ListFolder(Folder, "*.log"))
		{
			std::string Content;
			gf_ReadFile(Folder + "\\" + Name, Content);
			Logs.push_back(Content);
		}
		return Logs;
	}

	void gf_ClearLogs()
	{
		gf_RemoveTree(gf_InProgramFolder("Log"));
	}

	bool gf_WaitUntil(const std::function<bool()> &Condition, DWORD TimeoutMs)
	{
		ULONGLONG End = GetTickCount64() + TimeoutMs;
		for (;;)
		{
			if (Condition())
				return true;
			if (GetTickCount64() >= End)
				return false;
			Sleep(10);
		}
	}

	CKvFileHandle gf_WaitForDevice(DWORD TimeoutMs)
	{
		CKvFileHandle hDevice;
		gf_WaitUntil([&] { hDevice = gf_OpenHushvaneDevice(); return hDevice.f_IsValid(); }, TimeoutMs);
		return hDevice;
	}

	CChildProcess::CChildProcess(const std::string &Name, bool bSuspended)
	{
		std::string Path = gf_InProgramFolder(Name);
		if (!gf_FileExists(Path))
			CopyFileA(gf_InProgramFolder("hv_e2e_child.exe").c_str(), Path.c_str(), FALSE);
		STARTUPINFOA Startup = {};
		Startup.cb = sizeof(Startup);
		std::string CommandLine = "\"" + Path + "\"";
		if (!CreateProcessA(Path.c_str(), CommandLine.data(), nullptr, nullptr, FALSE, bSuspended ? CREATE_SUSPENDED : 0, nullptr, nullptr, &Startup, &fp_Info))
			fp_Info = {};
	}

	CChildProcess::~CChildProcess()
	{
		f_End();
	}

	void CChildProcess::f_Terminate()
	{
		if (fp_Info.hProcess)
			TerminateProcess(fp_Info.hProcess, 0);
	}

	bool CChildProcess::f_End(DWORD TimeoutMs)
	{
		if (!fp_Info.hProcess)
			return true;
		TerminateProcess(fp_Info.hProcess, 0);
		bool bEnded = WaitForSingleObject(fp_Info.hProcess, TimeoutMs) == WAIT_OBJECT_0;
		CloseHandle(fp_Info.hThread);
		CloseHandle(fp_Info.hProcess);
		fp_Info = {};
		return bEnded;
	}

	size_t gf_EndChildren(const std::vector<std::unique_ptr<CChildProcess>> &Children, DWORD TimeoutMs)
	{
		for (const auto &pChild : Children)
			pChild->f_Terminate();
		ULONGLONG End = GetTickCount64() + TimeoutMs;
		size_t NotEnded = 0;
		for (const auto &pChild : Children)
		{
			ULONGLONG Now = GetTickCount64();
			NotEnded += !pChild->f_End(Now < End ? DWORD(End - Now) : 0);
		}
		return NotEnded;
	}

	std::string gf_ServiceBinaryPath(const CKvServiceHandle &hService)
	{
		alignas(QUERY_SERVICE_CONFIGA) char Buffer[8192];
		DWORD Needed = 0;
		auto *pConfig = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(Buffer);
		if (!hService || !QueryServiceConfigA(hService.f_Get(), pConfig, sizeof(Buffer), &Needed))
			return "";
		return pConfig->lpBinaryPathName ? pConfig->lpBinaryPathName : "";
	}

	CKvFileHandle gf_StartBenchWorker(std::unique_ptr<NHushvane::CTCPF_MainWin32> &pWorker)
	{
		pWorker = std::make_unique<NHushvane::CTCPF_MainWin32>();
		pWorker->f_Start();
		CKvFileHandle hDevice = gf_WaitForDevice();
		if (!hDevice.f_IsValid())
			std::printf("driver did not come up; no figures\n");
		return hDevice;
	}
}
