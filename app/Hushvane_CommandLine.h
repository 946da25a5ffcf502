#pragma once
#include "zel/library/core/general/Zel_Types.h"

namespace NHushvane
{
	// Zero-based offset of the first occurrence of pPattern in pText, comparing bytes exactly;
	// -1 when there is none or when either text is empty (or null).
	NZel::int32 gf_FindText(const char *pText, const char *pPattern);
}
