// A stand-in "Dbghelp.dll", as someone who may write to the program's folder could plant it:
// when a process loads it, it leaves the file "Planted.loaded" beside itself, and it has none of
// the debug-help functions. The crash tests put it beside hvcrash.exe; a crash must load the
// system's library instead.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD Reason, LPVOID)
{
	if (Reason != DLL_PROCESS_ATTACH)
		return TRUE;
	wchar_t Path[MAX_PATH + 32];
	DWORD Len = GetModuleFileNameW(hInstance, Path, MAX_PATH);
	while (Len > 0 && Path[Len - 1] != L'\\' && Path[Len - 1] != L'/')
		--Len;
	lstrcpyW(Path + Len, L"Planted.loaded");
	HANDLE hFile = CreateFileW(Path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
	if (hFile != INVALID_HANDLE_VALUE)
		CloseHandle(hFile);
	return TRUE;
}
