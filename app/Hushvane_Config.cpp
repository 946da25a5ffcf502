#include "app/Hushvane_Config.h"
#include "app/Hushvane_Compare.h"
#include "zel/library/core/general/Zel_Format.h"

#include <vector>

namespace NHushvane
{
	using NZel::NStr::CStr;
	using NZel::uint32;

	namespace
	{
		struct CPriorityWord
		{
			const char *m_pWord;
			uint32 m_Class;
		};

		constexpr CPriorityWord gc_PriorityWords[] = {
			{"normal", EPriorityClass_Normal},
			{"idle", EPriorityClass_Idle},
			{"high", EPriorityClass_High},
			{"realtime", EPriorityClass_Realtime},
			{"belownormal", EPriorityClass_BelowNormal},
			{"abovenormal", EPriorityClass_AboveNormal},
		};

		// Backspace, tab, line feed, carriage return and space; nothing else separates words.
		inline bool fg_IsSpace(char Byte)
		{
			return Byte == 8 || Byte == 9 || Byte == 10 || Byte == 13 || Byte == 32;
		}

		inline const char *fg_SkipSpace(const char *p)
		{
			while (fg_IsSpace(*p))
				++p;
			return p;
		}

		inline const char *fg_WordEnd(const char *p)
		{
			while (*p && !fg_IsSpace(*p))
				++p;
			return p;
		}

		CStr fg_Word(const char *pStart, const char *pEnd)
		{
			CStr Word;
			if (pEnd > pStart)
				Word.f_Append(pStart, NZel::int32(pEnd - pStart));
			return Word;
		}
	}

	uint32 gf_GetPriorityClass(const char *pWord)
	{
		for (const CPriorityWord &Word : gc_PriorityWords)
		{
			if (gf_CompareNoCase(pWord, Word.m_pWord) == 0)
				return Word.m_Class;
		}
		return EPriorityClass_Normal;
	}

	void gf_ParseConfig(const char *p, CProcessTable &Table, ICRunLog &Log)
	{
		while (*p)
		{
			p = fg_SkipSpace(p);
			if (*p == '#')
			{
				while (*p && *p != '\r' && *p != '\n')
					++p;
				if (*p == '\r')
					++p;
				if (*p == '\n')
					++p;
				continue;
			}
			const char *pNameEnd = fg_WordEnd(p);
			CStr Name = fg_Word(p, pNameEnd);
			p = fg_SkipSpace(pNameEnd);
			const char *pWordEnd = fg_WordEnd(p);
			CStr Word = fg_Word(p, pWordEnd);
			p = pWordEnd;

			if (Name.f_IsEmpty() || Table.f_Find(Name.f_GetStr()))
				continue;
			CStr Line = CStr::CFormat("Added process {} with priority {}\r\n") << Name << Word;
			Log.f_WriteLine(Line);
			Table.f_Insert(Name, gf_GetPriorityClass(Word.f_GetStr()));
		}
	}

	void gf_ParseConfig(const NZel::uint8 *pData, NZel::umint Size, CProcessTable &Table, ICRunLog &Log)
	{
		std::vector<char> Text(Size + 1, 0);
		for (NZel::umint i = 0; i < Size; ++i)
			Text[i] = char(pData[i]);
		gf_ParseConfig(Text.data(), Table, Log);
	}
}
