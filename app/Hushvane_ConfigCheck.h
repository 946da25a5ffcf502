#pragma once
// The administrator's check of a configuration: what the worker would make of it, and the
// mistakes that make it do something other than what was meant. The table comes from the
// worker's own parser; the warnings come from a walk over the same pairs.
#include "app/Hushvane_UnsafePaths.h"
#include "zel/library/core/general/Zel_Types.h"

#include <string>
#include <vector>

namespace NHushvane
{
	// One entry of the table the worker would build, in table order.
	struct CConfigCheckEntry
	{
		std::string m_Name;  // as written
		std::string m_Word;  // the priority word as written; empty when there was none
		NZel::uint32 m_Class = 0;
		NZel::uint32 m_Line = 0;
	};

	enum class EConfigWarning
	{
		ByteOrderMark,    // the file begins with a UTF-8 or UTF-16 byte-order mark
		NonAscii,         // a name holds bytes of 128 or more
		NoExtension,      // a name without an extension never matches a process
		NameIsPriority,   // a priority word where a name belongs: the pairs are shifted
		WordIsName,       // a name ending in ".exe" where a priority word belongs: shifted
		UnknownWord,      // not one of the six words: normal is used
		Duplicate,        // a name listed before: the first entry wins
		MissingWord,      // the text ends after a name
		ZeroByte,         // a 0 byte ends the text before the file does
		Changeable,       // users who are not administrators can change the file (line 0: the whole file)
	};

	struct CConfigWarning
	{
		EConfigWarning m_Kind;
		NZel::uint32 m_Line = 0;
		std::string m_Text;
	};

	struct CConfigCheck
	{
		std::vector<CConfigCheckEntry> m_Entries;
		std::vector<CConfigWarning> m_Warnings; // in line order
	};

	// Text as a report shows it: every byte outside printable 7-bit ASCII, and the backslash,
	// written as \xNN, so that a stray byte can be seen and the report stays plain ASCII.
	std::string gf_ShowBytes(const std::string &Text);

	// Checks Size bytes of configuration, of any content.
	CConfigCheck gf_CheckConfig(const NZel::uint8 *pData, NZel::umint Size);

	// Puts the warning that users who are not administrators can change the configuration (the
	// file or its folder) first among the warnings; nothing when Unsafe is empty.
	void gf_AddChangeableConfigWarning(CConfigCheck &Check, const std::vector<CUnsafePath> &Unsafe);
}
