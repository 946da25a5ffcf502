// Set-up failures on demand, for the test image only: its tests check that a load failing at
// any step leaves nothing behind. In a shipped image every step reports success at compile time.
#pragma once

#include "driver/Hushvane_Driver.h"

// The set-up steps of DriverEntry that can fail after something was created.
enum EHushvaneSetupStep : ULONG
{
	EHushvaneSetupStep_DeviceAccess = 1,
	EHushvaneSetupStep_SymbolicLink = 2,
	EHushvaneSetupStep_Event = 3,
	EHushvaneSetupStep_ProcessNotify = 4,
};

#ifdef HUSHVANE_TEST_BUILD
// Reads the DWORD value "TestFailStep" of the driver's service key, if present.
void gf_LoadTestFaults(PUNICODE_STRING pRegistryPath);
// STATUS_UNSUCCESSFUL for the step named by "TestFailStep", else STATUS_SUCCESS.
NTSTATUS gf_InjectedFault(EHushvaneSetupStep Step);
// True when "TestWithoutEvent" is nonzero: the image loads without its named event, so that the
// program's readers can be tested against a device whose event cannot be opened.
bool gf_TestRunsWithoutEvent();
#else
inline void gf_LoadTestFaults(PUNICODE_STRING) {}
constexpr NTSTATUS gf_InjectedFault(EHushvaneSetupStep)
{
	return STATUS_SUCCESS;
}
constexpr bool gf_TestRunsWithoutEvent()
{
	return false;
}
#endif
