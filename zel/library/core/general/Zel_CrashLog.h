#pragma once
// The texts of a crash report that do not depend on the processor: the exception's type line,
// the names of the three files, the address and stack-trace lines, the raw stack dump and the
// crash box. The Windows reporter fills them from the exception it catches.
//
// Addresses are printed with as many hex digits as a pointer of the build has (8 on 32-bit,
// 16 on 64-bit): a 64-bit address cut to 8 digits would name the wrong place.
//
// Nothing here allocates from the heap: each number is formatted into a fixed string on the
// stack, with few enough arguments that the format engine keeps them in its own arena, and
// the pieces are appended to the caller's text. The reporter builds its texts while the
// crashed thread may hold the heap's lock. The text is any type with
// f_Append(const char *, int32 Count): the reporter's CCrashText, or a CStr.
#include "zel/library/core/general/Zel_ClockTime.h"
#include "zel/library/core/general/Zel_CrashSettings.h"
#include "zel/library/core/general/Zel_Str.h"

namespace NZel::NCrash
{
	inline constexpr int32 gc_AddressDigits = int32(sizeof(void *) * 2);

	// One formatted piece of a crash text: a line or less.
	using CCrashPiece = NStr::CFStr256;

	// A crash file's path, folder included; a longer one is cut.
	inline constexpr int32 gc_CrashPathBytes = 4096;
	using CCrashPath = NStr::TCStrImp_Fixed<gc_CrashPathBytes>;

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
		CCrashPath m_CrashLog;
		CCrashPath m_FullDump;
		CCrashPath m_MiniDump;
	};

	enum class ECrashFile
	{
		CrashLog,
		FullDump,
		MiniDump,
	};

	// One file's name for a crash at the local time Local, as it follows the folder: '/', then
	// CrashLog_, FullDump_ or MiniDump_ with the date and time to the millisecond.
	CCrashPiece gf_MakeCrashFileName(ECrashFile File, const NTime::CCalendarTime &Local);
	// The three paths in pFolder for a crash at the local time Local.
	void gf_MakeCrashFileNames(CCrashFileNames &Names, const char *pFolder, const NTime::CCalendarTime &Local);

	// The text after "Exception type: ". For an access violation (0xC0000005) the first two
	// parameters tell whether it wrote (non-zero) and where; with fewer parameters the address
	// is taken as 0.
	CCrashPiece gf_GetExceptionTypeText(uint32 Code, uint32 nParameters, const umint *pParameters);

	// "Exception address: ..." with the module and function when pSymbol is given.
	template <typename t_CText>
	void gf_AppendExceptionAddress(t_CText &Text, umint Address, const CSymbolInfo *pSymbol);
	// One frame of "StackTrace: ": the address (named when pSymbol is given), then its frame.
	template <typename t_CText>
	void gf_AppendStackFrame(t_CText &Text, umint Address, umint Frame, const CSymbolInfo *pSymbol);

	// Reads Count bytes at Address of the crashed process into pDestination; false when that
	// memory cannot be read.
	using FReadMemory = bool (*)(umint Address, void *pDestination, uint32 Count, void *pContext);

	// The raw stack from Begin up to End, one line of 32 bytes each: the line's address, then
	// its bytes in memory order in groups of 8 (each followed by a space) and, for a shorter
	// rest, one group of 4, of 2 and of 1 byte. A line that cannot be read ends the dump.
	template <typename t_CText>
	void gf_AppendRawStack(t_CText &Text, umint Begin, umint End, FReadMemory fRead, void *pContext);

	// The crash box's text; with bAskContinue it ends with the question whether to continue.
	template <typename t_CText>
	void gf_AppendCrashBoxText(t_CText &Text, const CCrashSettings &Settings, const CCrashFileNames &Files, bool bAskContinue);

	// Appends a whole piece (any string with f_GetStr and f_GetLen).
	template <typename t_CText, typename t_CPiece>
	inline void gf_Append(t_CText &Text, const t_CPiece &Piece)
	{
		Text.f_Append(Piece.f_GetStr(), int32(Piece.f_GetLen()));
	}
}
