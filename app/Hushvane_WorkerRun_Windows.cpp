#include "app/Hushvane_WorkerRun.h"
#include "app/Hushvane_Config.h"
#include "app/Hushvane_Priority.h"

#include <windows.h>
#include <tlhelp32.h>

namespace NHushvane
{
	using NZel::NStr::CStr;
	using NZel::uint32;

	void gf_SweepProcesses()
	{
		CKvFileHandle hSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
		if (!hSnapshot)
			return;
		PROCESSENTRY32 Entry = {};
		Entry.dwSize = sizeof(Entry);
		for (BOOL bMore = Process32First(hSnapshot.f_Get(), &Entry); bMore; bMore = Process32Next(hSnapshot.f_Get(), &Entry))
			gf_ApplyPriority(Entry.th32ProcessID);
	}

	uint32 gf_DrainDriver(CWorkerContextDriver &Context)
	{
		uint32 Taken = 0;
		CProcessEvent Event;
		while (gf_ReadDriverRecord(Context, Event))
		{
			++Taken;
			// Exits (Create 0) are taken out of the driver and dropped.
			if (Event.m_bCreate)
				gf_ApplyPriority(uint32(Event.m_ProcessId));
		}
		// The driver answers an empty ring with STATUS_UNSUCCESSFUL. Any other failure means its
		// device is gone (the kernel service was stopped or removed behind the run's back): the
		// handles are let go at once, as a driver cannot be loaded again while they are open.
		if (Context.f_IsChannelOpen() && GetLastError() != ERROR_GEN_FAILURE)
			Context.f_CloseChannel();
		return Taken;
	}

	namespace
	{
		constexpr ULONGLONG gc_FirstRetryMs = 5000;
		constexpr ULONGLONG gc_LongestRetryMs = 300000;

		struct CDriverRestore
		{
			bool m_bLost = false;
			ULONGLONG m_NextAttempt = 0;
			ULONGLONG m_RetryMs = gc_FirstRetryMs;
		};

		// The run lost its driver: says so once, then brings the driver up again (at once, then
		// after 5 s, doubling up to 5 minutes, so a driver that stays broken does not fill the
		// log) and sweeps, so that processes launched meanwhile get their class too. True when
		// the channel is open again.
		bool fg_RestoreDriver(CWorkerContextDriver &Context, CDriverRestore &Restore)
		{
			if (!Restore.m_bLost)
			{
				Context.f_WriteLine(CStr("Lost the driver's device; bringing the driver up again\r\n"));
				Restore = CDriverRestore();
				Restore.m_bLost = true;
			}
			if (GetTickCount64() < Restore.m_NextAttempt)
				return false;
			Restore.m_NextAttempt = GetTickCount64() + Restore.m_RetryMs;
			Restore.m_RetryMs = Restore.m_RetryMs * 2 < gc_LongestRetryMs ? Restore.m_RetryMs * 2 : gc_LongestRetryMs;
			bool bUp = false;
			gf_RunGuarded(Context, [&] { bUp = gf_InitializeDriver(Context); });
			if (!bUp)
				return false;
			Context.f_WriteLine(CStr("Driver up again\r\n"));
			Restore.m_bLost = false;
			gf_SweepProcesses();
			return true;
		}
	}

	void gf_RunWorker(CWorkerContextDriver &Context, ICWorkerControl &Control)
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
			gf_SweepProcesses();
			CDriverRestore Restore;
			while (!Control.f_IsStopRequested())
			{
				gf_DrainDriver(Context);
				if (!Context.f_IsChannelOpen() && fg_RestoreDriver(Context, Restore))
					continue;
				if (Context.f_GetEvent())
					WaitForSingleObject(Context.f_GetEvent(), gc_WorkerWaitMs);
				else
					Control.f_WaitForStop(gc_WorkerWaitMs);
			}
		});
		Context.f_CloseChannel();
	}
}
