#pragma once
// The options of one placeholder: the record every wrapper fills, the tokenizer that splits the
// option list, and the two justification layouts that place a formatted value in the output.
#include "zel/library/core/general/Zel_Str.h"

#include <cstring>

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

	// The result string and whether it is full, shared by both outputs below. Once the string
	// could not take all of an append (a fixed string is full, or a growing one could not get
	// memory) everything after is dropped, so the result is always the text that fitted, in
	// order, without holes.
	template <typename t_CStr>
	class TCFormatOutputTarget
	{
	public:
		explicit TCFormatOutputTarget(t_CStr &Str) : fp_Str(Str)
		{
		}
		bool f_IsFull() const
		{
			return fp_bFull;
		}
		void f_SetFull()
		{
			fp_bFull = true;
		}

	protected:
		t_CStr &fp_Str;
		bool fp_bFull = false;

		// Appends into the string at Pos, advancing it; full when the string took less than Count.
		void fp_AppendTextToStr(int32 &Pos, uint32 Kind, const char *pUnits, int32 Count)
		{
			if (fp_bFull || Count <= 0)
				return;
			int32 Before = Pos;
			fp_Str.f_AppendText(Pos, Kind, pUnits, Count);
			fp_bFull = Pos - Before < Count;
		}
		void fp_AppendCharToStr(int32 &Pos, char Char, int32 Count)
		{
			if (fp_bFull || Count <= 0)
				return;
			int32 Before = Pos;
			fp_Str.f_AppendChar(Pos, Char, Count);
			fp_bFull = Pos - Before < Count;
		}
	};

	// The engine's view of the result string: make room, append a run of text of a kind,
	// append a character n times, each at a write position that it advances.
	template <typename t_CStr>
	class TCFormatOutput : public TCFormatOutputTarget<t_CStr>
	{
	public:
		explicit TCFormatOutput(t_CStr &Str) : TCFormatOutputTarget<t_CStr>(Str)
		{
		}
		int32 f_Reserve(int32 nUnits)
		{
			return this->fp_Str.f_Reserve(nUnits);
		}
		void f_AppendText(int32 &Pos, uint32 Kind, const char *pUnits, int32 Count)
		{
			this->fp_AppendTextToStr(Pos, Kind, pUnits, Count);
		}
		void f_AppendChar(int32 &Pos, char Char, int32 Count)
		{
			this->fp_AppendCharToStr(Pos, Char, Count);
		}
		// False when not even the terminator has room: the result stays empty.
		bool f_Begin()
		{
			return this->fp_Str.f_Reserve(1) > 0;
		}
		// Records the length of the finished text; an empty result holds nothing.
		void f_Finish(int32 Pos)
		{
			if (Pos <= 0)
				this->fp_Str.f_Clear();
			else
				this->fp_Str.f_SetLengthAndTrim(Pos, 0);
		}
	};

	// For CStr results the text is built in a stack buffer and the string made once, at its
	// exact size, at the end: a typical message costs one heap allocation instead of a growing
	// and trimmed block. Longer texts, and texts of another kind (which need the conversions of
	// the string), move into the string and carry on there.
	template <>
	class TCFormatOutput<CStr> : public TCFormatOutputTarget<CStr>
	{
	public:
		static constexpr int32 mc_LocalSize = 256;

		explicit TCFormatOutput(CStr &Str) : TCFormatOutputTarget<CStr>(Str)
		{
		}
		bool f_Begin()
		{
			return true;
		}
		int32 f_Reserve(int32 nUnits)
		{
			if (!fp_bSpilled)
			{
				if (nUnits <= mc_LocalSize)
					return mc_LocalSize;
				fp_Spill();
			}
			return fp_Str.f_Reserve(nUnits);
		}
		void f_AppendText(int32 &Pos, uint32 Kind, const char *pUnits, int32 Count)
		{
			if (fp_bFull || Count <= 0)
				return;
			if (!fp_bSpilled && Kind == gc_KindLatin1 && Pos == fp_Len && Count < mc_LocalSize - Pos)
			{
				if (Count <= 8)
				{
					// Most runs are a digit or two: a call to memcpy would cost more.
					for (int32 i = 0; i < Count; ++i)
						fp_Local[Pos + i] = pUnits[i];
				}
				else
					std::memcpy(fp_Local + Pos, pUnits, umint(Count));
				Pos += Count;
				fp_Len = Pos;
				return;
			}
			if (!fp_bSpilled && !fp_Spill(Pos))
				return;
			fp_AppendTextToStr(Pos, Kind, pUnits, Count);
		}
		void f_AppendChar(int32 &Pos, char Char, int32 Count)
		{
			if (fp_bFull || Count <= 0)
				return;
			if (!fp_bSpilled && Pos == fp_Len && Count < mc_LocalSize - Pos)
			{
				std::memset(fp_Local + Pos, Char, umint(Count));
				Pos += Count;
				fp_Len = Pos;
				return;
			}
			if (!fp_bSpilled && !fp_Spill(Pos))
				return;
			fp_AppendCharToStr(Pos, Char, Count);
		}
		void f_Finish(int32 Pos)
		{
			if (!fp_bSpilled)
			{
				fp_Str.f_Clear();
				if (fp_Len == 0 || fp_Str.f_Reserve(fp_Len + 1) <= 0)
					return;
				Pos = 0;
				fp_Str.f_AppendText(Pos, gc_KindLatin1, fp_Local, fp_Len);
			}
			else
				Pos = fp_Str.f_GetLen(); // what the string really holds, even after a cut
			if (Pos <= 0)
				fp_Str.f_Clear();
			else
				fp_Str.f_SetLengthAndTrim(Pos, 0);
		}

	private:
		bool fp_bSpilled = false;
		int32 fp_Len = 0;
		char fp_Local[mc_LocalSize];

		// Moves the buffered text into the string; false (and full) when it did not all fit.
		bool fp_Spill()
		{
			fp_bSpilled = true;
			int32 Pos = 0;
			fp_Str.f_Clear();
			if (fp_Len > 0)
				fp_Str.f_AppendText(Pos, gc_KindLatin1, fp_Local, fp_Len);
			else
				fp_Str.f_Reserve(1);
			if (Pos < fp_Len)
			{
				fp_bFull = true;
				return false;
			}
			return true;
		}
		bool fp_Spill(int32 &Pos)
		{
			bool bAll = fp_Spill();
			Pos = fp_Str.f_GetLen();
			return bAll;
		}
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
