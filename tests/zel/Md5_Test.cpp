#include "zel/library/core/general/Zel_Md5.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using NZel::NMd5::CDigest;
using NZel::NMd5::CMd5;

namespace
{
	std::string gf_Hex(const CDigest &Digest)
	{
		char Hex[33];
		Digest.f_ToHex(Hex);
		return Hex;
	}

	struct CVector
	{
		std::string m_Input;
		const char *m_pExpected;
	};

	// RFC 1321 appendix A.5, then lengths around the padding boundaries (55/56 bytes fit one
	// length block or not, 64 is exactly one block, 119/120 the same one block later).
	const CVector gc_Vectors[] = {
		{"", "d41d8cd98f00b204e9800998ecf8427e"},
		{"a", "0cc175b9c0f1b6a831c399e269772661"},
		{"abc", "900150983cd24fb0d6963f7d28e17f72"},
		{"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
		{"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
		{"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
		{"12345678901234567890123456789012345678901234567890123456789012345678901234567890", "57edf4a22be3c955ac49da2e2107b67a"},
		{std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
		{std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
		{std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
		{std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
		{std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
		{std::string(119, 'a'), "8a7bd0732ed6a28ce75f6dabc90e1613"},
		{std::string(120, 'a'), "5f61c0ccad4cac44c75ff505e1f1e537"},
		{std::string(128, 'a'), "e510683b3f5ffe4093d021808bc6ff70"},
	};
}

TEST(Md5, KnownVectorsInOneCall)
{
	for (const CVector &Vector : gc_Vectors)
		EXPECT_EQ(gf_Hex(CMd5::fs_Digest(Vector.m_Input.data(), Vector.m_Input.size())), Vector.m_pExpected)
			<< "input length " << Vector.m_Input.size();
}

TEST(Md5, SplitFeedingGivesTheSameDigest)
{
	// Every split point and several chunk sizes must agree with the one-call digest, so the
	// partial-block carry between updates is exercised at each offset within a block.
	for (const CVector &Vector : gc_Vectors)
	{
		for (size_t Chunk : {1u, 3u, 17u, 63u, 64u, 65u})
		{
			CMd5 Md5;
			for (size_t Offset = 0; Offset < Vector.m_Input.size(); Offset += Chunk)
			{
				size_t n = std::min(Chunk, Vector.m_Input.size() - Offset);
				Md5.f_Update(Vector.m_Input.data() + Offset, n);
			}
			EXPECT_EQ(gf_Hex(Md5.f_Finish()), Vector.m_pExpected) << "chunk " << Chunk << " length " << Vector.m_Input.size();
		}
	}
}

TEST(Md5, MillionLettersAndBinaryBytes)
{
	std::string Million(1000000, 'a');
	EXPECT_EQ(gf_Hex(CMd5::fs_Digest(Million.data(), Million.size())), "7707d6ae4e027c70eea2a935c2296f21");

	std::vector<NZel::uint8> Binary;
	for (int Round = 0; Round < 3; ++Round)
		for (int i = 0; i < 256; ++i)
			Binary.push_back(NZel::uint8(i));
	EXPECT_EQ(gf_Hex(CMd5::fs_Digest(Binary.data(), Binary.size())), "e6899eaaf06fd702f3ed3f988eb19362");
}

TEST(Md5, FinishStartsOverAndDigestsCompare)
{
	CMd5 Md5;
	Md5.f_Update("abc", 3);
	CDigest First = Md5.f_Finish();
	Md5.f_Update("abc", 3);
	CDigest Second = Md5.f_Finish();
	EXPECT_EQ(First, Second);
	EXPECT_NE(First, CMd5::fs_Digest("abd", 3));
	EXPECT_EQ(gf_Hex(Md5.f_Finish()), "d41d8cd98f00b204e9800998ecf8427e");
}
