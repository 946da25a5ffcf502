#pragma once
// The service object's hold on its worker: at most one worker thread object, created and started
// on start, stopped on pause, started again on resume, deleted on stop. Written over the worker
// type so the ownership rules can be checked with a stand-in thread.
#include "KvWin/KvService.h"
#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_Types.h"

namespace NHushvane
{
	constexpr NZel::uint32 gc_WorkerPriority = 0x8000; // normal
	constexpr NZel::uint32 gc_WorkerStackSize = 0;      // the platform default

	template <typename t_CWorker>
	class TCLS_Service : public CKvService
	{
	public:
		TCLS_Service(const char *pServiceName, const char *pDisplayName, const char *pDescription)
			: CKvService(pServiceName, pDisplayName, pDescription)
		{
		}

		~TCLS_Service()
		{
			f_OnStop();
		}

		// Replaces any earlier worker with a new, started one. 0 when its thread could not be
		// started: the service manager then sees a failed start instead of a crash.
		int f_OnStart() override
		{
			f_OnStop();
			fp_pWorker = new t_CWorker;
			try
			{
				fp_pWorker->f_Start(gc_WorkerPriority, gc_WorkerStackSize);
			}
			catch (const NZel::NException::CException &)
			{
				f_OnStop();
				return 0;
			}
			return 1;
		}

		// Deleting the worker stops its thread and waits for it.
		int f_OnStop() override
		{
			t_CWorker *pWorker = fp_pWorker;
			fp_pWorker = nullptr;
			delete pWorker;
			return 1;
		}

		int f_OnPause() override
		{
			if (fp_pWorker)
				fp_pWorker->f_Stop(true);
			return 1;
		}

		int f_OnResume() override
		{
			if (!fp_pWorker)
				return 1;
			try
			{
				fp_pWorker->f_Start(gc_WorkerPriority, gc_WorkerStackSize);
			}
			catch (const NZel::NException::CException &)
			{
				// The thread refuses to start while it runs: resuming a running worker changes
				// nothing.
			}
			return 1;
		}

		t_CWorker *f_GetWorker() const
		{
			return fp_pWorker;
		}

	private:
		t_CWorker *fp_pWorker = nullptr;
	};
}
