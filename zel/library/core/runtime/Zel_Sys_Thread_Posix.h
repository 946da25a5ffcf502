#pragma once
// Kernel-object model behind the POSIX platform layer (host checks only). A CHandle points at
// a reference-counted CPosixObject; every handle to an object holds one reference, and so
// does a running thread for its own object.
#include "zel/library/core/runtime/Zel_Sys_Thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace NZel::NSys::NPosix
{
	class CPosixObject
	{
	public:
		virtual ~CPosixObject() = default;

		void f_AddRef()
		{
			fp_RefCount.fetch_add(1, std::memory_order_relaxed);
		}

		void f_Release()
		{
			if (fp_RefCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
				delete this;
		}

		// Waits until the object is signalled and consumes the signal where the object's
		// kind does (a semaphore's count); false on time-out. A null Timeout waits forever.
		bool f_Wait(std::chrono::milliseconds const *pTimeout)
		{
			std::unique_lock<std::mutex> Lock(fp_Mutex);
			auto fReady = [this] { return fp_IsSignalled(); };
			if (pTimeout)
			{
				if (!fp_Condition.wait_for(Lock, *pTimeout, fReady))
					return false;
			}
			else
				fp_Condition.wait(Lock, fReady);
			fp_Consume();
			return true;
		}

	protected:
		// Both run with fp_Mutex held.
		virtual bool fp_IsSignalled() const = 0;
		virtual void fp_Consume()
		{
		}

		std::mutex fp_Mutex;
		std::condition_variable fp_Condition;

	private:
		std::atomic<int32> fp_RefCount{1};
	};

	inline CPosixObject *gf_FromHandle(CHandle hObject)
	{
		return static_cast<CPosixObject *>(hObject);
	}
}
