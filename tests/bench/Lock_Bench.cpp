// Uncontended lock + unlock: CLock against the system's own locks in the same binary
// (CRITICAL_SECTION and SRWLOCK on Windows, std::mutex everywhere). The candidates take turns
// over several rounds so that a busy machine or a slow first round does not favour one of
// them; the ratios use each candidate's best round. A second thread stays alive throughout, as
// in the program: some C libraries leave the bus lock out of their mutexes while a process has
// only one thread, which would compare a different instruction.
#include "zel/library/core/general/Zel_Lock.h"

#include "tests/bench/BenchHarness.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

namespace
{
	constexpr unsigned gc_BatchSize = 100000;

	struct CBest
	{
		NBench::CResult m_Result{1e300, 1e300};

		template <typename t_FBody>
		void f_Measure(char const *pName, t_FBody &&fBody)
		{
			NBench::CResult const Round = NBench::gf_Measure(pName, fBody, gc_BatchSize);
			m_Result.m_MedianNs = std::min(m_Result.m_MedianNs, Round.m_MedianNs);
			m_Result.m_BestNs = std::min(m_Result.m_BestNs, Round.m_BestNs);
		}
	};
}

int main()
{
	std::atomic<bool> bDone{false};
	std::thread Companion([&] {
		while (!bDone)
			std::this_thread::sleep_for(std::chrono::milliseconds(10));
	});

	NZel::NThread::CLock Lock;
	std::mutex Mutex;
	CBest Ours, Recursive, Guard, StdMutex;
#ifdef _WIN32
	CRITICAL_SECTION Section;
	InitializeCriticalSection(&Section);
	SRWLOCK SrwLock = SRWLOCK_INIT;
	CBest CriticalSection, Srw;
#endif

	for (int Round = 1; Round <= 3; ++Round)
	{
		std::printf("round %d\n", Round);
		Ours.f_Measure("CLock lock+unlock", [&] {
			Lock.f_Lock();
			Lock.f_Unlock();
		});
		Recursive.f_Measure("CLock recursive lock x2 + unlock x2", [&] {
			Lock.f_Lock();
			Lock.f_Lock();
			Lock.f_Unlock();
			Lock.f_Unlock();
		});
		Guard.f_Measure("CLockGuard scope", [&] { NZel::NThread::CLockGuard Scope(Lock); });
		StdMutex.f_Measure("std::mutex lock+unlock", [&] {
			Mutex.lock();
			Mutex.unlock();
		});
#ifdef _WIN32
		CriticalSection.f_Measure("CRITICAL_SECTION enter+leave", [&] {
			EnterCriticalSection(&Section);
			LeaveCriticalSection(&Section);
		});
		Srw.f_Measure("SRWLOCK exclusive acquire+release", [&] {
			AcquireSRWLockExclusive(&SrwLock);
			ReleaseSRWLockExclusive(&SrwLock);
		});
#endif
	}

	std::printf("best round of each\n");
#ifdef _WIN32
	NBench::gf_Ratio("CRITICAL_SECTION vs CLock", Ours.m_Result, CriticalSection.m_Result);
	NBench::gf_Ratio("SRWLOCK vs CLock", Ours.m_Result, Srw.m_Result);
	DeleteCriticalSection(&Section);
#endif
	NBench::gf_Ratio("std::mutex vs CLock", Ours.m_Result, StdMutex.m_Result);
	bDone = true;
	Companion.join();
	return 0;
}
