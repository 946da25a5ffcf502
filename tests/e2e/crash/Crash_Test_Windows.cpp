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

	std::vector<std::string> fg_List(const std::string &Pattern, const std::string &Folder = fg_Folder())
	{
		std::vector<std::string> Names;
		WIN32_FIND_DATAA Data;
		HANDLE hFind = FindFirstFileA((Folder + "\\" + Pattern).c_str(), &Data);
		if (hFind == INVALID_HANDLE_VALUE)
			return Names;
		do
			Names.push_back(Data.cFileName);
		while (FindNextFileA(hFind, &Data));
		FindClose(hFind);
		std::sort(Names.begin(), Names.end());
		return Names;
	}

	std::string fg_Read(const std::string &Name, const std::string &Folder = fg_Folder())
	{
		std::ifstream File(Folder + "\\" + Name, std::ios::binary);
		std::ostringstream Content;
		Content << File.rdbuf();
		return Content.str();
	}

	void fg_RemoveCrashFiles(const std::string &Folder = fg_Folder())
	{
		for (const char *pPattern : {"CrashLog_*", "MiniDump_*", "FullDump_*"})
			for (const std::string &Name : fg_List(pPattern, Folder))
				DeleteFileA((Folder + "\\" + Name).c_str());
	}

	struct CRun
	{
		DWORD m_ExitCode = 0;
		std::string m_Output;
		std::vector<std::string> m_Logs, m_MiniDumps, m_FullDumps;
		std::string m_Log;
		double m_Seconds = 0; // from the start to the end of the process
		std::string m_Folder;
	};

	// Runs hvcrash.exe in Folder with Arguments and collects what it left. Unless bWholeMemory,
	// the full dump is made like the small one: one of the whole memory takes minutes under Wine.
	CRun fg_Run(const std::string &Arguments, bool bWholeMemory = false, const std::string &Folder = fg_Folder())
	{
		fg_RemoveCrashFiles(Folder);
		std::string const OutputPath = Folder + "\\hvcrash.out";
		SECURITY_ATTRIBUTES Inherit{sizeof(Inherit), nullptr, TRUE};
		HANDLE hOutput = CreateFileA(OutputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &Inherit, CREATE_ALWAYS, 0, nullptr);
		STARTUPINFOA Startup{};
		Startup.cb = sizeof(Startup);
		Startup.dwFlags = STARTF_USESTDHANDLES;
		Startup.hStdOutput = hOutput;
		Startup.hStdError = hOutput;
		PROCESS_INFORMATION Process{};
		std::string CommandLine = "\"" + Folder + "\\hvcrash.exe\" " + Arguments + (bWholeMemory ? "" : " -SmallFullDump");
		CRun Run;
		Run.m_Folder = Folder;
		ULONGLONG const Start = GetTickCount64();
		bool const bStarted = CreateProcessA(nullptr, CommandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, Folder.c_str(), &Startup, &Process);
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
		Run.m_Seconds = double(GetTickCount64() - Start) / 1000.0;
		GetExitCodeProcess(Process.hProcess, &Run.m_ExitCode);
		CloseHandle(Process.hProcess);
		CloseHandle(Process.hThread);
		Run.m_Output = fg_Read("hvcrash.out", Folder);
		Run.m_Logs = fg_List("CrashLog_*", Folder);
		Run.m_MiniDumps = fg_List("MiniDump_*", Folder);
		Run.m_FullDumps = fg_List("FullDump_*", Folder);
		if (Run.m_Logs.size() == 1)
			Run.m_Log = fg_Read(Run.m_Logs[0], Folder);
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
			EXPECT_EQ(fg_Read(Dump, Run.m_Folder).substr(0, 4), "MDMP") << Dump;

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

namespace
{
	// The code addresses of the trace in order, each line as the log writes it: the address,
	// then " module!function" when it is named.
	std::vector<std::string> fg_TraceAddresses(const std::string &Log)
	{
		std::vector<std::string> Lines;
		size_t Pos = Log.find("StackTrace: \n");
		if (Pos == std::string::npos)
			return Lines;
		Pos += 13;
		std::regex const Address("^0x[0-9a-f]+( .*)?$");
		while (Pos < Log.size() && Log[Pos] != '\n')
		{
			size_t const End = Log.find('\n', Pos);
			std::string const Line = Log.substr(Pos, End - Pos);
			if (std::regex_match(Line, Address))
				Lines.push_back(Line);
			Pos = End + 1;
		}
		return Lines;
	}

	struct CBadCall
	{
		std::string m_Case;
		std::string m_Target; // the exception address, unresolved; empty: any
		const char *m_pCaller;
	};

	void PrintTo(const CBadCall &Call, std::ostream *pOut)
	{
		*pOut << Call.m_Case;
	}

	class CCrashThroughABadPointer : public testing::TestWithParam<CBadCall>
	{
	};
}

// A call through a null or stale function pointer: the trace starts at the exception address,
// which no symbol covers, and goes on to the function that made the call and its callers.
TEST_P(CCrashThroughABadPointer, NamesTheCaller)
{
	CBadCall const &Call = GetParam();
	CRun const Run = fg_Run(Call.m_Case + " -Service");
	std::string const Trace = Run.m_Output + "\n" + Run.m_Log.substr(0, 4000);
	EXPECT_EQ(Run.m_ExitCode, 0xC0000005u) << Trace;
	fg_ExpectReport(Run, Call.m_Case);
	std::vector<std::string> const Frames = fg_TraceAddresses(Run.m_Log);
	ASSERT_GE(Frames.size(), 3u) << Trace;
	EXPECT_TRUE(std::regex_match(Frames[0], std::regex(gc_Address))) << Frames[0];
	if (!Call.m_Target.empty())
	{
		EXPECT_EQ(Frames[0], Call.m_Target);
	}
	EXPECT_EQ(Run.m_Log.find("StackTrace: \n" + Frames[0] + "\nStackFrame: 0x"), Run.m_Log.find("StackTrace: \n")) << Trace;
	EXPECT_EQ(fg_AddressLine(Run.m_Log), "Exception address: " + Frames[0]);
#ifdef _WIN64
	EXPECT_TRUE(std::regex_match(Frames[1], std::regex(gc_Address + " hvcrash!.*" + Call.m_pCaller + ".*"))) << Trace;
#endif
	EXPECT_NE(std::find_if(Frames.begin(), Frames.end(), [](const std::string &Line) { return Line.find("hvcrash!main") != std::string::npos; }),
		Frames.end())
		<< Trace;
}

INSTANTIATE_TEST_SUITE_P(Calls, CCrashThroughABadPointer,
	testing::Values(CBadCall{"call-null", "0x" + fg_Hex(0), "hv_CallNull"}, CBadCall{"call-freed", "", "hv_CallFreed"}),
	[](const testing::TestParamInfo<CBadCall> &Info) { return Info.param.m_Case == "call-null" ? std::string("Null") : std::string("Freed"); });

// The stack overflows while the heap works for the thread, inside the heap's lock, and while the
// thread holds the clock's lock: the report neither allocates nor waits for either. The crash log
// comes, and the process ends with the code within 30 s (the limit of 20 s on the wait cuts the dumps short where Wine is slow to
// write an overflowed thread's stack).
TEST(CrashReport, OverflowInsideTheHeapIsReported)
{
	CRun const Run = fg_Run("overflow-allocating -Service -NormalDumps -ReportLimit 20000");
	std::string const Trace = Run.m_Output + "\n" + Run.m_Log.substr(0, 4000);
	EXPECT_EQ(Run.m_ExitCode, 0xC00000FDu) << Trace;
	EXPECT_LT(Run.m_Seconds, 30.0);
	ASSERT_EQ(Run.m_Logs.size(), 1u);
	EXPECT_EQ(fg_TypeLine(Run.m_Log), "Stack overflow");
	// Where this case is meant to meet the guard page: inside the heap.
	EXPECT_NE(fg_AddressLine(Run.m_Log).find("hvcrash!NZel::NMemory::"), std::string::npos) << fg_AddressLine(Run.m_Log);
	EXPECT_GT(fg_Count(Run.m_Log, "hvcrash![^\n]*hv_RecurseAllocating"), 100);
	EXPECT_GT(fg_Count(Run.m_Log, "\n" + gc_Address + ": ([0-9a-f]{16} ){4}\n"), 8) << "the raw stack";
}

// A report that cannot go on (the overflowed thread holds the loader lock, which loading the
// debug-help library needs) ends with the exception code once the limit has passed.
TEST(CrashReport, StuckReportEndsAtTheLimit)
{
	CRun const Run = fg_Run("overflow-holding-loader-lock -Service -ReportLimit 3000");
	EXPECT_EQ(Run.m_ExitCode, 0xC00000FDu) << Run.m_Output;
	EXPECT_LT(Run.m_Seconds, 30.0);
	EXPECT_EQ(Run.m_Output.find("FAIL"), std::string::npos) << Run.m_Output;
}

#ifdef _WIN64
// A frame whose unwind would read past the end of the stack the report sees (the page above
// holds its return address and cannot be read): the trace ends at that frame and the log is
// written all the same.
TEST(CrashReport, UnwindPastTheStackEndEndsTheTrace)
{
	CRun const Run = fg_Run("unwind-past-stack-end -Service -NormalDumps");
	std::string const Trace = Run.m_Output + "\n" + Run.m_Log.substr(0, 4000);
	EXPECT_EQ(Run.m_ExitCode, 0xC00000FDu) << Trace;
	fg_ExpectReport(Run, "unwind-past-stack-end");
	std::vector<std::string> const Frames = fg_TraceAddresses(Run.m_Log);
	ASSERT_FALSE(Frames.empty()) << Trace;
	EXPECT_NE(Frames.back().find("hv_ThreadPastStackEnd"), std::string::npos) << Frames.back();
	EXPECT_GT(Frames.size(), 10u);
}
#endif

namespace
{
	// For its life, Wine prefers a library file of hvcrash.exe's own (in its folder, or named by
	// a path) to Wine's built-in one of the same name, as Windows always does.
	class CPreferProgramLibrary
	{
	public:
		explicit CPreferProgramLibrary(const char *pName)
			: fp_pName(pName)
		{
			if (RegCreateKeyExA(HKEY_CURRENT_USER, gc_Key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &fp_hKey, nullptr) != ERROR_SUCCESS)
				fp_hKey = nullptr;
			static char const c_Order[] = "native,builtin";
			if (fp_hKey)
				RegSetValueExA(fp_hKey, pName, 0, REG_SZ, reinterpret_cast<const BYTE *>(c_Order), sizeof(c_Order));
		}
		~CPreferProgramLibrary()
		{
			if (!fp_hKey)
				return;
			RegDeleteValueA(fp_hKey, fp_pName);
			RegCloseKey(fp_hKey);
		}
		CPreferProgramLibrary(const CPreferProgramLibrary &) = delete;
		CPreferProgramLibrary &operator=(const CPreferProgramLibrary &) = delete;
		bool f_IsSet() const
		{
			return fp_hKey != nullptr;
		}

	private:
		static constexpr const char *gc_Key = "Software\\Wine\\AppDefaults\\hvcrash.exe\\DllOverrides";
		const char *fp_pName;
		HKEY fp_hKey = nullptr;
	};
}

// A "Dbghelp.dll" planted beside the program is never loaded by a crash: the system's one is,
// and the files come as always. (Wine, unlike Windows, takes its own library before one in the
// program's folder unless told otherwise; the test tells it.)
TEST(CrashReport, PlantedDbghelpIsNotLoaded)
{
	std::string const Planted = fg_Folder() + "\\planted";
	std::string const Mark = Planted + "\\Planted.loaded";
	ASSERT_TRUE(CopyFileA((fg_Folder() + "\\hvcrash.exe").c_str(), (Planted + "\\hvcrash.exe").c_str(), FALSE)) << Planted;
	CPreferProgramLibrary const Prefer("dbghelp");
	ASSERT_TRUE(Prefer.f_IsSet());

	// The stand-in marks its loading (here by its full path).
	DeleteFileA(Mark.c_str());
	CRun const Load = fg_Run("load-library \"" + Planted + "\\Dbghelp.dll\"", false, Planted);
	EXPECT_EQ(Load.m_ExitCode, 0u) << Load.m_Output;
	EXPECT_NE(GetFileAttributesA(Mark.c_str()), INVALID_FILE_ATTRIBUTES) << "the stand-in left no mark";
	DeleteFileA(Mark.c_str());

	CRun const Run = fg_Run("write 0 -Service", false, Planted);
	EXPECT_EQ(GetFileAttributesA(Mark.c_str()), INVALID_FILE_ATTRIBUTES) << "the planted library was loaded";
	EXPECT_EQ(Run.m_ExitCode, 0xC0000005u) << Run.m_Output;
	fg_ExpectReport(Run, "write 0, planted");
	EXPECT_NE(fg_AddressLine(Run.m_Log).find("hvcrash!hv_CrashWrite"), std::string::npos) << fg_AddressLine(Run.m_Log);
	fg_RemoveCrashFiles(Planted);
	DeleteFileA((Planted + "\\hvcrash.exe").c_str());
	DeleteFileA(Mark.c_str());
}

// The reports are events in the Application log too: the watchdog's first, then the crash's,
// which names the files. Wine stores no event; it writes the strings of an error event to its
// eventlog channel, on the Unix standard error the crashing program inherits from this one,
// which the test runner keeps in the file HV_OUTPUT_FILE names.
TEST(CrashReport, TheWatchdogsAndTheCrashsReportsAreEvents)
{
	char OutputFile[MAX_PATH] = {};
	DWORD const Length = GetEnvironmentVariableA("HV_OUTPUT_FILE", OutputFile, DWORD(sizeof(OutputFile)));
	if (Length == 0 || Length >= sizeof(OutputFile) || OutputFile[0] != '/')
		GTEST_SKIP() << "needs the test runner's output file (scripts/wine-run)";
	std::string Channel = std::string("Z:") + OutputFile;
	for (char &Char : Channel)
		Char = Char == '/' ? '\\' : Char;
	size_t const Slash = Channel.find_last_of('\\');
	auto fChannel = [&] { return fg_Read(Channel.substr(Slash + 1), Channel.substr(0, Slash)); };
	std::string const Before = fChannel();

	char Previous[256] = {};
	bool const bHadPrevious = GetEnvironmentVariableA("WINEDEBUG", Previous, DWORD(sizeof(Previous))) > 0;
	SetEnvironmentVariableA("WINEDEBUG", "err+eventlog");
	CRun const Run = fg_Run("watchdog-stall 3 -Service");
	SetEnvironmentVariableA("WINEDEBUG", bHadPrevious ? Previous : nullptr);
	std::string const All = fChannel();
	std::string const Written = All.size() > Before.size() ? All.substr(Before.size()) : std::string();

	fg_ExpectReport(Run, "watchdog-stall, events");
	auto fInsert = [&](const std::string &Text) { return Written.find("eventlog:ReportEventW L\"" + Text + "\""); };
	size_t const NotResponding = fInsert("Hushvane");
	size_t const Type = fInsert("Access violation trying to write to address: 0x" + fg_Hex(0));
	// The event names the files as the crash box does: the folder with '/' between its parts.
	std::string Folder = Run.m_Folder;
	for (char &Char : Folder)
		Char = Char == '\\' ? '/' : Char;
	size_t const Log = fInsert(Folder + "/" + Run.m_Logs[0]);
	size_t const Dumps = fInsert(Folder + "/" + Run.m_MiniDumps[0] + ", " + Folder + "/" + Run.m_FullDumps[0]);
	EXPECT_NE(NotResponding, std::string::npos) << Written;
	EXPECT_NE(Type, std::string::npos) << Written;
	EXPECT_NE(Log, std::string::npos) << Written;
	EXPECT_NE(Dumps, std::string::npos) << Written;
	EXPECT_LT(NotResponding, Type) << "the watchdog's event comes before the crash's";
}
