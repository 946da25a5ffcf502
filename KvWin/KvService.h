#pragma once
// The service host: one object per process stands for "the service", whether the process runs
// under the service control manager or as an ordinary program with a tray icon.
#include "zel/library/core/general/Zel_Str.h"
#include "zel/library/core/general/Zel_Types.h"

class CKvService
{
public:
	// Throws NZel::NException::CException when another instance is alive; nothing changes then.
	CKvService(const char *pServiceName, const char *pDisplayName, const char *pDescription);
	CKvService(const CKvService &) = delete;
	CKvService &operator=(const CKvService &) = delete;

	// Nonzero when the service is running after the call.
	virtual int f_OnStart() = 0;
	virtual int f_OnStop() = 0;
	virtual int f_OnPause() = 0;
	virtual int f_OnResume() = 0;

	// Hands the calling thread to the service control manager until the service has stopped.
	// False when the dispatcher could not start (the process was not started by the manager).
	bool f_RunDispatcher();

	// Registration commands; each opens the manager and the service afresh and closes every
	// handle before it returns. True on success.
	bool f_AddService();
	bool f_RemoveService();
	bool f_StartService();
	bool f_StopService();

	// The one live service object, or null.
	static CKvService *fs_GetInstance();
	// The texts of the last service object made; they outlive it.
	static const NZel::NStr::CStr &fs_GetServiceName();
	static const NZel::NStr::CStr &fs_GetDisplayName();
	static const NZel::NStr::CStr &fs_GetDescription();

protected:
	// Not virtual: the object lives on the entry point's stack and is never deleted through
	// this base.
	~CKvService();
};
