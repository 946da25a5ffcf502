#include "zel/library/core/file/Zel_File.h"
#include "zel/library/core/runtime/Zel_Sys_File_Path.h"

#include "tests/zel/File_TestSupport.h"

#include <filesystem>
#include <cstring>
#include <string>
#include <vector>

using namespace NZel;
using namespace NZel::NSys::NFile;
using NFileTest::CTempFolder;
using NFileTest::gf_MessageOf;
using NFileTest::gf_ReadFile;
using NFileTest::gf_WriteFile;
using NZel::NFile::CFile;
using NZel::NStr::CStr;

namespace
{
	const std::string gc_Nothing = "(nothing thrown)";

	bool gf_StartsWith(const std::string &Text, const std::string &Prefix)
	{
		return Text.compare(0, Prefix.size(), Prefix) == 0;
	}
}

TEST(File, OpenFlagChecksInOrder)
{
	struct CCase
	{
		uint32 m_Flags;
		const char *m_pMessage;
	};
	const CCase Cases[] = {
		{0x00, "Open flags contain neither read or write flags, one of them must be specified"},
		{0x7C, "Open flags contain neither read or write flags, one of them must be specified"},
		{0x15, "Conflicting open flags (both don't open existing and don't create)"},
		{0x16, "Conflicting open flags (both don't open existing and don't create)"},
		{0x11, "You are trying to open a file that does not exist for read access only, this makes no sence)"},
		{0x13, nullptr},
		{0x01, nullptr},
		{0xAA, nullptr},
	};
	for (const CCase &Case : Cases)
	{
		const char *pError = gf_GetOpenFlagsError(Case.m_Flags);
		if (Case.m_pMessage)
		{
			EXPECT_STREQ(pError, Case.m_pMessage) << std::hex << Case.m_Flags;
		}
		else
		{
			EXPECT_EQ(pError, nullptr) << std::hex << Case.m_Flags;
		}
	}
	CTempFolder Folder;
	for (const CCase &Case : Cases)
	{
		if (Case.m_pMessage)
		{
			EXPECT_EQ(gf_MessageOf([&] { gf_Open(Folder.f_CStr("never"), Case.m_Flags); }), Case.m_pMessage);
		}
	}
	EXPECT_FALSE(std::filesystem::exists(Folder.f_Path("never")));
}

TEST(File, CreationDispositionTable)
{
	struct CCase
	{
		uint32 m_Flags;
		ECreationDisposition m_Expected;
	};
	const CCase Cases[] = {
		{0x10 | 0x02, ECreationDisposition_CreateNew},
		{0x10 | 0x08 | 0x02, ECreationDisposition_CreateNew},
		{0x04 | 0x08 | 0x02, ECreationDisposition_OpenExisting},
		{0x04 | 0x02, ECreationDisposition_TruncateExisting},
		{0x04 | 0x01, ECreationDisposition_TruncateExisting},
		{0x01, ECreationDisposition_OpenExisting},
		{0x61, ECreationDisposition_OpenExisting},
		{0x08 | 0x01, ECreationDisposition_OpenExisting},
		{0xAA, ECreationDisposition_OpenAlways},
		{0x02, ECreationDisposition_CreateAlways},
		{0x03, ECreationDisposition_CreateAlways},
	};
	for (const CCase &Case : Cases)
		EXPECT_EQ(gf_GetCreationDisposition(Case.m_Flags), Case.m_Expected) << std::hex << Case.m_Flags;
}

TEST(File, OpenBehaviourOnDisk)
{
	CTempFolder Folder;
	std::string Path = Folder.f_Path("data.txt");

	// Read-only open of a missing file: the system's error for the open call.
	std::string Message = gf_MessageOf([&] { gf_Open(CStr(Path.c_str()), 0x01); });
	EXPECT_TRUE(gf_StartsWith(Message, "Windows returned an error from CreateFile: ")) << Message;
	EXPECT_GT(Message.size(), std::string("Windows returned an error from CreateFile: ").size());

	// 0x13 creates a new file and refuses an existing one.
	gf_Close(gf_Open(CStr(Path.c_str()), 0x13));
	EXPECT_TRUE(std::filesystem::exists(Path));
	Message = gf_MessageOf([&] { gf_Open(CStr(Path.c_str()), 0x13); });
	EXPECT_TRUE(gf_StartsWith(Message, "Windows returned an error from CreateFile: ")) << Message;

	// Write with keep contents appends nothing by itself and never truncates; plain write truncates.
	gf_WriteFile(Path, "0123456789");
	gf_Close(gf_Open(CStr(Path.c_str()), 0xAA));
	EXPECT_EQ(gf_ReadFile(Path), "0123456789");
	gf_Close(gf_Open(CStr(Path.c_str()), 0x02));
	EXPECT_EQ(gf_ReadFile(Path), "");

	// Don't create: a missing file is an error, an existing one is truncated without keep.
	Message = gf_MessageOf([&] { gf_Open(Folder.f_CStr("missing"), 0x06); });
	EXPECT_TRUE(gf_StartsWith(Message, "Windows returned an error from CreateFile: ")) << Message;
	EXPECT_FALSE(std::filesystem::exists(Folder.f_Path("missing")));
	gf_WriteFile(Path, "abc");
	gf_Close(gf_Open(CStr(Path.c_str()), 0x06));
	EXPECT_EQ(gf_ReadFile(Path), "");
}

TEST(File, ReadsAndWritesAtExplicitPositions)
{
	CTempFolder Folder;
	std::string Path = Folder.f_Path("rw.bin");
	gf_WriteFile(Path, "hello world");
	CFileHandle *pFile = gf_Open(CStr(Path.c_str()), 0x0B);
	EXPECT_EQ(gf_GetSize(pFile), 11u);
	char Buffer[16] = {};
	EXPECT_EQ(gf_Read(pFile, Buffer, 6, 5), 5u);
	EXPECT_EQ(std::string(Buffer, 5), "world");
	// Reading at the end transfers nothing and is not an error at this level.
	EXPECT_EQ(gf_Read(pFile, Buffer, 11, 4), 0u);
	EXPECT_EQ(gf_Write(pFile, "HELLO", 0, 5), 5u);
	EXPECT_EQ(gf_Write(pFile, "!", 13, 1), 1u);
	gf_Flush(pFile);
	EXPECT_EQ(gf_GetSize(pFile), 14u);
	gf_Close(pFile);
	std::string Content = gf_ReadFile(Path);
	EXPECT_EQ(Content.substr(0, 11), "HELLO world");
	EXPECT_EQ(Content.substr(13), "!");
	gf_Close(nullptr);
}

TEST(File, CFileReadPastEndAndPositions)
{
	CTempFolder Folder;
	std::string Path = Folder.f_Path("hundred.bin");
	std::string Hundred;
	for (int i = 0; i < 100; ++i)
		Hundred.push_back(char('A' + i % 26));
	gf_WriteFile(Path, Hundred);

	CFile File(CStr(Path.c_str()), 0x01);
	EXPECT_EQ(File.f_SetPositionFromEnd(-5), 95u);
	char Buffer[10] = {};
	EXPECT_EQ(gf_MessageOf([&] { File.f_Read(Buffer, 10); }), "Read call would have read past end of file");
	EXPECT_EQ(File.f_GetPosition(), 95u);
	File.f_Read(Buffer, 5);
	EXPECT_EQ(std::string(Buffer, 5), Hundred.substr(95));
	EXPECT_EQ(File.f_GetPosition(), 100u);

	struct CCase
	{
		int64 m_Offset;
		const char *m_pMessage; // null: succeeds with size + offset
	};
	const CCase ReadOnly[] = {{0, nullptr}, {-100, nullptr}, {-120, "Position is negative"}, {-101, "Position is negative"},
		{1, "Position is past end of file"}, {INT64_MIN, "Position is negative"}};
	for (const CCase &Case : ReadOnly)
	{
		std::string Message = gf_MessageOf([&] { File.f_SetPositionFromEnd(Case.m_Offset); });
		if (Case.m_pMessage)
		{
			EXPECT_EQ(Message, Case.m_pMessage) << Case.m_Offset;
		}
		else
		{
			EXPECT_EQ(File.f_GetPosition(), uint64(100 + Case.m_Offset)) << Case.m_Offset;
		}
	}

	File.f_Close(); // opened without sharing: nobody else may open it meanwhile
	CFile Writable(CStr(Path.c_str()), 0x0B);
	EXPECT_EQ(Writable.f_SetPositionFromEnd(1), 101u);
	EXPECT_EQ(Writable.f_Write("Z", 1), 1u);
	EXPECT_EQ(Writable.f_GetPosition(), 102u);
	EXPECT_EQ(Writable.f_GetSize(), 102u);
}

TEST(File, ClosedFileRefusesEveryOperation)
{
	CFile File;
	char Buffer[4];
	EXPECT_EQ(gf_MessageOf([&] { File.f_Read(Buffer, 1); }), "File not open");
	EXPECT_EQ(gf_MessageOf([&] { File.f_Write(Buffer, 1); }), "File not open");
	EXPECT_EQ(gf_MessageOf([&] { File.f_SetPositionFromEnd(0); }), "File not open");
	EXPECT_EQ(gf_MessageOf([&] { File.f_GetSize(); }), "File not open");
	EXPECT_EQ(gf_MessageOf([&] { File.f_Flush(); }), "File not open");
	EXPECT_EQ(gf_MessageOf([&] { File.f_Close(); }), gc_Nothing);

	CTempFolder Folder;
	File.f_Open(Folder.f_CStr("a"), 0x02);
	File.f_Write("abc", 3);
	File.f_Close();
	File.f_Close();
	EXPECT_FALSE(File.f_IsOpen());
	EXPECT_EQ(gf_MessageOf([&] { File.f_Write(Buffer, 1); }), "File not open");

	// Reopening starts at 0 again with the new flags.
	File.f_Open(Folder.f_CStr("a"), 0x01);
	EXPECT_EQ(File.f_GetPosition(), 0u);
	File.f_Read(Buffer, 3);
	EXPECT_EQ(std::string(Buffer, 3), "abc");
	EXPECT_EQ(gf_MessageOf([&] { File.f_SetPositionFromEnd(1); }), "Position is past end of file");

	// A moved-from file is closed, the target owns the handle.
	CFile Moved(std::move(File));
	EXPECT_FALSE(File.f_IsOpen());
	EXPECT_TRUE(Moved.f_IsOpen());
}

TEST(File, ExistsByKind)
{
	CTempFolder Folder;
	gf_WriteFile(Folder.f_Path("file"), "x");
	struct CCase
	{
		std::string m_Name;
		uint32 m_Accept;
		bool m_Expected;
	};
	const CCase Cases[] = {
		{"", 0x20, false}, {"", 0x21, true}, {"", 0x01, true},
		{"file", 0x20, true}, {"file", 0x21, true}, {"file", 0x01, false},
		{"missing", 0x21, false}, {"missing", 0x20, false},
	};
	for (const CCase &Case : Cases)
		EXPECT_EQ(gf_Exists(Folder.f_CStr(Case.m_Name), Case.m_Accept), Case.m_Expected) << Case.m_Name << " " << Case.m_Accept;
	EXPECT_FALSE(gf_Exists(CStr(), 0x21));
}

TEST(File, WidePathsReadUtf8WhereValidAndLatin1Elsewhere)
{
	struct
	{
		const char *pPath;
		NZel::uint32 Kind;
		std::u16string Expected;
	} const Cases[] = {
		{"C:/Tools/prog", NStr::gc_KindLatin1, u"C:/Tools/prog"},
		{"C:/Caf\xC3\xA9/\xF0\x9F\x98\x80", NStr::gc_KindLatin1, u"C:/Caf\u00E9/\U0001F600"}, // whatever the mark says
		{"C:/Caf\xE9", NStr::gc_KindLatin1, u"C:/Caf\u00E9"},                               // not UTF-8: byte by byte
		{"C:/Caf\xE9", NStr::gc_KindUnicode, u"C:/Caf\u00E9"},
		{"", NStr::gc_KindLatin1, u""},
	};
	for (auto const &Case : Cases)
	{
		NStr::CStr16 Wide = gf_ToWidePath(CStr(Case.pPath, -1, Case.Kind));
		EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(Wide.f_GetStr()), NZel::umint(Wide.f_GetLen())), Case.Expected) << Case.pPath;
	}

	std::u16string const Units = u"C:/\U0001F600/\xD800" u"x";
	CStr Narrow = gf_FromWidePath(NStr::CStr16(reinterpret_cast<const NStr::CChar16 *>(Units.c_str()), -1, NStr::gc_KindLatin1));
	EXPECT_STREQ(Narrow.f_GetStr(), "C:/\xF0\x9F\x98\x80/\xEF\xBF\xBDx") << "one 4-byte sequence; a lone surrogate is U+FFFD";
	EXPECT_EQ(Narrow.f_GetKind(), NStr::gc_KindUnicode);
}

TEST(File, DirectoryPrefixes)
{
	struct CCase
	{
		const char *m_pPath;
		std::vector<umint> m_Expected;
	};
	const CCase Cases[] = {
		{"C:\\a\\b\\c", {4, 6, 8}},
		{"C:\\a", {4}},
		{"C:\\", {}},
		{"C:\\a\\b\\", {4, 6}},
		{"\\\\server\\share\\a\\b", {14, 16, 18}},
		{"\\\\server\\share", {14}},
		{"a\\b", {1, 3}},
		{"\\tmp\\x", {4, 6}},
		{"name", {}},
		{"", {}},
	};
	for (const CCase &Case : Cases)
		EXPECT_EQ(NPrivate::gf_DirectoryPrefixes(Case.m_pPath, std::strlen(Case.m_pPath)), Case.m_Expected) << Case.m_pPath;
}

TEST(File, CreateDirectoryMakesEveryMissingFolder)
{
	CTempFolder Folder;
	// The test folder exists; the two below it do not.
	gf_CreateDirectory(CStr((Folder.f_Path() + "/second/third").c_str()));
	EXPECT_TRUE(std::filesystem::is_directory(Folder.f_Path("second/third")));
	// Existing folders are left alone.
	gf_WriteFile(Folder.f_Path("second/keep"), "k");
	gf_CreateDirectory(CStr((Folder.f_Path() + "\\second\\third\\fourth").c_str()));
	EXPECT_TRUE(std::filesystem::is_directory(Folder.f_Path("second/third/fourth")));
	EXPECT_EQ(gf_ReadFile(Folder.f_Path("second/keep")), "k");

	// A file in the way: the folders before it stay, the error names the system call.
	gf_WriteFile(Folder.f_Path("blocker"), "b");
	// "made" is new, "made/.." is the test folder, "blocker" is a file: the third step fails.
	std::string Message = gf_MessageOf([&] { gf_CreateDirectory(CStr((Folder.f_Path() + "/made/../blocker/x").c_str())); });
	EXPECT_TRUE(gf_StartsWith(Message, "Windows returned an error from CreateDirectory: ")) << Message;
	EXPECT_TRUE(std::filesystem::is_directory(Folder.f_Path("made")));
}

TEST(File, CreateDirectoryWithoutSeparatorCreatesNothing)
{
	CTempFolder Folder;
	std::filesystem::path Previous = std::filesystem::current_path();
	std::filesystem::current_path(Folder.f_Path());
	gf_CreateDirectory(CStr("bare_folder_name"));
	bool bCreated = std::filesystem::exists(Folder.f_Path("bare_folder_name"));
	gf_CreateDirectory(CStr("rel/sub"));
	bool bRelative = std::filesystem::is_directory(Folder.f_Path("rel/sub"));
	std::filesystem::current_path(Previous);
	EXPECT_FALSE(bCreated);
	EXPECT_TRUE(bRelative);
}

TEST(File, CopyAndRename)
{
	CTempFolder Folder;
	gf_WriteFile(Folder.f_Path("source"), "new content");
	gf_WriteFile(Folder.f_Path("target"), "old content that is longer");
	gf_Copy(Folder.f_CStr("source"), Folder.f_CStr("target"));
	EXPECT_EQ(gf_ReadFile(Folder.f_Path("target")), "new content");

	std::string Message = gf_MessageOf([&] { gf_Copy(Folder.f_CStr("missing"), Folder.f_CStr("x")); });
	EXPECT_TRUE(gf_StartsWith(Message, "Windows returned an error from CopyFile: ")) << Message;

	Message = gf_MessageOf([&] { gf_Rename(Folder.f_CStr("source"), Folder.f_CStr("target")); });
	EXPECT_TRUE(gf_StartsWith(Message, "Windows returned an error from MoveFile: ")) << Message;
	EXPECT_EQ(gf_ReadFile(Folder.f_Path("source")), "new content");
	gf_Rename(Folder.f_CStr("source"), Folder.f_CStr("renamed"));
	EXPECT_FALSE(std::filesystem::exists(Folder.f_Path("source")));
	EXPECT_EQ(gf_ReadFile(Folder.f_Path("renamed")), "new content");
}

TEST(File, DigestOfWholeFiles)
{
	CTempFolder Folder;
	std::string Large;
	for (int i = 0; i < 100000; ++i)
		Large.push_back(char(i * 7 + i / 256));
	const std::string Contents[] = {"", "abc", std::string(32768, 'q'), std::string(32769, 'r'), Large};
	for (const std::string &Content : Contents)
	{
		gf_WriteFile(Folder.f_Path("d"), Content);
		NMd5::CDigest Expected = NMd5::CMd5::fs_Digest(Content.data(), Content.size());
		EXPECT_EQ(NZel::NFile::gf_GetFileDigest(Folder.f_CStr("d")), Expected) << Content.size();
	}
	char Hex[33];
	gf_WriteFile(Folder.f_Path("d"), "");
	NZel::NFile::gf_GetFileDigest(Folder.f_CStr("d")).f_ToHex(Hex);
	EXPECT_STREQ(Hex, "d41d8cd98f00b204e9800998ecf8427e");

	std::string Message = gf_MessageOf([&] { NZel::NFile::gf_GetFileDigest(Folder.f_CStr("missing")); });
	EXPECT_TRUE(gf_StartsWith(Message, "Windows returned an error from CreateFile: ")) << Message;
}

TEST(File, ProgramPathAndFolder)
{
	CStr Path = NZel::NFile::gfs_GetProgramPath();
	std::string Text = Path.f_GetStr();
	ASSERT_FALSE(Text.empty());
	EXPECT_EQ(Text.find('\\'), std::string::npos) << Text;
	EXPECT_NE(Text.find("zel_tests"), std::string::npos) << Text;
	EXPECT_TRUE(std::filesystem::path(Text).is_absolute()) << Text;

	std::string Folder = NZel::NFile::gf_GetProgramFolder().f_GetStr();
	ASSERT_FALSE(Folder.empty());
	EXPECT_EQ(Text.substr(0, Folder.size()), Folder);
	EXPECT_EQ(Text[Folder.size()], '/');
	EXPECT_EQ(Text.find('/', Folder.size() + 1), std::string::npos);

	EXPECT_EQ(NZel::NFile::gf_GetFolderOf(CStr("C:/Tools/prog")), CStr("C:/Tools"));
	EXPECT_EQ(NZel::NFile::gf_GetFolderOf(CStr("prog")), CStr(""));
	EXPECT_EQ(NZel::NFile::gf_GetFolderOf(CStr("/prog")), CStr(""));
}
