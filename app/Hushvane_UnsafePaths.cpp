#include "app/Hushvane_UnsafePaths.h"

namespace NHushvane
{
	namespace
	{
		bool fg_StartsWith(const std::string &Text, const char *pPrefix)
		{
			return Text.rfind(pPrefix, 0) == 0;
		}

		// The position after the next "\" from From, or the end.
		size_t fg_AfterPart(const std::string &Path, size_t From)
		{
			size_t Slash = Path.find('\\', From);
			return Slash == std::string::npos ? Path.size() : Slash + 1;
		}

		// The length of the path's root with its separator: "C:\", "\\server\share\",
		// "\\?\C:\", "\\?\UNC\server\share\", or "\" alone; 0 for a relative path.
		size_t fg_RootLength(const std::string &Path)
		{
			size_t Start = 0;
			bool bShare = false;
			if (fg_StartsWith(Path, "\\\\?\\UNC\\"))
			{
				Start = 8;
				bShare = true;
			}
			else if (fg_StartsWith(Path, "\\\\?\\"))
				Start = 4;
			else if (fg_StartsWith(Path, "\\\\"))
			{
				Start = 2;
				bShare = true;
			}
			if (bShare)
				return fg_AfterPart(Path, fg_AfterPart(Path, Start));
			if (Path.size() >= Start + 2 && Path[Start + 1] == ':')
				return Path.size() >= Start + 3 && Path[Start + 2] == '\\' ? Start + 3 : Start + 2;
			return Path.size() > Start && Path[Start] == '\\' ? Start + 1 : Start;
		}

		// The path without separators after its last part (a root keeps its own).
		std::string fg_TrimSeparators(std::string Path, size_t RootLength)
		{
			while (Path.size() > RootLength && Path.back() == '\\')
				Path.pop_back();
			return Path;
		}

		std::string fg_Join(const std::vector<std::string> &Parts, const char *pSeparator)
		{
			std::string Text;
			for (const std::string &Part : Parts)
			{
				if (!Text.empty())
					Text += pSeparator;
				Text += Part;
			}
			return Text;
		}
	}

	std::string gf_DescribeUnsafePath(const CUnsafePath &Unsafe)
	{
		if (!Unsafe.m_Error.empty())
			return "who can change " + Unsafe.m_Path + " cannot be read (" + Unsafe.m_Error + ")";
		const char *pVerb = Unsafe.m_Scope == EChangeScope::MoveOrReplace ? " can be moved or replaced by " : " can be changed by ";
		return Unsafe.m_Path + pVerb + fg_Join(Unsafe.m_Who, ", ");
	}

	std::string gf_DescribeUnsafePaths(const std::vector<CUnsafePath> &Unsafe)
	{
		std::vector<std::string> Descriptions;
		for (const CUnsafePath &Path : Unsafe)
			Descriptions.push_back(gf_DescribeUnsafePath(Path));
		return fg_Join(Descriptions, "; ");
	}

	std::vector<std::string> gf_GetFoldersAbove(const std::string &Folder)
	{
		size_t RootLength = fg_RootLength(Folder);
		std::string Path = fg_TrimSeparators(Folder, RootLength);
		std::vector<std::string> Above;
		while (Path.size() > RootLength)
		{
			size_t Slash = Path.rfind('\\');
			if (Slash == std::string::npos || Slash < RootLength)
			{
				if (RootLength == 0)
					break; // a relative path: nothing above what it names
				Path.resize(RootLength);
			}
			else
				Path = fg_TrimSeparators(Path.substr(0, Slash), RootLength);
			Above.push_back(Path);
		}
		return Above;
	}

	bool gf_IsRootFolder(const std::string &Folder)
	{
		size_t RootLength = fg_RootLength(Folder);
		return RootLength > 0 && fg_TrimSeparators(Folder, RootLength).size() <= RootLength;
	}

	std::string gf_FormatUnsafeInstallation(const std::vector<CUnsafePath> &Unsafe)
	{
		std::string Text = "Failed to add service: users who are not administrators can change what the service would run as SYSTEM.\n\n";
		for (const CUnsafePath &Path : Unsafe)
			Text += gf_DescribeUnsafePath(Path) + "\n";
		Text += std::string("\nPut the program in a folder only administrators can change, such as ") + gc_SafeProgramFolder +
			", and run -AddService from there.";
		return Text;
	}

	std::string gf_FormatUnsafeDriverSource(const CUnsafePath &Unsafe)
	{
		return "Driver not deployed from an unsafe place: " + gf_DescribeUnsafePath(Unsafe) + "\r\n";
	}

	std::string gf_FormatChangeableConfig(const std::vector<CUnsafePath> &Unsafe)
	{
		return "Warning: users who are not administrators can change the configuration: " + gf_DescribeUnsafePaths(Unsafe) + "\r\n";
	}
}
