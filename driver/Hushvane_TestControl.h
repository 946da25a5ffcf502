// Control code served only by the test build of the driver: it hands one report to the driver's
// process-notify routine, standing in for a kernel that never calls it (Wine). Shipped images
// refuse it like any unknown code.
#pragma once

#include "driver/Hushvane_Shared.h"

#define IOCTL_HUSHVANE_TEST_NOTIFY CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)

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
