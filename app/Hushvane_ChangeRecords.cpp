#include "app/Hushvane_ChangeRecords.h"

#include <cstring>

namespace NHushvane
{
	namespace
	{
		constexpr NZel::umint gc_HeaderSize = 12;

		NZel::uint32 fg_ReadUint32(const NZel::uint8 *p)
		{
			return NZel::uint32(p[0]) | NZel::uint32(p[1]) << 8 | NZel::uint32(p[2]) << 16 | NZel::uint32(p[3]) << 24;
		}

		NZel::uint32 fg_Fold(NZel::uint32 Unit)
		{
			return Unit >= 'A' && Unit <= 'Z' ? Unit + 32 : Unit;
		}

		bool fg_NameIs(const NZel::uint8 *pUnits, NZel::uint32 Bytes, const char *pName)
		{
			NZel::umint Length = std::strlen(pName);
			if (Bytes != Length * 2)
				return false;
			for (NZel::umint i = 0; i < Length; ++i)
			{
				NZel::uint32 Unit = NZel::uint32(pUnits[2 * i]) | NZel::uint32(pUnits[2 * i + 1]) << 8;
				if (fg_Fold(Unit) != fg_Fold(NZel::uint8(pName[i])))
					return false;
			}
			return true;
		}
	}

	bool gf_ChangeRecordsName(const NZel::uint8 *pRecords, NZel::umint Size, const char *pName)
	{
		NZel::umint Offset = 0;
		while (Size >= gc_HeaderSize && Offset <= Size - gc_HeaderSize)
		{
			const NZel::uint8 *pRecord = pRecords + Offset;
			NZel::uint32 Next = fg_ReadUint32(pRecord);
			NZel::uint32 NameBytes = fg_ReadUint32(pRecord + 8);
			if (NameBytes > Size - Offset - gc_HeaderSize)
				return false;
			if (fg_NameIs(pRecord + gc_HeaderSize, NameBytes, pName))
				return true;
			if (Next == 0)
				return false;
			Offset += Next;
		}
		return false;
	}
}
