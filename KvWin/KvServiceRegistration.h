#pragma once
// Registering the program as a Windows service, removing it, and asking the service control
// manager to start or stop it. The texts that go into the registration are formed here.
#include "zel/library/core/general/Zel_Str.h"

struct CKvServiceDefinition
{
	NZel::NStr::CStr ServiceName;
	NZel::NStr::CStr DisplayName;
	NZel::NStr::CStr Description;
};

enum class EKvServiceCommand
{
	Add,    // register, or point an existing registration at ProgramPath
	Remove, // stop, and only if that succeeded, delete
	Start,
	Stop,   // returns once the service's process has ended (bounded)
};

// The command line the manager runs: the program path in double quotes (unless it already
// begins with one), then " -Service " and the service name.
NZel::NStr::CStr gf_KvServiceImagePath(const NZel::NStr::CStr &ProgramPath, const NZel::NStr::CStr &ServiceName);

// Message stored with the failure actions.
NZel::NStr::CStr gf_KvServiceRebootMessage(const NZel::NStr::CStr &DisplayName);

// Runs one command against the local service control manager (Windows only). Every handle is
// closed before it returns; every wait for a state change is bounded. True on success.
bool gf_KvServiceCommand(EKvServiceCommand Command, const CKvServiceDefinition &Definition, const NZel::NStr::CStr &ProgramPath);
