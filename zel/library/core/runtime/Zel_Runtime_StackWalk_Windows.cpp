#include "zel/library/core/runtime/Zel_Runtime_StackWalk.h"

namespace NZel::NCrash
{
	bool gf_ReadMemory(umint Address, void *pDestination, uint32 Count)
	{
		// The system reads for us and reports a fault as a failure instead of raising it.
		SIZE_T Read = 0;
		return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void *>(Address), pDestination, Count, &Read) && Read == Count;
	}

#if defined(_WIN64)
	int32 gf_WalkStack(const CONTEXT &Context, umint Address, umint Low, umint High, FStackFrame fFrame, void *pContext)
	{
		CONTEXT Frame = Context;
		Frame.Rip = Address;
		int32 nFrames = 0;
		while (nFrames < gc_MaxStackFrames && Frame.Rip != 0 && Frame.Rsp >= Low && Frame.Rsp + 8 <= High)
		{
			fFrame(Frame.Rip, Frame.Rsp, pContext);
			++nFrames;

			DWORD64 const StackBefore = Frame.Rsp;
			DWORD64 ImageBase = 0;
			PRUNTIME_FUNCTION pFunction = RtlLookupFunctionEntry(Frame.Rip, &ImageBase, nullptr);
			if (pFunction)
			{
				// The unwind reads the frame's saved registers, all between the stack pointer and
				// the caller's frame; the checks above keep that inside the stack.
				PVOID pHandlerData = nullptr;
				DWORD64 EstablisherFrame = 0;
				RtlVirtualUnwind(UNW_FLAG_NHANDLER, ImageBase, Frame.Rip, pFunction, &Frame, &pHandlerData, &EstablisherFrame, nullptr);
			}
			else
			{
				// A leaf (or code without unwind data): its return address is on top.
				DWORD64 Return = 0;
				if (!gf_ReadMemory(Frame.Rsp, &Return, sizeof(Return)))
					break;
				Frame.Rip = Return;
				Frame.Rsp += 8;
			}
			if (Frame.Rsp <= StackBefore)
				break; // no progress: a damaged frame would repeat for ever
		}
		return nFrames;
	}
#else
	int32 gf_WalkStack(const CONTEXT &Context, umint Address, umint Low, umint High, FStackFrame fFrame, void *pContext)
	{
		umint FramePointer = Context.Ebp;
		int32 nFrames = 0;
		while (nFrames < gc_MaxStackFrames)
		{
			if (FramePointer >= 0xFFFFFFF8u || FramePointer + 8 > High || FramePointer < Low)
				break;
			// [frame] holds the caller's frame pointer, [frame + 4] the return address.
			uint32 Saved[2];
			if (!gf_ReadMemory(FramePointer, Saved, sizeof(Saved)))
				break;
			fFrame(Address, FramePointer, pContext);
			++nFrames;
			FramePointer = Saved[0];
			Address = Saved[1];
		}
		return nFrames;
	}
#endif
}
