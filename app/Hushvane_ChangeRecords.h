#pragma once
#include "zel/library/core/general/Zel_Types.h"

namespace NHushvane
{
	// Whether a buffer of folder change records names the file pName (ASCII, compared without
	// regard to case, as Windows compares file names). The records are laid out as Windows'
	// FILE_NOTIFY_INFORMATION: next-entry offset, action and name length in bytes (each a
	// 32-bit number), then the name in UTF-16; an offset of 0 ends the list. A record that
	// would reach past the buffer ends the walk.
	bool gf_ChangeRecordsName(const NZel::uint8 *pRecords, NZel::umint Size, const char *pName);
}
