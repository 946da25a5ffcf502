#include "KvWin/KvLogFile.h"
#include "KvWin/KvLogFileInternal.h"

#include "tests/zel/Clock_TestSupport.h"
#include "tests/zel/File_TestSupport.h"

#include "zel/library/core/runtime/Zel_Sys_Debug.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace NZel;
using NClockTest::CFakeClockSource;
using NFileTest::CTempFolder;
using NFileTest::gf_ReadFile;
using NFileTest::gf_WriteFile;
using NZel::NStr::CStr;
using NZel::NTime::CClock;
using NZel::NTime::CClockTime;

namespace
{
	const CClockTime gc_FourWeeks = CClockTime::fs_Span(28, 0, 0, 0);

	std::string gf_NameAt(double SecondsAfterStart)
	{
		CClockTime Time = CClockTime::fs_FromFileTime(CFakeClockSource::mc_Start) + CClockTime::fs_FromSeconds(SecondsAfterStart);
		return CKvLogFileInternal::fs_MakeFileName(Time).f_GetStr();
	}

	bool gf_WaitFor(const std::function<bool()> &Condition, double Seconds = 10.0)
	{
		auto End = std::chrono::steady_clock::now() + std::chrono::duration<double>(Seconds);
		while (!Condition())
		{
			if (std::chrono::steady_clock::now() > End)
				return false;
			std::this_thread::sleep_for(std::chrono::milliseconds(5));
		}
		return true;
	}

	// Every file of the folder, by name (names sort by the time the file was begun).
	std::map<std::string, std::string> gf_ReadFolder(const std::string &Folder)
	{
		std::map<std::string, std::string> Files;
		if (!std::filesystem::exists(Folder))
			return Files;
		for (const auto &Entry : std::filesystem::directory_iterator(Folder))
			Files["/" + Entry.path().filename().string()] = gf_ReadFile(Entry.path().generic_string());
		return Files;
	}

	std::string gf_Line(int Index, size_t Width = 0)
	{
		std::string Line = "line " + std::to_string(Index);
		if (Line.size() < Width)
			Line.append(Width - Line.size(), '.');
		return Line + "\r\n";
	}

	// Collects the log's own reports from the debugger output.
	class CReportCatcher
	{
	public:
		CReportCatcher() { fp_Previous = NSys::gf_SetDebugOutputHook(&CReportCatcher::fs_Hook, this); }
		~CReportCatcher() { NSys::gf_SetDebugOutputHook(fp_Previous, nullptr); }
		int f_GetReports()
		{
			std::lock_guard<std::mutex> Guard(fp_Mutex);
			return fp_nReports;
		}

	private:
		static void fs_Hook(const char *pPiece, void *pContext)
		{
			CReportCatcher *pThis = static_cast<CReportCatcher *>(pContext);
			if (std::string(pPiece).find("Kv_LogFile: cannot write the log file") != std::string::npos)
			{
				std::lock_guard<std::mutex> Guard(pThis->fp_Mutex);
				++pThis->fp_nReports;
			}
		}
		NSys::FDebugOutputHook fp_Previous = nullptr;
		std::mutex fp_Mutex;
		int fp_nReports = 0;
	};
}

TEST(LogFile, FileNamesFromUtcTime)
{
	struct CCase
	{
		uint64 m_FileTime;
		const char *m_pExpected;
	};
	const CCase Cases[] = {
		{134410848501230000ull, "/2026-12-07_02.40.50.123.log"},
		{0, "/1601-01-01_00.00.00.000.log"},
		{134410848509999999ull, "/2026-12-07_02.40.50.999.log"},
		{126227807990010000ull, "/2000-12-31_23.59.59.001.log"},
	};
	for (const CCase &Case : Cases)
		EXPECT_EQ(CKvLogFileInternal::fs_MakeFileName(CClockTime::fs_FromFileTime(Case.m_FileTime)), CStr(Case.m_pExpected));
	EXPECT_EQ(CKvLogFileInternal().f_GetThreadName(), CStr("Kv_LogFile"));
}

TEST(LogFile, WriteLineNeverTouchesTheDiskAFlushOrTheCloseWritesTheLines)
{
	CTempFolder Folder;
	std::string LogFolder = Folder.f_Path("Log");
	std::string Expected = LogFolder + gf_NameAt(0);
	CFakeClockSource Source;
	CClock Clock(Source);
	{
		CKvLogFileInternal Log(1000.0, Clock);
		Log.f_Open(CStr(LogFolder.c_str()), 0x10000, gc_FourWeeks);
		// The first pass makes the folder and the file even before anything is written.
		ASSERT_TRUE(gf_WaitFor([&] { return std::filesystem::exists(Expected); })) << Expected;
		Log.f_Write("Launching\r\n", 11);
		std::this_thread::sleep_for(std::chrono::milliseconds(200));
		EXPECT_EQ(gf_ReadFile(Expected), "");
		// A flush writes what was given at once, without waiting for the period.
		Log.f_Flush();
		EXPECT_TRUE(gf_WaitFor([&] { return gf_ReadFile(Expected) == "Launching\r\n"; })) << gf_ReadFile(Expected);
		Log.f_Write("Failed to initialize driver\r\n", 29);
		std::this_thread::sleep_for(std::chrono::milliseconds(200));
		EXPECT_EQ(gf_ReadFile(Expected), "Launching\r\n");
	}
	EXPECT_EQ(gf_ReadFile(Expected), "Launching\r\nFailed to initialize driver\r\n");
	EXPECT_EQ(gf_ReadFolder(LogFolder).size(), 1u);
}

TEST(LogFile, SizeLimitStartsANewFileNamedAtTheLastWriteBeforeThePass)
{
	CTempFolder Folder;
	std::string LogFolder = Folder.f_Path("Log");
	CFakeClockSource Source;
	CClock Clock(Source);
	std::string All;
	{
		CKvLogFileInternal Log(1000.0, Clock);
		Log.f_Open(CStr(LogFolder.c_str()), 0x10000, gc_FourWeeks);
		ASSERT_TRUE(gf_WaitFor([&] { return std::filesystem::exists(LogFolder + gf_NameAt(0)); }));
		std::string Big(40000, 'a');
		Log.f_Write(Big.data(), int32(Big.size()));
		Source.f_Advance(1000);
		std::string More(30000, 'b');
		Log.f_Write(More.data(), int32(More.size())); // 70000 given: a new file at +1 s
		Source.f_Advance(1000);
		Log.f_Write("c\r\n", 3); // still over the limit: the new file is begun again at +2 s
		All = Big + More + "c\r\n";
	}
	std::map<std::string, std::string> Files = gf_ReadFolder(LogFolder);
	ASSERT_EQ(Files.size(), 2u);
	EXPECT_EQ(Files[gf_NameAt(0)], "");
	EXPECT_EQ(Files[gf_NameAt(2)].size(), All.size());
	EXPECT_TRUE(Files[gf_NameAt(2)] == All);
}

TEST(LogFile, RolloverPeriodStartsANewFileAtTheNextWrite)
{
	CTempFolder Folder;
	std::string LogFolder = Folder.f_Path("Log");
	CFakeClockSource Source;
	CClock Clock(Source);
	{
		CKvLogFileInternal Log(0.02, Clock);
		Log.f_Open(CStr(LogFolder.c_str()), 0x10000, CClockTime(10, 0));
		Log.f_Write("first\r\n", 7);
		ASSERT_TRUE(gf_WaitFor([&] { return gf_ReadFile(LogFolder + gf_NameAt(0)) == "first\r\n"; }));
		Source.f_Advance(10000); // exactly the period: not yet later than it
		Log.f_Write("second\r\n", 8);
		ASSERT_TRUE(gf_WaitFor([&] { return gf_ReadFile(LogFolder + gf_NameAt(0)) == "first\r\nsecond\r\n"; }));
		Source.f_Advance(1500);
		Log.f_Write("third\r\n", 7);
		// Nothing happens in an idle log: the next rollover is only checked by a write.
		Source.f_Advance(30000);
	}
	std::map<std::string, std::string> Files = gf_ReadFolder(LogFolder);
	ASSERT_EQ(Files.size(), 2u);
	EXPECT_EQ(Files[gf_NameAt(0)], "first\r\nsecond\r\n");
	EXPECT_EQ(Files[gf_NameAt(11.5)], "third\r\n");
}

TEST(LogFile, ExistingFileIsAppendedAndEmptyLinesAddNothing)
{
	CTempFolder Folder;
	std::string LogFolder = Folder.f_Path("Log");
	std::filesystem::create_directories(LogFolder);
	gf_WriteFile(LogFolder + gf_NameAt(0), "old\r\n");
	CFakeClockSource Source;
	CClock Clock(Source);
	{
		CKvLogFileInternal Log(1000.0, Clock);
		Log.f_Open(CStr(LogFolder.c_str()), 0x10000, gc_FourWeeks);
		Log.f_Write("", 0);
		Log.f_Write(nullptr, 0);
		Log.f_Write("new\r\n", 5);
	}
	EXPECT_EQ(gf_ReadFile(LogFolder + gf_NameAt(0)), "old\r\nnew\r\n");
}

TEST(LogFile, EveryByteReachesExactlyOneFileInOrderAcrossRollovers)
{
	CTempFolder Folder;
	std::string LogFolder = Folder.f_Path("Log");
	CFakeClockSource Source;
	CClock Clock(Source);
	std::string All;
	{
		CKvLogFileInternal Log(0.01, Clock);
		Log.f_Open(CStr(LogFolder.c_str()), 4000, CClockTime(3, 0));
		for (int i = 0; i < 3000; ++i)
		{
			// One millisecond per line keeps every file name distinct and in time order.
			Source.f_Advance(1);
			std::string Line = gf_Line(i, size_t(i % 97));
			Log.f_Write(Line.data(), int32(Line.size()));
			All += Line;
			if (i % 50 == 0)
				std::this_thread::sleep_for(std::chrono::milliseconds(3)); // let passes happen in between
		}
	}
	std::map<std::string, std::string> Files = gf_ReadFolder(LogFolder);
	EXPECT_GT(Files.size(), 3u);
	std::string Joined;
	for (const auto &File : Files)
		Joined += File.second;
	EXPECT_EQ(Joined.size(), All.size());
	EXPECT_TRUE(Joined == All);
}

TEST(LogFile, LinesFromManyThreadsStayWhole)
{
	CTempFolder Folder;
	std::string LogFolder = Folder.f_Path("Log");
	constexpr int c_Threads = 4;
	constexpr int c_Lines = 500;
	{
		CKvLogFile Log;
		Log.f_Open(CStr(LogFolder.c_str()), 0x10000000, gc_FourWeeks);
		std::vector<std::thread> Threads;
		for (int t = 0; t < c_Threads; ++t)
		{
			Threads.emplace_back([&Log, t]
				{
					for (int i = 0; i < c_Lines; ++i)
						Log.f_WriteLine(CStr(("thread " + std::to_string(t) + " " + gf_Line(i, 40)).c_str()));
				});
		}
		for (std::thread &Thread : Threads)
			Thread.join();
	}
	std::map<std::string, std::string> Files = gf_ReadFolder(LogFolder);
	ASSERT_EQ(Files.size(), 1u);
	const std::string &Content = Files.begin()->second;
	std::vector<int> Next(c_Threads, 0);
	size_t Pos = 0;
	while (Pos < Content.size())
	{
		size_t End = Content.find("\r\n", Pos);
		ASSERT_NE(End, std::string::npos);
		std::string Line = Content.substr(Pos, End + 2 - Pos);
		int Thread = Line[7] - '0';
		ASSERT_TRUE(Thread >= 0 && Thread < c_Threads) << Line;
		// Each thread's lines arrive whole and in the order that thread wrote them.
		ASSERT_EQ(Line, "thread " + std::to_string(Thread) + " " + gf_Line(Next[Thread], 40));
		++Next[Thread];
		Pos = End + 2;
	}
	for (int t = 0; t < c_Threads; ++t)
		EXPECT_EQ(Next[t], c_Lines);
}

TEST(LogFile, UnwritableFileKeepsItsLinesRetriesAndReportsOnce)
{
	CTempFolder Folder;
	std::string LogFolder = Folder.f_Path("Log");
	gf_WriteFile(LogFolder, "a file where the folder should be");
	CFakeClockSource Source;
	CClock Clock(Source);
	CReportCatcher Reports;
	std::string Expected;
	{
		CKvLogFileInternal Log(0.01, Clock);
		Log.f_Open(CStr(LogFolder.c_str()), 0x10000, gc_FourWeeks);
		for (int i = 0; i < 20; ++i)
		{
			std::string Line = gf_Line(i);
			Log.f_Write(Line.data(), int32(Line.size()));
			Expected += Line;
			std::this_thread::sleep_for(std::chrono::milliseconds(10));
		}
		ASSERT_TRUE(gf_WaitFor([&] { return Reports.f_GetReports() > 0; }));
		std::this_thread::sleep_for(std::chrono::milliseconds(100)); // many failed passes
		EXPECT_EQ(Reports.f_GetReports(), 1);

		std::filesystem::remove(LogFolder);
		ASSERT_TRUE(gf_WaitFor([&] { return gf_ReadFile(LogFolder + gf_NameAt(0)) == Expected; }));
		Log.f_Write("after\r\n", 7);
		Expected += "after\r\n";
	}
	EXPECT_EQ(gf_ReadFile(LogFolder + gf_NameAt(0)), Expected);
	EXPECT_EQ(Reports.f_GetReports(), 1);
}

TEST(LogFile, OwnerWritesIntoATimeNamedFile)
{
	CTempFolder Folder;
	std::string LogFolder = Folder.f_Path("Log");
	CClockTime Before = NTime::gf_GetClock().f_GetTime();
	{
		CKvLogFile Log;
		Log.f_Open(CStr(LogFolder.c_str()), 0x10000, gc_FourWeeks);
		Log.f_WriteLine(CStr("Launching\r\n"));
		Log.f_WriteLine(CStr());
	}
	CClockTime After = NTime::gf_GetClock().f_GetTime();
	std::map<std::string, std::string> Files = gf_ReadFolder(LogFolder);
	ASSERT_EQ(Files.size(), 1u);
	const std::string &Name = Files.begin()->first;
	EXPECT_GE(Name, std::string(CKvLogFileInternal::fs_MakeFileName(Before).f_GetStr()));
	EXPECT_LE(Name, std::string(CKvLogFileInternal::fs_MakeFileName(After).f_GetStr()));
	EXPECT_EQ(Files.begin()->second, "Launching\r\n");
}
