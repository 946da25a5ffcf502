#pragma once
// Owners of the Windows handles the application core holds. Windows-only.
#include "zel/library/core/general/Zel_System_Handle.h"

#include <windows.h>

namespace NHushvane
{
	// Kernel objects that are null when absent: processes, events.
	struct CKernelHandleTraits
	{
		using CHandle = HANDLE;
		static CHandle fs_Invalid() noexcept { return nullptr; }
		static void fs_Close(CHandle hHandle) noexcept { CloseHandle(hHandle); }
	};

	// Handles that are INVALID_HANDLE_VALUE when absent: devices, Toolhelp snapshots.
	struct CFileHandleTraits
	{
		using CHandle = HANDLE;
		static CHandle fs_Invalid() noexcept { return INVALID_HANDLE_VALUE; }
		static void fs_Close(CHandle hHandle) noexcept { CloseHandle(hHandle); }
	};

	struct CServiceHandleTraits
	{
		using CHandle = SC_HANDLE;
		static CHandle fs_Invalid() noexcept { return nullptr; }
		static void fs_Close(CHandle hHandle) noexcept { CloseServiceHandle(hHandle); }
	};

	using CKernelHandle = NZel::TCUniqueHandle<CKernelHandleTraits>;
	using CFileHandle = NZel::TCUniqueHandle<CFileHandleTraits>;
	using CServiceHandle = NZel::TCUniqueHandle<CServiceHandleTraits>;
}
