#pragma once
// The register sections of a crash log, from the processor context of the exception. Each
// section is written only when the context holds it. The 32-bit build writes the x86 registers
// with 8 hex digits; the 64-bit build writes the x64 registers with 16 digits for the general
// ones, in the same section order and style. Like the other crash texts, nothing here
// allocates from the heap (each line is formatted on the stack).
//
// Windows only: include from Windows sources.
#include "zel/library/core/general/Zel_CrashText.h"

#include <windows.h>

namespace NZel::NCrash
{
	void gf_AppendRegisters(CCrashText &Text, const CONTEXT &Context);
}
