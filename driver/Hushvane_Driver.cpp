// Load, unload and process reports of the Hushvane driver.
#include "driver/Hushvane_Driver.h"
#include "driver/Hushvane_Ring.h"
#include "driver/Hushvane_TestFaults.h"

PDEVICE_OBJECT g_pHushvaneDevice = nullptr;

namespace
{
	// Undoes the set-up steps that succeeded: closes the event handle (kept in the extension, so
	// before the device goes), deletes the device, then its link. Any of them may be absent.
	void fg_TearDown(PDEVICE_OBJECT pDevice, bool bLinkCreated)
	{
		if (pDevice)
		{
			PNOTIFY_DEVICE_EXTENSION pExtension = static_cast<PNOTIFY_DEVICE_EXTENSION>(pDevice->DeviceExtension);
			if (pExtension->EventHandle)
			{
				ZwClose(pExtension->EventHandle);
				pExtension->EventHandle = nullptr;
				pExtension->Event = nullptr;
			}
			IoDeleteDevice(pDevice);
		}
		if (bLinkCreated)
		{
			UNICODE_STRING LinkName;
			RtlInitUnicodeString(&LinkName, DHushvaneKernelLinkName);
			IoDeleteSymbolicLink(&LinkName);
		}
	}
}

/*
 * DriverEntry
 *   Creates the device (admitting only SYSTEM and Administrators) and its link, the named
 *   notification event and an empty ring, then registers ProcessNotifyCallback. A failing step
 *   undoes every step before it, so a failed load leaves nothing behind.
 *   IRQL: PASSIVE_LEVEL.
 *   Returns STATUS_SUCCESS or the status of the step that failed.
 */
extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT pDriverObject, PUNICODE_STRING pRegistryPath)
{
	gf_LoadTestFaults(pRegistryPath);

	UNICODE_STRING DeviceName;
	RtlInitUnicodeString(&DeviceName, DHushvaneKernelDeviceName);
	PDEVICE_OBJECT pDevice = nullptr;
	NTSTATUS Status = IoCreateDevice(
		pDriverObject, sizeof(NOTIFY_DEVICE_EXTENSION), &DeviceName, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE, &pDevice
	);
	if (!NT_SUCCESS(Status))
		return Status;

	Status = gf_InjectedFault(EHushvaneSetupStep_DeviceAccess);
	if (NT_SUCCESS(Status))
		Status = gf_RestrictDeviceAccess(pDevice);
	if (!NT_SUCCESS(Status))
	{
		fg_TearDown(pDevice, false);
		return Status;
	}

	UNICODE_STRING LinkName;
	RtlInitUnicodeString(&LinkName, DHushvaneKernelLinkName);
	Status = gf_InjectedFault(EHushvaneSetupStep_SymbolicLink);
	if (NT_SUCCESS(Status))
		Status = IoCreateSymbolicLink(&LinkName, &DeviceName);
	if (!NT_SUCCESS(Status))
	{
		fg_TearDown(pDevice, false);
		return Status;
	}

	g_pHushvaneDevice = pDevice;
	pDriverObject->DriverUnload = DriverUnload;
	pDriverObject->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
	pDriverObject->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
	pDriverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;

	PNOTIFY_DEVICE_EXTENSION pExtension = static_cast<PNOTIFY_DEVICE_EXTENSION>(pDevice->DeviceExtension);
	if (!gf_TestRunsWithoutEvent())
	{
		UNICODE_STRING EventName;
		RtlInitUnicodeString(&EventName, DHushvaneKernelEventName);
		// Creates the event, or opens it when an earlier load or a reader left it behind.
		if (NT_SUCCESS(gf_InjectedFault(EHushvaneSetupStep_Event)))
			pExtension->Event = IoCreateNotificationEvent(&EventName, &pExtension->EventHandle);
		if (!pExtension->Event)
		{
			pExtension->EventHandle = nullptr;
			g_pHushvaneDevice = nullptr;
			fg_TearDown(pDevice, true);
			return STATUS_INSUFFICIENT_RESOURCES;
		}
		KeClearEvent(pExtension->Event);
	}

	KeInitializeSpinLock(&pExtension->Lock);
	NHushvane::NRing::gf_Reset(*pExtension);

	Status = gf_InjectedFault(EHushvaneSetupStep_ProcessNotify);
	if (NT_SUCCESS(Status))
		Status = PsSetCreateProcessNotifyRoutine(ProcessNotifyCallback, FALSE);
	if (!NT_SUCCESS(Status))
	{
		g_pHushvaneDevice = nullptr;
		fg_TearDown(pDevice, true);
	}
	return Status;
}

/*
 * DriverUnload
 *   Unregisters the callback first, so that no report is written into an extension that is
 *   about to go, then closes the event handle and deletes the device and its link.
 *   IRQL: PASSIVE_LEVEL.
 */
extern "C" void NTAPI DriverUnload(PDRIVER_OBJECT pDriverObject)
{
	PsSetCreateProcessNotifyRoutine(ProcessNotifyCallback, TRUE);
	g_pHushvaneDevice = nullptr;
	fg_TearDown(pDriverObject->DeviceObject, true);
}

/*
 * ProcessNotifyCallback
 *   Called by the kernel in the thread that creates or deletes a process. Stores the report in
 *   the ring (dropped when the ring is full), then pulses the event so that waiting readers wake;
 *   a reader that starts waiting later does not see the pulse. Allocates nothing; the lock is
 *   held for one record copy and released before the event is touched.
 *   IRQL: PASSIVE_LEVEL.
 */
extern "C" void NTAPI ProcessNotifyCallback(HANDLE ParentId, HANDLE ProcessId, BOOLEAN Create)
{
	PDEVICE_OBJECT pDevice = g_pHushvaneDevice;
	if (!pDevice)
		return;
	PNOTIFY_DEVICE_EXTENSION pExtension = static_cast<PNOTIFY_DEVICE_EXTENSION>(pDevice->DeviceExtension);

	PROCESS_EVENT_RECORD Record;
	Record.ParentId = ParentId;
	Record.ProcessId = ProcessId;
	Record.Create = Create;

	KLOCK_QUEUE_HANDLE LockHandle;
	KeAcquireInStackQueuedSpinLock(&pExtension->Lock, &LockHandle);
	NHushvane::NRing::gf_Store(*pExtension, Record);
	KeReleaseInStackQueuedSpinLock(&LockHandle);

	// Only a test image may run without its event (see Hushvane_TestFaults.h).
	if (pExtension->Event)
	{
		KeSetEvent(pExtension->Event, 0, FALSE);
		KeClearEvent(pExtension->Event);
	}
}
