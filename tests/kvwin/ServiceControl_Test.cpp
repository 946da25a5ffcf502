#include "KvWin/KvService.h"
#include "KvWin/KvServiceControl.h"
#include "tests/kvwin/support/RecordingService.h"

#include "zel/library/core/general/Zel_Exception.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using NHushvaneTest::CRecordingService;
using NZel::NStr::CStr;

namespace
{
	class CRecordingReporter final : public ICKvServiceReporter
	{
	public:
		bool f_Report(const CKvServiceStatus &Status, NZel::uint32 &ErrorCode) override
		{
			fp_Reports.push_back(Status);
			if (fp_FailWith)
			{
				ErrorCode = fp_FailWith;
				return false;
			}
			return true;
		}
		void f_DebugOutput(const CStr &Line) override
		{
			fp_Lines.push_back(Line.f_GetStr());
		}

		NZel::uint32 fp_FailWith = 0;
		std::vector<CKvServiceStatus> fp_Reports;
		std::vector<std::string> fp_Lines;
	};

	CKvServiceStatus fg_StatusIn(NZel::uint32 State)
	{
		CKvServiceStatus Status = gf_KvServiceInitialStatus();
		Status.dwCurrentState = State;
		return Status;
	}

	using CCalls = std::vector<std::string>;
	using CLines = std::vector<std::string>;
}

TEST(KvServiceInstance, SecondObjectThrowsAndChangesNothing)
{
	CRecordingService First("Hushvane");
	EXPECT_EQ(CKvService::fs_GetInstance(), &First);
	try
	{
		CRecordingService Second("Other");
		FAIL() << "a second service object was made";
	}
	catch (const NZel::NException::CException &Exception)
	{
		EXPECT_STREQ(Exception.f_GetMessage(), "You cannot have two services running in the same process at once");
	}
	EXPECT_EQ(CKvService::fs_GetInstance(), &First);
	EXPECT_STREQ(CKvService::fs_GetServiceName().f_GetStr(), "Hushvane");
}

TEST(KvServiceInstance, NewObjectAfterTheFirstIsGoneAndTextsOutliveIt)
{
	{
		CRecordingService First("First");
	}
	EXPECT_EQ(CKvService::fs_GetInstance(), nullptr);
	EXPECT_STREQ(CKvService::fs_GetServiceName().f_GetStr(), "First");
	CRecordingService Second("Second");
	EXPECT_EQ(CKvService::fs_GetInstance(), &Second);
	EXPECT_STREQ(CKvService::fs_GetServiceName().f_GetStr(), "Second");
	EXPECT_STREQ(CKvService::fs_GetDisplayName().f_GetStr(), "Display");
	EXPECT_STREQ(CKvService::fs_GetDescription().f_GetStr(), "Description");
}

TEST(KvServiceStatus, InitialStatusAnnouncesStopAndPauseOnly)
{
	CKvServiceStatus Status = gf_KvServiceInitialStatus();
	EXPECT_EQ(Status.dwServiceType, 0x30u);
	EXPECT_EQ(Status.dwCurrentState, 2u);
	EXPECT_EQ(Status.dwControlsAccepted, 3u);
	EXPECT_EQ(Status.dwWin32ExitCode, 0u);
	EXPECT_EQ(Status.dwServiceSpecificExitCode, 0u);
	EXPECT_EQ(Status.dwCheckPoint, 0u);
	EXPECT_EQ(Status.dwWaitHint, 0u);
}

TEST(KvServiceStart, SuccessfulStartReportsRunningAndReturnsTheThread)
{
	CRecordingService Service;
	CRecordingReporter Reporter;
	CKvServiceStatus Status = gf_KvServiceInitialStatus();
	gf_KvServiceRunStart(Service, Status, Reporter);
	EXPECT_EQ(Service.fp_Calls, CCalls{"start"});
	ASSERT_EQ(Reporter.fp_Reports.size(), 1u);
	EXPECT_EQ(Reporter.fp_Reports[0].dwCurrentState, 4u);
	EXPECT_EQ(Reporter.fp_Reports[0].dwWin32ExitCode, 0u);
	EXPECT_EQ(Reporter.fp_Lines, CLines{" [Hushvane] Returning the Main Thread\n"});
}

TEST(KvServiceStart, FailedStartReportsStoppedWithExitCodeOneAndNoLine)
{
	CRecordingService Service("Hushvane", 0);
	CRecordingReporter Reporter;
	Reporter.fp_FailWith = 5; // not even a failed report is mentioned
	CKvServiceStatus Status = gf_KvServiceInitialStatus();
	gf_KvServiceRunStart(Service, Status, Reporter);
	ASSERT_EQ(Reporter.fp_Reports.size(), 1u);
	EXPECT_EQ(Reporter.fp_Reports[0].dwCurrentState, 1u);
	EXPECT_EQ(Reporter.fp_Reports[0].dwWin32ExitCode, 1u);
	EXPECT_TRUE(Reporter.fp_Lines.empty());
}

TEST(KvServiceStart, FailedRunningReportWritesTheErrorLine)
{
	CRecordingService Service;
	CRecordingReporter Reporter;
	Reporter.fp_FailWith = 6;
	CKvServiceStatus Status = gf_KvServiceInitialStatus();
	gf_KvServiceRunStart(Service, Status, Reporter);
	EXPECT_EQ(Status.dwCurrentState, 4u); // the state is kept although the report failed
	EXPECT_EQ(Reporter.fp_Lines, (CLines{" [Hushvane] SetServiceStatus error 6\n", " [Hushvane] Returning the Main Thread\n"}));
}

struct CControlCase
{
	const char *pName;
	NZel::uint32 StateBefore;
	NZel::uint32 Control;
	CCalls Calls;
	NZel::uint32 StateAfter;
	EKvServiceWork Work;
	CLines Lines;
};

class KvServiceControl : public ::testing::TestWithParam<CControlCase>
{
};

// The handler itself: stop and pause only announce their pending state and hand the work on.
TEST_P(KvServiceControl, RunsOrHandsOnTheFittingOperationAndReportsOnce)
{
	const CControlCase &Case = GetParam();
	CRecordingService Service;
	CRecordingReporter Reporter;
	CKvServiceStatus Status = fg_StatusIn(Case.StateBefore);
	Status.dwWin32ExitCode = 9;
	EXPECT_EQ(gf_KvServiceHandleControl(Service, Status, Reporter, Case.Control), Case.Work);
	EXPECT_EQ(Service.fp_Calls, Case.Calls);
	ASSERT_EQ(Reporter.fp_Reports.size(), 1u);
	EXPECT_EQ(Reporter.fp_Reports[0].dwCurrentState, Case.StateAfter);
	EXPECT_EQ(Status.dwCurrentState, Case.StateAfter);
	bool bPending = Case.Work != EKvServiceWork::None;
	EXPECT_EQ(Reporter.fp_Reports[0].dwCheckPoint, bPending ? 1u : 0u);
	EXPECT_EQ(Reporter.fp_Reports[0].dwWaitHint, bPending ? gc_KvServiceWaitHintMs : 0u);
	EXPECT_EQ(Reporter.fp_Reports[0].dwControlsAccepted, 3u);
	EXPECT_EQ(Reporter.fp_Reports[0].dwWin32ExitCode, 9u) << "the exit code is only set when the service has stopped";
	EXPECT_EQ(Reporter.fp_Lines, Case.Lines);
}

INSTANTIATE_TEST_SUITE_P(Codes, KvServiceControl,
	::testing::Values(
		CControlCase{"StopRunning", 4, 1, {}, 3, EKvServiceWork::Stop, {}},
		CControlCase{"StopPausedResumesFirst", 7, 1, {}, 3, EKvServiceWork::ResumeAndStop, {}},
		CControlCase{"StopWhileStopping", 3, 1, {}, 3, EKvServiceWork::None, {}},
		CControlCase{"PauseRunning", 4, 2, {}, 6, EKvServiceWork::Pause, {}},
		CControlCase{"PausePaused", 7, 2, {}, 7, EKvServiceWork::None, {}},
		CControlCase{"PauseWhilePausing", 6, 2, {}, 6, EKvServiceWork::None, {}},
		CControlCase{"PauseWhileStopping", 3, 2, {}, 3, EKvServiceWork::None, {}},
		CControlCase{"ContinuePaused", 7, 3, {"resume"}, 4, EKvServiceWork::None, {}},
		CControlCase{"ContinueRunning", 4, 3, {}, 4, EKvServiceWork::None, {}},
		CControlCase{"ContinueWhilePausing", 6, 3, {}, 6, EKvServiceWork::None, {}},
		CControlCase{"InterrogateRunning", 4, 4, {}, 4, EKvServiceWork::None, {}},
		CControlCase{"InterrogatePaused", 7, 4, {}, 7, EKvServiceWork::None, {}},
		CControlCase{"Shutdown", 4, 5, {}, 4, EKvServiceWork::None, {" [Hushvane] Unrecognized opcode 5\n"}},
		CControlCase{"Zero", 4, 0, {}, 4, EKvServiceWork::None, {" [Hushvane] Unrecognized opcode 0\n"}},
		CControlCase{"UserCode", 7, 200, {}, 7, EKvServiceWork::None, {" [Hushvane] Unrecognized opcode 200\n"}},
		CControlCase{"Largest", 4, 0xFFFFFFFFu, {}, 4, EKvServiceWork::None, {" [Hushvane] Unrecognized opcode 4294967295\n"}}),
	[](const ::testing::TestParamInfo<CControlCase> &Info) { return std::string(Info.param.pName); });

namespace
{
	// Drives one control the way the host does: the handler, then the work with Ticks progress
	// reports while it runs, then the work that follows, until none is left.
	void fg_RunControl(CRecordingService &Service, CKvServiceStatus &Status, CRecordingReporter &Reporter, NZel::uint32 Control, int Ticks)
	{
		EKvServiceWork Work = gf_KvServiceHandleControl(Service, Status, Reporter, Control);
		while (Work != EKvServiceWork::None)
		{
			gf_KvServiceDoWork(Service, Work);
			for (int i = 0; i < Ticks; ++i)
				gf_KvServiceReportProgress(Status, Reporter);
			Work = gf_KvServiceFinishWork(Status, Reporter, Work);
		}
	}

	std::vector<std::pair<NZel::uint32, NZel::uint32>> fg_StatesAndCheckpoints(const CRecordingReporter &Reporter)
	{
		std::vector<std::pair<NZel::uint32, NZel::uint32>> Result;
		for (const CKvServiceStatus &Status : Reporter.fp_Reports)
			Result.emplace_back(Status.dwCurrentState, Status.dwCheckPoint);
		return Result;
	}

	using CReports = std::vector<std::pair<NZel::uint32, NZel::uint32>>;
}

struct CWorkCase
{
	const char *pName;
	NZel::uint32 StateBefore;
	NZel::uint32 Control;
	CCalls Calls;
	CReports Reports; // (state, checkpoint) of every report, in order
	CLines Lines;
};

class KvServiceWork : public ::testing::TestWithParam<CWorkCase>
{
};

// Pending states count their checkpoints up while the work runs and end in the final state with
// checkpoint and wait hint cleared.
TEST_P(KvServiceWork, ReportsRisingCheckpointsUntilTheFinalState)
{
	const CWorkCase &Case = GetParam();
	CRecordingService Service;
	CRecordingReporter Reporter;
	CKvServiceStatus Status = fg_StatusIn(Case.StateBefore);
	Status.dwWin32ExitCode = 9;
	fg_RunControl(Service, Status, Reporter, Case.Control, 2);
	EXPECT_EQ(Service.fp_Calls, Case.Calls);
	EXPECT_EQ(fg_StatesAndCheckpoints(Reporter), Case.Reports);
	for (size_t i = 0; i + 1 < Reporter.fp_Reports.size(); ++i)
		EXPECT_EQ(Reporter.fp_Reports[i].dwWaitHint, gc_KvServiceWaitHintMs);
	EXPECT_EQ(Reporter.fp_Reports.back().dwWaitHint, 0u);
	EXPECT_EQ(Reporter.fp_Reports.back().dwWin32ExitCode, Case.Control == 1 ? 0u : 9u);
	EXPECT_EQ(Reporter.fp_Lines, Case.Lines);
}

INSTANTIATE_TEST_SUITE_P(Controls, KvServiceWork,
	::testing::Values(CWorkCase{"StopRunning", 4, 1, {"stop"}, {{3, 1}, {3, 2}, {3, 3}, {1, 0}}, {" [Hushvane] Leaving MyService \n"}},
		CWorkCase{"StopPaused", 7, 1, {"resume", "stop"}, {{3, 1}, {3, 2}, {3, 3}, {1, 0}}, {" [Hushvane] Leaving MyService \n"}},
		CWorkCase{"PauseRunning", 4, 2, {"pause"}, {{6, 1}, {6, 2}, {6, 3}, {7, 0}}, {}}),
	[](const ::testing::TestParamInfo<CWorkCase> &Info) { return std::string(Info.param.pName); });

TEST(KvServiceWork, AStopDuringAPendingPauseFollowsThePauseWithoutReportingPaused)
{
	CRecordingService Service;
	CRecordingReporter Reporter;
	CKvServiceStatus Status = fg_StatusIn(4);
	EKvServiceWork Work = gf_KvServiceHandleControl(Service, Status, Reporter, 2);
	ASSERT_EQ(Work, EKvServiceWork::Pause);
	gf_KvServiceReportProgress(Status, Reporter);
	EXPECT_EQ(gf_KvServiceHandleControl(Service, Status, Reporter, 1), EKvServiceWork::None) << "the pause's work carries it";
	gf_KvServiceDoWork(Service, Work);
	Work = gf_KvServiceFinishWork(Status, Reporter, Work);
	ASSERT_EQ(Work, EKvServiceWork::ResumeAndStop);
	gf_KvServiceDoWork(Service, Work);
	gf_KvServiceReportProgress(Status, Reporter);
	EXPECT_EQ(gf_KvServiceFinishWork(Status, Reporter, Work), EKvServiceWork::None);
	EXPECT_EQ(Service.fp_Calls, (CCalls{"pause", "resume", "stop"}));
	EXPECT_EQ(fg_StatesAndCheckpoints(Reporter), (CReports{{6, 1}, {6, 2}, {3, 3}, {3, 4}, {1, 0}}));
	EXPECT_EQ(Reporter.fp_Lines, CLines{" [Hushvane] Leaving MyService \n"});
}

TEST(KvServiceWork, ProgressOutsideAPendingStateReportsNothing)
{
	CRecordingReporter Reporter;
	for (NZel::uint32 State : {1u, 2u, 4u, 7u})
	{
		CKvServiceStatus Status = fg_StatusIn(State);
		gf_KvServiceReportProgress(Status, Reporter);
		EXPECT_EQ(Status.dwCheckPoint, 0u);
	}
	EXPECT_TRUE(Reporter.fp_Reports.empty());
}

TEST(KvServiceControlReport, FailedStopReportIsLoggedBeforeLeaving)
{
	CRecordingService Service;
	CRecordingReporter Reporter;
	Reporter.fp_FailWith = 1062;
	CKvServiceStatus Status = fg_StatusIn(4);
	fg_RunControl(Service, Status, Reporter, 1, 0);
	EXPECT_EQ(Status.dwCurrentState, 1u);
	EXPECT_EQ(Reporter.fp_Lines,
		(CLines{" [Hushvane] SetServiceStatus error 1062\n", " [Hushvane] SetServiceStatus error 1062\n", " [Hushvane] Leaving MyService \n"}));
}

TEST(KvServiceDebugLine, NameIsTextAndOnlyTheDispatcherLineHasNoBlank)
{
	CRecordingService Service("Odd{}Name");
	EXPECT_STREQ(gf_KvServiceDebugLine(true, "] Unrecognized opcode {}\n", 7).f_GetStr(), " [Odd{}Name] Unrecognized opcode 7\n");
	EXPECT_STREQ(gf_KvServiceDebugLine(false, "] StartServiceCtrlDispatcher error = {}\n", 1063).f_GetStr(),
		"[Odd{}Name] StartServiceCtrlDispatcher error = 1063\n");
	EXPECT_STREQ(gf_KvServiceDebugLine(true, "] Leaving MyService \n").f_GetStr(), " [Odd{}Name] Leaving MyService \n");
}
