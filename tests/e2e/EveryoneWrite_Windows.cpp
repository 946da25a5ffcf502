#include "tests/e2e/EveryoneWrite_Windows.h"
#include "KvWin/KvWindowsHandles.h"

#include <aclapi.h>

#include <memory>
#include <utility>

namespace NHushvaneTest
{
	namespace
	{
		constexpr DWORD gc_WriteData = FILE_WRITE_DATA;

		// The Unix path of a Windows path, as Wine maps it; empty outside Wine.
		std::string fg_UnixPath(const std::string &Path)
		{
			using FGetUnixFileName = char *(CDECL *)(LPCWSTR);
			auto fGet = reinterpret_cast<FGetUnixFileName>(
				reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
			if (!fGet)
				return std::string();
			std::wstring Wide(Path.begin(), Path.end());
			char *pUnix = fGet(Wide.c_str());
			if (!pUnix)
				return std::string();
			std::string Unix = pUnix;
			HeapFree(GetProcessHeap(), 0, pUnix);
			return Unix;
		}
	}

	DWORD gf_EveryoneAccess(const std::string &Path)
	{
		PACL pDacl = nullptr;
		PSECURITY_DESCRIPTOR pDescriptor = nullptr;
		if (GetNamedSecurityInfoA(Path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &pDacl, nullptr, &pDescriptor) !=
			ERROR_SUCCESS)
			return 0;
		std::unique_ptr<void, decltype(&LocalFree)> Owned(pDescriptor, &LocalFree);
		SID_IDENTIFIER_AUTHORITY World = SECURITY_WORLD_SID_AUTHORITY;
		BYTE Everyone[SECURITY_MAX_SID_SIZE];
		InitializeSid(Everyone, &World, 1);
		*GetSidSubAuthority(Everyone, 0) = SECURITY_WORLD_RID;
		DWORD Mask = 0;
		for (DWORD Index = 0; pDacl && Index < pDacl->AceCount; ++Index)
		{
			ACCESS_ALLOWED_ACE *pAce = nullptr;
			if (GetAce(pDacl, Index, reinterpret_cast<void **>(&pAce)) && pAce->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
				EqualSid(&pAce->SidStart, Everyone))
				Mask |= pAce->Mask;
		}
		return Mask;
	}

	bool gf_SetEveryoneMayWrite(const std::string &Path, bool bMayWrite)
	{
		std::string Unix = fg_UnixPath(Path);
		if (Unix.empty())
			return false;
		// Wine starts a Unix program named by its Unix path as it starts a Windows one.
		std::string CommandLine = std::string("/bin/chmod ") + (bMayWrite ? "o+w" : "o-w") + " \"" + Unix + "\"";
		STARTUPINFOA Startup = {};
		Startup.cb = sizeof(Startup);
		PROCESS_INFORMATION Info = {};
		if (!CreateProcessA(nullptr, CommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Startup, &Info))
			return false;
		CKvKernelHandle hProcess(Info.hProcess);
		CKvKernelHandle hThread(Info.hThread);
		WaitForSingleObject(hProcess.f_Get(), 10000);
		// The process handle of a Unix program tells nothing reliable: the result is read back.
		ULONGLONG End = GetTickCount64() + 10000;
		do
		{
			if (((gf_EveryoneAccess(Path) & gc_WriteData) != 0) == bMayWrite)
				return true;
			Sleep(20);
		} while (GetTickCount64() < End);
		return false;
	}

	CEveryoneMayWrite::CEveryoneMayWrite(std::string Path)
		: fp_Path(std::move(Path))
	{
		fp_bSet = gf_SetEveryoneMayWrite(fp_Path, true);
	}

	CEveryoneMayWrite::~CEveryoneMayWrite()
	{
		gf_SetEveryoneMayWrite(fp_Path, false);
	}
}
