#pragma once
#include "app/Hushvane_ProcessTable.h"
#include "app/Hushvane_RunLog.h"

namespace NHushvane
{
	// What every run of the worker has, whatever its log is: the process table and a place to
	// write lines. Making one makes it the process-wide current context, through which
	// priority application finds the table and the log; destroying the current one clears it,
	// so nothing reaches a context that is gone.
	class CWorkerContextBase : public ICRunLog
	{
	public:
		CWorkerContextBase();
		virtual ~CWorkerContextBase();
		CWorkerContextBase(const CWorkerContextBase &) = delete;
		CWorkerContextBase &operator=(const CWorkerContextBase &) = delete;

		CProcessTable &f_GetProcessTable() { return fp_ProcessTable; }
		const CProcessTable &f_GetProcessTable() const { return fp_ProcessTable; }

		// The most recently made context that still exists, or null. Written by the thread that
		// makes a context and read only by that thread during the run.
		static CWorkerContextBase *fs_GetCurrent();

	private:
		CProcessTable fp_ProcessTable;
	};
}
