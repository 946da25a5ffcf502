#include "zel/library/core/runtime/Zel_Runtime_CrashRegisters.h"

#include "zel/library/core/general/Zel_CrashLog.h"
#include "zel/library/core/general/Zel_Format.h"

#include <cstring>

namespace NZel::NCrash
{
	namespace
	{
		// One line at a time, each with few enough arguments for the format engine's own arena.
		using CLine = CCrashPiece::CFormat;

		void fg_Append(CCrashText &Text, NStr::TCStrAggregate<NStr::CStrTraits_CFStr256>::CFormat &Line)
		{
			gf_Append(Text, CCrashPiece(Line));
		}

		bool fg_Has(const CONTEXT &Context, DWORD Flag)
		{
			return (Context.ContextFlags & Flag) == Flag;
		}

		// An x87 register of 10 bytes: its sign-and-exponent word, then its 64-bit mantissa.
		void fg_AppendX87(CCrashText &Text, const uint8 *pRegisters, umint Stride)
		{
			for (int32 i = 0; i < 8; i += 2)
			{
				uint64 Mantissa[2];
				uint16 Exponent[2];
				for (int32 j = 0; j < 2; ++j)
				{
					std::memcpy(&Mantissa[j], pRegisters + (i + j) * Stride, 8);
					std::memcpy(&Exponent[j], pRegisters + (i + j) * Stride + 8, 2);
				}
				CLine Line("St{}=0x{nfh,sf0,sj4}{nfh,sf0,sj16} St{}=0x{nfh,sf0,sj4}{nfh,sf0,sj16}\n");
				fg_Append(Text, Line << i << uint32(Exponent[0]) << Mantissa[0] << i + 1 << uint32(Exponent[1]) << Mantissa[1]);
			}
			Text.f_Append("\n");
		}

		// MXCSR, then each 128-bit register high half first.
		void fg_AppendSse(CCrashText &Text, uint32 Mxcsr, const M128A *pXmm, int32 nXmm)
		{
			CLine Header("SSE registers:\nMXCSR=0x{nfh,sf0,sj8}\n");
			fg_Append(Text, Header << Mxcsr);
			for (int32 i = 0; i < nXmm; ++i)
			{
				CLine Line("Xmm{}=0x{nfh,sf0,sj16}{nfh,sf0,sj16}");
				fg_Append(Text, Line << i << uint64(pXmm[i].High) << pXmm[i].Low);
				Text.f_Append(i % 2 == 0 ? " " : "\n");
			}
			Text.f_Append("\n");
		}
	}

#if defined(_WIN64)
	void gf_AppendRegisters(CCrashText &Text, const CONTEXT &C)
	{
		if (fg_Has(C, CONTEXT_INTEGER))
		{
			Text.f_Append("Integer registers:\n");
			CLine Line1("Rax=0x{nfh,sf0,sj16} Rbx=0x{nfh,sf0,sj16} Rcx=0x{nfh,sf0,sj16}\n");
			fg_Append(Text, Line1 << C.Rax << C.Rbx << C.Rcx);
			CLine Line2("Rdx=0x{nfh,sf0,sj16} Rsi=0x{nfh,sf0,sj16} Rdi=0x{nfh,sf0,sj16}\n");
			fg_Append(Text, Line2 << C.Rdx << C.Rsi << C.Rdi);
			CLine Line3("R8=0x{nfh,sf0,sj16} R9=0x{nfh,sf0,sj16} R10=0x{nfh,sf0,sj16}\n");
			fg_Append(Text, Line3 << C.R8 << C.R9 << C.R10);
			CLine Line4("R11=0x{nfh,sf0,sj16} R12=0x{nfh,sf0,sj16} R13=0x{nfh,sf0,sj16}\n");
			fg_Append(Text, Line4 << C.R11 << C.R12 << C.R13);
			CLine Line5("R14=0x{nfh,sf0,sj16} R15=0x{nfh,sf0,sj16}\n\n");
			fg_Append(Text, Line5 << C.R14 << C.R15);
		}
		if (fg_Has(C, CONTEXT_CONTROL))
		{
			CLine Line("Control registers:\n"
					   "Rip=0x{nfh,sf0,sj16} Rbp=0x{nfh,sf0,sj16} Rsp=0x{nfh,sf0,sj16}\n"
					   "SegCs=0x{nfh,sf0,sj8} SegSs=0x{nfh,sf0,sj8} EFlags=0x{nfh,sf0,sj8}\n\n");
			fg_Append(Text, Line << C.Rip << C.Rbp << C.Rsp << uint32(C.SegCs) << uint32(C.SegSs) << uint32(C.EFlags));
		}
		if (fg_Has(C, CONTEXT_DEBUG_REGISTERS))
		{
			CLine Line("Debug registers:\n"
					   "Dr0=0x{nfh,sf0,sj16} Dr1=0x{nfh,sf0,sj16} Dr2=0x{nfh,sf0,sj16}\n"
					   "Dr3=0x{nfh,sf0,sj16} Dr6=0x{nfh,sf0,sj16} Dr7=0x{nfh,sf0,sj16}\n\n");
			fg_Append(Text, Line << C.Dr0 << C.Dr1 << C.Dr2 << C.Dr3 << C.Dr6 << C.Dr7);
		}
		if (fg_Has(C, CONTEXT_SEGMENTS))
		{
			CLine Line("Segment registers:\n"
					   "SegGs=0x{nfh,sf0,sj8} SegFs=0x{nfh,sf0,sj8}\n"
					   "SegEs=0x{nfh,sf0,sj8} SegDs=0x{nfh,sf0,sj8}\n\n");
			fg_Append(Text, Line << uint32(C.SegGs) << uint32(C.SegFs) << uint32(C.SegEs) << uint32(C.SegDs));
		}
		if (fg_Has(C, CONTEXT_FLOATING_POINT))
		{
			// The x64 context keeps the x87 and SSE state in one save area.
			const XMM_SAVE_AREA32 &F = C.FltSave;
			CLine Line("Floating point registers:\n"
					   "ControlWord=0x{nfh,sf0,sj4} StatusWord=0x{nfh,sf0,sj4} TagWord=0x{nfh,sf0,sj4}\n"
					   "ErrorOffset=0x{nfh,sf0,sj8} ErrorSelector=0x{nfh,sf0,sj8} DataOffset=0x{nfh,sf0,sj8}\n"
					   "DataSelector=0x{nfh,sf0,sj8}\n");
			fg_Append(Text, Line << uint32(F.ControlWord) << uint32(F.StatusWord) << uint32(F.TagWord) << uint32(F.ErrorOffset)
				<< uint32(F.ErrorSelector) << uint32(F.DataOffset) << uint32(F.DataSelector));
			fg_AppendX87(Text, reinterpret_cast<const uint8 *>(F.FloatRegisters), sizeof(M128A));
			fg_AppendSse(Text, C.MxCsr, F.XmmRegisters, 16);
		}
	}
#else
	void gf_AppendRegisters(CCrashText &Text, const CONTEXT &C)
	{
		if (fg_Has(C, CONTEXT_INTEGER))
		{
			CLine Line("Integer registers:\nEdi=0x{nfh,sf0,sj8} Esi=0x{nfh,sf0,sj8} Eax=0x{nfh,sf0,sj8}\n"
					   "Ebx=0x{nfh,sf0,sj8} Ecx=0x{nfh,sf0,sj8} Edx=0x{nfh,sf0,sj8}\n\n");
			fg_Append(Text, Line << uint32(C.Edi) << uint32(C.Esi) << uint32(C.Eax) << uint32(C.Ebx) << uint32(C.Ecx) << uint32(C.Edx));
		}
		if (fg_Has(C, CONTEXT_CONTROL))
		{
			CLine Line("Control registers:\nEip=0x{nfh,sf0,sj8} Ebp=0x{nfh,sf0,sj8} Esp=0x{nfh,sf0,sj8}\n"
					   "SegCs=0x{nfh,sf0,sj8} SegSs=0x{nfh,sf0,sj8} EFlags=0x{nfh,sf0,sj8}\n\n");
			fg_Append(Text, Line << uint32(C.Eip) << uint32(C.Ebp) << uint32(C.Esp) << uint32(C.SegCs) << uint32(C.SegSs) << uint32(C.EFlags));
		}
		if (fg_Has(C, CONTEXT_DEBUG_REGISTERS))
		{
			CLine Line("Debug registers:\nDr0=0x{nfh,sf0,sj8} Dr1=0x{nfh,sf0,sj8} Dr2=0x{nfh,sf0,sj8}\n"
					   "Dr3=0x{nfh,sf0,sj8} Dr6=0x{nfh,sf0,sj8} Dr7=0x{nfh,sf0,sj8}\n\n");
			fg_Append(Text, Line << uint32(C.Dr0) << uint32(C.Dr1) << uint32(C.Dr2) << uint32(C.Dr3) << uint32(C.Dr6) << uint32(C.Dr7));
		}
		if (fg_Has(C, CONTEXT_SEGMENTS))
		{
			CLine Line("Segment registers:\nSegGs=0x{nfh,sf0,sj8} SegFs=0x{nfh,sf0,sj8}\n"
					   "SegEs=0x{nfh,sf0,sj8} SegDs=0x{nfh,sf0,sj8}\n\n");
			fg_Append(Text, Line << uint32(C.SegGs) << uint32(C.SegFs) << uint32(C.SegEs) << uint32(C.SegDs));
		}
		if (fg_Has(C, CONTEXT_FLOATING_POINT))
		{
			const FLOATING_SAVE_AREA &F = C.FloatSave;
			CLine Line("Floating point registers:\n"
					   "ControlWord=0x{nfh,sf0,sj4} StatusWord=0x{nfh,sf0,sj4} TagWord=0x{nfh,sf0,sj4}\n"
					   "ErrorOffset=0x{nfh,sf0,sj8} ErrorSelector=0x{nfh,sf0,sj8} DataOffset=0x{nfh,sf0,sj8}\n"
					   "DataSelector=0x{nfh,sf0,sj8} Cr0NpxState=0x{nfh,sf0,sj8}\n");
			fg_Append(Text, Line << uint32(F.ControlWord) << uint32(F.StatusWord) << uint32(F.TagWord) << uint32(F.ErrorOffset)
				<< uint32(F.ErrorSelector) << uint32(F.DataOffset) << uint32(F.DataSelector) << uint32(F.Cr0NpxState));
			fg_AppendX87(Text, F.RegisterArea, 10);
		}
		if (fg_Has(C, CONTEXT_EXTENDED_REGISTERS))
		{
			// The extended area is an FXSAVE image: MXCSR at 24, the XMM registers from 160.
			uint32 Mxcsr;
			M128A Xmm[8];
			std::memcpy(&Mxcsr, C.ExtendedRegisters + 24, 4);
			std::memcpy(Xmm, C.ExtendedRegisters + 160, sizeof(Xmm));
			fg_AppendSse(Text, Mxcsr, Xmm, 8);
		}
	}
#endif
}
