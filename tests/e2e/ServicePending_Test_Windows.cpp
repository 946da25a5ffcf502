// Stop and pause of a service whose worker takes seconds to end, under the real service control
// manager: the request is answered at once, and until the worker has ended the manager sees the
// pending state with a wait hint and checkpoints that keep rising.
#include "KvWin/KvWindowsHandles.h"
#include "tests/e2e/WorkerSupport_Windows.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

using namespace NHushvaneTest;

namespace
{
	constexpr const char *gc_Name = "HvHeldService";
	constexpr DWORD gc_HoldMs = 3500;

	CKvServiceHandle fg_Open(DWORD Access)
	{
		CKvServiceHandle Manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
		return Manager ? CKvServiceHandle(OpenServiceA(Manager.f_Get(), gc_Name, Access)) : CKvServiceHandle();
	}

	SERVICE_STATUS fg_Query()
	{
		SERVICE_STATUS Status = {};
		CKvServiceHandle Service = fg_Open(SERVICE_QUERY_STATUS);
		if (Service)
			QueryServiceStatus(Service.f_Get(), &Status);
		return Status;
	}

	void fg_Remove()
	{
		CKvServiceHandle Service = fg_Open(SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
		if (!Service)
			return;
		SERVICE_STATUS Status = {};
		ControlService(Service.f_Get(), SERVICE_CONTROL_STOP, &Status);
		gf_WaitUntil([] { return fg_Query().dwCurrentState == SERVICE_STOPPED; }, 30000);
		DeleteService(Service.f_Get());
	}

	struct CSeen
	{
		std::vector<DWORD> Checkpoints; // of the pending state, in the order seen
		DWORD WaitHint = 0;
		DWORD FinalState = 0;
		DWORD ExitCode = ~0u;
	};

	// Sends Control and watches the status every 20 ms until it leaves the pending state.
	CSeen fg_ControlAndWatch(DWORD Control, DWORD Pending, ULONGLONG &AnsweredMs)
	{
		CSeen Seen;
		CKvServiceHandle Service = fg_Open(SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_QUERY_STATUS);
		SERVICE_STATUS Status = {};
		ULONGLONG Start = GetTickCount64();
		if (!Service || !ControlService(Service.f_Get(), Control, &Status))
			return Seen;
		AnsweredMs = GetTickCount64() - Start;
		gf_WaitUntil(
			[&] {
				QueryServiceStatus(Service.f_Get(), &Status);
				if (Status.dwCurrentState != Pending)
					return true;
				if (Seen.Checkpoints.empty() || Seen.Checkpoints.back() != Status.dwCheckPoint)
					Seen.Checkpoints.push_back(Status.dwCheckPoint);
				Seen.WaitHint = Status.dwWaitHint;
				return false;
			},
			30000);
		Seen.FinalState = Status.dwCurrentState;
		Seen.ExitCode = Status.dwWin32ExitCode;
		return Seen;
	}

	void fg_ExpectRising(const CSeen &Seen)
	{
		// A hold of 3.5 s at one checkpoint a second: four of them, counted up from 1.
		ASSERT_GE(Seen.Checkpoints.size(), 3u) << "the pending state was not reported with progress";
		EXPECT_EQ(Seen.Checkpoints.front(), 1u);
		for (size_t i = 1; i < Seen.Checkpoints.size(); ++i)
			EXPECT_GT(Seen.Checkpoints[i], Seen.Checkpoints[i - 1]);
		EXPECT_GT(Seen.WaitHint, 0u);
	}

	class ServicePending : public ::testing::Test
	{
	protected:
		void SetUp() override
		{
			fg_Remove();
			CKvServiceHandle Manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
			ASSERT_TRUE(Manager.f_IsValid());
			std::string Command = "\"" + gf_InProgramFolder("hv_held_service.exe") + "\" " + std::to_string(gc_HoldMs);
			CKvServiceHandle Service(CreateServiceA(Manager.f_Get(), gc_Name, gc_Name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
				SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, Command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
			ASSERT_TRUE(Service.f_IsValid()) << GetLastError();
			ASSERT_TRUE(StartServiceA(Service.f_Get(), 0, nullptr)) << GetLastError();
			ASSERT_TRUE(gf_WaitUntil([] { return fg_Query().dwCurrentState == SERVICE_RUNNING; }, 30000));
		}

		void TearDown() override
		{
			fg_Remove();
		}
	};
}

TEST_F(ServicePending, StopReportsRisingCheckpointsWhileTheWorkerEnds)
{
	ULONGLONG AnsweredMs = ~0ull;
	CSeen Seen = fg_ControlAndWatch(SERVICE_CONTROL_STOP, SERVICE_STOP_PENDING, AnsweredMs);
	EXPECT_LT(AnsweredMs, ULONGLONG(gc_HoldMs)) << "the request waited for the worker";
	fg_ExpectRising(Seen);
	EXPECT_EQ(Seen.FinalState, DWORD(SERVICE_STOPPED));
	EXPECT_EQ(Seen.ExitCode, 0u);
}

TEST_F(ServicePending, PauseReportsRisingCheckpointsAndAStopFromPausedToo)
{
	ULONGLONG AnsweredMs = ~0ull;
	CSeen Paused = fg_ControlAndWatch(SERVICE_CONTROL_PAUSE, SERVICE_PAUSE_PENDING, AnsweredMs);
	EXPECT_LT(AnsweredMs, ULONGLONG(gc_HoldMs));
	fg_ExpectRising(Paused);
	EXPECT_EQ(Paused.FinalState, DWORD(SERVICE_PAUSED));

	// Stopping a paused service starts its worker again and then waits for it to end.
	CSeen Stopped = fg_ControlAndWatch(SERVICE_CONTROL_STOP, SERVICE_STOP_PENDING, AnsweredMs);
	fg_ExpectRising(Stopped);
	EXPECT_EQ(Stopped.FinalState, DWORD(SERVICE_STOPPED));
}
