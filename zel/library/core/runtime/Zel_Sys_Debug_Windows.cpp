#include "zel/library/core/runtime/Zel_Sys_Debug.h"

#include <windows.h>

namespace NZel::NSys::NPlatform
{
	void gf_DebugOutputPiece(const char *pPiece)
	{
		OutputDebugStringA(pPiece);
	}

	uint32 gf_GetLastError()
	{
		return uint32(GetLastError());
	}

	namespace
	{
		// Owns a buffer that FormatMessageW allocated.
		struct CLocalBuffer
		{
			wchar_t *f_pText = nullptr;
			CLocalBuffer() = default;
			CLocalBuffer(const CLocalBuffer &) = delete;
			CLocalBuffer &operator=(const CLocalBuffer &) = delete;
			~CLocalBuffer()
			{
				if (f_pText)
					LocalFree(f_pText);
			}
		};
	}

	bool gf_FormatSystemError(uint32 Code, NStr::CFStr256 &Out)
	{
		CLocalBuffer Buffer;
		DWORD Len = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
			nullptr, Code, 0x400, reinterpret_cast<wchar_t *>(&Buffer.f_pText), 0, nullptr);
		if (Len == 0 || !Buffer.f_pText)
			return false;
		// The low byte of each unit: exact for U+0000 to U+00FF.
		char Narrow[256];
		int32 n = 0;
		for (DWORD i = 0; i < Len && n < 255; ++i)
			Narrow[n++] = char(Buffer.f_pText[i] & 0xFF);
		int32 Pos = 0;
		Out.f_Clear();
		Out.f_AppendText(Pos, NStr::gc_KindLatin1, Narrow, n);
		return true;
	}
}
