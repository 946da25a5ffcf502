// The service's events in the Application log: the source registered with the service, the
// message table in hushvane.exe that gives every event its text, and (in a prefix of its own,
// whose service processes have Wine's eventlog channel on) the events a real run writes.
#include "app/Hushvane_DriverDeploy.h"
#include "tests/driver/support/TestKernelService_Windows.h"
#include "tests/e2e/ServiceSupport_Windows.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>
#include <vector>

using namespace NHushvaneTest;

namespace
{
	constexpr const char *gc_SourceKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Hushvane";

	bool fg_ReadValue(const char *pName, DWORD &Type, std::string &Text, DWORD &Number)
	{
		HKEY hKey = nullptr;
		if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, gc_SourceKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
			return false;
		BYTE Buffer[1024] = {};
		DWORD Size = sizeof(Buffer) - 1;
		bool bRead = RegQueryValueExA(hKey, pName, nullptr, &Type, Buffer, &Size) == ERROR_SUCCESS;
		RegCloseKey(hKey);
		Text = reinterpret_cast<const char *>(Buffer);
		Number = Size >= sizeof(DWORD) ? *reinterpret_cast<const DWORD *>(Buffer) : 0;
		return bRead;
	}

	bool fg_SourceExists()
	{
		HKEY hKey = nullptr;
		if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, gc_SourceKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
			return false;
		RegCloseKey(hKey);
		return true;
	}

	// The ids of hushvane.exe's message table, read from the resource itself.
	std::set<DWORD> fg_MessageIds(HMODULE hModule)
	{
		std::set<DWORD> Ids;
		HRSRC hResource = FindResourceA(hModule, MAKEINTRESOURCEA(1), reinterpret_cast<LPCSTR>(RT_MESSAGETABLE));
		HGLOBAL hData = hResource ? LoadResource(hModule, hResource) : nullptr;
		const auto *pData = hData ? static_cast<const MESSAGE_RESOURCE_DATA *>(LockResource(hData)) : nullptr;
		for (DWORD Block = 0; pData && Block < pData->NumberOfBlocks; ++Block)
			for (DWORD Id = pData->Blocks[Block].LowId; Id <= pData->Blocks[Block].HighId; ++Id)
				Ids.insert(Id);
		return Ids;
	}

	std::string fg_Narrow(const wchar_t *pText)
	{
		std::string Text;
		for (; *pText; ++pText)
			Text += char(*pText);
		return Text;
	}

	class EventLogE2E : public ::testing::Test
	{
	protected:
		void SetUp() override
		{
			gf_RemoveServiceDirectly();
			gf_RemoveDriverCompletely();
			gf_ClearLogs();
		}
		void TearDown() override
		{
			gf_RemoveServiceDirectly();
			gf_RemoveDriverCompletely();
		}
	};
}

TEST_F(EventLogE2E, AddServiceRegistersTheEventSourceAndRemoveServiceTakesItAway)
{
	ASSERT_EQ(gf_RunHushvane("-AddService"), 0u);
	DWORD Type = 0, Number = 0;
	std::string Text;
	ASSERT_TRUE(fg_ReadValue("EventMessageFile", Type, Text, Number));
	EXPECT_EQ(Type, DWORD(REG_EXPAND_SZ));
	char Full[MAX_PATH * 4];
	GetFullPathNameA(gf_InProgramFolder("hushvane.exe").c_str(), DWORD(sizeof(Full)), Full, nullptr);
	EXPECT_EQ(Text, Full) << "the message file is the program, written with backslashes";
	ASSERT_TRUE(fg_ReadValue("TypesSupported", Type, Text, Number));
	EXPECT_EQ(Type, DWORD(REG_DWORD));
	EXPECT_EQ(Number, DWORD(EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE));

	ASSERT_EQ(gf_RunHushvane("-RemoveService"), 0u);
	EXPECT_FALSE(fg_SourceExists());
}

TEST_F(EventLogE2E, EveryMessageOfTheTableRendersWithItsInserts)
{
	struct CMessage
	{
		DWORD m_Id; // as the table has it: the severity in the two high bits
		const char *m_pText;
	};
	// Inserts are "<1>", "<2>", ...; the last insert of each message is the note on events left
	// out, here "<n>" of its number.
	const CMessage Messages[] = {
		{0x80000064, "<1>Failed to initialize driver\r\nWatching launches without the driver, every <2> ms<3>\r\n"},
		{0x80000065, "Lost the driver's device; bringing the driver up again\r\nWatching launches without the driver, every <1> ms<2>\r\n"},
		{0x40000066, "Driver up again\r\nThe driver's records are taken from now on<1>\r\n"},
		{0xC0000067, "<1>\r\nUntil only administrators can change it, launches are watched without the driver<2>\r\n"},
		{0x8000006E, "The configuration <1> could not be read: <2>\r\n<3><4>\r\n"},
		{0x8000006F, "The configuration <1> was read with <2> warnings; run hushvane.exe -CheckConfig to see them<3>\r\n"},
		{0x80000070, "<1><2>\r\n"},
		{0xC0000078, "<1>\r\nThe run ended on this error; a new run begins in <2> seconds<3>\r\n"},
		{0xC0000082, "<1> crashed: <2>\r\nCrash log: <3>\r\nDumps: <4><5>\r\n"},
		{0xC0000083, "<1> is not responding\r\nAn error report of its threads follows: a crash log and dumps beside the program<2>\r\n"},
	};
	std::wstring Program;
	for (char Char : gf_InProgramFolder("hushvane.exe"))
		Program += wchar_t(Char);
	HMODULE hModule = LoadLibraryExW(Program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
	ASSERT_NE(hModule, nullptr) << GetLastError();

	std::set<DWORD> Expected;
	for (const CMessage &Message : Messages)
	{
		Expected.insert(Message.m_Id);
		std::wstring Inserts[9];
		DWORD_PTR Arguments[9];
		for (int i = 0; i < 9; ++i)
		{
			Inserts[i] = L"<" + std::to_wstring(i + 1) + L">";
			Arguments[i] = reinterpret_cast<DWORD_PTR>(Inserts[i].c_str());
		}
		wchar_t Text[2048] = {};
		DWORD Length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, hModule, Message.m_Id, 0x409, Text,
			DWORD(sizeof(Text) / sizeof(Text[0])), reinterpret_cast<va_list *>(Arguments));
		EXPECT_GT(Length, 0u) << std::hex << Message.m_Id << ": " << std::dec << GetLastError();
		EXPECT_EQ(fg_Narrow(Text), Message.m_pText) << std::hex << Message.m_Id;
	}
	EXPECT_EQ(fg_MessageIds(hModule), Expected) << "every message of the table has a row here";
	FreeLibrary(hModule);
}

// Run by e2e.event_log_channel in a prefix of its own, whose service processes write each
// event's strings to Wine's eventlog channel, which lands in the file HV_SERVICES_LOG names.
TEST_F(EventLogE2E, TheServiceWithoutItsDriverWarnsInTheApplicationLog)
{
	char ServicesLog[MAX_PATH * 4];
	DWORD Length = GetEnvironmentVariableA("HV_SERVICES_LOG", ServicesLog, DWORD(sizeof(ServicesLog)));
	if (Length == 0 || Length >= sizeof(ServicesLog))
		GTEST_SKIP() << "needs the eventlog channel of the service's process (e2e.event_log_channel)";
	std::string Channel = gf_WindowsPath(ServicesLog);
	std::string Before;
	gf_ReadFile(Channel, Before);

	gf_RemoveTree(gf_InProgramFolder(NHushvane::gf_GetDriverImageName()));
	ASSERT_EQ(gf_RunHushvane("-AddService"), 0u);
	ASSERT_EQ(gf_RunHushvane("-StartService"), 0u);
	// Wine stores no event: it writes each insert of a warning on a line of its own.
	std::string Written;
	auto fWarned = [&] {
		std::string All;
		gf_ReadFile(Channel, All);
		Written = All.size() > Before.size() ? All.substr(Before.size()) : std::string();
		return Written.find("warn:eventlog:ReportEventW L\"Driver image not found: ") != std::string::npos
			&& Written.find("warn:eventlog:ReportEventW L\"100\"") != std::string::npos;
	};
	EXPECT_TRUE(gf_WaitUntil(fWarned, 30000)) << Written;
	// The event id and type Wine was handed: a warning (2) with id 0x80000064.
	EXPECT_NE(Written.find(",0x0002,0x0000,0x80000064,"), std::string::npos) << Written;
}
