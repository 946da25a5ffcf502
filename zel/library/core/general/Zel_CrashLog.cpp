#include "zel/library/core/general/Zel_CrashLog.h"

#include "zel/library/core/general/Zel_CrashText.h"
#include "zel/library/core/general/Zel_Format.h"

namespace NZel::NCrash
{
	namespace
	{
		using CPieceFormat = CCrashPiece::CFormat;
		// What adding an argument gives back.
		using CPieceFormatted = NStr::TCStrAggregate<NStr::CStrTraits_CFStr256>::CFormat;

		struct CTypeText
		{
			uint32 m_Code;
			const char *m_pText;
		};

		// The texts are read by people and by tools that sort stored logs; they stay as they are.
		constexpr CTypeText gc_TypeTexts[] = {
			{0x80000002, "Datatype misalignment"},
			{0x80000003, "Breakpoint"},
			{0x80000004, "Single step"},
			{0xC0000006, "In page error"},
			{0xC000001D, "Illegal instruction"},
			{0xC0000025, "Noncontinuable exception"},
			{0xC0000026, "Invalid disposition"},
			{0xC000008C, "Array bounds exceeded"},
			{0xC000008D, "Float denormal operand"},
			{0xC000008E, "Float divide by zero"},
			{0xC000008F, "Float inexact result"},
			{0xC0000090, "Float invalid operation"},
			{0xC0000091, "Float overflow"},
			{0xC0000092, "Float stack check"},
			{0xC0000093, "Float underflow"},
			{0xC0000094, "Integer divide by zero"},
			{0xC0000095, "Integer overflow"},
			{0xC0000096, "Priviledged instruction"},
			{0xC00000FD, "Stack overflow"},
		};

		constexpr uint32 gc_AccessViolation = 0xC0000005;
		constexpr umint gc_RawLineBytes = 32;

		constexpr const char *gc_FilePatterns[] = {
			"/CrashLog_{}-{sj2,sf0}-{sj2,sf0}_{sj2,sf0}.{sj2,sf0}.{sj2,sf0}.{sj3,sf0}.txt",
			"/FullDump_{}-{sj2,sf0}-{sj2,sf0}_{sj2,sf0}.{sj2,sf0}.{sj2,sf0}.{sj3,sf0}.dmp",
			"/MiniDump_{}-{sj2,sf0}-{sj2,sf0}_{sj2,sf0}.{sj2,sf0}.{sj2,sf0}.{sj3,sf0}.dmp",
		};

		// Bytes in memory order as one number, so that its hex digits read as the memory does.
		uint64 fg_MemoryOrder(const uint8 *pBytes, uint32 Count)
		{
			uint64 Value = 0;
			for (uint32 i = 0; i < Count; ++i)
				Value = (Value << 8) | pBytes[i];
			return Value;
		}

		template <typename t_CText>
		void fg_Append(t_CText &Text, const char *pText)
		{
			Text.f_Append(pText, -1);
		}

		template <typename t_CText>
		void fg_AppendPiece(t_CText &Text, CPieceFormatted &Format)
		{
			gf_Append(Text, CCrashPiece(Format));
		}

		void fg_MakePath(CCrashPath &Path, const char *pFolder, ECrashFile File, const NTime::CCalendarTime &Local)
		{
			Path.f_Clear();
			Path.f_Append(pFolder);
			gf_Append(Path, gf_MakeCrashFileName(File, Local));
		}
	}

	CCrashPiece gf_MakeCrashFileName(ECrashFile File, const NTime::CCalendarTime &Local)
	{
		return CPieceFormat(gc_FilePatterns[int32(File)]) << Local.m_Year << Local.m_Month << Local.m_Day << Local.m_Hour << Local.m_Minute
			<< Local.m_Second << Local.f_GetMilliseconds();
	}

	void gf_MakeCrashFileNames(CCrashFileNames &Names, const char *pFolder, const NTime::CCalendarTime &Local)
	{
		fg_MakePath(Names.m_CrashLog, pFolder, ECrashFile::CrashLog, Local);
		fg_MakePath(Names.m_FullDump, pFolder, ECrashFile::FullDump, Local);
		fg_MakePath(Names.m_MiniDump, pFolder, ECrashFile::MiniDump, Local);
	}

	CCrashPiece gf_GetExceptionTypeText(uint32 Code, uint32 nParameters, const umint *pParameters)
	{
		if (Code == gc_AccessViolation)
		{
			bool const bWrite = nParameters >= 1 && pParameters[0] != 0;
			umint const Address = nParameters >= 2 ? pParameters[1] : 0;
			return CPieceFormat(bWrite ? "Access violation trying to write to address: 0x{nfh,sf0,sj*}"
									   : "Access violation trying to read to address: 0x{nfh,sf0,sj*}")
				<< Address << gc_AddressDigits;
		}
		for (const CTypeText &Entry : gc_TypeTexts)
		{
			if (Entry.m_Code == Code)
				return CCrashPiece(Entry.m_pText);
		}
		return CCrashPiece("Unknown");
	}

	template <typename t_CText>
	void gf_AppendExceptionAddress(t_CText &Text, umint Address, const CSymbolInfo *pSymbol)
	{
		// The names go in as they are, around the formatted address: a name of any length fits.
		if (pSymbol)
		{
			CPieceFormat Format("Exception address: 0x{nfh,sf0,sj*} (");
			fg_AppendPiece(Text, Format << Address << gc_AddressDigits);
			fg_Append(Text, pSymbol->m_pModule);
			fg_Append(Text, "!");
			fg_Append(Text, pSymbol->m_pName);
			fg_Append(Text, ")\n\n");
		}
		else
		{
			CPieceFormat Format("Exception address: 0x{nfh,sf0,sj*1}\n\n");
			fg_AppendPiece(Text, Format << Address << gc_AddressDigits);
		}
	}

	template <typename t_CText>
	void gf_AppendStackFrame(t_CText &Text, umint Address, umint Frame, const CSymbolInfo *pSymbol)
	{
		if (pSymbol)
		{
			CPieceFormat Format("0x{nfh,sf0,sj*} ");
			fg_AppendPiece(Text, Format << Address << gc_AddressDigits);
			fg_Append(Text, pSymbol->m_pModule);
			fg_Append(Text, "!");
			fg_Append(Text, pSymbol->m_pName);
			fg_Append(Text, "\n");
			fg_Append(Text, pSymbol->m_pFile);
			CPieceFormat Line(":{}\n");
			fg_AppendPiece(Text, Line << pSymbol->m_Line);
		}
		else
		{
			CPieceFormat Format("0x{nfh,sf0,sj*1}\n");
			fg_AppendPiece(Text, Format << Address << gc_AddressDigits);
		}
		CPieceFormat FrameLine("StackFrame: 0x{nfh,sf0,sj*1}\n");
		fg_AppendPiece(Text, FrameLine << Frame << gc_AddressDigits);
	}

	template <typename t_CText>
	void gf_AppendRawStack(t_CText &Text, umint Begin, umint End, FReadMemory fRead, void *pContext)
	{
		uint8 Line[gc_RawLineBytes];
		for (umint Address = Begin; Address < End; Address += gc_RawLineBytes)
		{
			uint32 const Count = uint32(End - Address < gc_RawLineBytes ? End - Address : gc_RawLineBytes);
			if (!fRead(Address, Line, Count, pContext))
				return;
			CPieceFormat Start("0x{nfh,sf0,sj*1}: ");
			fg_AppendPiece(Text, Start << Address << gc_AddressDigits);
			uint32 Pos = 0;
			for (; Count - Pos >= 8; Pos += 8)
			{
				CPieceFormat Group("{nfh,sf0,sj16} ");
				fg_AppendPiece(Text, Group << fg_MemoryOrder(Line + Pos, 8));
			}
			if (Count - Pos >= 4)
			{
				CPieceFormat Group("{nfh,sf0,sj8}");
				fg_AppendPiece(Text, Group << fg_MemoryOrder(Line + Pos, 4));
				Pos += 4;
			}
			if (Count - Pos >= 2)
			{
				CPieceFormat Group("{nfh,sf0,sj4}");
				fg_AppendPiece(Text, Group << fg_MemoryOrder(Line + Pos, 2));
				Pos += 2;
			}
			if (Count - Pos >= 1)
			{
				CPieceFormat Group("{nfh,sf0,sj2}");
				fg_AppendPiece(Text, Group << fg_MemoryOrder(Line + Pos, 1));
			}
			fg_Append(Text, "\n");
		}
	}

	template <typename t_CText>
	void gf_AppendCrashBoxText(t_CText &Text, const CCrashSettings &Settings, const CCrashFileNames &Files, bool bAskContinue)
	{
		fg_Append(Text, Settings.f_GetProgramName());
		fg_Append(Text, " has encountered an unhandled exception. Please send the following crash log files to ");
		fg_Append(Text, Settings.f_GetSupportAddress());
		fg_Append(Text, "\nAlong with a description of what you were doing when the program crashed.\n\n");
		gf_Append(Text, Files.m_CrashLog);
		fg_Append(Text, "\n");
		gf_Append(Text, Files.m_MiniDump);
		fg_Append(Text, "\n\nAlso please save the following crash log file for future reference:\n\n");
		gf_Append(Text, Files.m_FullDump);
		if (bAskContinue)
			fg_Append(Text, "\n\nDo you want to continue execution?");
	}

	// The report's own text, and the string the rest of the library uses.
#define DZelCrashLogTexts(t_CText)                                                                                                    \
	template void gf_AppendExceptionAddress<t_CText>(t_CText &, umint, const CSymbolInfo *);                                        \
	template void gf_AppendStackFrame<t_CText>(t_CText &, umint, umint, const CSymbolInfo *);                                       \
	template void gf_AppendRawStack<t_CText>(t_CText &, umint, umint, FReadMemory, void *);                                         \
	template void gf_AppendCrashBoxText<t_CText>(t_CText &, const CCrashSettings &, const CCrashFileNames &, bool);
	DZelCrashLogTexts(CCrashText)
	DZelCrashLogTexts(NStr::CStr)
#undef DZelCrashLogTexts
}
