#include "zel/library/core/runtime/Zel_Runtime_StackTrace.h"

#include "zel/library/core/general/Zel_CrashLog.h"
#include "zel/library/core/general/Zel_Heap.h"
#include "zel/library/core/runtime/Zel_Sys_Debug.h"
#include "zel/library/core/runtime/Zel_Sys_Library.h"

#include <atomic>
#include <cstring>
#include <new>

namespace NZel::NCrash
{
	namespace
	{
		constexpr DWORD gc_SymbolBufferBytes = 4144; // a symbol record with room for a 4096-character name
		constexpr DWORD gc_SymbolRecordSize = 32;
		constexpr DWORD gc_MaxNameLength = 4096;
		constexpr char gc_CrtSourcePrefix[] = "f:\\rtm\\vctools\\crt_bld\\self_x86\\crt\\src\\";
		constexpr char gc_CrtSourceLocal[] = "X:\\Apps\\Dev\\VS.2005\\VC\\Crt\\src\\";
		constexpr char gc_SymbolServer[] = "symsrv*symsrv.dll*X:\\Dev\\Symbols";

		// A heap of its own, apart from the process heap (which may be what crashed), over
		// reserved memory committed only as it is carved. Made at first need, never destroyed:
		// symbols are resolved until the process ends. Made without a guarded static, whose
		// lock a crashed thread might hold.
		alignas(NMemory::CPrivateHeap) unsigned char g_PrivateHeapStorage[sizeof(NMemory::CPrivateHeap)];
		std::atomic<int32> g_PrivateHeapState{0}; // 0: not made, 1: being made, 2: made

		NMemory::CPrivateHeap &fg_GetPrivateHeap()
		{
			if (g_PrivateHeapState.load(std::memory_order_acquire) != 2)
			{
				int32 Expected = 0;
				if (g_PrivateHeapState.compare_exchange_strong(Expected, 1, std::memory_order_acq_rel))
				{
					new (g_PrivateHeapStorage) NMemory::CPrivateHeap;
					g_PrivateHeapState.store(2, std::memory_order_release);
				}
				else
				{
					while (g_PrivateHeapState.load(std::memory_order_acquire) != 2)
						SwitchToThread();
				}
			}
			return *std::launder(reinterpret_cast<NMemory::CPrivateHeap *>(g_PrivateHeapStorage));
		}

		void fg_ReportMissingFunctions()
		{
			char Dashes[119];
			std::memset(Dashes, '-', 117);
			Dashes[117] = '\n';
			Dashes[118] = 0;
			NSys::gf_DebugOutput(Dashes);
			for (int32 i = 0; i < 25; ++i)
				NSys::gf_DebugOutput("StackTrace: DbgHelp.dll does not contain the needed functions\n");
			NSys::gf_DebugOutput(Dashes);
		}

		template <typename t_FFunction>
		bool fg_Find(HMODULE hModule, const char *pName, t_FFunction &fFunction)
		{
			fFunction = reinterpret_cast<t_FFunction>(reinterpret_cast<void (*)()>(GetProcAddress(hModule, pName)));
			return fFunction != nullptr;
		}
	}

	void *CStackTraceHeap::fs_Alloc(umint Size)
	{
		// A crash report must not throw: no memory means no symbol, and the trace goes on.
		try
		{
			return fg_GetPrivateHeap().f_Alloc(Size ? Size : 1);
		}
		catch (...)
		{
			return nullptr;
		}
	}

	void CStackTraceHeap::fs_Free(void *p)
	{
		if (p)
			fg_GetPrivateHeap().f_Free(p);
	}

	CStackTrace::~CStackTrace()
	{
		NThread::CLockGuard Guard(fp_Lock);
		for (auto &Entry : fp_Cache)
			f_Release(Entry.second);
		fp_Cache.clear();
		if (fp_bInitialised)
			fp_SymCleanup(fp_hProcess);
		if (fp_hProcess)
			CloseHandle(fp_hProcess);
		CStackTraceHeap::fs_Free(fp_pSymbolBuffer);
		if (fp_hDbgHelp)
			FreeLibrary(fp_hDbgHelp);
	}

	bool CStackTrace::fp_LoadLibrary()
	{
		if (!fp_hDbgHelp)
			fp_hDbgHelp = NSys::gf_LoadSystemLibrary(L"Dbghelp.dll");
		if (fp_hDbgHelp)
			return true;
		NSys::gf_DebugOutput("StackTrace: Failed to load DbgHelp.dll\n");
		return false;
	}

	bool CStackTrace::fp_FindFunctions()
	{
		bool bAll = fg_Find(fp_hDbgHelp, "SymInitialize", fp_SymInitialize);
		bAll = fg_Find(fp_hDbgHelp, "SymCleanup", fp_SymCleanup) && bAll;
		bAll = fg_Find(fp_hDbgHelp, "SymGetSymFromAddr64", fp_SymGetSymFromAddr64) && bAll;
		bAll = fg_Find(fp_hDbgHelp, "SymGetLineFromAddr64", fp_SymGetLineFromAddr64) && bAll;
		bAll = fg_Find(fp_hDbgHelp, "SymGetModuleInfo64", fp_SymGetModuleInfo64) && bAll;
		bAll = fg_Find(fp_hDbgHelp, "MiniDumpWriteDump", fp_MiniDumpWriteDump) && bAll;
		if (bAll)
			return true;
		fp_MiniDumpWriteDump = nullptr;
		FreeLibrary(fp_hDbgHelp);
		fp_hDbgHelp = nullptr;
		fg_ReportMissingFunctions();
		return false;
	}

	bool CStackTrace::f_Initialise()
	{
		NThread::CLockGuard Guard(fp_Lock);
		if (fp_bInitialised)
			return true;
		if (fp_bFailed)
			return false;
		if (!fp_LoadLibrary() || !fp_FindFunctions())
		{
			fp_bFailed = true;
			return false;
		}

		// Our own folder first (the executable's debug information lies beside it), then the
		// symbol store of the developers' machines.
		NStr::TCStrImp_Fixed<gc_CrashPathBytes + sizeof(gc_SymbolServer)> SearchPath;
		if (fp_pProgramFolder)
		{
			SearchPath.f_Append(fp_pProgramFolder);
			SearchPath.f_Append(";");
		}
		SearchPath.f_Append(gc_SymbolServer);

		// The handle stays open: the dumps are written through it.
		if (!fp_hProcess)
			fp_hProcess = OpenProcess(0x1F0FFF, FALSE, GetCurrentProcessId());
		if (!fp_hProcess || !fp_SymInitialize(fp_hProcess, SearchPath.f_GetStr(), TRUE))
		{
			fp_bFailed = true;
			NSys::gf_DebugOutput("StackTrace: SymInitialize failed\n");
			return false;
		}

		if (!fp_pSymbolBuffer)
			fp_pSymbolBuffer = static_cast<IMAGEHLP_SYMBOL64 *>(CStackTraceHeap::fs_Alloc(gc_SymbolBufferBytes));
		if (!fp_pSymbolBuffer)
		{
			fp_bFailed = true;
			return false;
		}
		fp_bInitialised = true;
		return true;
	}

	void CStackTrace::f_SetProgramFolder(const char *pFolder)
	{
		NThread::CLockGuard Guard(fp_Lock);
		fp_pProgramFolder = pFolder;
	}

	char *CStackTrace::fs_CopyText(const char *pText, const char *pSuffix)
	{
		umint const Len = std::strlen(pText);
		umint const SuffixLen = std::strlen(pSuffix);
		char *pCopy = static_cast<char *>(CStackTraceHeap::fs_Alloc(Len + SuffixLen + 1));
		if (pCopy)
		{
			std::memcpy(pCopy, pText, Len);
			std::memcpy(pCopy + Len, pSuffix, SuffixLen + 1);
		}
		return pCopy;
	}

	CStackTraceSymbol *CStackTrace::fp_MakeSymbol(umint Address)
	{
		std::memset(fp_pSymbolBuffer, 0, gc_SymbolBufferBytes);
		fp_pSymbolBuffer->SizeOfStruct = gc_SymbolRecordSize;
		fp_pSymbolBuffer->MaxNameLength = gc_MaxNameLength;
		DWORD64 Displacement = 0;
		if (!fp_SymGetSymFromAddr64(fp_hProcess, Address, &Displacement, fp_pSymbolBuffer))
			return nullptr;

		void *pMemory = CStackTraceHeap::fs_Alloc(sizeof(CStackTraceSymbol));
		if (!pMemory)
			return nullptr;
		CStackTraceSymbol *pSymbol = new (pMemory) CStackTraceSymbol;

		pSymbol->m_pName = fs_CopyText(fp_pSymbolBuffer->Name);

		IMAGEHLP_LINE64 Line{};
		Line.SizeOfStruct = sizeof(Line);
		DWORD LineDisplacement = 0;
		if (fp_SymGetLineFromAddr64(fp_hProcess, Address, &LineDisplacement, &Line) && Line.FileName)
		{
			constexpr umint PrefixLen = sizeof(gc_CrtSourcePrefix) - 1;
			if (std::strncmp(Line.FileName, gc_CrtSourcePrefix, PrefixLen) == 0)
				pSymbol->m_pFile = fs_CopyText(gc_CrtSourceLocal, Line.FileName + PrefixLen);
			else
				pSymbol->m_pFile = fs_CopyText(Line.FileName);
			pSymbol->m_Line = Line.LineNumber;
		}

		IMAGEHLP_MODULE64 Module{};
		Module.SizeOfStruct = sizeof(Module);
		if (fp_SymGetModuleInfo64(fp_hProcess, Address, &Module))
			pSymbol->m_pModule = fs_CopyText(Module.ModuleName);
		return pSymbol;
	}

	CStackTraceSymbol *CStackTrace::f_Resolve(umint Address)
	{
		if (!f_Initialise())
			return nullptr;
		NThread::CLockGuard Guard(fp_Lock);
		auto Found = fp_Cache.find(Address);
		if (Found != fp_Cache.end())
		{
			++Found->second->m_RefCount;
			return Found->second;
		}
		CStackTraceSymbol *pSymbol = fp_MakeSymbol(Address);
		if (!pSymbol)
			return nullptr;
		try
		{
			fp_Cache.emplace(Address, pSymbol);
			++pSymbol->m_RefCount; // the cache's reference
		}
		catch (const std::bad_alloc &)
		{
			// Not cached: the caller's reference is the only one.
		}
		return pSymbol;
	}

	void CStackTrace::f_Release(CStackTraceSymbol *pSymbol)
	{
		if (!pSymbol)
			return;
		NThread::CLockGuard Guard(fp_Lock);
		if (--pSymbol->m_RefCount > 0)
			return;
		CStackTraceHeap::fs_Free(pSymbol->m_pName);
		CStackTraceHeap::fs_Free(pSymbol->m_pModule);
		CStackTraceHeap::fs_Free(pSymbol->m_pFile);
		pSymbol->~CStackTraceSymbol();
		CStackTraceHeap::fs_Free(pSymbol);
	}

	bool CStackTrace::f_CanWriteDumps()
	{
		NThread::CLockGuard Guard(fp_Lock);
		return fp_MiniDumpWriteDump && fp_hProcess;
	}

	bool CStackTrace::f_WriteDump(HANDLE hFile, uint32 DumpType, EXCEPTION_POINTERS *pException, uint32 ThreadId)
	{
		NThread::CLockGuard Guard(fp_Lock);
		if (!fp_MiniDumpWriteDump || !fp_hProcess)
			return false;
		MINIDUMP_EXCEPTION_INFORMATION Info{};
		Info.ThreadId = ThreadId;
		Info.ExceptionPointers = pException;
		Info.ClientPointers = FALSE; // the pointers are this process's own
		return fp_MiniDumpWriteDump(fp_hProcess, GetCurrentProcessId(), hFile, MINIDUMP_TYPE(DumpType), &Info, nullptr, nullptr) != FALSE;
	}
}
