#pragma once
#include "zel/library/core/general/Zel_Types.h"

namespace NHushvane
{
	// One pair of the configuration as the reader takes it: the name, the priority word after
	// it (empty when the text ends first) and the lines they stand on (counted from 1; CR, LF
	// and CRLF each end one line).
	struct CConfigPair
	{
		const char *m_pName = nullptr;
		NZel::int32 m_NameLength = 0;
		const char *m_pWord = nullptr;
		NZel::int32 m_WordLength = 0;
		NZel::uint32 m_NameLine = 0;
		NZel::uint32 m_WordLine = 0;
	};

	// Walks configuration text pair by pair: words are separated by runs of backspace, tab,
	// line feed, carriage return and space; "#" where a name is expected starts a comment to
	// the end of the line; the first 0 byte ends the text. Every reader of the configuration
	// goes through this, so all of them see the same pairs.
	class CConfigScanner
	{
	public:
		// pText must end with a 0 byte and outlive the scanner.
		explicit CConfigScanner(const char *pText);

		// The next pair, whose name is never empty; false once the text has ended.
		bool f_Next(CConfigPair &Pair);

		// Where the reading stopped: the 0 byte that ends the text, once f_Next returned false.
		const char *f_GetEnd() const { return fp_p; }
		// The line the scanner stands on.
		NZel::uint32 f_GetLine() const { return fp_Line; }

		static bool fs_IsSpace(char Byte) { return Byte == 8 || Byte == 9 || Byte == 10 || Byte == 13 || Byte == 32; }

	private:
		void fp_Step();
		void fp_SkipSpace();
		const char *fp_SkipWord();

		const char *fp_pStart;
		const char *fp_p;
		NZel::uint32 fp_Line = 1;
	};
}
