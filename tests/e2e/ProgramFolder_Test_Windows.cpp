// hushvane.exe started in ways where its command line does not lead to its folder: a name typed
// without folder or extension, a path relative to the starting program's folder while the new
// process runs in another, and a real PATH search by the shell. Each time it must still find
// its config, its driver image and its Log folder beside itself.
#include "KvWin/KvWindowsHandles.h"
#include "tests/e2e/WorkerSupport_Windows.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <ostream>
#include <string>
#include <vector>

using namespace NHushvaneTest;

namespace
{
	enum class EStart
	{
		TypedName,         // "hushvane -RunAsProgram", as a shell passes a name it found on PATH
		RelativeElsewhere, // "<folder>\hushvane.exe", resolved by the starter, run in another folder
		ShellPathSearch,   // cmd.exe finds "hushvane" through PATH
	};

	struct CStartCase
	{
		const char *pName;
		EStart Start;
	};

	void PrintTo(const CStartCase &Case, std::ostream *pStream)
	{
		*pStream << Case.pName;
	}

	std::string fg_Elsewhere()
	{
		char Temp[MAX_PATH];
		DWORD Length = GetTempPathA(DWORD(sizeof(Temp)), Temp);
		return std::string(Temp, Length) + "hv_elsewhere";
	}

	bool fg_Create(const char *pApplication, std::string CommandLine, const std::string &Folder, PROCESS_INFORMATION &Info)
	{
		STARTUPINFOA Startup = {};
		Startup.cb = sizeof(Startup);
		return CreateProcessA(pApplication, CommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, Folder.c_str(), &Startup, &Info) != FALSE;
	}

	// The process named pExe that ParentId started, once it exists.
	DWORD fg_FindChild(DWORD ParentId, const char *pExe)
	{
		DWORD Found = 0;
		gf_WaitUntil(
			[&] {
				CKvFileHandle hSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
				PROCESSENTRY32 Entry = {};
				Entry.dwSize = sizeof(Entry);
				for (BOOL bMore = Process32First(hSnapshot.f_Get(), &Entry); bMore; bMore = Process32Next(hSnapshot.f_Get(), &Entry))
				{
					if (Entry.th32ParentProcessID == ParentId && lstrcmpiA(Entry.szExeFile, pExe) == 0)
						Found = Entry.th32ProcessID;
				}
				return Found != 0;
			},
			20000);
		return Found;
	}

	// Starts "hushvane -RunAsProgram" in Elsewhere the way the case says; the program's process.
	CKvKernelHandle fg_StartProgram(EStart Start, const std::string &Elsewhere)
	{
		std::string Folder = gf_ProgramFolder();
		PROCESS_INFORMATION Info = {};
		bool bCreated = false;
		switch (Start)
		{
		case EStart::TypedName:
			bCreated = fg_Create((Folder + "\\hushvane.exe").c_str(), "hushvane -RunAsProgram", Elsewhere, Info);
			break;
		case EStart::RelativeElsewhere:
		{
			// Relative to this process's current folder, the program folder's parent.
			size_t Slash = Folder.find_last_of('\\');
			std::string Relative = Folder.substr(Slash + 1) + "\\hushvane.exe";
			char Previous[MAX_PATH];
			GetCurrentDirectoryA(DWORD(sizeof(Previous)), Previous);
			SetCurrentDirectoryA(Folder.substr(0, Slash).c_str());
			bCreated = fg_Create(Relative.c_str(), Relative + " -RunAsProgram", Elsewhere, Info);
			SetCurrentDirectoryA(Previous);
			break;
		}
		case EStart::ShellPathSearch:
		{
			char Path[32767];
			DWORD Length = GetEnvironmentVariableA("PATH", Path, DWORD(sizeof(Path)));
			std::string Previous(Path, Length < sizeof(Path) ? Length : 0);
			SetEnvironmentVariableA("PATH", (Folder + ";" + Previous).c_str());
			bCreated = fg_Create(nullptr, "cmd.exe /c hushvane -RunAsProgram", Elsewhere, Info);
			SetEnvironmentVariableA("PATH", Previous.c_str());
			break;
		}
		}
		if (!bCreated)
			return CKvKernelHandle();
		CloseHandle(Info.hThread);
		CKvKernelHandle hProcess(Info.hProcess);
		if (Start != EStart::ShellPathSearch)
			return hProcess;
		DWORD ProgramId = fg_FindChild(Info.dwProcessId, "hushvane.exe");
		return CKvKernelHandle(ProgramId ? OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, ProgramId) : nullptr);
	}

	bool fg_LogHas(const std::string &Text)
	{
		std::vector<std::string> Logs = gf_ReadLogs();
		return !Logs.empty() && Logs.back().find(Text) != std::string::npos;
	}

	class ProgramFolder : public ::testing::TestWithParam<CStartCase>
	{
	protected:
		void SetUp() override
		{
			gf_RemoveDriverCompletely();
			gf_ClearLogs();
			m_Elsewhere = fg_Elsewhere();
			gf_RemoveTree(m_Elsewhere);
			CreateDirectoryA(m_Elsewhere.c_str(), nullptr);
			ASSERT_TRUE(gf_WriteFile(gf_InProgramFolder("config"), "hvpf_run.exe high\r\n"));
		}

		void TearDown() override
		{
			if (m_hProgram)
			{
				TerminateProcess(m_hProgram.f_Get(), 0);
				WaitForSingleObject(m_hProgram.f_Get(), 10000);
			}
			gf_RemoveDriverCompletely();
			gf_RemoveTree(m_Elsewhere);
			gf_RemoveTree(gf_InProgramFolder("config"));
		}

		std::string m_Elsewhere;
		CKvKernelHandle m_hProgram;
	};
}

TEST_P(ProgramFolder, FindsConfigDriverImageAndLogBesideItself)
{
	m_hProgram = fg_StartProgram(GetParam().Start, m_Elsewhere);
	ASSERT_TRUE(m_hProgram.f_IsValid());

	// The log lines reach the file within the log's flush time.
	EXPECT_TRUE(gf_WaitUntil([] { return fg_LogHas("Added process hvpf_run.exe with priority high\r\n"); }, 30000))
		<< "no log beside the program naming the configured process";
	CKvFileHandle hDevice = gf_WaitForDevice();
	ASSERT_TRUE(hDevice.f_IsValid()) << "the driver image beside the program was not installed";
	CChildProcess Child("hvpf_run.exe");
	ASSERT_TRUE(Child.f_IsRunning());
	ASSERT_TRUE(gf_FeedProcessEvent(hDevice.f_Get(), GetCurrentProcessId(), Child.f_GetId(), true));
	EXPECT_TRUE(gf_WaitUntil([&] { return Child.f_GetPriorityClass() == HIGH_PRIORITY_CLASS; }, 10000));
	EXPECT_FALSE(fg_LogHas("Failed to initialize driver"));
	EXPECT_EQ(GetFileAttributesA((m_Elsewhere + "\\Log").c_str()), INVALID_FILE_ATTRIBUTES) << "a log folder in the current folder";
}

INSTANTIATE_TEST_SUITE_P(Starts, ProgramFolder,
	::testing::Values(CStartCase{"TypedName", EStart::TypedName}, CStartCase{"RelativeElsewhere", EStart::RelativeElsewhere},
		CStartCase{"ShellPathSearch", EStart::ShellPathSearch}),
	[](const ::testing::TestParamInfo<CStartCase> &Info) { return std::string(Info.param.pName); });
