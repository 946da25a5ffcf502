#include "KvWin/KvTray.h"

#include "KvWin/KvService.h"
#include "KvWin/KvWindowsHandles.h"

#include <cstddef>
#include <cstring>
#include <string>

namespace
{
	// The record's size as shell versions before the item GUID know it: 488 bytes in a 32-bit
	// program. A 64-bit program must give its own layout's size at that point (504 bytes), or the
	// shell does not recognise the record.
	constexpr DWORD gc_NotifyDataSize = DWORD(offsetof(NOTIFYICONDATAA, guidItem));
#ifndef _WIN64
	static_assert(gc_NotifyDataSize == 488);
#endif
	constexpr UINT gc_NotifyFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
	static_assert(gc_NotifyFlags == 7 && CTrayIcon::mc_CallbackMessage == 0x414);
	constexpr UINT gc_MenuFlags = TPM_BOTTOMALIGN | TPM_RIGHTBUTTON;
	static_assert(gc_MenuFlags == 0x22);
}

CTrayIcon &CTrayIcon::fs_Get()
{
	static CTrayIcon s_TrayIcon;
	return s_TrayIcon;
}

void CTrayIcon::f_Create(HICON hIcon)
{
	if (fp_bCreated)
		return;

	WNDCLASSA Class{};
	Class.lpszClassName = mc_pClassName;
	Class.lpfnWndProc = fs_WindowProc;
	fp_bCreated = true;
	RegisterClassA(&Class);

	fp_hWnd = CreateWindowExA(0, mc_pClassName, mc_pClassName, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);

	std::memset(&fp_NotifyData, 0, sizeof(fp_NotifyData));
	fp_NotifyData.cbSize = gc_NotifyDataSize;
	fp_NotifyData.hWnd = fp_hWnd;
	fp_NotifyData.uID = mc_IconId;
	fp_NotifyData.uFlags = gc_NotifyFlags;
	fp_NotifyData.uCallbackMessage = mc_CallbackMessage;
	fp_NotifyData.hIcon = hIcon;
	static_assert(sizeof(fp_NotifyData.szTip) > std::char_traits<char>::length(mc_pTip));
	std::strcpy(fp_NotifyData.szTip, mc_pTip);
	Shell_NotifyIconA(NIM_ADD, &fp_NotifyData);
}

CTrayIcon::~CTrayIcon()
{
	if (!fp_bCreated)
		return;
	Shell_NotifyIconA(NIM_DELETE, &fp_NotifyData);
	if (fp_hWnd)
		DestroyWindow(fp_hWnd);
	UnregisterClassA(mc_pClassName, nullptr);
}

bool CTrayIcon::fs_PumpMessage()
{
	MSG Message;
	BOOL Result = GetMessageA(&Message, nullptr, 0, 0);
	if (Result == -1 || Result == 0 || Message.message == WM_QUIT)
		return true;
	TranslateMessage(&Message);
	DispatchMessageA(&Message);
	return false;
}

void CTrayIcon::fs_ShowMenu(HWND hWnd)
{
	CKvMenuHandle Menu(CreatePopupMenu());
	if (!Menu)
		return;
	AppendMenuA(Menu.f_Get(), MF_STRING, EMenu_Pause, "Pause");
	AppendMenuA(Menu.f_Get(), MF_STRING, EMenu_Resume, "Resume");
	AppendMenuA(Menu.f_Get(), MF_STRING, EMenu_Quit, "Quit");
	AppendMenuA(Menu.f_Get(), MF_SEPARATOR, EMenu_Separator, "Separator");
	AppendMenuA(Menu.f_Get(), MF_STRING, EMenu_Cancel, "Cancel");
	POINT Cursor{};
	GetCursorPos(&Cursor);
	// Without the foreground the menu stays open when the user clicks elsewhere; the null message
	// afterwards lets it close on the next click, as the shell requires.
	SetForegroundWindow(hWnd);
	TrackPopupMenu(Menu.f_Get(), gc_MenuFlags, Cursor.x, Cursor.y, 0, hWnd, nullptr);
	PostMessageA(hWnd, WM_NULL, 0, 0);
}

LRESULT CALLBACK CTrayIcon::fs_WindowProc(HWND hWnd, UINT Message, WPARAM wParam, LPARAM lParam)
{
	if (Message == WM_COMMAND)
	{
		CKvService *pService = CKvService::fs_GetInstance();
		switch (wParam)
		{
		case EMenu_Pause:
			if (pService)
				pService->f_OnPause();
			return 1;
		case EMenu_Resume:
			if (pService)
				pService->f_OnResume();
			return 1;
		case EMenu_Quit:
			PostQuitMessage(0);
			return 1;
		default:
			break;
		}
	}
	else if (Message == mc_CallbackMessage)
	{
		switch (lParam)
		{
		case WM_LBUTTONDBLCLK:
			PostQuitMessage(0);
			return 1;
		case WM_RBUTTONUP:
			fs_ShowMenu(hWnd);
			return 1;
		default:
			break;
		}
	}
	return DefWindowProcA(hWnd, Message, wParam, lParam);
}
