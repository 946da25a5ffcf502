#include "app/Hushvane_ProcessTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

using NHushvane::CProcessTable;
using NZel::NStr::CStr;

namespace
{
	std::string fg_Name(int Index)
	{
		char Buffer[32];
		snprintf(Buffer, sizeof(Buffer), "proc%05d.exe", Index);
		return Buffer;
	}

	// Largest height an AVL tree of Count nodes can have.
	unsigned fg_AvlHeightBound(unsigned Count)
	{
		return unsigned(std::floor(1.4405 * std::log2(double(Count) + 2.0) - 0.3277));
	}

	std::vector<int> fg_Order(const char *pKind, int Count)
	{
		std::vector<int> Order(static_cast<size_t>(Count));
		for (int i = 0; i < Count; ++i)
			Order[size_t(i)] = i;
		std::string Kind = pKind;
		if (Kind == "descending")
			std::reverse(Order.begin(), Order.end());
		else if (Kind == "random")
			std::shuffle(Order.begin(), Order.end(), std::mt19937(12345));
		else if (Kind == "zigzag")
		{
			// Alternating ends force both double rotations again and again.
			std::vector<int> Zigzag;
			for (int Low = 0, High = Count - 1; Low <= High; ++Low, --High)
			{
				Zigzag.push_back(Low);
				if (Low != High)
					Zigzag.push_back(High);
			}
			Order = Zigzag;
		}
		else if (Kind == "inner")
		{
			// Each new name falls between the two previous ones.
			std::vector<int> Inner;
			for (int Low = 0, High = Count - 1; Low <= High; ++Low, --High)
			{
				Inner.push_back(High);
				if (Low != High)
					Inner.push_back(Low);
			}
			std::reverse(Inner.begin(), Inner.end());
			Order = Inner;
		}
		return Order;
	}
}

TEST(ProcessTable, StaysBalancedAndOrderedForEveryInsertionOrder)
{
	for (const char *pKind : {"ascending", "descending", "random", "zigzag", "inner"})
	{
		for (int Count : {1, 2, 3, 7, 100, 1000})
		{
			CProcessTable Table;
			std::vector<int> Order = fg_Order(pKind, Count);
			for (size_t i = 0; i < Order.size(); ++i)
			{
				ASSERT_TRUE(Table.f_Insert(CStr(fg_Name(Order[i]).c_str()), NZel::uint32(Order[i]))) << pKind;
				ASSERT_TRUE(Table.f_CheckStructure()) << pKind << " after " << i + 1 << " of " << Count;
			}
			EXPECT_EQ(Table.f_GetCount(), NZel::uint32(Count));
			EXPECT_LE(Table.f_GetHeight(), fg_AvlHeightBound(unsigned(Count))) << pKind << " " << Count;
			for (int i = 0; i < Count; ++i)
			{
				const CProcessTable::CEntry *pEntry = Table.f_Find(fg_Name(i).c_str());
				ASSERT_NE(pEntry, nullptr) << fg_Name(i);
				EXPECT_EQ(pEntry->f_GetPriorityClass(), NZel::uint32(i));
				EXPECT_STREQ(pEntry->f_GetName().f_GetStr(), fg_Name(i).c_str());
			}
			EXPECT_EQ(Table.f_Find("proc99999.exe"), nullptr);
			EXPECT_EQ(Table.f_Find(""), nullptr);
		}
	}
}

TEST(ProcessTable, NamesDifferingOnlyInCaseAreOneEntryAndTheFirstWins)
{
	CProcessTable Table;
	EXPECT_TRUE(Table.f_Insert(CStr("Notepad.EXE"), 0x80));
	EXPECT_FALSE(Table.f_Insert(CStr("notepad.exe"), 0x40));
	EXPECT_FALSE(Table.f_Insert(CStr("NOTEPAD.EXE"), 0x100));
	EXPECT_EQ(Table.f_GetCount(), 1u);
	const CProcessTable::CEntry *pEntry = Table.f_Find("nOtEpAd.ExE");
	ASSERT_NE(pEntry, nullptr);
	EXPECT_EQ(pEntry->f_GetPriorityClass(), 0x80u);
	EXPECT_STREQ(pEntry->f_GetName().f_GetStr(), "Notepad.EXE");
	EXPECT_EQ(Table.f_Find("notepad"), nullptr); // the extension is part of the name
}

TEST(ProcessTable, WalksInKeyOrderAndClears)
{
	CProcessTable Table;
	for (const char *pName : {"m.exe", "B.exe", "z.exe", "a.exe", "C.exe"})
		Table.f_Insert(CStr(pName), 0x20);
	std::vector<std::string> Names;
	Table.f_ForEach([&](const CProcessTable::CEntry &Entry) { Names.push_back(Entry.f_GetName().f_GetStr()); });
	EXPECT_EQ(Names, (std::vector<std::string>{"a.exe", "B.exe", "C.exe", "m.exe", "z.exe"}));

	Table.f_Clear();
	EXPECT_TRUE(Table.f_IsEmpty());
	EXPECT_EQ(Table.f_GetHeight(), 0u);
	EXPECT_EQ(Table.f_Find("a.exe"), nullptr);
	EXPECT_TRUE(Table.f_Insert(CStr("a.exe"), 0x40));
	EXPECT_TRUE(Table.f_CheckStructure());
}

TEST(ProcessTable, MovingHandsTheEntriesOverAndLeavesTheSourceEmpty)
{
	CProcessTable Kept;
	Kept.f_Insert(CStr("a.exe"), 0x80);
	Kept.f_Insert(CStr("b.exe"), 0x40);
	CProcessTable Run(std::move(Kept));
	EXPECT_TRUE(Kept.f_IsEmpty());
	EXPECT_EQ(Kept.f_Find("a.exe"), nullptr);
	ASSERT_EQ(Run.f_GetCount(), 2u);

	// Assigning over a table with entries of its own releases those (ASan sees a leak otherwise).
	CProcessTable Other;
	Other.f_Insert(CStr("c.exe"), 0x20);
	Other = std::move(Run);
	EXPECT_TRUE(Run.f_IsEmpty());
	EXPECT_EQ(Other.f_Find("c.exe"), nullptr);
	ASSERT_NE(Other.f_Find("B.EXE"), nullptr);
	EXPECT_EQ(Other.f_Find("B.EXE")->f_GetPriorityClass(), 0x40u);
	EXPECT_TRUE(Other.f_CheckStructure());
}
