#include "app/Hushvane_ConfigWatch.h"
#include "app/Hushvane_ChangeRecords.h"
#include "app/Hushvane_DriverChannel.h"
#include "app/Hushvane_RunLog.h"
#include "app/Hushvane_WorkerControl.h"
#include "zel/library/core/file/Zel_File.h"
#include "zel/library/core/general/Zel_Format.h"
#include "zel/library/core/runtime/Zel_Sys_Debug.h"

#include <cstring>

namespace NHushvane
{
	namespace
	{
		// Room for a few hundred records between two looks; more than that overflows, which
		// is reported as a change.
		constexpr size_t gc_BufferWords = 2048;
		constexpr DWORD gc_Filter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_CREATION;
	}

	CConfigWatch::~CConfigWatch()
	{
		fp_Stop();
	}

	DWORD CConfigWatch::f_Start(const NZel::NStr::CStr &Folder, const char *pName)
	{
		fp_Stop();
		fp_Name = pName;
		fp_Buffer.assign(gc_BufferWords, 0);
		fp_hEvent = CKvKernelHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
		if (!fp_hEvent)
			return GetLastError();
		// Every kind of sharing, so the watch never stands in the way of an editor or of the
		// folder's removal.
		fp_hFolder = CKvFileHandle(CreateFileW(NZel::NSys::NFile::gf_ToWidePath(Folder).f_GetStr(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
			nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
		if (!fp_hFolder)
			return GetLastError();
		return fp_Arm();
	}

	DWORD CConfigWatch::fp_Arm()
	{
		fp_Overlapped = {};
		fp_Overlapped.hEvent = fp_hEvent.f_Get();
		// Starting the read resets the event.
		if (!ReadDirectoryChangesW(fp_hFolder.f_Get(), fp_Buffer.data(), DWORD(fp_Buffer.size() * sizeof(DWORD)), FALSE, gc_Filter, nullptr,
				&fp_Overlapped, nullptr))
		{
			DWORD Error = GetLastError();
			return Error ? Error : ERROR_GEN_FAILURE;
		}
		fp_bReadPending = true;
		return 0;
	}

	void CConfigWatch::fp_Collect()
	{
		if (!fp_bReadPending)
			return;
		DWORD Bytes = 0;
		if (!GetOverlappedResult(fp_hFolder.f_Get(), &fp_Overlapped, &Bytes, FALSE))
		{
			if (GetLastError() == ERROR_IO_INCOMPLETE)
				return;
			// The folder went away or can no longer be watched: whatever happened to the file
			// is read by the run that follows, which watches afresh.
			fp_bReadPending = false;
			fp_Coalescer.f_OnChange(GetTickCount64());
			fp_Stop();
			return;
		}
		fp_bReadPending = false;
		// No bytes: more changes came than the buffer holds, and the file may be among them.
		if (Bytes == 0 || gf_ChangeRecordsName(reinterpret_cast<const NZel::uint8 *>(fp_Buffer.data()), Bytes, fp_Name.c_str()))
			fp_Coalescer.f_OnChange(GetTickCount64());
		if (fp_Arm() != 0)
			fp_Stop();
	}

	bool CConfigWatch::f_IsChangeDue()
	{
		fp_Collect();
		return fp_Coalescer.f_IsDue(GetTickCount64());
	}

	void CConfigWatch::fp_Stop()
	{
		if (fp_bReadPending)
		{
			// The system writes into the buffer until the read is over: wait for the cancel.
			DWORD Bytes = 0;
			CancelIoEx(fp_hFolder.f_Get(), &fp_Overlapped);
			GetOverlappedResult(fp_hFolder.f_Get(), &fp_Overlapped, &Bytes, TRUE);
			fp_bReadPending = false;
		}
		fp_hFolder.f_Reset();
		fp_hEvent.f_Reset();
	}
}

namespace NHushvane
{
	void gf_StartConfigWatch(CConfigWatch &Watch, ICRunLog &Log)
	{
		DWORD Error = Watch.f_Start(NZel::NFile::gf_GetProgramFolder(), "config");
		if (!Error)
			return;
		// System texts end in a line break of their own.
		NZel::NStr::CFStr256 Text = NZel::NSys::gf_GetErrorText(Error);
		const char *pText = Text.f_GetStr();
		NZel::int32 Length = NZel::int32(std::strlen(pText));
		while (Length > 0 && (pText[Length - 1] == '\r' || pText[Length - 1] == '\n'))
			--Length;
		NZel::NStr::CStr Reason(pText, Length);
		Log.f_WriteLine(NZel::NStr::CStr::CFormat("Changes to the configuration are not watched: {}\r\n") << Reason);
	}

	void gf_WaitForWork(CWorkerContextDriver &Context, ICWorkerControl &Control, CConfigWatch &Watch)
	{
		HANDLE Handles[2] = {Context.f_GetEvent(), Watch.f_GetEvent()};
		if (!Handles[0])
			Control.f_WaitForStop(gc_WorkerWaitMs);
		else
			WaitForMultipleObjects(Handles[1] ? 2 : 1, Handles, FALSE, gc_WorkerWaitMs);
	}
}
