#pragma once
// Owners of the Windows handles the service host and the tray window use. Include only from
// Windows sources.
#include "zel/library/core/general/Zel_System_Handle.h"

#include <windows.h>

struct CKvServiceHandleTraits
{
	using CHandle = SC_HANDLE;
	static CHandle fs_Invalid() noexcept { return nullptr; }
	static void fs_Close(CHandle Handle) noexcept { CloseServiceHandle(Handle); }
};

// A kernel object handle that is null when absent (OpenProcess, CreateEvent, ...).
struct CKvKernelHandleTraits
{
	using CHandle = HANDLE;
	static CHandle fs_Invalid() noexcept { return nullptr; }
	static void fs_Close(CHandle Handle) noexcept { CloseHandle(Handle); }
};

struct CKvMenuHandleTraits
{
	using CHandle = HMENU;
	static CHandle fs_Invalid() noexcept { return nullptr; }
	static void fs_Close(CHandle Handle) noexcept { DestroyMenu(Handle); }
};

using CKvServiceHandle = NZel::TCUniqueHandle<CKvServiceHandleTraits>;
using CKvKernelHandle = NZel::TCUniqueHandle<CKvKernelHandleTraits>;
using CKvMenuHandle = NZel::TCUniqueHandle<CKvMenuHandleTraits>;
