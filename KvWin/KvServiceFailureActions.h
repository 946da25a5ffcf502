#pragma once
// The failure actions registered with the service: restart at once after the first and second
// failure within a day, then leave it stopped. Wine accepts them without storing them, so the
// record is built here on its own and checked field by field. Include only from Windows sources.
#include "zel/library/core/general/Zel_Str.h"

#include <windows.h>

class CKvServiceFailureActions
{
public:
	explicit CKvServiceFailureActions(const NZel::NStr::CStr &DisplayName);
	CKvServiceFailureActions(const CKvServiceFailureActions &) = delete;
	CKvServiceFailureActions &operator=(const CKvServiceFailureActions &) = delete;

	// Points into this object: valid while it lives.
	SERVICE_FAILURE_ACTIONSA *f_Get() { return &fp_Actions; }

private:
	NZel::NStr::CStr fp_RebootMessage;
	char fp_Command[1] = {};
	SC_ACTION fp_Steps[3];
	SERVICE_FAILURE_ACTIONSA fp_Actions;
};
