#pragma once
// The walk of a crashed thread's stack, from the exception's context up to the stack end.
//
// The first frame is always the exception address itself. The 32-bit build then follows the
// chain of saved frame pointers (the program keeps frame pointers for this). The 64-bit build
// unwinds with each function's unwind data (RtlLookupFunctionEntry / RtlVirtualUnwind); a
// frame without unwind data is a leaf, whose return address is the word at the stack pointer
// and whose caller's stack pointer is 8 bytes higher. That rule holds for the first frame
// whatever its address (0 after a call through a null pointer, an address in no module after
// a call through a stale one), and for later frames inside a module; a later address outside
// every module is no return address and ends the walk.
//
// Every read stays inside [Low, High): before each unwind step the part of the stack the step
// will read (the frame the unwind data describes, up to and including its return address)
// must lie there, or the walk ends. It also ends at 1024 frames, when the stack pointer does
// not move up, or when memory cannot be read: a damaged stack ends the trace, never the
// reporter.
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

#if defined(_WIN64)
	// The part of the stack [ReachLow, ReachHigh) that unwinding the frame of Context (whose
	// function pFunction lies in the image at ImageBase) reads, from the function's unwind
	// data: saved registers and the return address. False for unwind data this walk does not
	// know, which ends the walk.
	bool gf_GetUnwindReach(const CONTEXT &Context, DWORD64 ImageBase, const RUNTIME_FUNCTION &Function, umint &ReachLow, umint &ReachHigh);
#endif
}
