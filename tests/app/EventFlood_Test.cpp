#include "app/Hushvane_EventFlood.h"

#include <gtest/gtest.h>

#include <vector>

using NHushvane::CEventFloodGate;

TEST(EventFlood, EachIdAtMostOnceAMinuteAndTheNextOneCountsThoseLeftOut)
{
	struct CRow
	{
		NZel::uint32 m_Id;
		NZel::uint64 m_AtMs;
		bool m_bWritten;
		NZel::uint32 m_LeftOut; // when written
	};
	// Times start late, as a monotonic clock's do; each id has its own minute.
	const std::vector<CRow> Rows = {
		{100, 5000000, true, 0},
		{100, 5000001, false, 0},
		{101, 5000002, true, 0},   // another id is not held back
		{100, 5030000, false, 0},
		{100, 5059999, false, 0},  // just inside the minute
		{100, 5060000, true, 3},   // a minute after the last one written: three were left out
		{101, 5050000, false, 0},
		{100, 5200000, true, 0},   // long after: none left out since
		{101, 5200000, true, 1},
		{100, 5260000, true, 0},   // a burst of one per minute is never held back
	};
	CEventFloodGate Gate;
	for (size_t i = 0; i < Rows.size(); ++i)
	{
		NZel::uint32 LeftOut = 99;
		bool bWritten = Gate.f_Admit(Rows[i].m_Id, Rows[i].m_AtMs, LeftOut);
		EXPECT_EQ(bWritten, Rows[i].m_bWritten) << "row " << i;
		if (bWritten)
		{
			EXPECT_EQ(LeftOut, Rows[i].m_LeftOut) << "row " << i;
		}
	}
}
