#include "zel/library/core/general/Zel_Timer.h"

#include "zel/library/core/general/Zel_System.h"

#include <cmath>

namespace NZel::NTime
{
	class CTimerContext::CTimer
	{
	public:
		// Linked to the caller's event, so that signalling it signals the caller's.
		NThread::CEventAutoResetAggregate m_Event;
		int64 m_Due = 0;
		double m_Period = 0.0;
		CTimerList::iterator m_Position;
		bool m_bActive = false;
	};

	CTimerContext::CTimerContext(CClock &Clock)
		: fp_Clock(Clock)
	{
		// f_Stop signals the wake event; forwarded here it ends any wait of the thread.
		fp_WakeEvent.f_Link(fp_ListChanged);
	}

	CTimerContext::~CTimerContext()
	{
		f_Stop(true);
		for (CTimer *pTimer : fp_All)
			delete pTimer;
	}

	NStr::CStr CTimerContext::f_GetThreadName()
	{
		return NStr::CStr("Zel_System_TimerContext");
	}

	void CTimerContext::fp_Insert(CTimer *pTimer)
	{
		// A multimap inserts after the elements with an equal key: equal due times keep the
		// order in which they were added.
		pTimer->m_Position = fp_Timers.insert({pTimer->m_Due, pTimer});
	}

	CTimerContext::CTimer *CTimerContext::f_AddTimer(NThread::CEventAutoResetAggregate &Event, double PeriodSeconds)
	{
		{
			// Holding fp_Lock across the check and the start: two first timers start one thread.
			NThread::CLockGuard StateGuard(fp_Lock);
			if (fp_State == NThread::EThreadState::NeverRun)
				f_Start(0x8000, 0);
		}
		CTimer *pTimer;
		{
			NThread::CLockGuard Guard(fp_ListLock);
			if (!fp_Pool.empty())
			{
				pTimer = fp_Pool.back();
				fp_Pool.pop_back();
			}
			else
			{
				fp_All.reserve(fp_All.size() + 1);
				pTimer = new CTimer;
				fp_All.push_back(pTimer);
			}
			pTimer->m_Period = PeriodSeconds;
			pTimer->m_Due = fp_Clock.f_GetCounter() + int64(PeriodSeconds * fp_Clock.f_GetFrequencyDouble());
			pTimer->m_Event.f_Link(Event);
			pTimer->m_bActive = true;
			fp_Insert(pTimer);
		}
		fp_ListChanged.f_Signal();
		return pTimer;
	}

	void CTimerContext::f_RemoveTimer(CTimer *pTimer)
	{
		if (!pTimer)
			return;
		NThread::CLockGuard Guard(fp_ListLock);
		if (!pTimer->m_bActive)
			return;
		fp_Timers.erase(pTimer->m_Position);
		pTimer->m_Event.f_Unlink();
		pTimer->m_bActive = false;
		fp_Pool.push_back(pTimer);
	}

	umint CTimerContext::f_GetTimerCount()
	{
		NThread::CLockGuard Guard(fp_ListLock);
		return fp_Timers.size();
	}

	int32 CTimerContext::f_Execute()
	{
		for (;;)
		{
			{
				NThread::CLockGuard StateGuard(fp_Lock);
				if (fp_State == NThread::EThreadState::StopRequested)
					return 0;
			}
			bool bPending = false;
			double WaitSeconds = 0.0;
			{
				NThread::CLockGuard Guard(fp_ListLock);
				int64 Now = fp_Clock.f_GetCounter();
				double Frequency = fp_Clock.f_GetFrequencyDouble();
				while (!fp_Timers.empty())
				{
					CTimer *pTimer = fp_Timers.begin()->second;
					if (pTimer->m_Due > Now)
					{
						bPending = true;
						WaitSeconds = double(pTimer->m_Due - Now) / Frequency;
						break;
					}
					fp_Timers.erase(fp_Timers.begin());
					pTimer->m_Event.f_Signal();
					int64 Period = int64(pTimer->m_Period * Frequency);
					if (Period < 1)
						Period = 1; // a zero period would fire in a tight loop
					pTimer->m_Due += Period;
					if (pTimer->m_Due <= Now)
						pTimer->m_Due = Now + Period; // no catching up on missed periods
					fp_Insert(pTimer);
				}
			}
			if (bPending)
				fp_ListChanged.f_WaitTimeout(fp_Clock.f_GetWaitMilliseconds(WaitSeconds > 0.0 ? WaitSeconds : 0.0));
			else
				fp_ListChanged.f_Wait();
		}
	}

	CTimerContext &gf_GetTimerContext()
	{
		return gf_GetSystem().f_GetTimerContext();
	}
}
