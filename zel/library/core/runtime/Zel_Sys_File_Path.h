#pragma once
// Path helpers shared by the platform implementations of the file layer.
#include "zel/library/core/general/Zel_Types.h"

#include <vector>

namespace NZel::NSys::NFile::NPrivate
{
	// The lengths of the folder prefixes that gf_CreateDirectory visits, shortest first, the
	// whole path last, for a path whose separators are all '\'. The first prefix skips what
	// cannot be created: "C:\a\b" starts at "C:\a", "\\server\share\a" at "\\server\share".
	// Empty when the path has no separator. Trailing separators are not a folder of their own.
	template <typename t_CChar>
	std::vector<umint> gf_DirectoryPrefixes(const t_CChar *pPath, umint Length)
	{
		std::vector<umint> Prefixes;
		while (Length > 0 && pPath[Length - 1] == t_CChar('\\'))
			--Length;
		umint First = 0;
		while (First < Length && pPath[First] != t_CChar('\\'))
			++First;
		if (First >= Length)
			return Prefixes;

		// Index of the separator that ends the first prefix: the nth separator of the path.
		umint nSkip = 0;
		if (Length >= 2 && pPath[1] == t_CChar(':'))
			nSkip = 1; // past the drive root
		else if (Length >= 2 && pPath[0] == t_CChar('\\') && pPath[1] == t_CChar('\\'))
			nSkip = 3; // past "\\", the server name and the share name
		umint End = First;
		for (umint i = 0; i < nSkip && End < Length; ++i)
		{
			++End;
			while (End < Length && pPath[End] != t_CChar('\\'))
				++End;
		}
		while (End < Length)
		{
			if (End > 0)
				Prefixes.push_back(End);
			++End;
			while (End < Length && pPath[End] != t_CChar('\\'))
				++End;
		}
		Prefixes.push_back(Length);
		return Prefixes;
	}
}
