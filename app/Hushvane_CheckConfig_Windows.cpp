#include "app/Hushvane_CheckConfig.h"
#include "KvWin/KvWindowsHandles.h"
#include "app/Hushvane_Config.h"
#include "app/Hushvane_ConfigReport.h"
#include "app/Hushvane_InstallSafety.h"
#include "app/Hushvane_ReportOutput.h"
#include "zel/library/core/general/Zel_Exception.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <exception>
#include <tuple>

namespace NHushvane
{
	namespace
	{
		constexpr char gc_Caption[] = "Hushvane configuration check";

		std::string fg_WindowsPath(const NZel::NStr::CStr &Path)
		{
			std::string Text(Path.f_GetStr(), size_t(Path.f_GetLen()));
			std::replace(Text.begin(), Text.end(), '/', '\\');
			return Text;
		}

		std::string fg_TrimLineEnd(std::string Text)
		{
			while (!Text.empty() && (Text.back() == '\r' || Text.back() == '\n' || Text.back() == ' ' || Text.back() == '.'))
				Text.pop_back();
			return Text;
		}

		// The configuration's bytes; false with the reason when they cannot be had.
		bool fg_Read(const NZel::NStr::CStr &Path, std::vector<char> &Text, std::string &Reason)
		{
			try
			{
				if (gf_ReadConfigFile(Path, Text))
					return true;
				Reason = "the file does not exist";
			}
			catch (const NZel::NException::CException &Exception)
			{
				Reason = fg_TrimLineEnd(Exception.f_GetMessage());
			}
			catch (const std::exception &Exception)
			{
				Reason = fg_TrimLineEnd(Exception.what());
			}
			return false;
		}

		// Every running process the table would change, by name and then id. The class is read
		// with the least access that allows it.
		std::vector<CMatchingProcess> fg_FindMatchingProcesses(const CConfigCheck &Check)
		{
			std::vector<CMatchingProcess> Processes;
			if (Check.m_Entries.empty())
				return Processes;
			CProcessTable Table;
			for (const CConfigCheckEntry &Entry : Check.m_Entries)
				Table.f_Insert(NZel::NStr::CStr(Entry.m_Name.c_str()), Entry.m_Class);

			CKvFileHandle hSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
			if (!hSnapshot)
				return Processes;
			PROCESSENTRY32 Entry = {};
			Entry.dwSize = sizeof(Entry);
			for (BOOL bMore = Process32First(hSnapshot.f_Get(), &Entry); bMore; bMore = Process32Next(hSnapshot.f_Get(), &Entry))
			{
				const CProcessTable::CEntry *pEntry = Table.f_Find(Entry.szExeFile);
				if (!pEntry)
					continue;
				CMatchingProcess Process;
				Process.m_ProcessId = Entry.th32ProcessID;
				Process.m_Name = Entry.szExeFile;
				Process.m_NewClass = pEntry->f_GetPriorityClass();
				CKvKernelHandle hProcess(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, Entry.th32ProcessID));
				if (hProcess)
					Process.m_CurrentClass = GetPriorityClass(hProcess.f_Get());
				Processes.push_back(std::move(Process));
			}
			std::sort(Processes.begin(), Processes.end(), [](const CMatchingProcess &A, const CMatchingProcess &B) {
				return std::tie(A.m_Name, A.m_ProcessId) < std::tie(B.m_Name, B.m_ProcessId);
			});
			return Processes;
		}
	}

	int gf_RunCheckConfig()
	{
		NZel::NStr::CStr Path = gf_GetConfigPath();
		std::string Shown = fg_WindowsPath(Path);
		std::vector<char> Text;
		std::string Reason;
		if (!fg_Read(Path, Text, Reason))
		{
			gf_WriteReport(gf_FormatUnreadableConfig(Shown, Reason), gc_Caption, EReportTone::Error);
			return ECheckExit_Unreadable;
		}
		CConfigCheck Check = gf_CheckConfig(reinterpret_cast<const NZel::uint8 *>(Text.data()), Text.size() - 1);
		gf_AddChangeableConfigWarning(Check, gf_CheckConfigChangers());
		int ExitCode = gf_GetCheckExitCode(Check);
		gf_WriteReport(gf_FormatConfigReport(Shown, Check, fg_FindMatchingProcesses(Check)), gc_Caption,
			ExitCode == ECheckExit_Clean ? EReportTone::Information : EReportTone::Warning);
		return ExitCode;
	}
}
