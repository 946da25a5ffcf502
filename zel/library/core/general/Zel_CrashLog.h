#pragma once
// The texts of a crash report that do not depend on the processor: the exception's type line,
// the names of the three files, the address and stack-trace lines, the raw stack dump and the
// crash box. The Windows reporter fills them from the exception it catches.
//
// Addresses are printed with as many hex digits as a pointer of the build has (8 on 32-bit,
// 16 on 64-bit): a 64-bit address cut to 8 digits would name the wrong place.
#include "zel/library/core/general/Zel_ClockTime.h"
#include "zel/library/core/general/Zel_CrashSettings.h"
#include "zel/library/core/general/Zel_Str.h"

namespace NZel::NCrash
{
	inline constexpr int32 gc_AddressDigits = int32(sizeof(void *) * 2);

	// A resolved code address: function, module, source file and line (file empty and line 0
	// when the debug information has none).
	struct CSymbolInfo
	{
		const char *m_pName = "";
		const char *m_pModule = "";
		const char *m_pFile = "";
		uint32 m_Line = 0;
	};

	struct CCrashFileNames
	{
		NStr::CStr m_CrashLog;
		NStr::CStr m_FullDump;
		NStr::CStr m_MiniDump;
	};

	// The three paths in Folder for a crash at the local time Local: CrashLog_, FullDump_ and
	// MiniDump_ followed by the date and time to the millisecond.
	CCrashFileNames gf_MakeCrashFileNames(const NStr::CStr &Folder, const NTime::CCalendarTime &Local);

	// The text after "Exception type: ". For an access violation (0xC0000005) the first two
	// parameters tell whether it wrote (non-zero) and where; with fewer parameters the address
	// is taken as 0.
	NStr::CStr gf_GetExceptionTypeText(uint32 Code, uint32 nParameters, const umint *pParameters);

	// "Exception address: ..." with the module and function when pSymbol is given.
	void gf_AppendExceptionAddress(NStr::CStr &Text, umint Address, const CSymbolInfo *pSymbol);
	// One frame of "StackTrace: ": the address (named when pSymbol is given), then its frame.
	void gf_AppendStackFrame(NStr::CStr &Text, umint Address, umint Frame, const CSymbolInfo *pSymbol);

	// Reads Count bytes at Address of the crashed process into pDestination; false when that
	// memory cannot be read.
	using FReadMemory = bool (*)(umint Address, void *pDestination, uint32 Count, void *pContext);

	// The raw stack from Begin up to End, one line of 32 bytes each: the line's address, then
	// its bytes in memory order in groups of 8 (each followed by a space) and, for a shorter
	// rest, one group of 4, of 2 and of 1 byte. A line that cannot be read ends the dump.
	void gf_AppendRawStack(NStr::CStr &Text, umint Begin, umint End, FReadMemory fRead, void *pContext);

	// The crash box's text; with bAskContinue it ends with the question whether to continue.
	NStr::CStr gf_MakeCrashBoxText(const CCrashSettings &Settings, const CCrashFileNames &Files, bool bAskContinue);

	// Appends a whole string.
	inline void gf_Append(NStr::CStr &Text, const NStr::CStr &Piece)
	{
		Text.f_Append(Piece.f_GetStr(), Piece.f_GetLen());
	}
}
