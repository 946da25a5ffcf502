#include "KvWin/KvEventSource.h"

#include "zel/library/core/file/Zel_File.h"
#include "zel/library/core/runtime/Zel_Sys_File.h"

#include <windows.h>

using NZel::NStr::CStr;

namespace
{
	constexpr DWORD gc_TypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

	struct CKeyCloser
	{
		HKEY m_hKey = nullptr;
		~CKeyCloser()
		{
			if (m_hKey)
				RegCloseKey(m_hKey);
		}
	};
}

CStr gf_KvEventSourceKey(const CStr &Name)
{
	return CStr("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\") + Name;
}

bool gf_KvRegisterEventSource(const CStr &Name, const CStr &ProgramPath)
{
	NZel::NStr::CStr16 Key = NZel::NSys::NFile::gf_ToWidePath(gf_KvEventSourceKey(Name));
	NZel::NStr::CStr16 MessageFile = NZel::NSys::NFile::gf_ToWidePath(NZel::NFile::gf_ShowPath(ProgramPath));
	CKeyCloser Closer;
	if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, Key.f_GetStr(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &Closer.m_hKey, nullptr)
		!= ERROR_SUCCESS)
		return false;
	DWORD Types = gc_TypesSupported;
	return RegSetValueExW(Closer.m_hKey, L"EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE *>(MessageFile.f_GetStr()),
			   DWORD((MessageFile.f_GetLen() + 1) * sizeof(wchar_t)))
			== ERROR_SUCCESS
		&& RegSetValueExW(Closer.m_hKey, L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&Types), sizeof(Types)) == ERROR_SUCCESS;
}

bool gf_KvRemoveEventSource(const CStr &Name)
{
	NZel::NStr::CStr16 Key = NZel::NSys::NFile::gf_ToWidePath(gf_KvEventSourceKey(Name));
	LSTATUS Status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, Key.f_GetStr());
	if (Status != ERROR_SUCCESS && Status != ERROR_FILE_NOT_FOUND)
		return false;
	// RegDeleteTree empties the key; the key itself goes with RegDeleteKey.
	Status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, Key.f_GetStr());
	return Status == ERROR_SUCCESS || Status == ERROR_FILE_NOT_FOUND;
}
