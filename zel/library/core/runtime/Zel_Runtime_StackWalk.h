#pragma once
// The walk of a crashed thread's stack, from the exception's context up to the stack end.
//
// The 32-bit build follows the chain of saved frame pointers (the program keeps frame
// pointers for this); the 64-bit build unwinds with the unwind data of each function
// (RtlLookupFunctionEntry / RtlVirtualUnwind), taking a function without unwind data as a leaf
// whose return address is at the stack pointer. The walk ends at 1024 frames, when a frame
// lies outside [Low, High), or when memory cannot be read: a damaged stack ends the trace,
// never the reporter.
//
// Windows only: include from Windows sources.
#include "zel/library/core/general/Zel_Types.h"

#include <windows.h>

namespace NZel::NCrash
{
	inline constexpr int32 gc_MaxStackFrames = 1024;

	// Reads Count bytes at Address of this process without faulting; false when any of them
	// cannot be read.
	bool gf_ReadMemory(umint Address, void *pDestination, uint32 Count);

	// Called for each frame: the code address and its frame (the frame pointer on x86, the
	// stack pointer on x64).
	using FStackFrame = void (*)(umint Address, umint Frame, void *pContext);

	// Walks from Context (whose code address is Address); returns the frames reported.
	int32 gf_WalkStack(const CONTEXT &Context, umint Address, umint Low, umint High, FStackFrame fFrame, void *pContext);
}
