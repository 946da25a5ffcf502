// Built into the test image only (see Hushvane_TestFaults.h).
#include "driver/Hushvane_TestFaults.h"

namespace
{
	ULONG g_FailStep = 0;
}

/*
 * gf_LoadTestFaults
 *   Reads "TestFailStep" (REG_DWORD) from the service key; absent or unreadable means no fault.
 *   IRQL: PASSIVE_LEVEL (DriverEntry).
 */
void gf_LoadTestFaults(PUNICODE_STRING pRegistryPath)
{
	g_FailStep = 0;
	OBJECT_ATTRIBUTES Attributes;
	InitializeObjectAttributes(&Attributes, pRegistryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
	HANDLE Key = nullptr;
	if (!NT_SUCCESS(ZwOpenKey(&Key, KEY_READ, &Attributes)))
		return;

	UNICODE_STRING ValueName;
	RtlInitUnicodeString(&ValueName, L"TestFailStep");
	union
	{
		KEY_VALUE_PARTIAL_INFORMATION Information;
		UCHAR Bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
	} Value;
	ULONG Length = 0;
	NTSTATUS Status = ZwQueryValueKey(Key, &ValueName, KeyValuePartialInformation, &Value, sizeof(Value), &Length);
	if (NT_SUCCESS(Status) && Value.Information.Type == REG_DWORD && Value.Information.DataLength == sizeof(ULONG))
	{
		ULONG Step;
		RtlCopyMemory(&Step, Value.Information.Data, sizeof(Step));
		g_FailStep = Step;
	}
	ZwClose(Key);
}

NTSTATUS gf_InjectedFault(EHushvaneSetupStep Step)
{
	return g_FailStep == Step ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS;
}
