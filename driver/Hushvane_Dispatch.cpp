// Request handling of the Hushvane device: open, close and the record request.
#include "driver/Hushvane_Driver.h"
#include "driver/Hushvane_Ring.h"
#ifdef HUSHVANE_TEST_BUILD
#include "driver/Hushvane_TestControl.h"
#endif

namespace
{
	// Moves the oldest report into pOutput as a wire record, writing only its three fields (the
	// caller has zeroed the rest). Returns false, changing nothing, when no report waits.
	bool fg_TakeRecord(PNOTIFY_DEVICE_EXTENSION pExtension, PPROCESS_EVENT_RECORD pOutput)
	{
		KLOCK_QUEUE_HANDLE LockHandle;
		KeAcquireInStackQueuedSpinLock(&pExtension->Lock, &LockHandle);
		bool bTaken = NHushvane::NRing::gf_Take(
			*pExtension,
			[pOutput](const PROCESS_EVENT_RECORD &Oldest)
			{
				pOutput->ParentId = Oldest.ParentId;
				pOutput->ProcessId = Oldest.ProcessId;
				pOutput->Create = Oldest.Create;
			}
		);
		KeReleaseInStackQueuedSpinLock(&LockHandle);
		return bTaken;
	}

#ifdef HUSHVANE_TEST_BUILD
	// Passes one report to ProcessNotifyCallback, as the kernel would.
	NTSTATUS fg_TestNotify(const void *pInput, ULONG InputLength)
	{
		if (InputLength < sizeof(HUSHVANE_TEST_NOTIFY_INPUT) || !pInput)
			return STATUS_UNSUCCESSFUL;
		const HUSHVANE_TEST_NOTIFY_INPUT *pNotify = static_cast<const HUSHVANE_TEST_NOTIFY_INPUT *>(pInput);
		ProcessNotifyCallback(
			reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(pNotify->ParentId)),
			reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(pNotify->ProcessId)),
			pNotify->Create ? TRUE : FALSE
		);
		return STATUS_SUCCESS;
	}

	// Takes the unload routine away (nonzero input) or gives it back (zero).
	NTSTATUS fg_TestHoldUnload(PDEVICE_OBJECT pDevice, const void *pInput, ULONG InputLength)
	{
		if (InputLength < sizeof(ULONG) || !pInput)
			return STATUS_UNSUCCESSFUL;
		ULONG Hold;
		RtlCopyMemory(&Hold, pInput, sizeof(Hold));
		pDevice->DriverObject->DriverUnload = Hold ? nullptr : DriverUnload;
		return STATUS_SUCCESS;
	}
#endif
}

/*
 * DispatchCreateClose
 *   IRP_MJ_CREATE and IRP_MJ_CLOSE: every open is accepted (the device's DACL has already decided
 *   who may open it).
 *   IRQL: PASSIVE_LEVEL.
 *   Returns STATUS_SUCCESS.
 */
extern "C" NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT pDevice, PIRP pIrp)
{
	UNREFERENCED_PARAMETER(pDevice);
	pIrp->IoStatus.Status = STATUS_SUCCESS;
	pIrp->IoStatus.Information = 0;
	IoCompleteRequest(pIrp, IO_NO_INCREMENT);
	return STATUS_SUCCESS;
}

/*
 * DispatchDeviceControl
 *   IOCTL_GET_PROCESS_EVENT: moves exactly one record, the oldest, into the system buffer, however
 *   large the output buffer is, and reports the whole output buffer length as transferred; every
 *   byte of it that is not one of the record's fields is zero. No
 *   record waiting, an output buffer shorter than one record, or any other control code: the
 *   request fails with STATUS_UNSUCCESSFUL, transfers nothing and leaves the ring unchanged.
 *   IRQL: PASSIVE_LEVEL.
 *   Returns the status the request was completed with.
 */
extern "C" NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT pDevice, PIRP pIrp)
{
	PIO_STACK_LOCATION pStack = IoGetCurrentIrpStackLocation(pIrp);
	const ULONG ControlCode = pStack->Parameters.DeviceIoControl.IoControlCode;
	const ULONG OutputLength = pStack->Parameters.DeviceIoControl.OutputBufferLength;
	PNOTIFY_DEVICE_EXTENSION pExtension = static_cast<PNOTIFY_DEVICE_EXTENSION>(pDevice->DeviceExtension);
	NTSTATUS Status = STATUS_UNSUCCESSFUL;
	ULONG_PTR Information = 0;

	if (ControlCode == IOCTL_GET_PROCESS_EVENT)
	{
		PPROCESS_EVENT_RECORD pOutput = static_cast<PPROCESS_EVENT_RECORD>(pIrp->AssociatedIrp.SystemBuffer);
		if (OutputLength >= sizeof(PROCESS_EVENT_RECORD) && pOutput)
		{
			// The reply reports the whole buffer as transferred, and the I/O manager hands the
			// system buffer back as it is: whatever pool contents it held would reach user mode
			// through the record's padding and everything beyond it. Zeroed outside the lock;
			// the buffer belongs to this request alone.
			RtlZeroMemory(pOutput, OutputLength);
			if (fg_TakeRecord(pExtension, pOutput))
			{
				Status = STATUS_SUCCESS;
				Information = OutputLength;
			}
		}
	}
#ifdef HUSHVANE_TEST_BUILD
	else if (ControlCode == IOCTL_HUSHVANE_TEST_NOTIFY)
		Status = fg_TestNotify(pIrp->AssociatedIrp.SystemBuffer, pStack->Parameters.DeviceIoControl.InputBufferLength);
	else if (ControlCode == IOCTL_HUSHVANE_TEST_HOLD_UNLOAD)
		Status = fg_TestHoldUnload(pDevice, pIrp->AssociatedIrp.SystemBuffer, pStack->Parameters.DeviceIoControl.InputBufferLength);
	else if (ControlCode == IOCTL_HUSHVANE_TEST_QUERY_SECURITY && pIrp->AssociatedIrp.SystemBuffer)
	{
		ULONG Length = 0;
		Status = gf_QueryDeviceSecurity(pDevice, pIrp->AssociatedIrp.SystemBuffer, OutputLength, &Length);
		if (NT_SUCCESS(Status))
			Information = Length;
		else
			Status = STATUS_UNSUCCESSFUL;
	}
#endif

	pIrp->IoStatus.Status = Status;
	pIrp->IoStatus.Information = Information;
	IoCompleteRequest(pIrp, IO_NO_INCREMENT);
	return Status;
}
