#include "zel/library/core/runtime/Zel_Sys_Debug.h"

#include <cerrno>
#include <cstring>

namespace NZel::NSys::NPlatform
{
	void gf_DebugOutputPiece(const char *pPiece)
	{
		// No debugger channel on this platform: like OutputDebugStringA without a debugger.
		(void)pPiece;
	}

	uint32 gf_GetLastError()
	{
		return uint32(errno);
	}

	bool gf_FormatSystemError(uint32 Code, NStr::CFStr256 &Out)
	{
		if (Code == 0 || Code > 4095)
			return false;
		char Buffer[256];
		// The GNU strerror_r returns its text (maybe not in Buffer); it names unknown codes
		// "Unknown error N", which we treat as no text.
		const char *pText = strerror_r(int(Code), Buffer, sizeof(Buffer));
		if (!pText || std::strncmp(pText, "Unknown error", 13) == 0)
			return false;
		Out.f_Clear();
		int32 Pos = 0;
		Out.f_AppendText(Pos, NStr::gc_KindLatin1, pText, int32(std::strlen(pText)));
		Out.f_AppendText(Pos, NStr::gc_KindLatin1, "\r\n", 2);
		return true;
	}
}
