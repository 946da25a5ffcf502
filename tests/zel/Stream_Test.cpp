#include "zel/library/core/general/Zel_Stream_Memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using NZel::int64;
using NZel::uint8;
using NZel::NException::CException;
using NZel::NMemory::CAllocator_Heap;
using CMemoryStream = NZel::NStream::CBinaryStreamMemory<>;

namespace
{
	template <typename t_CFunction>
	std::string gf_MessageOf(t_CFunction &&Function)
	{
		try
		{
			Function();
		}
		catch (const CException &Exception)
		{
			return Exception.f_GetMessage();
		}
		return "(nothing thrown)";
	}

	const char gc_LimitMessage[] = "Memory stream positions are limited to 0 -> DZelPMax_mint";
}

TEST(Stream, OverrunThrowsAndCopiesNothing)
{
	CMemoryStream Stream;
	Stream.f_WriteBytes("abc", 3);
	Stream.f_SetPosition(0);
	char Out[4] = {'x', 'x', 'x', 'x'};
	EXPECT_EQ(gf_MessageOf([&] { Stream.f_ConsumeBytes(Out, 4); }), "End of stream Overrun");
	EXPECT_EQ(std::memcmp(Out, "xxxx", 4), 0);
	EXPECT_EQ(Stream.f_GetPosition(), 0);

	Stream.f_ConsumeBytes(Out, 3);
	EXPECT_EQ(std::memcmp(Out, "abc", 3), 0);
	EXPECT_TRUE(Stream.f_IsAtEnd());
	EXPECT_EQ(gf_MessageOf([&] { Stream.f_ConsumeBytes(Out, 1); }), "End of stream Overrun");
}

TEST(Stream, PositionsOutsideTheLimitAreRefused)
{
	CMemoryStream Stream;
	Stream.f_WriteBytes("0123456789", 10);
	struct CCase
	{
		const char *m_pName;
		void (*m_pSet)(CMemoryStream &);
		bool m_bRefused;
		int64 m_Expected;
	};
	const CCase Cases[] = {
		{"absolute -1", [](CMemoryStream &S) { S.f_SetPosition(-1); }, true, 0},
		{"absolute 2^32", [](CMemoryStream &S) { S.f_SetPosition(0x100000000ll); }, true, 0},
		{"absolute max", [](CMemoryStream &S) { S.f_SetPosition(0xFFFFFFFFll); }, false, 0xFFFFFFFFll},
		{"from end -10", [](CMemoryStream &S) { S.f_SetPositionFromEnd(-10); }, false, 0},
		{"from end -11", [](CMemoryStream &S) { S.f_SetPositionFromEnd(-11); }, true, 0},
		{"from end +5", [](CMemoryStream &S) { S.f_SetPositionFromEnd(5); }, false, 15},
		{"relative -1 at 0", [](CMemoryStream &S) { S.f_SetPositionRelative(-1); }, true, 0},
		{"relative +7 at 0", [](CMemoryStream &S) { S.f_SetPositionRelative(7); }, false, 7},
	};
	for (const CCase &Case : Cases)
	{
		Stream.f_SetPosition(0);
		std::string Message = gf_MessageOf([&] { Case.m_pSet(Stream); });
		if (Case.m_bRefused)
		{
			EXPECT_EQ(Message, gc_LimitMessage) << Case.m_pName;
			EXPECT_EQ(Stream.f_GetPosition(), 0) << Case.m_pName;
		}
		else
		{
			EXPECT_EQ(Message, "(nothing thrown)") << Case.m_pName;
			EXPECT_EQ(Stream.f_GetPosition(), Case.m_Expected) << Case.m_pName;
		}
		EXPECT_EQ(Stream.f_GetLength(), 10) << Case.m_pName;
	}
}

TEST(Stream, WritingBeyondTheLengthExtendsWithZeros)
{
	CMemoryStream Stream;
	Stream.f_WriteBytes("ab", 2);
	Stream.f_SetPosition(5);
	char Out[3];
	EXPECT_EQ(gf_MessageOf([&] { Stream.f_ConsumeBytes(Out, 1); }), "End of stream Overrun");
	EXPECT_FALSE(Stream.f_IsAtEnd());
	Stream.f_WriteBytes("z", 1);
	EXPECT_EQ(Stream.f_GetLength(), 6);
	EXPECT_EQ(std::memcmp(Stream.f_GetData(), "ab\0\0\0z", 6), 0);

	// Overwriting inside the data keeps the length.
	Stream.f_SetPosition(1);
	Stream.f_WriteBytes("BC", 2);
	EXPECT_EQ(Stream.f_GetLength(), 6);
	EXPECT_EQ(std::memcmp(Stream.f_GetData(), "aBC\0\0z", 6), 0);
}

TEST(Stream, WriteAtTheLimitIsRefusedBeforeAllocating)
{
	CMemoryStream Stream;
	Stream.f_SetPosition(0xFFFFFFFFll);
	EXPECT_EQ(gf_MessageOf([&] { Stream.f_WriteBytes("x", 1); }), gc_LimitMessage);
	EXPECT_EQ(Stream.f_GetData(), nullptr);
	EXPECT_EQ(Stream.f_GetLength(), 0);
	EXPECT_EQ(Stream.f_GetPosition(), 0xFFFFFFFFll);

	// Counts so large that position + count wraps around are refused as well.
	CMemoryStream Small;
	Small.f_WriteBytes("ab", 2);
	EXPECT_EQ(gf_MessageOf([&] { Small.f_WriteBytes("x", NZel::umint(-1)); }), gc_LimitMessage);
	Small.f_SetPosition(1);
	char Out[2];
	EXPECT_EQ(gf_MessageOf([&] { Small.f_ConsumeBytes(Out, NZel::umint(-1)); }), "End of stream Overrun");
	EXPECT_EQ(Small.f_GetLength(), 2);
	EXPECT_EQ(Small.f_GetPosition(), 1);
}

TEST(Stream, GrowsByTheIncrementNotPerWrite)
{
	CMemoryStream Stream(4096);
	EXPECT_EQ(Stream.f_GetData(), nullptr);
	Stream.f_WriteBytes("x", 1);
	EXPECT_GE(Stream.f_GetCapacity(), 4096u);
	NZel::uint64 Before = CAllocator_Heap::fs_GetAllocationCount();
	for (int i = 1; i < 4096; ++i)
		Stream.f_WriteBytes("y", 1);
	EXPECT_EQ(CAllocator_Heap::fs_GetAllocationCount(), Before);
	EXPECT_EQ(Stream.f_GetLength(), 4096);

	// Clearing keeps the buffer: refilling allocates nothing.
	Stream.f_Clear();
	EXPECT_EQ(Stream.f_GetLength(), 0);
	EXPECT_TRUE(Stream.f_IsAtEnd());
	Stream.f_WriteBytes("abc", 3);
	EXPECT_EQ(CAllocator_Heap::fs_GetAllocationCount(), Before);
	EXPECT_EQ(std::memcmp(Stream.f_GetData(), "abc", 3), 0);

	// A stream filled by many small writes regrows only a logarithmic number of times.
	CMemoryStream Large(4096);
	Before = CAllocator_Heap::fs_GetAllocationCount();
	std::string Line(80, 'l');
	for (int i = 0; i < 40000; ++i)
		Large.f_WriteBytes(Line.data(), Line.size());
	EXPECT_LE(CAllocator_Heap::fs_GetAllocationCount() - Before, 20u);
	EXPECT_EQ(Large.f_GetLength(), 3200000);
	EXPECT_EQ(Large.f_GetData()[3199999], 'l');
}

TEST(Stream, FailedGrowthKeepsTheData)
{
	CMemoryStream Stream(16);
	Stream.f_WriteBytes("keep", 4);
	std::string Big(1000, 'b');
	CAllocator_Heap::fs_SetFailAfter(0);
	bool bThrew = false;
	try
	{
		Stream.f_WriteBytes(Big.data(), Big.size());
	}
	catch (const NZel::NException::CExceptionMemory &)
	{
		bThrew = true;
	}
	CAllocator_Heap::fs_SetFailAfter(-1);
	EXPECT_TRUE(bThrew);
	EXPECT_EQ(Stream.f_GetLength(), 4);
	EXPECT_EQ(Stream.f_GetPosition(), 4);
	EXPECT_EQ(std::memcmp(Stream.f_GetData(), "keep", 4), 0);
}

TEST(Stream, FixedAnswersThroughTheBase)
{
	CMemoryStream Memory;
	NZel::NStream::CBinaryStream &Stream = Memory;
	EXPECT_TRUE(Stream.f_IsValid());
	EXPECT_EQ(Stream.f_GetFlags(), 0u);
	Stream.f_SetFlags(7);
	EXPECT_EQ(Stream.f_GetFlags(), 0u);
	EXPECT_EQ(Stream.f_GetVersion(), 4u);
	EXPECT_TRUE(Stream.f_IsLittleEndian());
	Stream.f_WriteBytes("hello", 5);
	Stream.f_SetPositionFromEnd(-2);
	char Out[2];
	Stream.f_ConsumeBytes(Out, 2);
	EXPECT_EQ(std::memcmp(Out, "lo", 2), 0);
	EXPECT_EQ(Stream.f_GetLength(), 5);
	EXPECT_TRUE(Stream.f_IsAtEnd());
}
