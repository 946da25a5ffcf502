// Built into the test image only (see Hushvane_TestFaults.h).
#include "driver/Hushvane_TestFaults.h"

namespace
{
	ULONG g_FailStep = 0;
	ULONG g_WithoutEvent = 0;

	// The REG_DWORD value pName of the open key, or 0 when it is absent or of another type.
	ULONG fg_ReadDword(HANDLE Key, PCWSTR pName)
	{
		UNICODE_STRING ValueName;
		RtlInitUnicodeString(&ValueName, pName);
		union
		{
			KEY_VALUE_PARTIAL_INFORMATION Information;
			UCHAR Bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
		} Value;
		ULONG Length = 0;
		NTSTATUS Status = ZwQueryValueKey(Key, &ValueName, KeyValuePartialInformation, &Value, sizeof(Value), &Length);
		if (!NT_SUCCESS(Status) || Value.Information.Type != REG_DWORD || Value.Information.DataLength != sizeof(ULONG))
			return 0;
		ULONG Result;
		RtlCopyMemory(&Result, Value.Information.Data, sizeof(Result));
		return Result;
	}
}

/*
 * gf_LoadTestFaults
 *   Reads "TestFailStep" and "TestWithoutEvent" (REG_DWORD) from the service key; absent or
 *   unreadable means no fault.
 *   IRQL: PASSIVE_LEVEL (DriverEntry).
 */
void gf_LoadTestFaults(PUNICODE_STRING pRegistryPath)
{
	g_FailStep = 0;
	g_WithoutEvent = 0;
	OBJECT_ATTRIBUTES Attributes;
	InitializeObjectAttributes(&Attributes, pRegistryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
	HANDLE Key = nullptr;
	if (!NT_SUCCESS(ZwOpenKey(&Key, KEY_READ, &Attributes)))
		return;
	g_FailStep = fg_ReadDword(Key, L"TestFailStep");
	g_WithoutEvent = fg_ReadDword(Key, L"TestWithoutEvent");
	ZwClose(Key);
}

bool gf_TestRunsWithoutEvent()
{
	return g_WithoutEvent != 0;
}

NTSTATUS gf_InjectedFault(EHushvaneSetupStep Step)
{
	return g_FailStep == Step ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS;
}
