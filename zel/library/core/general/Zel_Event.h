#pragma once
// CEventAutoResetAggregate: an auto-reset event whose signals can be forwarded to other
// events. Any number of signals given while nobody waits collapse into one pending signal,
// which the next wait consumes. TMutual combines an event with a lock.
#include "zel/library/core/general/Zel_Event_Link.h"
#include "zel/library/core/general/Zel_Lock.h"
#include "zel/library/core/runtime/Zel_Sys_Thread.h"

namespace NZel::NThread
{
	class CEventAutoResetAggregate
	{
	public:
		CEventAutoResetAggregate();
		~CEventAutoResetAggregate();
		CEventAutoResetAggregate(CEventAutoResetAggregate const &) = delete;
		CEventAutoResetAggregate &operator=(CEventAutoResetAggregate const &) = delete;

		// Signals this event and, through the links, every event it forwards to (and
		// further along chains). An event reached again through a cycle of links is not
		// forwarded twice.
		void f_Signal();
		// Waits for a signal and consumes it.
		void f_Wait();
		// As f_Wait, for at most Milliseconds; false when no signal came.
		bool f_WaitTimeout(uint32 Milliseconds);

		// Every later signal of this event also signals Target.
		void f_Link(CEventAutoResetAggregate &Target);
		// Removes every link of this event, outgoing and incoming.
		void f_Unlink();

	private:
		NSys::CUniqueHandle fp_Semaphore;
		// Guards the two lists and fp_bForwarding. Lock order: an event's own lock before
		// the locks of the events it forwards to.
		CLock fp_Lock;
		CEventLinkHook fp_Outgoing;
		CEventLinkHook fp_Incoming;
		bool fp_bForwarding = false;
	};

	// One synchronisation object made of an event and a lock: lock it with f_Lock (or a
	// CLockGuard when t_CLock is CLock), signal and wait on it as on the event.
	template <typename t_CEvent, typename t_CLock>
	class TMutual : public t_CEvent, public t_CLock
	{
	public:
		t_CEvent &f_GetEvent()
		{
			return *this;
		}
		t_CLock &f_GetLock()
		{
			return *this;
		}
	};
}
