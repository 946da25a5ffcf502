#include "KvWin/KvService.h"

#include "zel/library/core/general/Zel_Exception.h"

using NZel::NStr::CStr;

namespace
{
	// Process-wide state of the service host. The texts stay when the object goes: the
	// registration commands and the debug lines read them.
	struct CKvServiceGlobals
	{
		CKvService *fp_pInstance = nullptr;
		CStr fp_ServiceName;
		CStr fp_DisplayName;
		CStr fp_Description;
	};

	CKvServiceGlobals &fg_Globals()
	{
		static CKvServiceGlobals s_Globals;
		return s_Globals;
	}
}

CKvService::CKvService(const char *pServiceName, const char *pDisplayName, const char *pDescription)
{
	CKvServiceGlobals &Globals = fg_Globals();
	if (Globals.fp_pInstance)
		DZelThrow(NZel::NException::CException, "You cannot have two services running in the same process at once");
	Globals.fp_pInstance = this;
	Globals.fp_ServiceName = CStr(pServiceName);
	Globals.fp_DisplayName = CStr(pDisplayName);
	Globals.fp_Description = CStr(pDescription);
}

CKvService::~CKvService()
{
	CKvServiceGlobals &Globals = fg_Globals();
	if (Globals.fp_pInstance == this)
		Globals.fp_pInstance = nullptr;
}

CKvService *CKvService::fs_GetInstance()
{
	return fg_Globals().fp_pInstance;
}

const CStr &CKvService::fs_GetServiceName()
{
	return fg_Globals().fp_ServiceName;
}

const CStr &CKvService::fs_GetDisplayName()
{
	return fg_Globals().fp_DisplayName;
}

const CStr &CKvService::fs_GetDescription()
{
	return fg_Globals().fp_Description;
}
