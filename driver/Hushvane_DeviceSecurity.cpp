// Access restriction of the driver's device. Without it any local user could open the device,
// drain the record stream and watch every process launch.
#include "driver/Hushvane_Driver.h"

namespace
{
	// A SID with up to two sub-authorities, laid out as the kernel expects one.
	struct CSmallSid
	{
		UCHAR Revision;
		UCHAR SubAuthorityCount;
		SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
		ULONG SubAuthority[2];
	};

	// The kernel headers leave out the well-known authority and relative ids.
	constexpr ULONG gc_LocalSystemRid = 18;
	constexpr ULONG gc_BuiltinDomainRid = 32;
	constexpr ULONG gc_AdministratorsRid = 544;
	constexpr SECURITY_INFORMATION gc_ProtectedDaclInformation = 0x80000000;
#define DHushvaneNtAuthority {{0, 0, 0, 0, 0, 5}}

	// S-1-5-18, LocalSystem.
	const CSmallSid gc_SystemSid = {SID_REVISION, 1, DHushvaneNtAuthority, {gc_LocalSystemRid, 0}};
	// S-1-5-32-544, BUILTIN\Administrators.
	const CSmallSid gc_AdministratorsSid = {SID_REVISION, 2, DHushvaneNtAuthority, {gc_BuiltinDomainRid, gc_AdministratorsRid}};

	constexpr ULONG fg_AllowedAceSize(const CSmallSid &Sid)
	{
		return ULONG(sizeof(ACCESS_ALLOWED_ACE) - sizeof(ULONG) + 8 + 4 * Sid.SubAuthorityCount);
	}

	constexpr ULONG gc_AclSize = sizeof(ACL) + fg_AllowedAceSize(gc_SystemSid) + fg_AllowedAceSize(gc_AdministratorsSid);
}

/*
 * gf_RestrictDeviceAccess
 *   Replaces the device's DACL with one that grants GENERIC_ALL to SYSTEM and to Administrators
 *   and nothing to anyone else; the DACL is marked protected so nothing is inherited into it.
 *   IRQL: PASSIVE_LEVEL (DriverEntry).
 *   Returns STATUS_SUCCESS or the status of the call that failed.
 */
NTSTATUS gf_RestrictDeviceAccess(PDEVICE_OBJECT pDevice)
{
	ULONG AclBuffer[(gc_AclSize + sizeof(ULONG) - 1) / sizeof(ULONG)];
	PACL pAcl = reinterpret_cast<PACL>(AclBuffer);
	SECURITY_DESCRIPTOR Descriptor;
	HANDLE DeviceHandle = nullptr;

	NTSTATUS Status = RtlCreateAcl(pAcl, sizeof(AclBuffer), ACL_REVISION);
	if (NT_SUCCESS(Status))
		Status = RtlAddAccessAllowedAce(pAcl, ACL_REVISION, GENERIC_ALL, const_cast<CSmallSid *>(&gc_SystemSid));
	if (NT_SUCCESS(Status))
		Status = RtlAddAccessAllowedAce(pAcl, ACL_REVISION, GENERIC_ALL, const_cast<CSmallSid *>(&gc_AdministratorsSid));
	if (NT_SUCCESS(Status))
		Status = RtlCreateSecurityDescriptor(&Descriptor, SECURITY_DESCRIPTOR_REVISION);
	if (NT_SUCCESS(Status))
		Status = RtlSetDaclSecurityDescriptor(&Descriptor, TRUE, pAcl, FALSE);
	if (NT_SUCCESS(Status))
	{
		// The export that sets control bits is missing from older kernels' import libraries; the
		// absolute descriptor is ours, so the bit is set directly.
		Descriptor.Control |= SE_DACL_PROTECTED;
		Status = ObOpenObjectByPointer(pDevice, OBJ_KERNEL_HANDLE, nullptr, WRITE_DAC, nullptr, KernelMode, &DeviceHandle);
	}
	if (NT_SUCCESS(Status))
	{
		Status = ZwSetSecurityObject(DeviceHandle, DACL_SECURITY_INFORMATION | gc_ProtectedDaclInformation, &Descriptor);
		ZwClose(DeviceHandle);
	}
	return Status;
}
