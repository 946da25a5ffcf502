#include "app/Hushvane_ConfigReport.h"
#include "app/Hushvane_Config.h"

#include <algorithm>
#include <cstdio>

namespace NHushvane
{
	namespace
	{
		constexpr char gc_Title[] = "Hushvane configuration check of ";

		std::string fg_Pad(std::string Text, size_t Width)
		{
			if (Text.size() < Width)
				Text.append(Width - Text.size(), ' ');
			return Text;
		}

		std::string fg_Count(size_t Count, const char *pOne, const char *pMany)
		{
			return std::to_string(Count) + " " + (Count == 1 ? pOne : pMany);
		}

		std::string fg_EntryLines(const CConfigCheck &Check)
		{
			if (Check.m_Entries.empty())
				return "No entries: no process gets a priority class.\r\n";
			size_t NameWidth = 0;
			for (const CConfigCheckEntry &Entry : Check.m_Entries)
				NameWidth = std::max(NameWidth, gf_ShowBytes(Entry.m_Name).size());
			std::string Text = fg_Count(Check.m_Entries.size(), "entry", "entries") + ", in table order:\r\n";
			for (const CConfigCheckEntry &Entry : Check.m_Entries)
			{
				std::string ClassText = gf_PriorityClassText(Entry.m_Class);
				Text += "  line " + fg_Pad(std::to_string(Entry.m_Line), 5) + fg_Pad(gf_ShowBytes(Entry.m_Name), NameWidth + 2) + ClassText;
				if (Entry.m_Word.empty())
					Text += " (no priority word)";
				else if (!gf_IsPriorityWord(Entry.m_Word.c_str()))
					Text += " (written \"" + gf_ShowBytes(Entry.m_Word) + "\")";
				Text += "\r\n";
			}
			return Text;
		}

		std::string fg_WarningLines(const CConfigCheck &Check)
		{
			if (Check.m_Warnings.empty())
				return "No warnings.\r\n";
			std::string Text = fg_Count(Check.m_Warnings.size(), "warning", "warnings") + ":\r\n";
			for (const CConfigWarning &Warning : Check.m_Warnings)
				Text += (Warning.m_Line ? "  line " + std::to_string(Warning.m_Line) : std::string("  permissions")) + ": " + Warning.m_Text + "\r\n";
			return Text;
		}

		std::string fg_ProcessLines(const std::vector<CMatchingProcess> &Processes)
		{
			if (Processes.empty())
				return "No running process matches an entry.\r\n";
			size_t NameWidth = 0;
			for (const CMatchingProcess &Process : Processes)
				NameWidth = std::max(NameWidth, gf_ShowBytes(Process.m_Name).size());
			std::string Text = "Running processes that match an entry (current class -> configured class):\r\n";
			for (const CMatchingProcess &Process : Processes)
			{
				std::string Current = Process.m_CurrentClass ? gf_PriorityClassText(Process.m_CurrentClass) : std::string("(not readable)");
				Text += "  process " + fg_Pad(std::to_string(Process.m_ProcessId), 7) + fg_Pad(gf_ShowBytes(Process.m_Name), NameWidth + 2) + Current + " -> " +
					gf_PriorityClassText(Process.m_NewClass);
				if (Process.m_CurrentClass == Process.m_NewClass)
					Text += " (already)";
				Text += "\r\n";
			}
			return Text;
		}
	}

	std::string gf_PriorityClassText(NZel::uint32 PriorityClass)
	{
		if (const char *pName = gf_GetPriorityClassName(PriorityClass))
			return pName;
		char Buffer[16];
		std::snprintf(Buffer, sizeof(Buffer), "0x%X", unsigned(PriorityClass));
		return Buffer;
	}

	int gf_GetCheckExitCode(const CConfigCheck &Check)
	{
		return Check.m_Warnings.empty() ? ECheckExit_Clean : ECheckExit_Warnings;
	}

	std::string gf_FormatConfigReport(const std::string &Path, const CConfigCheck &Check, const std::vector<CMatchingProcess> &Processes)
	{
		std::string Text = gc_Title + Path + "\r\n\r\n";
		Text += fg_EntryLines(Check) + "\r\n";
		Text += fg_WarningLines(Check) + "\r\n";
		Text += fg_ProcessLines(Processes) + "\r\n";
		if (Check.m_Warnings.empty())
			Text += "Result: the configuration is clean (exit code 0).\r\n";
		else
			Text += "Result: " + fg_Count(Check.m_Warnings.size(), "warning", "warnings") + " (exit code 2).\r\n";
		return Text;
	}

	std::string gf_FormatUnreadableConfig(const std::string &Path, const std::string &Reason)
	{
		return gc_Title + Path + "\r\n\r\nThe configuration cannot be read: " + Reason + "\r\nNo process gets a priority class.\r\n\r\n" +
			"Result: unreadable (exit code 1).\r\n";
	}
}
