#include "app/Hushvane_ChangeRights.h"
#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/runtime/Zel_Sys_File.h"

#include <aclapi.h>
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

		CSidBytes fg_SidBytes(PSID pSid)
		{
			const BYTE *pBytes = static_cast<const BYTE *>(pSid);
			return CSidBytes(pBytes, pBytes + GetLengthSid(pSid));
		}

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

		CSidBytes fg_WellKnownSid(WELL_KNOWN_SID_TYPE Type)
		{
			CSidBytes Sid(SECURITY_MAX_SID_SIZE);
			DWORD Size = DWORD(Sid.size());
			if (!CreateWellKnownSid(Type, nullptr, Sid.data(), &Size))
				return CSidBytes();
			Sid.resize(Size);
			return Sid;
		}

		// NT SERVICE\TrustedInstaller, the owner of the system's own files.
		const CSidBytes &fg_TrustedInstallerSid()
		{
			static const CSidBytes sc_Sid = fg_NtSid({SECURITY_SERVICE_ID_BASE_RID, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u});
			return sc_Sid;
		}

		std::string fg_ToUtf8(const wchar_t *pText)
		{
			NZel::NStr::CStr Text = NZel::NSys::NFile::gf_FromWidePath(NZel::NStr::CStr16(pText));
			return std::string(Text.f_GetStr(), size_t(Text.f_GetLen()));
		}

		std::string fg_TrimLineEnd(std::string Text)
		{
			while (!Text.empty() && (Text.back() == '\r' || Text.back() == '\n' || Text.back() == ' ' || Text.back() == '.'))
				Text.pop_back();
			return Text;
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

		// Where an allow entry keeps its SID: after the mask, or for object entries after the
		// object types that are present. Null for every other kind of entry.
		PSID fg_AllowedSid(ACE_HEADER *pHeader, DWORD *&pMask)
		{
			switch (pHeader->AceType)
			{
			case ACCESS_ALLOWED_ACE_TYPE:
			case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: // the condition is not weighed: the grant counts
			{
				auto *pAce = reinterpret_cast<ACCESS_ALLOWED_ACE *>(pHeader);
				pMask = &pAce->Mask;
				return &pAce->SidStart;
			}
			case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
			case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
			{
				auto *pAce = reinterpret_cast<ACCESS_ALLOWED_OBJECT_ACE *>(pHeader);
				pMask = &pAce->Mask;
				BYTE *pSid = reinterpret_cast<BYTE *>(&pAce->ObjectType);
				if (pAce->Flags & ACE_OBJECT_TYPE_PRESENT)
					pSid += sizeof(GUID);
				if (pAce->Flags & ACE_INHERITED_OBJECT_TYPE_PRESENT)
					pSid += sizeof(GUID);
				return pSid;
			}
			default:
				return nullptr;
			}
		}
	}

	bool gf_IsAdministratorSid(PSID pSid)
	{
		if (IsWellKnownSid(pSid, WinLocalSystemSid) || IsWellKnownSid(pSid, WinBuiltinAdministratorsSid))
			return true;
		const CSidBytes &TrustedInstaller = fg_TrustedInstallerSid();
		return EqualSid(pSid, PSID(TrustedInstaller.data())) != FALSE;
	}

	std::vector<CSidBytes> gf_FindChangers(PSECURITY_DESCRIPTOR pDescriptor, DWORD Rights, const FIsAdministratorAccount &fIsAdministratorAccount)
	{
		std::vector<CSidBytes> Changers;
		auto fAdd = [&](PSID pSid) {
			if (!pSid || !IsValidSid(pSid) || gf_IsAdministratorSid(pSid))
				return;
			CSidBytes Sid = fg_SidBytes(pSid);
			if (std::find(Changers.begin(), Changers.end(), Sid) != Changers.end() || fIsAdministratorAccount(pSid))
				return;
			Changers.push_back(std::move(Sid));
		};

		PSID pOwner = nullptr;
		BOOL bOwnerDefaulted = FALSE;
		if (GetSecurityDescriptorOwner(pDescriptor, &pOwner, &bOwnerDefaulted))
			fAdd(pOwner);

		BOOL bPresent = FALSE;
		BOOL bDefaulted = FALSE;
		PACL pDacl = nullptr;
		if (!GetSecurityDescriptorDacl(pDescriptor, &bPresent, &pDacl, &bDefaulted) || !bPresent || !pDacl)
		{
			CSidBytes Everyone = fg_WellKnownSid(WinWorldSid);
			fAdd(PSID(Everyone.data()));
			return Changers;
		}

		GENERIC_MAPPING FileMapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
		for (DWORD Index = 0; Index < pDacl->AceCount; ++Index)
		{
			ACE_HEADER *pHeader = nullptr;
			if (!GetAce(pDacl, Index, reinterpret_cast<void **>(&pHeader)) || (pHeader->AceFlags & INHERIT_ONLY_ACE))
				continue;
			DWORD *pMask = nullptr;
			PSID pSid = fg_AllowedSid(pHeader, pMask);
			if (!pSid)
				continue;
			DWORD Mask = *pMask;
			MapGenericMask(&Mask, &FileMapping);
			if (Mask & Rights)
				fAdd(pSid);
		}
		return Changers;
	}

	std::string gf_GetAccountName(PSID pSid)
	{
		std::wstring Name;
		std::wstring Domain;
		SID_NAME_USE Use = SidTypeUnknown;
		if (fg_LookupAccount(pSid, Name, Domain, Use))
			return Domain.empty() ? fg_ToUtf8(Name.c_str()) : fg_ToUtf8((Domain + L"\\" + Name).c_str());
		LPWSTR pText = nullptr;
		if (!ConvertSidToStringSidW(pSid, &pText))
			return "(unknown account)";
		std::unique_ptr<void, CLocalFree> Owned(pText);
		return fg_ToUtf8(pText);
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
		CSidBytes Administrators = fg_WellKnownSid(WinBuiltinAdministratorsSid);
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
		CSidBytes Sid = fg_SidBytes(pSid);
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
						fp_Members.push_back(fg_SidBytes(pMembers[Index].lgrmi0_sid));
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

	bool gf_CheckChangers(const std::wstring &Path, DWORD Rights, EChangeScope Scope, CAdministratorAccounts &Accounts, CUnsafePath &Unsafe)
	{
		Unsafe = CUnsafePath();
		Unsafe.m_Path = fg_ToUtf8(Path.c_str());
		Unsafe.m_Scope = Scope;
		PSECURITY_DESCRIPTOR pDescriptor = nullptr;
		DWORD Error = GetNamedSecurityInfoW(Path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
			nullptr, nullptr, &pDescriptor);
		std::unique_ptr<void, CLocalFree> Owned(pDescriptor);
		if (Error == ERROR_SUCCESS && (!pDescriptor || !IsValidSecurityDescriptor(pDescriptor)))
			Error = ERROR_INVALID_SECURITY_DESCR;
		if (Error != ERROR_SUCCESS)
		{
			Unsafe.m_Error = fg_TrimLineEnd(NZel::NSys::gf_GetErrorText(Error).f_GetStr());
			return false;
		}
		std::vector<CSidBytes> Changers = gf_FindChangers(pDescriptor, Rights, [&](PSID pSid) { return Accounts.f_IsAdministrator(pSid); });
		for (CSidBytes &Sid : Changers)
			Unsafe.m_Who.push_back(gf_GetAccountName(PSID(Sid.data())));
		return Changers.empty();
	}
}
