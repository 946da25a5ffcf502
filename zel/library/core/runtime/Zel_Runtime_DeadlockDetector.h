#pragma once
// The not-responding watchdog. Once started, it looks every half second at the time since the
// program last declared itself alive (f_DeclareAlive). When that passes the time-out it asks
// the user whether to keep waiting or to make an error report; unattended (the crash settings
// say no dialogs) it makes the report at once. The report is the crash reporter's handling of
// an access violation on writing address 0, raised on the watchdog thread: crash log, both
// dumps, and the end of the process.
//
// Time in which the watch itself could not run (a gap between two looks of more than half the
// time-out: a suspended machine) is not counted against the program. The question closes by
// itself within about 100 ms when the program declares itself alive again.
//
// While it runs it also puts the crash reporter back as the unhandled-exception filter each
// period, overruling code that replaced it. The shipped program never starts it.
//
// Windows only: include from Windows sources.
#include "zel/library/core/general/Zel_ClockTime.h"
#include "zel/library/core/general/Zel_System.h"
#include "zel/library/core/general/Zel_System_Thread.h"

#include <atomic>

namespace NZel
{
	class CSystemWindowsMSVC::CDeadlockDetector : public NThread::ICThread
	{
	public:
		CDeadlockDetector();
		~CDeadlockDetector() override;

		int32 f_Execute() override;
		NStr::CStr f_GetThreadName() override;

		// The stall, in seconds, after which the user is asked. Set it before f_Start.
		void f_SetTimeout(double Seconds);
		// While set, a stall only renews the heartbeat: no question, no report.
		void f_SetSuppressReport(bool bSuppress);
		// The heartbeat: the program is alive now.
		void f_DeclareAlive();

		// Asks whether to keep waiting; true for Yes, for closing the window and when the
		// program came back by itself, false for No.
		bool f_ShowNotRespondingDialog(const char *pCaption, const char *pMessage);

	private:
		friend struct CDeadlockDialog;

		void fp_OnStall();
		// Seconds since the last heartbeat, for the dialog's check.
		double fp_GetSecondsSinceAlive();
		[[noreturn]] static void fs_MakeErrorReport();

		NThread::CEventAutoResetAggregate fp_TickEvent;
		double fp_Timeout = 0.0;
		std::atomic<bool> fp_SuppressReport{false};
		NThread::CLock fp_AliveLock; // guards the three times below
		NTime::CClockTime fp_LastAlive;
		NTime::CClockTime fp_LastCheck;
		NTime::CClockTime fp_PausedTime;
	};

	inline CSystemWindowsMSVC::CDeadlockDetector &gf_GetDeadlockDetector()
	{
		return gf_GetSystemWindows().f_GetDeadlockDetector();
	}
}
