// The driver's ring operations over plain state, natively and under the sanitizers.
#include "driver/Hushvane_Ring.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <random>
#include <vector>

namespace
{
	struct CTestRecord
	{
		std::uintptr_t m_ParentId;
		std::uintptr_t m_ProcessId;
		std::uint8_t m_Create;
	};

	template <int t_Capacity>
	struct TRingState
	{
		CTestRecord Records[t_Capacity];
		std::int32_t WriteIndex;
		std::int32_t ReadIndex;
		std::int32_t Count;
	};

	using CDriverRing = TRingState<128>;

	CTestRecord fg_Record(std::uintptr_t Id, bool bCreate = true)
	{
		return CTestRecord{Id + 1, Id, std::uint8_t(bCreate ? 1 : 0)};
	}

	template <typename t_CState>
	bool fg_Take(t_CState &State, CTestRecord &Out)
	{
		return NHushvane::NRing::gf_Take(State, [&](const CTestRecord &Oldest) { Out = Oldest; });
	}

	template <typename t_CState>
	t_CState fg_EmptyRing()
	{
		t_CState State;
		// Garbage in the slots must never show through.
		for (CTestRecord &Record : State.Records)
			Record = CTestRecord{0xDEAD, 0xBEEF, 0x5A};
		NHushvane::NRing::gf_Reset(State);
		return State;
	}
}

TEST(CDriverRing, CapacityIsTheArrayLength)
{
	EXPECT_EQ(NHushvane::NRing::gf_Capacity<CDriverRing>(), 128);
	EXPECT_EQ(NHushvane::NRing::gf_Capacity<TRingState<3>>(), 3);
}

TEST(CDriverRing, EmptyRingTakesNothingAndCallsNoDelivery)
{
	CDriverRing Ring = fg_EmptyRing<CDriverRing>();
	bool bDelivered = false;
	for (int i = 0; i < 3; ++i)
		EXPECT_FALSE(NHushvane::NRing::gf_Take(Ring, [&](const CTestRecord &) { bDelivered = true; }));
	EXPECT_FALSE(bDelivered);
	EXPECT_EQ(Ring.Count, 0);
	EXPECT_EQ(Ring.ReadIndex, 0);
	EXPECT_EQ(Ring.WriteIndex, 0);
}

TEST(CDriverRing, OldestFirstWithAllFields)
{
	CDriverRing Ring = fg_EmptyRing<CDriverRing>();
	ASSERT_TRUE(NHushvane::NRing::gf_Store(Ring, CTestRecord{4, 100, 1}));
	ASSERT_TRUE(NHushvane::NRing::gf_Store(Ring, CTestRecord{100, 104, 1}));
	ASSERT_TRUE(NHushvane::NRing::gf_Store(Ring, CTestRecord{4, 100, 0}));
	const CTestRecord Expected[] = {{4, 100, 1}, {100, 104, 1}, {4, 100, 0}};
	for (const CTestRecord &Want : Expected)
	{
		CTestRecord Got{};
		ASSERT_TRUE(fg_Take(Ring, Got));
		EXPECT_EQ(Got.m_ParentId, Want.m_ParentId);
		EXPECT_EQ(Got.m_ProcessId, Want.m_ProcessId);
		EXPECT_EQ(Got.m_Create, Want.m_Create);
		EXPECT_TRUE(NHushvane::NRing::gf_IsConsistent(Ring));
	}
	CTestRecord Got{};
	EXPECT_FALSE(fg_Take(Ring, Got));
}

TEST(CDriverRing, FullRingDropsTheNewestAndStoresAgainAfterOneRead)
{
	CDriverRing Ring = fg_EmptyRing<CDriverRing>();
	for (std::uintptr_t Id = 1; Id <= 128; ++Id)
		ASSERT_TRUE(NHushvane::NRing::gf_Store(Ring, fg_Record(Id)));
	EXPECT_EQ(Ring.Count, 128);
	EXPECT_EQ(Ring.WriteIndex, 0);
	EXPECT_FALSE(NHushvane::NRing::gf_Store(Ring, fg_Record(129)));
	EXPECT_EQ(Ring.Count, 128);
	EXPECT_TRUE(NHushvane::NRing::gf_IsConsistent(Ring));

	CTestRecord Got{};
	ASSERT_TRUE(fg_Take(Ring, Got));
	EXPECT_EQ(Got.m_ProcessId, 1u);
	ASSERT_TRUE(NHushvane::NRing::gf_Store(Ring, fg_Record(130)));
	for (std::uintptr_t Id = 2; Id <= 128; ++Id)
	{
		ASSERT_TRUE(fg_Take(Ring, Got));
		EXPECT_EQ(Got.m_ProcessId, Id);
	}
	ASSERT_TRUE(fg_Take(Ring, Got));
	EXPECT_EQ(Got.m_ProcessId, 130u);
	EXPECT_FALSE(fg_Take(Ring, Got));
}

TEST(CDriverRing, IndicesWrapFrom127To0KeepingOrder)
{
	CDriverRing Ring = fg_EmptyRing<CDriverRing>();
	// Move both indices to 120, then store across the end of the array.
	CTestRecord Got{};
	for (std::uintptr_t Id = 0; Id < 120; ++Id)
	{
		ASSERT_TRUE(NHushvane::NRing::gf_Store(Ring, fg_Record(Id)));
		ASSERT_TRUE(fg_Take(Ring, Got));
	}
	ASSERT_EQ(Ring.ReadIndex, 120);
	for (std::uintptr_t Id = 1000; Id < 1020; ++Id)
		ASSERT_TRUE(NHushvane::NRing::gf_Store(Ring, fg_Record(Id, Id % 2 == 0)));
	EXPECT_EQ(Ring.WriteIndex, 12);
	EXPECT_TRUE(NHushvane::NRing::gf_IsConsistent(Ring));
	for (std::uintptr_t Id = 1000; Id < 1020; ++Id)
	{
		ASSERT_TRUE(fg_Take(Ring, Got));
		EXPECT_EQ(Got.m_ProcessId, Id);
		EXPECT_EQ(Got.m_Create, Id % 2 == 0 ? 1 : 0);
	}
	EXPECT_EQ(Ring.ReadIndex, 12);
	EXPECT_FALSE(fg_Take(Ring, Got));
}

// Random stores and takes against a reference queue, over small capacities where every edge
// (empty, full, wrap) comes up often.
template <typename t_CState>
void fg_CompareWithQueue(unsigned Seed)
{
	constexpr int Capacity = NHushvane::NRing::gf_Capacity<t_CState>();
	t_CState Ring = fg_EmptyRing<t_CState>();
	std::deque<std::uintptr_t> Model;
	std::mt19937 Random(Seed);
	std::uintptr_t NextId = 1;
	for (int Step = 0; Step < 20000; ++Step)
	{
		if (Random() % 2)
		{
			bool bStored = NHushvane::NRing::gf_Store(Ring, fg_Record(NextId));
			ASSERT_EQ(bStored, int(Model.size()) < Capacity);
			if (bStored)
				Model.push_back(NextId);
			++NextId;
		}
		else
		{
			CTestRecord Got{};
			bool bTaken = fg_Take(Ring, Got);
			ASSERT_EQ(bTaken, !Model.empty());
			if (bTaken)
			{
				ASSERT_EQ(Got.m_ProcessId, Model.front());
				ASSERT_EQ(Got.m_ParentId, Model.front() + 1);
				Model.pop_front();
			}
		}
		ASSERT_TRUE(NHushvane::NRing::gf_IsConsistent(Ring)) << "step " << Step;
		ASSERT_EQ(Ring.Count, int(Model.size()));
	}
}

TEST(CDriverRing, MatchesAQueueUnderRandomUse)
{
	for (unsigned Seed = 1; Seed <= 4; ++Seed)
	{
		fg_CompareWithQueue<TRingState<1>>(Seed);
		fg_CompareWithQueue<TRingState<2>>(Seed);
		fg_CompareWithQueue<TRingState<5>>(Seed);
		fg_CompareWithQueue<CDriverRing>(Seed);
	}
}

TEST(CDriverRing, ConsistencyCheckRejectsBrokenStates)
{
	struct CCase
	{
		std::int32_t m_WriteIndex;
		std::int32_t m_ReadIndex;
		std::int32_t m_Count;
		bool m_bConsistent;
	};
	const CCase Cases[] = {
		{0, 0, 0, true},
		{0, 0, 128, true},
		{5, 3, 2, true},
		{2, 127, 3, true},
		{5, 3, 3, false},
		{0, 0, 129, false},
		{0, 0, -1, false},
		{128, 0, 0, false},
		{0, -1, 1, false},
	};
	for (const CCase &Case : Cases)
	{
		CDriverRing Ring = fg_EmptyRing<CDriverRing>();
		Ring.WriteIndex = Case.m_WriteIndex;
		Ring.ReadIndex = Case.m_ReadIndex;
		Ring.Count = Case.m_Count;
		EXPECT_EQ(NHushvane::NRing::gf_IsConsistent(Ring), Case.m_bConsistent)
			<< Case.m_WriteIndex << " " << Case.m_ReadIndex << " " << Case.m_Count;
	}
}
