#include "app/Hushvane_WorkerRun.h"
#include "app/Hushvane_Config.h"
#include "app/Hushvane_ConfigWatch.h"
#include "app/Hushvane_InstallSafety.h"
#include "app/Hushvane_Priority.h"
#include "zel/library/core/file/Zel_File.h"

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
		// The driver answers an empty ring with STATUS_UNSUCCESSFUL. Any other failure means its
		// device is gone (the kernel service was stopped or removed behind the run's back): the
		// handles are let go at once, as a driver cannot be loaded again while they are open.
		if (Context.f_IsChannelOpen() && GetLastError() != ERROR_GEN_FAILURE)
			Context.f_CloseChannel();
		return Taken;
	}

	bool gf_ReadConfigPatiently(CWorkerContextDriver &Context)
	{
		// An editor that has just saved the file may still hold it, and the reader asks for no
		// sharing: a failed read of a file is tried again for a moment before it is reported.
		// Nothing will make a folder readable.
		using namespace NZel::NSys::NFile;
		CStr Path = gf_GetConfigPath();
		for (uint32 Attempt = 1; Attempt < gc_ConfigReadAttempts && gf_Exists(Path, EExistsAccept_File); ++Attempt)
		{
			try
			{
				gf_ReadConfig(Context);
				return true;
			}
			catch (...)
			{
				Context.f_GetProcessTable().f_Clear();
			}
			Sleep(gc_ConfigReadRetryMs);
		}
		return gf_RunGuarded(Context, [&] { gf_ReadConfig(Context); });
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
		bool fg_RestoreDriver(CWorkerContextDriver &Context, CDriverRestore &Restore, FApplyPriority fApply)
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
			gf_SweepProcesses(Context, fApply);
			return true;
		}
	}

	EWorkerRunEnd gf_RunWorker(CWorkerContextDriver &Context, ICWorkerControl &Control, FApplyPriority fApply)
	{
		Context.f_WriteLine(CStr("Launching\r\n"));
		// Watched from before the read, so that an edit made while the table is read is not lost.
		CConfigWatch Watch;
		gf_StartConfigWatch(Watch, Context);

		// An unreadable configuration (a folder named config, a locked file) is reported and
		// the run goes on with an empty table: no process is changed on half a file.
		if (!gf_ReadConfigPatiently(Context))
			Context.f_GetProcessTable().f_Clear();
		gf_LogChangeableConfig(Context);
		// The administrator who just saved the file sees at once what the run made of it.
		Context.f_Flush();

		bool bDriverUp = false;
		gf_RunGuarded(Context, [&] { bDriverUp = gf_InitializeDriver(Context); });
		if (!bDriverUp)
		{
			Context.f_CloseChannel();
			Context.f_WriteLine(CStr("Failed to initialize driver\r\n"));
			return EWorkerRunEnd::Stopped;
		}

		EWorkerRunEnd End = EWorkerRunEnd::Stopped;
		gf_RunGuarded(Context, [&] {
			gf_SweepProcesses(Context, fApply);
			CDriverRestore Restore;
			while (!Control.f_IsStopRequested())
			{
				gf_DrainDriver(Context, fApply);
				if (!Context.f_IsChannelOpen() && fg_RestoreDriver(Context, Restore, fApply))
					continue;
				if (Watch.f_IsChangeDue())
				{
					End = EWorkerRunEnd::ConfigChanged;
					break;
				}
				gf_WaitForWork(Context, Control, Watch);
			}
		});
		Context.f_CloseChannel();
		if (End == EWorkerRunEnd::ConfigChanged)
			Context.f_WriteLine(CStr("Configuration changed, reading it again\r\n"));
		return End;
	}
}
