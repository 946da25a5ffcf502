#include "app/Hushvane_InstallSafety.h"
#include "app/Hushvane_ChangeRights.h"
#include "app/Hushvane_Config.h"
#include "app/Hushvane_DriverDeploy.h"
#include "app/Hushvane_WorkerRun.h"
#include "zel/library/core/file/Zel_File.h"
#include "zel/library/core/runtime/Zel_Sys_File.h"

#include <algorithm>

namespace NHushvane
{
	namespace
	{
		// A path of the file layer ('/' separators, UTF-8) in the Windows form.
		std::wstring fg_WindowsPath(const NZel::NStr::CStr &Path)
		{
			NZel::NStr::CStr16 Wide = NZel::NSys::NFile::gf_ToWidePath(Path);
			std::wstring Text(Wide.f_GetStr(), size_t(Wide.f_GetLen()));
			std::replace(Text.begin(), Text.end(), L'/', L'\\');
			return Text;
		}

		std::wstring fg_WindowsPath(const std::string &Utf8Path)
		{
			return fg_WindowsPath(NZel::NStr::CStr(Utf8Path.c_str()));
		}

		bool fg_Exists(const std::wstring &Path)
		{
			return GetFileAttributesW(Path.c_str()) != INVALID_FILE_ATTRIBUTES;
		}

		// Collects what is unsafe, asking the system about each account once.
		class CChecker
		{
		public:
			void f_Check(const std::wstring &Path, DWORD Rights, EChangeScope Scope = EChangeScope::Change)
			{
				CUnsafePath Unsafe;
				if (!gf_CheckChangers(Path, Rights, Scope, fp_Accounts, Unsafe))
					m_Unsafe.push_back(std::move(Unsafe));
			}

			void f_CheckIfPresent(const std::wstring &Path, DWORD Rights)
			{
				if (fg_Exists(Path))
					f_Check(Path, Rights);
			}

			std::vector<CUnsafePath> m_Unsafe;

		private:
			CAdministratorAccounts fp_Accounts;
		};
	}

	std::vector<CUnsafePath> gf_CheckInstallation()
	{
		NZel::NStr::CStr ProgramFolder = NZel::NFile::gf_GetProgramFolder();
		std::wstring Folder = fg_WindowsPath(ProgramFolder);
		CChecker Checker;
		Checker.f_Check(Folder, gc_ChangeRights);
		Checker.f_Check(fg_WindowsPath(NZel::NFile::gfs_GetProgramPath()), gc_ChangeRights);
		for (const char *pImage : {gc_DriverImageX64, gc_DriverImageX86})
			Checker.f_CheckIfPresent(Folder + L"\\" + fg_WindowsPath(NZel::NStr::CStr(pImage)), gc_ChangeRights);
		// Whoever can move a folder above away can put one of their own, with their own program,
		// where the service looks.
		std::string Utf8Folder(ProgramFolder.f_GetStr(), size_t(ProgramFolder.f_GetLen()));
		std::replace(Utf8Folder.begin(), Utf8Folder.end(), '/', '\\');
		for (const std::string &Above : gf_GetFoldersAbove(Utf8Folder))
			Checker.f_Check(fg_WindowsPath(Above), gf_IsRootFolder(Above) ? gc_MoveRightsOfRoot : gc_MoveRights, EChangeScope::MoveOrReplace);
		return std::move(Checker.m_Unsafe);
	}

	bool gf_IsDriverSourceSafe(ICRunLog &Log)
	{
		CChecker Checker;
		std::wstring Folder = fg_WindowsPath(NZel::NFile::gf_GetProgramFolder());
		Checker.f_Check(Folder, gc_ChangeRights);
		Checker.f_CheckIfPresent(Folder + L"\\" + fg_WindowsPath(NZel::NStr::CStr(gf_GetDriverImageName())), gc_ChangeRights);
		for (const CUnsafePath &Unsafe : Checker.m_Unsafe)
		{
			NZel::NStr::CStr Line(gf_FormatUnsafeDriverSource(Unsafe).c_str());
			Log.f_WriteLine(Line);
			Log.f_ReportEvent(ERunEvent::ImageRefused, {Line});
		}
		return Checker.m_Unsafe.empty();
	}

	std::vector<CUnsafePath> gf_CheckConfigChangers()
	{
		CChecker Checker;
		Checker.f_CheckIfPresent(fg_WindowsPath(gf_GetConfigPath()), gc_ChangeRights);
		Checker.f_Check(fg_WindowsPath(NZel::NFile::gf_GetProgramFolder()), gc_ChangeRights);
		return std::move(Checker.m_Unsafe);
	}

	void gf_LogChangeableConfig(ICRunLog &Log)
	{
		gf_RunGuarded(Log, [&] {
			std::vector<CUnsafePath> Unsafe = gf_CheckConfigChangers();
			if (Unsafe.empty())
				return;
			NZel::NStr::CStr Line(gf_FormatChangeableConfig(Unsafe).c_str());
			Log.f_WriteLine(Line);
			Log.f_ReportEvent(ERunEvent::ConfigWritable, {Line});
		});
	}
}
