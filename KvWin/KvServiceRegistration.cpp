#include "KvWin/KvServiceRegistration.h"

using NZel::NStr::CStr;

CStr gf_KvServiceImagePath(const CStr &ProgramPath, const CStr &ServiceName)
{
	CStr Path = ProgramPath.f_GetStr()[0] == '"' ? ProgramPath : CStr("\"") + ProgramPath + CStr("\"");
	return Path + CStr(" -Service ") + ServiceName;
}

CStr gf_KvServiceRebootMessage(const CStr &DisplayName)
{
	return CStr("Rebooting the server in response to crash of ") + DisplayName + CStr(" crash.");
}
