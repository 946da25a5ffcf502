// Threads and thread-local storage over kernel32.
#include "zel/library/core/runtime/Zel_Sys_Thread.h"

#include "zel/library/core/general/Zel_Exception.h"

#include <windows.h>

#include <cstring>

namespace NZel::NSys
{
	namespace
	{
		constexpr DWORD c_DebuggerNameException = 0x406D1388;

		// What the new thread needs before it can run its body; owned by the thread entry.
		struct CThreadStartRecord
		{
			FThreadRun m_fRun;
			void *m_pObject;
			char *m_pName;
		};

		char *gf_CopyName(char const *pName)
		{
			if (!pName)
				return nullptr;
			size_t const Length = std::strlen(pName);
			char *pCopy = new char[Length + 1];
			std::memcpy(pCopy, pName, Length + 1);
			return pCopy;
		}

		DWORD WINAPI gf_ThreadEntry(LPVOID pParameter)
		{
			auto *pRecord = static_cast<CThreadStartRecord *>(pParameter);
			FThreadRun const fRun = pRecord->m_fRun;
			void *const pObject = pRecord->m_pObject;
			gf_Thread_SetDebugName(GetCurrentThreadId(), pRecord->m_pName ? pRecord->m_pName : "");
			delete[] pRecord->m_pName;
			delete pRecord;
			return DWORD(fRun(pObject));
		}

		// The naming notification is meant for an attached debugger, which sees it first;
		// without one nobody would handle it and the process would end. This handler swallows
		// it after the debugger had its chance, and leaves every other exception alone.
		LONG CALLBACK gf_DebuggerNameHandler(PEXCEPTION_POINTERS pPointers)
		{
			if (pPointers->ExceptionRecord->ExceptionCode == c_DebuggerNameException)
				return EXCEPTION_CONTINUE_EXECUTION;
			return EXCEPTION_CONTINUE_SEARCH;
		}

		// Keeps the thread's error across cleanup that may overwrite it, for the message.
		template <typename t_FCleanup>
		void gf_CleanupKeepingLastError(t_FCleanup &&fCleanup)
		{
			DWORD const Error = GetLastError();
			fCleanup();
			SetLastError(Error);
		}
	}

	CHandle gf_Thread_Create(FThreadRun fRun, void *pObject, uint32 Priority, uint32 StackSize, bool bSuspended, const char *pName)
	{
		auto *pRecord = new CThreadStartRecord{fRun, pObject, gf_CopyName(pName)};
		HANDLE hThread = CreateThread(nullptr, StackSize, gf_ThreadEntry, pRecord, bSuspended ? CREATE_SUSPENDED : 0, nullptr);
		if (!hThread)
		{
			gf_CleanupKeepingLastError([&] {
				delete[] pRecord->m_pName;
				delete pRecord;
			});
			DZelThrowSystemError(NException::CExceptionSystemImplementation, "CreateThread");
		}
		CUniqueHandle Thread(hThread);
		gf_Thread_SetPriority(Thread.f_Get(), Priority);
		return Thread.f_Release();
	}

	void gf_Thread_SetPriority(CHandle hThread, uint32 Priority)
	{
		if (!SetThreadPriority(hThread, gf_Thread_MapPriority(Priority)))
			DZelThrowSystemError(NException::CExceptionSystemImplementation, "SetThreadPriority");
	}

	CHandle gf_Thread_BeginDestroy(CHandle hThread)
	{
		HANDLE hProcess = GetCurrentProcess();
		HANDLE hWait = nullptr;
		if (!DuplicateHandle(hProcess, hThread, hProcess, &hWait, SYNCHRONIZE, FALSE, 0))
			DZelThrowSystemError(NException::CExceptionSystemImplementation, "DuplicateHandle");
		return hWait;
	}

	void gf_Thread_SetDebugName(uint32 ThreadId, const char *pName)
	{
		static PVOID const hHandler = AddVectoredExceptionHandler(0, gf_DebuggerNameHandler);
		(void)hHandler;

#pragma pack(push, 8)
		struct
		{
			DWORD m_Type;
			LPCSTR m_pName;
			DWORD m_ThreadId;
			DWORD m_Flags;
		} Info = {0x1000, pName, DWORD(ThreadId), 0};
#pragma pack(pop)
		RaiseException(c_DebuggerNameException, 0, sizeof(Info) / sizeof(ULONG_PTR), reinterpret_cast<ULONG_PTR const *>(&Info));
	}

	uint32 gf_Thread_AllocStorage()
	{
		DWORD const Index = TlsAlloc();
		if (Index == TLS_OUT_OF_INDEXES)
			DZelThrow(NException::CExceptionSystemImplementation, "Thread_AllocStorage: Out of indices");
		return Index;
	}

	void gf_Thread_FreeStorage(uint32 Index)
	{
		TlsFree(Index);
	}

	void gf_Thread_SetStorage(uint32 Index, void *pValue)
	{
		if (!TlsSetValue(Index, pValue))
			DZelThrow(NException::CExceptionSystemImplementation, "Thread_FreeStorage: Failed to set Thread Storage Value");
	}

	void *gf_Thread_GetStorage(uint32 Index)
	{
		return TlsGetValue(Index);
	}
}
