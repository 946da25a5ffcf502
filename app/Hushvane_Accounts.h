#pragma once
// Accounts as the permission checks see them: which are administrators, and what they are
// called. Windows-only.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace NHushvane
{
	using CSidBytes = std::vector<BYTE>;

	// The bytes of a valid SID.
	CSidBytes gf_SidBytes(PSID pSid);

	// A well-known SID of this machine's domain (Everyone, Administrators, ...); empty when it
	// cannot be made.
	CSidBytes gf_WellKnownSid(WELL_KNOWN_SID_TYPE Type);

	// SYSTEM, Administrators or TrustedInstaller.
	bool gf_IsAdministratorSid(PSID pSid);

	// Text of the wide Windows functions as UTF-8.
	std::string gf_ToUtf8(const wchar_t *pText);

	// "DOMAIN\name", "name" for accounts without a domain (Everyone), or the SID string when no
	// name is known.
	std::string gf_GetAccountName(PSID pSid);

	// Membership in the local Administrators group, asked of the system once per account: a
	// direct member (user or group), or a user who belongs to it through other groups. Loads
	// the network management library from the system folder, never from beside the program, and
	// only once an account other than the three above is asked about.
	class CAdministratorAccounts
	{
	public:
		CAdministratorAccounts();
		~CAdministratorAccounts();
		CAdministratorAccounts(const CAdministratorAccounts &) = delete;
		CAdministratorAccounts &operator=(const CAdministratorAccounts &) = delete;

		// gf_IsAdministratorSid, or a member of the local Administrators group.
		bool f_IsAdministrator(PSID pSid);

	private:
		void fp_Load();
		bool fp_IsDirectMember(PSID pSid);
		bool fp_IsUserInGroup(PSID pSid);

		bool fp_bLoaded = false;
		HMODULE fp_hNetApi = nullptr;
		std::wstring fp_GroupName; // the local name of Administrators
		bool fp_bMembersRead = false;
		std::vector<CSidBytes> fp_Members;
		std::map<CSidBytes, bool> fp_Known;
	};
}
