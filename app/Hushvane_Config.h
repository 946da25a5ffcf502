#pragma once
#include "app/Hushvane_ProcessTable.h"
#include "app/Hushvane_RunLog.h"
#include "zel/library/core/general/Zel_Str.h"
#include "zel/library/core/general/Zel_Types.h"

#include <vector>

namespace NHushvane
{
	class CWorkerContextBase;

	// Windows priority class values, the same numbers SetPriorityClass takes.
	enum : NZel::uint32
	{
		EPriorityClass_Normal = 0x20,
		EPriorityClass_Idle = 0x40,
		EPriorityClass_High = 0x80,
		EPriorityClass_Realtime = 0x100,
		EPriorityClass_BelowNormal = 0x4000,
		EPriorityClass_AboveNormal = 0x8000,
	};

	// The class a priority word names, in any letter case; every other word (or none) is
	// the normal class.
	NZel::uint32 gf_GetPriorityClass(const char *pWord);

	// True when pWord is one of the six priority words, in any letter case.
	bool gf_IsPriorityWord(const char *pWord);

	// The priority word of a class value in small letters ("high"); null for any other value.
	const char *gf_GetPriorityClassName(NZel::uint32 PriorityClass);

	// Parses configuration text into Table: whitespace-separated pairs of name and priority
	// word; "#" where a name is expected starts a comment to the end of the line. pText
	// must end with a 0 byte, and the first 0 byte ends the text. Every added entry writes
	// "Added process <name> with priority <word>" to Log; a repeated name is dropped
	// silently.
	void gf_ParseConfig(const char *pText, CProcessTable &Table, ICRunLog &Log);

	// The same over a byte range of any content: copies it behind a terminating 0 first.
	void gf_ParseConfig(const NZel::uint8 *pData, NZel::umint Size, CProcessTable &Table, ICRunLog &Log);

	// The path of the configuration: the program folder followed by "/config".
	NZel::NStr::CStr gf_GetConfigPath();

	// The bytes of the configuration at Path followed by a 0 byte. False when nothing exists at
	// the path; a path that cannot be opened or read (a folder, a locked file) throws.
	bool gf_ReadConfigFile(const NZel::NStr::CStr &Path, std::vector<char> &Text);

	// Reads the file "config" in the program folder into the context's table; a missing
	// file leaves the table empty, a file that cannot be read writes the reason to the
	// context's log and leaves the table empty.
	void gf_ReadConfig(CWorkerContextBase &Context);
}
