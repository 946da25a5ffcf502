#pragma once
// CStackTrace: the crash reporter's symbol engine. It names code addresses (function, module,
// source file and line) and writes dumps, through the debug-help library "Dbghelp.dll", which
// it loads the first time it is needed (a program that never crashes never loads it), from
// the system folder only.
//
// One lock serialises everything, so threads that crash at the same time take turns. Loading
// is tried once: after a failure (no library, missing functions, SymInitialize refused) the
// engine stays failed and resolves nothing. Resolved addresses are cached, and every record,
// name copy and the symbol buffer come from the engine's own heap, never the process heap a
// crash may have damaged or the crashed thread may hold. Nothing the engine does on the way
// takes a lock of the program other than its own.
//
// Windows only: include from Windows sources.
#include "zel/library/core/general/Zel_CrashLog.h"
#include "zel/library/core/general/Zel_Lock.h"

#include <windows.h>

#include <dbghelp.h>

#include <map>

namespace NZel::NCrash
{
	// The engine's private heap. Every allocation of the engine goes through this one pair.
	class CStackTraceHeap
	{
	public:
		static void *fs_Alloc(umint Size);
		static void fs_Free(void *p);
	};

	// A standard allocator over CStackTraceHeap, for the engine's cache.
	template <typename t_CValue>
	class TCStackTraceAllocator
	{
	public:
		using value_type = t_CValue;
		TCStackTraceAllocator() = default;
		template <typename t_COther>
		TCStackTraceAllocator(const TCStackTraceAllocator<t_COther> &) noexcept
		{
		}
		t_CValue *allocate(std::size_t n)
		{
			void *p = CStackTraceHeap::fs_Alloc(n * sizeof(t_CValue));
			if (!p)
				throw std::bad_alloc();
			return static_cast<t_CValue *>(p);
		}
		void deallocate(t_CValue *p, std::size_t) noexcept
		{
			CStackTraceHeap::fs_Free(p);
		}
		template <typename t_COther>
		bool operator==(const TCStackTraceAllocator<t_COther> &) const noexcept
		{
			return true;
		}
	};

	// One resolved address, shared by the cache and its users through a reference count.
	class CStackTraceSymbol
	{
	public:
		// The texts the engine copied (null: the debug information had none).
		char *m_pName = nullptr;
		char *m_pModule = nullptr;
		char *m_pFile = nullptr;
		uint32 m_Line = 0;
		int32 m_RefCount = 1;

		CSymbolInfo f_GetInfo() const
		{
			CSymbolInfo Info;
			Info.m_pName = m_pName ? m_pName : "";
			Info.m_pModule = m_pModule ? m_pModule : "";
			Info.m_pFile = m_pFile ? m_pFile : "";
			Info.m_Line = m_Line;
			return Info;
		}
	};

	class CStackTrace
	{
	public:
		CStackTrace() = default;
		~CStackTrace();
		CStackTrace(const CStackTrace &) = delete;
		CStackTrace &operator=(const CStackTrace &) = delete;

		// The program folder, where the program's debug information lies: symbols are looked
		// for there first. Set before the first f_Initialise (the text must stay); without it
		// only the symbol store is searched.
		void f_SetProgramFolder(const char *pFolder);

		// Loads the debug-help library and initialises symbols on first call; true when
		// addresses can be named.
		bool f_Initialise();
		// The record of Address with one more reference (give it back with f_Release), or null
		// when it cannot be named.
		CStackTraceSymbol *f_Resolve(umint Address);
		void f_Release(CStackTraceSymbol *pSymbol);

		// Whether dumps can be written: the library has all its functions (after f_Initialise;
		// a failed SymInitialize does not prevent dumps).
		bool f_CanWriteDumps();
		// Writes a dump of the process into hFile (dump type as MiniDumpWriteDump takes it) for
		// the exception of thread ThreadId. False when no dump can be written or it failed.
		bool f_WriteDump(HANDLE hFile, uint32 DumpType, EXCEPTION_POINTERS *pException, uint32 ThreadId);

	private:
		using FSymInitialize = BOOL(WINAPI *)(HANDLE, PCSTR, BOOL);
		using FSymCleanup = BOOL(WINAPI *)(HANDLE);
		using FSymGetSymFromAddr64 = BOOL(WINAPI *)(HANDLE, DWORD64, PDWORD64, PIMAGEHLP_SYMBOL64);
		using FSymGetLineFromAddr64 = BOOL(WINAPI *)(HANDLE, DWORD64, PDWORD, PIMAGEHLP_LINE64);
		using FSymGetModuleInfo64 = BOOL(WINAPI *)(HANDLE, DWORD64, PIMAGEHLP_MODULE64);
		using FMiniDumpWriteDump = BOOL(WINAPI *)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
			PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);

		bool fp_LoadLibrary();
		bool fp_FindFunctions();
		CStackTraceSymbol *fp_MakeSymbol(umint Address);
		// A copy of pText with pSuffix after it, in the engine's heap; null without memory.
		static char *fs_CopyText(const char *pText, const char *pSuffix = "");

		NThread::CLock fp_Lock;
		HMODULE fp_hDbgHelp = nullptr;
		FSymInitialize fp_SymInitialize = nullptr;
		FSymCleanup fp_SymCleanup = nullptr;
		FSymGetSymFromAddr64 fp_SymGetSymFromAddr64 = nullptr;
		FSymGetLineFromAddr64 fp_SymGetLineFromAddr64 = nullptr;
		FSymGetModuleInfo64 fp_SymGetModuleInfo64 = nullptr;
		FMiniDumpWriteDump fp_MiniDumpWriteDump = nullptr;
		HANDLE fp_hProcess = nullptr;
		const char *fp_pProgramFolder = nullptr;
		bool fp_bInitialised = false;
		bool fp_bFailed = false;
		IMAGEHLP_SYMBOL64 *fp_pSymbolBuffer = nullptr;
		std::map<umint, CStackTraceSymbol *, std::less<umint>, TCStackTraceAllocator<std::pair<const umint, CStackTraceSymbol *>>> fp_Cache;
	};

	// The process's symbol engine (part of the system object).
	CStackTrace &gf_GetStackTrace();
}
