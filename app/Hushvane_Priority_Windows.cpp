#include "app/Hushvane_Priority.h"
#include "KvWin/KvWindowsHandles.h"
#include "app/Hushvane_WorkerContextBase.h"
#include "zel/library/core/general/Zel_Format.h"
#include "zel/library/core/general/Zel_Str.h"

#include <windows.h>
#include <psapi.h>

namespace NHushvane
{
	using NZel::NStr::CStr;
	using NZel::uint32;

	namespace
	{
		constexpr DWORD gc_ProcessAccess = 0x1F0FFF;
		constexpr DWORD gc_NameBufferSize = 1024;
		constexpr ULONGLONG gc_RetryMilliseconds = 5000;

		CKvKernelHandle fg_OpenProcess(uint32 ProcessId)
		{
			return CKvKernelHandle(OpenProcess(gc_ProcessAccess, FALSE, ProcessId));
		}

#if !defined(_WIN64)
		// A 32-bit program on 64-bit Windows cannot read the modules of a 64-bit process
		// (GetModuleBaseNameA fails with ERROR_PARTIAL_COPY); the full image path still
		// names it.
		bool fg_ReadImageBaseName(HANDLE hProcess, CStr &Name)
		{
			char Path[MAX_PATH * 4];
			DWORD Length = DWORD(sizeof(Path));
			if (!QueryFullProcessImageNameA(hProcess, 0, Path, &Length))
				return false;
			DWORD Start = Length;
			while (Start > 0 && Path[Start - 1] != '\\' && Path[Start - 1] != '/')
				--Start;
			Name = CStr();
			Name.f_Append(Path + Start, NZel::int32(Length - Start));
			return !Name.f_IsEmpty();
		}
#endif

		// A process whose loader has not yet set up its module list cannot be named yet.
		// Windows then reports ERROR_INVALID_HANDLE; Wine also reports ERROR_NOACCESS or
		// ERROR_PARTIAL_COPY for a moment. Those two also describe a process that has already
		// ended, which must not hold the worker up for the whole retry time.
		bool fg_IsStartingUp(HANDLE hProcess, DWORD Error)
		{
			if (Error == ERROR_INVALID_HANDLE)
				return true;
			if (Error != ERROR_NOACCESS && Error != ERROR_PARTIAL_COPY)
				return false;
			DWORD ExitCode = 0;
			return GetExitCodeProcess(hProcess, &ExitCode) && ExitCode == STILL_ACTIVE;
		}

		// The module base name, or false with the thread's last error telling why.
		bool fg_ReadBaseName(HANDLE hProcess, CStr &Name)
		{
			char Buffer[gc_NameBufferSize];
			DWORD Length = GetModuleBaseNameA(hProcess, nullptr, Buffer, gc_NameBufferSize);
			if (Length == 0)
			{
#if !defined(_WIN64)
				DWORD Error = GetLastError();
				if (Error != ERROR_INVALID_HANDLE && fg_ReadImageBaseName(hProcess, Name))
					return true;
				SetLastError(Error);
#endif
				return false;
			}
			Name = CStr();
			Name.f_Append(Buffer, NZel::int32(Length < gc_NameBufferSize ? Length : gc_NameBufferSize - 1));
			return true;
		}
	}

	void gf_ApplyPriority(uint32 ProcessId)
	{
		CWorkerContextBase *pContext = CWorkerContextBase::fs_GetCurrent();
		if (!pContext)
			return;

		// A monotonic clock: a change of the wall clock must neither cut the retry short
		// nor stretch it.
		ULONGLONG Deadline = GetTickCount64() + gc_RetryMilliseconds;
		CKvKernelHandle hProcess = fg_OpenProcess(ProcessId);
		if (!hProcess)
			return;

		CStr Name;
		while (!fg_ReadBaseName(hProcess.f_Get(), Name))
		{
			if (!fg_IsStartingUp(hProcess.f_Get(), GetLastError()) || GetTickCount64() > Deadline)
				return;
			hProcess.f_Reset();
			Sleep(1);
			hProcess = fg_OpenProcess(ProcessId);
			if (!hProcess)
				return;
		}

		const CProcessTable::CEntry *pEntry = pContext->f_GetProcessTable().f_Find(Name.f_GetStr());
		if (!pEntry)
			return;
		if (!SetPriorityClass(hProcess.f_Get(), pEntry->f_GetPriorityClass()))
		{
			CStr Line = CStr::CFormat("Failed to set priority class on {} with process id {}\r\n") << Name << ProcessId;
			pContext->f_WriteLine(Line);
		}
	}
}
