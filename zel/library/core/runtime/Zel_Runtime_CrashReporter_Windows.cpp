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
		// The report of a stack overflow runs on a thread of its own with this much stack: the
		// crashed thread has next to none left.
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
			gf_Append(Text, gf_GetExceptionTypeText(Record.ExceptionCode, Record.NumberParameters, Record.ExceptionInformation));
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

		DWORD WINAPI fg_ReportThread(void *pCrash)
		{
			fg_Report(*static_cast<CCrash *>(pCrash));
			return 0;
		}

		// A stack overflow leaves its thread too little stack to work on: the report runs on
		// a new thread while the crashed one waits.
		void fg_ReportOnNewThread(CCrash &Crash)
		{
			HANDLE hThread = CreateThread(nullptr, gc_ReportStackBytes, &fg_ReportThread, &Crash, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
			if (!hThread)
			{
				fg_Report(Crash);
				return;
			}
			WaitForSingleObject(hThread, INFINITE);
			CloseHandle(hThread);
		}
	}

	LONG WINAPI gf_CrashFilter(EXCEPTION_POINTERS *pException)
	{
		DWORD const Code = pException->ExceptionRecord->ExceptionCode;
		if (t_bReporting)
			TerminateProcess(GetCurrentProcess(), Code); // the report itself failed: nothing more to say

		t_bReporting = true;
		umint const StackPosition = umint(__builtin_frame_address(0)) & ~umint(15);
		CCrash Crash{pException, GetCurrentThreadId(), StackPosition, fg_GetStackEnd(StackPosition)};
		if (Code == gc_StackOverflow)
			fg_ReportOnNewThread(Crash);
		else
			fg_Report(Crash);
		t_bReporting = false;

		if (Crash.m_Result == EXCEPTION_CONTINUE_EXECUTION)
			return EXCEPTION_CONTINUE_EXECUTION;
		// The exception code is the exit code, so that whoever started the process can tell.
		TerminateProcess(GetCurrentProcess(), Code);
		return EXCEPTION_EXECUTE_HANDLER;
	}

	void gf_InstallCrashFilter()
	{
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
