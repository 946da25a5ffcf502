#include "zel/library/core/general/Zel_Md5.h"

#include <cstring>

namespace NZel::NMd5
{
	namespace
	{
		// Per-step shift amounts and the sine-derived constants of RFC 1321 section 3.4.
		constexpr uint32 gc_Shift[64] = {
			7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
			5, 9, 14, 20, 5, 9, 14, 20, 5, 9, 14, 20, 5, 9, 14, 20,
			4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
			6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

		constexpr uint32 gc_Sine[64] = {
			0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
			0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
			0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
			0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
			0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
			0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
			0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
			0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

		inline uint32 gf_RotateLeft(uint32 Value, uint32 Count)
		{
			return (Value << Count) | (Value >> (32 - Count));
		}

		// The digest is defined over little-endian words whatever the machine's byte order.
		inline uint32 gf_LoadLittle(const uint8 *p)
		{
			return uint32(p[0]) | (uint32(p[1]) << 8) | (uint32(p[2]) << 16) | (uint32(p[3]) << 24);
		}
	}

	bool CDigest::operator==(const CDigest &Other) const
	{
		return std::memcmp(m_Bytes, Other.m_Bytes, sizeof(m_Bytes)) == 0;
	}

	void CDigest::f_ToHex(char (&pOut)[33]) const
	{
		static const char gc_Digits[] = "0123456789abcdef";
		for (int i = 0; i < 16; ++i)
		{
			pOut[i * 2] = gc_Digits[m_Bytes[i] >> 4];
			pOut[i * 2 + 1] = gc_Digits[m_Bytes[i] & 0xF];
		}
		pOut[32] = 0;
	}

	CMd5::CMd5()
	{
		fp_Reset();
	}

	void CMd5::fp_Reset()
	{
		fp_State[0] = 0x67452301;
		fp_State[1] = 0xefcdab89;
		fp_State[2] = 0x98badcfe;
		fp_State[3] = 0x10325476;
		fp_TotalBytes = 0;
		fp_nPending = 0;
	}

	void CMd5::fp_Transform(const uint8 *pBlock)
	{
		uint32 Words[16];
		for (int i = 0; i < 16; ++i)
			Words[i] = gf_LoadLittle(pBlock + i * 4);

		uint32 A = fp_State[0];
		uint32 B = fp_State[1];
		uint32 C = fp_State[2];
		uint32 D = fp_State[3];
		for (uint32 i = 0; i < 64; ++i)
		{
			uint32 F;
			uint32 g;
			if (i < 16)
			{
				F = (B & C) | (~B & D);
				g = i;
			}
			else if (i < 32)
			{
				F = (D & B) | (~D & C);
				g = (5 * i + 1) & 15;
			}
			else if (i < 48)
			{
				F = B ^ C ^ D;
				g = (3 * i + 5) & 15;
			}
			else
			{
				F = C ^ (B | ~D);
				g = (7 * i) & 15;
			}
			uint32 Next = D;
			D = C;
			C = B;
			B = B + gf_RotateLeft(A + F + gc_Sine[i] + Words[g], gc_Shift[i]);
			A = Next;
		}
		fp_State[0] += A;
		fp_State[1] += B;
		fp_State[2] += C;
		fp_State[3] += D;
	}

	void CMd5::f_Update(const void *pData, umint Size)
	{
		const uint8 *pBytes = static_cast<const uint8 *>(pData);
		fp_TotalBytes += Size;
		if (fp_nPending)
		{
			umint nTake = 64 - fp_nPending;
			if (nTake > Size)
				nTake = Size;
			std::memcpy(fp_Pending + fp_nPending, pBytes, nTake);
			fp_nPending += uint32(nTake);
			pBytes += nTake;
			Size -= nTake;
			if (fp_nPending < 64)
				return;
			fp_Transform(fp_Pending);
			fp_nPending = 0;
		}
		for (; Size >= 64; Size -= 64, pBytes += 64)
			fp_Transform(pBytes);
		if (Size)
		{
			std::memcpy(fp_Pending, pBytes, Size);
			fp_nPending = uint32(Size);
		}
	}

	CDigest CMd5::f_Finish()
	{
		uint64 BitLength = fp_TotalBytes * 8;
		uint8 Padding[72] = {0x80};
		// Pad to 56 bytes mod 64, leaving room for the 8-byte length.
		umint nPad = fp_nPending < 56 ? 56 - fp_nPending : 120 - fp_nPending;
		uint8 Length[8];
		for (int i = 0; i < 8; ++i)
			Length[i] = uint8(BitLength >> (8 * i));
		f_Update(Padding, nPad);
		f_Update(Length, 8);

		CDigest Result;
		for (int i = 0; i < 4; ++i)
			for (int j = 0; j < 4; ++j)
				Result.m_Bytes[i * 4 + j] = uint8(fp_State[i] >> (8 * j));
		fp_Reset();
		return Result;
	}

	CDigest CMd5::fs_Digest(const void *pData, umint Size)
	{
		CMd5 Md5;
		Md5.f_Update(pData, Size);
		return Md5.f_Finish();
	}
}
