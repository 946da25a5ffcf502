#include "app/Hushvane_LaunchDelta.h"

#include <gtest/gtest.h>

#include <random>
#include <unordered_map>
#include <vector>

using NHushvane::CLaunchDelta;
using NHushvane::CProcessStamp;

namespace
{
	std::vector<CProcessStamp> fg_Look(CLaunchDelta &Delta, const std::vector<CProcessStamp> &Stamps)
	{
		std::vector<CProcessStamp> New;
		Delta.f_Look(Stamps.data(), Stamps.size(), [&](const CProcessStamp &Stamp) { New.push_back(Stamp); });
		return New;
	}

	std::vector<NZel::uint32> fg_Ids(const std::vector<CProcessStamp> &Stamps)
	{
		std::vector<NZel::uint32> Ids;
		for (const CProcessStamp &Stamp : Stamps)
			Ids.push_back(Stamp.m_ProcessId);
		return Ids;
	}
}

TEST(LaunchDelta, EachLookHandsOverWhatThePreviousDidNotHold)
{
	struct CStep
	{
		const char *pWhat;
		std::vector<CProcessStamp> Look;
		std::vector<NZel::uint32> New;
	};
	const std::vector<CStep> Steps = {
		{"the first look is the sweep", {{0, 0}, {4, 1}, {100, 50}, {104, 51}}, {0, 4, 100, 104}},
		{"nothing changed", {{0, 0}, {4, 1}, {100, 50}, {104, 51}}, {}},
		{"one launched, in list order", {{0, 0}, {4, 1}, {100, 50}, {104, 51}, {108, 60}}, {108}},
		{"one gone", {{0, 0}, {4, 1}, {104, 51}, {108, 60}}, {}},
		{"its id reused by a later process", {{0, 0}, {4, 1}, {100, 70}, {104, 51}, {108, 60}}, {100}},
		{"reused with the same creation time is the same process", {{0, 0}, {4, 1}, {100, 70}, {104, 51}, {108, 60}}, {}},
		{"gone and back within one look: another creation time", {{0, 0}, {4, 1}, {100, 70}, {104, 80}, {108, 60}}, {104}},
		{"listed twice in one look counts once", {{0, 0}, {4, 1}, {100, 70}, {104, 80}, {108, 60}, {112, 90}, {112, 90}}, {112}},
		{"everything gone", {}, {}},
		{"an id seen two looks ago is new again", {{108, 60}}, {108}},
	};
	CLaunchDelta Delta;
	for (const CStep &Step : Steps)
	{
		SCOPED_TRACE(Step.pWhat);
		EXPECT_EQ(fg_Ids(fg_Look(Delta, Step.Look)), Step.New);
	}
	EXPECT_EQ(Delta.f_GetKnownCount(), 1u);
}

TEST(LaunchDelta, AProcessHandedOverOnceIsNotHandedOverAgainWhateverItsFate)
{
	// A process that could not be opened (protected, or already ended) is handed over once;
	// as long as it stays in the list it is known, and nothing tries it again.
	CLaunchDelta Delta;
	std::unordered_map<NZel::uint32, int> Handed;
	std::vector<CProcessStamp> Look = {{8, 1}, {12, 2}};
	for (int Pass = 0; Pass < 5; ++Pass)
		Delta.f_Look(Look.data(), Look.size(), [&](const CProcessStamp &Stamp) { ++Handed[Stamp.m_ProcessId]; });
	EXPECT_EQ(Handed[8], 1);
	EXPECT_EQ(Handed[12], 1);

	// Forgetting makes the next look a sweep again.
	Delta.f_Forget();
	EXPECT_EQ(Delta.f_GetKnownCount(), 0u);
	EXPECT_EQ(fg_Ids(fg_Look(Delta, Look)), (std::vector<NZel::uint32>{8, 12}));
}

TEST(LaunchDelta, AgreesWithASetOverManyRandomLooksAsTheListGrowsAndShrinks)
{
	// Many processes with colliding hash slots, ids reused at random: the delta must agree with
	// a plain map of the previous look at every step, across the tables' growth.
	std::mt19937 Random(20261209);
	CLaunchDelta Delta;
	std::unordered_map<NZel::uint32, NZel::uint64> Previous;
	std::unordered_map<NZel::uint32, NZel::uint64> Alive;
	NZel::uint64 Clock = 1;
	for (int Step = 0; Step < 400; ++Step)
	{
		size_t Target = Step < 200 ? size_t(Step) * 10 : size_t(400 - Step) * 10;
		while (Alive.size() < Target)
			Alive[NZel::uint32(Random() % 8192) * 4] = Clock++;
		for (auto It = Alive.begin(); It != Alive.end();)
			It = Random() % 8 == 0 || Alive.size() > Target + 50 ? Alive.erase(It) : std::next(It);
		std::vector<CProcessStamp> Look;
		for (const auto &[Id, Created] : Alive)
			Look.push_back({Id, Created});
		std::vector<NZel::uint32> Expected;
		for (const CProcessStamp &Stamp : Look)
		{
			auto Before = Previous.find(Stamp.m_ProcessId);
			if (Before == Previous.end() || Before->second != Stamp.m_CreateTime)
				Expected.push_back(Stamp.m_ProcessId);
		}
		ASSERT_EQ(fg_Ids(fg_Look(Delta, Look)), Expected) << "step " << Step;
		ASSERT_EQ(Delta.f_GetKnownCount(), Look.size());
		Previous = Alive;
	}
}
