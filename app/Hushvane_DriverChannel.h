#pragma once
// The program's end of the driver link: bring the driver up, open its device and event, read
// records one at a time, close. Windows-only.
#include "KvWin/KvWindowsHandles.h"
#include "app/Hushvane_WorkerContextBase.h"
#include "driver/Hushvane_Shared.h"

namespace NHushvane
{
	// A worker context with the driver channel: the device ("\\.\Global\Hushvane") and its
	// notification event ("Global\HushvaneNotifyEvent"). Both are closed (event first) when
	// the channel is closed or the context goes. The log stays abstract.
	class CWorkerContextDriver : public CWorkerContextBase
	{
	public:
		CWorkerContextDriver() = default;
		~CWorkerContextDriver() override;

		HANDLE f_GetDevice() const { return fp_hDevice.f_Get(); }
		HANDLE f_GetEvent() const { return fp_hEvent.f_Get(); }
		bool f_IsChannelOpen() const { return fp_hDevice.f_IsValid(); }

		void f_SetChannel(CKvFileHandle &&hDevice, CKvKernelHandle &&hEvent);
		void f_CloseChannel();

	private:
		CKvFileHandle fp_hDevice;
		CKvKernelHandle fp_hEvent;
	};

	// One record as the program reads it, whatever the driver's pointer width.
	struct CProcessEvent
	{
		NZel::uint64 m_ParentId = 0;
		NZel::uint64 m_ProcessId = 0;
		bool m_bCreate = false;
	};

	// Makes sure the driver is installed, current and running (restarting it after a new
	// image was copied), then opens the channel. "Reboot needed\r\n" goes to Log when a
	// restart of Windows must come first. Exceptions of the image copy pass through.
	bool gf_InitializeDriver(CWorkerContextDriver &Context, ICRunLog &Log);

	// The same, reporting to the context's own log.
	inline bool gf_InitializeDriver(CWorkerContextDriver &Context)
	{
		return gf_InitializeDriver(Context, Context);
	}

	// Opens the device into the context, and the event when it can be opened. True when the
	// device is open; a missing event is not a failure.
	bool gf_OpenDriverChannel(CWorkerContextDriver &Context);

	// One IOCTL_GET_PROCESS_EVENT request. True when Event holds the oldest record, which is
	// then gone from the driver; false when none waits or the request was refused.
	bool gf_ReadDriverRecord(CWorkerContextDriver &Context, CProcessEvent &Event);
}
