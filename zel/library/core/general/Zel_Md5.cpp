#include "zel/library/core/general/Zel_Md5.h"

#include <cstring>

namespace NZel::NMd5
{
	namespace
	{
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

	// The 64 steps written out: the round functions and message indexes are then constants and
	// the compiler keeps the four state words in registers.
#define DZelMd5Step(Function, a, b, c, d, Word, Sine, Shift) \
	a += Function(b, c, d) + (Word) + (Sine);              \
	a = gf_RotateLeft(a, Shift) + b

	namespace
	{
		inline uint32 gf_F(uint32 x, uint32 y, uint32 z) { return z ^ (x & (y ^ z)); }
		inline uint32 gf_G(uint32 x, uint32 y, uint32 z) { return y ^ (z & (x ^ y)); }
		inline uint32 gf_H(uint32 x, uint32 y, uint32 z) { return x ^ y ^ z; }
		inline uint32 gf_I(uint32 x, uint32 y, uint32 z) { return y ^ (x | ~z); }
	}

	void CMd5::fp_Transform(const uint8 *pBlock)
	{
		uint32 X[16];
		for (int i = 0; i < 16; ++i)
			X[i] = gf_LoadLittle(pBlock + i * 4);

		uint32 a = fp_State[0];
		uint32 b = fp_State[1];
		uint32 c = fp_State[2];
		uint32 d = fp_State[3];

		DZelMd5Step(gf_F, a, b, c, d, X[0], 0xd76aa478, 7);
		DZelMd5Step(gf_F, d, a, b, c, X[1], 0xe8c7b756, 12);
		DZelMd5Step(gf_F, c, d, a, b, X[2], 0x242070db, 17);
		DZelMd5Step(gf_F, b, c, d, a, X[3], 0xc1bdceee, 22);
		DZelMd5Step(gf_F, a, b, c, d, X[4], 0xf57c0faf, 7);
		DZelMd5Step(gf_F, d, a, b, c, X[5], 0x4787c62a, 12);
		DZelMd5Step(gf_F, c, d, a, b, X[6], 0xa8304613, 17);
		DZelMd5Step(gf_F, b, c, d, a, X[7], 0xfd469501, 22);
		DZelMd5Step(gf_F, a, b, c, d, X[8], 0x698098d8, 7);
		DZelMd5Step(gf_F, d, a, b, c, X[9], 0x8b44f7af, 12);
		DZelMd5Step(gf_F, c, d, a, b, X[10], 0xffff5bb1, 17);
		DZelMd5Step(gf_F, b, c, d, a, X[11], 0x895cd7be, 22);
		DZelMd5Step(gf_F, a, b, c, d, X[12], 0x6b901122, 7);
		DZelMd5Step(gf_F, d, a, b, c, X[13], 0xfd987193, 12);
		DZelMd5Step(gf_F, c, d, a, b, X[14], 0xa679438e, 17);
		DZelMd5Step(gf_F, b, c, d, a, X[15], 0x49b40821, 22);

		DZelMd5Step(gf_G, a, b, c, d, X[1], 0xf61e2562, 5);
		DZelMd5Step(gf_G, d, a, b, c, X[6], 0xc040b340, 9);
		DZelMd5Step(gf_G, c, d, a, b, X[11], 0x265e5a51, 14);
		DZelMd5Step(gf_G, b, c, d, a, X[0], 0xe9b6c7aa, 20);
		DZelMd5Step(gf_G, a, b, c, d, X[5], 0xd62f105d, 5);
		DZelMd5Step(gf_G, d, a, b, c, X[10], 0x02441453, 9);
		DZelMd5Step(gf_G, c, d, a, b, X[15], 0xd8a1e681, 14);
		DZelMd5Step(gf_G, b, c, d, a, X[4], 0xe7d3fbc8, 20);
		DZelMd5Step(gf_G, a, b, c, d, X[9], 0x21e1cde6, 5);
		DZelMd5Step(gf_G, d, a, b, c, X[14], 0xc33707d6, 9);
		DZelMd5Step(gf_G, c, d, a, b, X[3], 0xf4d50d87, 14);
		DZelMd5Step(gf_G, b, c, d, a, X[8], 0x455a14ed, 20);
		DZelMd5Step(gf_G, a, b, c, d, X[13], 0xa9e3e905, 5);
		DZelMd5Step(gf_G, d, a, b, c, X[2], 0xfcefa3f8, 9);
		DZelMd5Step(gf_G, c, d, a, b, X[7], 0x676f02d9, 14);
		DZelMd5Step(gf_G, b, c, d, a, X[12], 0x8d2a4c8a, 20);

		DZelMd5Step(gf_H, a, b, c, d, X[5], 0xfffa3942, 4);
		DZelMd5Step(gf_H, d, a, b, c, X[8], 0x8771f681, 11);
		DZelMd5Step(gf_H, c, d, a, b, X[11], 0x6d9d6122, 16);
		DZelMd5Step(gf_H, b, c, d, a, X[14], 0xfde5380c, 23);
		DZelMd5Step(gf_H, a, b, c, d, X[1], 0xa4beea44, 4);
		DZelMd5Step(gf_H, d, a, b, c, X[4], 0x4bdecfa9, 11);
		DZelMd5Step(gf_H, c, d, a, b, X[7], 0xf6bb4b60, 16);
		DZelMd5Step(gf_H, b, c, d, a, X[10], 0xbebfbc70, 23);
		DZelMd5Step(gf_H, a, b, c, d, X[13], 0x289b7ec6, 4);
		DZelMd5Step(gf_H, d, a, b, c, X[0], 0xeaa127fa, 11);
		DZelMd5Step(gf_H, c, d, a, b, X[3], 0xd4ef3085, 16);
		DZelMd5Step(gf_H, b, c, d, a, X[6], 0x04881d05, 23);
		DZelMd5Step(gf_H, a, b, c, d, X[9], 0xd9d4d039, 4);
		DZelMd5Step(gf_H, d, a, b, c, X[12], 0xe6db99e5, 11);
		DZelMd5Step(gf_H, c, d, a, b, X[15], 0x1fa27cf8, 16);
		DZelMd5Step(gf_H, b, c, d, a, X[2], 0xc4ac5665, 23);

		DZelMd5Step(gf_I, a, b, c, d, X[0], 0xf4292244, 6);
		DZelMd5Step(gf_I, d, a, b, c, X[7], 0x432aff97, 10);
		DZelMd5Step(gf_I, c, d, a, b, X[14], 0xab9423a7, 15);
		DZelMd5Step(gf_I, b, c, d, a, X[5], 0xfc93a039, 21);
		DZelMd5Step(gf_I, a, b, c, d, X[12], 0x655b59c3, 6);
		DZelMd5Step(gf_I, d, a, b, c, X[3], 0x8f0ccc92, 10);
		DZelMd5Step(gf_I, c, d, a, b, X[10], 0xffeff47d, 15);
		DZelMd5Step(gf_I, b, c, d, a, X[1], 0x85845dd1, 21);
		DZelMd5Step(gf_I, a, b, c, d, X[8], 0x6fa87e4f, 6);
		DZelMd5Step(gf_I, d, a, b, c, X[15], 0xfe2ce6e0, 10);
		DZelMd5Step(gf_I, c, d, a, b, X[6], 0xa3014314, 15);
		DZelMd5Step(gf_I, b, c, d, a, X[13], 0x4e0811a1, 21);
		DZelMd5Step(gf_I, a, b, c, d, X[4], 0xf7537e82, 6);
		DZelMd5Step(gf_I, d, a, b, c, X[11], 0xbd3af235, 10);
		DZelMd5Step(gf_I, c, d, a, b, X[2], 0x2ad7d2bb, 15);
		DZelMd5Step(gf_I, b, c, d, a, X[9], 0xeb86d391, 21);

		fp_State[0] += a;
		fp_State[1] += b;
		fp_State[2] += c;
		fp_State[3] += d;
	}

#undef DZelMd5Step

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
