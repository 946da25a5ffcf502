#pragma once
// The event source of a service in the Application log: the key
// HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\<name> with the program as its
// message file, so that Event Viewer shows the events' texts.
#include "zel/library/core/general/Zel_Str.h"

// The key below the Application log for Name.
NZel::NStr::CStr gf_KvEventSourceKey(const NZel::NStr::CStr &Name);

// Writes the key: EventMessageFile (the program path, with '\' between its parts) and
// TypesSupported (error, warning, information). True when both were written.
bool gf_KvRegisterEventSource(const NZel::NStr::CStr &Name, const NZel::NStr::CStr &ProgramPath);

// Deletes the key; true when it is gone (or was never there).
bool gf_KvRemoveEventSource(const NZel::NStr::CStr &Name);
