#include "app/Hushvane_WorkerRun.h"
#include "app/Hushvane_Config.h"
#include "app/Hushvane_ConfigWatch.h"
#include "app/Hushvane_InstallSafety.h"
#include "app/Hushvane_LaunchSource.h"
#include "app/Hushvane_Priority.h"
#include "zel/library/core/file/Zel_File.h"

#include <windows.h>
#include <tlhelp32.h>

#include <vector>

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

	bool gf_ReadConfigPatiently(CWorkerContextDriver &Context, CStr *pError)
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
		return gf_RunGuarded(Context, [&] { gf_ReadConfig(Context); }, pError);
	}

	namespace
	{
		constexpr ULONGLONG gc_HeldConfigRetryMs = 1000;

		// True when the configuration can be read now (or is gone, which reads as empty).
		bool fg_ConfigIsReadable()
		{
			try
			{
				std::vector<char> Text;
				gf_ReadConfigFile(gf_GetConfigPath(), Text);
				return true;
			}
			catch (...)
			{
				return false;
			}
		}
	}

	EWorkerRunEnd gf_RunWorker(CWorkerContextDriver &Context, ICWorkerControl &Control, FApplyPriority fApply, CProcessTable *pLastTable, CStr *pFailure)
	{
		Context.f_WriteLine(CStr("Launching\r\n"));
		// Watched from before the read, so that an edit made while the table is read is not lost.
		CConfigWatch Watch;
		gf_StartConfigWatch(Watch, Context);

		// An unreadable configuration (a folder named config, a locked file) is reported. The
		// run goes on with the table it had before, if any, else with an empty one: no process
		// is changed on half a file.
		CProcessTable &Table = Context.f_GetProcessTable();
		CStr ReadError;
		bool bRead = gf_ReadConfigPatiently(Context, &ReadError);
		bool bKept = !bRead && pLastTable && !pLastTable->f_IsEmpty();
		if (!bRead)
		{
			Table = bKept ? std::move(*pLastTable) : CProcessTable();
			CStr GoesOn("The run goes on with an empty table");
			if (bKept)
			{
				GoesOn = CStr("Configuration could not be read; keeping the last table read until it can be");
				Context.f_WriteLine(GoesOn + "\r\n");
			}
			Context.f_ReportEvent(ERunEvent::ConfigUnreadable, {NZel::NFile::gf_ShowPath(gf_GetConfigPath()), ReadError, GoesOn});
		}
		gf_LogChangeableConfig(Context);
		// The administrator who just saved the file sees at once what the run made of it.
		Context.f_Flush();

		EWorkerRunEnd End = EWorkerRunEnd::Stopped;
		bool bRan = gf_RunGuarded(Context, [&] {
			CLaunchSource Source(Context, fApply);
			Source.f_Begin();
			ULONGLONG NextReadCheck = GetTickCount64() + gc_HeldConfigRetryMs;
			while (!Control.f_IsStopRequested())
			{
				Source.f_Take();
				// A kept table stands for a change still to be read: the run ends to read it as
				// soon as the file can be read.
				bool bReadAgain = false;
				if (bKept && GetTickCount64() >= NextReadCheck)
				{
					NextReadCheck = GetTickCount64() + gc_HeldConfigRetryMs;
					bReadAgain = fg_ConfigIsReadable();
				}
				if (bReadAgain || Watch.f_IsChangeDue())
				{
					End = EWorkerRunEnd::ConfigChanged;
					break;
				}
				gf_WaitForWork(Context, Control, Watch);
			}
		}, pFailure);
		if (!bRan)
			End = EWorkerRunEnd::Failed;
		Context.f_CloseChannel();
		if (pLastTable && (bRead || bKept))
			*pLastTable = std::move(Table);
		if (End == EWorkerRunEnd::ConfigChanged)
			Context.f_WriteLine(CStr("Configuration changed, reading it again\r\n"));
		return End;
	}
}
