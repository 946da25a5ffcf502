#include "zel/library/core/runtime/Zel_Runtime_CrashReporter.h"

#include "zel/library/core/file/Zel_File.h"
#include "zel/library/core/general/Zel_Clock.h"
#include "zel/library/core/general/Zel_CrashLog.h"
#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_Format.h"
#include "zel/library/core/runtime/Zel_Runtime_CrashRegisters.h"
#include "zel/library/core/runtime/Zel_Runtime_StackTrace.h"
#include "zel/library/core/runtime/Zel_Runtime_StackWalk.h"
#include "zel/library/core/runtime/Zel_Sys_Debug.h"

#include <atomic>

namespace NZel::NCrash
{
	using NStr::CStr;

	namespace
	{
		// Small: handle data, indirectly referenced memory, thread data. Full: as small, with the
		// whole memory, data segments, unloaded modules and private read-write memory.
		std::atomic<DWORD> g_SmallDumpType{0x144};
		std::atomic<DWORD> g_FullDumpType{0x367};
		constexpr DWORD gc_Breakpoint = 0x80000003;
		constexpr DWORD gc_StackOverflow = 0xC00000FD;
		// Stack of the thread that reports stack overflows.
		constexpr DWORD gc_ReportStackBytes = 1024 * 1024;

		std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> g_PreviousFilter{nullptr};

		// One crash as the report sees it: the exception, its thread, and the part of that
		// thread's stack the report shows (from the filter's own frame up to the stack end).
		struct CCrash
		{
			EXCEPTION_POINTERS *m_pException;
			DWORD m_ThreadId;
			umint m_StackLow;
			umint m_StackHigh;
			LONG m_Result = EXCEPTION_EXECUTE_HANDLER;
		};

		// The thread that is writing a report; a second fault on it ends the process at once.
		thread_local bool t_bReporting = false;

		// The end of the memory region that holds the calling thread's stack: the committed
		// part of a stack runs from its lowest touched page up to the stack's end.
		umint fg_GetStackEnd(umint StackPosition)
		{
			MEMORY_BASIC_INFORMATION Region{};
			if (!VirtualQuery(reinterpret_cast<const void *>(StackPosition), &Region, sizeof(Region)))
				return StackPosition;
			return umint(Region.BaseAddress) + Region.RegionSize;
		}

		void fg_WriteDump(CStackTrace &Engine, const CStr &Path, uint32 DumpType, const CCrash &Crash)
		{
			NSys::NFile::CFileHandle *pFile = nullptr;
			try
			{
				pFile = NSys::NFile::gf_Open(Path, NSys::NFile::EOpenFlag_Write);
				Engine.f_WriteDump(NSys::NFile::gf_GetSystemHandle(pFile), DumpType, Crash.m_pException, Crash.m_ThreadId);
				NSys::NFile::gf_Close(pFile);
			}
			catch (const NException::CException &)
			{
				// A dump that cannot be written is skipped; the other files still come.
			}
		}

		struct CTraceContext
		{
			CStackTrace *m_pEngine;
			CStr *m_pText;
		};

		CStackTraceSymbol *fg_Resolve(CStackTrace &Engine, umint Address, CSymbolInfo &Info)
		{
			CStackTraceSymbol *pSymbol = Engine.f_Resolve(Address);
			if (pSymbol)
				Info = pSymbol->f_GetInfo();
			return pSymbol;
		}

		void fg_OnFrame(umint Address, umint Frame, void *pContext)
		{
			CTraceContext &Trace = *static_cast<CTraceContext *>(pContext);
			CSymbolInfo Info;
			CStackTraceSymbol *pSymbol = fg_Resolve(*Trace.m_pEngine, Address, Info);
			gf_AppendStackFrame(*Trace.m_pText, Address, Frame, pSymbol ? &Info : nullptr);
			Trace.m_pEngine->f_Release(pSymbol);
		}

		bool fg_ReadStack(umint Address, void *pDestination, uint32 Count, void *)
		{
			return gf_ReadMemory(Address, pDestination, Count);
		}

		CStr fg_MakeLog(CStackTrace &Engine, const CCrash &Crash)
		{
			EXCEPTION_RECORD const &Record = *Crash.m_pException->ExceptionRecord;
			CONTEXT const &Context = *Crash.m_pException->ContextRecord;
			umint const Address = umint(Record.ExceptionAddress);

			CStr Text("Unhandeled excepion\n\n");
			Text.f_Append("Exception type: ");
			umint Parameters[EXCEPTION_MAXIMUM_PARAMETERS] = {};
			DWORD const nParameters = Record.NumberParameters < EXCEPTION_MAXIMUM_PARAMETERS ? Record.NumberParameters : EXCEPTION_MAXIMUM_PARAMETERS;
			for (DWORD i = 0; i < nParameters; ++i)
				Parameters[i] = umint(Record.ExceptionInformation[i]);
			gf_Append(Text, gf_GetExceptionTypeText(Record.ExceptionCode, nParameters, Parameters));
			Text.f_Append("\n\n");

			CSymbolInfo Info;
			CStackTraceSymbol *pSymbol = fg_Resolve(Engine, Address, Info);
			gf_AppendExceptionAddress(Text, Address, pSymbol ? &Info : nullptr);
			Engine.f_Release(pSymbol);

			gf_AppendRegisters(Text, Context);

			Text.f_Append("StackTrace: \n");
			CTraceContext Trace{&Engine, &Text};
			gf_WalkStack(Context, Address, Crash.m_StackLow, Crash.m_StackHigh, &fg_OnFrame, &Trace);
			Text.f_Append("\n");

			NSys::gf_DebugOutput(CStr(CStr::CFormat("StackEnd {nfh,sj*,sf0} StackStart {nfh,sj*1,sf0}") << Crash.m_StackLow << gc_AddressDigits
				<< Crash.m_StackHigh).f_GetStr());
			gf_AppendRawStack(Text, Crash.m_StackLow, Crash.m_StackHigh, &fg_ReadStack, nullptr);
			return Text;
		}

		void fg_WriteLog(const CStr &Path, const CStr &Text)
		{
			NSys::NFile::CFileHandle *pFile = nullptr;
			try
			{
				pFile = NSys::NFile::gf_Open(Path, NSys::NFile::EOpenFlag_Write);
				NSys::NFile::gf_Write(pFile, Text.f_GetStr(), 0, uint32(Text.f_GetLen()));
				NSys::NFile::gf_Close(pFile);
			}
			catch (const NException::CException &)
			{
				// Nowhere to write: the box still names the files that were meant.
			}
		}

		void fg_Report(CCrash &Crash)
		{
			if (!Crash.m_StackHigh)
				Crash.m_StackHigh = fg_GetStackEnd(Crash.m_StackLow);
			EXCEPTION_RECORD const &Record = *Crash.m_pException->ExceptionRecord;
			CCrashFileNames const Files = gf_MakeCrashFileNames(NFile::gf_GetProgramFolder(), NTime::gf_GetClock().f_GetLocalTime().f_GetCalendar());

			CStackTrace &Engine = gf_GetStackTrace();
			Engine.f_Initialise();
			if (Engine.f_CanWriteDumps())
			{
				fg_WriteDump(Engine, Files.m_MiniDump, g_SmallDumpType.load(), Crash);
				fg_WriteDump(Engine, Files.m_FullDump, g_FullDumpType.load(), Crash);
			}

			// The log is on disk before the box names it.
			fg_WriteLog(Files.m_CrashLog, fg_MakeLog(Engine, Crash));

			CCrashSettings const &Settings = gf_GetCrashSettings();
			if (Settings.fp_CrashNoDialog)
				return;
			bool const bAskContinue = Record.ExceptionCode == gc_Breakpoint && !(Record.ExceptionFlags & EXCEPTION_NONCONTINUABLE);
			CStr const BoxText = gf_MakeCrashBoxText(Settings, Files, bAskContinue);
			int const Answer = MessageBoxA(nullptr, BoxText.f_GetStr(), "Exception", MB_ICONERROR | (bAskContinue ? MB_YESNO : MB_OK));
			if (bAskContinue && Answer == IDYES)
			{
				// Past the one-byte breakpoint instruction.
#if defined(_WIN64)
				++Crash.m_pException->ContextRecord->Rip;
#else
				++Crash.m_pException->ContextRecord->Eip;
#endif
				Crash.m_Result = EXCEPTION_CONTINUE_EXECUTION;
			}
		}

		// A stack overflow leaves its thread next to no stack: not enough to make a thread or
		// to write a report. A thread kept ready for it does the work while the crashed one
		// only signals and waits, which needs a few hundred bytes.
		class CStandbyReporter
		{
		public:
			void f_Start()
			{
				m_hRequest = CreateEventW(nullptr, FALSE, FALSE, nullptr);
				m_hDone = CreateEventW(nullptr, FALSE, FALSE, nullptr);
				HANDLE hThread = m_hRequest && m_hDone
									 ? CreateThread(nullptr, gc_ReportStackBytes, &fs_Run, this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr)
									 : nullptr;
				if (hThread)
					CloseHandle(hThread);
				m_bReady = hThread != nullptr;
			}

			// False when there is no standby thread; the caller then reports itself.
			bool f_Report(CCrash &Crash)
			{
				if (!m_bReady)
					return false;
				while (m_bBusy.exchange(true))
					Sleep(10); // one report at a time
				m_pCrash = &Crash;
				SignalObjectAndWait(m_hRequest, m_hDone, INFINITE, FALSE);
				m_bBusy = false;
				return true;
			}

		private:
			static DWORD WINAPI fs_Run(void *pThis)
			{
				CStandbyReporter &Reporter = *static_cast<CStandbyReporter *>(pThis);
				for (;;)
				{
					WaitForSingleObject(Reporter.m_hRequest, INFINITE);
					fg_Report(*Reporter.m_pCrash);
					SetEvent(Reporter.m_hDone);
				}
			}

			HANDLE m_hRequest = nullptr;
			HANDLE m_hDone = nullptr;
			CCrash *m_pCrash = nullptr;
			std::atomic<bool> m_bBusy{false};
			bool m_bReady = false;
		};

		CStandbyReporter g_StandbyReporter;
		std::atomic<bool> g_bStandbyStarted{false};

		// A stack overflow is reported when it is first raised: the search for a handler
		// takes more stack than an overflowed thread has (under Wine it ends the process before
		// any filter is reached), and no code of this program handles an overflow.
		LONG WINAPI fg_OnStackOverflow(EXCEPTION_POINTERS *pException)
		{
			DWORD const Code = pException->ExceptionRecord->ExceptionCode;
			if (Code != gc_StackOverflow)
				return EXCEPTION_CONTINUE_SEARCH;
			CCrash Crash{pException, GetCurrentThreadId(), umint(__builtin_frame_address(0)) & ~umint(15), 0};
			if (!g_StandbyReporter.f_Report(Crash))
				return EXCEPTION_CONTINUE_SEARCH;
			TerminateProcess(GetCurrentProcess(), Code);
			return EXCEPTION_CONTINUE_SEARCH;
		}
	}

	LONG WINAPI gf_CrashFilter(EXCEPTION_POINTERS *pException)
	{
		DWORD const Code = pException->ExceptionRecord->ExceptionCode;
		CCrash Crash{pException, GetCurrentThreadId(), umint(__builtin_frame_address(0)) & ~umint(15), 0};
		if (Code == gc_StackOverflow && g_StandbyReporter.f_Report(Crash))
		{
			// Reported on the standby thread.
		}
		else
		{
			if (t_bReporting)
				TerminateProcess(GetCurrentProcess(), Code); // the report itself failed: nothing more to say
			t_bReporting = true;
			fg_Report(Crash);
			t_bReporting = false;
		}

		if (Crash.m_Result == EXCEPTION_CONTINUE_EXECUTION)
			return EXCEPTION_CONTINUE_EXECUTION;
		// The exception code is the exit code, so that whoever started the process can tell.
		TerminateProcess(GetCurrentProcess(), Code);
		return EXCEPTION_EXECUTE_HANDLER;
	}

	void gf_InstallCrashFilter()
	{
		if (!g_bStandbyStarted.exchange(true))
		{
			g_StandbyReporter.f_Start();
			AddVectoredExceptionHandler(1, &fg_OnStackOverflow);
		}
		LPTOP_LEVEL_EXCEPTION_FILTER Previous = SetUnhandledExceptionFilter(&gf_CrashFilter);
		if (Previous != &gf_CrashFilter)
			g_PreviousFilter.store(Previous);
	}

	LPTOP_LEVEL_EXCEPTION_FILTER gf_GetPreviousCrashFilter()
	{
		return g_PreviousFilter.load();
	}

	void gf_SetDumpTypes(DWORD SmallDump, DWORD FullDump)
	{
		g_SmallDumpType = SmallDump;
		g_FullDumpType = FullDump;
	}
}
