// The running service reads its configuration again by itself when the file changes: a new
// log file with the new entries, and the new classes for processes launched afterwards.
#include "tests/e2e/ServiceSupport_Windows.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace NHushvaneTest;

namespace
{
	constexpr DWORD gc_ReloadDeadlineMs = 2000;
	const std::string gc_Kept = "hvrl_keep.exe high\r\n";

	enum class EEdit
	{
		InPlace,         // the file is opened and overwritten
		ReplaceByRename, // a new file is written beside it and renamed over it
		DeleteAndCreate, // the file is deleted and written anew
		HeldOpen,        // overwritten by an editor that keeps it locked for a moment after
	};

	// Longer than the quiet time, so the reload's first read finds the file locked.
	constexpr DWORD gc_HoldMs = 800;

	bool fg_Edit(EEdit Edit, const std::string &Content)
	{
		std::string Path = gf_InProgramFolder("config");
		switch (Edit)
		{
		case EEdit::InPlace:
			break;
		case EEdit::ReplaceByRename:
		{
			std::string Temporary = gf_InProgramFolder("config.new");
			return gf_WriteFile(Temporary, Content) && MoveFileExA(Temporary.c_str(), Path.c_str(), MOVEFILE_REPLACE_EXISTING);
		}
		case EEdit::DeleteAndCreate:
			if (!DeleteFileA(Path.c_str()))
				return false;
			break;
		case EEdit::HeldOpen:
		{
			CKvFileHandle hFile(CreateFileA(Path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
			DWORD Written = 0;
			bool bWritten = hFile && WriteFile(hFile.f_Get(), Content.data(), DWORD(Content.size()), &Written, nullptr) && Written == Content.size();
			Sleep(gc_HoldMs);
			return bWritten;
		}
		}
		return gf_WriteFile(Path, Content);
	}

	bool fg_LogHas(size_t Index, const std::string &Text)
	{
		std::vector<std::string> Logs = gf_ReadLogs();
		return Logs.size() > Index && Logs[Index].find(Text) != std::string::npos;
	}

	std::string fg_Added(const std::string &Name, const char *pWord)
	{
		return "Added process " + Name + " with priority " + pWord + "\r\n";
	}

	class ReloadE2E : public ::testing::Test
	{
	protected:
		void SetUp() override
		{
			gf_RemoveServiceDirectly();
			gf_ClearLogs();
			ASSERT_TRUE(gf_WriteFile(gf_InProgramFolder("config"), gc_Kept));
		}

		void TearDown() override
		{
			gf_RemoveServiceDirectly();
			gf_RemoveDriverCompletely();
			gf_RemoveTree(gf_InProgramFolder("config.new"));
			gf_RemoveTree(gf_InProgramFolder("config"));
		}

		void f_AddAndStart()
		{
			ASSERT_EQ(gf_RunHushvane("-AddService"), 0u);
			ASSERT_EQ(gf_RunHushvane("-StartService"), 0u);
			ASSERT_TRUE(gf_WaitUntil([] { return fg_LogHas(0, fg_Added("hvrl_keep.exe", "high")); }, 30000)) << "the first run's log";
			// The channel is up once the device opens; then the run is in its loop.
			ASSERT_TRUE(gf_WaitUntil([] { return gf_OpenHushvaneDevice().f_IsValid(); }, 30000));
		}

		// A process launched now gets Class: its creation is fed through the driver, as
		// Wine's kernel reports none.
		void f_ExpectLaunchGets(const std::string &Name, DWORD Class)
		{
			CChildProcess Child(Name);
			ASSERT_TRUE(Child.f_IsRunning());
			ASSERT_TRUE(gf_WaitUntil([] { return gf_OpenHushvaneDevice().f_IsValid(); }, 30000));
			CKvFileHandle Device = gf_OpenHushvaneDevice();
			ASSERT_TRUE(gf_FeedProcessEvent(Device.f_Get(), GetCurrentProcessId(), Child.f_GetId(), true));
			EXPECT_TRUE(gf_WaitUntil([&] { return Child.f_GetPriorityClass() == Class; }, 10000))
				<< Name << ": " << std::hex << Child.f_GetPriorityClass();
		}
	};
}

TEST_F(ReloadE2E, EachWayOfSavingGivesANewLogWithinTwoSecondsAndTheNewClass)
{
	struct CCase
	{
		EEdit m_Edit;
		const char *m_pName;
		const char *m_pWord;
		DWORD m_Class;
	};
	const CCase Cases[] = {
		{EEdit::InPlace, "hvrl_inplace.exe", "idle", IDLE_PRIORITY_CLASS},
		{EEdit::ReplaceByRename, "hvrl_renamed.exe", "belownormal", BELOW_NORMAL_PRIORITY_CLASS},
		{EEdit::DeleteAndCreate, "hvrl_recreated.exe", "abovenormal", ABOVE_NORMAL_PRIORITY_CLASS},
		{EEdit::HeldOpen, "hvrl_held.exe", "realtime", REALTIME_PRIORITY_CLASS},
	};
	f_AddAndStart();
	for (const CCase &Case : Cases)
	{
		size_t Logs = gf_ReadLogs().size();
		std::string Added = fg_Added(Case.m_pName, Case.m_pWord);
		ULONGLONG Start = GetTickCount64();
		ASSERT_TRUE(fg_Edit(Case.m_Edit, gc_Kept + Case.m_pName + " " + Case.m_pWord + "\r\n")) << Case.m_pName;
		bool bReloaded = gf_WaitUntil([&] { return fg_LogHas(Logs, Added); }, gc_ReloadDeadlineMs);
		ULONGLONG Latency = GetTickCount64() - Start;
		EXPECT_TRUE(bReloaded) << Case.m_pName << ": no new log listing it within 2 s";
		std::printf("reload latency (%s): %llu ms\n", Case.m_pName, Latency);
		if (!bReloaded)
			continue;
		EXPECT_TRUE(fg_LogHas(Logs, "Launching\r\n" + fg_Added("hvrl_keep.exe", "high"))) << "a run from its beginning, with no read error";
		EXPECT_TRUE(fg_LogHas(Logs - 1, "Configuration changed, reading it again\r\n")) << "the old run says why it ended";
		f_ExpectLaunchGets(Case.m_pName, Case.m_Class);
	}
}

TEST_F(ReloadE2E, TenRapidEditsGiveAtMostTwoReloads)
{
	f_AddAndStart();
	size_t Before = gf_ReadLogs().size();
	for (int i = 0; i < 10; ++i)
	{
		ASSERT_TRUE(fg_Edit(EEdit::InPlace, gc_Kept + "hvrl_rapid" + std::to_string(i) + ".exe idle\r\n"));
		Sleep(40);
	}
	ASSERT_TRUE(gf_WaitUntil([&] { return gf_ReadLogs().size() > Before; }, gc_ReloadDeadlineMs + 1000));
	// Time for a second reload, should one come.
	Sleep(2500);
	std::vector<std::string> Logs = gf_ReadLogs();
	std::printf("reloads after ten edits 40 ms apart: %zu\n", Logs.size() - Before);
	EXPECT_LE(Logs.size() - Before, 2u);
	EXPECT_NE(Logs.back().find(fg_Added("hvrl_rapid9.exe", "idle")), std::string::npos) << "the last run reads the last edit";
}

TEST_F(ReloadE2E, APausedServiceDoesNotReloadAndContinueReadsTheEditOnce)
{
	f_AddAndStart();
	ASSERT_TRUE(gf_ControlService(SERVICE_CONTROL_PAUSE));
	ASSERT_TRUE(gf_WaitForServiceState(SERVICE_PAUSED));
	size_t Before = gf_ReadLogs().size();
	ASSERT_TRUE(fg_Edit(EEdit::InPlace, gc_Kept + "hvrl_paused.exe idle\r\n"));
	Sleep(gc_ReloadDeadlineMs);
	EXPECT_EQ(gf_ReadLogs().size(), Before) << "a paused service reloaded";

	ASSERT_TRUE(gf_ControlService(SERVICE_CONTROL_CONTINUE));
	ASSERT_TRUE(gf_WaitForServiceState(SERVICE_RUNNING));
	EXPECT_TRUE(gf_WaitUntil([&] { return fg_LogHas(Before, fg_Added("hvrl_paused.exe", "idle")); }, 30000)) << "continue reads the edit";
	// The edit made while paused is not taken for a change after the continue.
	Sleep(gc_ReloadDeadlineMs);
	EXPECT_EQ(gf_ReadLogs().size(), Before + 1);
	f_ExpectLaunchGets("hvrl_paused.exe", IDLE_PRIORITY_CLASS);
}

TEST_F(ReloadE2E, AConfigHeldOpenAfterASaveKeepsTheOldTableUntilItIsReleased)
{
	f_AddAndStart();
	size_t Before = gf_ReadLogs().size();
	{
		// Saved in place by a program that then keeps the file open, sharing nothing, for 3 s:
		// the reload cannot read it, and the run goes on with the table it had.
		ULONGLONG Start = GetTickCount64();
		CKvFileHandle hHolder(CreateFileA(gf_InProgramFolder("config").c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
		ASSERT_TRUE(hHolder.f_IsValid());
		std::string Content = "hvrl_keep.exe idle\r\n";
		DWORD Written = 0;
		ASSERT_TRUE(WriteFile(hHolder.f_Get(), Content.data(), DWORD(Content.size()), &Written, nullptr));
		ASSERT_TRUE(gf_WaitUntil([&] { return fg_LogHas(Before, "Configuration could not be read; keeping the last table read until it can be\r\n"); }, 2500))
			<< "the reload keeps the table it had";
		f_ExpectLaunchGets("hvrl_keep.exe", HIGH_PRIORITY_CLASS);
		EXPECT_LT(GetTickCount64() - Start, 3000u) << "the check ran past the hold";
		while (GetTickCount64() - Start < 3000)
			Sleep(50);
	}
	// Released: the file is read again without another edit, and the new class applies.
	EXPECT_TRUE(gf_WaitUntil([&] { return fg_LogHas(Before + 1, fg_Added("hvrl_keep.exe", "idle")); }, 5000)) << "read again once released";
	EXPECT_TRUE(fg_LogHas(Before, "Configuration changed, reading it again\r\n"));
	f_ExpectLaunchGets("hvrl_keep.exe", IDLE_PRIORITY_CLASS);
}
