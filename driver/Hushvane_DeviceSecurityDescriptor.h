// The security descriptor of the driver's device: D:P(A;;GA;;;SY)(A;;GA;;;BA), i.e. a protected
// DACL granting GENERIC_ALL to LocalSystem and to BUILTIN\Administrators and nothing to anyone
// else. Built with the Rtl routines that ntoskrnl and ntdll both export, so the same code runs in
// the driver and in user-mode tests.
#pragma once

#if defined(_NTDDK_) || defined(_WDMDDK_)
#define DHushvaneRtlImport
#else
#include <windows.h>
#include <winternl.h>
#define DHushvaneRtlImport extern "C" NTSYSAPI
DHushvaneRtlImport NTSTATUS NTAPI RtlCreateAcl(PACL pAcl, ULONG AclLength, ULONG AclRevision);
DHushvaneRtlImport NTSTATUS NTAPI RtlAddAccessAllowedAce(PACL pAcl, ULONG AceRevision, ACCESS_MASK AccessMask, PSID pSid);
DHushvaneRtlImport NTSTATUS NTAPI RtlCreateSecurityDescriptor(PSECURITY_DESCRIPTOR pDescriptor, ULONG Revision);
DHushvaneRtlImport NTSTATUS NTAPI RtlSetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR pDescriptor, BOOLEAN bDaclPresent, PACL pDacl, BOOLEAN bDaclDefaulted);
#endif

namespace NHushvane
{
	namespace NDeviceSecurity
	{
		// A SID with up to two sub-authorities, laid out as the system expects one.
		struct CSmallSid
		{
			UCHAR Revision;
			UCHAR SubAuthorityCount;
			UCHAR IdentifierAuthority[6];
			ULONG SubAuthority[2];
		};

		// The kernel headers leave out the well-known authority and relative ids.
		constexpr ULONG gc_LocalSystemRid = 18;
		constexpr ULONG gc_BuiltinDomainRid = 32;
		constexpr ULONG gc_AdministratorsRid = 544;

		// S-1-5-18, LocalSystem.
		inline constexpr CSmallSid gc_SystemSid = {1, 1, {0, 0, 0, 0, 0, 5}, {gc_LocalSystemRid, 0}};
		// S-1-5-32-544, BUILTIN\Administrators.
		inline constexpr CSmallSid gc_AdministratorsSid = {1, 2, {0, 0, 0, 0, 0, 5}, {gc_BuiltinDomainRid, gc_AdministratorsRid}};

		constexpr ULONG gf_AllowedAceSize(const CSmallSid &Sid)
		{
			// ACE header and mask, then the SID (8 bytes of fixed part, 4 per sub-authority).
			return ULONG(sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) + 8 + 4 * Sid.SubAuthorityCount);
		}

		constexpr ULONG gc_AclSize = sizeof(ACL) + gf_AllowedAceSize(gc_SystemSid) + gf_AllowedAceSize(gc_AdministratorsSid);

		// An absolute security descriptor and the DACL it points into; keep it in one place while
		// the descriptor is in use.
		struct CDescriptor
		{
			SECURITY_DESCRIPTOR m_Descriptor;
			ULONG m_AclBuffer[(gc_AclSize + sizeof(ULONG) - 1) / sizeof(ULONG)];
		};

		// Fills Out. Returns 0 (STATUS_SUCCESS) or the status of the Rtl call that failed.
		inline NTSTATUS gf_Build(CDescriptor &Out)
		{
			PACL pAcl = reinterpret_cast<PACL>(Out.m_AclBuffer);
			NTSTATUS Status = RtlCreateAcl(pAcl, sizeof(Out.m_AclBuffer), ACL_REVISION);
			if (Status >= 0)
				Status = RtlAddAccessAllowedAce(pAcl, ACL_REVISION, GENERIC_ALL, const_cast<CSmallSid *>(&gc_SystemSid));
			if (Status >= 0)
				Status = RtlAddAccessAllowedAce(pAcl, ACL_REVISION, GENERIC_ALL, const_cast<CSmallSid *>(&gc_AdministratorsSid));
			if (Status >= 0)
				Status = RtlCreateSecurityDescriptor(&Out.m_Descriptor, SECURITY_DESCRIPTOR_REVISION);
			if (Status >= 0)
				Status = RtlSetDaclSecurityDescriptor(&Out.m_Descriptor, TRUE, pAcl, FALSE);
			if (Status >= 0)
			{
				// Older kernels' import libraries lack the export that sets control bits; the
				// absolute descriptor is ours, so the bit is set directly.
				Out.m_Descriptor.Control |= SE_DACL_PROTECTED;
			}
			return Status;
		}
	}
}
