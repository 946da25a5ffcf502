#include "app/Hushvane_ChangeRights.h"
#include "zel/library/core/general/Zel_Exception.h"

#include <aclapi.h>

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

		std::string fg_TrimLineEnd(std::string Text)
		{
			while (!Text.empty() && (Text.back() == '\r' || Text.back() == '\n' || Text.back() == ' ' || Text.back() == '.'))
				Text.pop_back();
			return Text;
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

	std::vector<CSidBytes> gf_FindChangers(PSECURITY_DESCRIPTOR pDescriptor, DWORD Rights, const FIsAdministratorAccount &fIsAdministratorAccount)
	{
		std::vector<CSidBytes> Changers;
		auto fAdd = [&](PSID pSid) {
			if (!pSid || !IsValidSid(pSid) || gf_IsAdministratorSid(pSid))
				return;
			CSidBytes Sid = gf_SidBytes(pSid);
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
			CSidBytes Everyone = gf_WellKnownSid(WinWorldSid);
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

	bool gf_CheckChangers(const std::wstring &Path, DWORD Rights, EChangeScope Scope, CAdministratorAccounts &Accounts, CUnsafePath &Unsafe)
	{
		Unsafe = CUnsafePath();
		Unsafe.m_Path = gf_ToUtf8(Path.c_str());
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
