// A service for the end-to-end tests of stop and pause under the real service control manager:
// the real service host and service object over a stand-in worker that, once asked to stop,
// takes the milliseconds given as its first argument to end, as a worker held up in a driver
// poll does. Started only by the manager ("hv_held_service.exe <ms>").
#include "app/Hushvane_ServiceWorkerOwner.h"
#include "zel/library/core/general/Zel_Lock.h"
#include "zel/library/core/general/Zel_System_Thread.h"

#include <windows.h>

#include <cstdlib>

namespace
{
	DWORD g_HoldMs = 0;

	class CHeldWorker final : public NZel::NThread::ICThread
	{
	public:
		~CHeldWorker() override
		{
			f_Stop(true);
		}

		NZel::int32 f_Execute() override
		{
			for (;;)
			{
				{
					NZel::NThread::CLockGuard Guard(fp_Lock);
					if (fp_State == NZel::NThread::EThreadState::StopRequested)
						break;
				}
				Sleep(10);
			}
			Sleep(g_HoldMs);
			return 0;
		}

		NZel::NStr::CStr f_GetThreadName() override
		{
			return NZel::NStr::CStr("Held Worker");
		}
	};

	class CHeldService final : public NHushvane::TCLS_Service<CHeldWorker>
	{
	public:
		using TCLS_Service::TCLS_Service;
	};
}

int main(int argc, char **argv)
{
	g_HoldMs = argc > 1 ? DWORD(std::strtoul(argv[1], nullptr, 10)) : 0;
	CHeldService Service("HvHeldService", "Hushvane held test service", "Stops and pauses slowly.");
	Service.f_RunDispatcher();
	return 0;
}
