#pragma once
// Files and folders of the program that users who are not administrators can change, and the
// texts that report them. The service runs the program as SYSTEM and loads its driver into the
// kernel, so whoever can change these files can run code there.
#include <string>
#include <vector>

namespace NHushvane
{
	// What a path was checked for.
	enum class EChangeScope
	{
		Change,        // every right that changes it
		MoveOrReplace, // only the rights that let a user move it away and put another in its place
	};

	struct CUnsafePath
	{
		std::string m_Path; // Windows form ("C:\Program Files\Hushvane"), UTF-8
		EChangeScope m_Scope = EChangeScope::Change;
		std::vector<std::string> m_Who; // account names, or SID strings where no name is known
		std::string m_Error;            // set when who can change it could not be read: unsafe
	};

	// The folder a running program suggests to the administrator instead.
	constexpr const char *gc_SafeProgramFolder = "C:\\Program Files\\Hushvane";

	// "C:\Tools\Hushvane can be changed by Everyone, BUILTIN\Users",
	// "C:\Tools can be moved or replaced by ...", or "who can change C:\x cannot be read (...)".
	std::string gf_DescribeUnsafePath(const CUnsafePath &Unsafe);

	// The descriptions joined with "; ".
	std::string gf_DescribeUnsafePaths(const std::vector<CUnsafePath> &Unsafe);

	// The folders above Folder (a Windows path, drive or UNC, with or without "\\?\"), the nearest
	// first and its root last ("C:\", "\\server\share\"); none for a root itself.
	std::vector<std::string> gf_GetFoldersAbove(const std::string &Folder);

	// True when Folder is a root as gf_GetFoldersAbove ends with it.
	bool gf_IsRootFolder(const std::string &Folder);

	// The refusal of "-AddService" when the installation is not safe (lines end in "\n").
	std::string gf_FormatUnsafeInstallation(const std::vector<CUnsafePath> &Unsafe);

	// The run's log line for a driver image (or its folder) that is not deployed.
	std::string gf_FormatUnsafeDriverSource(const CUnsafePath &Unsafe);

	// The run's one log line for a configuration that non-administrators can change.
	std::string gf_FormatChangeableConfig(const std::vector<CUnsafePath> &Unsafe);
}
