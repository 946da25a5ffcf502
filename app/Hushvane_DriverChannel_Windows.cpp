#include "app/Hushvane_DriverChannel.h"
#include "app/Hushvane_DriverDeploy.h"
#include "app/Hushvane_InstallSafety.h"
#include "zel/library/core/file/Zel_File.h"
#include "zel/library/core/general/Zel_Str.h"
#include "zel/library/core/runtime/Zel_Sys_File.h"

#include <utility>

namespace NHushvane
{
	CWorkerContextDriver::~CWorkerContextDriver()
	{
		f_CloseChannel();
	}

	void CWorkerContextDriver::f_SetChannel(CKvFileHandle &&hDevice, CKvKernelHandle &&hEvent)
	{
		f_CloseChannel();
		fp_hDevice = std::move(hDevice);
		fp_hEvent = std::move(hEvent);
	}

	void CWorkerContextDriver::f_CloseChannel()
	{
		fp_hEvent.f_Reset();
		fp_hDevice.f_Reset();
	}

	bool gf_InitializeDriver(CWorkerContextDriver &Context, ICRunLog &Log)
	{
		// Without its image beside the program the driver can be neither installed nor repaired;
		// an installed one may still start, so this is said and the bring-up goes on.
		NZel::NStr::CStr Source = NZel::NFile::gf_GetProgramFolder() + "/" + gf_GetDriverImageName();
		if (!NZel::NSys::NFile::gf_Exists(Source, NZel::NSys::NFile::EExistsAccept_File))
			Log.f_WriteLine(NZel::NStr::CStr("Driver image not found: ") + Source + "\r\n");
		// Whoever can change the image or its folder could put their own code into the kernel: such
		// an image is neither copied nor started, not even the copy installed earlier.
		if (!gf_IsDriverSourceSafe(Log))
			return false;
		NZel::int32 RebootNeeded = 0;
		bool bCopied = gf_DeployDriver(true, RebootNeeded);
		if (RebootNeeded == 1)
		{
			Log.f_WriteLine(NZel::NStr::CStr("Reboot needed\r\n"));
			return false;
		}
		// A new image is loaded only by a fresh start of the service. When the running driver
		// will not stop, the run goes on with it, and says so.
		if (bCopied && gf_StopDriverServiceOutcome() == EDriverStop::Failed)
			Log.f_WriteLine(
				NZel::NStr::CStr("Driver image updated; the running driver could not be stopped: the new image is loaded after a restart\r\n")
			);
		if (!gf_StartDriverService())
			return false;
		return gf_OpenDriverChannel(Context);
	}

	bool gf_OpenDriverChannel(CWorkerContextDriver &Context)
	{
		CKvFileHandle hDevice(CreateFileA(DHushvaneUserDeviceName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
			nullptr, OPEN_EXISTING, 0, nullptr));
		if (!hDevice)
		{
			Context.f_CloseChannel();
			return false;
		}
		CKvKernelHandle hEvent(OpenEventA(SYNCHRONIZE, FALSE, DHushvaneUserEventName));
		Context.f_SetChannel(std::move(hDevice), std::move(hEvent));
		return true;
	}

	namespace
	{
		// The driver refuses a buffer smaller than its own record, so the reader must use the
		// record of the driver's pointer width, which follows the Windows it runs on.
		bool fg_DriverIsWide()
		{
#if defined(_WIN64)
			return true;
#else
			return gf_IsNativeX64();
#endif
		}
	}

	bool gf_ReadDriverRecord(CWorkerContextDriver &Context, CProcessEvent &Event)
	{
		if (!Context.f_IsChannelOpen())
			return false;
		DWORD Returned = 0;
		if (fg_DriverIsWide())
		{
			PROCESS_EVENT_RECORD64 Record = {};
			if (!DeviceIoControl(Context.f_GetDevice(), IOCTL_GET_PROCESS_EVENT, nullptr, 0, &Record, sizeof(Record), &Returned, nullptr))
				return false;
			Event.m_ParentId = Record.ParentId;
			Event.m_ProcessId = Record.ProcessId;
			Event.m_bCreate = Record.Create != 0;
			return true;
		}
		PROCESS_EVENT_RECORD Record = {};
		if (!DeviceIoControl(Context.f_GetDevice(), IOCTL_GET_PROCESS_EVENT, nullptr, 0, &Record, sizeof(Record), &Returned, nullptr))
			return false;
		Event.m_ParentId = NZel::uint64(reinterpret_cast<NZel::umint>(Record.ParentId));
		Event.m_ProcessId = NZel::uint64(reinterpret_cast<NZel::umint>(Record.ProcessId));
		Event.m_bCreate = Record.Create != 0;
		return true;
	}
}
