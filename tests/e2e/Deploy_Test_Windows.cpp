#include "app/Hushvane_DriverChannel.h"
#include "app/Hushvane_DriverDeploy.h"
#include "app/Hushvane_FsRedirection.h"
#include "KvWin/KvWindowsHandles.h"
#include "tests/e2e/EveryoneWrite_Windows.h"
#include "tests/e2e/WorkerSupport_Windows.h"
#include "zel/library/core/general/Zel_Exception.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <regex>
#include <thread>

using namespace NHushvaneTest;

namespace
{
	std::string fg_SourceImage()
	{
		return gf_InProgramFolder(NHushvane::gf_GetDriverImageName());
	}

	std::string fg_Content(const std::string &Path)
	{
		std::string Content;
		gf_ReadFile(Path, Content);
		return Content;
	}

	FILETIME fg_WriteTime(const std::string &Path)
	{
		WIN32_FILE_ATTRIBUTE_DATA Data = {};
		GetFileAttributesExA(Path.c_str(), GetFileExInfoStandard, &Data);
		return Data.ftLastWriteTime;
	}

	CKvServiceHandle fg_OpenService(DWORD Access)
	{
		CKvServiceHandle hManager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
		return CKvServiceHandle(hManager ? OpenServiceA(hManager.f_Get(), NHushvane::gc_DriverServiceName, Access) : nullptr);
	}

	// The display name doubles as a marker: a recreated service has the original one again.
	bool fg_SetDisplayName(const char *pName)
	{
		CKvServiceHandle hService = fg_OpenService(SERVICE_CHANGE_CONFIG);
		return hService && ChangeServiceConfigA(hService.f_Get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr, nullptr,
							   nullptr, nullptr, nullptr, nullptr, pName);
	}

	std::string fg_DisplayName()
	{
		CKvServiceHandle hService = fg_OpenService(SERVICE_QUERY_CONFIG);
		if (!hService)
			return "(no service)";
		alignas(QUERY_SERVICE_CONFIGA) char Buffer[8192];
		DWORD Needed = 0;
		auto *pConfig = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(Buffer);
		if (!QueryServiceConfigA(hService.f_Get(), pConfig, sizeof(Buffer), &Needed))
			return "(unreadable)";
		return pConfig->lpDisplayName ? pConfig->lpDisplayName : "";
	}

	std::string fg_ImagePath()
	{
		return gf_ServiceBinaryPath(fg_OpenService(SERVICE_QUERY_CONFIG));
	}

	class DeployTest : public testing::Test
	{
	protected:
		void SetUp() override
		{
			ASSERT_TRUE(gf_FileExists(fg_SourceImage())) << "the test driver image belongs beside the test program";
			m_SourceImage = fg_Content(fg_SourceImage());
			gf_RemoveDriverCompletely();
			ASSERT_FALSE(gf_DriverServiceExists());
			ASSERT_FALSE(gf_FileExists(gf_InstalledImagePath()));
		}
		void TearDown() override
		{
			if (!gf_FileExists(fg_SourceImage()))
				gf_WriteFile(fg_SourceImage(), m_SourceImage);
			gf_RemoveDriverCompletely();
		}

		std::string m_SourceImage;
	};
}

TEST_F(DeployTest, FirstInstallCopiesAndCreatesASecondRunNeitherCopiesNorRecreates)
{
	NZel::int32 RebootNeeded = 0;
	EXPECT_TRUE(NHushvane::gf_DeployDriver(true, RebootNeeded));
	EXPECT_EQ(RebootNeeded, 0);
	EXPECT_EQ(fg_Content(gf_InstalledImagePath()), m_SourceImage);
	ASSERT_TRUE(gf_DriverServiceExists());
	EXPECT_EQ(fg_DisplayName(), "Hushvane Driver");
	EXPECT_EQ(fg_ImagePath(), std::string("\\SystemRoot\\System32\\Drivers\\") + NHushvane::gf_GetDriverImageName());
	EXPECT_TRUE(gf_MovedAsideImages().empty());
	EXPECT_TRUE(gf_TemporaryImages().empty()) << "the copy was moved into place";

	ASSERT_TRUE(fg_SetDisplayName("Marker"));
	FILETIME Written = fg_WriteTime(gf_InstalledImagePath());
	Sleep(50);
	EXPECT_FALSE(NHushvane::gf_DeployDriver(true, RebootNeeded));
	EXPECT_EQ(RebootNeeded, 0);
	EXPECT_EQ(fg_DisplayName(), "Marker") << "an intact service is left as it is";
	FILETIME WrittenAgain = fg_WriteTime(gf_InstalledImagePath());
	EXPECT_EQ(CompareFileTime(&Written, &WrittenAgain), 0) << "the same image is not copied again";
	EXPECT_TRUE(gf_MovedAsideImages().empty());

	// Bring-up with a current image only starts the service: a record waiting in the driver
	// survives (a restart would have emptied the ring).
	CCollectingContext Context;
	ASSERT_TRUE(NHushvane::gf_InitializeDriver(Context));
	ASSERT_TRUE(Context.f_IsChannelOpen());
	EXPECT_NE(Context.f_GetEvent(), nullptr);
	{
		CKvFileHandle hDevice = gf_OpenHushvaneDevice();
		ASSERT_TRUE(hDevice.f_IsValid());
		ASSERT_TRUE(gf_FeedProcessEvent(hDevice.f_Get(), 4, 1234, true));
	}
	CCollectingContext Again;
	ASSERT_TRUE(NHushvane::gf_InitializeDriver(Again)) << "an already running service counts as started";
	NHushvane::CProcessEvent Event;
	ASSERT_TRUE(NHushvane::gf_ReadDriverRecord(Again, Event));
	EXPECT_EQ(Event.m_ProcessId, 1234u);
	EXPECT_EQ(Event.m_ParentId, 4u);
	EXPECT_TRUE(Event.m_bCreate);
	EXPECT_FALSE(NHushvane::gf_ReadDriverRecord(Again, Event));
	EXPECT_TRUE(Context.m_Lines.empty());
	EXPECT_TRUE(Again.m_Lines.empty());
}

TEST_F(DeployTest, ChannelDeliversRecordsInOrderOncePerRecord)
{
	CCollectingContext Context;
	ASSERT_TRUE(NHushvane::gf_InitializeDriver(Context));
	CKvFileHandle hDevice = gf_OpenHushvaneDevice();
	ASSERT_TRUE(hDevice.f_IsValid());
	ASSERT_TRUE(gf_FeedProcessEvent(hDevice.f_Get(), 1, 100, true));
	ASSERT_TRUE(gf_FeedProcessEvent(hDevice.f_Get(), 1, 101, false));
	ASSERT_TRUE(gf_FeedProcessEvent(hDevice.f_Get(), 2, 0x7FFFFFF0, true));
	NHushvane::CProcessEvent Event;
	const std::pair<NZel::uint64, bool> Expected[] = {{100, true}, {101, false}, {0x7FFFFFF0, true}};
	for (const auto &Record : Expected)
	{
		ASSERT_TRUE(NHushvane::gf_ReadDriverRecord(Context, Event));
		EXPECT_EQ(Event.m_ProcessId, Record.first);
		EXPECT_EQ(Event.m_bCreate, Record.second);
	}
	EXPECT_FALSE(NHushvane::gf_ReadDriverRecord(Context, Event)) << "the fourth read fails";

	Context.f_CloseChannel();
	EXPECT_FALSE(Context.f_IsChannelOpen());
	EXPECT_EQ(Context.f_GetEvent(), nullptr);
	EXPECT_FALSE(NHushvane::gf_ReadDriverRecord(Context, Event)) << "a closed channel reads nothing";
	EXPECT_TRUE(NHushvane::gf_OpenDriverChannel(Context));
}

TEST_F(DeployTest, DifferentImageIsMovedAsideReplacedAndTheServiceRestarted)
{
	CCollectingContext First;
	ASSERT_TRUE(NHushvane::gf_InitializeDriver(First));
	First.f_CloseChannel();
	{
		CKvFileHandle hDevice = gf_OpenHushvaneDevice();
		ASSERT_TRUE(hDevice.f_IsValid());
		ASSERT_TRUE(gf_FeedProcessEvent(hDevice.f_Get(), 4, 555, true));
	}
	// The loaded image cannot be written, but it can be moved: put a different file in its
	// place while the old driver keeps running.
	const std::string OldImage = "an older image";
	const std::string Loaded = gf_InstalledImagePath() + ".loaded";
	ASSERT_TRUE(MoveFileA(gf_InstalledImagePath().c_str(), Loaded.c_str())) << GetLastError();
	ASSERT_TRUE(gf_WriteFile(gf_InstalledImagePath(), OldImage));

	CCollectingContext Context;
	ASSERT_TRUE(NHushvane::gf_InitializeDriver(Context));
	EXPECT_TRUE(Context.m_Lines.empty());
	EXPECT_EQ(fg_Content(gf_InstalledImagePath()), m_SourceImage);
	std::vector<std::string> Moved = gf_MovedAsideImages();
	ASSERT_EQ(Moved.size(), 1u);
	const std::string Image = NHushvane::gf_GetDriverImageName();
	ASSERT_EQ(Moved[0].compare(0, Image.size(), Image), 0) << Moved[0];
	EXPECT_TRUE(std::regex_match(Moved[0].substr(Image.size()), std::regex("\\.old\\.[0-9]+\\.[0-9]+"))) << Moved[0];
	EXPECT_EQ(fg_Content(gf_InstalledImagePath() + Moved[0].substr(Image.size())), OldImage);
	EXPECT_TRUE(gf_TemporaryImages().empty());
	// The driver was loaded afresh: the record fed to the old one is gone with its ring.
	NHushvane::CProcessEvent Event;
	EXPECT_FALSE(NHushvane::gf_ReadDriverRecord(Context, Event));
	EXPECT_EQ(gf_DriverServiceState(), DWORD(SERVICE_RUNNING));
	DeleteFileA(Loaded.c_str());
}

TEST_F(DeployTest, ServiceMarkedForDeletionIsDeletedAndCreatedAgain)
{
	NZel::int32 RebootNeeded = 0;
	ASSERT_TRUE(NHushvane::gf_DeployDriver(true, RebootNeeded));
	ASSERT_TRUE(fg_SetDisplayName("Marker"));
	ASSERT_TRUE(gf_SetDeleteFlag(1));

	EXPECT_FALSE(NHushvane::gf_DeployDriver(true, RebootNeeded)) << "the image was current";
	EXPECT_EQ(RebootNeeded, 0);
	ASSERT_TRUE(gf_DriverServiceExists());
	EXPECT_EQ(fg_DisplayName(), "Hushvane Driver") << "created again";
	EXPECT_FALSE(gf_DeleteFlagExists());

	// A flag of 0 is no mark.
	ASSERT_TRUE(fg_SetDisplayName("Marker"));
	ASSERT_TRUE(gf_SetDeleteFlag(0));
	EXPECT_FALSE(NHushvane::gf_DeployDriver(true, RebootNeeded));
	EXPECT_EQ(fg_DisplayName(), "Marker");
}

TEST_F(DeployTest, ServiceThatStaysMarkedNeedsARebootAndGetsNoDriver)
{
	// A running driver's service is only marked by DeleteService; its key, with the flag,
	// stays until the driver is unloaded.
	CCollectingContext First;
	ASSERT_TRUE(NHushvane::gf_InitializeDriver(First));
	First.f_CloseChannel();
	ASSERT_TRUE(gf_SetDeleteFlag(1));

	CCollectingContext Context;
	EXPECT_FALSE(NHushvane::gf_InitializeDriver(Context));
	EXPECT_EQ(Context.m_Lines, std::vector<std::string>{"Reboot needed\r\n"});
	EXPECT_FALSE(Context.f_IsChannelOpen());
}

TEST_F(DeployTest, MissingImageBesideTheProgramChangesNothing)
{
	NZel::int32 RebootNeeded = 0;
	ASSERT_TRUE(NHushvane::gf_DeployDriver(true, RebootNeeded));
	ASSERT_TRUE(gf_WriteFile(gf_InstalledImagePath(), "installed earlier"));
	ASSERT_TRUE(DeleteFileA(fg_SourceImage().c_str()));

	EXPECT_FALSE(NHushvane::gf_DeployDriver(true, RebootNeeded));
	EXPECT_FALSE(NHushvane::gf_DeployDriver(false, RebootNeeded));
	CCollectingContext Context;
	EXPECT_TRUE(NHushvane::gf_UninstallDriver(Context));
	EXPECT_EQ(RebootNeeded, 0);
	EXPECT_TRUE(Context.m_Lines.empty());
	EXPECT_TRUE(gf_DriverServiceExists());
	EXPECT_EQ(fg_Content(gf_InstalledImagePath()), "installed earlier");
	EXPECT_TRUE(gf_MovedAsideImages().empty());
	EXPECT_FALSE(NHushvane::gf_InitializeDriver(Context)) << "a garbage image does not load";
}

TEST_F(DeployTest, StartAndStopReportTheirOutcome)
{
	EXPECT_FALSE(NHushvane::gf_StopDriverService()) << "not installed";
	EXPECT_FALSE(NHushvane::gf_StartDriverService()) << "not installed";
	NZel::int32 RebootNeeded = 0;
	ASSERT_TRUE(NHushvane::gf_DeployDriver(true, RebootNeeded));
	EXPECT_TRUE(NHushvane::gf_StopDriverService()) << "installed and stopped";
	EXPECT_TRUE(NHushvane::gf_StartDriverService());
	EXPECT_EQ(gf_DriverServiceState(), DWORD(SERVICE_RUNNING));
	EXPECT_TRUE(NHushvane::gf_StartDriverService()) << "already running";
	EXPECT_TRUE(NHushvane::gf_StopDriverService());
	EXPECT_EQ(gf_DriverServiceState(), DWORD(SERVICE_STOPPED));
	CCollectingContext Context;
	EXPECT_FALSE(NHushvane::gf_OpenDriverChannel(Context)) << "no device while the driver is stopped";
	EXPECT_FALSE(Context.f_IsChannelOpen());
}

TEST(DeployNames, EnvironmentPathsAndTheImageOfThisWindows)
{
	ASSERT_TRUE(SetEnvironmentVariableA("HV_TEST_PATH", "C:\\One\\Two\\"));
	EXPECT_STREQ(NHushvane::gf_GetEnvironmentPath("HV_TEST_PATH").f_GetStr(), "C:/One/Two/");
	ASSERT_TRUE(SetEnvironmentVariableA("HV_TEST_PATH", nullptr));
	EXPECT_STREQ(NHushvane::gf_GetEnvironmentPath("HV_TEST_PATH").f_GetStr(), "");
	std::string Long(2000, 'x');
	ASSERT_TRUE(SetEnvironmentVariableA("HV_TEST_PATH", Long.c_str()));
	EXPECT_STREQ(NHushvane::gf_GetEnvironmentPath("HV_TEST_PATH").f_GetStr(), "") << "a value that does not fit is no path";
	SetEnvironmentVariableA("HV_TEST_PATH", nullptr);

	SYSTEM_INFO Info = {};
	GetNativeSystemInfo(&Info);
	EXPECT_EQ(NHushvane::gf_IsNativeX64(), Info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64);
	// Only a 32-bit program on 64-bit Windows has its System32 redirected.
	BOOL bWow64 = FALSE;
	ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &bWow64));
	EXPECT_EQ(NHushvane::gf_GetSystemFsRedirection().f_IsRedirected(), bWow64 != FALSE);
	{
		NHushvane::CFsRedirectionOff Off(NHushvane::gf_GetSystemFsRedirection());
		EXPECT_EQ(Off.f_IsOff(), bWow64 != FALSE);
	}
	EXPECT_STREQ(NHushvane::gf_GetDriverImageName(), NHushvane::gf_IsNativeX64() ? "Hushvane.x64.sys" : "Hushvane.x86.sys");
	std::string Target = NHushvane::gf_GetDriverTargetPath().f_GetStr();
	EXPECT_EQ(Target.find('\\'), std::string::npos) << Target;
	EXPECT_NE(Target.find("/System32/Drivers/Hushvane."), std::string::npos) << Target;
}

TEST_F(DeployTest, AnImageSomeoneIsWritingIsNeverInstalled)
{
	// The image is opened once, denying writers; one that is being written cannot be the image
	// that was checked.
	CKvFileHandle hWriter(CreateFileA(fg_SourceImage().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
	ASSERT_TRUE(hWriter.f_IsValid()) << GetLastError();
	NZel::int32 RebootNeeded = 0;
	EXPECT_THROW(NHushvane::gf_DeployDriver(true, RebootNeeded), NZel::NFile::CExceptionFile);
	EXPECT_FALSE(gf_FileExists(gf_InstalledImagePath()));
	EXPECT_TRUE(gf_TemporaryImages().empty());
	EXPECT_FALSE(gf_DriverServiceExists()) << "the run ends at the file step";

	hWriter.f_Reset();
	EXPECT_TRUE(NHushvane::gf_DeployDriver(true, RebootNeeded));
	EXPECT_EQ(fg_Content(gf_InstalledImagePath()), m_SourceImage);
}

TEST_F(DeployTest, NewImageWhileTheRunningDriverCannotBeStoppedIsReported)
{
	// The driver stays loaded until Windows (or Wine's server) restarts: the case runs only in a
	// Wine prefix of its own, whose server is ended afterwards (test e2e.driver_that_cannot_stop).
	if (!std::getenv("HV_OWN_WINE_PREFIX"))
		GTEST_SKIP() << "runs in a Wine prefix of its own";

	CCollectingContext First;
	ASSERT_TRUE(NHushvane::gf_InitializeDriver(First));
	First.f_CloseChannel();
	{
		CKvFileHandle hDevice = gf_OpenHushvaneDevice();
		ASSERT_TRUE(hDevice.f_IsValid());
		ASSERT_TRUE(gf_HoldDriverUnload(hDevice.f_Get(), true));
		ASSERT_TRUE(gf_FeedProcessEvent(hDevice.f_Get(), 4, 777, true));
	}
	// A different image is installed; the loaded one is moved out of its way first. The prefix is
	// kept between runs, and the last run could not delete its moved image: its driver held it.
	const std::string Loaded = gf_InstalledImagePath() + ".loaded";
	DeleteFileA(Loaded.c_str());
	ASSERT_TRUE(MoveFileA(gf_InstalledImagePath().c_str(), Loaded.c_str())) << GetLastError();
	ASSERT_TRUE(gf_WriteFile(gf_InstalledImagePath(), "an older image"));

	CCollectingContext Context;
	ULONGLONG Start = GetTickCount64();
	EXPECT_TRUE(NHushvane::gf_InitializeDriver(Context)) << "the run goes on with the driver that runs";
	EXPECT_LT(GetTickCount64() - Start, 30000u) << "a refused stop is not waited out";
	EXPECT_EQ(Context.m_Lines,
		std::vector<std::string>{"Driver image updated; the running driver could not be stopped: the new image is loaded after a restart\r\n"});
	EXPECT_EQ(fg_Content(gf_InstalledImagePath()), m_SourceImage);
	// Still the old driver: the record fed to it is there.
	NHushvane::CProcessEvent Event;
	ASSERT_TRUE(NHushvane::gf_ReadDriverRecord(Context, Event));
	EXPECT_EQ(Event.m_ProcessId, 777u);
	Context.f_CloseChannel();
	EXPECT_EQ(NHushvane::gf_StopDriverServiceOutcome(), NHushvane::EDriverStop::Failed);
	EXPECT_FALSE(NHushvane::gf_StopDriverService());
	EXPECT_EQ(gf_DriverServiceState(), DWORD(SERVICE_RUNNING));
	DeleteFileA(Loaded.c_str());
}

TEST_F(DeployTest, DeleteFlagThatComesAndGoesIsReadAsAbsentOrPresentNeverAsAFailure)
{
	NZel::int32 RebootNeeded = 0;
	ASSERT_TRUE(NHushvane::gf_DeployDriver(true, RebootNeeded));
	// The value flickers between absent and 0 (no mark), so every deployment leaves the service.
	std::atomic<bool> bStop{false};
	std::thread Toggler(
		[&]
		{
			while (!bStop)
			{
				gf_SetDeleteFlag(0);
				gf_DeleteDriverServiceValue("DeleteFlag");
			}
		}
	);
	std::string Failure;
	int nRuns = 0;
	ULONGLONG End = GetTickCount64() + 3000;
	while (GetTickCount64() < End && Failure.empty())
	{
		try
		{
			EXPECT_FALSE(NHushvane::gf_DeployDriver(true, RebootNeeded));
			++nRuns;
		}
		catch (const NZel::NException::CException &Exception)
		{
			Failure = Exception.f_GetMessage();
		}
	}
	bStop = true;
	Toggler.join();
	EXPECT_EQ(Failure, "") << "after " << nRuns << " deployments";
	EXPECT_EQ(RebootNeeded, 0);
	EXPECT_TRUE(gf_DriverServiceExists());
}

namespace
{
	// Sets or removes (null) an environment variable for the length of a scope.
	class CScopedVariable
	{
	public:
		CScopedVariable(const char *pName, const char *pValue) : fp_Name(pName)
		{
			char Buffer[1024];
			DWORD Length = GetEnvironmentVariableA(pName, Buffer, DWORD(sizeof(Buffer)));
			fp_bHad = Length > 0 && Length < sizeof(Buffer);
			if (fp_bHad)
				fp_Old.assign(Buffer, Length);
			SetEnvironmentVariableA(pName, pValue);
		}
		~CScopedVariable() { SetEnvironmentVariableA(fp_Name.c_str(), fp_bHad ? fp_Old.c_str() : nullptr); }

	private:
		std::string fp_Name;
		std::string fp_Old;
		bool fp_bHad = false;
	};

	std::string fg_SlashedWindowsFolder()
	{
		char Folder[MAX_PATH];
		UINT Length = GetSystemWindowsDirectoryA(Folder, MAX_PATH);
		std::string Result(Folder, Length < MAX_PATH ? Length : 0);
		for (char &Char : Result)
		{
			if (Char == '\\')
				Char = '/';
		}
		return Result;
	}
}

TEST_F(DeployTest, WithoutSystemRootTheImageStillGoesToTheWindowsFolder)
{
	const std::string Expected = fg_SlashedWindowsFolder() + "/System32/Drivers/" + NHushvane::gf_GetDriverImageName();
	ASSERT_GT(Expected.size(), std::string("/System32/Drivers/").size() + 16);
	const char *Values[] = {nullptr, ""};
	for (const char *pValue : Values)
	{
		CScopedVariable SystemRoot("SystemRoot", pValue);
		EXPECT_EQ(NHushvane::gf_GetDriverTargetPath().f_GetStr(), Expected) << (pValue ? "empty" : "missing");
	}
	{
		CScopedVariable SystemRoot("SystemRoot", nullptr);
		NZel::int32 RebootNeeded = 0;
		EXPECT_TRUE(NHushvane::gf_DeployDriver(true, RebootNeeded));
	}
	EXPECT_EQ(fg_Content(gf_InstalledImagePath()), m_SourceImage);
}

TEST_F(DeployTest, AnImageOthersCanChangeIsNeitherCopiedNorStarted)
{
	// Under Wine chmod o+w lets Everyone change a file or folder; the default tree is safe.
	const std::string Changeable[] = {fg_SourceImage(), gf_ProgramFolder()};
	for (const std::string &Path : Changeable)
	{
		const std::vector<std::string> Refusal = {"Driver not deployed from an unsafe place: " + Path + " can be changed by Everyone\r\n"};
		{
			CEveryoneMayWrite Writable(Path);
			ASSERT_TRUE(Writable.f_IsSet()) << Path;
			CCollectingContext Context;
			EXPECT_FALSE(NHushvane::gf_InitializeDriver(Context)) << Path;
			EXPECT_EQ(Context.m_Lines, Refusal);
			EXPECT_FALSE(gf_FileExists(gf_InstalledImagePath())) << "copied from " << Path;
			EXPECT_FALSE(gf_DriverServiceExists());
		}

		// Installed while it was safe, the same image is not started once it no longer is,
		// although the installed copy is still identical.
		CCollectingContext Safe;
		ASSERT_TRUE(NHushvane::gf_InitializeDriver(Safe)) << Path;
		Safe.f_CloseChannel();
		ASSERT_TRUE(NHushvane::gf_StopDriverService());
		{
			CEveryoneMayWrite Writable(Path);
			ASSERT_TRUE(Writable.f_IsSet()) << Path;
			CCollectingContext Context;
			EXPECT_FALSE(NHushvane::gf_InitializeDriver(Context)) << Path;
			EXPECT_EQ(Context.m_Lines, Refusal);
			EXPECT_EQ(gf_DriverServiceState(), DWORD(SERVICE_STOPPED)) << "started from " << Path;
			EXPECT_FALSE(Context.f_IsChannelOpen());
		}
		CCollectingContext Again;
		EXPECT_TRUE(NHushvane::gf_InitializeDriver(Again)) << "safe again";
		EXPECT_TRUE(Again.m_Lines.empty());
		Again.f_CloseChannel();
		gf_RemoveDriverCompletely();
	}
}
