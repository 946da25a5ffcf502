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
	namespace
	{
		// The operations of x64 unwind codes (the image's UNWIND_INFO).
		enum EUnwindOp : uint8
		{
			EUnwindOp_PushNonVolatile = 0,
			EUnwindOp_AllocLarge = 1,
			EUnwindOp_AllocSmall = 2,
			EUnwindOp_SetFrameRegister = 3,
			EUnwindOp_SaveNonVolatile = 4,
			EUnwindOp_SaveNonVolatileFar = 5,
			EUnwindOp_Epilog = 6, // version 2: where epilogs lie; nothing to undo
			EUnwindOp_SaveXmm128 = 8,
			EUnwindOp_SaveXmm128Far = 9,
			EUnwindOp_PushMachineFrame = 10,
		};
		constexpr uint8 gc_UnwindChained = 4; // UNW_FLAG_CHAININFO
		// More chained entries than any compiler writes: a loop in damaged data.
		constexpr int32 gc_MaxChainedEntries = 32;

		// The bytes read so far, grown by each read.
		struct CReach
		{
			umint m_Low = ~umint(0);
			umint m_High = 0;

			bool f_Add(umint Address, umint Size)
			{
				if (Address + Size < Address)
					return false;
				m_Low = Address < m_Low ? Address : m_Low;
				m_High = Address + Size > m_High ? Address + Size : m_High;
				return true;
			}
		};

		// Slots taken by one unwind code (each slot 2 bytes).
		int32 fg_CodeSlots(uint8 Op, uint8 Info)
		{
			switch (Op)
			{
			case EUnwindOp_AllocLarge:
				return Info ? 3 : 2;
			case EUnwindOp_SaveNonVolatile:
			case EUnwindOp_SaveXmm128:
			case EUnwindOp_Epilog:
				return 2;
			case EUnwindOp_SaveNonVolatileFar:
			case EUnwindOp_SaveXmm128Far:
				return 3;
			default:
				return 1;
			}
		}

		// Whether Address lies in a loaded image (a module), where return addresses lie.
		bool fg_IsInModule(umint Address)
		{
			MEMORY_BASIC_INFORMATION Region{};
			return VirtualQuery(reinterpret_cast<const void *>(Address), &Region, sizeof(Region)) && Region.State == MEM_COMMIT &&
				Region.Type == MEM_IMAGE;
		}

		// One frame up from Frame, reading only inside [Low, High); false when the walk ends.
		bool fg_Unwind(CONTEXT &Frame, umint Low, umint High)
		{
			DWORD64 const StackBefore = Frame.Rsp;
			DWORD64 ImageBase = 0;
			PRUNTIME_FUNCTION pFunction = RtlLookupFunctionEntry(Frame.Rip, &ImageBase, nullptr);
			if (pFunction)
			{
				umint ReachLow = 0;
				umint ReachHigh = 0;
				if (!gf_GetUnwindReach(Frame, ImageBase, *pFunction, ReachLow, ReachHigh) || ReachLow < Low || ReachHigh > High)
					return false;
				PVOID pHandlerData = nullptr;
				DWORD64 EstablisherFrame = 0;
				RtlVirtualUnwind(UNW_FLAG_NHANDLER, ImageBase, Frame.Rip, pFunction, &Frame, &pHandlerData, &EstablisherFrame, nullptr);
			}
			else
			{
				// A leaf (or code without unwind data): its return address is on top.
				DWORD64 Return = 0;
				if (Frame.Rsp < Low || Frame.Rsp > High - sizeof(Return) || !gf_ReadMemory(Frame.Rsp, &Return, sizeof(Return)))
					return false;
				Frame.Rip = Return;
				Frame.Rsp += sizeof(Return);
			}
			return Frame.Rsp > StackBefore; // no progress: a damaged frame would repeat for ever
		}
	}

	bool gf_GetUnwindReach(const CONTEXT &Context, DWORD64 ImageBase, const RUNTIME_FUNCTION &Function, umint &ReachLow, umint &ReachHigh)
	{
		// The unwind runs the function's prolog backwards: pushes and allocations move the stack
		// pointer up, saved registers are read at their offsets from the frame base, and the
		// return address is read last. Inside the prolog only the codes of the instructions
		// already run count. In an epilog the unwind pops what is left of the same frame, which
		// the whole frame bounds (more than it reads, never less).
		const DWORD64 *pRegisters = &Context.Rax; // Rax .. R15 in the order unwind codes number them
		uint32 Restored = 0;                       // registers read back from the stack so far
		umint Rsp = Context.Rsp;
		// The base that saves are relative to: the stack pointer the unwind starts from, or the
		// frame register less its offset in a function that has one.
		umint FrameBase = Rsp;
		CReach Reach;
		bool bMachineFrame = false;
		const RUNTIME_FUNCTION *pFunction = &Function;
		for (int32 iEntry = 0;; ++iEntry)
		{
			if (iEntry >= gc_MaxChainedEntries)
				return false;
			const uint8 *pInfo = reinterpret_cast<const uint8 *>(ImageBase + pFunction->UnwindData);
			uint8 const Version = pInfo[0] & 7;
			uint8 const Flags = pInfo[0] >> 3;
			uint8 const PrologSize = pInfo[1];
			int32 const nSlots = pInfo[2];
			uint8 const FrameRegister = pInfo[3] & 15;
			uint8 const FrameOffset = pInfo[3] >> 4;
			if (Version != 1 && Version != 2)
				return false;
			const uint8 *pCodes = pInfo + 4;
			auto fSlot16 = [&](int32 iSlot) { return umint(pCodes[iSlot * 2] | pCodes[iSlot * 2 + 1] << 8); };
			auto fSlot32 = [&](int32 iSlot) { return fSlot16(iSlot) | fSlot16(iSlot + 1) << 16; };

			if (FrameRegister)
			{
				if (Restored & (1u << FrameRegister))
					return false; // its value would come from the stack: not known before the unwind
				FrameBase = umint(pRegisters[FrameRegister]) - umint(FrameOffset) * 16;
			}
			// Inside the prolog only the codes of the instructions already run count; chained
			// entries continue a frame whose own prolog has run in full.
			DWORD64 const Offset = Context.Rip - ImageBase - pFunction->BeginAddress;
			bool const bInProlog = iEntry == 0 && Context.Rip >= ImageBase + pFunction->BeginAddress && Offset < PrologSize;

			for (int32 iSlot = 0; iSlot < nSlots;)
			{
				uint8 const CodeOffset = pCodes[iSlot * 2];
				uint8 const Op = pCodes[iSlot * 2 + 1] & 15;
				uint8 const Info = pCodes[iSlot * 2 + 1] >> 4;
				int32 const nCodeSlots = fg_CodeSlots(Op, Info);
				if (iSlot + nCodeSlots > nSlots)
					return false;
				if (!bInProlog || CodeOffset <= Offset)
				{
					switch (Op)
					{
					case EUnwindOp_PushNonVolatile:
						if (!Reach.f_Add(Rsp, 8))
							return false;
						Restored |= 1u << Info;
						Rsp += 8;
						break;
					case EUnwindOp_AllocLarge:
						Rsp += Info ? fSlot32(iSlot + 1) : fSlot16(iSlot + 1) * 8;
						break;
					case EUnwindOp_AllocSmall:
						Rsp += umint(Info) * 8 + 8;
						break;
					case EUnwindOp_SetFrameRegister:
						if (!FrameRegister)
							return false;
						Rsp = FrameBase;
						break;
					case EUnwindOp_SaveNonVolatile:
					case EUnwindOp_SaveNonVolatileFar:
						if (!Reach.f_Add(FrameBase + (Op == EUnwindOp_SaveNonVolatile ? fSlot16(iSlot + 1) * 8 : fSlot32(iSlot + 1)), 8))
							return false;
						Restored |= 1u << Info;
						break;
					case EUnwindOp_SaveXmm128:
					case EUnwindOp_SaveXmm128Far:
						if (!Reach.f_Add(FrameBase + (Op == EUnwindOp_SaveXmm128 ? fSlot16(iSlot + 1) * 16 : fSlot32(iSlot + 1)), 16))
							return false;
						break;
					case EUnwindOp_PushMachineFrame:
						// Return address at +0 and stack pointer at +24, after an error code when
						// Info says so; the stack pointer then comes from the stack.
						if (Info)
							Rsp += 8;
						if (!Reach.f_Add(Rsp, 40))
							return false;
						bMachineFrame = true;
						break;
					case EUnwindOp_Epilog:
						if (Version != 2)
							return false;
						break;
					default:
						return false;
					}
				}
				iSlot += nCodeSlots;
			}
			if (!(Flags & gc_UnwindChained))
				break;
			if (bMachineFrame)
				return false;
			pFunction = reinterpret_cast<const RUNTIME_FUNCTION *>(pCodes + ((nSlots + 1) & ~1) * 2);
		}
		if (!bMachineFrame && !Reach.f_Add(Rsp, 8))
			return false;
		ReachLow = Reach.m_Low < Context.Rsp ? Reach.m_Low : umint(Context.Rsp);
		ReachHigh = Reach.m_High;
		return true;
	}

	int32 gf_WalkStack(const CONTEXT &Context, umint Address, umint Low, umint High, FStackFrame fFrame, void *pContext)
	{
		CONTEXT Frame = Context;
		Frame.Rip = Address;
		int32 nFrames = 0;
		for (;;)
		{
			fFrame(Frame.Rip, Frame.Rsp, pContext);
			if (++nFrames >= gc_MaxStackFrames || !fg_Unwind(Frame, Low, High) || !fg_IsInModule(Frame.Rip))
				break;
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
