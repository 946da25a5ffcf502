// Kernel-side declarations of the Hushvane driver: its device extension and its routines.
#pragma once

// The kernel headers define these two themselves; keep the compiler's intrinsic header from
// defining them a second time, which C++ refuses.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntifs.h>

#include "driver/Hushvane_Shared.h"

#define DHushvaneRingCapacity 128

// The driver's whole state; the I/O manager allocates it with the device, non-paged and zeroed.
// Lock guards Records, WriteIndex, ReadIndex and Count (see Hushvane_Ring.h for the ring's
// invariant) and is always taken as an in-stack queued spin lock, for one record copy only.
typedef struct _NOTIFY_DEVICE_EXTENSION
{
	HANDLE EventHandle;
	PKEVENT Event;
	KSPIN_LOCK Lock;
	PROCESS_EVENT_RECORD Records[DHushvaneRingCapacity];
	LONG WriteIndex;
	LONG ReadIndex;
	LONG Count;
} NOTIFY_DEVICE_EXTENSION, *PNOTIFY_DEVICE_EXTENSION;

extern "C"
{
	DRIVER_INITIALIZE DriverEntry;
	DRIVER_UNLOAD DriverUnload;
	DRIVER_DISPATCH DispatchCreateClose;
	DRIVER_DISPATCH DispatchDeviceControl;
	void NTAPI ProcessNotifyCallback(HANDLE ParentId, HANDLE ProcessId, BOOLEAN Create);
}

// The one device of the driver. The process-notify routine gets no context of its own and finds
// the ring through it.
extern PDEVICE_OBJECT g_pHushvaneDevice;

// Gives the device a DACL that admits only SYSTEM and Administrators, protected from inheritance
// (D:P(A;;GA;;;SY)(A;;GA;;;BA)). PASSIVE_LEVEL. Returns the failing call's status.
NTSTATUS gf_RestrictDeviceAccess(PDEVICE_OBJECT pDevice);

#ifdef HUSHVANE_TEST_BUILD
// Copies the device's DACL, as the kernel holds it, into pOutput as a self-relative security
// descriptor; *pLength receives its size. PASSIVE_LEVEL.
NTSTATUS gf_QueryDeviceSecurity(PDEVICE_OBJECT pDevice, void *pOutput, ULONG OutputLength, ULONG *pLength);
#endif
