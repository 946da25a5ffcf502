#pragma once
// The options of one placeholder: the record every wrapper fills, the tokenizer that splits the
// option list, and the two justification layouts that place a formatted value in the output.
#include "zel/library/core/general/Zel_Str.h"

namespace NZel::NStr
{
	struct CFormatOptions
	{
		int32 f_MinLength = 0;
		int32 f_MaxLength = 2147483647;
		int32 f_AlignAmount = 0;
		int32 f_Negative = 0;
		int32 f_KeepLeft = 0;
		int32 f_PlainJustify = 1;
		char f_Fill = ' ';
	};

	template <typename t_CBase>
	struct TCFormatOptionsInt : CFormatOptions
	{
		t_CBase f_Base = 10;
		int32 f_UpperDigits = 0;
		int32 f_ForceSign = 0;
		char f_GroupSeparator = 0;
	};

	struct CFormatOptionsStr : CFormatOptions
	{
		int32 f_CaseConversion = 0; // 0 none, 1 upper, 2 lower
	};

	// One option: category and option letter upper-cased (0 for none) and its argument text.
	struct COption
	{
		char f_Category = 0;
		char f_Option = 0;
		const char *f_pArgument = nullptr;
	};

	// The engine's view of the result string: make room, append a run of text of a kind,
	// append a character n times, each at a write position that it advances. Once the string
	// could not take all of an append (a fixed string is full, or a growing one could not get
	// memory) everything after is dropped, so the result is always the text that fitted, in
	// order, without holes.
	template <typename t_CStr>
	class TCFormatOutput
	{
	public:
		explicit TCFormatOutput(t_CStr &Str) : fp_Str(Str)
		{
		}
		int32 f_Reserve(int32 nUnits)
		{
			return fp_Str.f_Reserve(nUnits);
		}
		bool f_IsFull() const
		{
			return fp_bFull;
		}
		void f_AppendText(int32 &Pos, uint32 Kind, const char *pUnits, int32 Count)
		{
			if (fp_bFull || Count <= 0)
				return;
			int32 Before = Pos;
			fp_Str.f_AppendText(Pos, Kind, pUnits, Count);
			fp_bFull = Pos - Before < Count;
		}
		void f_AppendChar(int32 &Pos, char Char, int32 Count)
		{
			if (fp_bFull || Count <= 0)
				return;
			int32 Before = Pos;
			fp_Str.f_AppendChar(Pos, Char, Count);
			fp_bFull = Pos - Before < Count;
		}
		void f_SetFull()
		{
			fp_bFull = true;
		}

	private:
		t_CStr &fp_Str;
		bool fp_bFull = false;
	};

	namespace NPrivate
	{
		inline char gf_Upper(char c)
		{
			return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
		}
		inline bool gf_IsDigit(char c)
		{
			return c >= '0' && c <= '9';
		}
		inline bool gf_EndsOption(char c)
		{
			return c == 0 || c == '*' || c == ',' || c == '}';
		}

		// Reads one option at p and leaves p at the ',' or '}' (or end) that follows it.
		inline COption gf_NextOption(const char *&p)
		{
			COption Option;
			char c = *p;
			Option.f_pArgument = p;
			if (c == ' ')
				++p; // an option that begins with a space is ignored whole
			else if (!gf_EndsOption(c))
			{
				Option.f_Category = gf_Upper(c);
				++p;
				char c2 = *p;
				if (gf_IsDigit(c2) || gf_EndsOption(c2))
					Option.f_pArgument = p;
				else if (c2 == ' ')
					Option.f_pArgument = p + 1;
				else
				{
					Option.f_Option = gf_Upper(c2);
					Option.f_pArgument = p + 1;
				}
				p = Option.f_pArgument;
			}
			while (*p && *p != ',' && *p != '}')
				++p;
			return Option;
		}

		inline const char gc_UnknownOption[] = "| format specifier unknown (";

		template <typename t_CStr>
		void gf_AppendUnknownOption(t_CStr &Out, int32 &Pos, const COption &Option)
		{
			Out.f_AppendText(Pos, gc_KindLatin1, gc_UnknownOption, int32(sizeof(gc_UnknownOption) - 1));
			char Marker[5];
			int32 n = 0;
			Marker[n++] = Option.f_Category;
			if (Option.f_Option)
				Marker[n++] = Option.f_Option;
			Marker[n++] = ')';
			Marker[n++] = ' ';
			Marker[n++] = '|';
			Out.f_AppendText(Pos, gc_KindLatin1, Marker, n);
		}

		// Appends Len units of pText, of the given kind, as the options place it.
		template <typename t_CStr>
		void gf_Justify(t_CStr &Out, int32 &Pos, const char *pText, int32 Len, uint32 Kind, const CFormatOptions &Options)
		{
			int32 Max = Options.f_MaxLength < 0 ? 0 : Options.f_MaxLength;
			auto fAppendCut = [&](int32 Room)
			{
				if (Room <= 0)
					return;
				if (Len > Room)
				{
					if (Options.f_KeepLeft)
						Out.f_AppendText(Pos, Kind, pText, Room);
					else
						Out.f_AppendText(Pos, Kind, pText + (Len - Room), Room);
				}
				else
					Out.f_AppendText(Pos, Kind, pText, Len);
			};

			if (Options.f_PlainJustify)
			{
				if (Len < Options.f_MinLength)
				{
					Out.f_AppendChar(Pos, Options.f_Fill, Options.f_MinLength - Len);
					Out.f_AppendText(Pos, Kind, pText, Len);
				}
				else
					fAppendCut(Max);
				return;
			}

			int64 Left, Right;
			if (Options.f_KeepLeft)
			{
				Left = Options.f_AlignAmount;
				if (Options.f_Negative && Options.f_AlignAmount >= 1)
					--Left;
				Right = int64(Options.f_MinLength) - Left - Len;
			}
			else
			{
				Right = Options.f_AlignAmount;
				Left = int64(Options.f_MinLength) - Right - Len;
			}
			if (Left < 0)
				Left = 0;
			if (Right < 0)
				Right = 0;
			if (Left == 0 && Right == 0)
			{
				fAppendCut(Max);
				return;
			}
			// Paddings beyond the maximum length could never show text; keep them bounded.
			if (Left > Max)
				Left = Max;
			if (Right > Max)
				Right = Max;
			Out.f_AppendChar(Pos, Options.f_Fill, int32(Left));
			fAppendCut(int32(int64(Max) - Left - Right));
			Out.f_AppendChar(Pos, Options.f_Fill, int32(Right));
		}
	}
}
