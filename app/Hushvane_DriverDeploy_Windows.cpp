#include "app/Hushvane_DriverDeploy.h"
#include "KvWin/KvWindowsHandles.h"
#include "app/Hushvane_DriverImage.h"
#include "app/Hushvane_FsRedirection.h"
#include "app/Hushvane_RunLog.h"
#include "KvWin/KvRegistry.h"
#include "zel/library/core/file/Zel_File.h"
#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_Str_Convert.h"
#include "zel/library/core/runtime/Zel_Sys_File.h"

#include <optional>

#include <windows.h>

namespace NHushvane
{
	using NZel::NStr::CStr;
	using NZel::int32;
	using NZel::uint32;

	namespace
	{
		// DELETE | SC_MANAGER_QUERY_LOCK_STATUS | SC_MANAGER_LOCK | SC_MANAGER_ENUMERATE_SERVICE
		// | SC_MANAGER_CREATE_SERVICE
		constexpr DWORD gc_ManagerAccess = 0x10036;
		constexpr DWORD gc_DeletePauseMs = 250;
		constexpr DWORD gc_PollIntervalMs = 10;
		// A service that keeps reporting a pending state this long is treated as failed.
		constexpr ULONGLONG gc_PollLimitMs = 60000;
		constexpr uint32 gc_FileAcceptFile = 0x20;

		CKvServiceHandle fg_OpenManager()
		{
			return CKvServiceHandle(OpenSCManagerA(nullptr, nullptr, gc_ManagerAccess));
		}

		CKvServiceHandle fg_OpenDriverService(const CKvServiceHandle &hManager, DWORD Access)
		{
			return CKvServiceHandle(OpenServiceA(hManager.f_Get(), gc_DriverServiceName, Access));
		}

		// True when the service key holds a nonzero "DeleteFlag": the service was deleted while
		// in use and lingers until Windows restarts. Read in one request: the key goes away with
		// the service, and a key or value gone between an existence test and a read is simply
		// absent, not a failure.
		bool fg_IsMarkedForDeletion()
		{
			NKv::CWin32_Registry Registry(0, CStr("SYSTEM\\CurrentControlSet"));
			uint32 Flag = 0;
			return Registry.f_ReadDwordIfPresent(CStr("Services\\") + gc_DriverServiceName, CStr("DeleteFlag"), Flag) && Flag != 0;
		}

		// Reads the service's state as the service control manager holds it, every 10 ms for at
		// most 60 s, while fKeepPolling says so; true with the state that ended the wait. False
		// when the state cannot be read or the time runs out: a state that was never seen is
		// never taken for the one waited for. (Asking the service itself with
		// SERVICE_CONTROL_INTERROGATE cannot serve: that fails alike for a stopped service and
		// for a request that failed.)
		template <typename t_CKeepPolling>
		bool fg_Poll(const CKvServiceHandle &hService, t_CKeepPolling &&fKeepPolling, DWORD &State)
		{
			ULONGLONG Start = GetTickCount64();
			for (;;)
			{
				SERVICE_STATUS Status = {};
				if (!QueryServiceStatus(hService.f_Get(), &Status))
					return false;
				State = Status.dwCurrentState;
				if (!fKeepPolling(State))
					return true;
				if (GetTickCount64() - Start >= gc_PollLimitMs)
					return false;
				Sleep(gc_PollIntervalMs);
			}
		}

		// The file step: the image beside the program against the installed one. Copies when the
		// target is missing or differs (install only). Moves a differing target (or, uninstalling,
		// any target) aside and has Windows delete it at the next restart: an image the kernel has
		// loaded can be renamed but not replaced or deleted. The new copy is staged before the old
		// image moves, so a copy that fails leaves the old one in place. True when it copied.
		bool fg_UpdateImageFile(const CStr &Source, const CStr &Target, bool bInstall)
		{
			CDriverImageSource Image(Source);
			bool bTargetExists = NZel::NSys::NFile::gf_Exists(Target, gc_FileAcceptFile);
			bool bSame = bTargetExists && NZel::NFile::gf_GetFileDigest(Target) == Image.f_GetDigest();
			bool bCopy = bInstall && !bSame;
			std::optional<CStagedDriverImage> Staged;
			if (bCopy)
				Staged.emplace(Image, Target);
			if (bTargetExists && (!bInstall || !bSame))
			{
				CStr Moved = gf_WithTimeSuffix(Target, ".old.{}.{}");
				NZel::NSys::NFile::gf_Rename(Target, Moved);
				MoveFileExA(Moved.f_GetStr(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
			}
			if (!bCopy)
				return false;
			Staged->f_MoveOver();
			return true;
		}

		// Deletes the service (any state) and creates it anew when Install is set, unless it
		// stays marked for deletion.
		void fg_DeleteAndCreate(const CKvServiceHandle &hManager, bool Install, int32 &RebootNeeded, const CStr &ImagePath)
		{
			CKvServiceHandle hService = fg_OpenDriverService(hManager, DELETE);
			if (hService)
			{
				if (!DeleteService(hService.f_Get()))
				{
					RebootNeeded = 1;
					return;
				}
				hService.f_Reset();
				Sleep(gc_DeletePauseMs);
				if (fg_IsMarkedForDeletion())
				{
					RebootNeeded = 1;
					return;
				}
			}
			if (!Install)
				return;
			// A failure to create shows up as a failure to start.
			CKvServiceHandle hCreated(CreateServiceA(hManager.f_Get(), gc_DriverServiceName, gc_DriverDisplayName, SERVICE_ALL_ACCESS,
				SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, ImagePath.f_GetStr(), nullptr, nullptr, nullptr,
				nullptr, nullptr));
		}
	}

	bool gf_IsNativeX64()
	{
		SYSTEM_INFO Info = {};
		GetNativeSystemInfo(&Info);
		return Info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
	}

	CStr gf_GetEnvironmentPath(const char *pVariable)
	{
		char Buffer[1024];
		DWORD Length = GetEnvironmentVariableA(pVariable, Buffer, DWORD(sizeof(Buffer)));
		// Zero: not set. Larger than the buffer: the value did not fit and nothing was
		// written; an unusable path is as good as none.
		if (Length == 0 || Length >= sizeof(Buffer))
			return CStr();
		CStr Value;
		Value.f_Append(Buffer, int32(Length));
		return NZel::NStr::gf_ReplaceUnit(Value, '\\', '/', "Out of memory for a path");
	}

	CStr gf_GetWindowsFolder()
	{
		CStr Root = gf_GetEnvironmentPath("SystemRoot");
		if (!Root.f_IsEmpty())
			return Root;
		// A process started with a trimmed environment may lack SystemRoot; without this the
		// target would be "/System32/...", the root of whatever drive is current.
		// Too small a buffer gets the size needed back: one more call with that.
		NZel::NStr::CStr16 Folder;
		UINT Room = MAX_PATH;
		UINT Length = 0;
		for (int Attempt = 0; Attempt < 2; ++Attempt)
		{
			wchar_t *pFolder = Folder.f_GetWritableBuffer(NZel::int32(Room));
			if (!pFolder)
				DZelThrow(NZel::NException::CExceptionMemory, "Out of memory for a path");
			Length = GetSystemWindowsDirectoryW(pFolder, Room);
			if (Length < Room)
				break;
			Room = Length;
		}
		if (Length == 0 || Length >= Room)
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "GetSystemWindowsDirectory");
		Folder.f_SetLengthAndTrim(NZel::int32(Length));
		return NZel::NSys::NFile::gf_FromWindowsPath(Folder);
	}

	CStr gf_GetDriverTargetPath()
	{
		return gf_GetWindowsFolder() + "/System32/Drivers/" + gf_GetDriverImageName();
	}

	bool gf_DeployDriver(bool Install, int32 &RebootNeeded)
	{
		CKvServiceHandle hManager = fg_OpenManager();
		if (!hManager)
			return false;

		const char *pImage = gf_GetDriverImageName();
		CStr Source = NZel::NFile::gf_GetProgramFolder() + "/" + pImage;
		CStr Target = gf_GetDriverTargetPath();
		// The absolute form names the same file as the relative System32\Drivers\<image> on
		// Windows, and it is the only form Wine's loader accepts.
		CStr ImagePath = CStr("\\SystemRoot\\System32\\Drivers\\") + pImage;

		if (!NZel::NSys::NFile::gf_Exists(Source, gc_FileAcceptFile))
			return false;

		// File step. A 32-bit build on 64-bit Windows would otherwise put the image in
		// SysWOW64\Drivers while the service points at System32\Drivers.
		bool bCopied = false;
		{
			CFsRedirectionOff RedirectionOff(gf_GetSystemFsRedirection());
			bCopied = fg_UpdateImageFile(Source, Target, Install);
		}

		// Service step.
		{
			CKvServiceHandle hService = fg_OpenDriverService(hManager, SERVICE_STOP);
			if (!hService)
			{
				if (!Install)
					return bCopied;
			}
			else if (Install && !fg_IsMarkedForDeletion())
				return bCopied; // present and usable: left exactly as it is
		}
		fg_DeleteAndCreate(hManager, Install, RebootNeeded, ImagePath);
		return bCopied;
	}

	// The start and stop read the state with SERVICE_QUERY_STATUS (see fg_Poll).
	bool gf_StartDriverService()
	{
		CKvServiceHandle hManager = fg_OpenManager();
		if (!hManager)
			return false;
		CKvServiceHandle hService = fg_OpenDriverService(hManager, SERVICE_START | SERVICE_QUERY_STATUS);
		if (!hService)
			return false;
		if (!StartServiceA(hService.f_Get(), 0, nullptr))
			return GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
		// A driver that fails to load ends in the stopped state: that start failed.
		DWORD State = 0;
		return fg_Poll(hService, [](DWORD Current) { return Current == SERVICE_START_PENDING; }, State) && State == SERVICE_RUNNING;
	}

	EDriverStop gf_StopDriverServiceOutcome()
	{
		CKvServiceHandle hManager = fg_OpenManager();
		if (!hManager)
			return EDriverStop::Failed;
		CKvServiceHandle hService = fg_OpenDriverService(hManager, SERVICE_STOP | SERVICE_QUERY_STATUS);
		if (!hService)
			return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? EDriverStop::NotInstalled : EDriverStop::Failed;
		SERVICE_STATUS Status = {};
		if (!ControlService(hService.f_Get(), SERVICE_CONTROL_STOP, &Status))
			return GetLastError() == ERROR_SERVICE_NOT_ACTIVE ? EDriverStop::Stopped : EDriverStop::Failed;
		// The reply holds the state after the request was handled: a driver is then stopped, or
		// stop pending while its unload waits for open handles to close. Still running means the
		// stop was refused (a driver that cannot be unloaded); waiting would only run into the
		// time limit.
		DWORD State = Status.dwCurrentState;
		if (State == SERVICE_STOP_PENDING && !fg_Poll(hService, [](DWORD Current) { return Current == SERVICE_STOP_PENDING; }, State))
			return EDriverStop::Failed;
		return State == SERVICE_STOPPED ? EDriverStop::Stopped : EDriverStop::Failed;
	}

	bool gf_StopDriverService()
	{
		return gf_StopDriverServiceOutcome() == EDriverStop::Stopped;
	}

	bool gf_UninstallDriver(ICRunLog &Log)
	{
		gf_StopDriverService();
		int32 RebootNeeded = 0;
		gf_DeployDriver(false, RebootNeeded);
		if (RebootNeeded == 1)
			Log.f_WriteLine(CStr("Reboot needed\r\n"));
		return true;
	}
}
