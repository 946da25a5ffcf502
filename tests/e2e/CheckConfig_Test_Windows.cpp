// "hushvane.exe -CheckConfig" as an administrator's script runs it: standard output is a pipe,
// the exit code tells clean (0), warnings (2) or unreadable (1).
#include "tests/e2e/EveryoneWrite_Windows.h"
#include "tests/e2e/ServiceSupport_Windows.h"

#include <gtest/gtest.h>

#include <string>

using namespace NHushvaneTest;

namespace
{
	constexpr const char *gc_Caption = "Hushvane configuration check";

	class CheckConfigE2E : public ::testing::Test
	{
	protected:
		void TearDown() override { gf_RemoveTree(gf_InProgramFolder("config")); }

		// Runs the check; a box would mean the report missed the pipe.
		DWORD f_Check(std::string &Output)
		{
			int Boxes = 0;
			DWORD ExitCode = gf_RunHushvane("-CheckConfig", gf_ProgramFolder(), gc_Caption, &Boxes, &Output);
			EXPECT_EQ(Boxes, 0) << "the report went to a box, not to standard output";
			return ExitCode;
		}
	};

	void fg_ExpectParts(const std::string &Output, std::initializer_list<std::string> Parts)
	{
		for (const std::string &Part : Parts)
			EXPECT_NE(Output.find(Part), std::string::npos) << "missing: " << Part << "\n--- output:\n" << Output;
	}
}

TEST_F(CheckConfigE2E, AConfigWithMistakesPrintsTheWarningsAndExitsWith2)
{
	ASSERT_TRUE(gf_WriteFile(gf_InProgramFolder("config"), "hvchk_run.exe high\r\nnotepad idle\r\nhvchk_b.exe hihg\r\nHVCHK_RUN.EXE idle\r\n"));
	CChildProcess Running("hvchk_run.exe");
	ASSERT_TRUE(Running.f_IsRunning());
	std::string Output;
	EXPECT_EQ(f_Check(Output), 2u);
	fg_ExpectParts(Output, {"configuration check of ", "\\config\r\n", "3 entries, in table order:", "3 warnings:",
		"line 2: name \"notepad\" has no extension", "line 3: unknown priority word \"hihg\" for \"hvchk_b.exe\"; normal is used",
		"line 4: name \"HVCHK_RUN.EXE\" is already listed on line 1", "process " + std::to_string(Running.f_GetId()),
		"hvchk_run.exe  normal -> high", "Result: 3 warnings (exit code 2)."});
}

TEST_F(CheckConfigE2E, ACleanConfigExitsWith0)
{
	ASSERT_TRUE(gf_WriteFile(gf_InProgramFolder("config"), "# name priority\r\nhvchk_clean.exe belownormal\r\n"));
	std::string Output;
	EXPECT_EQ(f_Check(Output), 0u);
	fg_ExpectParts(Output, {"1 entry, in table order:", "hvchk_clean.exe  belownormal", "No warnings.", "No running process matches an entry.",
		"Result: the configuration is clean (exit code 0)."});
}

TEST_F(CheckConfigE2E, AConfigThatCannotBeReadExitsWith1)
{
	std::string Output;
	gf_RemoveTree(gf_InProgramFolder("config"));
	EXPECT_EQ(f_Check(Output), 1u);
	fg_ExpectParts(Output, {"The configuration cannot be read: the file does not exist", "Result: unreadable (exit code 1)."});

	// A folder where the file belongs.
	Output.clear();
	ASSERT_TRUE(CreateDirectoryA(gf_InProgramFolder("config").c_str(), nullptr));
	EXPECT_EQ(f_Check(Output), 1u);
	fg_ExpectParts(Output, {"The configuration cannot be read: ", "Result: unreadable (exit code 1)."});
}

TEST_F(CheckConfigE2E, AConfigOthersCanChangeIsAWarning)
{
	// Under Wine chmod o+w lets Everyone change a file or folder; a default tree is safe.
	ASSERT_TRUE(gf_WriteFile(gf_InProgramFolder("config"), "hvchk_clean.exe belownormal\r\n"));
	const std::string Changeable[] = {gf_InProgramFolder("config"), gf_ProgramFolder()};
	for (const std::string &Path : Changeable)
	{
		CEveryoneMayWrite Writable(Path);
		ASSERT_TRUE(Writable.f_IsSet()) << Path;
		std::string Output;
		EXPECT_EQ(f_Check(Output), 2u) << Path;
		fg_ExpectParts(Output, {"1 warning:", "  permissions: users who are not administrators can change the configuration",
			Path + " can be changed by Everyone; let only administrators change it", "Result: 1 warning (exit code 2)."});
	}
	std::string Output;
	EXPECT_EQ(f_Check(Output), 0u) << "safe again";
	fg_ExpectParts(Output, {"No warnings."});
}
