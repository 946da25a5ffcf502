#include "KvWin/KvRegistry.h"
#include "zel/library/core/general/Zel_Exception.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using NKv::CWin32_Registry;
using NZel::NStr::CStr;

namespace
{
	// Every case works below its own key in HKEY_CURRENT_USER, removed again afterwards.
	constexpr const wchar_t *gc_TestRoot = L"Software\\HushvaneRegistryTest";

	class RegistryTest : public testing::Test
	{
	protected:
		void SetUp() override
		{
			RegDeleteTreeW(HKEY_CURRENT_USER, gc_TestRoot);
			ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(gc_TestRoot) + L"\\Values").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
						  nullptr, &m_hKey, nullptr),
				ERROR_SUCCESS);
		}
		void TearDown() override
		{
			if (m_hKey)
				RegCloseKey(m_hKey);
			RegDeleteTreeW(HKEY_CURRENT_USER, gc_TestRoot);
		}

		void f_Set(const wchar_t *pName, DWORD Type, const void *pData, DWORD Size)
		{
			ASSERT_EQ(RegSetValueExW(m_hKey, pName, 0, Type, static_cast<const BYTE *>(pData), Size), ERROR_SUCCESS);
		}
		void f_SetText(const wchar_t *pName, DWORD Type, const std::wstring &Text)
		{
			f_Set(pName, Type, Text.c_str(), DWORD((Text.size() + 1) * sizeof(wchar_t)));
		}
		void f_SetMulti(const wchar_t *pName, const std::wstring &ZeroSeparated)
		{
			// ZeroSeparated already holds the inner zeros; the list ends with two.
			std::wstring Data = ZeroSeparated;
			Data.push_back(L'\0');
			Data.push_back(L'\0');
			f_Set(pName, REG_MULTI_SZ, Data.data(), DWORD(Data.size() * sizeof(wchar_t)));
		}

		static std::string fs_Thrown(const CWin32_Registry &Registry, const char *pKey, const char *pValue, NZel::uint32 *pNumber, CStr *pString,
			std::vector<NZel::uint8> *pBytes, std::vector<CStr> *pList)
		{
			try
			{
				Registry.ReadRegKey(CStr(pKey), CStr(pValue), pNumber, pString, pBytes, pList);
			}
			catch (const NZel::NException::CException &Exception)
			{
				return Exception.f_GetMessage();
			}
			return "(nothing thrown)";
		}

		HKEY m_hKey = nullptr;
		CWin32_Registry m_Registry{1, CStr("Software\\HushvaneRegistryTest")};
	};
}

TEST_F(RegistryTest, ReadsEveryTextAndNumberTypeIntoTheOfferedOutput)
{
	const DWORD Number = 0x12345678;
	f_Set(L"Dword", REG_DWORD, &Number, sizeof(Number));
	f_Set(L"BigEndian", REG_DWORD_BIG_ENDIAN, &Number, sizeof(Number));
	f_SetText(L"Text", REG_SZ, L"C:\\Windows\\notepad.exe");
	f_SetText(L"Expand", REG_EXPAND_SZ, L"%SystemRoot%\\x");
	f_SetText(L"", REG_SZ, L"default value");
	const BYTE Bytes[] = {1, 0, 255, 7, 0};
	f_Set(L"Binary", REG_BINARY, Bytes, sizeof(Bytes));

	EXPECT_EQ(m_Registry.f_ReadDword(CStr("Values"), CStr("Dword")), 0x12345678u);
	EXPECT_EQ(m_Registry.f_ReadDword(CStr("Values"), CStr("BigEndian")), 0x12345678u); // no byte swap

	CStr Text;
	m_Registry.ReadRegKey(CStr("Values"), CStr("Text"), nullptr, &Text, nullptr, nullptr);
	EXPECT_STREQ(Text.f_GetStr(), "C:\\Windows\\notepad.exe");
	m_Registry.ReadRegKey(CStr("Values"), CStr("Expand"), nullptr, &Text, nullptr, nullptr);
	EXPECT_STREQ(Text.f_GetStr(), "%SystemRoot%\\x"); // not expanded
	m_Registry.ReadRegKey(CStr("Values"), CStr(""), nullptr, &Text, nullptr, nullptr);
	EXPECT_STREQ(Text.f_GetStr(), "default value");

	std::vector<NZel::uint8> Read;
	m_Registry.ReadRegKey(CStr("Values"), CStr("Binary"), nullptr, nullptr, &Read, nullptr);
	EXPECT_EQ(Read, std::vector<NZel::uint8>(Bytes, Bytes + sizeof(Bytes)));
	// A text read as bytes gives its UTF-16 bytes with the terminator.
	m_Registry.ReadRegKey(CStr("Values"), CStr("Text"), nullptr, nullptr, &Read, nullptr);
	EXPECT_EQ(Read.size(), (std::wstring(L"C:\\Windows\\notepad.exe").size() + 1) * 2);
}

TEST_F(RegistryTest, StringListTakesPrecedenceAndStopsAtTheFirstEmptyString)
{
	f_SetMulti(L"Two", std::wstring(L"first\0second", 12));
	f_SetMulti(L"EmptyFirst", std::wstring(L"\0after", 6));
	f_SetText(L"Plain", REG_SZ, L"only");
	// Data without any terminator still ends at the end of what was read.
	f_Set(L"Unterminated", REG_SZ, L"abc", 6);

	std::vector<CStr> List{CStr("kept")};
	CStr Text("untouched");
	m_Registry.ReadRegKey(CStr("Values"), CStr("Two"), nullptr, &Text, nullptr, &List);
	ASSERT_EQ(List.size(), 3u); // appended to
	EXPECT_STREQ(List[1].f_GetStr(), "first");
	EXPECT_STREQ(List[2].f_GetStr(), "second");
	EXPECT_STREQ(Text.f_GetStr(), "untouched"); // only the first offered output is served

	List.clear();
	m_Registry.ReadRegKey(CStr("Values"), CStr("EmptyFirst"), nullptr, nullptr, nullptr, &List);
	EXPECT_TRUE(List.empty());

	m_Registry.ReadRegKey(CStr("Values"), CStr("Plain"), nullptr, nullptr, nullptr, &List);
	ASSERT_EQ(List.size(), 1u);
	EXPECT_STREQ(List[0].f_GetStr(), "only");

	List.clear();
	m_Registry.ReadRegKey(CStr("Values"), CStr("Unterminated"), nullptr, nullptr, nullptr, &List);
	ASSERT_EQ(List.size(), 1u);
	EXPECT_STREQ(List[0].f_GetStr(), "abc");
	m_Registry.ReadRegKey(CStr("Values"), CStr("Unterminated"), nullptr, &Text, nullptr, nullptr);
	EXPECT_STREQ(Text.f_GetStr(), "abc");
}

TEST_F(RegistryTest, TextsArriveAsUtf8OfKind2AndNamesAreReadByTheirKind)
{
	// e-acute, the euro sign, a character beyond the BMP (a surrogate pair), and a lone
	// surrogate, which has no UTF-8 form of its own.
	f_SetText(L"Unicode", REG_SZ, L"\u00E9\u20AC\U0001F600!");
	f_SetText(L"Lone", REG_SZ, std::wstring(L"a\xD800" L"b"));
	f_SetMulti(L"List", std::wstring(L"\u00E9\0\U0001F600", 4));
	f_SetText(L"Caf\u00E9", REG_SZ, L"by a Latin-1 name");

	CStr Text;
	m_Registry.ReadRegKey(CStr("Values"), CStr("Unicode"), nullptr, &Text, nullptr, nullptr);
	EXPECT_STREQ(Text.f_GetStr(), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80!");
	EXPECT_EQ(Text.f_GetKind(), NZel::NStr::gc_KindUnicode);
	m_Registry.ReadRegKey(CStr("Values"), CStr("Lone"), nullptr, &Text, nullptr, nullptr);
	EXPECT_STREQ(Text.f_GetStr(), "a\xEF\xBF\xBD" "b");

	std::vector<CStr> List;
	m_Registry.ReadRegKey(CStr("Values"), CStr("List"), nullptr, nullptr, nullptr, &List);
	ASSERT_EQ(List.size(), 2u);
	EXPECT_STREQ(List[0].f_GetStr(), "\xC3\xA9");
	EXPECT_STREQ(List[1].f_GetStr(), "\xF0\x9F\x98\x80");
	EXPECT_EQ(List[1].f_GetKind(), NZel::NStr::gc_KindUnicode);

	// A value name given as Latin-1 (kind 1) and the same name as UTF-8 (kind 2) are one name.
	m_Registry.ReadRegKey(CStr("Values"), CStr("Caf\xE9"), nullptr, &Text, nullptr, nullptr);
	EXPECT_STREQ(Text.f_GetStr(), "by a Latin-1 name");
	CStr const Utf8Name("Caf\xC3\xA9", -1, NZel::NStr::gc_KindUnicode);
	EXPECT_TRUE(m_Registry.f_ValueExists(CStr("Values"), Utf8Name));
	// Read back from the registry, a name can be handed in again.
	CStr Name;
	f_SetText(L"NameOfTheOther", REG_SZ, L"Caf\u00E9");
	m_Registry.ReadRegKey(CStr("Values"), CStr("NameOfTheOther"), nullptr, &Name, nullptr, nullptr);
	EXPECT_TRUE(m_Registry.f_ValueExists(CStr("Values"), Name));
}

TEST_F(RegistryTest, WrongAndUnknownTypesThrow)
{
	const DWORD Number = 1;
	const ULONGLONG Wide = 1;
	f_Set(L"Dword", REG_DWORD, &Number, sizeof(Number));
	f_Set(L"Qword", REG_QWORD, &Wide, sizeof(Wide));
	f_SetText(L"Text", REG_SZ, L"x");
	f_Set(L"None", REG_NONE, nullptr, 0);

	NZel::uint32 Out = 0;
	CStr Text;
	std::vector<NZel::uint8> Bytes;
	std::vector<CStr> List;
	EXPECT_EQ(fs_Thrown(m_Registry, "Values", "Dword", nullptr, &Text, &Bytes, &List), "Wrong valuetype");
	EXPECT_EQ(fs_Thrown(m_Registry, "Values", "Text", &Out, nullptr, nullptr, nullptr), "Wrong valuetype");
	EXPECT_EQ(fs_Thrown(m_Registry, "Values", "Qword", &Out, &Text, &Bytes, &List), "Unknown valuetype");
	EXPECT_EQ(fs_Thrown(m_Registry, "Values", "None", &Out, &Text, &Bytes, &List), "Unknown valuetype");
}

TEST_F(RegistryTest, MissingKeyOrValueIsFalseOrThrowsWithTheSystemText)
{
	EXPECT_TRUE(m_Registry.f_ValueExists(CStr("Values"), CStr("")) == false); // no default value set
	f_SetText(L"Text", REG_SZ, L"x");
	EXPECT_TRUE(m_Registry.f_ValueExists(CStr("Values"), CStr("Text")));
	EXPECT_FALSE(m_Registry.f_ValueExists(CStr("Values"), CStr("Other")));
	EXPECT_FALSE(m_Registry.f_ValueExists(CStr("NoSuchKey"), CStr("Text")));

	NZel::uint32 Out = 0;
	std::string Message = fs_Thrown(m_Registry, "NoSuchKey", "Text", &Out, nullptr, nullptr, nullptr);
	EXPECT_EQ(Message.rfind("RegOpenKeyExW: ", 0), 0u) << Message;
	EXPECT_GT(Message.size(), std::string("RegOpenKeyExW: ").size()) << "the system's text follows";
	Message = fs_Thrown(m_Registry, "Values", "Other", &Out, nullptr, nullptr, nullptr);
	EXPECT_EQ(Message.rfind("RegQueryValueExW: ", 0), 0u) << Message;
}

TEST_F(RegistryTest, RootSelectorAndEmptyBasePath)
{
	f_SetText(L"Text", REG_SZ, L"found");
	CWin32_Registry NoBase(1, CStr());
	EXPECT_STREQ(NoBase.f_GetFullPath(CStr("A\\B")).f_GetStr(), "A\\B"); // no leading separator
	EXPECT_TRUE(NoBase.f_ValueExists(CStr("Software\\HushvaneRegistryTest\\Values"), CStr("Text")));
	EXPECT_STREQ(m_Registry.f_GetFullPath(CStr("Values")).f_GetStr(), "Software\\HushvaneRegistryTest\\Values");

	EXPECT_EQ(CWin32_Registry(0, CStr()).f_GetRoot(), NZel::umint(HKEY_LOCAL_MACHINE));
	EXPECT_EQ(CWin32_Registry(1, CStr()).f_GetRoot(), NZel::umint(HKEY_CURRENT_USER));
	EXPECT_EQ(CWin32_Registry(2, CStr()).f_GetRoot(), NZel::umint(HKEY_CLASSES_ROOT));
	EXPECT_EQ(CWin32_Registry(7, CStr()).f_GetRoot(), NZel::umint(HKEY_LOCAL_MACHINE));
	EXPECT_EQ(CWin32_Registry(-1, CStr()).f_GetRoot(), NZel::umint(HKEY_LOCAL_MACHINE));
	// The current user's value is not visible below the machine root.
	CWin32_Registry Machine(0, CStr("Software\\HushvaneRegistryTest"));
	EXPECT_FALSE(Machine.f_ValueExists(CStr("Values"), CStr("Text")));
}

TEST_F(RegistryTest, ReadDwordIfPresentTellsAbsentFromPresentInOneRead)
{
	const DWORD Number = 7;
	const DWORD Zero = 0;
	const WORD Short = 0x0102;
	f_Set(L"Dword", REG_DWORD, &Number, sizeof(Number));
	f_Set(L"Zero", REG_DWORD, &Zero, sizeof(Zero));
	f_Set(L"BigEndian", REG_DWORD_BIG_ENDIAN, &Number, sizeof(Number));
	f_Set(L"Short", REG_DWORD, &Short, sizeof(Short));
	struct CCase
	{
		const char *m_pKey;
		const char *m_pValue;
		bool m_bPresent;
		NZel::uint32 m_Value;
	};
	const CCase Cases[] = {
		{"Values", "Dword", true, 7},
		{"Values", "Zero", true, 0},
		{"Values", "BigEndian", true, 7},
		{"Values", "Short", true, 0x0102}, // the higher bytes stay 0
		{"Values", "Missing", false, 0},
		{"NoSuchKey", "Dword", false, 0},
		{"NoSuchKey\\Deeper", "Dword", false, 0},
	};
	for (const CCase &Case : Cases)
	{
		NZel::uint32 Value = 0xDEADBEEF;
		EXPECT_EQ(m_Registry.f_ReadDwordIfPresent(CStr(Case.m_pKey), CStr(Case.m_pValue), Value), Case.m_bPresent)
			<< Case.m_pKey << " " << Case.m_pValue;
		EXPECT_EQ(Value, Case.m_bPresent ? Case.m_Value : 0xDEADBEEF) << Case.m_pKey << " " << Case.m_pValue;
	}

	// Present but not a number is a failure of its own, not absence.
	f_SetText(L"Text", REG_SZ, L"1");
	const ULONGLONG Wide = 1;
	f_Set(L"Qword", REG_QWORD, &Wide, sizeof(Wide));
	std::string Messages[2];
	const char *Names[2] = {"Text", "Qword"};
	for (int i = 0; i < 2; ++i)
	{
		Messages[i] = "(nothing thrown)";
		try
		{
			NZel::uint32 Value = 0;
			m_Registry.f_ReadDwordIfPresent(CStr("Values"), CStr(Names[i]), Value);
		}
		catch (const NZel::NException::CException &Exception)
		{
			Messages[i] = Exception.f_GetMessage();
		}
	}
	EXPECT_EQ(Messages[0], "Wrong valuetype");
	EXPECT_EQ(Messages[1], "Unknown valuetype");
}

TEST_F(RegistryTest, ReadDwordIfPresentNeverFailsOnAValueOrKeyThatComesAndGoes)
{
	// Another thread keeps creating and deleting the key with its value, as the service control
	// manager does when it deletes a service while it is being looked at.
	std::atomic<bool> bStop{false};
	std::thread Toggler(
		[&]
		{
			const std::wstring Key = std::wstring(gc_TestRoot) + L"\\Flickering";
			const DWORD One = 1;
			while (!bStop)
			{
				RegSetKeyValueW(HKEY_CURRENT_USER, Key.c_str(), L"Flag", REG_DWORD, &One, sizeof(One));
				RegDeleteKeyValueW(HKEY_CURRENT_USER, Key.c_str(), L"Flag");
				RegSetKeyValueW(HKEY_CURRENT_USER, Key.c_str(), L"Flag", REG_DWORD, &One, sizeof(One));
				RegDeleteTreeW(HKEY_CURRENT_USER, Key.c_str());
			}
		}
	);
	int nPresent = 0;
	int nAbsent = 0;
	std::string Failure;
	ULONGLONG End = GetTickCount64() + 1500;
	while (GetTickCount64() < End && Failure.empty())
	{
		try
		{
			NZel::uint32 Value = 0;
			if (m_Registry.f_ReadDwordIfPresent(CStr("Flickering"), CStr("Flag"), Value))
			{
				++nPresent;
				if (Value != 1)
					Failure = "read a value that was never written";
			}
			else
				++nAbsent;
		}
		catch (const NZel::NException::CException &Exception)
		{
			Failure = Exception.f_GetMessage();
		}
	}
	bStop = true;
	Toggler.join();
	EXPECT_EQ(Failure, "");
	EXPECT_GT(nPresent + nAbsent, 0);
}
