// Threads and thread-local storage for the host build, over pthreads. A thread handle is a
// reference-counted object that becomes signalled when the thread's body has returned.
#include "zel/library/core/runtime/Zel_Sys_Thread_Posix.h"

#include "zel/library/core/general/Zel_Exception.h"

#include <pthread.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace NZel::NSys
{
	namespace
	{
		using NPosix::CPosixObject;

		class CThread final : public CPosixObject
		{
		public:
			CThread(FThreadRun fRun, void *pObject, char const *pName)
				: fp_fRun(fRun)
				, fp_pObject(pObject)
				, fp_Name(pName ? pName : "")
			{
			}

			// Runs on the new thread, which holds its own reference to this object.
			void f_Run()
			{
				gf_Thread_SetDebugName(gf_Thread_GetCurrentId(), fp_Name.c_str());
				fp_fRun(fp_pObject);
				{
					std::lock_guard<std::mutex> Lock(fp_Mutex);
					fp_bExited = true;
				}
				fp_Condition.notify_all();
				f_Release();
			}

		private:
			bool fp_IsSignalled() const override
			{
				return fp_bExited;
			}

			FThreadRun const fp_fRun;
			void *const fp_pObject;
			std::string const fp_Name;
			bool fp_bExited = false;
		};

		void *gf_PosixThreadEntry(void *pParameter)
		{
			static_cast<CThread *>(pParameter)->f_Run();
			return nullptr;
		}
	}

	CHandle gf_Thread_Create(FThreadRun fRun, void *pObject, uint32 Priority, uint32 StackSize, bool bSuspended, const char *pName)
	{
		// The host build only checks portable code: a suspended start is not needed there.
		(void)bSuspended;
		auto *pThread = new CThread(fRun, pObject, pName);
		pThread->f_AddRef(); // the running thread's own reference

		pthread_attr_t Attributes;
		pthread_attr_init(&Attributes);
		pthread_attr_setdetachstate(&Attributes, PTHREAD_CREATE_DETACHED);
		if (StackSize)
			pthread_attr_setstacksize(&Attributes, StackSize < PTHREAD_STACK_MIN ? PTHREAD_STACK_MIN : StackSize);
		pthread_t Thread;
		int const Error = pthread_create(&Thread, &Attributes, gf_PosixThreadEntry, pThread);
		pthread_attr_destroy(&Attributes);
		if (Error)
		{
			pThread->f_Release();
			pThread->f_Release();
			errno = Error;
			DZelThrowSystemError(NException::CExceptionSystemImplementation, "CreateThread");
		}
		CHandle hThread = static_cast<CPosixObject *>(pThread);
		gf_Thread_SetPriority(hThread, Priority);
		return hThread;
	}

	void gf_Thread_SetPriority(CHandle hThread, uint32 Priority)
	{
		// Unprivileged processes cannot raise thread priorities here; the mapping is all that
		// the host build has to check.
		(void)gf_Thread_MapPriority(Priority);
		if (!hThread)
		{
			errno = EINVAL;
			DZelThrowSystemError(NException::CExceptionSystemImplementation, "SetThreadPriority");
		}
	}

	CHandle gf_Thread_BeginDestroy(CHandle hThread)
	{
		if (!hThread)
		{
			errno = EINVAL;
			DZelThrowSystemError(NException::CExceptionSystemImplementation, "DuplicateHandle");
		}
		NPosix::gf_FromHandle(hThread)->f_AddRef();
		return hThread;
	}

	void gf_Thread_SetDebugName(uint32 ThreadId, const char *pName)
	{
		// Linux names only the calling thread here, in at most 15 characters.
		if (ThreadId != gf_Thread_GetCurrentId() || !pName)
			return;
		char Name[16] = {};
		std::strncpy(Name, pName, sizeof(Name) - 1);
		pthread_setname_np(pthread_self(), Name);
	}

	uint32 gf_Thread_AllocStorage()
	{
		pthread_key_t Key;
		if (pthread_key_create(&Key, nullptr) != 0)
			DZelThrow(NException::CExceptionSystemImplementation, "Thread_AllocStorage: Out of indices");
		return uint32(Key);
	}

	void gf_Thread_FreeStorage(uint32 Index)
	{
		pthread_key_delete(pthread_key_t(Index));
	}

	void gf_Thread_SetStorage(uint32 Index, void *pValue)
	{
		if (pthread_setspecific(pthread_key_t(Index), pValue) != 0)
			DZelThrow(NException::CExceptionSystemImplementation, "Thread_FreeStorage: Failed to set Thread Storage Value");
	}

	void *gf_Thread_GetStorage(uint32 Index)
	{
		return pthread_getspecific(pthread_key_t(Index));
	}
}
