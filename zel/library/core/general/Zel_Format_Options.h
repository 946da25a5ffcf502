#pragma once
// The options of one placeholder: the record every wrapper fills, the tokenizer that splits the
// option list, and the two justification layouts that place a formatted value in the output.
#include "zel/library/core/general/Zel_Str.h"

#include <atomic>
#include <bit>
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

	// An option list that was parsed, for which type of argument: where its text was, its
	// length, and its text as words for a quick compare of lists up to 16 bytes long (the
	// first 8 bytes with those beyond its length masked off, and for a list longer than 8 its
	// last 8).
	struct CFormatOptionsKey
	{
		const char *m_pText = nullptr;
		int32 m_Len = 0;
		const void *m_pType = nullptr;
		uint64 m_Head = 0;
		uint64 m_HeadMask = 0;
		uint64 m_Tail = 0;
	};

	// The option list parsed last in one conversion and the record it gave.
	struct CFormatOptionsMemo
	{
		CFormatOptionsKey m_Key;
		alignas(8) unsigned char m_Record[64];
	};

	// What both outputs below share: the result string, whether it is full, and the buffer the
	// text is built in while it fits. Once the string could not take all of an append (a fixed
	// string is full, or a growing one could not get memory) everything after is dropped, so the
	// result is always the text that fitted, in order, without holes.
	//
	// The output keeps its own write position: while the text is built in the buffer, a write
	// pointer and the end of the room, so that an append that fits is one compare and a copy;
	// once the text lives in the string, a position in it.
	template <typename t_CStr>
	class TCFormatOutput;

	template <typename t_CStr>
	class TCFormatOutputTarget
	{
	public:
		explicit TCFormatOutputTarget(t_CStr &Str) : fp_Str(Str)
		{
		}
		// The appends, each at the output's write position: those that fit go straight into the
		// buffer, the others to the output's own slow paths.
		DZelFormatInline void f_AppendText(uint32 Kind, const char *pUnits, int32 Count)
		{
			if (fp_BuffersKind(Kind) && fp_Fits(Count))
				return fp_Copy(pUnits, Count);
			fp_Output().fp_AppendTextSlow(Kind, pUnits, Count);
		}
		DZelFormatInline void f_AppendChar(char Char, int32 Count)
		{
			if (fp_Fits(Count))
				return fp_Fill(Char, Count);
			fp_Output().fp_AppendCharSlow(Char, Count);
		}
		// nFill fill characters (nFill > 0), then the text.
		DZelFormatInline void f_AppendPadded(char Fill, int32 nFill, uint32 Kind, const char *pUnits, int32 Count)
		{
			if (fp_BuffersKind(Kind) && fp_Fits(nFill, Count))
			{
				fp_Fill(Fill, nFill);
				return fp_Copy(pUnits, Count);
			}
			f_AppendChar(Fill, nFill);
			f_AppendText(Kind, pUnits, Count);
		}
		DZelFormatInline void f_AppendLiteral(const char *pText, int32 Count)
		{
			if (fp_Fits(Count))
				return fp_Copy(pText, Count);
			fs_AppendLiteral(fp_Output(), pText, Count);
		}
		bool f_IsFull() const
		{
			return fp_bFull;
		}
		void f_SetFull()
		{
			fp_bFull = true;
		}
		// Units written so far.
		int32 f_GetPos() const
		{
			return fp_pBuffer ? int32(fp_pWrite - fp_pBuffer) : fp_StrPos;
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
		// While the text is built in a buffer it begins at fp_pBuffer, the next unit goes to
		// fp_pWrite, and fp_pLimit ends the room, the terminator's unit included. Once the text
		// has moved into the string all three are null (no append fits) and fp_StrPos is the
		// write position there.
		char *fp_pBuffer = nullptr;
		char *fp_pWrite = nullptr;
		char *fp_pLimit = nullptr;
		int32 fp_StrPos = 0;
		bool fp_bFull = false;
		const char *fp_pOptionsEnd = nullptr;
		CFormatOptionsMemo fp_Memo;

		TCFormatOutput<t_CStr> &fp_Output()
		{
			return static_cast<TCFormatOutput<t_CStr> &>(*this);
		}
		// Whether text of this kind is built in the buffer, or needs the string's conversions.
		static constexpr bool fp_BuffersKind(uint32 Kind)
		{
			return TCFormatOutput<t_CStr>::mc_bBuffersEveryKind || Kind == gc_KindLatin1;
		}
		void fp_StartBuffer(char *pBuffer, int32 Size)
		{
			fp_pBuffer = fp_pWrite = pBuffer;
			fp_pLimit = pBuffer + Size;
		}
		// Leaves the buffer; returns the units written in it.
		int32 fp_LeaveBuffer()
		{
			int32 Len = f_GetPos();
			fp_pBuffer = fp_pWrite = fp_pLimit = nullptr;
			return Len;
		}
		// A negative count never fits, and goes to the slow path that ignores it.
		DZelFormatInline bool fp_Fits(int32 Count) const
		{
			return umint(Count) < umint(fp_pLimit - fp_pWrite);
		}
		DZelFormatInline bool fp_Fits(int32 nFill, int32 Count) const
		{
			return umint(nFill) + umint(Count) < umint(fp_pLimit - fp_pWrite);
		}
		DZelFormatInline void fp_Copy(const char *pUnits, int32 Count)
		{
			NPrivate::gf_CopyBytes(fp_pWrite, pUnits, umint(Count));
			fp_pWrite += Count;
		}
		DZelFormatInline void fp_Fill(char Char, int32 Count)
		{
			char *pTo = fp_pWrite;
			if (Count > 8)
				std::memset(pTo, Char, umint(Count));
			else
			{
				for (int32 i = 0; i < Count; ++i)
					pTo[i] = Char;
			}
			fp_pWrite += Count;
		}

		// Appends into the string at its write position; full when the string took less than
		// Count.
		void fp_AppendTextToStr(uint32 Kind, const char *pUnits, int32 Count)
		{
			if (fp_bFull || Count <= 0)
				return;
			int32 Before = fp_StrPos;
			fp_Str.f_AppendText(fp_StrPos, Kind, pUnits, Count);
			fp_bFull = fp_StrPos - Before < Count;
		}
		void fp_AppendCharToStr(char Char, int32 Count)
		{
			if (fp_bFull || Count <= 0)
				return;
			int32 Before = fp_StrPos;
			fp_Str.f_AppendChar(fp_StrPos, Char, Count);
			fp_bFull = fp_StrPos - Before < Count;
		}
		// Literal text of the format, copied as far as the room goes (the growing string makes
		// room in steps of at least 32 units); what does not fit is dropped and the output is
		// full.
		template <typename t_COutput>
		DZelFormatOutOfLine static void fs_AppendLiteral(t_COutput &Out, const char *pText, int32 Count)
		{
			while (Count > 0)
			{
				int32 Pos = Out.f_GetPos();
				int32 Room = Out.f_Reserve(Pos + 32) - 1 - Pos;
				if (Room <= 0 || Out.fp_bFull)
				{
					Out.fp_bFull = true;
					return;
				}
				int32 n = Count < Room ? Count : Room;
				Out.f_AppendText(gc_KindLatin1, pText, n);
				pText += n;
				Count -= n;
			}
		}
	};

	// The engine's view of the result string: make room, append a run of text of a kind,
	// append a character n times, each at the output's write position. This one serves the
	// fixed strings, whose own buffer the text is built in; they hold bytes as given, whatever
	// their kind.
	template <typename t_CStr>
	class TCFormatOutput : public TCFormatOutputTarget<t_CStr>
	{
		friend class TCFormatOutputTarget<t_CStr>;

	public:
		static constexpr bool mc_bBuffersEveryKind = true;

		explicit TCFormatOutput(t_CStr &Str) : TCFormatOutputTarget<t_CStr>(Str)
		{
		}
		int32 f_Reserve(int32 nUnits)
		{
			return this->fp_Str.f_Reserve(nUnits);
		}
		// False when not even the terminator has room: the result stays empty.
		bool f_Begin()
		{
			if (this->fp_Str.f_Reserve(1) <= 0)
				return false;
			int32 Size = this->fp_Str.f_GetCapacity();
			if (char *pBuffer = this->fp_Str.f_GetWritableBuffer(0))
				this->fp_StartBuffer(pBuffer, Size);
			return true;
		}
		// Records the length of the finished text; an empty result holds nothing.
		void f_Finish()
		{
			int32 Pos = this->f_GetPos();
			if (Pos <= 0)
				this->fp_Str.f_Clear();
			else
				this->fp_Str.f_SetLengthAndTrim(Pos, 0);
		}

	private:
		// Beyond the room: the string's own append cuts and terminates.
		DZelFormatOutOfLine void fp_AppendTextSlow(uint32 Kind, const char *pUnits, int32 Count)
		{
			fp_LeaveForStr();
			this->fp_AppendTextToStr(Kind, pUnits, Count);
		}
		DZelFormatOutOfLine void fp_AppendCharSlow(char Char, int32 Count)
		{
			fp_LeaveForStr();
			this->fp_AppendCharToStr(Char, Count);
		}
		// The text written in the buffer is already the string's own.
		void fp_LeaveForStr()
		{
			if (this->fp_pBuffer)
				this->fp_StrPos = this->fp_LeaveBuffer();
		}
	};

	// For CStr results the text is built in a stack buffer and the string made once, at its
	// exact size, at the end: a typical message costs one heap allocation instead of a growing
	// and trimmed block. Longer texts, and texts of another kind (which need the conversions of
	// the string), move into the string and carry on there.
	template <>
	class TCFormatOutput<CStr> : public TCFormatOutputTarget<CStr>
	{
		friend class TCFormatOutputTarget<CStr>;

	public:
		static constexpr bool mc_bBuffersEveryKind = false;
		static constexpr int32 mc_LocalSize = 256;

		explicit TCFormatOutput(CStr &Str) : TCFormatOutputTarget<CStr>(Str)
		{
			fp_StartBuffer(fp_Local, mc_LocalSize);
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
		void f_Finish()
		{
			if (fp_pBuffer)
			{
				// One block of just the text's size, and nothing to trim.
				int32 Len = f_GetPos();
				if (Len > 0)
					fp_Str = CStr(fp_Local, Len, gc_KindLatin1);
				else
					fp_Str.f_Clear();
				return;
			}
			int32 Pos = fp_Str.f_GetLen(); // what the string really holds, even after a cut
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
			int32 Len = fp_LeaveBuffer();
			int32 Pos = 0;
			fp_Str.f_Clear();
			if (Len > 0)
				fp_Str.f_AppendText(Pos, gc_KindLatin1, fp_Local, Len);
			else
				fp_Str.f_Reserve(1);
			fp_StrPos = fp_Str.f_GetLen();
			if (Pos < Len)
			{
				fp_bFull = true;
				return false;
			}
			return true;
		}
		DZelFormatOutOfLine void fp_AppendTextSlow(uint32 Kind, const char *pUnits, int32 Count)
		{
			if (fp_bFull || Count <= 0)
				return;
			if (fp_pBuffer && !fp_Spill())
				return;
			fp_AppendTextToStr(Kind, pUnits, Count);
		}
		DZelFormatOutOfLine void fp_AppendCharSlow(char Char, int32 Count)
		{
			if (fp_bFull || Count <= 0)
				return;
			if (fp_pBuffer && !fp_Spill())
				return;
			fp_AppendCharToStr(Char, Count);
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

		// Whether c ends an option list ('}' or the end of the text).
		inline bool gf_EndsList(char c)
		{
			return gc_FormatChars.f_Class(c) & CFormatCharTable::mc_EndsList;
		}

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
		DZelFormatOutOfLine void gf_AppendUnknownOption(t_CStr &Out, char Category, char Letter)
		{
			Out.f_AppendText(gc_KindLatin1, gc_UnknownOption, int32(sizeof(gc_UnknownOption) - 1));
			char Marker[5];
			int32 n = 0;
			Marker[n++] = Category;
			if (Letter)
				Marker[n++] = Letter;
			Marker[n++] = ')';
			Marker[n++] = ' ';
			Marker[n++] = '|';
			Out.f_AppendText(gc_KindLatin1, Marker, n);
		}

		// Runs the option list at p (up to its '}' or the end of the text): fApply(Option)
		// applies one option and says whether the type knows it; an unknown option leaves its
		// marker in the output.
		// Returns where the list ended, and in bSameEveryTime whether parsing it again would give
		// the same: false when it left a marker or an option argument names an argument ("*").
		template <typename t_COutput, typename t_FApply>
		DZelFormatInline const char *gf_ParseOptions(t_COutput &Out, const char *p, bool &bSameEveryTime, t_FApply &&fApply)
		{
			bSameEveryTime = true;
			while (!gf_EndsList(*p))
			{
				COption Option = gf_NextOption(p);
				if (Option.f_Category)
				{
					if (*Option.f_pArgument == '*')
						bSameEveryTime = false;
					if (!fApply(Option))
					{
						gf_AppendUnknownOption(Out, Option.f_Category, Option.f_Option);
						bSameEveryTime = false;
					}
				}
				if (*p == ',')
					++p;
			}
			return p;
		}

		inline uint64 gf_Load8(const char *p)
		{
			uint64 Word;
			std::memcpy(&Word, p, 8);
			return Word;
		}
		// The same, where the text at p may be shorter than 8 bytes but the 8 bytes lie in its
		// page (gf_CanReadWords).
		__attribute__((no_sanitize("address"))) inline uint64 gf_Load8InPage(const char *p)
		{
			// A plain load rather than a copy, which the address checker would see.
			struct __attribute__((packed, may_alias)) CUnalignedWord
			{
				uint64 m_Value;
			};
			return reinterpret_cast<const CUnalignedWord *>(p)->m_Value;
		}

		// Whether the 16 bytes from p lie in p's page: every byte of a page that holds a
		// readable byte can be read, whatever the length of the text at p.
		inline bool gf_CanReadWords(const char *p)
		{
			constexpr umint PageSize = 4096;
			return (umint(p) & (PageSize - 1)) <= PageSize - 16;
		}

		// The key of the option list of Len bytes at p, parsed for the type pType.
		inline void gf_SetOptionsKey(CFormatOptionsKey &Key, const char *p, int32 Len, const void *pType)
		{
			static_assert(std::endian::native == std::endian::little);
			Key.m_pText = p;
			Key.m_Len = Len;
			Key.m_pType = pType;
			Key.m_HeadMask = Len >= 8 ? ~uint64(0) : (uint64(1) << (8 * Len)) - 1;
			if (gf_CanReadWords(p))
				Key.m_Head = gf_Load8InPage(p) & Key.m_HeadMask;
			else
			{
				char Head[8] = {};
				std::memcpy(Head, p, umint(Len < 8 ? Len : 8));
				Key.m_Head = gf_Load8(Head);
			}
			Key.m_Tail = Len > 8 ? gf_Load8(p + Len - 8) : 0;
		}

		// Whether the text at p begins with the key's text, compared as words (Key.m_Len at
		// most 16, gf_CanReadWords(p)); a shorter text at p is a mismatch.
		inline bool gf_IsKeyWords(const char *p, const CFormatOptionsKey &Key)
		{
			if ((gf_Load8InPage(p) & Key.m_HeadMask) != Key.m_Head)
				return false;
			return Key.m_Len <= 8 || gf_Load8InPage(p + Key.m_Len - 8) == Key.m_Tail;
		}

		// True when the option list at p is the key's, up to the end of the list.
		inline bool gf_IsKeyText(const char *p, const CFormatOptionsKey &Key)
		{
			int32 Len = Key.m_Len;
			if (Len <= 16 && gf_CanReadWords(p))
			{
				if (!gf_IsKeyWords(p, Key))
					return false;
			}
			else
			{
				const char *pKey = Key.m_pText;
				for (int32 i = 0; i < Len; ++i)
				{
					if (p[i] != pKey[i])
						return false;
				}
			}
			return gf_EndsList(p[Len]);
		}

		// Option lists parsed before, by where they are: most formats are texts of the program
		// that are converted again and again, so the list at the same place with the same text
		// for the same type of argument gives the same record. An entry is filled once, by the
		// first conversion that parses a list that falls to it, and never changes after: the
		// readers need no lock. Lists longer than 16 bytes are not kept.
		struct CFormatOptionsCacheEntry
		{
			static constexpr uint32 mc_Empty = 0;
			static constexpr uint32 mc_Filling = 1;
			static constexpr uint32 mc_Filled = 2;
			std::atomic<uint32> m_State{mc_Empty};
			CFormatOptionsKey m_Key;
			alignas(8) unsigned char m_Record[64];
		};
		// A place has two entries, as equal texts of a program are often one text converted
		// for two types of result. 512 entries hold the formats of a program many times over;
		// a list whose entries other lists took is parsed every time.
		struct CFormatOptionsCacheBucket
		{
			static constexpr umint mc_Ways = 2;
			CFormatOptionsCacheEntry m_Entries[mc_Ways];
		};
		inline constexpr umint gc_FormatOptionsCacheBuckets = 256;
		extern CFormatOptionsCacheBucket g_FormatOptionsCache[gc_FormatOptionsCacheBuckets];

		// The bucket of the lists at p, whatever the type of argument.
		inline CFormatOptionsCacheBucket &gf_FormatOptionsCacheBucket(const char *p)
		{
			static_assert(gc_FormatOptionsCacheBuckets == 256);
			uint64 Hash = uint64(umint(p)) * 0x9E3779B97F4A7C15ull;
			return g_FormatOptionsCache[Hash >> 56];
		}

		// Whether Entry holds the list at p for the type pType.
		inline bool gf_IsCachedHere(CFormatOptionsCacheEntry const &Entry, const char *p, const void *pType)
		{
			if (Entry.m_State.load(std::memory_order_acquire) != CFormatOptionsCacheEntry::mc_Filled)
				return false;
			CFormatOptionsKey const &Key = Entry.m_Key;
			return Key.m_pText == p && Key.m_pType == pType;
		}

		// The cache entry of the option list at p, or null.
		inline CFormatOptionsCacheEntry const *gf_FindCachedOptions(const char *p, const void *pType)
		{
			for (CFormatOptionsCacheEntry const &Entry : gf_FormatOptionsCacheBucket(p).m_Entries)
			{
				if (!gf_IsCachedHere(Entry, p, pType))
					continue;
				// The text at p may have changed since.
				CFormatOptionsKey const &Key = Entry.m_Key;
				if (!gf_CanReadWords(p) || !gf_IsKeyWords(p, Key) || !gf_EndsList(p[Key.m_Len]))
					return nullptr;
				return &Entry;
			}
			return nullptr;
		}

		// Keeps the memo's list in the cache when an entry of its place is still empty.
		DZelFormatOutOfLine void gf_CacheOptions(const CFormatOptionsMemo &Memo, umint RecordSize);

		// The options record of the option list at p, for an argument of the type that pType
		// names: parsed (fApply(Record, Option) applies one option), unless the same option list
		// was parsed for the same type last in this conversion (the fields of a time stamp, all
		// "sj2,sf0", are parsed once) or at the same place before. A list that left a marker or
		// names an argument ("*") is parsed every time. The record must not be changed.
		template <typename t_COptions, typename t_COutput, typename t_FApply>
		DZelFormatInline t_COptions const &gf_ParseOptionsOnce(t_COutput &Out, const char *p, const void *pType, t_FApply &&fApply)
		{
			static_assert(sizeof(t_COptions) <= sizeof(CFormatOptionsMemo::m_Record) && alignof(t_COptions) <= 8);
			static_assert(std::is_trivially_copyable_v<t_COptions> && std::is_trivially_destructible_v<t_COptions>);
			CFormatOptionsMemo &Memo = Out.f_GetOptionsMemo();
			if (Memo.m_Key.m_pType == pType && gf_IsKeyText(p, Memo.m_Key))
			{
				Out.f_SetOptionsEnd(p + Memo.m_Key.m_Len);
				return *std::launder(reinterpret_cast<t_COptions *>(Memo.m_Record));
			}
			if (CFormatOptionsCacheEntry const *pCached = gf_FindCachedOptions(p, pType))
			{
				Out.f_SetOptionsEnd(p + pCached->m_Key.m_Len);
				return *std::launder(reinterpret_cast<t_COptions const *>(pCached->m_Record));
			}
			t_COptions &Options = *new (Memo.m_Record) t_COptions();
			Memo.m_Key.m_pType = nullptr;
			bool bSameEveryTime;
			const char *pEnd = gf_ParseOptions(Out, p, bSameEveryTime, [&](const COption &Option) { return fApply(Options, Option); });
			Out.f_SetOptionsEnd(pEnd);
			if (bSameEveryTime)
			{
				gf_SetOptionsKey(Memo.m_Key, p, int32(pEnd - p), pType);
				if (pEnd - p <= 16)
					gf_CacheOptions(Memo, sizeof(t_COptions));
			}
			return Options;
		}

		// The aligned layout of gf_Justify.
		template <typename t_CStr>
		DZelFormatOutOfLine void gf_JustifyAligned(t_CStr &Out, const char *pText, int32 Len, uint32 Kind, const CFormatOptions &Options)
		{
			int32 Max = Options.f_MaxLength < 0 ? 0 : Options.f_MaxLength;
			auto fAppendCut = [&](int32 Room)
			{
				if (Room <= 0)
					return;
				if (Len > Room)
				{
					if (Options.f_KeepLeft)
						Out.f_AppendText(Kind, pText, Room);
					else
						Out.f_AppendText(Kind, pText + (Len - Room), Room);
				}
				else
					Out.f_AppendText(Kind, pText, Len);
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
			Out.f_AppendChar(Options.f_Fill, int32(Left));
			fAppendCut(int32(int64(Max) - Left - Right));
			Out.f_AppendChar(Options.f_Fill, int32(Right));
		}

		// Appends Len units of pText, of the given kind, as the options place it. The plain
		// layout: fill characters in front up to the minimum length, or the text cut to the
		// maximum length (its rightmost units, or its leftmost with keep left).
		template <typename t_CStr>
		DZelFormatInline void gf_Justify(t_CStr &Out, const char *pText, int32 Len, uint32 Kind, const CFormatOptions &Options)
		{
			if (!Options.f_PlainJustify)
			{
				// A copy, so that the caller's record need not live in memory for this rare path.
				CFormatOptions const Copy = Options;
				return gf_JustifyAligned(Out, pText, Len, Kind, Copy);
			}
			if (Len < Options.f_MinLength)
			{
				Out.f_AppendPadded(Options.f_Fill, Options.f_MinLength - Len, Kind, pText, Len);
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
			Out.f_AppendText(Kind, pText, Len);
		}
	}
}
