#include "app/Hushvane_Compare.h"

namespace NHushvane
{
	namespace
	{
		inline NZel::int32 fg_Fold(unsigned char Byte)
		{
			if ((Byte >= 65 && Byte <= 90) || (Byte >= 192 && Byte <= 223))
				return NZel::int32(Byte) + 32;
			return Byte;
		}
	}

	NZel::int16 gf_CompareNoCase(const char *pA, const char *pB)
	{
		const unsigned char *pTextA = reinterpret_cast<const unsigned char *>(pA ? pA : "");
		const unsigned char *pTextB = reinterpret_cast<const unsigned char *>(pB ? pB : "");
		for (;; ++pTextA, ++pTextB)
		{
			if (!*pTextA || !*pTextB)
			{
				if (*pTextB)
					return -1;
				if (*pTextA)
					return 1;
				return 0;
			}
			NZel::int32 FoldedA = fg_Fold(*pTextA);
			NZel::int32 FoldedB = fg_Fold(*pTextB);
			if (FoldedA != FoldedB)
				return NZel::int16(2 * (FoldedA - FoldedB));
		}
	}
}
