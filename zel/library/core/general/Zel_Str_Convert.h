#pragma once
// Whole texts for the system functions: converted to another width or kind, or with one unit
// replaced by another (path separators). A file path or registry name cut short for want of
// memory would name something else, so a text that does not fit whole is refused with
// NException::CExceptionMemory instead.
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

	// Every From unit of the text replaced by To; the kind stays.
	template <typename t_CUnit>
	TCStr<t_CUnit> gf_ReplaceUnit(TCStr<t_CUnit> Text, t_CUnit From, t_CUnit To, const char *pOutOfMemory)
	{
		int32 const Length = Text.f_GetLen();
		if (Length == 0)
			return Text;
		t_CUnit *pText = Text.f_GetWritableBuffer(Length);
		if (!pText)
			DZelThrow(NException::CExceptionMemory, pOutOfMemory);
		for (int32 i = 0; i < Length; ++i)
		{
			if (pText[i] == From)
				pText[i] = To;
		}
		Text.f_SetLengthAndTrim(Length);
		return Text;
	}
}
