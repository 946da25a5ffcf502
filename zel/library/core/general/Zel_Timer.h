#pragma once
// CTimerContext: one thread that signals events at fixed periods. A timer fires once per
// period; a timer whose thread was held up fires once and is next due one period after it
// fired (missed periods are not caught up). The thread starts with the first timer.
#include "zel/library/core/general/Zel_Clock.h"
#include "zel/library/core/general/Zel_Event.h"
#include "zel/library/core/general/Zel_Lock.h"
#include "zel/library/core/general/Zel_System_Thread.h"

#include <map>
#include <vector>

namespace NZel::NTime
{
	class CTimerContext : public NThread::ICThread
	{
	public:
		class CTimer;

		explicit CTimerContext(CClock &Clock);
		~CTimerContext() override;

		// Signals Event every PeriodSeconds from now on, until the timer is removed. Starts the
		// thread if it has never run.
		CTimer *f_AddTimer(NThread::CEventAutoResetAggregate &Event, double PeriodSeconds);
		// After it returns the timer's event is no longer signalled. Null is ignored.
		void f_RemoveTimer(CTimer *pTimer);

		int32 f_Execute() override;
		NStr::CStr f_GetThreadName() override;

		// How many timers are active; for tests and diagnostics.
		umint f_GetTimerCount();

	private:
		using CTimerList = std::multimap<int64, CTimer *>;

		void fp_Insert(CTimer *pTimer);

		CClock &fp_Clock;
		CTimerList fp_Timers;           // ordered by due counter value
		std::vector<CTimer *> fp_Pool;  // records of removed timers, for reuse
		std::vector<CTimer *> fp_All;   // every record made, freed with the context
		NThread::CEventAutoResetAggregate fp_ListChanged;
		NThread::CLock fp_ListLock;
	};

	// The process's timer context over gf_GetClock, the system object's. Never destroyed: its
	// thread may run until the process ends.
	CTimerContext &gf_GetTimerContext();
}
