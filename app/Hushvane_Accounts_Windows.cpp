#include "app/Hushvane_Accounts.h"
#include "zel/library/core/runtime/Zel_Sys_File.h"

#include <lm.h>
#include <sddl.h>

#include <algorithm>
#include <memory>

namespace NHushvane
{
	namespace
	{
		struct CLocalFree
		{
			void operator()(void *p) const noexcept { LocalFree(p); }
		};

		// A SID of the NT authority (S-1-5-...).
		CSidBytes fg_NtSid(std::initializer_list<DWORD> SubAuthorities)
		{
			SID_IDENTIFIER_AUTHORITY Authority = SECURITY_NT_AUTHORITY;
			CSidBytes Sid(GetSidLengthRequired(UCHAR(SubAuthorities.size())));
			InitializeSid(Sid.data(), &Authority, UCHAR(SubAuthorities.size()));
			DWORD Index = 0;
			for (DWORD SubAuthority : SubAuthorities)
				*GetSidSubAuthority(Sid.data(), Index++) = SubAuthority;
			return Sid;
		}

		// NT SERVICE\TrustedInstaller, the owner of the system's own files.
		const CSidBytes &fg_TrustedInstallerSid()
		{
			static const CSidBytes sc_Sid = fg_NtSid({SECURITY_SERVICE_ID_BASE_RID, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u});
			return sc_Sid;
		}

		// The account's name and domain and what kind of account it is; false when the system
		// knows no name for it.
		bool fg_LookupAccount(PSID pSid, std::wstring &Name, std::wstring &Domain, SID_NAME_USE &Use)
		{
			DWORD NameSize = 0;
			DWORD DomainSize = 0;
			LookupAccountSidW(nullptr, pSid, nullptr, &NameSize, nullptr, &DomainSize, &Use);
			if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || NameSize == 0)
				return false;
			std::wstring NameBuffer(NameSize, L'\0');
			std::wstring DomainBuffer(DomainSize + 1, L'\0');
			if (!LookupAccountSidW(nullptr, pSid, NameBuffer.data(), &NameSize, DomainBuffer.data(), &DomainSize, &Use))
				return false;
			Name.assign(NameBuffer.c_str());
			Domain.assign(DomainBuffer.c_str());
			return true;
		}
	}

	std::string gf_ToUtf8(const wchar_t *pText)
	{
		NZel::NStr::CStr Text = NZel::NSys::NFile::gf_FromWidePath(NZel::NStr::CStr16(pText));
		return std::string(Text.f_GetStr(), size_t(Text.f_GetLen()));
	}

	CSidBytes gf_SidBytes(PSID pSid)
	{
		const BYTE *pBytes = static_cast<const BYTE *>(pSid);
		return CSidBytes(pBytes, pBytes + GetLengthSid(pSid));
	}

	CSidBytes gf_WellKnownSid(WELL_KNOWN_SID_TYPE Type)
	{
		CSidBytes Sid(SECURITY_MAX_SID_SIZE);
		DWORD Size = DWORD(Sid.size());
		if (!CreateWellKnownSid(Type, nullptr, Sid.data(), &Size))
			return CSidBytes();
		Sid.resize(Size);
		return Sid;
	}

	bool gf_IsAdministratorSid(PSID pSid)
	{
		if (IsWellKnownSid(pSid, WinLocalSystemSid) || IsWellKnownSid(pSid, WinBuiltinAdministratorsSid))
			return true;
		const CSidBytes &TrustedInstaller = fg_TrustedInstallerSid();
		return EqualSid(pSid, PSID(TrustedInstaller.data())) != FALSE;
	}

	std::string gf_GetAccountName(PSID pSid)
	{
		std::wstring Name;
		std::wstring Domain;
		SID_NAME_USE Use = SidTypeUnknown;
		if (fg_LookupAccount(pSid, Name, Domain, Use))
			return Domain.empty() ? gf_ToUtf8(Name.c_str()) : gf_ToUtf8((Domain + L"\\" + Name).c_str());
		LPWSTR pText = nullptr;
		if (!ConvertSidToStringSidW(pSid, &pText))
			return "(unknown account)";
		std::unique_ptr<void, CLocalFree> Owned(pText);
		return gf_ToUtf8(pText);
	}

	namespace
	{
		using FNetUserGetLocalGroups = decltype(&NetUserGetLocalGroups);
		using FNetLocalGroupGetMembers = decltype(&NetLocalGroupGetMembers);
		using FNetApiBufferFree = decltype(&NetApiBufferFree);

		template <typename t_FFunction>
		t_FFunction fg_Find(HMODULE hModule, const char *pName)
		{
			return hModule ? reinterpret_cast<t_FFunction>(reinterpret_cast<void (*)()>(GetProcAddress(hModule, pName))) : nullptr;
		}

		// A buffer the network management functions allocated.
		class CNetBuffer
		{
		public:
			explicit CNetBuffer(FNetApiBufferFree fFree)
				: fp_fFree(fFree)
			{
			}
			~CNetBuffer()
			{
				if (fp_pBuffer && fp_fFree)
					fp_fFree(fp_pBuffer);
			}
			CNetBuffer(const CNetBuffer &) = delete;
			CNetBuffer &operator=(const CNetBuffer &) = delete;

			LPBYTE *f_Receive() { return &fp_pBuffer; }
			template <typename t_CEntry>
			const t_CEntry *f_Entries() const
			{
				return reinterpret_cast<const t_CEntry *>(fp_pBuffer);
			}

		private:
			FNetApiBufferFree fp_fFree;
			LPBYTE fp_pBuffer = nullptr;
		};
	}

	CAdministratorAccounts::CAdministratorAccounts() = default;

	void CAdministratorAccounts::fp_Load()
	{
		// Most checks meet only SYSTEM, Administrators and TrustedInstaller and never get here.
		if (fp_bLoaded)
			return;
		fp_bLoaded = true;
		fp_hNetApi = LoadLibraryExW(L"netapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
		if (!fp_hNetApi)
		{
			// A Windows 7 without the update that brought the search flags: the full path.
			wchar_t System[MAX_PATH];
			UINT Length = GetSystemDirectoryW(System, MAX_PATH);
			if (Length > 0 && Length < MAX_PATH)
				fp_hNetApi = LoadLibraryW((std::wstring(System, Length) + L"\\netapi32.dll").c_str());
		}
		CSidBytes Administrators = gf_WellKnownSid(WinBuiltinAdministratorsSid);
		std::wstring Domain;
		SID_NAME_USE Use = SidTypeUnknown;
		if (Administrators.empty() || !fg_LookupAccount(PSID(Administrators.data()), fp_GroupName, Domain, Use))
			fp_GroupName.clear();
	}

	CAdministratorAccounts::~CAdministratorAccounts()
	{
		if (fp_hNetApi)
			FreeLibrary(fp_hNetApi);
	}

	bool CAdministratorAccounts::f_IsAdministrator(PSID pSid)
	{
		if (gf_IsAdministratorSid(pSid))
			return true;
		CSidBytes Sid = gf_SidBytes(pSid);
		auto iKnown = fp_Known.find(Sid);
		if (iKnown != fp_Known.end())
			return iKnown->second;
		fp_Load();
		bool bAdministrator = fp_IsDirectMember(pSid) || fp_IsUserInGroup(pSid);
		fp_Known.emplace(std::move(Sid), bAdministrator);
		return bAdministrator;
	}

	bool CAdministratorAccounts::fp_IsDirectMember(PSID pSid)
	{
		if (!fp_bMembersRead)
		{
			fp_bMembersRead = true;
			auto fGetMembers = fg_Find<FNetLocalGroupGetMembers>(fp_hNetApi, "NetLocalGroupGetMembers");
			CNetBuffer Buffer(fg_Find<FNetApiBufferFree>(fp_hNetApi, "NetApiBufferFree"));
			DWORD Read = 0;
			DWORD Total = 0;
			if (fGetMembers && !fp_GroupName.empty() &&
				fGetMembers(nullptr, fp_GroupName.c_str(), 0, Buffer.f_Receive(), MAX_PREFERRED_LENGTH, &Read, &Total, nullptr) == NERR_Success)
			{
				const LOCALGROUP_MEMBERS_INFO_0 *pMembers = Buffer.f_Entries<LOCALGROUP_MEMBERS_INFO_0>();
				for (DWORD Index = 0; pMembers && Index < Read; ++Index)
					if (pMembers[Index].lgrmi0_sid && IsValidSid(pMembers[Index].lgrmi0_sid))
						fp_Members.push_back(gf_SidBytes(pMembers[Index].lgrmi0_sid));
			}
		}
		return std::any_of(fp_Members.begin(), fp_Members.end(), [&](const CSidBytes &Member) { return EqualSid(PSID(Member.data()), pSid) != FALSE; });
	}

	bool CAdministratorAccounts::fp_IsUserInGroup(PSID pSid)
	{
		// Only a user account is asked by name: groups answer through the member list, and some
		// systems list Administrators for any name at all.
		std::wstring Name;
		std::wstring Domain;
		SID_NAME_USE Use = SidTypeUnknown;
		if (fp_GroupName.empty() || !fg_LookupAccount(pSid, Name, Domain, Use) || Use != SidTypeUser)
			return false;
		auto fGetGroups = fg_Find<FNetUserGetLocalGroups>(fp_hNetApi, "NetUserGetLocalGroups");
		if (!fGetGroups)
			return false;
		CNetBuffer Buffer(fg_Find<FNetApiBufferFree>(fp_hNetApi, "NetApiBufferFree"));
		DWORD Read = 0;
		DWORD Total = 0;
		std::wstring Account = Domain.empty() ? Name : Domain + L"\\" + Name;
		if (fGetGroups(nullptr, Account.c_str(), 0, LG_INCLUDE_INDIRECT, Buffer.f_Receive(), MAX_PREFERRED_LENGTH, &Read, &Total) != NERR_Success)
			return false;
		const LOCALGROUP_USERS_INFO_0 *pGroups = Buffer.f_Entries<LOCALGROUP_USERS_INFO_0>();
		for (DWORD Index = 0; pGroups && Index < Read; ++Index)
			if (pGroups[Index].lgrui0_name && CompareStringOrdinal(pGroups[Index].lgrui0_name, -1, fp_GroupName.c_str(), -1, TRUE) == CSTR_EQUAL)
				return true;
		return false;
	}
}
