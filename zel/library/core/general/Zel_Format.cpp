#include "zel/library/core/general/Zel_Format.h"

namespace NZel::NStr::NPrivate
{
	namespace
	{
		int32 fg_DigitValue(char c)
		{
			if (c >= '0' && c <= '9')
				return c - '0';
			if (c >= 'a' && c <= 'z')
				return c - 'a' + 10;
			if (c >= 'A' && c <= 'Z')
				return c - 'A' + 10;
			return 99;
		}

		// Skips to the first sign or digit and reads the signs there; false when the text has
		// neither.
		bool fg_SkipToNumber(const char *&p, const char *pEnd, bool &bNegative, bool bAllowPoint)
		{
			while (p < pEnd && *p != '+' && *p != '-' && !(*p >= '0' && *p <= '9') && !(bAllowPoint && *p == '.'))
				++p;
			bNegative = false;
			while (p < pEnd && (*p == '+' || *p == '-'))
				bNegative = *p++ == '-';
			return p < pEnd;
		}
	}

	CFormatOptionsCacheBucket g_FormatOptionsCache[gc_FormatOptionsCacheBuckets];

	void gf_CacheOptions(const CFormatOptionsMemo &Memo, umint RecordSize)
	{
		CFormatOptionsKey const &Key = Memo.m_Key;
		for (CFormatOptionsCacheEntry &Entry : gf_FormatOptionsCacheBucket(Key.m_pText).m_Entries)
		{
			if (gf_IsCachedHere(Entry, Key.m_pText, Key.m_pType))
				return; // kept already, by another thread or for a text that has changed since
			uint32 Expected = CFormatOptionsCacheEntry::mc_Empty;
			if (!Entry.m_State.compare_exchange_strong(Expected, CFormatOptionsCacheEntry::mc_Filling, std::memory_order_acquire))
				continue;
			Entry.m_Key = Key;
			std::memcpy(Entry.m_Record, Memo.m_Record, RecordSize);
			Entry.m_State.store(CFormatOptionsCacheEntry::mc_Filled, std::memory_order_release);
			return;
		}
	}

	int32 gf_TextToInt(const char *pText, int32 Len)
	{
		if (!pText || Len <= 0)
			return 0;
		const char *p = pText;
		const char *pEnd = pText + Len;
		bool bNegative;
		if (!fg_SkipToNumber(p, pEnd, bNegative, false))
			return 0;
		uint32 Base = 10;
		if (pEnd - p >= 2 && p[0] == '0')
		{
			char Prefix = p[1];
			if (Prefix == 'b' || Prefix == 'B')
				Base = 2;
			else if (Prefix == 'o' || Prefix == 'O')
				Base = 8;
			else if (Prefix == 'x' || Prefix == 'X')
				Base = 16;
			if (Base != 10)
				p += 2;
		}
		uint32 Value = 0;
		for (; p < pEnd; ++p)
		{
			int32 Digit = fg_DigitValue(*p);
			if (Digit >= int32(Base))
				break;
			Value = Value * Base + uint32(Digit);
		}
		return int32(bNegative ? 0u - Value : Value);
	}

	double gf_TextToDouble(const char *pText, int32 Len)
	{
		if (!pText || Len <= 0)
			return 0.0;
		const char *p = pText;
		const char *pEnd = pText + Len;
		bool bNegative;
		if (!fg_SkipToNumber(p, pEnd, bNegative, true))
			return 0.0;
		double Mantissa = 0.0;
		int32 Exponent = 0;
		bool bDigits = false;
		for (; p < pEnd && *p >= '0' && *p <= '9'; ++p, bDigits = true)
			Mantissa = Mantissa * 10.0 + (*p - '0');
		if (p < pEnd && *p == '.')
		{
			for (++p; p < pEnd && *p >= '0' && *p <= '9'; ++p, bDigits = true)
			{
				Mantissa = Mantissa * 10.0 + (*p - '0');
				if (Exponent > -100000)
					--Exponent;
			}
		}
		if (!bDigits)
			return 0.0;
		if (p < pEnd && (*p == 'e' || *p == 'E'))
		{
			++p;
			bool bExpNegative = false;
			if (p < pEnd && (*p == '+' || *p == '-'))
				bExpNegative = *p++ == '-';
			int32 Written = 0;
			for (; p < pEnd && *p >= '0' && *p <= '9'; ++p)
				if (Written < 100000)
					Written = Written * 10 + (*p - '0');
			Exponent += bExpNegative ? -Written : Written;
		}
		// Beyond these the result is 0 or infinite anyway; the bound keeps the loop short.
		if (Exponent > 400)
			Exponent = 400;
		if (Exponent < -400)
			Exponent = -400;
		double Scale = 1.0;
		for (int32 i = 0; i < (Exponent < 0 ? -Exponent : Exponent); ++i)
			Scale *= 10.0;
		double Value = Exponent < 0 ? Mantissa / Scale : Mantissa * Scale;
		return bNegative ? -Value : Value;
	}
}
