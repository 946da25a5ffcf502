#pragma once
// Who other than an administrator can change a file or folder, read from its security
// descriptor. Windows-only.
#include "app/Hushvane_UnsafePaths.h"

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace NHushvane
{
	// Every right that changes a file or folder: write or append data (add a file or a
	// subfolder), write attributes or extended attributes, delete, delete a child, change the
	// permissions or the owner.
	constexpr DWORD gc_ChangeRights =
		FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER;
	// The rights on a folder above the program's that let a user move it, or the folder below it,
	// away and put another in its place: delete it, delete a child, or grant themselves either.
	// Adding a folder replaces nothing.
	constexpr DWORD gc_MoveRights = DELETE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER;
	// The same for a drive root, which cannot be moved.
	constexpr DWORD gc_MoveRightsOfRoot = FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER;

	using CSidBytes = std::vector<BYTE>;

	// Whether an account other than SYSTEM, Administrators and TrustedInstaller belongs to the
	// local Administrators group.
	using FIsAdministratorAccount = std::function<bool(PSID pSid)>;

	// SYSTEM, Administrators or TrustedInstaller.
	bool gf_IsAdministratorSid(PSID pSid);

	// The principals other than administrators that may change the object of pDescriptor with
	// any of Rights, in the order met: its owner (an owner may always change the permissions),
	// then every allow entry that applies to the object itself (inherit-only entries do not)
	// and grants one of Rights, generic rights counted as what they mean for files. A missing
	// or null access list grants everything to Everyone. Deny entries are not weighed: a grant
	// counts whatever else the list says. Each principal is named once.
	std::vector<CSidBytes> gf_FindChangers(PSECURITY_DESCRIPTOR pDescriptor, DWORD Rights, const FIsAdministratorAccount &fIsAdministratorAccount);

	// "DOMAIN\name", "name" for accounts without a domain (Everyone), or the SID string when no
	// name is known.
	std::string gf_GetAccountName(PSID pSid);

	// Membership in the local Administrators group, asked of the system once per account: a
	// direct member (user or group), or a user who belongs to it through other groups. Loads
	// the network management library from the system folder, never from beside the program.
	class CAdministratorAccounts
	{
	public:
		CAdministratorAccounts();
		~CAdministratorAccounts();
		CAdministratorAccounts(const CAdministratorAccounts &) = delete;
		CAdministratorAccounts &operator=(const CAdministratorAccounts &) = delete;

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

	// Checks the file or folder at Path (Windows form) for Rights. True when only administrators
	// can change it; otherwise Unsafe names the path and who can change it (or why the
	// permissions could not be read, which counts as unsafe).
	bool gf_CheckChangers(const std::wstring &Path, DWORD Rights, EChangeScope Scope, CAdministratorAccounts &Accounts, CUnsafePath &Unsafe);
}
