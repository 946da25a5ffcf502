#include "tests/e2e/BenchWatchdog_Windows.h"
#include "KvWin/KvWindowsHandles.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>

namespace NHushvaneTest
{
	namespace
	{
		// The held thread's return addresses as module+offset, walked with the x64 unwind data;
		// the x86 build prints the instruction pointer alone.
		void fg_PrintStack(HANDLE hThread)
		{
#if defined(_WIN64)
			CONTEXT Context = {};
			Context.ContextFlags = CONTEXT_FULL;
			BOOL bContext = GetThreadContext(hThread, &Context);
			for (int Frame = 0; bContext && Frame < 16 && Context.Rip; ++Frame)
			{
				char Module[MAX_PATH] = "?";
				HMODULE hModule = nullptr;
				if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
						reinterpret_cast<LPCSTR>(Context.Rip), &hModule))
					GetModuleBaseNameA(GetCurrentProcess(), hModule, Module, sizeof(Module));
				std::fprintf(stderr, " %s+0x%llx", Module, (unsigned long long)(Context.Rip - DWORD64(hModule)));
				DWORD64 ImageBase = 0;
				PRUNTIME_FUNCTION pFunction = RtlLookupFunctionEntry(Context.Rip, &ImageBase, nullptr);
				if (!pFunction)
				{
					// A leaf function: the return address is on top of the stack.
					SIZE_T Read = 0;
					if (!ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<void *>(Context.Rsp), &Context.Rip, sizeof(Context.Rip), &Read))
						break;
					Context.Rsp += 8;
					continue;
				}
				void *pHandlerData = nullptr;
				DWORD64 EstablisherFrame = 0;
				RtlVirtualUnwind(UNW_FLAG_NHANDLER, ImageBase, Context.Rip, pFunction, &Context, &pHandlerData, &EstablisherFrame, nullptr);
			}
#else
			CONTEXT Context = {};
			Context.ContextFlags = CONTEXT_CONTROL;
			if (GetThreadContext(hThread, &Context))
				std::fprintf(stderr, " ip 0x%lx", Context.Eip);
#endif
		}
	}

	CBenchWatchdog::CBenchWatchdog()
		: fp_Thread([this] { fp_Watch(); })
	{
	}

	CBenchWatchdog::~CBenchWatchdog()
	{
		fp_bStop = true;
		fp_Thread.join();
	}

	void CBenchWatchdog::f_Section(const char *pName, DWORD BudgetMs)
	{
		fp_pSection = pName;
		fp_Deadline = GetTickCount64() + BudgetMs;
		fp_bDumped = false;
	}

	void CBenchWatchdog::fp_Watch()
	{
		while (!fp_bStop)
		{
			Sleep(200);
			const char *pSection = fp_pSection;
			if (pSection && !fp_bDumped && GetTickCount64() > fp_Deadline)
			{
				fp_bDumped = true;
				fs_DumpThreads(pSection);
			}
		}
	}

	void CBenchWatchdog::fs_DumpThreads(const char *pWhy)
	{
		std::fprintf(stderr, "watchdog: \"%s\" is over its time; the threads of process %lu:\n", pWhy, GetCurrentProcessId());
		CKvFileHandle hSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
		if (!hSnapshot)
			return;
		THREADENTRY32 Entry = {};
		Entry.dwSize = sizeof(Entry);
		for (BOOL bMore = Thread32First(hSnapshot.f_Get(), &Entry); bMore; bMore = Thread32Next(hSnapshot.f_Get(), &Entry))
		{
			if (Entry.th32OwnerProcessID != GetCurrentProcessId() || Entry.th32ThreadID == GetCurrentThreadId())
				continue;
			CKvKernelHandle hThread(OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, Entry.th32ThreadID));
			if (!hThread)
			{
				std::fprintf(stderr, "  thread %lu: cannot be opened (%lu)\n", Entry.th32ThreadID, GetLastError());
				continue;
			}
			PWSTR pName = nullptr;
			char Name[128] = "";
			// Windows 10 and Wine have it; the build targets Windows 7.
			using CGetDescription = HRESULT(WINAPI *)(HANDLE, PWSTR *);
			auto fGetDescription = reinterpret_cast<CGetDescription>(
				reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetThreadDescription")));
			if (fGetDescription && SUCCEEDED(fGetDescription(hThread.f_Get(), &pName)) && pName)
			{
				WideCharToMultiByte(CP_UTF8, 0, pName, -1, Name, sizeof(Name), nullptr, nullptr);
				LocalFree(pName);
			}
			if (SuspendThread(hThread.f_Get()) == DWORD(-1))
			{
				std::fprintf(stderr, "  thread %lu \"%s\": cannot be suspended (%lu)\n", Entry.th32ThreadID, Name, GetLastError());
				continue;
			}
			std::fprintf(stderr, "  thread %lu \"%s\":", Entry.th32ThreadID, Name);
			fg_PrintStack(hThread.f_Get());
			std::fprintf(stderr, "\n");
			ResumeThread(hThread.f_Get());
		}
		std::fflush(stderr);
	}
}
