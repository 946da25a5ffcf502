#include "zel/library/core/general/Zel_CrashLog.h"

#include "zel/library/core/general/Zel_Format.h"

namespace NZel::NCrash
{
	using NStr::CStr;

	namespace
	{
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

		// Bytes in memory order as one number, so that its hex digits read as the memory does.
		uint64 fg_MemoryOrder(const uint8 *pBytes, uint32 Count)
		{
			uint64 Value = 0;
			for (uint32 i = 0; i < Count; ++i)
				Value = (Value << 8) | pBytes[i];
			return Value;
		}
	}

	CCrashFileNames gf_MakeCrashFileNames(const CStr &Folder, const NTime::CCalendarTime &Local)
	{
		auto fMake = [&](const char *pPattern) -> CStr {
			return Folder + CStr(CStr::CFormat(pPattern) << Local.m_Year << Local.m_Month << Local.m_Day << Local.m_Hour
				<< Local.m_Minute << Local.m_Second << Local.f_GetMilliseconds());
		};
		CCrashFileNames Names;
		Names.m_CrashLog = fMake("/CrashLog_{}-{sj2,sf0}-{sj2,sf0}_{sj2,sf0}.{sj2,sf0}.{sj2,sf0}.{sj3,sf0}.txt");
		Names.m_FullDump = fMake("/FullDump_{}-{sj2,sf0}-{sj2,sf0}_{sj2,sf0}.{sj2,sf0}.{sj2,sf0}.{sj3,sf0}.dmp");
		Names.m_MiniDump = fMake("/MiniDump_{}-{sj2,sf0}-{sj2,sf0}_{sj2,sf0}.{sj2,sf0}.{sj2,sf0}.{sj3,sf0}.dmp");
		return Names;
	}

	CStr gf_GetExceptionTypeText(uint32 Code, uint32 nParameters, const umint *pParameters)
	{
		if (Code == gc_AccessViolation)
		{
			bool const bWrite = nParameters >= 1 && pParameters[0] != 0;
			umint const Address = nParameters >= 2 ? pParameters[1] : 0;
			return CStr::CFormat(bWrite ? "Access violation trying to write to address: 0x{nfh,sf0,sj*}"
										: "Access violation trying to read to address: 0x{nfh,sf0,sj*}")
				<< Address << gc_AddressDigits;
		}
		for (const CTypeText &Entry : gc_TypeTexts)
		{
			if (Entry.m_Code == Code)
				return CStr(Entry.m_pText);
		}
		return CStr("Unknown");
	}

	void gf_AppendExceptionAddress(CStr &Text, umint Address, const CSymbolInfo *pSymbol)
	{
		if (pSymbol)
			gf_Append(Text, CStr::CFormat("Exception address: 0x{nfh,sf0,sj*} ({}!{})\n\n") << Address << gc_AddressDigits
				<< pSymbol->m_pModule << pSymbol->m_pName);
		else
			gf_Append(Text, CStr::CFormat("Exception address: 0x{nfh,sf0,sj*1}\n\n") << Address << gc_AddressDigits);
	}

	void gf_AppendStackFrame(CStr &Text, umint Address, umint Frame, const CSymbolInfo *pSymbol)
	{
		if (pSymbol)
			gf_Append(Text, CStr::CFormat("0x{nfh,sf0,sj*} {}!{}\n{}:{}\n") << Address << gc_AddressDigits << pSymbol->m_pModule
				<< pSymbol->m_pName << pSymbol->m_pFile << pSymbol->m_Line);
		else
			gf_Append(Text, CStr::CFormat("0x{nfh,sf0,sj*1}\n") << Address << gc_AddressDigits);
		gf_Append(Text, CStr::CFormat("StackFrame: 0x{nfh,sf0,sj*1}\n") << Frame << gc_AddressDigits);
	}

	void gf_AppendRawStack(CStr &Text, umint Begin, umint End, FReadMemory fRead, void *pContext)
	{
		uint8 Line[gc_RawLineBytes];
		for (umint Address = Begin; Address < End; Address += gc_RawLineBytes)
		{
			uint32 const Count = uint32(End - Address < gc_RawLineBytes ? End - Address : gc_RawLineBytes);
			if (!fRead(Address, Line, Count, pContext))
				return;
			gf_Append(Text, CStr::CFormat("0x{nfh,sf0,sj*1}: ") << Address << gc_AddressDigits);
			uint32 Pos = 0;
			for (; Count - Pos >= 8; Pos += 8)
				gf_Append(Text, CStr::CFormat("{nfh,sf0,sj16} ") << fg_MemoryOrder(Line + Pos, 8));
			if (Count - Pos >= 4)
			{
				gf_Append(Text, CStr::CFormat("{nfh,sf0,sj8}") << fg_MemoryOrder(Line + Pos, 4));
				Pos += 4;
			}
			if (Count - Pos >= 2)
			{
				gf_Append(Text, CStr::CFormat("{nfh,sf0,sj4}") << fg_MemoryOrder(Line + Pos, 2));
				Pos += 2;
			}
			if (Count - Pos >= 1)
				gf_Append(Text, CStr::CFormat("{nfh,sf0,sj2}") << fg_MemoryOrder(Line + Pos, 1));
			Text.f_Append("\n", 1);
		}
	}

	CStr gf_MakeCrashBoxText(const CCrashSettings &Settings, const CCrashFileNames &Files, bool bAskContinue)
	{
		CStr Text(Settings.f_GetProgramName());
		Text.f_Append(" has encountered an unhandled exception. Please send the following crash log files to ");
		Text.f_Append(Settings.f_GetSupportAddress());
		Text.f_Append("\nAlong with a description of what you were doing when the program crashed.\n\n");
		gf_Append(Text, Files.m_CrashLog);
		Text.f_Append("\n");
		gf_Append(Text, Files.m_MiniDump);
		Text.f_Append("\n\nAlso please save the following crash log file for future reference:\n\n");
		gf_Append(Text, Files.m_FullDump);
		if (bAskContinue)
			Text.f_Append("\n\nDo you want to continue execution?");
		return Text;
	}
}
