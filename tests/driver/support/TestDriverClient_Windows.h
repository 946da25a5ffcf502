// User-mode side of the Hushvane device for tests: open it, read one record, and (with the test
// image) hand the driver a process report as the kernel would.
#pragma once

#include "driver/Hushvane_Shared.h"
#include "driver/Hushvane_TestControl.h"
#include "KvWin/KvWindowsHandles.h"

#include <cstdint>

namespace NHushvaneTest
{
	// Opens "\\.\Global\Hushvane" for reading and writing; invalid on failure (GetLastError set).
	CKvFileHandle gf_OpenHushvaneDevice(DWORD Access = GENERIC_READ | GENERIC_WRITE);

	// Passes (ParentId, ProcessId, Create) to the test image's process-notify routine.
	bool gf_FeedProcessEvent(HANDLE Device, std::uint64_t ParentId, std::uint64_t ProcessId, bool bCreate);

	// With the test image: bHold takes the driver's unload routine away, so that stopping its
	// service fails until it is given back (bHold false).
	bool gf_HoldDriverUnload(HANDLE Device, bool bHold);

	// One IOCTL_GET_PROCESS_EVENT request into pBuffer of Size bytes; pReturned receives the
	// transfer length the driver reported.
	bool gf_ReadProcessEvent(HANDLE Device, void *pBuffer, DWORD Size, DWORD *pReturned = nullptr);
}
