#include "app/Hushvane_Config.h"
#include "app/Hushvane_Compare.h"
#include "app/Hushvane_ConfigScan.h"
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

		CStr fg_Word(const char *pStart, NZel::int32 Length)
		{
			CStr Word;
			if (Length > 0)
				Word.f_Append(pStart, Length);
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

	bool gf_IsPriorityWord(const char *pWord)
	{
		for (const CPriorityWord &Word : gc_PriorityWords)
		{
			if (gf_CompareNoCase(pWord, Word.m_pWord) == 0)
				return true;
		}
		return false;
	}

	const char *gf_GetPriorityClassName(uint32 PriorityClass)
	{
		for (const CPriorityWord &Word : gc_PriorityWords)
		{
			if (Word.m_Class == PriorityClass)
				return Word.m_pWord;
		}
		return nullptr;
	}

	void gf_ParseConfig(const char *pText, CProcessTable &Table, ICRunLog &Log)
	{
		CConfigScanner Scanner(pText);
		CConfigPair Pair;
		while (Scanner.f_Next(Pair))
		{
			CStr Name = fg_Word(Pair.m_pName, Pair.m_NameLength);
			if (Table.f_Find(Name.f_GetStr()))
				continue;
			CStr Word = fg_Word(Pair.m_pWord, Pair.m_WordLength);
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
