#pragma once
// The placeholder formatter: CStr::CFormat("Added process {} with priority {}\r\n") << Name << Id
// gives a CStr (likewise CFStr256::CFormat and TCStrImp_Fixed<n>::CFormat). Every "{...}" is
// replaced by one argument, formatted with the comma-separated options inside the braces. The
// engine never fails: a missing argument or an unknown option leaves a visible marker.
//
// The collector lives on the caller's stack: the first 16 arguments go into an inline table and
// their wrappers into a 256-byte arena, so a typical message allocates nothing but its result.
// String arguments are held by reference and must outlive the conversion.
#include "zel/library/core/general/Zel_Str.h"
#include "zel/library/core/general/Zel_Format_Options.h"
#include "zel/library/core/general/Zel_Format_Types.h"
#include "zel/library/core/general/Zel_Memory.h"

#include <new>
#include <type_traits>

namespace NZel::NStr
{
	inline constexpr const char gc_FormatOutOfRange[] = "###format var out of range###";
	inline constexpr const char gc_FormatParseError[] = "###format var parse error###";
	// The explicit index that reports a parse error rather than a missing argument.
	inline constexpr int32 gc_FormatParseErrorIndex = -16324;

	namespace NPrivate
	{
		// After an index: spaces, then at most one comma.
		inline void gf_SkipIndexEnd(const char *&p)
		{
			while (*p == ' ')
				++p;
			if (*p == ',')
				++p;
		}
	}

	template <typename t_CTraits>
	class TCStrAggregate
	{
	public:
		using CStrType = typename t_CTraits::CStrType;
		class CFormat;
	};

	template <typename t_CTraits>
	class TCStrAggregate<t_CTraits>::CFormat
	{
	public:
		using CStrType = typename t_CTraits::CStrType;
		using CWrapper = TICStrFormatType<t_CTraits, CFormat>;

		static constexpr int32 mc_InlineEntries = 16;
		static constexpr uint32 mc_ArenaWords = 64;

		explicit CFormat(const char *pFormat) : fp_pFormat(pFormat)
		{
		}
		CFormat(const CFormat &) = delete;
		CFormat &operator=(const CFormat &) = delete;
		~CFormat()
		{
			// The wrappers own nothing (their destructors do no work), so those in the arena
			// are simply left; only heap wrappers and wrappers that ask for it are visited.
			for (int32 i = 0; i < fp_nArguments; ++i)
			{
				umint Entry = fp_pTable[i];
				if (Entry & 3)
					fp_DestroyEntry(Entry);
			}
			if (fp_pHeapTable)
				NMemory::CAllocator_Heap::f_Free(fp_pHeapTable);
		}

		// One overload per kind of argument; the caller adds them in the order in which
		// automatic placeholders take them.
		template <typename t_CArg>
		DZelFormatInline CFormat &f_AddArgument(const t_CArg &Arg)
		{
			using CType = typename TCFormatWrapperFor<t_CTraits, CFormat, t_CArg>::CType;
			fp_AddWrapper<CType>(Arg);
			return *this;
		}
		DZelFormatInline CFormat &f_AddArgument(const char *pText)
		{
			fp_AddWrapper<TCStrFormatType_String<t_CTraits, CFormat, const char>>(pText);
			return *this;
		}
		template <typename t_CArg>
		DZelFormatInline CFormat &operator<<(const t_CArg &Arg)
		{
			return f_AddArgument(Arg);
		}
		DZelFormatInline CFormat &operator<<(const char *pText)
		{
			return f_AddArgument(pText);
		}

		CStrType f_ToString();
		operator CStrType()
		{
			return f_ToString();
		}

		// For the wrappers: argument access and numeric option arguments.
		int32 f_GetArgumentCount() const
		{
			return fp_nArguments;
		}
		// Null when the index is outside the list or the argument could not be stored.
		CWrapper *f_GetArgument(int32 Index) const
		{
			if (Index < 0 || Index >= fp_nArguments)
				return nullptr;
			return reinterpret_cast<CWrapper *>(fp_pTable[Index] & ~umint(3));
		}
		int32 f_TakeNextArgument()
		{
			return fp_NextArgument++;
		}
		// A numeric option argument: "*" takes the next argument, "*<n>" argument n, and the
		// number is that argument's integer value (Default when it does not exist); otherwise
		// the leading decimal digits, 0 when there are none.
		DZelFormatInline int32 f_ReadNumber(const char *pText, int32 Default)
		{
			if (*pText == '*')
				return fp_ReadArgumentNumber(pText + 1, Default);
			return fg_ReadDigits(pText);
		}

		// Decimal digits in wrapping 32-bit arithmetic; advances pText past them.
		DZelFormatInline static int32 fg_ReadDigits(const char *&pText)
		{
			uint32 Value = 0;
			for (uint32 Digit = uint32(uint8(*pText)) - '0'; Digit <= 9; Digit = uint32(uint8(*++pText)) - '0')
				Value = Value * 10u + Digit;
			return int32(Value);
		}

	private:
		int32 fp_nArguments = 0;
		int32 fp_NextArgument = 0;
		umint *fp_pTable = fp_InlineTable;
		const char *fp_pFormat;
		umint fp_InlineTable[mc_InlineEntries];
		// Header (capacity, count) followed by the entries; null until the 17th argument.
		umint *fp_pHeapTable = nullptr;
		alignas(8) unsigned char fp_Arena[mc_ArenaWords * 4];
		uint32 fp_ArenaWordsUsed = 0;

		// The number of the argument that "*" (pText: the text after it) selects.
		DZelFormatOutOfLine int32 fp_ReadArgumentNumber(const char *pText, int32 Default)
		{
			int32 Index;
			if (*pText >= '0' && *pText <= '9')
				Index = fg_ReadDigits(pText);
			else
				Index = f_TakeNextArgument();
			CWrapper *pArg = f_GetArgument(Index);
			return pArg ? pArg->f_GetInt() : Default;
		}

		template <typename t_CWrapper, typename t_CValue>
		DZelFormatInline void fp_AddWrapper(const t_CValue &Value)
		{
			static_assert(alignof(t_CWrapper) <= 8);
			constexpr uint32 Words = uint32((sizeof(t_CWrapper) + 3) / 4);
			constexpr uint32 AlignWords = uint32(alignof(t_CWrapper) >= 4 ? alignof(t_CWrapper) / 4 : 1);
			uint32 Start = (fp_ArenaWordsUsed + AlignWords - 1) / AlignWords * AlignWords;
			umint Entry;
			if (Start + Words <= mc_ArenaWords)
			{
				Entry = reinterpret_cast<umint>(new (fp_Arena + Start * 4) t_CWrapper(Value, false));
				fp_ArenaWordsUsed = Start + Words;
			}
			else
				Entry = fp_AddHeapWrapper<t_CWrapper>(Value);
			if (fp_nArguments < mc_InlineEntries)
				fp_pTable[fp_nArguments++] = Entry;
			else
				fp_AppendEntry(Entry);
		}

		// A wrapper that no longer fits into the arena.
		template <typename t_CWrapper, typename t_CValue>
		DZelFormatOutOfLine umint fp_AddHeapWrapper(const t_CValue &Value)
		{
			void *pMem = NMemory::CAllocator_Heap::f_Alloc(sizeof(t_CWrapper));
			return pMem ? reinterpret_cast<umint>(new (pMem) t_CWrapper(Value, true)) | 1 : 0;
		}

		DZelFormatOutOfLine void fp_AppendEntry(umint Entry)
		{
			if (fp_nArguments >= mc_InlineEntries)
			{
				umint Capacity = fp_pHeapTable ? fp_pHeapTable[0] : umint(mc_InlineEntries);
				if (umint(fp_nArguments) >= Capacity)
				{
					umint NewCapacity = umint(fp_nArguments) * 2;
					void *pNew = NMemory::CAllocator_Heap::f_Alloc((NewCapacity + 2) * sizeof(umint));
					if (!pNew)
					{
						fp_DestroyEntry(Entry);
						return; // the argument is lost; it formats as out of range
					}
					umint *pTable = static_cast<umint *>(pNew);
					for (int32 i = 0; i < fp_nArguments; ++i)
						pTable[2 + i] = fp_pTable[i];
					if (fp_pHeapTable)
						NMemory::CAllocator_Heap::f_Free(fp_pHeapTable);
					fp_pHeapTable = pTable;
					fp_pHeapTable[0] = NewCapacity;
					fp_pTable = fp_pHeapTable + 2;
				}
				fp_pHeapTable[1] = umint(fp_nArguments) + 1;
			}
			fp_pTable[fp_nArguments++] = Entry;
		}

		void fp_DestroyEntry(umint Entry)
		{
			CWrapper *pWrapper = reinterpret_cast<CWrapper *>(Entry & ~umint(3));
			if (!pWrapper)
				return;
			if (Entry & 2)
				pWrapper->f_Release();
			pWrapper->~CWrapper();
			if (Entry & 1)
				NMemory::CAllocator_Heap::f_Free(pWrapper);
		}
	};

	template <typename t_CTraits>
	typename TCStrAggregate<t_CTraits>::CStrType TCStrAggregate<t_CTraits>::CFormat::f_ToString()
	{
		CStrType Result;
		TCFormatOutput<CStrType> Out(Result);
		fp_NextArgument = 0;
		if (!Out.f_Begin())
			return Result;
		const char *p = fp_pFormat ? fp_pFormat : "";
		while (*p)
		{
			// Literal text up to the next '{'; once the output is full it is dropped, but the
			// format text is still consumed.
			const char *pRunEnd = p;
			for (char c = *pRunEnd; c && c != '{'; c = *++pRunEnd)
			{
			}
			if (pRunEnd != p)
			{
				Out.f_AppendLiteral(p, int32(pRunEnd - p));
				p = pRunEnd;
			}
			if (!*p)
				break;
			++p; // the '{'
			if (!*p)
				break; // a '{' at the very end is dropped
			if (*p == '{')
			{
				Out.f_AppendText(gc_KindLatin1, "{", 1);
				++p;
				continue;
			}

			bool bExplicit = false;
			bool bMissing = false;
			int32 Index = 0;
			if (*p >= '0' && *p <= '9')
			{
				Index = fg_ReadDigits(p);
				bExplicit = true;
				NPrivate::gf_SkipIndexEnd(p);
			}
			else if (*p == '*')
			{
				++p;
				int32 Selector = (*p >= '0' && *p <= '9') ? fg_ReadDigits(p) : f_TakeNextArgument();
				NPrivate::gf_SkipIndexEnd(p);
				CWrapper *pSelector = f_GetArgument(Selector);
				if (!pSelector)
					bMissing = true;
				else
				{
					Index = pSelector->f_GetInt();
					bExplicit = Index >= 0;
				}
			}

			if (bMissing)
				Out.f_AppendText(gc_KindLatin1, gc_FormatOutOfRange, int32(sizeof(gc_FormatOutOfRange) - 1));
			else
			{
				if (!bExplicit)
					Index = f_TakeNextArgument();
				CWrapper *pArg = Index < 0 ? nullptr : f_GetArgument(Index);
				if (bExplicit && Index == gc_FormatParseErrorIndex)
					Out.f_AppendText(gc_KindLatin1, gc_FormatParseError, int32(sizeof(gc_FormatParseError) - 1));
				else if (!pArg)
					Out.f_AppendText(gc_KindLatin1, gc_FormatOutOfRange, int32(sizeof(gc_FormatOutOfRange) - 1));
				else
					pArg->f_Format(Out, p, *this);
			}
			// Past the '}' that ends the placeholder, found by the wrapper if it parsed options.
			if (const char *pEnd = Out.f_TakeOptionsEnd())
				p = pEnd;
			else
			{
				while (*p && *p != '}')
					++p;
			}
			if (*p)
				++p;
		}
		Out.f_Finish();
		return Result;
	}

	template <>
	class TCStr<char>::CFormat : public TCStrAggregate<CStrTraits_CStr>::CFormat
	{
	public:
		using TCStrAggregate<CStrTraits_CStr>::CFormat::CFormat;
	};

	template <int32 t_Capacity>
	class TCStrImp_Fixed<t_Capacity>::CFormat : public TCStrAggregate<TCTCStrTraits_Fixed<t_Capacity>>::CFormat
	{
	public:
		using TCStrAggregate<TCTCStrTraits_Fixed<t_Capacity>>::CFormat::CFormat;
	};
}
