#include "app/Hushvane_WorkerContextBase.h"

#include <atomic>

namespace NHushvane
{
	namespace
	{
		// Atomic only so that a context built on one thread and a read on another (a worker
		// started after "-UninstallDrivers" in a test, say) are never a data race.
		std::atomic<CWorkerContextBase *> g_pCurrentContext{nullptr};
	}

	CWorkerContextBase::CWorkerContextBase()
	{
		g_pCurrentContext.store(this, std::memory_order_release);
	}

	CWorkerContextBase::~CWorkerContextBase()
	{
		CWorkerContextBase *pThis = this;
		g_pCurrentContext.compare_exchange_strong(pThis, nullptr, std::memory_order_acq_rel);
	}

	CWorkerContextBase *CWorkerContextBase::fs_GetCurrent()
	{
		return g_pCurrentContext.load(std::memory_order_acquire);
	}
}
