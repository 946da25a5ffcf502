#include "app/Hushvane_DriverDeploy.h"
#include "KvWin/KvWindowsHandles.h"
#include "app/Hushvane_RunLog.h"
#include "KvWin/KvRegistry.h"
#include "zel/library/core/file/Zel_File.h"
#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_ClockTime.h"
#include "zel/library/core/general/Zel_Format.h"
#include "zel/library/core/runtime/Zel_Sys_File.h"
#include "zel/library/core/runtime/Zel_Sys_Time.h"

#include <windows.h>

namespace NHushvane
{
	using NZel::NStr::CStr;
	using NZel::int32;
	using NZel::int64;
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
		// in use and lingers until Windows restarts.
		bool fg_IsMarkedForDeletion()
		{
			NKv::CWin32_Registry Registry(0, CStr("SYSTEM\\CurrentControlSet"));
			CStr Key = CStr("Services\\") + gc_DriverServiceName;
			CStr Value("DeleteFlag");
			return Registry.f_ValueExists(Key, Value) && Registry.f_ReadDword(Key, Value) != 0;
		}

		CStr fg_Replace(CStr Text, char From, char To)
		{
			int32 Length = Text.f_GetLen();
			if (Length == 0)
				return Text;
			CStr Result;
			char *pOut = Result.f_GetWritableBuffer(Length);
			if (!pOut)
				DZelThrow(NZel::NException::CExceptionMemory, "Out of memory for a path");
			const char *pIn = Text.f_GetStr();
			for (int32 i = 0; i < Length; ++i)
				pOut[i] = pIn[i] == From ? To : pIn[i];
			pOut[Length] = 0;
			return Result;
		}

		// Interrogates until the service leaves the state Pending (when bWhile) or reaches it
		// (when !bWhile); false when interrogation fails or the time limit passes first.
		enum class EPoll
		{
			Done,
			InterrogateFailed,
			TimedOut,
		};

		template <typename t_CKeepPolling>
		EPoll fg_Poll(const CKvServiceHandle &hService, t_CKeepPolling &&fKeepPolling)
		{
			ULONGLONG Start = GetTickCount64();
			for (;;)
			{
				SERVICE_STATUS Status = {};
				if (!ControlService(hService.f_Get(), SERVICE_CONTROL_INTERROGATE, &Status))
					return EPoll::InterrogateFailed;
				if (!fKeepPolling(Status.dwCurrentState))
					return EPoll::Done;
				if (GetTickCount64() - Start >= gc_PollLimitMs)
					return EPoll::TimedOut;
				Sleep(gc_PollIntervalMs);
			}
		}

		// ".old.<seconds>.<fraction>" from the current UTC time, so repeated upgrades never
		// collide with a file still waiting for deletion.
		CStr fg_OldSuffix()
		{
			NZel::NTime::CClockTime Now = NZel::NTime::CClockTime::fs_FromFileTime(NZel::NSys::gf_Time_GetSystemFileTime());
			return CStr::CFormat(".old.{}.{}") << int64(Now.f_GetSeconds()) << int64(Now.f_GetFraction());
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
		return fg_Replace(Value, '\\', '/');
	}

	CStr gf_GetDriverTargetPath()
	{
		return gf_GetEnvironmentPath("SystemRoot") + "/System32/Drivers/" + gf_GetDriverImageName();
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

		// File step.
		bool bCopied = false;
		{
			NZel::NMd5::CDigest SourceDigest = NZel::NFile::gf_GetFileDigest(Source);
			bool bNeedsCopy = true;
			bool bMoveAside = false;
			if (NZel::NSys::NFile::gf_Exists(Target, gc_FileAcceptFile))
			{
				bool bSame = NZel::NFile::gf_GetFileDigest(Target) == SourceDigest;
				if (bSame)
					bNeedsCopy = false;
				bMoveAside = !Install || !bSame;
			}
			if (bMoveAside)
			{
				CStr Moved = Target + fg_OldSuffix();
				NZel::NSys::NFile::gf_Rename(Target, Moved);
				// The moved image may still be loaded; Windows removes it at the next restart.
				MoveFileExA(Moved.f_GetStr(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
			}
			if (Install && bNeedsCopy)
			{
				NZel::NSys::NFile::gf_Copy(Source, Target);
				bCopied = true;
			}
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

	bool gf_StartDriverService()
	{
		CKvServiceHandle hManager = fg_OpenManager();
		if (!hManager)
			return false;
		CKvServiceHandle hService = fg_OpenDriverService(hManager, SERVICE_START | SERVICE_INTERROGATE);
		if (!hService)
			return false;
		if (StartServiceA(hService.f_Get(), 0, nullptr))
			return fg_Poll(hService, [](DWORD State) { return State == SERVICE_START_PENDING; }) != EPoll::TimedOut;
		return GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
	}

	bool gf_StopDriverService()
	{
		CKvServiceHandle hManager = fg_OpenManager();
		if (!hManager)
			return false;
		CKvServiceHandle hService = fg_OpenDriverService(hManager, SERVICE_STOP | SERVICE_INTERROGATE);
		if (!hService)
			return false;
		SERVICE_STATUS Status = {};
		if (ControlService(hService.f_Get(), SERVICE_CONTROL_STOP, &Status))
			return fg_Poll(hService, [](DWORD State) { return State != SERVICE_STOPPED; }) != EPoll::TimedOut;
		return GetLastError() == ERROR_SERVICE_NOT_ACTIVE;
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
