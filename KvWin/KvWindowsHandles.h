#pragma once
// Owners of the Windows handles the program, its service host, its tray window and its tests
// hold. Header-only, so tools that do not link the KvWin library can use it too. Include only
// from Windows sources.
#include "zel/library/core/general/Zel_System_Handle.h"

#include <windows.h>

// Handles closed with CloseHandle; the two kinds below differ only in their value when absent.
struct CKvCloseHandleTraits
{
	using CHandle = HANDLE;
	static void fs_Close(CHandle Handle) noexcept { CloseHandle(Handle); }
};

// A kernel object handle that is null when absent (OpenProcess, CreateEvent, tokens, ...).
struct CKvKernelHandleTraits : CKvCloseHandleTraits
{
	static CHandle fs_Invalid() noexcept { return nullptr; }
};

// A handle that is INVALID_HANDLE_VALUE when absent (CreateFile on files and devices, Toolhelp
// snapshots).
struct CKvFileHandleTraits : CKvCloseHandleTraits
{
	static CHandle fs_Invalid() noexcept { return INVALID_HANDLE_VALUE; }
};

struct CKvServiceHandleTraits
{
	using CHandle = SC_HANDLE;
	static CHandle fs_Invalid() noexcept { return nullptr; }
	static void fs_Close(CHandle Handle) noexcept { CloseServiceHandle(Handle); }
};

struct CKvMenuHandleTraits
{
	using CHandle = HMENU;
	static CHandle fs_Invalid() noexcept { return nullptr; }
	static void fs_Close(CHandle Handle) noexcept { DestroyMenu(Handle); }
};

using CKvKernelHandle = NZel::TCUniqueHandle<CKvKernelHandleTraits>;
using CKvFileHandle = NZel::TCUniqueHandle<CKvFileHandleTraits>;
using CKvServiceHandle = NZel::TCUniqueHandle<CKvServiceHandleTraits>;
using CKvMenuHandle = NZel::TCUniqueHandle<CKvMenuHandleTraits>;
