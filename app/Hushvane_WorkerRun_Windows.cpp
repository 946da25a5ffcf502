#include "app/Hushvane_WorkerRun.h"
#include "app/Hushvane_Config.h"

#include <windows.h>
#include <tlhelp32.h>

namespace NHushvane
{
	using NZel::NStr::CStr;
	using NZel::uint32;

	void gf_ApplyPriorityGuarded(ICRunLog &Log, uint32 ProcessId, FApplyPriority fApply)
	{
		gf_RunGuarded(Log, [&] { fApply(ProcessId); });
	}

	void gf_SweepProcesses(ICRunLog &Log, FApplyPriority fApply)
	{
		CKvFileHandle hSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
		if (!hSnapshot)
			return;
		PROCESSENTRY32 Entry = {};
		Entry.dwSize = sizeof(Entry);
		for (BOOL bMore = Process32First(hSnapshot.f_Get(), &Entry); bMore; bMore = Process32Next(hSnapshot.f_Get(), &Entry))
			gf_ApplyPriorityGuarded(Log, Entry.th32ProcessID, fApply);
	}

	uint32 gf_DrainDriver(CWorkerContextDriver &Context, FApplyPriority fApply)
	{
		uint32 Taken = 0;
		CProcessEvent Event;
		while (gf_ReadDriverRecord(Context, Event))
		{
			++Taken;
			// Exits (Create 0) are taken out of the driver and dropped.
			if (Event.m_bCreate)
				gf_ApplyPriorityGuarded(Context, uint32(Event.m_ProcessId), fApply);
		}
		return Taken;
	}

	void gf_RunWorker(CWorkerContextDriver &Context, ICWorkerControl &Control, FApplyPriority fApply)
	{
		Context.f_WriteLine(CStr("Launching\r\n"));

		// An unreadable configuration (a folder named config, a locked file) is reported and
		// the run goes on with an empty table: no process is changed on half a file.
		if (!gf_RunGuarded(Context, [&] { gf_ReadConfig(Context); }))
			Context.f_GetProcessTable().f_Clear();

		bool bDriverUp = false;
		gf_RunGuarded(Context, [&] { bDriverUp = gf_InitializeDriver(Context); });
		if (!bDriverUp)
		{
			Context.f_CloseChannel();
			Context.f_WriteLine(CStr("Failed to initialize driver\r\n"));
			return;
		}

		gf_RunGuarded(Context, [&] {
			gf_SweepProcesses(Context, fApply);
			while (!Control.f_IsStopRequested())
			{
				gf_DrainDriver(Context, fApply);
				if (Context.f_GetEvent())
					WaitForSingleObject(Context.f_GetEvent(), gc_WorkerWaitMs);
				else
					Control.f_WaitForStop(gc_WorkerWaitMs);
			}
		});
		Context.f_CloseChannel();
	}
}
