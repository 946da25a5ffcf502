#pragma once
// Who other than an administrator can change a file or folder, read from its security
// descriptor. Windows-only.
#include "app/Hushvane_Accounts.h"
#include "app/Hushvane_UnsafePaths.h"

#include <windows.h>

#include <functional>
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

	// Whether an account other than SYSTEM, Administrators and TrustedInstaller belongs to the
	// local Administrators group.
	using FIsAdministratorAccount = std::function<bool(PSID pSid)>;

	// The principals other than administrators that may change the object of pDescriptor with
	// any of Rights, in the order met: its owner (an owner may always change the permissions),
	// then every allow entry that applies to the object itself (inherit-only entries do not)
	// and grants one of Rights, generic rights counted as what they mean for files. A missing
	// or null access list grants everything to Everyone. Deny entries are not weighed: a grant
	// counts whatever else the list says. Each principal is named once.
	std::vector<CSidBytes> gf_FindChangers(PSECURITY_DESCRIPTOR pDescriptor, DWORD Rights, const FIsAdministratorAccount &fIsAdministratorAccount);

	// Checks the file or folder at Path (Windows form) for Rights. True when only administrators
	// can change it; otherwise Unsafe names the path and who can change it (or why the
	// permissions could not be read, which counts as unsafe).
	bool gf_CheckChangers(const std::wstring &Path, DWORD Rights, EChangeScope Scope, CAdministratorAccounts &Accounts, CUnsafePath &Unsafe);
}
