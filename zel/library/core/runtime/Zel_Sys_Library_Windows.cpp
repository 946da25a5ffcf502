#include "zel/library/core/runtime/Zel_Sys_Library.h"

#include <cwchar>

namespace NZel::NSys
{
	void gf_RestrictLibrarySearch()
	{
		// Looked up rather than imported: a program importing it would not even start on a
		// Windows 7 that lacks it.
		using FSetDefaultDllDirectories = BOOL(WINAPI *)(DWORD);
		HMODULE hKernel = GetModuleHandleW(L"kernel32.dll");
		auto fSet = hKernel ? reinterpret_cast<FSetDefaultDllDirectories>(
								  reinterpret_cast<void (*)()>(GetProcAddress(hKernel, "SetDefaultDllDirectories")))
							: nullptr;
		if (fSet)
			fSet(LOAD_LIBRARY_SEARCH_SYSTEM32);
	}

	HMODULE gf_LoadSystemLibrary(const wchar_t *pName)
	{
		HMODULE hModule = LoadLibraryExW(pName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
		if (hModule || GetLastError() != ERROR_INVALID_PARAMETER)
			return hModule;

		// The search flags are unknown to this Windows: the full path in the system folder,
		// whose imports are then looked for in that folder first.
		wchar_t Path[MAX_PATH + 64];
		UINT const nFolder = GetSystemDirectoryW(Path, MAX_PATH);
		size_t const nName = std::wcslen(pName);
		if (nFolder == 0 || nFolder >= MAX_PATH || nName + 2 > sizeof(Path) / sizeof(Path[0]) - nFolder)
		{
			SetLastError(ERROR_FILE_NOT_FOUND);
			return nullptr;
		}
		Path[nFolder] = L'\\';
		std::wmemcpy(Path + nFolder + 1, pName, nName + 1);
		return LoadLibraryExW(Path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
	}
}
