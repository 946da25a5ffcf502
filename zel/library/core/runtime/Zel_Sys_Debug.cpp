#include "zel/library/core/runtime/Zel_Sys_Debug.h"
#include "zel/library/core/general/Zel_Format.h"

#include <atomic>
#include <cstring>

namespace NZel::NSys
{
	namespace
	{
		std::atomic<FDebugOutputHook> g_Hook{nullptr};
		std::atomic<void *> g_pHookContext{nullptr};
	}

	FDebugOutputHook gf_SetDebugOutputHook(FDebugOutputHook Hook, void *pContext)
	{
		g_pHookContext.store(pContext, std::memory_order_relaxed);
		return g_Hook.exchange(Hook, std::memory_order_acq_rel);
	}

	void gf_DebugOutput(const char *pText)
	{
		if (pText)
			gf_DebugOutput(pText, int32(std::strlen(pText)));
	}

	void gf_DebugOutput(const char *pText, int32 Len)
	{
		if (!pText)
			return;
		char Piece[gc_DebugOutputPiece + 1];
		FDebugOutputHook Hook = g_Hook.load(std::memory_order_acquire);
		void *pContext = g_pHookContext.load(std::memory_order_relaxed);
		for (int32 Done = 0; Done < Len;)
		{
			int32 n = Len - Done < gc_DebugOutputPiece ? Len - Done : gc_DebugOutputPiece;
			std::memcpy(Piece, pText + Done, umint(n));
			Piece[n] = 0;
			NPlatform::gf_DebugOutputPiece(Piece);
			if (Hook)
				Hook(Piece, pContext);
			Done += n;
		}
	}

	NStr::CFStr256 gf_GetErrorText(uint32 Code)
	{
		if (Code == 0)
			Code = NPlatform::gf_GetLastError();
		NStr::CFStr256 Text;
		if (NPlatform::gf_FormatSystemError(Code, Text))
			return Text;
		return NStr::CFStr256::CFormat("0x{nfh,sj8,sf0}") << Code;
	}
}
