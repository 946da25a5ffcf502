#pragma once
// A whole text as a string of another width or kind, for the system functions: a file path or
// registry name cut short for want of memory would name something else, so a text that does
// not fit whole is refused with NException::CExceptionMemory instead.
#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_Str.h"

namespace NZel::NStr
{
	// Count units of text of that kind; pOutOfMemory is the exception's message.
	template <typename t_CTarget, typename t_CSource>
	TCStr<t_CTarget> gf_ConvertWhole(uint32 Kind, const t_CSource *pUnits, int32 Count, const char *pOutOfMemory)
	{
		TCStr<t_CTarget> Result;
		int32 Pos = 0;
		if (!Result.f_AppendText(Pos, Kind, pUnits, Count))
			DZelThrow(NException::CExceptionMemory, pOutOfMemory);
		Result.f_SetLengthAndTrim(Pos);
		return Result;
	}
}
