#include "app/Hushvane_DriverImage.h"
#include "tests/zel/File_TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

using NFileTest::CTempFolder;
using NFileTest::gf_MessageOf;
using NFileTest::gf_ReadFile;
using NFileTest::gf_WriteFile;
using NHushvane::CDriverImageSource;
using NZel::NStr::CStr;

namespace
{
	// Bytes that differ in every block of the copy, so a skipped or repeated block shows.
	std::string fg_Image(size_t Size, unsigned Seed)
	{
		std::string Bytes(Size, '\0');
		unsigned State = Seed;
		for (char &Byte : Bytes)
		{
			State = State * 1103515245u + 12345u;
			Byte = char(State >> 24);
		}
		return Bytes;
	}

	// Names in Folder other than the ones given: what a deployment left behind.
	std::vector<std::string> fg_Leftovers(const CTempFolder &Folder, const std::vector<std::string> &Expected)
	{
		std::vector<std::string> Left;
		for (const auto &Entry : std::filesystem::directory_iterator(Folder.f_Path()))
		{
			std::string Name = Entry.path().filename().string();
			if (std::find(Expected.begin(), Expected.end(), Name) == Expected.end())
				Left.push_back(Name);
		}
		return Left;
	}
}

TEST(DriverImageSource, DigestAndInstalledCopyAreTheImagesBytes)
{
	// Empty, one byte, exactly one copy block, and several blocks with a partial last one.
	const size_t Sizes[] = {0, 1, 32768, 3 * 32768 + 123};
	for (size_t Size : Sizes)
	{
		CTempFolder Folder;
		const std::string Image = fg_Image(Size, unsigned(Size) + 1);
		gf_WriteFile(Folder.f_Path("image.sys"), Image);
		gf_WriteFile(Folder.f_Path("target.sys"), "an older image that is longer than some of the new ones");

		CDriverImageSource Source(Folder.f_CStr("image.sys"));
		EXPECT_TRUE(Source.f_GetDigest() == NZel::NFile::gf_GetFileDigest(Folder.f_CStr("image.sys"))) << Size;
		Source.f_InstallAs(Folder.f_CStr("target.sys"));
		EXPECT_EQ(gf_ReadFile(Folder.f_Path("target.sys")), Image) << Size;
		// A second install from the same handle copies the same bytes again.
		Source.f_InstallAs(Folder.f_CStr("fresh.sys"));
		EXPECT_EQ(gf_ReadFile(Folder.f_Path("fresh.sys")), Image) << Size;
		EXPECT_EQ(fg_Leftovers(Folder, {"image.sys", "target.sys", "fresh.sys"}), std::vector<std::string>{}) << Size;
	}
}

TEST(DriverImageSource, FailedInstallLeavesNoTemporaryFileAndTheTargetAsItWas)
{
	CTempFolder Folder;
	gf_WriteFile(Folder.f_Path("image.sys"), fg_Image(1000, 7));
	CDriverImageSource Source(Folder.f_CStr("image.sys"));

	// A folder where the image belongs: the copy is written, but cannot be moved over it.
	std::filesystem::create_directory(Folder.f_Path("target.sys"));
	gf_WriteFile(Folder.f_Path("target.sys/inside"), "kept");
	std::string Message = gf_MessageOf([&] { Source.f_InstallAs(Folder.f_CStr("target.sys")); });
	EXPECT_NE(Message.find("MoveFileEx"), std::string::npos) << Message;
	EXPECT_EQ(gf_ReadFile(Folder.f_Path("target.sys/inside")), "kept");

	// Staged but never moved: the copy goes, the target stays.
	gf_WriteFile(Folder.f_Path("old.sys"), "the running image");
	{
		NHushvane::CStagedDriverImage Staged(Source, Folder.f_CStr("old.sys"));
		EXPECT_EQ(fg_Leftovers(Folder, {"image.sys", "target.sys", "old.sys"}).size(), 1u) << "the staged copy";
	}
	EXPECT_EQ(gf_ReadFile(Folder.f_Path("old.sys")), "the running image");

	// A folder that does not exist: not even the copy can be made.
	Message = gf_MessageOf([&] { Source.f_InstallAs(Folder.f_CStr("missing/target.sys")); });
	EXPECT_NE(Message, "(nothing thrown)");
	EXPECT_EQ(fg_Leftovers(Folder, {"image.sys", "target.sys", "old.sys"}), std::vector<std::string>{});
}

TEST(DriverImageSource, MissingImageThrows)
{
	CTempFolder Folder;
	EXPECT_THROW(CDriverImageSource Source(Folder.f_CStr("none.sys")), NZel::NFile::CExceptionFile);
}

TEST(DriverImageSource, TimeSuffixedNamesCarryTwoDecimalNumbers)
{
	CStr Named = NHushvane::gf_WithTimeSuffix(CStr("C:/Windows/System32/Drivers/x.sys"), ".old.{}.{}");
	std::string Text = Named.f_GetStr();
	EXPECT_TRUE(std::regex_match(Text, std::regex("C:/Windows/System32/Drivers/x\\.sys\\.old\\.[0-9]+\\.[0-9]+"))) << Text;
}
