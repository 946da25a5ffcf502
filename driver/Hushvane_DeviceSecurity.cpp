// Access restriction of the driver's device. Without it any local user could open the device,
// drain the record stream and watch every process launch.
#include "driver/Hushvane_Driver.h"
#include "driver/Hushvane_DeviceSecurityDescriptor.h"

namespace
{
	// Asks for the DACL's protected bit to be taken over as well; the kernel headers lack the name.
	constexpr SECURITY_INFORMATION gc_ProtectedDaclInformation = 0x80000000;
}

/*
 * gf_RestrictDeviceAccess
 *   Replaces the device's DACL with D:P(A;;GA;;;SY)(A;;GA;;;BA). The device is created with
 *   FILE_DEVICE_SECURE_OPEN, so the DACL also guards opens of names below the device.
 *   IRQL: PASSIVE_LEVEL (DriverEntry).
 *   Returns STATUS_SUCCESS or the status of the call that failed.
 */
NTSTATUS gf_RestrictDeviceAccess(PDEVICE_OBJECT pDevice)
{
	NHushvane::NDeviceSecurity::CDescriptor Descriptor;
	NTSTATUS Status = NHushvane::NDeviceSecurity::gf_Build(Descriptor);
	if (!NT_SUCCESS(Status))
		return Status;

	HANDLE DeviceHandle = nullptr;
	Status = ObOpenObjectByPointer(pDevice, OBJ_KERNEL_HANDLE, nullptr, WRITE_DAC, nullptr, KernelMode, &DeviceHandle);
	if (!NT_SUCCESS(Status))
		return Status;
	Status = ZwSetSecurityObject(DeviceHandle, DACL_SECURITY_INFORMATION | gc_ProtectedDaclInformation, &Descriptor.m_Descriptor);
	ZwClose(DeviceHandle);
	return Status;
}

#ifdef HUSHVANE_TEST_BUILD
NTSTATUS gf_QueryDeviceSecurity(PDEVICE_OBJECT pDevice, void *pOutput, ULONG OutputLength, ULONG *pLength)
{
	HANDLE DeviceHandle = nullptr;
	NTSTATUS Status = ObOpenObjectByPointer(pDevice, OBJ_KERNEL_HANDLE, nullptr, READ_CONTROL, nullptr, KernelMode, &DeviceHandle);
	if (!NT_SUCCESS(Status))
		return Status;
	Status = ZwQuerySecurityObject(DeviceHandle, DACL_SECURITY_INFORMATION, pOutput, OutputLength, pLength);
	ZwClose(DeviceHandle);
	return Status;
}
#endif
