#pragma once
// Argument wrappers of the format engine. Each wrapper holds one argument (integers by value,
// strings by reference) and knows how to parse the options of its placeholder and append the
// formatted value. The virtual slots are, in order: destructor, f_Release, f_Format, f_Query,
// f_GetInt, f_GetFloat, f_GetDouble, f_HandleOption, f_GetObjectSize.
#include "zel/library/core/general/Zel_Format_Options.h"
#include "zel/library/core/general/Zel_Memory.h"

#include <type_traits>

namespace NZel::NStr
{
	class CStrFormatType
	{
	public:
		explicit CStrFormatType(bool bHeapAllocated) : fp_bHeapAllocated(bHeapAllocated ? 1u : 0u)
		{
		}
		virtual ~CStrFormatType() = default;
		// In-place release for wrappers that hold something; none of ours does.
		virtual void f_Release()
		{
		}
		bool f_IsHeapAllocated() const
		{
			return fp_bHeapAllocated != 0;
		}

	protected:
		CStrFormatType(const CStrFormatType &) = default;
		uint32 fp_bHeapAllocated;
	};

	template <typename t_CTraits, typename t_CCollector>
	class TICStrFormatType : public CStrFormatType
	{
	public:
		using CStrType = typename t_CTraits::CStrType;
		using CStrFormatType::CStrFormatType;

		// Parses this placeholder's options (pOptions: the text after the index) and appends
		// the formatted value to the output.
		virtual void f_Format(TCFormatOutput<CStrType> &Out, const char *pOptions, t_CCollector &Collector) = 0;
		virtual int32 f_Query()
		{
			return 0;
		}
		virtual int32 f_GetInt() = 0;
		virtual float f_GetFloat() = 0;
		virtual double f_GetDouble() = 0;
		// Applies one option to the record; false when this type does not know it.
		virtual bool f_HandleOption(CFormatOptions &Options, const COption &Option, t_CCollector &Collector)
		{
			return fp_HandleCommonOption(Options, Option, Collector);
		}
		virtual int32 f_GetObjectSize() = 0;

	protected:
		DZelFormatInline static bool fp_HandleCommonOption(CFormatOptions &Options, const COption &Option, t_CCollector &Collector)
		{
			const char *pArg = Option.f_pArgument;
			switch (Option.f_Category)
			{
			case 'L':
				if (Option.f_Option)
					return false;
				Options.f_MinLength = Collector.f_ReadNumber(pArg, 0);
				return true;
			case 'M':
				if (Option.f_Option)
					return false;
				Options.f_MaxLength = Collector.f_ReadNumber(pArg, 2147483647);
				return true;
			case 'S':
				switch (Option.f_Option)
				{
				case 'L':
					Options.f_MinLength = Collector.f_ReadNumber(pArg, 0);
					return true;
				case 'M':
					Options.f_MaxLength = Collector.f_ReadNumber(pArg, 2147483647);
					return true;
				case 'J':
				case 'Z':
					Options.f_MinLength = Options.f_MaxLength = Collector.f_ReadNumber(pArg, 0);
					return true;
				case 'F':
					if (*pArg)
						Options.f_Fill = *pArg;
					return true;
				default:
					return false;
				}
			case 'A':
				if (Option.f_Option == '-')
				{
					Options.f_AlignAmount = Collector.f_ReadNumber(pArg, 0);
					Options.f_KeepLeft = 1;
					Options.f_PlainJustify = 0;
					return true;
				}
				if (Option.f_Option == '+')
				{
					Options.f_AlignAmount = Collector.f_ReadNumber(pArg, 0);
					Options.f_PlainJustify = Options.f_AlignAmount != 0;
					return true;
				}
				return false;
			default:
				return false;
			}
		}
	};

	namespace NPrivate
	{
		inline constexpr char gc_DigitPairs[] = "0001020304050607080910111213141516171819202122232425262728293031323334353637383940414243444546474849"
												"5051525354555657585960616263646566676869707172737475767778798081828384858687888990919293949596979899";
		inline constexpr char gc_DigitsLower[] = "0123456789abcdefghijklmnopqrstuvwxyz";
		inline constexpr char gc_DigitsUpper[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

		// The two hexadecimal digits of every byte, lower and upper case.
		struct CHexPairs
		{
			char m_Lower[512] = {};
			char m_Upper[512] = {};
			constexpr CHexPairs()
			{
				for (int i = 0; i < 256; ++i)
				{
					m_Lower[2 * i] = gc_DigitsLower[i >> 4];
					m_Lower[2 * i + 1] = gc_DigitsLower[i & 15];
					m_Upper[2 * i] = gc_DigitsUpper[i >> 4];
					m_Upper[2 * i + 1] = gc_DigitsUpper[i & 15];
				}
			}
		};
		inline constexpr CHexPairs gc_HexPairs;

		// Writes the digits of Magnitude (not 0) in Base (2 to 36) backwards, ending at pEnd;
		// returns where they begin. Bases 8 to 10 put Separator (when not 0) between groups of
		// three digits.
		template <typename t_CUnsigned>
		DZelFormatInline char *gf_WriteDigits(char *pEnd, t_CUnsigned Magnitude, t_CUnsigned Base, bool bUpper, char Separator)
		{
			char *p = pEnd;
			const char *pDigits = bUpper ? gc_DigitsUpper : gc_DigitsLower;
			bool bGroup = Separator && Base >= 8 && Base <= 10;
			if (Base == 10 && !bGroup)
			{
				// Two digits per division by a constant, which the compiler turns into a multiply.
				while (Magnitude >= 100)
				{
					unsigned Pair = unsigned(Magnitude % 100) * 2;
					Magnitude /= 100;
					p -= 2;
					p[0] = gc_DigitPairs[Pair];
					p[1] = gc_DigitPairs[Pair + 1];
				}
				if (Magnitude >= 10)
				{
					unsigned Pair = unsigned(Magnitude) * 2;
					p -= 2;
					p[0] = gc_DigitPairs[Pair];
					p[1] = gc_DigitPairs[Pair + 1];
				}
				else
					*--p = char('0' + unsigned(Magnitude));
			}
			else if (Base == 16)
			{
				// A byte, two digits, at a time.
				const char *pPairs = bUpper ? gc_HexPairs.m_Upper : gc_HexPairs.m_Lower;
				for (; Magnitude >= 16; Magnitude >>= 8)
				{
					unsigned Pair = unsigned(Magnitude & 255) * 2;
					p -= 2;
					p[0] = pPairs[Pair];
					p[1] = pPairs[Pair + 1];
				}
				if (Magnitude)
					*--p = pDigits[unsigned(Magnitude)];
			}
			else
			{
				for (int32 nDigits = 0; Magnitude; ++nDigits)
				{
					if (bGroup && nDigits && nDigits % 3 == 0)
						*--p = Separator;
					*--p = pDigits[unsigned(Magnitude % Base)];
					Magnitude /= Base;
				}
			}
			return p;
		}
	}

	// Integers: t_CValue is one of int32, uint32, int64, uint64 (smaller types are widened
	// when they are added).
	template <typename t_CTraits, typename t_CCollector, typename t_CValue>
	class TCStrFormatType_Int final : public TICStrFormatType<t_CTraits, t_CCollector>
	{
		using CBase = TICStrFormatType<t_CTraits, t_CCollector>;
		using CUnsigned = std::make_unsigned_t<t_CValue>;
		using CBaseType = std::conditional_t<sizeof(t_CValue) == 8, uint64, uint32>;
		using COptions = TCFormatOptionsInt<CBaseType>;

	public:
		using typename CBase::CStrType;

		TCStrFormatType_Int(t_CValue Value, bool bHeapAllocated) : CBase(bHeapAllocated), fp_Value(Value)
		{
		}

		void f_Format(TCFormatOutput<CStrType> &Out, const char *pOptions, t_CCollector &Collector) override
		{
			COptions const &Options = NPrivate::gf_ParseOptionsOnce<COptions>(Out, pOptions, &fs_OptionsType,
				[&](COptions &Parsed, const COption &Option) { return fs_ApplyOption(Parsed, Option, Collector); });
			// 64 binary digits, a sign, and room for separators of the grouped bases.
			char Buffer[96];
			char *pEnd = Buffer + sizeof(Buffer);
			char *p = pEnd;
			CUnsigned Magnitude = CUnsigned(fp_Value);
			bool bNegative = false; // the record of the options stays as parsed: it may be used again
			if constexpr (std::is_signed_v<t_CValue>)
			{
				if (fp_Value < 0)
				{
					bNegative = true;
					Magnitude = CUnsigned(0) - CUnsigned(fp_Value);
				}
			}
			if (Magnitude == 0)
				*--p = '0';
			else
			{
				p = NPrivate::gf_WriteDigits(pEnd, Magnitude, CUnsigned(Options.f_Base), Options.f_UpperDigits != 0, Options.f_GroupSeparator);
				if (bNegative)
					*--p = '-';
				else if (Options.f_ForceSign)
					*--p = '+';
			}
			if (bNegative && !Options.f_PlainJustify)
			{
				// The aligned layout moves a negative value's padding by one.
				CFormatOptions Aligned = Options;
				Aligned.f_Negative = 1;
				NPrivate::gf_Justify(Out, p, int32(pEnd - p), gc_KindLatin1, Aligned);
			}
			else
				NPrivate::gf_Justify(Out, p, int32(pEnd - p), gc_KindLatin1, Options);
		}
		int32 f_GetInt() override
		{
			return int32(uint32(fp_Value));
		}
		float f_GetFloat() override
		{
			return float(fp_Value);
		}
		double f_GetDouble() override
		{
			return double(fp_Value);
		}
		bool f_HandleOption(CFormatOptions &Options, const COption &Option, t_CCollector &Collector) override
		{
			return fs_ApplyOption(Options, Option, Collector);
		}
		int32 f_GetObjectSize() override
		{
			return int32(sizeof(*this));
		}

	private:
		t_CValue fp_Value;

		// Names this type's option records (by its address) for gf_ParseOptionsOnce.
		inline static char fs_OptionsType = 0;

		// The options of an integer; f_Format calls this directly, the virtual slot for others.
		DZelFormatInline static bool fs_ApplyOption(CFormatOptions &OptionsBase, const COption &Option, t_CCollector &Collector)
		{
			if (Option.f_Category != 'N')
				return CBase::fp_HandleCommonOption(OptionsBase, Option, Collector);
			COptions &Options = static_cast<COptions &>(OptionsBase);
			const char *pArg = Option.f_pArgument;
			switch (Option.f_Option)
			{
			case '+':
				Options.f_ForceSign = 1;
				return true;
			case 'B':
				Options.f_Base = 2;
				return true;
			case 'O':
				Options.f_Base = 8;
				return true;
			case 'H':
				Options.f_Base = 16;
				return true;
			case 'F':
			{
				int32 Base;
				switch (NPrivate::gf_Upper(*pArg))
				{
				case 'B':
					Base = 2;
					break;
				case 'O':
					Base = 8;
					break;
				case 'N':
					Base = 10;
					break;
				case 'H':
					Base = 16;
					break;
				default:
					Base = Collector.f_ReadNumber(pArg, 10);
					break;
				}
				Options.f_Base = CBaseType(Base < 2 ? 2 : Base > 36 ? 36 : Base);
				return true;
			}
			case 'C':
				Options.f_UpperDigits = *pArg != '0';
				return true;
			case 'S':
				Options.f_GroupSeparator = *pArg;
				return true;
			case 'T':
				Options.f_GroupSeparator = char(Collector.f_ReadNumber(pArg, 0));
				return true;
			default:
				return false;
			}
		}
	};

	namespace NPrivate
	{
		// The integer value of a text, for a string given where "*" expects a number.
		int32 gf_TextToInt(const char *pText, int32 Len);
		double gf_TextToDouble(const char *pText, int32 Len);

		// Shared body of the string wrappers.
		template <typename t_CStr>
		void gf_FormatText(t_CStr &Out, const char *pText, int32 Len, uint32 Kind, const CFormatOptionsStr &Options)
		{
			if (!Options.f_CaseConversion || Len <= 0)
			{
				gf_Justify(Out, pText, Len, Kind, Options);
				return;
			}
			char Local[512];
			char *pScratch = Local;
			if (Len + 1 > int32(sizeof(Local)))
			{
				pScratch = static_cast<char *>(NMemory::CAllocator_Heap::f_Alloc(umint(Len) + 1));
				if (!pScratch)
				{
					// No room to convert: the text goes out as it is rather than not at all.
					gf_Justify(Out, pText, Len, Kind, Options);
					return;
				}
			}
			for (int32 i = 0; i < Len; ++i)
			{
				unsigned char c = static_cast<unsigned char>(pText[i]);
				if (Options.f_CaseConversion == 1 && ((c >= 'a' && c <= 'z') || c >= 0xE0))
					c = static_cast<unsigned char>(c - 0x20);
				else if (Options.f_CaseConversion == 2 && ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDF)))
					c = static_cast<unsigned char>(c + 0x20);
				pScratch[i] = char(c);
			}
			pScratch[Len] = 0;
			gf_Justify(Out, pScratch, Len, Kind, Options);
			if (pScratch != Local)
				NMemory::CAllocator_Heap::f_Free(pScratch);
		}
	}

	// Common part of the two string wrappers: options of category C, the numeric readings.
	template <typename t_CTraits, typename t_CCollector>
	class TICStrFormatType_Text : public TICStrFormatType<t_CTraits, t_CCollector>
	{
		using CBase = TICStrFormatType<t_CTraits, t_CCollector>;

	public:
		using typename CBase::CStrType;
		using CBase::CBase;

		void f_Format(TCFormatOutput<CStrType> &Out, const char *pOptions, t_CCollector &Collector) override
		{
			fp_Format(Out, pOptions, Collector, fp_GetText(), fp_GetLen(), fp_GetKind());
		}
		int32 f_GetInt() override
		{
			return NPrivate::gf_TextToInt(fp_GetText(), fp_GetLen());
		}
		float f_GetFloat() override
		{
			return float(NPrivate::gf_TextToDouble(fp_GetText(), fp_GetLen()));
		}
		double f_GetDouble() override
		{
			return NPrivate::gf_TextToDouble(fp_GetText(), fp_GetLen());
		}
		bool f_HandleOption(CFormatOptions &Options, const COption &Option, t_CCollector &Collector) override
		{
			return fs_ApplyOption(Options, Option, Collector);
		}

	protected:
		virtual const char *fp_GetText() = 0;
		virtual int32 fp_GetLen() = 0;
		virtual uint32 fp_GetKind() = 0;

		// f_Format for the text the wrapper holds, which the final wrappers pass straight in.
		static void fp_Format(TCFormatOutput<CStrType> &Out, const char *pOptions, t_CCollector &Collector, const char *pText, int32 Len, uint32 Kind)
		{
			CFormatOptionsStr const &Options = NPrivate::gf_ParseOptionsOnce<CFormatOptionsStr>(Out, pOptions, &fs_OptionsType,
				[&](CFormatOptionsStr &Parsed, const COption &Option) { return fs_ApplyOption(Parsed, Option, Collector); });
			NPrivate::gf_FormatText(Out, pText, Len, Kind, Options);
		}

	private:
		inline static char fs_OptionsType = 0;

		DZelFormatInline static bool fs_ApplyOption(CFormatOptions &OptionsBase, const COption &Option, t_CCollector &Collector)
		{
			if (Option.f_Category != 'C')
				return CBase::fp_HandleCommonOption(OptionsBase, Option, Collector);
			CFormatOptionsStr &Options = static_cast<CFormatOptionsStr &>(OptionsBase);
			if (Option.f_Option == 'U')
				Options.f_CaseConversion = 1;
			else if (Option.f_Option == 'L')
				Options.f_CaseConversion = 2;
			else
				return false;
			return true;
		}
	};

	// A string object (CStr or a fixed string), held by reference.
	template <typename t_CTraits, typename t_CCollector, typename t_CArgTraits>
	class TCStrFormatType_TStr final : public TICStrFormatType_Text<t_CTraits, t_CCollector>
	{
		using CBase = TICStrFormatType_Text<t_CTraits, t_CCollector>;
		using CArg = typename t_CArgTraits::CStrType;

	public:
		using typename CBase::CStrType;

		TCStrFormatType_TStr(const CArg &Value, bool bHeapAllocated) : CBase(bHeapAllocated), fp_Value(Value)
		{
		}
		void f_Format(TCFormatOutput<CStrType> &Out, const char *pOptions, t_CCollector &Collector) override
		{
			CBase::fp_Format(Out, pOptions, Collector, fp_Value.f_GetStr(), fp_Value.f_GetLen(), fp_Value.f_GetKind());
		}
		int32 f_GetObjectSize() override
		{
			return int32(sizeof(*this));
		}

	protected:
		const char *fp_GetText() override
		{
			return fp_Value.f_GetStr();
		}
		int32 fp_GetLen() override
		{
			return fp_Value.f_GetLen();
		}
		uint32 fp_GetKind() override
		{
			return fp_Value.f_GetKind();
		}

	private:
		const CArg &fp_Value;
	};

	// A zero-terminated 8-bit text, measured when it is added (a null pointer is empty text).
	template <typename t_CTraits, typename t_CCollector, typename t_CChar>
	class TCStrFormatType_String final : public TICStrFormatType_Text<t_CTraits, t_CCollector>
	{
		using CBase = TICStrFormatType_Text<t_CTraits, t_CCollector>;

	public:
		using typename CBase::CStrType;

		TCStrFormatType_String(const t_CChar *pValue, bool bHeapAllocated)
			: CBase(bHeapAllocated), fp_Len(pValue ? gf_TextLength(pValue, 0x3FFFFFFF) : 0), fp_pValue(pValue ? pValue : "")
		{
		}
		void f_Format(TCFormatOutput<CStrType> &Out, const char *pOptions, t_CCollector &Collector) override
		{
			CBase::fp_Format(Out, pOptions, Collector, fp_pValue, fp_Len, gc_KindLatin1);
		}
		int32 f_GetObjectSize() override
		{
			return int32(sizeof(*this));
		}

	protected:
		const char *fp_GetText() override
		{
			return fp_pValue;
		}
		int32 fp_GetLen() override
		{
			return fp_Len;
		}
		uint32 fp_GetKind() override
		{
			return gc_KindLatin1;
		}

	private:
		int32 fp_Len;
		const t_CChar *fp_pValue;
	};

	// Which wrapper takes an argument of type t_CArg.
	template <typename t_CTraits, typename t_CCollector, typename t_CArg, typename = void>
	struct TCFormatWrapperFor
	{
		static_assert(sizeof(t_CArg) == 0, "no format wrapper for this argument type");
	};

	template <typename t_CTraits, typename t_CCollector, typename t_CArg>
	struct TCFormatWrapperFor<t_CTraits, t_CCollector, t_CArg,
		std::enable_if_t<std::is_integral_v<t_CArg> && !std::is_same_v<t_CArg, bool> && !std::is_same_v<t_CArg, char>>>
	{
		using CValue = std::conditional_t<sizeof(t_CArg) == 8,
			std::conditional_t<std::is_signed_v<t_CArg>, int64, uint64>,
			std::conditional_t<std::is_signed_v<t_CArg>, int32, uint32>>;
		using CType = TCStrFormatType_Int<t_CTraits, t_CCollector, CValue>;
	};

	template <typename t_CTraits, typename t_CCollector>
	struct TCFormatWrapperFor<t_CTraits, t_CCollector, CStr>
	{
		using CType = TCStrFormatType_TStr<t_CTraits, t_CCollector, CStrTraits_CStr>;
	};

	template <typename t_CTraits, typename t_CCollector, int32 t_Capacity>
	struct TCFormatWrapperFor<t_CTraits, t_CCollector, TCStrImp_Fixed<t_Capacity>>
	{
		using CType = TCStrFormatType_TStr<t_CTraits, t_CCollector, TCTCStrTraits_Fixed<t_Capacity>>;
	};

	template <typename t_CTraits, typename t_CCollector>
	struct TCFormatWrapperFor<t_CTraits, t_CCollector, char *>
	{
		using CType = TCStrFormatType_String<t_CTraits, t_CCollector, const char>;
	};

	template <typename t_CTraits, typename t_CCollector>
	struct TCFormatWrapperFor<t_CTraits, t_CCollector, const char *>
	{
		using CType = TCStrFormatType_String<t_CTraits, t_CCollector, const char>;
	};
}
