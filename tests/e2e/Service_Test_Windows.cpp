// hushvane.exe as a Windows service under the real service control manager: registration,
// start with the worker running, pause and continue, stop, removal, and the commands on a
// service that is not there. The program, the test driver image and the helper processes sit
// beside this test program.
#include "KvWin/KvWindowsHandles.h"
#include "tests/e2e/ServiceSupport_Windows.h"
#include "tests/e2e/WorkerSupport_Windows.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

using namespace NHushvaneTest;

namespace
{
	constexpr const char *gc_ServiceKey = "SYSTEM\\CurrentControlSet\\Services\\Hushvane";

	bool fg_HaveDisplay()
	{
		char Display[256];
		return GetEnvironmentVariableA("DISPLAY", Display, sizeof(Display)) != 0;
	}

	std::string fg_ForwardSlashes(std::string Path)
	{
		for (char &Char : Path)
			if (Char == '\\')
				Char = '/';
		return Path;
	}

	std::string fg_ExpectedImagePath(const std::string &Folder)
	{
		char Full[MAX_PATH * 4];
		GetFullPathNameA((Folder + "\\hushvane.exe").c_str(), DWORD(sizeof(Full)), Full, nullptr);
		return "\"" + fg_ForwardSlashes(Full) + "\" -Service Hushvane";
	}

	// The service's registry key as text: every value the registration wrote.
	struct CRegistration
	{
		std::string ImagePath;
		std::string DisplayName;
		std::string Description;
		DWORD Type = 0;
		DWORD Start = 0;
		DWORD ErrorControl = 0;
	};

	std::string fg_ReadString(HKEY hKey, const char *pName)
	{
		char Buffer[4096];
		DWORD Size = sizeof(Buffer) - 1;
		DWORD Type = 0;
		if (RegQueryValueExA(hKey, pName, nullptr, &Type, reinterpret_cast<BYTE *>(Buffer), &Size) != ERROR_SUCCESS)
			return "<missing>";
		Buffer[Size] = 0;
		return Buffer;
	}

	DWORD fg_ReadDword(HKEY hKey, const char *pName)
	{
		DWORD Value = 0xFFFFFFFF;
		DWORD Size = sizeof(Value);
		RegQueryValueExA(hKey, pName, nullptr, nullptr, reinterpret_cast<BYTE *>(&Value), &Size);
		return Value;
	}

	CRegistration fg_ReadRegistration()
	{
		CRegistration Registration;
		HKEY hKey = nullptr;
		if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, gc_ServiceKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
			return Registration;
		Registration.ImagePath = fg_ReadString(hKey, "ImagePath");
		Registration.DisplayName = fg_ReadString(hKey, "DisplayName");
		Registration.Description = fg_ReadString(hKey, "Description");
		Registration.Type = fg_ReadDword(hKey, "Type");
		Registration.Start = fg_ReadDword(hKey, "Start");
		Registration.ErrorControl = fg_ReadDword(hKey, "ErrorControl");
		RegCloseKey(hKey);
		return Registration;
	}

	bool fg_HasLogWithLaunching(size_t Index)
	{
		std::vector<std::string> Logs = gf_ReadLogs();
		return Logs.size() > Index && Logs[Index].rfind("Launching\r\n", 0) == 0;
	}

	class ServiceE2E : public ::testing::Test
	{
	protected:
		void SetUp() override
		{
			gf_RemoveProgramServiceDirectly();
			gf_ClearLogs();
			gf_WriteFile(gf_InProgramFolder("config"), "hvsvc_running.exe high\r\nhvsvc_new.exe abovenormal\r\n");
		}

		void TearDown() override
		{
			gf_RemoveProgramServiceDirectly();
			gf_RemoveDriverCompletely();
			gf_RemoveTree(gf_InProgramFolder("moved"));
		}

		void f_AddAndStart()
		{
			ASSERT_EQ(gf_RunHushvane("-AddService", gf_ProgramFolder()), 0u);
			ASSERT_EQ(gf_RunHushvane("-StartService", gf_ProgramFolder()), 0u);
			ASSERT_EQ(gf_QueryProgramService().dwCurrentState, DWORD(SERVICE_RUNNING));
		}
	};
}

TEST_F(ServiceE2E, AddServiceRegistersTheProgramAsAnAutomaticOwnProcessService)
{
	ASSERT_EQ(gf_RunHushvane("-AddService", gf_ProgramFolder()), 0u);
	CRegistration Registration = fg_ReadRegistration();
	EXPECT_EQ(Registration.ImagePath, fg_ExpectedImagePath(gf_ProgramFolder()));
	EXPECT_EQ(Registration.Type, DWORD(SERVICE_WIN32_OWN_PROCESS));
	EXPECT_EQ(Registration.Start, DWORD(SERVICE_AUTO_START));
	EXPECT_EQ(Registration.ErrorControl, DWORD(SERVICE_ERROR_NORMAL));
	EXPECT_EQ(Registration.DisplayName, "Hushvane");
	EXPECT_EQ(Registration.Description, "Sets the priority class of processes at process launch.");
	EXPECT_EQ(gf_QueryProgramService().dwCurrentState, DWORD(SERVICE_STOPPED));
}

TEST_F(ServiceE2E, AddingTwiceChangesNothingAndAMoveChangesOnlyTheImagePath)
{
	ASSERT_EQ(gf_RunHushvane("-AddService", gf_ProgramFolder()), 0u);
	CRegistration First = fg_ReadRegistration();
	ASSERT_EQ(gf_RunHushvane("-AddService", gf_ProgramFolder()), 0u);
	CRegistration Second = fg_ReadRegistration();
	EXPECT_EQ(Second.ImagePath, First.ImagePath);
	EXPECT_EQ(Second.DisplayName, First.DisplayName);
	EXPECT_EQ(Second.Description, First.Description);

	std::string Moved = gf_InProgramFolder("moved");
	CreateDirectoryA(Moved.c_str(), nullptr);
	ASSERT_TRUE(CopyFileA(gf_InProgramFolder("hushvane.exe").c_str(), (Moved + "\\hushvane.exe").c_str(), FALSE));
	ASSERT_EQ(gf_RunHushvane("-AddService", Moved), 0u);
	CRegistration Third = fg_ReadRegistration();
	EXPECT_EQ(Third.ImagePath, fg_ExpectedImagePath(Moved));
	EXPECT_NE(Third.ImagePath, First.ImagePath);
	EXPECT_EQ(Third.DisplayName, First.DisplayName);
	EXPECT_EQ(Third.Description, First.Description);
	EXPECT_EQ(Third.Type, First.Type);
	EXPECT_EQ(Third.Start, First.Start);
	EXPECT_EQ(Third.ErrorControl, First.ErrorControl);
}

TEST_F(ServiceE2E, StartedServiceRunsTheWorkerOnRunningAndNewProcesses)
{
	CChildProcess Running("hvsvc_running.exe");
	ASSERT_TRUE(Running.f_IsRunning());
	f_AddAndStart();
	EXPECT_TRUE(gf_WaitUntil([] { return fg_HasLogWithLaunching(0); }, 30000)) << "no log beginning with Launching";
	EXPECT_TRUE(gf_WaitUntil([&] { return Running.f_GetPriorityClass() == HIGH_PRIORITY_CLASS; }, 30000))
		<< std::hex << Running.f_GetPriorityClass();

	// Wine's kernel reports no launches: hand the new process's creation to the driver as the
	// kernel would.
	CChildProcess New("hvsvc_new.exe");
	ASSERT_TRUE(New.f_IsRunning());
	ASSERT_TRUE(gf_WaitUntil([] { return gf_OpenHushvaneDevice().f_IsValid(); }, 30000));
	CKvFileHandle Device = gf_OpenHushvaneDevice();
	ASSERT_TRUE(gf_FeedProcessEvent(Device.f_Get(), GetCurrentProcessId(), New.f_GetId(), true));
	EXPECT_TRUE(gf_WaitUntil([&] { return New.f_GetPriorityClass() == ABOVE_NORMAL_PRIORITY_CLASS; }, 30000))
		<< std::hex << New.f_GetPriorityClass();
}

TEST_F(ServiceE2E, StartingARunningServiceSucceedsWithoutANewRun)
{
	f_AddAndStart();
	DWORD ProcessId = gf_QueryProgramService().dwProcessId;
	EXPECT_EQ(gf_RunHushvane("-StartService", gf_ProgramFolder()), 0u);
	EXPECT_EQ(gf_QueryProgramService().dwProcessId, ProcessId);
}

TEST_F(ServiceE2E, PauseAndContinueStartANewLogFile)
{
	f_AddAndStart();
	ASSERT_TRUE(gf_WaitUntil([] { return fg_HasLogWithLaunching(0); }, 30000));
	ASSERT_TRUE(gf_ControlProgramService(SERVICE_CONTROL_PAUSE));
	ASSERT_TRUE(gf_WaitForProgramServiceState(SERVICE_PAUSED));
	EXPECT_EQ(gf_ReadLogs().size(), 1u);
	ASSERT_TRUE(gf_ControlProgramService(SERVICE_CONTROL_CONTINUE));
	ASSERT_TRUE(gf_WaitForProgramServiceState(SERVICE_RUNNING));
	EXPECT_TRUE(gf_WaitUntil([] { return fg_HasLogWithLaunching(1); }, 30000)) << "no second log after continue";
	// Stopping a paused service resumes it first, then stops it.
	ASSERT_TRUE(gf_ControlProgramService(SERVICE_CONTROL_PAUSE));
	ASSERT_TRUE(gf_WaitForProgramServiceState(SERVICE_PAUSED));
	EXPECT_EQ(gf_RunHushvane("-StopService", gf_ProgramFolder()), 0u);
	EXPECT_EQ(gf_QueryProgramService().dwCurrentState, DWORD(SERVICE_STOPPED));
}

TEST_F(ServiceE2E, StopServiceReturnsAfterTheServiceProcessHasEnded)
{
	f_AddAndStart();
	DWORD ProcessId = gf_QueryProgramService().dwProcessId;
	ASSERT_NE(ProcessId, 0u);
	HANDLE hProcess = OpenProcess(SYNCHRONIZE, FALSE, ProcessId);
	ASSERT_NE(hProcess, nullptr);
	EXPECT_EQ(gf_RunHushvane("-StopService", gf_ProgramFolder()), 0u);
	EXPECT_EQ(WaitForSingleObject(hProcess, 0), WAIT_OBJECT_0) << "the service's process is still running";
	CloseHandle(hProcess);
	EXPECT_EQ(gf_QueryProgramService().dwCurrentState, DWORD(SERVICE_STOPPED));
	// Stopping a stopped service succeeds without a request.
	EXPECT_EQ(gf_RunHushvane("-StopService", gf_ProgramFolder()), 0u);
}

TEST_F(ServiceE2E, RemoveServiceStopsAndDeletesARunningService)
{
	f_AddAndStart();
	DWORD ProcessId = gf_QueryProgramService().dwProcessId;
	HANDLE hProcess = OpenProcess(SYNCHRONIZE, FALSE, ProcessId);
	EXPECT_EQ(gf_RunHushvane("-RemoveService", gf_ProgramFolder()), 0u);
	EXPECT_FALSE(gf_ProgramServiceExists());
	if (hProcess)
	{
		EXPECT_EQ(WaitForSingleObject(hProcess, 0), WAIT_OBJECT_0);
		CloseHandle(hProcess);
	}
}

TEST_F(ServiceE2E, CommandsOnAMissingServiceFailExceptStop)
{
	ASSERT_FALSE(gf_ProgramServiceExists());
	int Boxes = 0;
	EXPECT_EQ(gf_RunHushvane("-RemoveService", gf_ProgramFolder(), "Error", &Boxes), 1u);
	EXPECT_EQ(gf_RunHushvane("-StartService", gf_ProgramFolder(), "Error", &Boxes), 1u);
	EXPECT_EQ(gf_RunHushvane("-StopService", gf_ProgramFolder(), "Error", &Boxes), 0u);
	if (fg_HaveDisplay())
	{
		EXPECT_EQ(Boxes, 2) << "remove and start each show one box, stop none";
	}
	EXPECT_FALSE(gf_ProgramServiceExists());
}

TEST_F(ServiceE2E, ServiceSwitchOutsideTheManagerEndsAtOnce)
{
	// The dispatcher cannot start in a process the manager did not start; the program ends.
	EXPECT_EQ(gf_RunHushvane("-Service Hushvane", gf_ProgramFolder()), 0u);
	EXPECT_EQ(gf_RunHushvane("x-Servicey", gf_ProgramFolder()), 0u);
}

TEST(ProgramResources, TrayIconIsOne16x16ImageIn16Colours)
{
	std::string Program = gf_InProgramFolder("hushvane.exe");
	HMODULE hModule = LoadLibraryExA(Program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
	ASSERT_NE(hModule, nullptr);
	HRSRC hGroup = FindResourceA(hModule, MAKEINTRESOURCEA(101), MAKEINTRESOURCEA(14)); // RT_GROUP_ICON
	ASSERT_NE(hGroup, nullptr);
	const BYTE *pGroup = static_cast<const BYTE *>(LockResource(LoadResource(hModule, hGroup)));
	ASSERT_NE(pGroup, nullptr);
	// Group header: reserved, type 1 (icon), count; then 14-byte entries.
	WORD Type = WORD(pGroup[2] | (pGroup[3] << 8));
	WORD Count = WORD(pGroup[4] | (pGroup[5] << 8));
	EXPECT_EQ(Type, 1);
	ASSERT_EQ(Count, 1);
	const BYTE *pEntry = pGroup + 6;
	EXPECT_EQ(pEntry[0], 16); // width
	EXPECT_EQ(pEntry[1], 16); // height
	EXPECT_EQ(pEntry[2], 16); // colours
	EXPECT_EQ(WORD(pEntry[6] | (pEntry[7] << 8)), 4); // bits per pixel
	FreeLibrary(hModule);
}

TEST_F(ServiceE2E, UninstallDriversWritesALogWithoutRunningTheWorker)
{
	f_AddAndStart();
	ASSERT_TRUE(gf_WaitUntil([] { return gf_DriverServiceExists(); }, 30000)) << "the worker did not install its driver";
	ASSERT_EQ(gf_RunHushvane("-StopService", gf_ProgramFolder()), 0u);
	gf_ClearLogs();
	EXPECT_EQ(gf_RunHushvane("-UninstallDrivers", gf_ProgramFolder()), 0u);
	std::vector<std::string> Logs = gf_ReadLogs();
	ASSERT_EQ(Logs.size(), 1u);
	// No run of the worker: no configuration read, no launch.
	EXPECT_EQ(Logs[0].find("Launching"), std::string::npos);
	EXPECT_EQ(Logs[0].find("Added process"), std::string::npos);
	EXPECT_TRUE(gf_WaitUntil([] { return !gf_DriverServiceExists(); }, 30000)) << "the driver's service is still registered";
}
