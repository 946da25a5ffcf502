#include "zel/library/core/runtime/Zel_Runtime_CrashReporter.h"

#include "zel/library/core/file/Zel_File.h"
#include "zel/library/core/general/Zel_CrashLog.h"
#include "zel/library/core/general/Zel_CrashText.h"
#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_Format.h"
#include "zel/library/core/runtime/Zel_Runtime_CrashRegisters.h"
#include "zel/library/core/runtime/Zel_Runtime_StackTrace.h"
#include "zel/library/core/runtime/Zel_Runtime_StackWalk.h"
#include "zel/library/core/runtime/Zel_Sys_Debug.h"
#include "zel/library/core/runtime/Zel_Sys_EventLog.h"
#include "zel/library/core/runtime/Zel_Sys_Memory.h"
#include "zel/library/core/runtime/Zel_Sys_Time.h"

#include <atomic>
#include <cstring>
#include <new>

namespace NZel::NCrash
{
	namespace
	{
		// Small: handle data, indirectly referenced memory, thread data. Full: as small, with the
		// whole memory, data segments, unloaded modules and private read-write memory.
		constinit std::atomic<DWORD> g_SmallDumpType{0x144};
		constinit std::atomic<DWORD> g_FullDumpType{0x367};
		constinit std::atomic<DWORD> g_ReportLimitMs{gc_DefaultReportLimitMs};
		constexpr DWORD gc_Breakpoint = 0x80000003;
		constexpr DWORD gc_StackOverflow = 0xC00000FD;
		// Stack of the thread that writes the reports.
		constexpr DWORD gc_ReportStackBytes = 1024 * 1024;
		// Room for the crash log: the raw stack of a thread with a stack of several megabytes
		// (about 2.8 bytes of text per byte of stack) and a trace of 1024 named frames.
		constexpr umint gc_LogBytes = sizeof(void *) == 8 ? umint(64) << 20 : umint(16) << 20;
		// A file's name after the folder, in characters: "\CrashLog_" and a time stamp.
		constexpr umint gc_NameChars = 64;
		// The raw stack is read this much at a time: a read for each line of 32 bytes costs a
		// system call each, seconds for a deep stack under Wine.
		constexpr umint gc_StackBlockBytes = 16384;
		constexpr umint gc_PageBytes = 4096;

		constinit std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> g_PreviousFilter{nullptr};

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

		// What a report needs that cannot be had safely once something crashed, worked out when
		// the reporter is installed, in memory of the reporter's own, for the life of the
		// process.
		struct CPrepared
		{
			// The crash log, then the box's text.
			CCrashText m_Text{gc_LogBytes};
			// Where the raw stack is read into.
			uint8 m_StackBlock[gc_StackBlockBytes];
			// The paths of the report in progress, and the local time they were made from.
			CCrashFileNames m_Files;
			NTime::CCalendarTime m_Local;
			// The program folder with '/' separators, as the box names the files.
			const char *m_pFolder = nullptr;
			// The same folder as Windows takes it, followed by room for one file's name.
			wchar_t *m_pPath = nullptr;
			umint m_nFolderChars = 0;
		};

		constinit std::atomic<CPrepared *> g_pPrepared{nullptr};

		// One report at a time: the thread writing it (0: none) and the code it reports.
		constinit std::atomic<DWORD> g_ReportingThread{0};
		constinit std::atomic<DWORD> g_ReportingCode{0};

		void fg_Prepare()
		{
			try
			{
				NStr::CStr const Folder = NFile::gf_GetProgramFolder();
				NStr::CStr16 const WideFolder = NSys::NFile::gf_ToWidePath(Folder);
				umint const nFolderBytes = umint(Folder.f_GetLen()) + 1;
				umint const nPathChars = umint(WideFolder.f_GetLen()) + gc_NameChars;
				umint const Size = sizeof(CPrepared) + nFolderBytes + nPathChars * sizeof(wchar_t) + alignof(wchar_t);
				auto *pMemory = static_cast<unsigned char *>(NSys::AllocVirtualMemory(Size, 0, NSys::EMemAllocation::Commit));
				auto *pPrepared = new (pMemory) CPrepared;
				char *pFolder = reinterpret_cast<char *>(pMemory + sizeof(CPrepared));
				std::memcpy(pFolder, Folder.f_GetStr(), nFolderBytes);
				auto *pPath = reinterpret_cast<wchar_t *>(NSys::gf_Mem_RoundUp(umint(pFolder + nFolderBytes), alignof(wchar_t)));
				for (int32 i = 0; i < WideFolder.f_GetLen(); ++i)
				{
					wchar_t const Char = wchar_t(WideFolder.f_GetStr()[i]);
					pPath[i] = Char == L'/' ? L'\\' : Char;
				}
				pPath[WideFolder.f_GetLen()] = 0;
				pPrepared->m_pFolder = pFolder;
				pPrepared->m_pPath = pPath;
				pPrepared->m_nFolderChars = umint(WideFolder.f_GetLen());
				gf_GetStackTrace().f_SetProgramFolder(pFolder);
				g_pPrepared.store(pPrepared, std::memory_order_release);
			}
			catch (const NException::CException &)
			{
				// No memory this early: a crash still ends the process with its code, without files.
			}
		}

		// Makes the calling thread the one writing a report, once another report is over (it
		// ends the process, or its thread goes on after a breakpoint). A fault on that thread
		// until fg_LeaveReport is a fault inside the report.
		void fg_EnterReport(DWORD Code)
		{
			DWORD const Self = GetCurrentThreadId();
			DWORD Expected = 0;
			while (!g_ReportingThread.compare_exchange_weak(Expected, Self))
			{
				Expected = 0;
				Sleep(10);
			}
			g_ReportingCode = Code;
		}

		void fg_LeaveReport()
		{
			g_ReportingThread.store(0);
		}

		// The end of the memory region that holds the calling thread's stack: the committed
		// part of a stack runs from its lowest touched page up to the stack's end.
		umint fg_GetStackEnd(umint StackPosition)
		{
			MEMORY_BASIC_INFORMATION Region{};
			if (!VirtualQuery(reinterpret_cast<const void *>(StackPosition), &Region, sizeof(Region)))
				return StackPosition;
			return umint(Region.BaseAddress) + Region.RegionSize;
		}

		// A new crash file in the program folder, made directly with the system: the file
		// layer would allocate its path from the heap. Invalid when it cannot be made.
		HANDLE fg_CreateCrashFile(CPrepared &Prepared, ECrashFile File)
		{
			CCrashPiece const Name = gf_MakeCrashFileName(File, Prepared.m_Local);
			wchar_t *pName = Prepared.m_pPath + Prepared.m_nFolderChars;
			int32 const Len = Name.f_GetLen();
			if (umint(Len) >= gc_NameChars)
				return INVALID_HANDLE_VALUE;
			for (int32 i = 0; i < Len; ++i)
				pName[i] = Name.f_GetStr()[i] == '/' ? L'\\' : wchar_t(uint8(Name.f_GetStr()[i]));
			pName[Len] = 0;
			return CreateFileW(Prepared.m_pPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
		}

		void fg_WriteDump(CPrepared &Prepared, CStackTrace &Engine, ECrashFile File, DWORD DumpType, const CCrash &Crash)
		{
			// A dump that cannot be written is skipped; the other files still come.
			HANDLE hFile = fg_CreateCrashFile(Prepared, File);
			if (hFile == INVALID_HANDLE_VALUE)
				return;
			Engine.f_WriteDump(hFile, DumpType, Crash.m_pException, Crash.m_ThreadId);
			CloseHandle(hFile);
		}

		void fg_WriteLog(CPrepared &Prepared)
		{
			// Nowhere to write: the box still names the files that were meant.
			HANDLE hFile = fg_CreateCrashFile(Prepared, ECrashFile::CrashLog);
			if (hFile == INVALID_HANDLE_VALUE)
				return;
			const char *pText = Prepared.m_Text.f_GetStr();
			umint Left = Prepared.m_Text.f_GetLen();
			while (Left > 0)
			{
				DWORD const Chunk = Left < 0x40000000 ? DWORD(Left) : 0x40000000;
				DWORD Written = 0;
				if (!WriteFile(hFile, pText, Chunk, &Written, nullptr) || Written == 0)
					break;
				pText += Written;
				Left -= Written;
			}
			CloseHandle(hFile);
		}

		struct CTraceContext
		{
			CStackTrace *m_pEngine;
			CCrashText *m_pText;
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

		// The stack as the raw dump reads it: a block at a time, down to a page where one
		// cannot be read whole, and a line alone where even that fails.
		struct CStackReader
		{
			uint8 *m_pBlock;
			umint m_End;
			umint m_Base = 0;
			umint m_Size = 0;
		};

		bool fg_ReadStack(umint Address, void *pDestination, uint32 Count, void *pContext)
		{
			CStackReader &Reader = *static_cast<CStackReader *>(pContext);
			if (Address < Reader.m_Base || Address - Reader.m_Base + Count > Reader.m_Size)
			{
				umint Size = Reader.m_End - Address < gc_StackBlockBytes ? Reader.m_End - Address : gc_StackBlockBytes;
				Reader.m_Size = 0;
				if (!gf_ReadMemory(Address, Reader.m_pBlock, uint32(Size)))
				{
					umint const ToPageEnd = gc_PageBytes - Address % gc_PageBytes;
					Size = Size < ToPageEnd ? Size : ToPageEnd;
					if (Size < Count || !gf_ReadMemory(Address, Reader.m_pBlock, uint32(Size)))
						return gf_ReadMemory(Address, pDestination, Count);
				}
				Reader.m_Base = Address;
				Reader.m_Size = Size;
			}
			std::memcpy(pDestination, Reader.m_pBlock + (Address - Reader.m_Base), Count);
			return true;
		}

		void fg_MakeLog(CPrepared &Prepared, CStackTrace &Engine, const CCrash &Crash)
		{
			CCrashText &Text = Prepared.m_Text;
			EXCEPTION_RECORD const &Record = *Crash.m_pException->ExceptionRecord;
			CONTEXT const &Context = *Crash.m_pException->ContextRecord;
			umint const Address = umint(Record.ExceptionAddress);

			Text.f_Clear();
			Text.f_Append("Unhandeled excepion\n\n");
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

			CCrashPiece::CFormat Bounds("StackEnd {nfh,sj*,sf0} StackStart {nfh,sj*1,sf0}");
			NSys::gf_DebugOutput(CCrashPiece(Bounds << Crash.m_StackLow << gc_AddressDigits << Crash.m_StackHigh).f_GetStr());
			CStackReader Reader{Prepared.m_StackBlock, Crash.m_StackHigh};
			gf_AppendRawStack(Text, Crash.m_StackLow, Crash.m_StackHigh, &fg_ReadStack, &Reader);
		}

		// The event that tells the Application log where the files are. Fixed buffers only, as
		// everything the report does.
		void fg_WriteEvent(CPrepared &Prepared, const CCrash &Crash, bool bDumps)
		{
			CCrashSettings const &Settings = gf_GetCrashSettings();
			if (!Settings.fp_CrashEventSource || !Settings.fp_CrashEventId)
				return;
			EXCEPTION_RECORD const &Record = *Crash.m_pException->ExceptionRecord;
			umint Parameters[EXCEPTION_MAXIMUM_PARAMETERS] = {};
			DWORD const nParameters = Record.NumberParameters < EXCEPTION_MAXIMUM_PARAMETERS ? Record.NumberParameters : EXCEPTION_MAXIMUM_PARAMETERS;
			for (DWORD i = 0; i < nParameters; ++i)
				Parameters[i] = umint(Record.ExceptionInformation[i]);
			CCrashPiece const Type = gf_GetExceptionTypeText(Record.ExceptionCode, nParameters, Parameters);
			CCrashPath Dumps(bDumps ? Prepared.m_Files.m_MiniDump.f_GetStr() : "none (the debug-help library could not be loaded)");
			if (bDumps)
			{
				Dumps.f_Append(", ", -1);
				Dumps.f_Append(Prepared.m_Files.m_FullDump.f_GetStr(), -1);
			}
			const char *const Inserts[] = {Settings.f_GetProgramName(), Type.f_GetStr(), Prepared.m_Files.m_CrashLog.f_GetStr(), Dumps.f_GetStr(), ""};
			NSys::gf_ReportEvent(Settings.fp_CrashEventSource, NSys::EEventType::Error, Settings.fp_CrashEventId, Inserts, 5);
		}

		// The files of a report: the crash log first (the one the user reads, and quick to
		// write), then the dumps.
		void fg_WriteFiles(CPrepared &Prepared, CCrash &Crash)
		{
			if (!Crash.m_StackHigh)
				Crash.m_StackHigh = fg_GetStackEnd(Crash.m_StackLow);
			Prepared.m_Local = NSys::gf_Time_GetLocalCalendar();
			gf_MakeCrashFileNames(Prepared.m_Files, Prepared.m_pFolder, Prepared.m_Local);

			CStackTrace &Engine = gf_GetStackTrace();
			Engine.f_Initialise();
			fg_MakeLog(Prepared, Engine, Crash);
			fg_WriteLog(Prepared);
			bool const bDumps = Engine.f_CanWriteDumps();
			if (bDumps)
			{
				fg_WriteDump(Prepared, Engine, ECrashFile::MiniDump, g_SmallDumpType.load(), Crash);
				fg_WriteDump(Prepared, Engine, ECrashFile::FullDump, g_FullDumpType.load(), Crash);
			}
			fg_WriteEvent(Prepared, Crash, bDumps);
		}

		// The box that names the files, unless nobody is there to read it. A breakpoint may be
		// continued from.
		void fg_TellUser(CPrepared &Prepared, CCrash &Crash)
		{
			CCrashSettings const &Settings = gf_GetCrashSettings();
			if (Settings.fp_CrashNoDialog)
				return;
			EXCEPTION_RECORD const &Record = *Crash.m_pException->ExceptionRecord;
			bool const bAskContinue = Record.ExceptionCode == gc_Breakpoint && !(Record.ExceptionFlags & EXCEPTION_NONCONTINUABLE);
			Prepared.m_Text.f_Clear();
			gf_AppendCrashBoxText(Prepared.m_Text, Settings, Prepared.m_Files, bAskContinue);
			int const Answer = MessageBoxA(nullptr, Prepared.m_Text.f_GetStr(), "Exception", MB_ICONERROR | (bAskContinue ? MB_YESNO : MB_OK));
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

		// Writes the report of Crash on the calling thread: the files, then (hWritten signalled
		// in between, when given) the box.
		void fg_Report(CCrash &Crash, HANDLE hWritten)
		{
			CPrepared *pPrepared = g_pPrepared.load(std::memory_order_acquire);
			if (pPrepared)
				fg_WriteFiles(*pPrepared, Crash);
			if (hWritten)
				SetEvent(hWritten);
			if (pPrepared)
				fg_TellUser(*pPrepared, Crash);
		}

		// The thread that writes every report. A crashed thread waits for it, for a limited
		// time only: whatever keeps the report from going on (a lock the crashed thread holds, a
		// dump that does not end) does not keep the process alive. It also has the stack that an
		// overflowed thread lacks: waiting takes a few hundred bytes.
		class CStandbyReporter
		{
		public:
			void f_Start()
			{
				m_hRequest = CreateEventW(nullptr, FALSE, FALSE, nullptr);
				m_hWritten = CreateEventW(nullptr, FALSE, FALSE, nullptr);
				m_hDone = CreateEventW(nullptr, FALSE, FALSE, nullptr);
				HANDLE hThread = m_hRequest && m_hWritten && m_hDone
									 ? CreateThread(nullptr, gc_ReportStackBytes, &fs_Run, this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr)
									 : nullptr;
				if (hThread)
					CloseHandle(hThread);
				m_bReady = hThread != nullptr;
			}

			bool f_IsReady() const
			{
				return m_bReady;
			}

			// False when there is no standby thread; the caller then reports itself. Ends the
			// process when the files are not written within the limit.
			bool f_Report(CCrash &Crash)
			{
				if (!m_bReady)
					return false;
				// One report at a time; the one before ends the process, or goes on after a breakpoint.
				while (m_bBusy.exchange(true))
					Sleep(10);
				m_pCrash = &Crash;
				if (SignalObjectAndWait(m_hRequest, m_hWritten, g_ReportLimitMs.load(), FALSE) != WAIT_OBJECT_0)
					TerminateProcess(GetCurrentProcess(), Crash.m_pException->ExceptionRecord->ExceptionCode);
				// The box waits for its reader, not for a lock.
				WaitForSingleObject(m_hDone, INFINITE);
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
					CCrash &Crash = *Reporter.m_pCrash;
					fg_EnterReport(Crash.m_pException->ExceptionRecord->ExceptionCode);
					fg_Report(Crash, Reporter.m_hWritten);
					fg_LeaveReport();
					SetEvent(Reporter.m_hDone);
				}
			}

			HANDLE m_hRequest = nullptr;
			HANDLE m_hWritten = nullptr;
			HANDLE m_hDone = nullptr;
			CCrash *m_pCrash = nullptr;
			std::atomic<bool> m_bBusy{false};
			bool m_bReady = false;
		};

		constinit CStandbyReporter g_StandbyReporter;
		constinit std::atomic<bool> g_bStandbyStarted{false};

		// Reports the calling thread's crash. Returns EXCEPTION_CONTINUE_EXECUTION when the user
		// continues from a breakpoint; otherwise the process has ended.
		LONG fg_HandleCrash(EXCEPTION_POINTERS *pException)
		{
			DWORD const Code = pException->ExceptionRecord->ExceptionCode;
			if (g_ReportingThread.load() == GetCurrentThreadId())
				TerminateProcess(GetCurrentProcess(), g_ReportingCode.load()); // the report itself failed: nothing more to say
			CCrash Crash{pException, GetCurrentThreadId(), umint(__builtin_frame_address(0)) & ~umint(15), 0};
			if (!g_StandbyReporter.f_Report(Crash))
			{
				fg_EnterReport(Code);
				fg_Report(Crash, nullptr);
				fg_LeaveReport();
			}
			if (Crash.m_Result == EXCEPTION_CONTINUE_EXECUTION)
				return EXCEPTION_CONTINUE_EXECUTION;
			// The exception code is the exit code, so that whoever started the process can tell.
			TerminateProcess(GetCurrentProcess(), Code);
			return EXCEPTION_EXECUTE_HANDLER;
		}

		// A stack overflow is reported when it is first raised: the search for a handler
		// takes more stack than an overflowed thread has (under Wine it ends the process before
		// any filter is reached), and no code of this program handles an overflow.
		LONG WINAPI fg_OnStackOverflow(EXCEPTION_POINTERS *pException)
		{
			if (pException->ExceptionRecord->ExceptionCode != gc_StackOverflow || !g_StandbyReporter.f_IsReady())
				return EXCEPTION_CONTINUE_SEARCH;
			return fg_HandleCrash(pException);
		}
	}

	LONG WINAPI gf_CrashFilter(EXCEPTION_POINTERS *pException)
	{
		return fg_HandleCrash(pException);
	}

	void gf_InstallCrashFilter()
	{
		if (!g_bStandbyStarted.exchange(true))
		{
			fg_Prepare();
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

	void gf_SetReportLimit(DWORD Milliseconds)
	{
		g_ReportLimitMs = Milliseconds;
	}
}
