#include "tests/e2e/BenchWatchdog_Windows.h"
#include "tests/e2e/BenchTrace_Windows.h"
#include "KvWin/KvWindowsHandles.h"

#include <psapi.h>
#include <tlhelp32.h>

namespace NHushvaneTest
{
	namespace
	{
		// The modules of this process, read before any thread is suspended: naming a frame
		// then needs no loader lock, which a suspended thread may hold.
		class CModuleTable
		{
		public:
			CModuleTable()
			{
				HMODULE Modules[gc_MaxModules];
				DWORD Needed = 0;
				if (!EnumProcessModules(GetCurrentProcess(), Modules, sizeof(Modules), &Needed))
					return;
				for (DWORD i = 0; i < Needed / sizeof(HMODULE) && i < gc_MaxModules; ++i)
				{
					MODULEINFO Info = {};
					if (!GetModuleInformation(GetCurrentProcess(), Modules[i], &Info, sizeof(Info)))
						continue;
					CModule &Module = fp_Modules[fp_Count++];
					Module.m_Base = DWORD64(Info.lpBaseOfDll);
					Module.m_Size = Info.SizeOfImage;
					if (!GetModuleBaseNameA(GetCurrentProcess(), Modules[i], Module.m_Name, sizeof(Module.m_Name)))
						Module.m_Name[0] = 0;
				}
			}

			// Appends "module+0xoffset" (or the bare address) to Line.
			void f_Name(CBenchLine &Line, DWORD64 Address) const
			{
				for (size_t i = 0; i < fp_Count; ++i)
				{
					if (Address >= fp_Modules[i].m_Base && Address - fp_Modules[i].m_Base < fp_Modules[i].m_Size)
					{
						Line.f_Text(fp_Modules[i].m_Name).f_Text("+0x").f_Number(Address - fp_Modules[i].m_Base, 16);
						return;
					}
				}
				Line.f_Text("0x").f_Number(Address, 16);
			}

		private:
			static constexpr size_t gc_MaxModules = 256;
			struct CModule
			{
				DWORD64 m_Base = 0;
				DWORD64 m_Size = 0;
				char m_Name[64] = "";
			};
			CModule fp_Modules[gc_MaxModules];
			size_t fp_Count = 0;
		};

		constexpr int gc_MaxFrames = 16;

		// The held thread's return addresses, walked with the x64 unwind data (no lock is taken:
		// the lookup reads the loader's list, the walk reads the stack); the x86 build gives the
		// instruction pointer alone. Returns the number of frames.
		int fg_WalkStack(HANDLE hThread, DWORD64 (&Frames)[gc_MaxFrames])
		{
			int Count = 0;
#if defined(_WIN64)
			CONTEXT Context = {};
			Context.ContextFlags = CONTEXT_FULL;
			if (!GetThreadContext(hThread, &Context))
				return 0;
			while (Count < gc_MaxFrames && Context.Rip)
			{
				Frames[Count++] = Context.Rip;
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
				Frames[Count++] = Context.Eip;
#endif
			return Count;
		}

		// The thread's name as a debugger sees it (Windows 10 and Wine have it; the build
		// targets Windows 7). Asked while the thread runs: it allocates.
		void fg_ThreadName(HANDLE hThread, char (&Name)[64])
		{
			Name[0] = 0;
			using CGetDescription = HRESULT(WINAPI *)(HANDLE, PWSTR *);
			auto fGetDescription = reinterpret_cast<CGetDescription>(
				reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetThreadDescription")));
			PWSTR pName = nullptr;
			if (fGetDescription && SUCCEEDED(fGetDescription(hThread, &pName)) && pName)
			{
				WideCharToMultiByte(CP_UTF8, 0, pName, -1, Name, sizeof(Name), nullptr, nullptr);
				LocalFree(pName);
			}
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
		fp_bDumped = true; // no dump while the section changes
		fp_pSection = pName;
		fp_Deadline = gf_BenchClockMs() + BudgetMs;
		fp_bFinal = false;
		fp_bDumped = false;
	}

	void CBenchWatchdog::f_FinalSection(const char *pName, DWORD BudgetMs)
	{
		f_Section(pName, BudgetMs);
		fp_bFinal = true;
	}

	void CBenchWatchdog::fp_Watch()
	{
		while (!fp_bStop)
		{
			Sleep(200);
			const char *pSection = fp_pSection;
			if (pSection && !fp_bDumped && gf_BenchClockMs() > fp_Deadline)
			{
				fp_bDumped = true;
				bool bFinal = fp_bFinal;
				fs_DumpThreads(pSection);
				if (bFinal)
				{
					CBenchLine().f_Text("watchdog: \"").f_Text(pSection).f_Text("\" did not end; ending the process with exit code ").f_Number(gc_BenchOverrunExitCode).f_Write();
					TerminateProcess(GetCurrentProcess(), gc_BenchOverrunExitCode);
				}
			}
		}
	}

	void CBenchWatchdog::fs_DumpThreads(const char *pWhy)
	{
		CBenchLine().f_Text("watchdog: \"").f_Text(pWhy).f_Text("\" is over its time; the threads of process ").f_Number(GetCurrentProcessId()).f_Write();
		CModuleTable Modules;
		CKvFileHandle hSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
		if (!hSnapshot)
			return;
		THREADENTRY32 Entry = {};
		Entry.dwSize = sizeof(Entry);
		for (BOOL bMore = Thread32First(hSnapshot.f_Get(), &Entry); bMore; bMore = Thread32Next(hSnapshot.f_Get(), &Entry))
		{
			if (Entry.th32OwnerProcessID != GetCurrentProcessId() || Entry.th32ThreadID == GetCurrentThreadId())
				continue;
			CBenchLine Line;
			Line.f_Text("  thread ").f_Number(Entry.th32ThreadID);
			CKvKernelHandle hThread(OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, Entry.th32ThreadID));
			if (!hThread)
			{
				Line.f_Text(": cannot be opened (").f_Number(GetLastError()).f_Text(")").f_Write();
				continue;
			}
			char Name[64];
			fg_ThreadName(hThread.f_Get(), Name);
			Line.f_Text(" \"").f_Text(Name).f_Text("\":");
			// Between the suspension and the resumption nothing is called that takes a lock.
			if (SuspendThread(hThread.f_Get()) == DWORD(-1))
			{
				Line.f_Text(" cannot be suspended (").f_Number(GetLastError()).f_Text(")").f_Write();
				continue;
			}
			DWORD64 Frames[gc_MaxFrames];
			int Count = fg_WalkStack(hThread.f_Get(), Frames);
			ResumeThread(hThread.f_Get());
			for (int i = 0; i < Count; ++i)
				Modules.f_Name(Line.f_Text(" "), Frames[i]);
			Line.f_Write();
		}
	}
}
