#pragma once
#include "zel/library/core/general/Zel_Types.h"

namespace NHushvane
{
	// The one ordering of process names and priority words. Letters A-Z and the Latin-1 range
	// 192-223 fold to their small forms; every byte compares unsigned. Only the sign of the
	// result carries meaning: negative when a sorts first, 0 when both are the same key.
	// Null pointers count as empty texts.
	NZel::int16 gf_CompareNoCase(const char *pA, const char *pB);
}
