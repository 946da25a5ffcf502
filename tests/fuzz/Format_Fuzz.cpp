// Random format texts with random typed arguments through all three output strings. Under
// ASan+UBSan any out-of-bounds access or overflow aborts; the checks below abort on results
// that break the engine's promises (terminated, within the fixed capacities, the fixed outputs
// a prefix of the growing one).
#include "zel/library/core/general/Zel_Format.h"
#include "zel/library/core/general/Zel_Memory.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace NZel;
using namespace NZel::NStr;

namespace
{
	struct CReader
	{
		const uint8_t *p;
		size_t Left;

		uint8_t f_Byte()
		{
			if (!Left)
				return 0;
			--Left;
			return *p++;
		}
		uint64_t f_Bytes(int n)
		{
			uint64_t Value = 0;
			for (int i = 0; i < n; ++i)
				Value = (Value << 8) | f_Byte();
			return Value;
		}
	};

	struct CArguments
	{
		std::vector<std::string> f_Texts;
		std::vector<CStr> f_Strings;
		std::vector<CFStr256> f_Fixed;
		std::vector<uint8_t> f_Types;
		std::vector<uint64_t> f_Values;
	};

	template <typename t_CFormat>
	void fg_Add(t_CFormat &Format, const CArguments &Args)
	{
		size_t iText = 0, iString = 0, iFixed = 0;
		for (size_t i = 0; i < Args.f_Types.size(); ++i)
		{
			uint64_t v = Args.f_Values[i];
			switch (Args.f_Types[i])
			{
			case 0: Format << int32(uint32(v)); break;
			case 1: Format << uint32(v); break;
			case 2: Format << int64(v); break;
			case 3: Format << uint64(v); break;
			case 4: Format << uint16(v); break;
			case 5: Format << uint8(v); break;
			case 6: Format << Args.f_Texts[iText++].c_str(); break;
			case 7: Format << static_cast<const char *>(nullptr); break;
			case 8: Format << Args.f_Strings[iString++]; break;
			default: Format << Args.f_Fixed[iFixed++]; break;
			}
		}
	}

	void fg_Check(bool bCondition)
	{
		if (!bCondition)
			std::abort();
	}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t Size)
{
	// Huge widths are legal format text; the limit keeps each run small and exercises the
	// paths where the result cannot grow.
	NMemory::CAllocator_Heap::fs_SetSizeLimit(1 << 16);

	CReader Reader{pData, Size};
	CArguments Args;
	int nArgs = Reader.f_Byte() % 40;
	Args.f_Texts.reserve(size_t(nArgs));
	Args.f_Strings.reserve(size_t(nArgs));
	Args.f_Fixed.reserve(size_t(nArgs));
	for (int i = 0; i < nArgs; ++i)
	{
		uint8_t Type = Reader.f_Byte() % 10;
		Args.f_Types.push_back(Type);
		uint64_t Value = 0;
		if (Type <= 5)
			Value = Reader.f_Bytes(Type == 2 || Type == 3 ? 8 : 4);
		else if (Type == 6 || Type == 8 || Type == 9)
		{
			std::string Text;
			int Len = Reader.f_Byte() % 24;
			for (int c = 0; c < Len; ++c)
			{
				char Char = char(Reader.f_Byte());
				Text += Char ? Char : '0';
			}
			if (Type == 6)
				Args.f_Texts.push_back(Text);
			else if (Type == 8)
				Args.f_Strings.emplace_back(Text.c_str());
			else
				Args.f_Fixed.emplace_back(Text.c_str());
		}
		Args.f_Values.push_back(Value);
	}
	std::string FormatText(reinterpret_cast<const char *>(Reader.p), Reader.Left);
	FormatText = FormatText.c_str(); // up to the first zero, as the engine sees it

	NZel::uint64 RefusedBefore = NMemory::CAllocator_Heap::fs_GetRefusedCount();
	CStr::CFormat Growing(FormatText.c_str());
	fg_Add(Growing, Args);
	CStr Result = Growing.f_ToString();
	fg_Check(Result.f_GetLen() == int32(std::strlen(Result.f_GetStr())));
	CStr Again = Growing.f_ToString();
	fg_Check(Again == Result);
	// A refused allocation cuts the growing result where it happened, at any length.
	bool bCut = NMemory::CAllocator_Heap::fs_GetRefusedCount() != RefusedBefore;

	CFStr256::CFormat Fixed(FormatText.c_str());
	fg_Add(Fixed, Args);
	CFStr256 FixedResult = Fixed.f_ToString();
	size_t FixedLen = std::strlen(FixedResult.f_GetStr());
	fg_Check(FixedLen <= 255);

	TCStrImp_Fixed<9>::CFormat Nine(FormatText.c_str());
	fg_Add(Nine, Args);
	TCStrImp_Fixed<9> NineResult = Nine.f_ToString();
	size_t NineLen = std::strlen(NineResult.f_GetStr());
	fg_Check(NineLen <= 8);

	// Every result is a beginning of the same text; without a cut of the growing one, the
	// fixed ones are exactly its first characters.
	size_t Len = size_t(Result.f_GetLen());
	fg_Check(std::memcmp(FixedResult.f_GetStr(), Result.f_GetStr(), std::min(FixedLen, Len)) == 0);
	fg_Check(std::memcmp(NineResult.f_GetStr(), Result.f_GetStr(), std::min(NineLen, Len)) == 0);
	if (!bCut)
	{
		fg_Check(FixedLen == (Len < 255 ? Len : 255));
		fg_Check(NineLen == (Len < 8 ? Len : 8));
	}
	return 0;
}
