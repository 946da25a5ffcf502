#include "app/Hushvane_ConfigCheck.h"
#include "app/Hushvane_Compare.h"
#include "app/Hushvane_Config.h"
#include "app/Hushvane_ConfigScan.h"

#include <algorithm>
#include <map>

namespace NHushvane
{
	namespace
	{
		struct CNameOrder
		{
			bool operator()(const std::string &A, const std::string &B) const { return gf_CompareNoCase(A.c_str(), B.c_str()) < 0; }
		};

		// The first pair of each name, which is the one the table keeps.
		struct CFirstPair
		{
			std::string m_Word;
			NZel::uint32 m_Line;
		};

		class CNullLog : public ICRunLog
		{
		public:
			void f_WriteLine(NZel::NStr::CStr) override {}
		};

		std::string fg_Quote(const std::string &Text)
		{
			return "\"" + gf_ShowBytes(Text) + "\"";
		}

		bool fg_EndsWithNoCase(const std::string &Text, const char *pSuffix)
		{
			size_t Length = std::char_traits<char>::length(pSuffix);
			return Text.size() >= Length && gf_CompareNoCase(Text.c_str() + Text.size() - Length, pSuffix) == 0;
		}

		bool fg_HasExtension(const std::string &Name)
		{
			size_t Dot = Name.rfind('.');
			return Dot != std::string::npos && Dot + 1 < Name.size();
		}

		bool fg_HasNonAscii(const std::string &Text, size_t From)
		{
			return std::any_of(Text.begin() + std::ptrdiff_t(std::min(From, Text.size())), Text.end(), [](char Byte) { return (unsigned char)Byte >= 128; });
		}

		class CChecker
		{
		public:
			CChecker(const char *pText, const NZel::uint8 *pData, NZel::umint Size)
				: fp_pText(pText)
				, fp_pData(pData)
				, fp_Size(Size)
			{
			}

			void f_Run(CConfigCheck &Check)
			{
				fp_pCheck = &Check;
				fp_CheckByteOrderMark();
				CConfigScanner Scanner(fp_pText);
				CConfigPair Pair;
				while (Scanner.f_Next(Pair))
					fp_CheckPair(Pair);
				fp_CheckEnd(Scanner.f_GetEnd(), Scanner.f_GetLine());
				std::stable_sort(Check.m_Warnings.begin(), Check.m_Warnings.end(),
					[](const CConfigWarning &A, const CConfigWarning &B) { return A.m_Line < B.m_Line; });
			}

			// The table order of the worker's parser, with the line and word of each entry.
			void f_AddEntries(CConfigCheck &Check)
			{
				CProcessTable Table;
				CNullLog Log;
				gf_ParseConfig(fp_pData, fp_Size, Table, Log);
				Table.f_ForEach([&](const CProcessTable::CEntry &Entry) {
					CConfigCheckEntry Checked;
					Checked.m_Name.assign(Entry.f_GetName().f_GetStr(), size_t(Entry.f_GetName().f_GetLen()));
					Checked.m_Class = Entry.f_GetPriorityClass();
					auto iFirst = fp_FirstPairs.find(Checked.m_Name);
					if (iFirst != fp_FirstPairs.end())
					{
						Checked.m_Word = iFirst->second.m_Word;
						Checked.m_Line = iFirst->second.m_Line;
					}
					Check.m_Entries.push_back(std::move(Checked));
				});
			}

		private:
			void fp_Warn(EConfigWarning Kind, NZel::uint32 Line, std::string Text)
			{
				fp_pCheck->m_Warnings.push_back({Kind, Line, std::move(Text)});
			}

			void fp_CheckByteOrderMark()
			{
				auto fStartsWith = [&](const char *pMark, size_t Length) {
					return fp_Size >= Length && std::equal(pMark, pMark + Length, reinterpret_cast<const char *>(fp_pData));
				};
				if (fStartsWith("\xEF\xBB\xBF", 3))
				{
					fp_BomLength = 3;
					fp_Warn(EConfigWarning::ByteOrderMark, 1,
						"the file begins with a UTF-8 byte-order mark, which becomes part of the first word: save it without one");
				}
				else if (fStartsWith("\xFF\xFE", 2) || fStartsWith("\xFE\xFF", 2))
				{
					fp_BomLength = 2;
					fp_Warn(EConfigWarning::ByteOrderMark, 1, "the file is saved as UTF-16 (it begins with a byte-order mark): save it as plain 8-bit text");
				}
			}

			void fp_CheckPair(const CConfigPair &Pair)
			{
				std::string Name(Pair.m_pName, size_t(Pair.m_NameLength));
				std::string Word(Pair.m_pWord, size_t(Pair.m_WordLength));
				bool bFirstName = Pair.m_pName == fp_pText;

				if (fg_HasNonAscii(Name, bFirstName ? fp_BomLength : 0))
					fp_Warn(EConfigWarning::NonAscii, Pair.m_NameLine,
						"name " + fg_Quote(Name) + " holds bytes outside 7-bit ASCII; the program compares names as plain bytes");
				if (gf_IsPriorityWord(Name.c_str()))
					fp_Warn(EConfigWarning::NameIsPriority, Pair.m_NameLine,
						"the priority word " + fg_Quote(Name) + " stands where a name belongs: a name or a priority word is missing before it, and the pairs from here on are shifted");
				else if (!fg_HasExtension(Name))
					fp_Warn(EConfigWarning::NoExtension, Pair.m_NameLine,
						"name " + fg_Quote(Name) + " has no extension and never matches a process; write it as the executable's file name, such as " +
							fg_Quote(Name + ".exe"));

				auto iFirst = fp_FirstPairs.find(Name);
				if (iFirst != fp_FirstPairs.end())
					fp_Warn(EConfigWarning::Duplicate, Pair.m_NameLine,
						"name " + fg_Quote(Name) + " is already listed on line " + std::to_string(iFirst->second.m_Line) + "; the first entry wins and this one is ignored");
				else
					fp_FirstPairs.emplace(Name, CFirstPair{Word, Pair.m_NameLine});

				if (Word.empty())
					fp_Warn(EConfigWarning::MissingWord, Pair.m_NameLine,
						"name " + fg_Quote(Name) + " at the end of the file has no priority word; normal is used");
				else if (fg_EndsWithNoCase(Word, ".exe"))
					fp_Warn(EConfigWarning::WordIsName, Pair.m_WordLine,
						fg_Quote(Word) + " is read as the priority word of " + fg_Quote(Name) + ": " + fg_Quote(Name) +
							" has no priority word of its own, and the pairs from here on are shifted");
				else if (!gf_IsPriorityWord(Word.c_str()))
				{
					std::string Text = "unknown priority word " + fg_Quote(Word) + " for " + fg_Quote(Name) + "; normal is used";
					if (Word[0] == '#')
						Text += " (a comment begins only where a name is expected)";
					fp_Warn(EConfigWarning::UnknownWord, Pair.m_WordLine, std::move(Text));
				}
			}

			void fp_CheckEnd(const char *pEnd, NZel::uint32 Line)
			{
				NZel::umint Read = NZel::umint(pEnd - fp_pText);
				if (Read >= fp_Size)
					return;
				fp_Warn(EConfigWarning::ZeroByte, Line,
					"a 0 byte ends the configuration here; the " + std::to_string(fp_Size - Read - 1) + " bytes after it are ignored");
			}

			const char *fp_pText;
			const NZel::uint8 *fp_pData;
			NZel::umint fp_Size;
			CConfigCheck *fp_pCheck = nullptr;
			size_t fp_BomLength = 0;
			std::map<std::string, CFirstPair, CNameOrder> fp_FirstPairs;
		};
	}

	std::string gf_ShowBytes(const std::string &Text)
	{
		static const char sc_Hex[] = "0123456789ABCDEF";
		std::string Shown;
		for (unsigned char Byte : Text)
		{
			if (Byte >= 32 && Byte < 127 && Byte != '\\')
				Shown += char(Byte);
			else
			{
				Shown += "\\x";
				Shown += sc_Hex[Byte >> 4];
				Shown += sc_Hex[Byte & 15];
			}
		}
		return Shown;
	}

	CConfigCheck gf_CheckConfig(const NZel::uint8 *pData, NZel::umint Size)
	{
		std::string Text(reinterpret_cast<const char *>(pData), Size);
		CConfigCheck Check;
		CChecker Checker(Text.c_str(), pData, Size);
		Checker.f_Run(Check);
		Checker.f_AddEntries(Check);
		return Check;
	}

	void gf_AddChangeableConfigWarning(CConfigCheck &Check, const std::vector<CUnsafePath> &Unsafe)
	{
		if (Unsafe.empty())
			return;
		// Whoever can change it can give any program any class, realtime included, which can
		// starve the rest of the machine.
		Check.m_Warnings.insert(Check.m_Warnings.begin(),
			{EConfigWarning::Changeable, 0,
				"users who are not administrators can change the configuration and so give any program any priority class, realtime included: " +
					gf_DescribeUnsafePaths(Unsafe) + "; let only administrators change it"});
	}
}
