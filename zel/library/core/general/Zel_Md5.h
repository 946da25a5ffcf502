#pragma once
// MD5 message digest (RFC 1321). Used to tell whether two files hold the same bytes (the driver
// image beside the program against the one installed), not for anything security related.
#include "zel/library/core/general/Zel_Types.h"

namespace NZel::NMd5
{
	struct CDigest
	{
		uint8 m_Bytes[16] = {};

		bool operator==(const CDigest &Other) const;
		bool operator!=(const CDigest &Other) const { return !(*this == Other); }
		// 32 lower-case hexadecimal digits and a terminating zero.
		void f_ToHex(char (&pOut)[33]) const;
	};

	// Streaming digest: feed any number of blocks of any size, then finish once.
	class CMd5
	{
	public:
		CMd5();
		void f_Update(const void *pData, umint Size);
		// Pads, appends the bit length and returns the digest. The object starts over afterwards.
		CDigest f_Finish();

		static CDigest fs_Digest(const void *pData, umint Size);

	private:
		void fp_Reset();
		void fp_Transform(const uint8 *pBlock);

		uint32 fp_State[4];
		uint64 fp_TotalBytes;
		uint8 fp_Pending[64];
		uint32 fp_nPending;
	};
}
