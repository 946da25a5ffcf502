// The real driver image, loaded through the service control manager, driven through its device.
// Every case installs the test image as a fresh kernel service, so each begins with an empty ring.
#include "driver/Hushvane_Shared.h"
#include "driver/Hushvane_TestControl.h"
#include "tests/driver/support/TestDriverClient_Windows.h"
#include "tests/driver/support/TestKernelService_Windows.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace NHushvaneTest;

namespace
{
	constexpr const char *gc_ServiceName = "HushvaneDriverTest";
#ifdef _WIN64
	constexpr const char *gc_ImageFile = "HushvaneTest.x64.sys";
	constexpr DWORD gc_RecordSize = 24;
	constexpr size_t gc_ProcessIdOffset = 8;
	constexpr size_t gc_CreateOffset = 16;
	using CWireId = std::uint64_t;
#else
	constexpr const char *gc_ImageFile = "HushvaneTest.x86.sys";
	constexpr DWORD gc_RecordSize = 12;
	constexpr size_t gc_ProcessIdOffset = 4;
	constexpr size_t gc_CreateOffset = 8;
	using CWireId = std::uint32_t;
#endif

	struct CRecord
	{
		std::uint64_t m_ParentId;
		std::uint64_t m_ProcessId;
		std::uint8_t m_Create;
	};

	// Decodes a wire record from its bytes, at the offsets user mode relies on.
	CRecord fg_Decode(const std::uint8_t *pBytes)
	{
		CWireId ParentId;
		CWireId ProcessId;
		std::memcpy(&ParentId, pBytes, sizeof(ParentId));
		std::memcpy(&ProcessId, pBytes + gc_ProcessIdOffset, sizeof(ProcessId));
		return CRecord{ParentId, ProcessId, pBytes[gc_CreateOffset]};
	}

	class CDriverTest : public ::testing::Test
	{
	protected:
		void SetUp() override
		{
			fp_pService = std::make_unique<CTestKernelService>(gc_ServiceName, HV_TEST_DRIVER_IMAGE, gc_ImageFile);
			ASSERT_TRUE(fp_pService->f_IsInstalled()) << fp_pService->f_GetError();
			ASSERT_TRUE(fp_pService->f_Start()) << fp_pService->f_GetError();
			fp_Device = gf_OpenHushvaneDevice();
			ASSERT_TRUE(fp_Device.f_IsValid()) << "CreateFileA error " << GetLastError();
		}

		void TearDown() override
		{
			fp_Device.f_Reset();
			fp_pService.reset();
		}

		void fp_Feed(std::uint64_t ParentId, std::uint64_t ProcessId, bool bCreate)
		{
			ASSERT_TRUE(gf_FeedProcessEvent(fp_Device.f_Get(), ParentId, ProcessId, bCreate)) << "feed error " << GetLastError();
		}

		// Reads one record with a buffer of exactly one record; false when the request failed.
		bool fp_Read(CRecord &Record)
		{
			std::uint8_t Buffer[gc_RecordSize];
			DWORD Returned = 0;
			if (!gf_ReadProcessEvent(fp_Device.f_Get(), Buffer, sizeof(Buffer), &Returned))
				return false;
			EXPECT_EQ(Returned, gc_RecordSize);
			Record = fg_Decode(Buffer);
			return true;
		}

		void fp_ExpectRecord(std::uint64_t ParentId, std::uint64_t ProcessId, bool bCreate)
		{
			CRecord Record{};
			ASSERT_TRUE(fp_Read(Record)) << "expected process " << ProcessId << ", error " << GetLastError();
			EXPECT_EQ(Record.m_ParentId, ParentId);
			EXPECT_EQ(Record.m_ProcessId, ProcessId);
			EXPECT_EQ(Record.m_Create != 0, bCreate) << "process " << ProcessId;
		}

		void fp_ExpectEmpty()
		{
			CRecord Record{};
			EXPECT_FALSE(fp_Read(Record)) << "unexpected record for process " << Record.m_ProcessId;
		}

		std::unique_ptr<CTestKernelService> fp_pService;
		CKvFileHandle fp_Device;
	};

	CKvKernelHandle fg_OpenNotifyEvent()
	{
		return CKvKernelHandle(OpenEventA(SYNCHRONIZE, FALSE, DHushvaneUserEventName));
	}
}

TEST_F(CDriverTest, EmptyRingFailsEveryRequestAndChangesNothing)
{
	std::uint8_t Buffer[64];
	for (int i = 0; i < 3; ++i)
	{
		std::memset(Buffer, 0xAB, sizeof(Buffer));
		DWORD Returned = 77;
		EXPECT_FALSE(gf_ReadProcessEvent(fp_Device.f_Get(), Buffer, sizeof(Buffer), &Returned));
		EXPECT_EQ(Returned, 0u);
		for (std::uint8_t Byte : Buffer)
			ASSERT_EQ(Byte, 0xAB);
	}
	// The failed requests created nothing: the next report is the only one.
	fp_Feed(4, 5, true);
	fp_ExpectRecord(4, 5, true);
	fp_ExpectEmpty();
}

TEST_F(CDriverTest, RecordsComeBackOldestFirstOnePerRequestAtWireOffsets)
{
	struct CCase
	{
		std::uint64_t m_ParentId;
		std::uint64_t m_ProcessId;
		bool m_bCreate;
	};
	const CCase Cases[] = {
		{4, 1000, true},
		{1000, 1004, true},
		{4, 1000, false}, // an exit carries Create 0
		{0, 8, true},
		{0xFFFFFFFCu, 0xFFFFFFF8u, true}, // widest ids both layouts carry
	};
	for (const CCase &Case : Cases)
		fp_Feed(Case.m_ParentId, Case.m_ProcessId, Case.m_bCreate);
	for (const CCase &Case : Cases)
		fp_ExpectRecord(Case.m_ParentId, Case.m_ProcessId, Case.m_bCreate);
	fp_ExpectEmpty();
}

TEST_F(CDriverTest, OutputBufferSizes)
{
	fp_Feed(1, 101, true);
	fp_Feed(1, 102, true);
	fp_Feed(1, 103, true);

	std::uint8_t Buffer[4 * gc_RecordSize];

	// One byte short: refused, nothing transferred, the record stays.
	DWORD Returned = 77;
	EXPECT_FALSE(gf_ReadProcessEvent(fp_Device.f_Get(), Buffer, gc_RecordSize - 1, &Returned));
	EXPECT_EQ(Returned, 0u);
	// No buffer at all: refused as well.
	EXPECT_FALSE(gf_ReadProcessEvent(fp_Device.f_Get(), nullptr, 0, &Returned));

	// Exactly one record: succeeds with the oldest.
	ASSERT_TRUE(gf_ReadProcessEvent(fp_Device.f_Get(), Buffer, gc_RecordSize, &Returned));
	EXPECT_EQ(Returned, gc_RecordSize);
	EXPECT_EQ(fg_Decode(Buffer).m_ProcessId, 101u);

	// Room for four: one record, and the whole buffer reported as transferred.
	ASSERT_TRUE(gf_ReadProcessEvent(fp_Device.f_Get(), Buffer, sizeof(Buffer), &Returned));
	EXPECT_EQ(Returned, sizeof(Buffer));
	EXPECT_EQ(fg_Decode(Buffer).m_ProcessId, 102u);

	fp_ExpectRecord(1, 103, true);
	fp_ExpectEmpty();
}

TEST_F(CDriverTest, ReplyHoldsNothingButTheRecord)
{
	constexpr DWORD c_Size = 4096;
	for (int Round = 0; Round < 3; ++Round)
	{
		// The feed's input fills a whole system buffer of the same size with 0xCC: those bytes are
		// what a later request's buffer may be made of, as stale pool is on Windows.
		std::vector<std::uint8_t> Input(c_Size, 0xCC);
		HUSHVANE_TEST_NOTIFY_INPUT Notify{};
		Notify.ParentId = 9;
		Notify.ProcessId = 900 + Round;
		Notify.Create = 1;
		std::memcpy(Input.data(), &Notify, sizeof(Notify));
		DWORD Returned = 0;
		ASSERT_TRUE(DeviceIoControl(fp_Device.f_Get(), IOCTL_HUSHVANE_TEST_NOTIFY, Input.data(), c_Size, nullptr, 0, &Returned, nullptr))
			<< GetLastError();

		std::vector<std::uint8_t> Buffer(c_Size, 0xCC);
		ASSERT_TRUE(gf_ReadProcessEvent(fp_Device.f_Get(), Buffer.data(), c_Size, &Returned)) << GetLastError();
		EXPECT_EQ(Returned, c_Size);
		CRecord Record = fg_Decode(Buffer.data());
		EXPECT_EQ(Record.m_ParentId, 9u);
		EXPECT_EQ(Record.m_ProcessId, 900u + Round);
		EXPECT_NE(Record.m_Create, 0);
		// Create is the last field: its padding and everything after it are zero.
		for (size_t i = gc_CreateOffset + 1; i < c_Size; ++i)
			ASSERT_EQ(Buffer[i], 0) << "byte " << i << " of the reply, round " << Round;
		fp_ExpectEmpty();
	}
}

TEST_F(CDriverTest, OtherControlCodesFailAndLeaveTheRing)
{
	fp_Feed(2, 200, true);
	const DWORD Codes[] = {
		CTL_CODE(FILE_DEVICE_UNKNOWN, 0x802, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS),
		CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS),
		CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_READ_ACCESS),
		CTL_CODE(FILE_DEVICE_DISK, 0x800, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS),
		CTL_CODE(FILE_DEVICE_UNKNOWN, 0x7FF, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS),
		0,
	};
	for (DWORD Code : Codes)
	{
		std::uint8_t Buffer[gc_RecordSize];
		std::memset(Buffer, 0xAB, sizeof(Buffer));
		DWORD Returned = 0;
		EXPECT_FALSE(DeviceIoControl(fp_Device.f_Get(), Code, nullptr, 0, Buffer, sizeof(Buffer), &Returned, nullptr))
			<< "code 0x" << std::hex << Code;
		for (std::uint8_t Byte : Buffer)
			ASSERT_EQ(Byte, 0xAB) << "code 0x" << std::hex << Code << " wrote into the buffer";
	}
	fp_ExpectRecord(2, 200, true);
	fp_ExpectEmpty();
}

TEST_F(CDriverTest, FullRingKeepsTheFirst128AndWraps)
{
	// Six full rounds through the ring make both indices wrap several times.
	std::uint64_t NextId = 1;
	for (int Round = 0; Round < 3; ++Round)
	{
		const std::uint64_t First = NextId;
		for (int i = 0; i < 129; ++i)
			fp_Feed(7, NextId++, true);
		// The 129th was dropped. After one read there is room again.
		fp_ExpectRecord(7, First, true);
		fp_Feed(7, NextId, false);
		for (std::uint64_t Id = First + 1; Id < First + 128; ++Id)
			fp_ExpectRecord(7, Id, true);
		fp_ExpectRecord(7, NextId, false);
		++NextId;
		fp_ExpectEmpty();

		// A half-full ring across the wrap point keeps its order.
		for (int i = 0; i < 70; ++i)
			fp_Feed(8, 100000 + i, true);
		for (int i = 0; i < 70; ++i)
			fp_ExpectRecord(8, 100000 + i, true);
		fp_ExpectEmpty();
	}
}

namespace
{
	// Starts a thread that waits up to 20 s on Event, then feeds reports (at most 10, half a
	// second apart, in case the thread had not begun to wait yet) until the thread is released.
	// Returns the number of reports fed, 0 when the thread was never released.
	int fg_ReleaseWaiterByFeeding(HANDLE Event, const std::function<void(std::uint64_t)> &Feed)
	{
		std::atomic<bool> bReleased{false};
		std::atomic<DWORD> WaitResult{WAIT_FAILED};
		std::thread Waiter(
			[&]
			{
				WaitResult = WaitForSingleObject(Event, 20000);
				bReleased = true;
			}
		);
		int nFed = 0;
		for (; nFed < 10 && !bReleased; ++nFed)
		{
			Sleep(100);
			Feed(nFed);
			for (int i = 0; i < 50 && !bReleased; ++i)
				Sleep(10);
		}
		Waiter.join();
		return WaitResult == WAIT_OBJECT_0 && nFed > 0 ? nFed : 0;
	}
}

TEST_F(CDriverTest, PulseReleasesWaitersAndLeavesTheEventReset)
{
	CKvKernelHandle Event = fg_OpenNotifyEvent();
	ASSERT_TRUE(Event.f_IsValid()) << "OpenEventA error " << GetLastError();
	EXPECT_EQ(WaitForSingleObject(Event.f_Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "event signalled after load";

	int nFed = fg_ReleaseWaiterByFeeding(Event.f_Get(), [&](std::uint64_t i) { fp_Feed(3, 300 + i, true); });
	ASSERT_GT(nFed, 0) << "no report released the waiting thread";

	// The pulse is over: a reader that starts waiting now is not released by it.
	EXPECT_EQ(WaitForSingleObject(Event.f_Get(), 300), static_cast<DWORD>(WAIT_TIMEOUT));

	// A report dropped because the ring is full still pulses.
	for (int i = nFed; i < 128; ++i)
		fp_Feed(3, 300 + i, true);
	EXPECT_GT(fg_ReleaseWaiterByFeeding(Event.f_Get(), [&](std::uint64_t i) { fp_Feed(3, 9000 + i, true); }), 0)
		<< "a dropped report did not pulse the event";
	for (int i = 0; i < 128; ++i)
		fp_ExpectRecord(3, 300 + i, true);
	fp_ExpectEmpty();
}

TEST_F(CDriverTest, ConcurrentFeedersAndReadersDeliverEachRecordOnce)
{
	constexpr int nFeeders = 3;
	constexpr int nPerFeeder = 400;
	std::atomic<int> nFeedersDone{0};
	std::vector<std::thread> Threads;
	for (int Feeder = 0; Feeder < nFeeders; ++Feeder)
	{
		Threads.emplace_back(
			[&, Feeder]
			{
				CKvFileHandle Device = gf_OpenHushvaneDevice();
				for (int i = 0; i < nPerFeeder && Device.f_IsValid(); ++i)
				{
					gf_FeedProcessEvent(Device.f_Get(), Feeder, std::uint64_t(Feeder) * 100000 + i, true);
					if (i % 32 == 31)
						Sleep(1); // give the readers a chance; drops are allowed but rare
				}
				++nFeedersDone;
			}
		);
	}
	std::vector<CRecord> Received[2];
	for (int Reader = 0; Reader < 2; ++Reader)
	{
		Threads.emplace_back(
			[&, Reader]
			{
				CKvFileHandle Device = gf_OpenHushvaneDevice();
				std::uint8_t Buffer[gc_RecordSize];
				for (;;)
				{
					bool bDone = nFeedersDone == nFeeders;
					if (gf_ReadProcessEvent(Device.f_Get(), Buffer, sizeof(Buffer)))
						Received[Reader].push_back(fg_Decode(Buffer));
					else if (bDone)
						break;
				}
			}
		);
	}
	for (std::thread &Thread : Threads)
		Thread.join();

	std::set<std::uint64_t> Seen;
	size_t Total = 0;
	for (const std::vector<CRecord> &Records : Received)
	{
		// Within one reader, each feeder's records keep their order.
		std::uint64_t Last[nFeeders] = {};
		bool bAny[nFeeders] = {};
		for (const CRecord &Record : Records)
		{
			ASSERT_LT(Record.m_ParentId, std::uint64_t(nFeeders));
			ASSERT_EQ(Record.m_ProcessId / 100000, Record.m_ParentId) << "fields of different reports mixed";
			EXPECT_TRUE(Seen.insert(Record.m_ProcessId).second) << "record delivered twice: " << Record.m_ProcessId;
			int Feeder = int(Record.m_ParentId);
			if (bAny[Feeder])
			{
				EXPECT_GT(Record.m_ProcessId, Last[Feeder]);
			}
			Last[Feeder] = Record.m_ProcessId;
			bAny[Feeder] = true;
		}
		Total += Records.size();
	}
	EXPECT_LE(Total, size_t(nFeeders * nPerFeeder));
	EXPECT_GT(Total, size_t(0));
	fp_ExpectEmpty();
}

TEST_F(CDriverTest, StopUnloadsTheDriverAndRestartBeginsEmpty)
{
	fp_Feed(5, 500, true);
	fp_Device.f_Reset();
	ASSERT_TRUE(fp_pService->f_Stop()) << fp_pService->f_GetError();
	EXPECT_EQ(fp_pService->f_GetState(), static_cast<DWORD>(SERVICE_STOPPED));

	CKvFileHandle Gone = gf_OpenHushvaneDevice();
	EXPECT_FALSE(Gone.f_IsValid()) << "device still present after stop";
	// Nobody else holds the named event, so the unload's closing of its handle destroys it. (Wine
	// ends the driver's host process with its last driver, which would hide a leaked handle; on
	// Windows the handle would live on in the System process.)
	CKvKernelHandle GoneEvent = fg_OpenNotifyEvent();
	EXPECT_FALSE(GoneEvent.f_IsValid()) << "event handle still open after stop";

	ASSERT_TRUE(fp_pService->f_Start()) << fp_pService->f_GetError();
	fp_Device = gf_OpenHushvaneDevice();
	ASSERT_TRUE(fp_Device.f_IsValid()) << "CreateFileA error " << GetLastError();
	fp_ExpectEmpty();
	// A second load opened the event the first one left, and still pulses it.
	CKvKernelHandle Event = fg_OpenNotifyEvent();
	EXPECT_TRUE(Event.f_IsValid());
	fp_Feed(5, 501, true);
	fp_ExpectRecord(5, 501, true);
}

TEST_F(CDriverTest, DeviceCarriesTheRestrictedDacl)
{
	// What the kernel holds for the device, read back by the test image.
	alignas(8) std::uint8_t Buffer[512];
	DWORD Returned = 0;
	ASSERT_TRUE(DeviceIoControl(fp_Device.f_Get(), IOCTL_HUSHVANE_TEST_QUERY_SECURITY, nullptr, 0, Buffer, sizeof(Buffer), &Returned, nullptr))
		<< GetLastError();
	ASSERT_GT(Returned, 0u);
	ASSERT_TRUE(IsValidSecurityDescriptor(Buffer));
	char *pText = nullptr;
	ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(Buffer, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &pText, nullptr))
		<< GetLastError();
	std::string Text = pText;
	LocalFree(pText);
	// Windows maps the generic right through the device's mapping when it stores the DACL.
	EXPECT_TRUE(Text == "D:P(A;;GA;;;SY)(A;;GA;;;BA)" || Text == "D:P(A;;FA;;;SY)(A;;FA;;;BA)") << Text;
}

TEST_F(CDriverTest, DeviceRefusesOpensWithoutAdministrators)
{
	// Wine keeps a device's security descriptor but does not consult it when the device is
	// opened (measured: a token whose Administrators group is deny-only opens it). The descriptor
	// itself is checked in CDeviceSecurity; this case checks the whole path on Windows.
	if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
		GTEST_SKIP() << "Wine does not apply device DACLs to opens";

	HANDLE RawProcessToken = nullptr;
	ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &RawProcessToken));
	CKvKernelHandle ProcessToken(RawProcessToken);
	BYTE AdministratorsSid[SECURITY_MAX_SID_SIZE];
	DWORD SidSize = sizeof(AdministratorsSid);
	ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, AdministratorsSid, &SidSize));
	SID_AND_ATTRIBUTES Disable = {AdministratorsSid, 0};
	HANDLE RawRestricted = nullptr;
	ASSERT_TRUE(CreateRestrictedToken(ProcessToken.f_Get(), 0, 1, &Disable, 0, nullptr, 0, nullptr, &RawRestricted));
	CKvKernelHandle Restricted(RawRestricted);
	HANDLE RawImpersonation = nullptr;
	ASSERT_TRUE(DuplicateToken(Restricted.f_Get(), SecurityImpersonation, &RawImpersonation));
	CKvKernelHandle Impersonation(RawImpersonation);

	ASSERT_TRUE(SetThreadToken(nullptr, Impersonation.f_Get()));
	CKvFileHandle Denied = gf_OpenHushvaneDevice();
	DWORD Error = GetLastError();
	RevertToSelf();
	EXPECT_FALSE(Denied.f_IsValid());
	EXPECT_EQ(Error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(CDriverLoadTest, SetUpFailingAtAnyStepLeavesNothingBehind)
{
	CTestKernelService Service(gc_ServiceName, HV_TEST_DRIVER_IMAGE, gc_ImageFile);
	ASSERT_TRUE(Service.f_IsInstalled()) << Service.f_GetError();
	struct CCase
	{
		DWORD m_Step;
		const char *m_pStep;
	};
	// The test image reads "TestFailStep" from its service key and fails that step.
	const CCase Cases[] = {
		{1, "device access"},
		{2, "symbolic link"},
		{3, "notification event"},
		{4, "process-notify registration"},
	};
	for (const CCase &Case : Cases)
	{
		ASSERT_TRUE(Service.f_SetDwordValue("TestFailStep", Case.m_Step)) << Service.f_GetError();
		EXPECT_FALSE(Service.f_Start(10000)) << "load succeeded although " << Case.m_pStep << " failed";
		EXPECT_EQ(Service.f_GetState(), static_cast<DWORD>(SERVICE_STOPPED)) << Case.m_pStep;
		CKvFileHandle Device = gf_OpenHushvaneDevice();
		EXPECT_FALSE(Device.f_IsValid()) << "device left behind after " << Case.m_pStep << " failed";
		CKvKernelHandle Event = fg_OpenNotifyEvent();
		EXPECT_FALSE(Event.f_IsValid()) << "event left open after " << Case.m_pStep << " failed";
	}

	// Nothing left behind blocks the next load: no device or link name collides.
	ASSERT_TRUE(Service.f_DeleteValue("TestFailStep")) << Service.f_GetError();
	ASSERT_TRUE(Service.f_Start()) << Service.f_GetError();
	CKvFileHandle Device = gf_OpenHushvaneDevice();
	ASSERT_TRUE(Device.f_IsValid()) << "CreateFileA error " << GetLastError();
	ASSERT_TRUE(gf_FeedProcessEvent(Device.f_Get(), 6, 600, true));
	std::uint8_t Buffer[gc_RecordSize];
	ASSERT_TRUE(gf_ReadProcessEvent(Device.f_Get(), Buffer, sizeof(Buffer)));
	EXPECT_EQ(fg_Decode(Buffer).m_ProcessId, 600u);
}

TEST(CDriverReleaseImageTest, RefusesTheTestControlCode)
{
	CTestKernelService Service(gc_ServiceName, HV_RELEASE_DRIVER_IMAGE, gc_ImageFile);
	ASSERT_TRUE(Service.f_IsInstalled()) << Service.f_GetError();
	ASSERT_TRUE(Service.f_Start()) << Service.f_GetError();
	CKvFileHandle Device = gf_OpenHushvaneDevice();
	ASSERT_TRUE(Device.f_IsValid()) << "CreateFileA error " << GetLastError();
	EXPECT_FALSE(gf_FeedProcessEvent(Device.f_Get(), 1, 2, true));
	std::uint8_t Buffer[gc_RecordSize];
	EXPECT_FALSE(gf_ReadProcessEvent(Device.f_Get(), Buffer, sizeof(Buffer)));
}
