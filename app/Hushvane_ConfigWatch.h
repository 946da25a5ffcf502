#pragma once
// Watches one file of a folder through the folder's change notifications, so an edit of the
// configuration is noticed without polling. Windows-only; used by the worker's thread alone.
#include "KvWin/KvWindowsHandles.h"
#include "app/Hushvane_ChangeCoalescer.h"
#include "zel/library/core/general/Zel_Str.h"

#include <string>
#include <vector>

namespace NHushvane
{
	class CConfigWatch
	{
	public:
		CConfigWatch() = default;
		~CConfigWatch();
		CConfigWatch(const CConfigWatch &) = delete;
		CConfigWatch &operator=(const CConfigWatch &) = delete;

		// Watches the file pName (a plain name, no folder) in Folder: written, replaced by a
		// rename, deleted or created. Returns 0, or the Windows error that prevents watching.
		DWORD f_Start(const NZel::NStr::CStr &Folder, const char *pName);

		// Signalled when notifications have arrived; null when nothing is watched. Waiting on it
		// lets a wait end at once; f_IsChangeDue must then be called before the next wait.
		HANDLE f_GetEvent() const { return fp_bReadPending ? fp_hEvent.f_Get() : nullptr; }

		// Takes in the notifications that have arrived, without waiting. True once a burst of
		// changes to the file has settled (see CChangeCoalescer), until f_Reset.
		bool f_IsChangeDue();
		void f_Reset() { fp_Coalescer.f_Reset(); }

		bool f_IsWatching() const { return fp_bReadPending; }

	private:
		DWORD fp_Arm();
		void fp_Collect();
		void fp_Stop();

		CKvFileHandle fp_hFolder;
		CKvKernelHandle fp_hEvent;
		OVERLAPPED fp_Overlapped = {};
		bool fp_bReadPending = false;
		std::vector<DWORD> fp_Buffer; // DWORD-aligned, as the records require
		std::string fp_Name;
		CChangeCoalescer fp_Coalescer;
	};
}

namespace NHushvane
{
	class ICRunLog;
	class ICWorkerControl;
	class CWorkerContextDriver;

	// Starts Watch on "config" in the program folder; a watch that cannot start is reported to
	// Log, and the run goes on without reloading by itself.
	void gf_StartConfigWatch(CConfigWatch &Watch, ICRunLog &Log);

	// One wait of the worker's loop: up to the loop's time-out, ended early by the driver's
	// event or by a change notification. Without a driver event the control paces the loop.
	void gf_WaitForWork(CWorkerContextDriver &Context, ICWorkerControl &Control, CConfigWatch &Watch);
}
