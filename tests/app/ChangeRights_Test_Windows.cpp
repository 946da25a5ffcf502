// Who other than an administrator can change a file or folder, decided over security
// descriptors written as SDDL: the ones Windows gives its folders by default, and the mistakes
// that make an installation unsafe.
#include "app/Hushvane_ChangeRights.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace NHushvane;

namespace
{
	// TrustedInstaller, a user who is not an administrator, and one who is (through the group).
#define DTrustedInstaller "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
#define DUser "S-1-5-21-1004336348-1177238915-682003330-1001"
#define DAdminUser "S-1-5-21-1004336348-1177238915-682003330-1002"

	struct CLocalFree
	{
		void operator()(void *p) const noexcept { LocalFree(p); }
	};

	// The descriptor's owner with a present but null access list: what Windows makes of
	// "D:NO_ACCESS_CONTROL" (Wine 8 makes an empty list of it, which grants nothing).
	std::unique_ptr<void, CLocalFree> fg_WithNullDacl(PSECURITY_DESCRIPTOR pParsed)
	{
		SECURITY_DESCRIPTOR Absolute;
		PSID pOwner = nullptr;
		BOOL bDefaulted = FALSE;
		if (!InitializeSecurityDescriptor(&Absolute, SECURITY_DESCRIPTOR_REVISION) || !GetSecurityDescriptorOwner(pParsed, &pOwner, &bDefaulted) ||
			!SetSecurityDescriptorOwner(&Absolute, pOwner, FALSE) || !SetSecurityDescriptorDacl(&Absolute, TRUE, nullptr, FALSE))
			return nullptr;
		DWORD Size = 0;
		MakeSelfRelativeSD(&Absolute, nullptr, &Size);
		std::unique_ptr<void, CLocalFree> Relative(LocalAlloc(LMEM_FIXED, Size));
		if (!Relative || !MakeSelfRelativeSD(&Absolute, Relative.get(), &Size))
			return nullptr;
		return Relative;
	}

	std::unique_ptr<void, CLocalFree> fg_Descriptor(const char *pSddl)
	{
		PSECURITY_DESCRIPTOR pDescriptor = nullptr;
		EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(pSddl, SDDL_REVISION_1, &pDescriptor, nullptr))
			<< GetLastError() << ": " << pSddl;
		std::unique_ptr<void, CLocalFree> Parsed(pDescriptor);
		if (Parsed && std::string(pSddl).find("D:NO_ACCESS_CONTROL") != std::string::npos)
			return fg_WithNullDacl(Parsed.get());
		return Parsed;
	}

	std::string fg_SidText(PSID pSid)
	{
		LPSTR pText = nullptr;
		if (!ConvertSidToStringSidA(pSid, &pText))
			return "?";
		std::unique_ptr<void, CLocalFree> Owned(pText);
		return pText;
	}

	std::unique_ptr<void, CLocalFree> fg_Sid(const char *pText)
	{
		PSID pSid = nullptr;
		EXPECT_TRUE(ConvertStringSidToSidA(pText, &pSid)) << pText;
		return std::unique_ptr<void, CLocalFree>(pSid);
	}

	struct CDescriptorCase
	{
		const char *m_pWhat;
		const char *m_pSddl;
		DWORD m_Rights;
		std::vector<std::string> m_Expected; // SID strings, in the order met
	};

	// A folder Windows makes below Program Files: everything inherited, users read and run.
	constexpr const char *gc_ProgramFilesChild = "O:BAG:SYD:AI(A;ID;FA;;;" DTrustedInstaller ")(A;CIIOID;GA;;;" DTrustedInstaller
												 ")(A;ID;FA;;;SY)(A;OICIIOID;GA;;;SY)(A;ID;FA;;;BA)(A;OICIIOID;GA;;;BA)"
												 "(A;ID;0x1200a9;;;BU)(A;OICIIOID;GXGR;;;BU)(A;OICIIOID;GA;;;CO)"
												 "(A;ID;0x1200a9;;;AC)(A;OICIIOID;GXGR;;;AC)";
	// Program Files itself.
	constexpr const char *gc_ProgramFiles = "O:" DTrustedInstaller "G:" DTrustedInstaller "D:PAI(A;;FA;;;" DTrustedInstaller
											")(A;CIIO;GA;;;" DTrustedInstaller ")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)"
											"(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)"
											"(A;;0x1200a9;;;AC)(A;OICIIO;GXGR;;;AC)";
	// The system drive's root: authenticated users may add folders to it, and modify what is
	// inside the folders they add.
	constexpr const char *gc_DriveRoot = "O:" DTrustedInstaller "G:" DTrustedInstaller
										 "D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)";
	// A folder an administrator makes directly below that root, as many first unpack a tool.
	constexpr const char *gc_RootChild =
		"O:BAG:SYD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)";

	const CDescriptorCase gc_DescriptorCases[] = {
		{"default folder under Program Files", gc_ProgramFilesChild, gc_ChangeRights, {}},
		{"Program Files itself, moved or replaced", gc_ProgramFiles, gc_MoveRights, {}},
		{"Program Files itself, changed", gc_ProgramFiles, gc_ChangeRights, {}},
		{"default folder made under C:\\ (Authenticated Users modify)", gc_RootChild, gc_ChangeRights, {"S-1-5-11"}},
		{"a folder under C:\\ can be moved away by Authenticated Users", gc_RootChild, gc_MoveRights, {"S-1-5-11"}},
		{"the drive root: adding a folder changes it", gc_DriveRoot, gc_ChangeRights, {"S-1-5-11"}},
		{"the drive root: adding a folder replaces nothing", gc_DriveRoot, gc_MoveRightsOfRoot, {}},
		{"Everyone granted write on a file", "O:BAD:AI(A;;FW;;;WD)(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)", gc_ChangeRights, {"S-1-1-0"}},
		{"Everyone granted generic write", "O:BAD:(A;;FA;;;SY)(A;;GW;;;WD)", gc_ChangeRights, {"S-1-1-0"}},
		{"Users granted generic all", "O:BAD:(A;;GA;;;BU)", gc_ChangeRights, {"S-1-5-32-545"}},
		{"Users granted only write attributes", "O:BAD:(A;;0x100;;;BU)", gc_ChangeRights, {"S-1-5-32-545"}},
		{"Users granted only append data", "O:BAD:(A;;0x4;;;BU)", gc_ChangeRights, {"S-1-5-32-545"}},
		{"Users granted only change permissions", "O:BAD:(A;;WD;;;BU)", gc_ChangeRights, {"S-1-5-32-545"}},
		{"Users granted delete a child: moves what is inside", "O:BAD:(A;;0x40;;;BU)", gc_MoveRights, {"S-1-5-32-545"}},
		{"Users granted delete: moves the folder", "O:BAD:(A;;SD;;;BU)", gc_MoveRights, {"S-1-5-32-545"}},
		{"Users granted write data: replaces nothing above", "O:BAD:(A;;0x2;;;BU)(A;;0x100;;;BU)", gc_MoveRights, {}},
		{"a non-administrator owner", "O:" DUser "D:(A;;FA;;;SY)(A;;FA;;;BA)", gc_ChangeRights, {DUser}},
		{"a non-administrator owner may grant themselves delete", "O:" DUser "D:(A;;FA;;;SY)", gc_MoveRightsOfRoot, {DUser}},
		{"an owner who is an administrator", "O:" DAdminUser "D:(A;;FA;;;SY)(A;;FA;;;" DAdminUser ")", gc_ChangeRights, {}},
		{"an inherit-only CREATOR OWNER entry", "O:BAD:(A;;FA;;;SY)(A;OICIIO;GA;;;CO)", gc_ChangeRights, {}},
		{"inherit-only grants to users", "O:BAD:(A;;FA;;;SY)(A;OICIIO;GA;;;BU)(A;CIIO;GW;;;WD)", gc_ChangeRights, {}},
		{"a NULL DACL", "O:BAD:NO_ACCESS_CONTROL", gc_ChangeRights, {"S-1-1-0"}},
		{"no DACL at all", "O:BA", gc_MoveRights, {"S-1-1-0"}},
		{"a NULL DACL and a non-administrator owner", "O:" DUser "D:NO_ACCESS_CONTROL", gc_ChangeRights, {DUser, "S-1-1-0"}},
		{"a deny entry before a grant", "O:BAD:(D;;FA;;;BU)(A;;FA;;;BU)", gc_ChangeRights, {"S-1-5-32-545"}},
		{"a deny entry alone", "O:BAD:(D;;FA;;;BU)(A;;FA;;;SY)", gc_ChangeRights, {}},
		{"Users granted only read and execute", "O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;;GRGX;;;WD)", gc_ChangeRights, {}},
		{"TrustedInstaller, SYSTEM and Administrators", "O:SYD:(A;;FA;;;" DTrustedInstaller ")(A;;GA;;;SY)(A;;FA;;;BA)", gc_ChangeRights, {}},
		{"each principal named once, in the order met",
			"O:" DUser "D:(A;;FA;;;" DUser ")(A;;FW;;;WD)(A;;GW;;;WD)(A;;0x1200a9;;;BU)(A;;SD;;;AU)", gc_ChangeRights,
			{DUser, "S-1-1-0", "S-1-5-11"}},
	};
}

TEST(ChangeRights, WhoOtherThanAnAdministratorCanChangeTheObject)
{
	std::unique_ptr<void, CLocalFree> AdminUser = fg_Sid(DAdminUser);
	auto fIsAdministratorAccount = [&](PSID pSid) { return EqualSid(pSid, AdminUser.get()) != FALSE; };
	for (const CDescriptorCase &Case : gc_DescriptorCases)
	{
		std::unique_ptr<void, CLocalFree> Descriptor = fg_Descriptor(Case.m_pSddl);
		if (!Descriptor)
			continue;
		std::vector<std::string> Found;
		for (const CSidBytes &Sid : gf_FindChangers(Descriptor.get(), Case.m_Rights, fIsAdministratorAccount))
			Found.push_back(fg_SidText(PSID(Sid.data())));
		EXPECT_EQ(Found, Case.m_Expected) << Case.m_pWhat;
	}
}

TEST(ChangeRights, TheAccountsOfThisSystemAreNamedAndOnlyTheRightOnesAreAdministrators)
{
	// The user this test runs as is an administrator here (under Wine the prefix's user is);
	// Everyone and Users are groups, never taken for members by the name of the group.
	HANDLE hToken = nullptr;
	ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken));
	alignas(TOKEN_USER) BYTE Buffer[256];
	DWORD Size = 0;
	BOOL bRead = GetTokenInformation(hToken, TokenUser, Buffer, sizeof(Buffer), &Size);
	CloseHandle(hToken);
	ASSERT_TRUE(bRead);
	std::string Self = fg_SidText(reinterpret_cast<TOKEN_USER *>(Buffer)->User.Sid);

	struct CAccountCase
	{
		std::string m_Sid;
		std::string m_Name; // empty: any name but the SID string
		bool m_bAdministrator;
	};
	const CAccountCase Cases[] = {
		{"S-1-1-0", "Everyone", false},
		{"S-1-5-32-545", "BUILTIN\\Users", false},
		{"S-1-5-32-544", "BUILTIN\\Administrators", true},
		{"S-1-5-18", "NT AUTHORITY\\SYSTEM", true},
		{DTrustedInstaller, "", true},
		{DUser, DUser, false}, // nobody this system knows: the SID string
		{Self, "", true},
	};
	CAdministratorAccounts Accounts;
	for (const CAccountCase &Case : Cases)
	{
		std::unique_ptr<void, CLocalFree> Sid = fg_Sid(Case.m_Sid.c_str());
		std::string Name = gf_GetAccountName(Sid.get());
		if (Case.m_Name.empty())
			EXPECT_FALSE(Name.empty()) << Case.m_Sid;
		else
			EXPECT_EQ(Name, Case.m_Name) << Case.m_Sid;
		EXPECT_EQ(Accounts.f_IsAdministrator(Sid.get()), Case.m_bAdministrator) << Case.m_Sid << " " << Name;
		EXPECT_EQ(Accounts.f_IsAdministrator(Sid.get()), Case.m_bAdministrator) << Case.m_Sid << " asked again";
	}
}
