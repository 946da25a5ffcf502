// Waits, semaphores, manual-reset events and yielding over kernel32.
#include "zel/library/core/runtime/Zel_Sys_Thread.h"

#include <windows.h>

#include <atomic>

namespace NZel::NSys
{
	namespace
	{
		thread_local uint32 t_SemaphoresCreated = 0;
	}

	void gf_Thread_Yield()
	{
		Sleep(1);
	}

	void gf_Wait(CHandle hObject)
	{
		WaitForSingleObject(hObject, INFINITE);
	}

	void gf_WaitUnlessInvalid(CHandle hObject)
	{
		if (hObject != gf_GetInvalidHandle())
			WaitForSingleObject(hObject, INFINITE);
	}

	bool gf_WaitTimeout(CHandle hObject, uint32 Milliseconds)
	{
		return WaitForSingleObject(hObject, Milliseconds) == WAIT_OBJECT_0;
	}

	void gf_Close(CHandle hObject)
	{
		CloseHandle(hObject);
	}

	void gf_CloseUnlessInvalid(CHandle hObject)
	{
		if (hObject != gf_GetInvalidHandle())
			CloseHandle(hObject);
	}

	CHandle gf_Semaphore_Create(int32 InitialCount, int32 MaximumCount)
	{
		CHandle hSemaphore = CreateSemaphoreW(nullptr, InitialCount, MaximumCount, nullptr);
		if (hSemaphore)
			++t_SemaphoresCreated;
		return hSemaphore;
	}

	bool gf_Semaphore_Release(CHandle hSemaphore, int32 Count)
	{
		return ReleaseSemaphore(hSemaphore, Count, nullptr) != FALSE;
	}

	uint32 gf_Semaphore_GetCreatedCountOnThisThread()
	{
		return t_SemaphoresCreated;
	}

	CHandle gf_Event_CreateManualReset(bool bInitialState)
	{
		return CreateEventA(nullptr, TRUE, bInitialState ? TRUE : FALSE, nullptr);
	}

	void gf_Event_Set(CHandle hEvent)
	{
		SetEvent(hEvent);
	}

	void gf_Event_Reset(CHandle hEvent)
	{
		ResetEvent(hEvent);
	}
}
