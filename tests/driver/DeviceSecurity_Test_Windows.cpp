// The device's security descriptor, built by the same code the driver runs, checked in user mode:
// its text form and what it grants to an administrator and to a token without Administrators.
#include "driver/Hushvane_DeviceSecurityDescriptor.h"
#include "KvWin/KvWindowsHandles.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

namespace
{
	// An impersonation token of this process, with the Administrators group made deny-only when
	// bWithoutAdministrators is set.
	CKvKernelHandle fg_MakeImpersonationToken(bool bWithoutAdministrators)
	{
		HANDLE RawProcessToken = nullptr;
		if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &RawProcessToken))
			return CKvKernelHandle();
		CKvKernelHandle ProcessToken(RawProcessToken);
		CKvKernelHandle Source;
		if (bWithoutAdministrators)
		{
			BYTE AdministratorsSid[SECURITY_MAX_SID_SIZE];
			DWORD SidSize = sizeof(AdministratorsSid);
			if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, AdministratorsSid, &SidSize))
				return CKvKernelHandle();
			SID_AND_ATTRIBUTES Disable = {AdministratorsSid, 0};
			HANDLE RawRestricted = nullptr;
			if (!CreateRestrictedToken(ProcessToken.f_Get(), 0, 1, &Disable, 0, nullptr, 0, nullptr, &RawRestricted))
				return CKvKernelHandle();
			Source.f_Reset(RawRestricted);
		}
		HANDLE RawImpersonation = nullptr;
		if (!DuplicateToken(Source.f_IsValid() ? Source.f_Get() : ProcessToken.f_Get(), SecurityImpersonation, &RawImpersonation))
			return CKvKernelHandle();
		return CKvKernelHandle(RawImpersonation);
	}

	// Access the device's DACL grants Token for Desired (a file access mask).
	bool fg_IsGranted(const NHushvane::NDeviceSecurity::CDescriptor &Device, HANDLE Token, DWORD Desired, DWORD &Error)
	{
		// AccessCheck wants an owner and a group; the DACL alone decides the answer.
		SECURITY_DESCRIPTOR Checked;
		InitializeSecurityDescriptor(&Checked, SECURITY_DESCRIPTOR_REVISION);
		BYTE AdministratorsSid[SECURITY_MAX_SID_SIZE];
		DWORD SidSize = sizeof(AdministratorsSid);
		CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, AdministratorsSid, &SidSize);
		SetSecurityDescriptorOwner(&Checked, AdministratorsSid, FALSE);
		SetSecurityDescriptorGroup(&Checked, AdministratorsSid, FALSE);
		SetSecurityDescriptorDacl(&Checked, TRUE, Device.m_Descriptor.Dacl, FALSE);

		GENERIC_MAPPING Mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
		MapGenericMask(&Desired, &Mapping);
		PRIVILEGE_SET Privileges;
		DWORD PrivilegesSize = sizeof(Privileges);
		DWORD Granted = 0;
		BOOL bStatus = FALSE;
		Error = 0;
		if (!AccessCheck(&Checked, Token, Desired, &Mapping, &Privileges, &PrivilegesSize, &Granted, &bStatus))
		{
			Error = GetLastError();
			return false;
		}
		return bStatus != FALSE;
	}
}

TEST(CDeviceSecurity, DescriptorAdmitsOnlySystemAndAdministrators)
{
	NHushvane::NDeviceSecurity::CDescriptor Descriptor;
	ASSERT_GE(NHushvane::NDeviceSecurity::gf_Build(Descriptor), 0);
	ASSERT_TRUE(IsValidSecurityDescriptor(&Descriptor.m_Descriptor));
	char *pText = nullptr;
	ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(&Descriptor.m_Descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &pText, nullptr))
		<< GetLastError();
	std::string Text = pText;
	LocalFree(pText);
	EXPECT_EQ(Text, "D:P(A;;GA;;;SY)(A;;GA;;;BA)");
}

TEST(CDeviceSecurity, AdministratorIsGrantedAndOtherUsersAreNot)
{
	NHushvane::NDeviceSecurity::CDescriptor Descriptor;
	ASSERT_GE(NHushvane::NDeviceSecurity::gf_Build(Descriptor), 0);
	struct CCase
	{
		bool m_bWithoutAdministrators;
		DWORD m_Desired;
		bool m_bGranted;
	};
	const CCase Cases[] = {
		{false, GENERIC_READ | GENERIC_WRITE, true},
		{false, FILE_ALL_ACCESS, true},
		{true, GENERIC_READ | GENERIC_WRITE, false},
		{true, GENERIC_READ, false},
		{true, FILE_READ_ATTRIBUTES, false},
	};
	for (const CCase &Case : Cases)
	{
		CKvKernelHandle Token = fg_MakeImpersonationToken(Case.m_bWithoutAdministrators);
		ASSERT_TRUE(Token.f_IsValid()) << GetLastError();
		DWORD Error = 0;
		EXPECT_EQ(fg_IsGranted(Descriptor, Token.f_Get(), Case.m_Desired, Error), Case.m_bGranted)
			<< "without administrators " << Case.m_bWithoutAdministrators << ", access 0x" << std::hex << Case.m_Desired << ", error "
			<< std::dec << Error;
	}
}
