// The crash reporter end to end: hvcrash.exe (beside this test) meets each kind of exception
// unattended, and the test reads what it left in its folder: the crash log, both dumps and
// its exit code. Also the faults of a damaged stack and the unattended watchdog.
#include <gtest/gtest.h>

#include <cstdint>

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace
{
	std::string fg_Folder()
	{
		char Path[MAX_PATH];
		DWORD Len = GetModuleFileNameA(nullptr, Path, MAX_PATH);
		std::string Folder(Path, Len);
		return Folder.substr(0, Folder.find_last_of("\\/"));
	}

	std::vector<std::string> fg_List(const std::string &Pattern)
	{
		std::vector<std::string> Names;
		WIN32_FIND_DATAA Data;
		HANDLE hFind = FindFirstFileA((fg_Folder() + "\\" + Pattern).c_str(), &Data);
		if (hFind == INVALID_HANDLE_VALUE)
			return Names;
		do
			Names.push_back(Data.cFileName);
		while (FindNextFileA(hFind, &Data));
		FindClose(hFind);
		std::sort(Names.begin(), Names.end());
		return Names;
	}

	std::string fg_Read(const std::string &Name)
	{
		std::ifstream File(fg_Folder() + "\\" + Name, std::ios::binary);
		std::ostringstream Content;
		Content << File.rdbuf();
		return Content.str();
	}

	void fg_RemoveCrashFiles()
	{
		for (const char *pPattern : {"CrashLog_*", "MiniDump_*", "FullDump_*"})
			for (const std::string &Name : fg_List(pPattern))
				DeleteFileA((fg_Folder() + "\\" + Name).c_str());
	}

	struct CRun
	{
		DWORD m_ExitCode = 0;
		std::string m_Output;
		std::vector<std::string> m_Logs, m_MiniDumps, m_FullDumps;
		std::string m_Log;
	};

	// Runs hvcrash.exe with Arguments and collects what it left. Unless bWholeMemory, the full
	// dump is made like the small one: one of the whole memory takes minutes under Wine.
	CRun fg_Run(const std::string &Arguments, bool bWholeMemory = false)
	{
		fg_RemoveCrashFiles();
		std::string const OutputPath = fg_Folder() + "\\hvcrash.out";
		SECURITY_ATTRIBUTES Inherit{sizeof(Inherit), nullptr, TRUE};
		HANDLE hOutput = CreateFileA(OutputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &Inherit, CREATE_ALWAYS, 0, nullptr);
		STARTUPINFOA Startup{};
		Startup.cb = sizeof(Startup);
		Startup.dwFlags = STARTF_USESTDHANDLES;
		Startup.hStdOutput = hOutput;
		Startup.hStdError = hOutput;
		PROCESS_INFORMATION Process{};
		std::string CommandLine = "\"" + fg_Folder() + "\\hvcrash.exe\" " + Arguments + (bWholeMemory ? "" : " -SmallFullDump");
		CRun Run;
		bool const bStarted = CreateProcessA(nullptr, CommandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, fg_Folder().c_str(), &Startup, &Process);
		CloseHandle(hOutput);
		EXPECT_TRUE(bStarted) << CommandLine;
		if (!bStarted)
			return Run;
		// Generous: symbols and dumps take long on a loaded machine under Wine.
		if (WaitForSingleObject(Process.hProcess, 480000) != WAIT_OBJECT_0)
		{
			ADD_FAILURE() << Arguments << ": did not end";
			TerminateProcess(Process.hProcess, 1);
			WaitForSingleObject(Process.hProcess, 10000);
		}
		GetExitCodeProcess(Process.hProcess, &Run.m_ExitCode);
		CloseHandle(Process.hProcess);
		CloseHandle(Process.hThread);
		Run.m_Output = fg_Read("hvcrash.out");
		Run.m_Logs = fg_List("CrashLog_*");
		Run.m_MiniDumps = fg_List("MiniDump_*");
		Run.m_FullDumps = fg_List("FullDump_*");
		if (Run.m_Logs.size() == 1)
			Run.m_Log = fg_Read(Run.m_Logs[0]);
		return Run;
	}

	std::string fg_Hex(std::uintptr_t Value)
	{
		char Text[32];
		std::snprintf(Text, sizeof(Text), "%0*llx", int(sizeof(void *) * 2), static_cast<unsigned long long>(Value));
		return Text;
	}

	std::string const gc_Address = "0x[0-9a-f]{" + std::to_string(sizeof(void *) * 2) + "}";

	int fg_Count(const std::string &Text, const std::string &Pattern)
	{
		std::regex const Expression(Pattern);
		return int(std::distance(std::sregex_iterator(Text.begin(), Text.end(), Expression), std::sregex_iterator()));
	}

	// The three files of one crash, with one time stamp, and a log in its order.
	void fg_ExpectReport(const CRun &Run, const std::string &Case)
	{
		SCOPED_TRACE(Case + "\n--- output:\n" + Run.m_Output + "\n--- log:\n" + Run.m_Log.substr(0, 3000));
		ASSERT_EQ(Run.m_Logs.size(), 1u);
		ASSERT_EQ(Run.m_MiniDumps.size(), 1u);
		ASSERT_EQ(Run.m_FullDumps.size(), 1u);
		std::smatch Stamp;
		std::string const &LogName = Run.m_Logs[0];
		ASSERT_TRUE(std::regex_match(LogName, Stamp, std::regex(R"(CrashLog_(\d{4}-\d\d-\d\d_\d\d\.\d\d\.\d\d\.\d{3})\.txt)")));
		EXPECT_EQ(Run.m_MiniDumps[0], "MiniDump_" + Stamp[1].str() + ".dmp");
		EXPECT_EQ(Run.m_FullDumps[0], "FullDump_" + Stamp[1].str() + ".dmp");
		for (const std::string &Dump : {Run.m_MiniDumps[0], Run.m_FullDumps[0]})
			EXPECT_EQ(fg_Read(Dump).substr(0, 4), "MDMP") << Dump;

		// The sections in their order.
		std::string const &Log = Run.m_Log;
		size_t Pos = 0;
		for (const char *pHeading : {"Unhandeled excepion\n\nException type: ", "\n\nException address: 0x", "Integer registers:\n",
				 "Control registers:\n", "StackTrace: \n", "StackFrame: 0x"})
		{
			size_t Found = Log.find(pHeading, Pos);
			EXPECT_NE(Found, std::string::npos) << "missing or out of order: " << pHeading;
			if (Found != std::string::npos)
				Pos = Found;
		}
		// The raw stack: full lines of four 8-byte groups after the trace.
		EXPECT_GT(fg_Count(Log, "\n" + gc_Address + ": ([0-9a-f]{16} ){4}\n"), 8);
	}

	std::string fg_TypeLine(const std::string &Log)
	{
		size_t Begin = Log.find("Exception type: ");
		if (Begin == std::string::npos)
			return "";
		Begin += 16;
		return Log.substr(Begin, Log.find('\n', Begin) - Begin);
	}

	std::string fg_AddressLine(const std::string &Log)
	{
		size_t Begin = Log.find("Exception address: ");
		if (Begin == std::string::npos)
			return "";
		return Log.substr(Begin, Log.find('\n', Begin) - Begin);
	}

#ifdef _WIN64
	constexpr std::uintptr_t gc_FarAddress = std::uintptr_t(0x0000123456789AB0ull); // beyond 32 bits on purpose
#else
	constexpr std::uintptr_t gc_FarAddress = 0x00000FF0;
#endif

	struct CCase
	{
		std::string m_Arguments;
		DWORD m_ExitCode;
		std::string m_Type;
		const char *m_pCrashFunction; // named at the exception address; null: not ours
		const char *m_pCaller;        // a function the trace must name
	};

	std::vector<CCase> fg_Cases()
	{
		return {
			{"write 0", 0xC0000005, "Access violation trying to write to address: 0x" + fg_Hex(0), "hv_CrashWrite", "main"},
			{"read " + fg_Hex(gc_FarAddress), 0xC0000005, "Access violation trying to read to address: 0x" + fg_Hex(gc_FarAddress),
				"hv_CrashRead", "main"},
			{"divide", 0xC0000094, "Integer divide by zero", "hv_CrashDivide", "main"},
			{"doublefree", 0xC0000374, "Unknown", nullptr, "hv_CrashDoubleFree"},
			{"breakpoint", 0x80000003, "Breakpoint", "hv_CrashBreakpoint", "main"},
			{"unknown", 0xE0481234, "Unknown", nullptr, "hv_CrashUnknown"},
			{"overflow", 0xC00000FD, "Stack overflow", "hv_Recurse", "hv_Recurse"},
			{"thread", 0xC0000005, "Access violation trying to write to address: 0x" + fg_Hex(0x20), "hv_CrashWrite", "CCrashingThread"},
		};
	}

	// Test names show the command line, not the bytes of the row.
	void PrintTo(const CCase &Case, std::ostream *pOut)
	{
		*pOut << Case.m_Arguments;
	}

	class CCrashKind : public testing::TestWithParam<CCase>
	{
	};
}

// Each kind unattended (as a service): the three files, the exit code, the type text, the
// crashing function named at the exception address and the callers in the trace.
TEST_P(CCrashKind, LeavesTheThreeFiles)
{
	CCase const &Case = GetParam();
	CRun const Run = fg_Run(Case.m_Arguments + " -Service");
	std::string const Trace = Case.m_Arguments + "\n" + Run.m_Output + "\n" + Run.m_Log.substr(0, 4000);
	EXPECT_EQ(Run.m_ExitCode, Case.m_ExitCode) << Trace;
	fg_ExpectReport(Run, Case.m_Arguments);
	EXPECT_EQ(fg_TypeLine(Run.m_Log), Case.m_Type) << Trace;
	std::string const AddressLine = fg_AddressLine(Run.m_Log);
	if (Case.m_pCrashFunction)
		EXPECT_TRUE(std::regex_match(AddressLine, std::regex("Exception address: " + gc_Address + R"( \(hvcrash!.*)" + Case.m_pCrashFunction + R"(.*\))")))
			<< AddressLine << "\n" << Trace;
	else
		EXPECT_TRUE(std::regex_match(AddressLine, std::regex("Exception address: " + gc_Address + ".*"))) << AddressLine;
	// A named frame: address, module!function, then file:line.
	EXPECT_TRUE(std::regex_search(
		Run.m_Log, std::regex(gc_Address + " hvcrash![^\n]*" + Case.m_pCaller + "[^\n]*\n[^\n]*:[0-9]+\nStackFrame: " + gc_Address + "\n")))
		<< Trace;
}

INSTANTIATE_TEST_SUITE_P(Kinds, CCrashKind, testing::ValuesIn(fg_Cases()),
	[](const testing::TestParamInfo<CCase> &Info) {
		std::string Name = Info.param.m_Arguments.substr(0, Info.param.m_Arguments.find(' '));
		return Name;
	});

TEST(CrashReport, RegisterSectionsOfThisBuildAndAFullDump)
{
	CRun const Run = fg_Run("write 0 -Service", true);
	fg_ExpectReport(Run, "write 0");
	if (Run.m_FullDumps.size() == 1 && Run.m_MiniDumps.size() == 1)
	{
		EXPECT_GT(fg_Read(Run.m_FullDumps[0]).size(), 4 * fg_Read(Run.m_MiniDumps[0]).size()) << "the full dump holds the memory";
	}
#ifdef _WIN64
	for (const char *pLine : {"\nRax=", " Rbx=", "\nR14=", " R15=", "\nRip=", " Rsp=", "\nSegCs=", " EFlags=", "\nSSE registers:\nMXCSR=", "\nXmm14="})
		EXPECT_NE(Run.m_Log.find(pLine), std::string::npos) << pLine;
	EXPECT_EQ(fg_Count(Run.m_Log, "\nRip=0x[0-9a-f]{16} Rbp=0x[0-9a-f]{16} Rsp=0x[0-9a-f]{16}\n"), 1);
	EXPECT_EQ(fg_Count(Run.m_Log, "Xmm[0-9]+=0x[0-9a-f]{32}"), 16);
	EXPECT_EQ(Run.m_Log.find("Eip="), std::string::npos);
#else
	EXPECT_EQ(fg_Count(Run.m_Log, "\nEip=0x[0-9a-f]{8} Ebp=0x[0-9a-f]{8} Esp=0x[0-9a-f]{8}\n"), 1);
	EXPECT_EQ(fg_Count(Run.m_Log, "Xmm[0-9]+=0x[0-9a-f]{32}"), 8);
#endif
	EXPECT_EQ(fg_Count(Run.m_Log, "St[0-7]=0x[0-9a-f]{20}"), 8);
}

TEST(CrashReport, DamagedStackEndsTheTraceWithoutASecondCrash)
{
	// A chain longer than the walk's limit is cut at 1024 frames.
	CRun const Deep = fg_Run("deep 1500 -Service");
	EXPECT_EQ(Deep.m_ExitCode, 0xC0000005u);
	fg_ExpectReport(Deep, "deep 1500");
	EXPECT_EQ(fg_Count(Deep.m_Log, "StackFrame: "), 1024);

	// A frame whose links were overwritten: the trace stops there, the rest of the log follows.
	CRun const Broken = fg_Run("broken-chain -Service");
	EXPECT_EQ(Broken.m_ExitCode, 0xC0000005u) << Broken.m_Output;
	fg_ExpectReport(Broken, "broken-chain");
	int const Frames = fg_Count(Broken.m_Log, "StackFrame: ");
	EXPECT_GE(Frames, 1);
	EXPECT_LT(Frames, 1024);
}

TEST(Watchdog, UnattendedStallReportsAtOnceOnTheWatchThread)
{
	CRun const Run = fg_Run("watchdog-stall 3 -Service");
	EXPECT_EQ(Run.m_ExitCode, 0xC0000005u) << Run.m_Output;
	fg_ExpectReport(Run, "watchdog-stall");
	EXPECT_EQ(fg_TypeLine(Run.m_Log), "Access violation trying to write to address: 0x" + fg_Hex(0));
	EXPECT_NE(fg_AddressLine(Run.m_Log).find("fs_MakeErrorReport"), std::string::npos) << fg_AddressLine(Run.m_Log);
}

TEST(Watchdog, HeldUpWatchAndSuppressedReportsMakeNoReport)
{
	for (const char *pCase : {"watchdog-gap 3 -Service", "watchdog-suppress 3 -Service"})
	{
		CRun const Run = fg_Run(pCase);
		EXPECT_EQ(Run.m_ExitCode, 0u) << pCase << "\n" << Run.m_Output << Run.m_Log.substr(0, 2000);
		EXPECT_TRUE(Run.m_Logs.empty()) << pCase;
	}
}
