// "-AddService" registers the program only where nobody but administrators can change what the
// service would run as SYSTEM. Under Wine a default tree is safe, and chmod o+w gives Everyone
// the right to change a file or folder, as a folder unpacked in the wrong place would.
#include "app/Hushvane_DriverDeploy.h"
#include "tests/e2e/EveryoneWrite_Windows.h"
#include "tests/e2e/ServiceSupport_Windows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace NHushvaneTest;

namespace
{
	std::string fg_RegisteredImagePath()
	{
		return gf_ServiceBinaryPath(gf_OpenService(SERVICE_QUERY_CONFIG));
	}

	// An installation of its own, <program folder>\unsafe-install\Hushvane, whose files and
	// folders are made changeable one by one.
	class InstallSafetyE2E : public ::testing::Test
	{
	protected:
		void SetUp() override
		{
			gf_RemoveServiceDirectly();
			gf_RemoveTree(m_Outer);
			ASSERT_TRUE(CreateDirectoryA(m_Outer.c_str(), nullptr));
			ASSERT_TRUE(CreateDirectoryA(m_Folder.c_str(), nullptr));
			for (const std::string Name : {"hushvane.exe", NHushvane::gf_GetDriverImageName()})
				ASSERT_TRUE(CopyFileA(gf_InProgramFolder(Name).c_str(), (m_Folder + "\\" + Name).c_str(), FALSE)) << Name;
		}

		void TearDown() override
		{
			gf_RemoveServiceDirectly();
			gf_RemoveTree(m_Outer);
		}

		// Runs -AddService from the installation: its exit code, and the text of the box it showed.
		DWORD f_Add(std::string &BoxText)
		{
			int Boxes = 0;
			DWORD ExitCode = gf_RunHushvane("-AddService", m_Folder, "Error", &Boxes, nullptr, &BoxText);
			if (gf_CanShowBoxes())
			{
				EXPECT_EQ(Boxes, ExitCode == 0 ? 0 : 1);
			}
			return ExitCode;
		}

		const std::string m_Outer = gf_InProgramFolder("unsafe-install");
		const std::string m_Folder = m_Outer + "\\Hushvane";
	};
}

TEST_F(InstallSafetyE2E, AddServiceRefusesWhatEveryoneCanChangeAndRegistersNothing)
{
	const std::string Image = m_Folder + "\\" + NHushvane::gf_GetDriverImageName();
	struct CCase
	{
		std::string m_Changeable;
		std::string m_Expected; // the line of the box that names it
	};
	const CCase Cases[] = {
		{m_Folder, m_Folder + " can be changed by Everyone"},
		{m_Folder + "\\hushvane.exe", m_Folder + "\\hushvane.exe can be changed by Everyone"},
		{Image, Image + " can be changed by Everyone"},
		// The folder above may be moved away and another put in its place.
		{m_Outer, m_Outer + " can be moved or replaced by Everyone"},
	};
	for (const CCase &Case : Cases)
	{
		CEveryoneMayWrite Changeable(Case.m_Changeable);
		ASSERT_TRUE(Changeable.f_IsSet()) << Case.m_Changeable;
		std::string BoxText;
		EXPECT_EQ(f_Add(BoxText), 1u) << Case.m_Changeable;
		EXPECT_FALSE(gf_ServiceExists()) << Case.m_Changeable;
		if (!gf_CanShowBoxes())
			continue;
		EXPECT_EQ(BoxText.rfind("Failed to add service: users who are not administrators can change what the service would run as SYSTEM.", 0), 0u)
			<< BoxText;
		EXPECT_NE(BoxText.find("\n" + Case.m_Expected + "\n"), std::string::npos) << BoxText;
		EXPECT_NE(BoxText.find("such as C:\\Program Files\\Hushvane, and run -AddService from there."), std::string::npos) << BoxText;
		EXPECT_EQ(BoxText.find("Failed to add service. Make sure"), std::string::npos) << BoxText;
	}

	// The same tree, safe again (as Wine makes every default tree), is registered.
	std::string BoxText;
	ASSERT_EQ(f_Add(BoxText), 0u) << BoxText;
	std::string Program = m_Folder + "\\hushvane.exe";
	std::replace(Program.begin(), Program.end(), '\\', '/');
	EXPECT_EQ(fg_RegisteredImagePath(), "\"" + Program + "\" -Service Hushvane");
}

TEST_F(InstallSafetyE2E, AnExistingServiceIsNotPointedAtAnUnsafeCopy)
{
	ASSERT_EQ(gf_RunHushvane("-AddService"), 0u);
	const std::string Registered = fg_RegisteredImagePath();
	ASSERT_NE(Registered, "");
	CEveryoneMayWrite Changeable(m_Folder + "\\hushvane.exe");
	ASSERT_TRUE(Changeable.f_IsSet());
	std::string BoxText;
	EXPECT_EQ(f_Add(BoxText), 1u);
	EXPECT_EQ(fg_RegisteredImagePath(), Registered) << "the service still runs the safe copy";
}
