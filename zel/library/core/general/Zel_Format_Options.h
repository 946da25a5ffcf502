#pragma once
// The options of one placeholder: the record every wrapper fills, the tokenizer that splits the
// option list, and the two justification layouts that place a formatted value in the output.
#include "zel/library/core/general/Zel_Str.h"

#include <cstring>
#include <new>
#include <type_traits>

// The engine's small steps (one option, one append that fits) are inlined into each wrapper's
// f_Format whatever the compiler's size estimate says: a call would cost more than the step.
// Their rare slow paths stay out of line.
#define DZelFormatInline inline __attribute__((always_inline))
#define DZelFormatOutOfLine __attribute__((noinline))

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

	// The option list parsed last in one conversion, for which type of argument, and the record
	// it gave.
	struct CFormatOptionsMemo
	{
		const char *m_pText = nullptr;
		int32 m_Len = 0;
		const void *m_pType = nullptr;
		alignas(8) unsigned char m_Record[64];
	};

	// What both outputs below share: the result string, whether it is full, and the buffer the
	// text is built in while it fits. Once the string could not take all of an append (a fixed
	// string is full, or a growing one could not get memory) everything after is dropped, so the
	// result is always the text that fitted, in order, without holes.
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
		// The wrappers report where the option list they parsed ended (at its '}' or the end of
		// the text), so that the engine need not look for the end of the placeholder again.
		void f_SetOptionsEnd(const char *p)
		{
			fp_pOptionsEnd = p;
		}
		const char *f_TakeOptionsEnd()
		{
			const char *p = fp_pOptionsEnd;
			fp_pOptionsEnd = nullptr;
			return p;
		}
		CFormatOptionsMemo &f_GetOptionsMemo()
		{
			return fp_Memo;
		}

	protected:
		t_CStr &fp_Str;
		// While set, the text so far is the fp_Len units at fp_pBuffer, which has room for
		// fp_BufferSize units including the terminator; appends that fit go straight there.
		char *fp_pBuffer = nullptr;
		int32 fp_BufferSize = 0;
		int32 fp_Len = 0;
		bool fp_bFull = false;
		const char *fp_pOptionsEnd = nullptr;
		CFormatOptionsMemo fp_Memo;

		DZelFormatInline bool fp_Fits(int32 Pos, int32 Count) const
		{
			return fp_pBuffer && Pos == fp_Len && uint32(Count) < uint32(fp_BufferSize - Pos);
		}
		DZelFormatInline void fp_Copy(int32 &Pos, const char *pUnits, int32 Count)
		{
			NPrivate::gf_CopyBytes(fp_pBuffer + Pos, pUnits, umint(Count));
			Pos += Count;
			fp_Len = Pos;
		}
		DZelFormatInline void fp_Fill(int32 &Pos, char Char, int32 Count)
		{
			char *pTo = fp_pBuffer + Pos;
			if (Count > 8)
				std::memset(pTo, Char, umint(Count));
			else
			{
				for (int32 i = 0; i < Count; ++i)
					pTo[i] = Char;
			}
			Pos += Count;
			fp_Len = Pos;
		}

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
		// Literal text of the format, copied as far as the room goes (the growing string makes
		// room in steps of at least 32 units); what does not fit is dropped and the output is
		// full.
		template <typename t_COutput>
		DZelFormatOutOfLine static void fs_AppendLiteral(t_COutput &Out, int32 &Pos, const char *pText, int32 Count)
		{
			while (Count > 0)
			{
				int32 Room = Out.f_Reserve(Pos + 32) - 1 - Pos;
				if (Room <= 0 || Out.fp_bFull)
				{
					Out.fp_bFull = true;
					return;
				}
				int32 n = Count < Room ? Count : Room;
				Out.f_AppendText(Pos, gc_KindLatin1, pText, n);
				pText += n;
				Count -= n;
			}
		}
	};

	// The engine's view of the result string: make room, append a run of text of a kind,
	// append a character n times, each at a write position that it advances. This one serves
	// the fixed strings, whose own buffer the text is built in; they hold bytes as given,
	// whatever their kind.
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
		DZelFormatInline void f_AppendText(int32 &Pos, uint32 Kind, const char *pUnits, int32 Count)
		{
			if (this->fp_Fits(Pos, Count))
				return this->fp_Copy(Pos, pUnits, Count);
			fp_AppendTextSlow(Pos, Kind, pUnits, Count);
		}
		DZelFormatInline void f_AppendChar(int32 &Pos, char Char, int32 Count)
		{
			if (this->fp_Fits(Pos, Count))
				return this->fp_Fill(Pos, Char, Count);
			fp_AppendCharSlow(Pos, Char, Count);
		}
		DZelFormatInline void f_AppendLiteral(int32 &Pos, const char *pText, int32 Count)
		{
			if (this->fp_Fits(Pos, Count))
				return this->fp_Copy(Pos, pText, Count);
			this->fs_AppendLiteral(*this, Pos, pText, Count);
		}
		// False when not even the terminator has room: the result stays empty.
		bool f_Begin()
		{
			if (this->fp_Str.f_Reserve(1) <= 0)
				return false;
			this->fp_BufferSize = this->fp_Str.f_GetCapacity();
			this->fp_pBuffer = this->fp_Str.f_GetWritableBuffer(0);
			this->fp_Len = 0;
			return true;
		}
		// Records the length of the finished text; an empty result holds nothing.
		void f_Finish(int32 Pos)
		{
			if (Pos <= 0)
				this->fp_Str.f_Clear();
			else
				this->fp_Str.f_SetLengthAndTrim(Pos, 0);
		}

	private:
		// Beyond the room (or out of order): the string's own append cuts and terminates.
		DZelFormatOutOfLine void fp_AppendTextSlow(int32 &Pos, uint32 Kind, const char *pUnits, int32 Count)
		{
			this->fp_pBuffer = nullptr;
			this->fp_AppendTextToStr(Pos, Kind, pUnits, Count);
		}
		DZelFormatOutOfLine void fp_AppendCharSlow(int32 &Pos, char Char, int32 Count)
		{
			this->fp_pBuffer = nullptr;
			this->fp_AppendCharToStr(Pos, Char, Count);
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
			fp_pBuffer = fp_Local;
			fp_BufferSize = mc_LocalSize;
		}
		bool f_Begin()
		{
			return true;
		}
		int32 f_Reserve(int32 nUnits)
		{
			if (fp_pBuffer)
			{
				if (nUnits <= mc_LocalSize)
					return mc_LocalSize;
				fp_Spill();
			}
			return fp_Str.f_Reserve(nUnits);
		}
		DZelFormatInline void f_AppendText(int32 &Pos, uint32 Kind, const char *pUnits, int32 Count)
		{
			if (Kind == gc_KindLatin1 && fp_Fits(Pos, Count))
				return fp_Copy(Pos, pUnits, Count);
			fp_AppendTextSlow(Pos, Kind, pUnits, Count);
		}
		DZelFormatInline void f_AppendChar(int32 &Pos, char Char, int32 Count)
		{
			if (fp_Fits(Pos, Count))
				return fp_Fill(Pos, Char, Count);
			fp_AppendCharSlow(Pos, Char, Count);
		}
		DZelFormatInline void f_AppendLiteral(int32 &Pos, const char *pText, int32 Count)
		{
			if (fp_Fits(Pos, Count))
				return fp_Copy(Pos, pText, Count);
			fs_AppendLiteral(*this, Pos, pText, Count);
		}
		void f_Finish(int32 Pos)
		{
			if (fp_pBuffer)
			{
				// One block of just the text's size, and nothing to trim.
				if (fp_Len > 0)
					fp_Str = CStr(fp_Local, fp_Len, gc_KindLatin1);
				else
					fp_Str.f_Clear();
				return;
			}
			Pos = fp_Str.f_GetLen(); // what the string really holds, even after a cut
			if (Pos <= 0)
				fp_Str.f_Clear();
			else
				fp_Str.f_SetLengthAndTrim(Pos, 0);
		}

	private:
		char fp_Local[mc_LocalSize];

		// Moves the buffered text into the string; false (and full) when it did not all fit.
		bool fp_Spill()
		{
			fp_pBuffer = nullptr;
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
		DZelFormatOutOfLine void fp_AppendTextSlow(int32 &Pos, uint32 Kind, const char *pUnits, int32 Count)
		{
			if (fp_bFull || Count <= 0)
				return;
			if (fp_pBuffer && !fp_Spill(Pos))
				return;
			fp_AppendTextToStr(Pos, Kind, pUnits, Count);
		}
		DZelFormatOutOfLine void fp_AppendCharSlow(int32 &Pos, char Char, int32 Count)
		{
			if (fp_bFull || Count <= 0)
				return;
			if (fp_pBuffer && !fp_Spill(Pos))
				return;
			fp_AppendCharToStr(Pos, Char, Count);
		}
	};

	namespace NPrivate
	{
		constexpr char gf_Upper(char c)
		{
			return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
		}
		constexpr bool gf_IsDigit(char c)
		{
			return c >= '0' && c <= '9';
		}

		// The characters of the option syntax, one table lookup each.
		struct CFormatCharTable
		{
			static constexpr uint8 mc_EndsLetters = 1; // 0 * , } : no category or option letter
			static constexpr uint8 mc_Digit = 2;
			static constexpr uint8 mc_EndsOption = 4; // 0 , } : the end of one option's text
			static constexpr uint8 mc_EndsList = 8;   // 0 } : the end of the option list

			uint8 m_Class[256] = {};
			char m_Upper[256] = {};

			constexpr CFormatCharTable()
			{
				for (int i = 0; i < 256; ++i)
				{
					char c = char(i);
					m_Upper[i] = gf_Upper(c);
					if (c == 0 || c == '*' || c == ',' || c == '}')
						m_Class[i] |= mc_EndsLetters;
					if (gf_IsDigit(c))
						m_Class[i] |= mc_Digit;
					if (c == 0 || c == ',' || c == '}')
						m_Class[i] |= mc_EndsOption;
					if (c == 0 || c == '}')
						m_Class[i] |= mc_EndsList;
				}
			}
			uint8 f_Class(char c) const
			{
				return m_Class[uint8(c)];
			}
		};
		inline constexpr CFormatCharTable gc_FormatChars;

		// Reads one option at p and leaves p at the ',' or '}' (or end) that follows it.
		DZelFormatInline COption gf_NextOption(const char *&p)
		{
			CFormatCharTable const &Chars = gc_FormatChars;
			COption Option;
			char c = *p;
			Option.f_pArgument = p;
			if (c == ' ')
				++p; // an option that begins with a space is ignored whole
			else if (!(Chars.f_Class(c) & CFormatCharTable::mc_EndsLetters))
			{
				Option.f_Category = Chars.m_Upper[uint8(c)];
				char c2 = p[1];
				if (Chars.f_Class(c2) & (CFormatCharTable::mc_Digit | CFormatCharTable::mc_EndsLetters))
					Option.f_pArgument = p + 1;
				else if (c2 == ' ')
					Option.f_pArgument = p + 2;
				else
				{
					Option.f_Option = Chars.m_Upper[uint8(c2)];
					Option.f_pArgument = p + 2;
				}
				p = Option.f_pArgument;
			}
			while (!(Chars.f_Class(*p) & CFormatCharTable::mc_EndsOption))
				++p;
			return Option;
		}

		inline const char gc_UnknownOption[] = "| format specifier unknown (";

		template <typename t_CStr>
		DZelFormatOutOfLine void gf_AppendUnknownOption(t_CStr &Out, int32 &Pos, char Category, char Letter)
		{
			Out.f_AppendText(Pos, gc_KindLatin1, gc_UnknownOption, int32(sizeof(gc_UnknownOption) - 1));
			char Marker[5];
			int32 n = 0;
			Marker[n++] = Category;
			if (Letter)
				Marker[n++] = Letter;
			Marker[n++] = ')';
			Marker[n++] = ' ';
			Marker[n++] = '|';
			Out.f_AppendText(Pos, gc_KindLatin1, Marker, n);
		}

		// Runs the option list at p (up to its '}' or the end of the text): fApply(Option)
		// applies one option and says whether the type knows it; an unknown option leaves its
		// marker in the output.
		// Returns where the list ended, and in bSameEveryTime whether parsing it again would give
		// the same: false when it left a marker or an option argument names an argument ("*").
		template <typename t_COutput, typename t_FApply>
		DZelFormatInline const char *gf_ParseOptions(t_COutput &Out, int32 &Pos, const char *p, bool &bSameEveryTime, t_FApply &&fApply)
		{
			bSameEveryTime = true;
			while (!(gc_FormatChars.f_Class(*p) & CFormatCharTable::mc_EndsList))
			{
				COption Option = gf_NextOption(p);
				if (Option.f_Category)
				{
					if (*Option.f_pArgument == '*')
						bSameEveryTime = false;
					if (!fApply(Option))
					{
						gf_AppendUnknownOption(Out, Pos, Option.f_Category, Option.f_Option);
						bSameEveryTime = false;
					}
				}
				if (*p == ',')
					++p;
			}
			return p;
		}

		// True when the option list at p is the one in Memo, up to the end of the list.
		inline bool gf_IsMemoText(const char *p, const CFormatOptionsMemo &Memo)
		{
			const char *pMemo = Memo.m_pText;
			for (int32 i = 0; i < Memo.m_Len; ++i)
			{
				if (p[i] != pMemo[i])
					return false;
			}
			return gc_FormatChars.f_Class(p[Memo.m_Len]) & CFormatCharTable::mc_EndsList;
		}

		// The options record of the option list at p, for an argument of the type that pType
		// names: parsed (fApply(Record, Option) applies one option), unless the same option list
		// was parsed for the same type last in this conversion; the fields of a time stamp, all
		// "sj2,sf0", are parsed once. A list that left a marker or names an argument ("*") is
		// parsed every time. The record lives in the output and must not be changed.
		template <typename t_COptions, typename t_COutput, typename t_FApply>
		DZelFormatInline t_COptions &gf_ParseOptionsOnce(t_COutput &Out, int32 &Pos, const char *p, const void *pType, t_FApply &&fApply)
		{
			static_assert(sizeof(t_COptions) <= sizeof(CFormatOptionsMemo::m_Record) && alignof(t_COptions) <= 8);
			static_assert(std::is_trivially_copyable_v<t_COptions> && std::is_trivially_destructible_v<t_COptions>);
			CFormatOptionsMemo &Memo = Out.f_GetOptionsMemo();
			if (Memo.m_pType == pType && gf_IsMemoText(p, Memo))
			{
				Out.f_SetOptionsEnd(p + Memo.m_Len);
				return *std::launder(reinterpret_cast<t_COptions *>(Memo.m_Record));
			}
			t_COptions &Options = *new (Memo.m_Record) t_COptions();
			Memo.m_pType = nullptr;
			bool bSameEveryTime;
			const char *pEnd = gf_ParseOptions(Out, Pos, p, bSameEveryTime, [&](const COption &Option) { return fApply(Options, Option); });
			Out.f_SetOptionsEnd(pEnd);
			if (bSameEveryTime)
			{
				Memo.m_pText = p;
				Memo.m_Len = int32(pEnd - p);
				Memo.m_pType = pType;
			}
			return Options;
		}

		// The aligned layout of gf_Justify.
		template <typename t_CStr>
		DZelFormatOutOfLine void gf_JustifyAligned(t_CStr &Out, int32 &Pos, const char *pText, int32 Len, uint32 Kind, const CFormatOptions &Options)
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

		// Appends Len units of pText, of the given kind, as the options place it. The plain
		// layout: fill characters in front up to the minimum length, or the text cut to the
		// maximum length (its rightmost units, or its leftmost with keep left).
		template <typename t_CStr>
		DZelFormatInline void gf_Justify(t_CStr &Out, int32 &Pos, const char *pText, int32 Len, uint32 Kind, const CFormatOptions &Options)
		{
			if (!Options.f_PlainJustify)
			{
				// A copy, so that the caller's record need not live in memory for this rare path.
				CFormatOptions const Copy = Options;
				return gf_JustifyAligned(Out, Pos, pText, Len, Kind, Copy);
			}
			if (Len < Options.f_MinLength)
			{
				Out.f_AppendChar(Pos, Options.f_Fill, Options.f_MinLength - Len);
				Out.f_AppendText(Pos, Kind, pText, Len);
				return;
			}
			int32 Max = Options.f_MaxLength;
			if (Len > Max)
			{
				if (Max <= 0)
					return;
				if (!Options.f_KeepLeft)
					pText += Len - Max;
				Len = Max;
			}
			Out.f_AppendText(Pos, Kind, pText, Len);
		}
	}
}
