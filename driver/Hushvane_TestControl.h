// Control codes served only by the test build of the driver; shipped images refuse them like any
// unknown code. IOCTL_HUSHVANE_TEST_NOTIFY hands one report to the driver's process-notify
// routine, standing in for a kernel that never calls it (Wine). IOCTL_HUSHVANE_TEST_QUERY_SECURITY
// returns the device's DACL as the kernel holds it (a self-relative security descriptor).
// IOCTL_HUSHVANE_TEST_HOLD_UNLOAD takes a ULONG: nonzero takes the driver's unload routine away,
// so that a stop of its service fails as it does for a driver that cannot be unloaded; zero
// gives it back.
#pragma once

#include "driver/Hushvane_Shared.h"

#define IOCTL_HUSHVANE_TEST_NOTIFY CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)
#define IOCTL_HUSHVANE_TEST_QUERY_SECURITY CTL_CODE(FILE_DEVICE_UNKNOWN, 0x803, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)
#define IOCTL_HUSHVANE_TEST_HOLD_UNLOAD CTL_CODE(FILE_DEVICE_UNKNOWN, 0x804, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)

// Input of IOCTL_HUSHVANE_TEST_NOTIFY; fixed widths so that both images read the same bytes.
typedef struct _HUSHVANE_TEST_NOTIFY_INPUT
{
	ULONGLONG ParentId;
	ULONGLONG ProcessId;
	ULONG Create;
	ULONG Reserved;
} HUSHVANE_TEST_NOTIFY_INPUT, *PHUSHVANE_TEST_NOTIFY_INPUT;

DHushvaneStaticAssert(IOCTL_HUSHVANE_TEST_NOTIFY == 0x22e004, "test control code");
DHushvaneStaticAssert(sizeof(HUSHVANE_TEST_NOTIFY_INPUT) == 24, "test input size");
