// Registration against the real service control manager, under names of the test's own so the
// program's service is never touched.
#include "KvWin/KvServiceFailureActions.h"
#include "KvWin/KvServiceRegistration.h"
#include "KvWin/KvWindowsHandles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

using NZel::NStr::CStr;

namespace
{
	struct CConfig
	{
		bool bExists = false;
		DWORD ServiceType = 0;
		DWORD StartType = 0;
		DWORD ErrorControl = 0;
		std::string ImagePath;
		std::string DisplayName;
		std::string Description;
	};

	CConfig fg_ReadConfig(const char *pName)
	{
		CConfig Config;
		CKvServiceHandle Manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
		if (!Manager)
			return Config;
		CKvServiceHandle Service(OpenServiceA(Manager.f_Get(), pName, SERVICE_QUERY_CONFIG));
		if (!Service)
			return Config;
		Config.bExists = true;
		DWORD Needed = 0;
		QueryServiceConfigA(Service.f_Get(), nullptr, 0, &Needed);
		std::vector<unsigned char> Buffer(Needed + 1);
		auto *pConfig = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(Buffer.data());
		if (QueryServiceConfigA(Service.f_Get(), pConfig, DWORD(Buffer.size()), &Needed))
		{
			Config.ServiceType = pConfig->dwServiceType;
			Config.StartType = pConfig->dwStartType;
			Config.ErrorControl = pConfig->dwErrorControl;
			Config.ImagePath = pConfig->lpBinaryPathName ? pConfig->lpBinaryPathName : "";
			Config.DisplayName = pConfig->lpDisplayName ? pConfig->lpDisplayName : "";
		}
		Needed = 0;
		QueryServiceConfig2A(Service.f_Get(), SERVICE_CONFIG_DESCRIPTION, nullptr, 0, &Needed);
		std::vector<unsigned char> Buffer2(Needed + 1);
		if (QueryServiceConfig2A(Service.f_Get(), SERVICE_CONFIG_DESCRIPTION, Buffer2.data(), DWORD(Buffer2.size()), &Needed))
		{
			auto *pDescription = reinterpret_cast<SERVICE_DESCRIPTIONA *>(Buffer2.data());
			Config.Description = pDescription->lpDescription ? pDescription->lpDescription : "";
		}
		return Config;
	}

	void fg_DeleteDirectly(const char *pName)
	{
		CKvServiceHandle Manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
		CKvServiceHandle Service(OpenServiceA(Manager.f_Get(), pName, DELETE));
		if (Service)
			DeleteService(Service.f_Get());
	}

	// A service name no other test or program uses, removed again when the test ends.
	class KvServiceRegistration : public ::testing::Test
	{
	protected:
		void SetUp() override
		{
			const ::testing::TestInfo *pInfo = ::testing::UnitTest::GetInstance()->current_test_info();
			fp_Name = std::string("HvRegTest_") + pInfo->name() + "_" + std::to_string(GetCurrentProcessId());
			fp_Definition = CKvServiceDefinition{CStr(fp_Name.c_str()), CStr("Hushvane Test Display"), CStr("Test description.")};
			fg_DeleteDirectly(fp_Name.c_str());
		}

		void TearDown() override
		{
			fg_DeleteDirectly(fp_Name.c_str());
		}

		bool f_Run(EKvServiceCommand Command, const char *pProgramPath = "C:/Hushvane/hushvane.exe")
		{
			return gf_KvServiceCommand(Command, fp_Definition, CStr(pProgramPath));
		}

		std::string fp_Name;
		CKvServiceDefinition fp_Definition;
	};
}

TEST_F(KvServiceRegistration, AddRegistersAnAutomaticOwnProcessService)
{
	ASSERT_TRUE(f_Run(EKvServiceCommand::Add));
	CConfig Config = fg_ReadConfig(fp_Name.c_str());
	ASSERT_TRUE(Config.bExists);
	EXPECT_EQ(Config.ServiceType, DWORD(SERVICE_WIN32_OWN_PROCESS));
	EXPECT_EQ(Config.StartType, DWORD(SERVICE_AUTO_START));
	EXPECT_EQ(Config.ErrorControl, DWORD(SERVICE_ERROR_NORMAL));
	EXPECT_EQ(Config.ImagePath, "\"C:/Hushvane/hushvane.exe\" -Service " + fp_Name);
	EXPECT_EQ(Config.DisplayName, "Hushvane Test Display");
	EXPECT_EQ(Config.Description, "Test description.");
}

TEST_F(KvServiceRegistration, AddingTwiceChangesNothing)
{
	ASSERT_TRUE(f_Run(EKvServiceCommand::Add));
	CConfig Before = fg_ReadConfig(fp_Name.c_str());
	// Other texts on the second add must not be applied to the existing registration.
	fp_Definition.DisplayName = CStr("Changed display");
	fp_Definition.Description = CStr("Changed description.");
	ASSERT_TRUE(f_Run(EKvServiceCommand::Add));
	CConfig After = fg_ReadConfig(fp_Name.c_str());
	EXPECT_EQ(After.ImagePath, Before.ImagePath);
	EXPECT_EQ(After.DisplayName, "Hushvane Test Display");
	EXPECT_EQ(After.Description, "Test description.");
}

TEST_F(KvServiceRegistration, AddAfterTheProgramMovedUpdatesOnlyTheImagePath)
{
	ASSERT_TRUE(f_Run(EKvServiceCommand::Add, "C:/Old/hushvane.exe"));
	ASSERT_TRUE(f_Run(EKvServiceCommand::Add, "D:/New Place/hushvane.exe"));
	CConfig Config = fg_ReadConfig(fp_Name.c_str());
	EXPECT_EQ(Config.ImagePath, "\"D:/New Place/hushvane.exe\" -Service " + fp_Name);
	EXPECT_EQ(Config.StartType, DWORD(SERVICE_AUTO_START));
	EXPECT_EQ(Config.DisplayName, "Hushvane Test Display");
	EXPECT_EQ(Config.Description, "Test description.");
}

TEST_F(KvServiceRegistration, AMoveThatOnlyChangesLetterCaseIsFollowed)
{
	ASSERT_TRUE(f_Run(EKvServiceCommand::Add, "C:/Tools/hushvane.exe"));
	ASSERT_TRUE(f_Run(EKvServiceCommand::Add, "C:/TOOLS/hushvane.exe"));
	EXPECT_EQ(fg_ReadConfig(fp_Name.c_str()).ImagePath, "\"C:/TOOLS/hushvane.exe\" -Service " + fp_Name);
}

TEST_F(KvServiceRegistration, AQuotedProgramPathIsNotQuotedAgain)
{
	ASSERT_TRUE(f_Run(EKvServiceCommand::Add, "\"C:/Quoted/hushvane.exe\""));
	EXPECT_EQ(fg_ReadConfig(fp_Name.c_str()).ImagePath, "\"C:/Quoted/hushvane.exe\" -Service " + fp_Name);
}

TEST_F(KvServiceRegistration, CommandsOnAMissingServiceFailExceptAdd)
{
	EXPECT_FALSE(f_Run(EKvServiceCommand::Remove));
	EXPECT_FALSE(f_Run(EKvServiceCommand::Start));
	EXPECT_FALSE(f_Run(EKvServiceCommand::Stop));
	EXPECT_FALSE(fg_ReadConfig(fp_Name.c_str()).bExists);
}

TEST_F(KvServiceRegistration, RemoveDeletesAStoppedService)
{
	ASSERT_TRUE(f_Run(EKvServiceCommand::Add));
	EXPECT_TRUE(f_Run(EKvServiceCommand::Stop)); // already stopped: nothing to do
	EXPECT_TRUE(f_Run(EKvServiceCommand::Remove));
	EXPECT_FALSE(fg_ReadConfig(fp_Name.c_str()).bExists);
	EXPECT_FALSE(f_Run(EKvServiceCommand::Remove));
}

TEST_F(KvServiceRegistration, StartFailsWhenTheProgramCannotBeRun)
{
	ASSERT_TRUE(f_Run(EKvServiceCommand::Add, "C:/does/not/exist/hushvane.exe"));
	EXPECT_FALSE(f_Run(EKvServiceCommand::Start));
}

TEST(KvServiceFailureActions, RestartTwiceThenNothingWithinADay)
{
	CKvServiceFailureActions Actions(CStr("Hushvane"));
	SERVICE_FAILURE_ACTIONSA *pActions = Actions.f_Get();
	EXPECT_EQ(pActions->dwResetPeriod, 86400u);
	ASSERT_NE(pActions->lpRebootMsg, nullptr);
	EXPECT_STREQ(pActions->lpRebootMsg, "Rebooting the server in response to crash of Hushvane crash.");
	ASSERT_NE(pActions->lpCommand, nullptr);
	EXPECT_STREQ(pActions->lpCommand, "");
	ASSERT_EQ(pActions->cActions, 3u);
	ASSERT_NE(pActions->lpsaActions, nullptr);
	EXPECT_EQ(pActions->lpsaActions[0].Type, SC_ACTION_RESTART);
	EXPECT_EQ(pActions->lpsaActions[0].Delay, 0u);
	EXPECT_EQ(pActions->lpsaActions[1].Type, SC_ACTION_RESTART);
	EXPECT_EQ(pActions->lpsaActions[1].Delay, 0u);
	EXPECT_EQ(pActions->lpsaActions[2].Type, SC_ACTION_NONE);
	EXPECT_EQ(pActions->lpsaActions[2].Delay, 0u);
}

TEST(KvServiceFailureActions, TheManagerAcceptsTheRecord)
{
	std::string Name = "HvRegTest_FailureActions_" + std::to_string(GetCurrentProcessId());
	fg_DeleteDirectly(Name.c_str());
	CKvServiceHandle Manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
	ASSERT_TRUE(Manager);
	CKvServiceHandle Service(CreateServiceA(Manager.f_Get(), Name.c_str(), Name.c_str(), SERVICE_ALL_ACCESS,
		SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "C:/x.exe", nullptr, nullptr, nullptr, nullptr, nullptr));
	ASSERT_TRUE(Service);
	CKvServiceFailureActions Actions(CStr("Hushvane"));
	EXPECT_TRUE(ChangeServiceConfig2A(Service.f_Get(), SERVICE_CONFIG_FAILURE_ACTIONS, Actions.f_Get()));
	DeleteService(Service.f_Get());
}
