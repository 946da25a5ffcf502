// Names, control code and record shared by the Hushvane driver and the programs that read it.
// Builds in the driver (after <ntddk.h> or <ntifs.h>) and in user mode, where it brings in
// <windows.h> and <winioctl.h> itself.
#pragma once

#if !defined(_NTDDK_) && !defined(_WDMDDK_)
#include <windows.h>
#include <winioctl.h>
#endif

// Kernel name space (wide, used by the driver).
#define DHushvaneKernelDeviceName L"\\Device\\Hushvane"
#define DHushvaneKernelLinkName L"\\DosDevices\\Hushvane"
#define DHushvaneKernelEventName L"\\BaseNamedObjects\\HushvaneNotifyEvent"

// The same objects as user mode opens them.
#define DHushvaneUserDeviceName "\\\\.\\Global\\Hushvane"
#define DHushvaneUserEventName "Global\\HushvaneNotifyEvent"

// One record per request, no input; fails (and removes nothing) when no record waits or the
// output buffer is smaller than one record.
#define IOCTL_GET_PROCESS_EVENT CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)

// One process creation (Create nonzero) or exit (Create 0), as the kernel reported it. The wire
// record has exactly this layout for the driver's pointer width; the padding after Create is never
// written by the driver.
typedef struct _PROCESS_EVENT_RECORD
{
	HANDLE ParentId;
	HANDLE ProcessId;
	BOOLEAN Create;
} PROCESS_EVENT_RECORD, *PPROCESS_EVENT_RECORD;

// The 64-bit driver's record, for a 32-bit reader running on 64-bit Windows.
typedef struct _PROCESS_EVENT_RECORD64
{
	ULONGLONG ParentId;
	ULONGLONG ProcessId;
	BOOLEAN Create;
} PROCESS_EVENT_RECORD64, *PPROCESS_EVENT_RECORD64;

#ifdef __cplusplus
#define DHushvaneStaticAssert static_assert
#else
#define DHushvaneStaticAssert _Static_assert
#endif

DHushvaneStaticAssert(IOCTL_GET_PROCESS_EVENT == 0x22e000, "control code");
#if defined(_WIN64)
DHushvaneStaticAssert(sizeof(PROCESS_EVENT_RECORD) == 24, "64-bit record size");
DHushvaneStaticAssert(FIELD_OFFSET(PROCESS_EVENT_RECORD, ParentId) == 0, "ParentId offset");
DHushvaneStaticAssert(FIELD_OFFSET(PROCESS_EVENT_RECORD, ProcessId) == 8, "ProcessId offset");
DHushvaneStaticAssert(FIELD_OFFSET(PROCESS_EVENT_RECORD, Create) == 16, "Create offset");
#else
DHushvaneStaticAssert(sizeof(PROCESS_EVENT_RECORD) == 12, "32-bit record size");
DHushvaneStaticAssert(FIELD_OFFSET(PROCESS_EVENT_RECORD, ParentId) == 0, "ParentId offset");
DHushvaneStaticAssert(FIELD_OFFSET(PROCESS_EVENT_RECORD, ProcessId) == 4, "ProcessId offset");
DHushvaneStaticAssert(FIELD_OFFSET(PROCESS_EVENT_RECORD, Create) == 8, "Create offset");
#endif
DHushvaneStaticAssert(sizeof(PROCESS_EVENT_RECORD64) == 24, "64-bit wire record size");
DHushvaneStaticAssert(FIELD_OFFSET(PROCESS_EVENT_RECORD64, ProcessId) == 8, "64-bit ProcessId offset");
DHushvaneStaticAssert(FIELD_OFFSET(PROCESS_EVENT_RECORD64, Create) == 16, "64-bit Create offset");
