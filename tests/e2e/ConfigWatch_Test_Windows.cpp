// The folder watch under the real file system: which changes count, and how a burst settles.
#include "app/Hushvane_ConfigWatch.h"
#include "tests/e2e/WorkerSupport_Windows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace NHushvaneTest;

namespace
{
	class ConfigWatchTest : public ::testing::Test
	{
	protected:
		void SetUp() override
		{
			gf_RemoveTree(m_Folder);
			ASSERT_TRUE(CreateDirectoryA(m_Folder.c_str(), nullptr));
			std::string Slashed = m_Folder;
			std::replace(Slashed.begin(), Slashed.end(), '\\', '/');
			ASSERT_EQ(m_Watch.f_Start(NZel::NStr::CStr(Slashed.c_str()), "config"), 0u);
			ASSERT_TRUE(m_Watch.f_IsWatching());
		}
		void TearDown() override { gf_RemoveTree(m_Folder); }

		// Waits as the worker's loop does: on the watch's event, looking after every wake.
		bool f_WaitForChange(DWORD TimeoutMs)
		{
			return gf_WaitUntil([&] {
				if (HANDLE hEvent = m_Watch.f_GetEvent())
					WaitForSingleObject(hEvent, 50);
				return m_Watch.f_IsChangeDue();
			}, TimeoutMs);
		}

		std::string f_In(const char *pName) const { return m_Folder + "\\" + pName; }

		std::string m_Folder = gf_InProgramFolder("watched");
		NHushvane::CConfigWatch m_Watch;
	};
}

TEST_F(ConfigWatchTest, OtherFilesAndFoldersBesideItDoNotCount)
{
	ASSERT_TRUE(gf_WriteFile(f_In("config.bak"), "a.exe high\n"));
	ASSERT_TRUE(gf_WriteFile(f_In("configuration"), "a.exe high\n"));
	ASSERT_TRUE(CreateDirectoryA(f_In("Log").c_str(), nullptr));
	ASSERT_TRUE(gf_WriteFile(f_In("Log\\2026-12-08_00.00.00.000.log"), "Launching\r\n"));
	EXPECT_FALSE(f_WaitForChange(1500));
	EXPECT_TRUE(m_Watch.f_IsWatching());
}

TEST_F(ConfigWatchTest, EachWayOfSavingCountsAndABurstSettlesOnce)
{
	struct CCase
	{
		const char *m_pWhat;
		void (*m_pEdit)(const std::string &Config, const std::string &Other);
	};
	const CCase Cases[] = {
		{"created", [](const std::string &Config, const std::string &) { gf_WriteFile(Config, "a.exe high\n"); }},
		{"written in place", [](const std::string &Config, const std::string &) { gf_WriteFile(Config, "a.exe idle\n"); }},
		{"replaced by a rename",
			[](const std::string &Config, const std::string &Other) {
				gf_WriteFile(Other, "b.exe idle\n");
				MoveFileExA(Other.c_str(), Config.c_str(), MOVEFILE_REPLACE_EXISTING);
			}},
		{"deleted", [](const std::string &Config, const std::string &) { DeleteFileA(Config.c_str()); }},
		{"a burst of ten writes",
			[](const std::string &Config, const std::string &) {
				for (int i = 0; i < 10; ++i)
				{
					gf_WriteFile(Config, "c.exe high " + std::to_string(i) + "\n");
					Sleep(30);
				}
			}},
	};
	for (const CCase &Case : Cases)
	{
		Case.m_pEdit(f_In("config"), f_In("config.tmp"));
		EXPECT_TRUE(f_WaitForChange(3000)) << Case.m_pWhat;
		m_Watch.f_Reset();
		// Nothing more is due once the burst has been acted on.
		EXPECT_FALSE(f_WaitForChange(800)) << Case.m_pWhat << ": due again without a change";
		m_Watch.f_Reset();
	}
}
