#pragma once
// The program's service object: the service host's four operations drive the worker thread.
#include "app/Hushvane_ServiceWorkerOwner.h"
#include "app/Hushvane_Worker.h"

namespace NHushvane
{
	class CLS_Service final : public TCLS_Service<CTCPF_MainWin32>
	{
	public:
		using TCLS_Service::TCLS_Service;
	};
}
