// The tray window's procedure, pump and icon record, driven directly on this thread.
#include "KvWin/KvService.h"
#include "KvWin/KvTray.h"
#include "tests/kvwin/support/RecordingService.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

using NHushvaneTest::CRecordingService;

namespace
{
	// Takes every message waiting for this thread; true when a quit message with code 0 was among
	// them.
	bool fg_TakeQuit()
	{
		bool bQuit = false;
		MSG Message;
		while (PeekMessageA(&Message, nullptr, 0, 0, PM_REMOVE))
		{
			if (Message.message == WM_QUIT && Message.wParam == 0)
				bQuit = true;
		}
		return bQuit;
	}

	// A window of the test's own, so messages the procedure leaves to DefWindowProc have a
	// real target.
	HWND fg_Window()
	{
		static HWND s_hWnd = CreateWindowExA(0, "STATIC", "tray-test", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
		return s_hWnd;
	}

	using CCalls = std::vector<std::string>;
}

TEST(ServiceTrayWindow, MenuCommandsPauseResumeAndQuit)
{
	CRecordingService Service("TrayTest");
	fg_TakeQuit();
	EXPECT_EQ(CTrayIcon::fs_WindowProc(fg_Window(), WM_COMMAND, 123, 0), 1);
	EXPECT_EQ(CTrayIcon::fs_WindowProc(fg_Window(), WM_COMMAND, 124, 0), 1);
	EXPECT_EQ(Service.fp_Calls, (CCalls{"pause", "resume"}));
	EXPECT_FALSE(fg_TakeQuit());
	EXPECT_EQ(CTrayIcon::fs_WindowProc(fg_Window(), WM_COMMAND, 125, 0), 1);
	EXPECT_TRUE(fg_TakeQuit());
}

TEST(ServiceTrayWindow, CancelSeparatorAndOtherCommandsDoNothing)
{
	CRecordingService Service("TrayTest");
	fg_TakeQuit();
	for (WPARAM Command : {WPARAM(126), WPARAM(127), WPARAM(0), WPARAM(122), WPARAM(128), WPARAM((1u << 16) | 123u)})
	{
		CTrayIcon::fs_WindowProc(fg_Window(), WM_COMMAND, Command, 0);
		EXPECT_FALSE(fg_TakeQuit()) << Command;
	}
	EXPECT_TRUE(Service.fp_Calls.empty());
}

TEST(ServiceTrayWindow, DoubleClickQuitsOtherMouseMessagesDoNot)
{
	CRecordingService Service("TrayTest");
	fg_TakeQuit();
	for (LPARAM Mouse : {LPARAM(WM_LBUTTONDOWN), LPARAM(WM_LBUTTONUP), LPARAM(WM_RBUTTONDOWN), LPARAM(WM_MOUSEMOVE)})
	{
		CTrayIcon::fs_WindowProc(fg_Window(), CTrayIcon::mc_CallbackMessage, 0, Mouse);
		EXPECT_FALSE(fg_TakeQuit()) << Mouse;
	}
	EXPECT_EQ(CTrayIcon::fs_WindowProc(fg_Window(), CTrayIcon::mc_CallbackMessage, 0, WM_LBUTTONDBLCLK), 1);
	EXPECT_TRUE(fg_TakeQuit());
	EXPECT_TRUE(Service.fp_Calls.empty());
}

TEST(ServiceTrayWindow, CommandsWithoutAServiceObjectAreHarmless)
{
	ASSERT_EQ(CKvService::fs_GetInstance(), nullptr);
	EXPECT_EQ(CTrayIcon::fs_WindowProc(fg_Window(), WM_COMMAND, 123, 0), 1);
	EXPECT_EQ(CTrayIcon::fs_WindowProc(fg_Window(), WM_COMMAND, 124, 0), 1);
}

TEST(ServiceTrayPump, QuitEndsTheLoopOtherMessagesAreDispatched)
{
	fg_TakeQuit();
	PostMessageA(fg_Window(), WM_NULL, 0, 0);
	EXPECT_FALSE(CTrayIcon::fs_PumpMessage());
	PostQuitMessage(0);
	EXPECT_TRUE(CTrayIcon::fs_PumpMessage());
}

TEST(ServiceTrayIcon, CreatedOnceWithTheRecordTheShellExpects)
{
	CTrayIcon &Tray = CTrayIcon::fs_Get();
	HICON hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(32512)); // IDI_APPLICATION
	Tray.f_Create(hIcon);
	HWND hWnd = Tray.f_GetWindow();
	char Display[256];
	if (!hWnd && GetEnvironmentVariableA("DISPLAY", Display, sizeof(Display)) == 0)
		GTEST_SKIP() << "Wine makes no windows without an X display";
	ASSERT_NE(hWnd, nullptr);
	char ClassName[64] = {};
	GetClassNameA(hWnd, ClassName, sizeof(ClassName));
	EXPECT_STREQ(ClassName, "KvService_ReportWindow");
	EXPECT_FALSE(IsWindowVisible(hWnd));

	const NOTIFYICONDATAA &Data = Tray.f_GetNotifyData();
#ifdef _WIN64
	EXPECT_EQ(Data.cbSize, 504u);
#else
	EXPECT_EQ(Data.cbSize, 488u);
#endif
	EXPECT_EQ(Data.hWnd, hWnd);
	EXPECT_EQ(Data.uID, 257u);
	EXPECT_EQ(Data.uFlags, 7u);
	EXPECT_EQ(Data.uCallbackMessage, 0x414u);
	EXPECT_EQ(Data.hIcon, hIcon);
	EXPECT_STREQ(Data.szTip, "Double click to quit");
	EXPECT_EQ(Data.dwState, 0u);
	EXPECT_EQ(Data.dwStateMask, 0u);

	// A second create changes nothing.
	Tray.f_Create(nullptr);
	EXPECT_EQ(Tray.f_GetWindow(), hWnd);
	EXPECT_EQ(Tray.f_GetNotifyData().hIcon, hIcon);
}
