// What the image's single handle keeps others from doing, as Windows (here Wine) enforces it.
#include "app/Hushvane_DriverImage.h"
#include "tests/zel/File_TestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

using NFileTest::CTempFolder;
using NFileTest::gf_ReadFile;
using NFileTest::gf_WriteFile;
using NHushvane::CDriverImageSource;

namespace
{
	std::wstring fg_Wide(const std::string &Path)
	{
		return std::wstring(Path.begin(), Path.end());
	}

	// Whether each way of changing the file works now: write, replace by a move, rename.
	struct CChanges
	{
		bool m_bWrite;
		bool m_bReplace;
		bool m_bRename;
	};

	CChanges fg_TryChanges(const CTempFolder &Folder, const std::string &Name)
	{
		const std::wstring Path = fg_Wide(Folder.f_Path(Name));
		CChanges Result{};
		HANDLE hWrite = CreateFileW(Path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
			nullptr);
		Result.m_bWrite = hWrite != INVALID_HANDLE_VALUE;
		if (Result.m_bWrite)
			CloseHandle(hWrite);
		gf_WriteFile(Folder.f_Path("swap.sys"), "a swapped-in image");
		Result.m_bReplace = MoveFileExW(fg_Wide(Folder.f_Path("swap.sys")).c_str(), Path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
		Result.m_bRename = MoveFileW(Path.c_str(), fg_Wide(Folder.f_Path("renamed.sys")).c_str()) != FALSE;
		if (Result.m_bRename)
			MoveFileW(fg_Wide(Folder.f_Path("renamed.sys")).c_str(), Path.c_str());
		DeleteFileW(fg_Wide(Folder.f_Path("swap.sys")).c_str());
		return Result;
	}
}

TEST(DriverImageSourceSharing, NoOneCanSwapTheImageBetweenTheCheckAndTheCopy)
{
	CTempFolder Folder;
	const std::string Image(5000, 'I');
	gf_WriteFile(Folder.f_Path("image.sys"), Image);
	{
		CDriverImageSource Source(Folder.f_CStr("image.sys"));
		CChanges Held = fg_TryChanges(Folder, "image.sys");
		EXPECT_FALSE(Held.m_bWrite);
		EXPECT_FALSE(Held.m_bReplace);
		EXPECT_FALSE(Held.m_bRename);
		EXPECT_EQ(gf_ReadFile(Folder.f_Path("image.sys")), Image) << "others may still read it";
		Source.f_InstallAs(Folder.f_CStr("target.sys"));
		EXPECT_EQ(gf_ReadFile(Folder.f_Path("target.sys")), Image);
		EXPECT_FALSE(DeleteFileW(fg_Wide(Folder.f_Path("image.sys")).c_str()));
	}
	// Released with the object.
	CChanges Free = fg_TryChanges(Folder, "image.sys");
	EXPECT_TRUE(Free.m_bWrite);
	EXPECT_TRUE(Free.m_bReplace);
	EXPECT_TRUE(Free.m_bRename);
}

TEST(DriverImageSourceSharing, AnImageSomeoneIsWritingIsRefused)
{
	CTempFolder Folder;
	gf_WriteFile(Folder.f_Path("image.sys"), "being written");
	HANDLE hWriter = CreateFileW(fg_Wide(Folder.f_Path("image.sys")).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
		OPEN_EXISTING, 0, nullptr);
	ASSERT_NE(hWriter, INVALID_HANDLE_VALUE);
	EXPECT_THROW(CDriverImageSource Source(Folder.f_CStr("image.sys")), NZel::NFile::CExceptionFile);
	CloseHandle(hWriter);
	EXPECT_NO_THROW(CDriverImageSource Source(Folder.f_CStr("image.sys")));
}
