#include "tests/driver/support/TestDriverClient_Windows.h"

namespace NHushvaneTest
{
	CKvFileHandle gf_OpenHushvaneDevice(DWORD Access)
	{
		return CKvFileHandle(
			CreateFileA(DHushvaneUserDeviceName, Access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr)
		);
	}

	bool gf_FeedProcessEvent(HANDLE Device, std::uint64_t ParentId, std::uint64_t ProcessId, bool bCreate)
	{
		HUSHVANE_TEST_NOTIFY_INPUT Input{};
		Input.ParentId = ParentId;
		Input.ProcessId = ProcessId;
		Input.Create = bCreate ? 1 : 0;
		DWORD Returned = 0;
		return DeviceIoControl(Device, IOCTL_HUSHVANE_TEST_NOTIFY, &Input, sizeof(Input), nullptr, 0, &Returned, nullptr) != FALSE;
	}

	bool gf_ReadProcessEvent(HANDLE Device, void *pBuffer, DWORD Size, DWORD *pReturned)
	{
		DWORD Returned = 0;
		BOOL bOk = DeviceIoControl(Device, IOCTL_GET_PROCESS_EVENT, nullptr, 0, pBuffer, Size, &Returned, nullptr);
		if (pReturned)
			*pReturned = Returned;
		return bOk != FALSE;
	}

	bool gf_HoldDriverUnload(HANDLE Device, bool bHold)
	{
		ULONG Hold = bHold ? 1 : 0;
		DWORD Returned = 0;
		return DeviceIoControl(Device, IOCTL_HUSHVANE_TEST_HOLD_UNLOAD, &Hold, sizeof(Hold), nullptr, 0, &Returned, nullptr) != FALSE;
	}
}
