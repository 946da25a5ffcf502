#include "app/Hushvane_CommandLine.h"

namespace NHushvane
{
	NZel::int32 gf_FindText(const char *pText, const char *pPattern)
	{
		if (!pText || !*pText || !pPattern || !*pPattern)
			return -1;
		for (const char *pStart = pText; *pStart; ++pStart)
		{
			const char *pT = pStart;
			const char *pP = pPattern;
			while (*pP && *pT == *pP)
			{
				++pT;
				++pP;
			}
			if (!*pP)
				return NZel::int32(pStart - pText);
			if (!*pT)
				return -1; // the text ended inside the pattern: no later start can match
		}
		return -1;
	}
}
