#include "zel/library/core/runtime/Zel_Runtime_DeadlockDetector.h"
#include "zel/library/core/runtime/Zel_Sys_EventLog.h"

#include "zel/library/core/general/Zel_Clock.h"
#include "zel/library/core/general/Zel_CrashSettings.h"
#include "zel/library/core/general/Zel_Format.h"
#include "zel/library/core/general/Zel_WatchdogParts.h"
#include "zel/library/core/runtime/Zel_Runtime_CrashReporter.h"

#include <windows.h>

#include <cstdlib>

namespace NZel
{
	using NStr::CStr;
	using NTime::CClockTime;
	using NTime::gf_GetClock;
	using CDeadlockDetector = CSystemWindowsMSVC::CDeadlockDetector;

	namespace
	{
		constexpr double gc_LookSeconds = 0.5;
		constexpr UINT_PTR gc_DialogTimer = 1;
		constexpr UINT gc_DialogTimerMs = 100;

		struct CGdiFontTraits
		{
			using CHandle = HFONT;
			static CHandle fs_Invalid() { return nullptr; }
			static void fs_Close(CHandle hFont) { DeleteObject(hFont); }
		};
		struct CGlobalMemoryTraits
		{
			using CHandle = HGLOBAL;
			static CHandle fs_Invalid() { return nullptr; }
			static void fs_Close(CHandle hMemory) { GlobalFree(hMemory); }
		};
		using CUniqueFont = TCUniqueHandle<CGdiFontTraits>;
		using CUniqueGlobal = TCUniqueHandle<CGlobalMemoryTraits>;

		// "MS Sans Serif" at 8 points in the screen's units.
		HFONT fg_CreateDialogFont()
		{
			LOGFONTW Font{};
			HDC hScreen = GetDC(nullptr);
			POINT Height{0, GetDeviceCaps(hScreen, LOGPIXELSY) * 80 / 720};
			POINT Origin{0, 0};
			DPtoLP(hScreen, &Height, 1);
			DPtoLP(hScreen, &Origin, 1);
			ReleaseDC(nullptr, hScreen);
			Font.lfHeight = -std::abs(Height.y - Origin.y);
			Font.lfCharSet = DEFAULT_CHARSET;
			lstrcpyW(Font.lfFaceName, L"MS Sans Serif");
			return CreateFontIndirectW(&Font);
		}

		// Centred in the work area of the monitor under the mouse (of the desktop when the
		// system tells no monitors apart, as Wine without a monitor extension does).
		void fg_CentreOnMouseMonitor(HWND hDialog)
		{
			POINT Cursor{0, 0};
			GetCursorPos(&Cursor);
			MONITORINFO Monitor{};
			Monitor.cbSize = sizeof(Monitor);
			RECT Dialog{};
			if (!GetWindowRect(hDialog, &Dialog))
				return;
			RECT Work{};
			if (GetMonitorInfoW(MonitorFromPoint(Cursor, MONITOR_DEFAULTTONEAREST), &Monitor))
				Work = Monitor.rcWork;
			else if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &Work, 0))
				return; // no monitor to speak of: the template's place stands
			int const Left = Work.left + ((Work.right - Work.left) - (Dialog.right - Dialog.left)) / 2;
			int const Top = Work.top + ((Work.bottom - Work.top) - (Dialog.bottom - Dialog.top)) / 2;
			SetWindowPos(hDialog, nullptr, Left, Top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
		}
	}

	// What the dialog procedure needs: the detector (for the heartbeat) and the font.
	struct CDeadlockDialog
	{
		CDeadlockDetector *m_pDetector;
		HFONT m_hFont;

		static INT_PTR CALLBACK fs_Procedure(HWND hDialog, UINT Message, WPARAM wParam, LPARAM lParam)
		{
			switch (Message)
			{
			case WM_INITDIALOG:
			{
				auto *pDialog = reinterpret_cast<CDeadlockDialog *>(lParam);
				SetWindowLongPtrW(hDialog, DWLP_USER, lParam);
				fg_CentreOnMouseMonitor(hDialog);
				WPARAM const Font = reinterpret_cast<WPARAM>(pDialog->m_hFont);
				SendMessageW(hDialog, WM_SETFONT, Font, FALSE);
				for (int Id : {NWatchdog::gc_DialogYesId, NWatchdog::gc_DialogNoId, NWatchdog::gc_DialogTextId})
					SendDlgItemMessageW(hDialog, Id, WM_SETFONT, Font, FALSE);
				SendMessageW(hDialog, DM_SETDEFID, NWatchdog::gc_DialogYesId, 0);
				SetTimer(hDialog, gc_DialogTimer, gc_DialogTimerMs, nullptr);
				SetWindowPos(hDialog, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
				SetForegroundWindow(hDialog);
				return TRUE;
			}
			case WM_COMMAND:
				switch (LOWORD(wParam))
				{
				case NWatchdog::gc_DialogYesId:
				case IDCANCEL: // Escape: keep waiting, as closing the window does
					EndDialog(hDialog, 1);
					return TRUE;
				case NWatchdog::gc_DialogNoId:
					EndDialog(hDialog, 0);
					return TRUE;
				}
				break;
			case WM_SYSCOMMAND:
				if ((wParam & 0xFFF0) == SC_CLOSE)
				{
					EndDialog(hDialog, 1);
					return TRUE;
				}
				break;
			case WM_TIMER:
				if (wParam == gc_DialogTimer)
				{
					auto *pDialog = reinterpret_cast<CDeadlockDialog *>(GetWindowLongPtrW(hDialog, DWLP_USER));
					// The program is back: the question answers itself.
					if (pDialog && pDialog->m_pDetector->fp_GetSecondsSinceAlive() < pDialog->m_pDetector->fp_Timeout / 2.0)
						EndDialog(hDialog, 1);
					return TRUE;
				}
				break;
			case WM_DESTROY:
				KillTimer(hDialog, gc_DialogTimer);
				break;
			}
			return FALSE;
		}
	};

	CDeadlockDetector::CDeadlockDetector() = default;

	CDeadlockDetector::~CDeadlockDetector()
	{
		// The watch loop uses this object's members: it ends before they go.
		f_Stop(true);
	}

	CStr CDeadlockDetector::f_GetThreadName()
	{
		return CStr("Zel_Runtime_DeadlockDetector");
	}

	void CDeadlockDetector::f_SetTimeout(double Seconds)
	{
		fp_Timeout = Seconds;
	}

	void CDeadlockDetector::f_SetSuppressReport(bool bSuppress)
	{
		fp_SuppressReport = bSuppress;
	}

	void CDeadlockDetector::f_DeclareAlive()
	{
		CClockTime const Now = gf_GetClock().f_GetTime();
		NThread::CLockGuard Guard(fp_AliveLock);
		fp_LastAlive = Now;
	}

	double CDeadlockDetector::fp_GetSecondsSinceAlive()
	{
		CClockTime const Now = gf_GetClock().f_GetTime();
		NThread::CLockGuard Guard(fp_AliveLock);
		return (Now - fp_LastAlive).f_GetSecondsDouble();
	}

	void CDeadlockDetector::fs_MakeErrorReport()
	{
		// A write to address 0 on this thread: the crash reporter sees exactly that.
		static int32 *volatile s_pNowhere = nullptr;
		*s_pNowhere = 0;
		// Only a reporter that was replaced and did not end the process gets here.
		TerminateProcess(GetCurrentProcess(), EXCEPTION_ACCESS_VIOLATION);
		for (;;)
			Sleep(INFINITE);
	}

	bool CDeadlockDetector::f_ShowNotRespondingDialog(const char *pCaption, const char *pMessage)
	{
		CUniqueFont Font(fg_CreateDialogFont());
		CUniqueGlobal Memory(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, NWatchdog::gc_DialogTemplateBytes));
		void *pTemplate = Memory.f_Get() ? GlobalLock(Memory.f_Get()) : nullptr;
		if (!pTemplate)
			return false; // no memory for the question counts as No

		wchar_t Caption[NWatchdog::gc_DialogCaptionMax + 1] = {};
		int const CaptionLen = MultiByteToWideChar(CP_ACP, 0, pCaption, -1, Caption, NWatchdog::gc_DialogCaptionMax + 1);
		INT_PTR Result = -1;
		if (NWatchdog::gf_BuildNotRespondingTemplate(static_cast<uint8 *>(pTemplate), NWatchdog::gc_DialogTemplateBytes,
				reinterpret_cast<const uint16 *>(Caption), CaptionLen > 0 ? CaptionLen : NWatchdog::gc_DialogCaptionMax, pMessage))
		{
			CDeadlockDialog Dialog{this, Font.f_Get()};
			Result = DialogBoxIndirectParamW(nullptr, static_cast<LPCDLGTEMPLATEW>(pTemplate), nullptr, &CDeadlockDialog::fs_Procedure,
				reinterpret_cast<LPARAM>(&Dialog));
		}
		GlobalUnlock(Memory.f_Get());
		return Result == 1;
	}

	namespace
	{
		// The Application log hears of the report before it is made, while the program still
		// can tell it.
		void fg_WriteNotRespondingEvent()
		{
			CCrashSettings const &Settings = gf_GetCrashSettings();
			if (!Settings.fp_CrashEventSource || !Settings.fp_NotRespondingEventId)
				return;
			const char *const Inserts[] = {Settings.f_GetProgramName(), ""};
			NSys::gf_ReportEvent(Settings.fp_CrashEventSource, NSys::EEventType::Error, Settings.fp_NotRespondingEventId, Inserts, 2);
		}
	}

	void CDeadlockDetector::fp_OnStall()
	{
		if (!fp_SuppressReport)
		{
			// Unattended, the report comes at once. The texts of the question are made on the
			// stack: a stalled program may be stuck holding the heap's lock, and the way to the
			// report must not wait for it.
			if (gf_GetCrashSettings().fp_CrashNoDialog)
			{
				fg_WriteNotRespondingEvent();
				fs_MakeErrorReport();
			}
			char const *pName = gf_GetCrashSettings().f_GetProgramName();
			NStr::CFStr256 const Caption = NStr::CFStr256::CFormat("{} is not responding") << pName;
			NStr::TCStrImp_Fixed<1024> const Message =
				NStr::TCStrImp_Fixed<1024>::CFormat("{} is not responding. This might be temporary.\n\nWould you like to continue waiting for {0} to "
													"respond?\n\nTo report this problem to Quorvex, please press No to create an error report.")
				<< pName;
			if (!f_ShowNotRespondingDialog(Caption.f_GetStr(), Message.f_GetStr()))
			{
				fg_WriteNotRespondingEvent();
				fs_MakeErrorReport();
			}
		}
		CClockTime const Now = gf_GetClock().f_GetTime();
		NThread::CLockGuard Guard(fp_AliveLock);
		fp_LastAlive = Now;
		fp_PausedTime = CClockTime();
	}

	int32 CDeadlockDetector::f_Execute()
	{
		fp_WakeEvent.f_Link(fp_TickEvent);
		{
			CClockTime const Now = gf_GetClock().f_GetTime();
			NThread::CLockGuard Guard(fp_AliveLock);
			fp_LastAlive = Now;
			fp_LastCheck = Now;
			fp_PausedTime = CClockTime();
		}
		for (;;)
		{
			{
				NThread::CLockGuard Guard(fp_Lock);
				if (fp_State == NThread::EThreadState::StopRequested)
					break;
			}
			NCrash::gf_InstallCrashFilter();

			CClockTime const Now = gf_GetClock().f_GetTime();
			CClockTime LastAlive;
			CClockTime PausedTime;
			{
				NThread::CLockGuard Guard(fp_AliveLock);
				LastAlive = fp_LastAlive;
				PausedTime = fp_PausedTime;
			}
			NWatchdog::CWatchLook const Look = NWatchdog::gf_WatchLook(Now, fp_LastCheck, LastAlive, PausedTime, fp_Timeout);
			if (Look.m_bHeldUp)
			{
				NThread::CLockGuard Guard(fp_AliveLock);
				fp_PausedTime += Look.m_Gap;
			}
			fp_LastCheck = Now;
			if (Look.m_StallSeconds > fp_Timeout)
				fp_OnStall();

			fp_TickEvent.f_WaitTimeout(gf_GetClock().f_GetWaitMilliseconds(gc_LookSeconds));
		}
		fp_WakeEvent.f_Unlink();
		return 0;
	}
}
