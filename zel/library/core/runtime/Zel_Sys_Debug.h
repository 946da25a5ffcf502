#pragma once
// Platform contract: debugger output and system error texts.
//
// gf_DebugOutput sends a text of any length to the debugger (Windows: OutputDebugStringA) in
// pieces of at most 2047 characters; an empty text sends nothing. Without a debugger the text
// is discarded. It never fails and never throws.
//
// gf_GetErrorText gives the system's text for an error code (0: the calling thread's last
// error), as the system words it, trailing line break included, cut to 255 characters. A code
// without a text gives "0x" and its eight lower-case hexadecimal digits. It never throws and
// allocates nothing.
#include "zel/library/core/general/Zel_Str.h"

namespace NZel::NSys
{
	inline constexpr int32 gc_DebugOutputPiece = 2047;

	void gf_DebugOutput(const char *pText);
	void gf_DebugOutput(const char *pText, int32 Len);

	NStr::CFStr256 gf_GetErrorText(uint32 Code);

	// Test hook: while set, every piece of debugger output is also handed to Hook (with
	// pContext); returns the previous hook. Pass null to remove it.
	using FDebugOutputHook = void (*)(const char *pPiece, void *pContext);
	FDebugOutputHook gf_SetDebugOutputHook(FDebugOutputHook Hook, void *pContext);

	namespace NPlatform
	{
		// One zero-terminated piece to the debugger.
		void gf_DebugOutputPiece(const char *pPiece);
		// The platform's last error of the calling thread.
		uint32 gf_GetLastError();
		// The system's text for Code into Out; false when it has none.
		bool gf_FormatSystemError(uint32 Code, NStr::CFStr256 &Out);
	}
}
