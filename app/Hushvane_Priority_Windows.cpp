#include "app/Hushvane_Priority.h"
#include "KvWin/KvWindowsHandles.h"
#include "app/Hushvane_WorkerContextBase.h"
#include "zel/library/core/general/Zel_Format.h"
#include "zel/library/core/general/Zel_Str.h"

#include <windows.h>
#include <psapi.h>

#include <memory>

namespace NHushvane
{
	using NZel::NStr::CStr;
	using NZel::uint32;

	namespace
	{
		constexpr DWORD gc_ProcessAccess = 0x1F0FFF;
		constexpr DWORD gc_NameBufferSize = 1024;
		// Windows paths reach 32767 characters; most fit the first, small buffer.
		constexpr DWORD gc_LongPathSize = 32768;
		constexpr ULONGLONG gc_RetryMilliseconds = 5000;

		CKvKernelHandle fg_OpenProcess(uint32 ProcessId)
		{
			return CKvKernelHandle(OpenProcess(gc_ProcessAccess, FALSE, ProcessId));
		}

		void fg_SetLastElement(const char *pPath, DWORD Length, CStr &Name)
		{
			DWORD Start = Length;
			while (Start > 0 && pPath[Start - 1] != '\\' && pPath[Start - 1] != '/')
				--Start;
			Name = CStr();
			Name.f_Append(pPath + Start, NZel::int32(Length - Start));
		}

		// The last element of the process's image path. The kernel knows the image from the
		// moment the process exists, so this names a process that is held suspended before its
		// loader has run (launchers, sandboxes, installers create them so), when it has no
		// module list yet. It also names a 64-bit process for a 32-bit program on 64-bit
		// Windows, where reading the other process's modules fails.
		bool fg_ReadImageName(HANDLE hProcess, CStr &Name)
		{
			char Path[MAX_PATH * 2];
			DWORD Length = DWORD(sizeof(Path));
			if (QueryFullProcessImageNameA(hProcess, 0, Path, &Length))
			{
				fg_SetLastElement(Path, Length, Name);
				return !Name.f_IsEmpty();
			}
			if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
				return false;
			std::unique_ptr<char[]> pLongPath(new char[gc_LongPathSize]);
			Length = gc_LongPathSize;
			if (!QueryFullProcessImageNameA(hProcess, 0, pLongPath.get(), &Length))
				return false;
			fg_SetLastElement(pLongPath.get(), Length, Name);
			return !Name.f_IsEmpty();
		}

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
				return false;
			Name = CStr();
			Name.f_Append(Buffer, NZel::int32(Length < gc_NameBufferSize ? Length : gc_NameBufferSize - 1));
			return true;
		}

		// The module base name, retried about every millisecond (on a fresh handle) while the
		// process is still starting up, for at most 5 seconds from Deadline's start. Only for a
		// process whose image path could not be read: while it retries, the worker takes no
		// further records.
		bool fg_ReadBaseNameRetrying(CKvKernelHandle &hProcess, uint32 ProcessId, ULONGLONG Deadline, CStr &Name)
		{
			while (!fg_ReadBaseName(hProcess.f_Get(), Name))
			{
				if (!fg_IsStartingUp(hProcess.f_Get(), GetLastError()) || GetTickCount64() > Deadline)
					return false;
				hProcess.f_Reset();
				Sleep(1);
				hProcess = fg_OpenProcess(ProcessId);
				if (!hProcess)
					return false;
			}
			return true;
		}

		bool fg_HasEnded(HANDLE hProcess)
		{
			DWORD ExitCode = 0;
			return GetExitCodeProcess(hProcess, &ExitCode) && ExitCode != STILL_ACTIVE;
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
		if (!fg_ReadImageName(hProcess.f_Get(), Name) && !fg_ReadBaseNameRetrying(hProcess, ProcessId, Deadline, Name))
			return;

		const CProcessTable::CEntry *pEntry = pContext->f_GetProcessTable().f_Find(Name.f_GetStr());
		if (!pEntry)
			return;
		if (SetPriorityClass(hProcess.f_Get(), pEntry->f_GetPriorityClass()))
			return;
		// A process that ended while it was being named has nothing left to change; only a
		// living process that refuses its class is worth a line.
		if (fg_HasEnded(hProcess.f_Get()))
			return;
		CStr Line = CStr::CFormat("Failed to set priority class on {} with process id {}\r\n") << Name << ProcessId;
		pContext->f_WriteLine(Line);
	}
}
