// A watchdog for long benchmarks under Wine: each section announces itself with a time budget;
// a section over its budget gets every thread of the process printed (state, instruction
// pointer as module+offset, for addr2line) to stderr, once, while the benchmark goes on. A
// section of the benchmark's end may instead be final: over its budget, the threads are printed
// and the process is ended with gc_BenchOverrunExitCode, so that a stuck end shows where it
// waits and still ends.
#pragma once

#include <windows.h>

#include <atomic>
#include <thread>

namespace NHushvaneTest
{
	constexpr UINT gc_BenchOverrunExitCode = 3;

	class CBenchWatchdog
	{
	public:
		CBenchWatchdog();
		~CBenchWatchdog();
		CBenchWatchdog(const CBenchWatchdog &) = delete;
		CBenchWatchdog &operator=(const CBenchWatchdog &) = delete;

		// pName must outlive the section (a literal).
		void f_Section(const char *pName, DWORD BudgetMs);
		void f_FinalSection(const char *pName, DWORD BudgetMs);

		// Every thread of this process but the caller's, to stderr.
		static void fs_DumpThreads(const char *pWhy);

	private:
		void fp_Watch();

		std::atomic<const char *> fp_pSection{nullptr};
		std::atomic<ULONGLONG> fp_Deadline{0};
		std::atomic<bool> fp_bDumped{false};
		std::atomic<bool> fp_bFinal{false};
		std::atomic<bool> fp_bStop{false};
		std::thread fp_Thread;
	};
}
