// Faults a real machine throws at the running service, under the real service control manager
// with the test driver image: an unreadable config, the driver's image and kernel service taken
// away behind the worker's back, the log's drive full, and the service's process killed.
// hushvane.exe, the driver image and the helper process sit beside this test program.
#include "KvWin/KvWindowsHandles.h"
#include "app/Hushvane_DriverDeploy.h"
#include "tests/e2e/ServiceSupport_Windows.h"
#include "tests/e2e/WorkerSupport_Windows.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

using namespace NHushvaneTest;

namespace
{
	constexpr const char *gc_Config = "hvfault_app.exe high\r\n";

	bool fg_HasLogWith(size_t Index, const std::string &Text)
	{
		std::vector<std::string> Logs = gf_ReadLogs();
		return Logs.size() > Index && Logs[Index].find(Text) != std::string::npos;
	}

	CKvServiceHandle fg_OpenDriverService(DWORD Access)
	{
		CKvServiceHandle Manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
		if (!Manager)
			return CKvServiceHandle();
		return CKvServiceHandle(OpenServiceA(Manager.f_Get(), NHushvane::gc_DriverServiceName, Access));
	}

	// A launch of a listed program, fed to the driver as the kernel would report it; true when it
	// got its class within the time.
	bool fg_LaunchGetsItsClass(DWORD TimeoutMs = 20000)
	{
		CChildProcess Child("hvfault_app.exe");
		CKvFileHandle Device;
		if (!gf_WaitUntil([&] { Device = gf_OpenHushvaneDevice(); return Device.f_IsValid(); }, TimeoutMs))
			return false;
		if (!gf_FeedProcessEvent(Device.f_Get(), GetCurrentProcessId(), Child.f_GetId(), true))
			return false;
		return gf_WaitUntil([&] { return Child.f_GetPriorityClass() == HIGH_PRIORITY_CLASS; }, TimeoutMs);
	}

	class ServiceFaults : public ::testing::Test
	{
	protected:
		void SetUp() override
		{
			gf_RemoveProgramServiceDirectly();
			gf_RemoveDriverCompletely();
			gf_ClearLogs();
			gf_RemoveTree(gf_InProgramFolder("config"));
			gf_WriteFile(gf_InProgramFolder("config"), gc_Config);
		}

		void TearDown() override
		{
			gf_RemoveProgramServiceDirectly();
			gf_RemoveDriverCompletely();
			gf_RemoveTree(gf_InProgramFolder("config"));
		}

		void f_AddAndStart()
		{
			ASSERT_EQ(gf_RunHushvane("-AddService", gf_ProgramFolder()), 0u);
			ASSERT_EQ(gf_RunHushvane("-StartService", gf_ProgramFolder()), 0u);
			ASSERT_TRUE(gf_WaitUntil([] { return fg_HasLogWith(0, "Launching\r\n"); }, 30000));
			fp_ProcessId = gf_QueryProgramService().dwProcessId;
		}

		// Pause and continue: a new run of the worker with a new log file.
		void f_NewRun()
		{
			size_t Logs = gf_ReadLogs().size();
			ASSERT_TRUE(gf_ControlProgramService(SERVICE_CONTROL_PAUSE));
			ASSERT_TRUE(gf_WaitForProgramServiceState(SERVICE_PAUSED));
			ASSERT_TRUE(gf_ControlProgramService(SERVICE_CONTROL_CONTINUE));
			ASSERT_TRUE(gf_WaitForProgramServiceState(SERVICE_RUNNING));
			ASSERT_TRUE(gf_WaitUntil([&] { return fg_HasLogWith(Logs, "Launching\r\n"); }, 30000)) << "no new log";
		}

		// The log of the newest run once its writer has had time to write everything.
		std::string f_NewestLog()
		{
			Sleep(6000);
			std::vector<std::string> Logs = gf_ReadLogs();
			return Logs.empty() ? std::string() : Logs.back();
		}

		void f_ExpectSameProcessRunning()
		{
			SERVICE_STATUS_PROCESS Status = gf_QueryProgramService();
			EXPECT_EQ(Status.dwCurrentState, DWORD(SERVICE_RUNNING));
			EXPECT_EQ(Status.dwProcessId, fp_ProcessId) << "the service's process was replaced";
		}

		DWORD fp_ProcessId = 0;
	};
}

TEST_F(ServiceFaults, StaleHandleExperiment)
{
	f_AddAndStart();
	EXPECT_TRUE(fg_LaunchGetsItsClass());
	CKvFileHandle Device = gf_OpenHushvaneDevice();
	ASSERT_TRUE(Device.f_IsValid());
	CKvServiceHandle Driver = fg_OpenDriverService(SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS);
	SERVICE_STATUS Status = {};
	BOOL bStop = ControlService(Driver.f_Get(), SERVICE_CONTROL_STOP, &Status);
	DWORD StopError = GetLastError();
	Sleep(1000);
	SERVICE_STATUS Now = {};
	QueryServiceStatus(Driver.f_Get(), &Now);
	BYTE Buffer[64];
	DWORD Returned = 0;
	BOOL bRead = DeviceIoControl(Device.f_Get(), IOCTL_GET_PROCESS_EVENT, nullptr, 0, Buffer, sizeof(Buffer), &Returned, nullptr);
	DWORD ReadError = GetLastError();
	BOOL bFeed = gf_FeedProcessEvent(Device.f_Get(), 1, 2, true);
	DWORD FeedError = GetLastError();
	std::printf("stop %d (%lu) state %lu; read %d error %lu; feed %d error %lu\n", bStop, StopError, Now.dwCurrentState, bRead, ReadError, bFeed, FeedError);
	BYTE Fresh[64];
	CKvFileHandle Empty = gf_OpenHushvaneDevice();
	std::printf("fresh open %d\n", Empty.f_IsValid());
	Device.f_Reset();
	Sleep(500);
	DeviceIoControl(Device.f_Get(), IOCTL_GET_PROCESS_EVENT, nullptr, 0, Fresh, sizeof(Fresh), &Returned, nullptr);
}
