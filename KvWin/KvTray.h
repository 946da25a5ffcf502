#pragma once
// The hidden window and notification-area icon of program mode. Include only from Windows
// sources.
#include <windows.h>

#include <shellapi.h>

class CTrayIcon
{
public:
	enum : UINT
	{
		EMenu_Pause = 123,
		EMenu_Resume = 124,
		EMenu_Quit = 125,
		EMenu_Separator = 126,
		EMenu_Cancel = 127,
	};
	static constexpr UINT mc_IconId = 257;
	static constexpr UINT mc_CallbackMessage = WM_USER + 20;
	static constexpr const char *mc_pClassName = "KvService_ReportWindow";
	static constexpr const char *mc_pTip = "Double click to quit";

	// The process's one tray icon; it is removed at process exit.
	static CTrayIcon &fs_Get();

	// Registers the class, creates the hidden window and adds the icon, once per process.
	// Failures are not reported: the program then runs without an icon.
	void f_Create(HICON hIcon);

	// Waits for and dispatches one message of this thread. True when program mode is to end
	// (quit message, or GetMessage failed).
	static bool fs_PumpMessage();

	static LRESULT CALLBACK fs_WindowProc(HWND hWnd, UINT Message, WPARAM wParam, LPARAM lParam);

	HWND f_GetWindow() const { return fp_hWnd; }
	const NOTIFYICONDATAA &f_GetNotifyData() const { return fp_NotifyData; }

	CTrayIcon(const CTrayIcon &) = delete;
	CTrayIcon &operator=(const CTrayIcon &) = delete;

private:
	CTrayIcon() = default;
	~CTrayIcon();

	static void fs_ShowMenu(HWND hWnd);

	NOTIFYICONDATAA fp_NotifyData{};
	bool fp_bCreated = false;
	HWND fp_hWnd = nullptr;
};
