#include "app/Hushvane_ConfigScan.h"

namespace NHushvane
{
	CConfigScanner::CConfigScanner(const char *pText)
		: fp_pStart(pText)
		, fp_p(pText)
	{
	}

	void CConfigScanner::fp_Step()
	{
		// A line feed right after a carriage return ends the same line.
		if (*fp_p == '\r' || (*fp_p == '\n' && (fp_p == fp_pStart || fp_p[-1] != '\r')))
			++fp_Line;
		++fp_p;
	}

	void CConfigScanner::fp_SkipSpace()
	{
		while (fs_IsSpace(*fp_p))
			fp_Step();
	}

	const char *CConfigScanner::fp_SkipWord()
	{
		while (*fp_p && !fs_IsSpace(*fp_p))
			++fp_p;
		return fp_p;
	}

	bool CConfigScanner::f_Next(CConfigPair &Pair)
	{
		for (;;)
		{
			fp_SkipSpace();
			if (!*fp_p)
				return false;
			if (*fp_p != '#')
				break;
			while (*fp_p && *fp_p != '\r' && *fp_p != '\n')
				++fp_p;
			if (*fp_p == '\r')
				fp_Step();
			if (*fp_p == '\n')
				fp_Step();
		}
		Pair.m_pName = fp_p;
		Pair.m_NameLine = fp_Line;
		Pair.m_NameLength = NZel::int32(fp_SkipWord() - Pair.m_pName);
		fp_SkipSpace();
		Pair.m_pWord = fp_p;
		Pair.m_WordLine = fp_Line;
		Pair.m_WordLength = NZel::int32(fp_SkipWord() - Pair.m_pWord);
		return true;
	}
}
