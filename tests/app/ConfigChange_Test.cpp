#include "app/Hushvane_ChangeCoalescer.h"
#include "app/Hushvane_ChangeRecords.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using NHushvane::CChangeCoalescer;

namespace
{
	// A loop that looks every PassMs, as the worker does, over changes at the given times;
	// returns the times at which an action became due.
	std::vector<NZel::uint64> fg_Simulate(const std::vector<NZel::uint64> &Changes, NZel::uint64 PassMs, NZel::uint64 EndMs)
	{
		CChangeCoalescer Coalescer;
		std::vector<NZel::uint64> Actions;
		size_t Next = 0;
		for (NZel::uint64 Now = 0; Now <= EndMs; Now += 10)
		{
			while (Next < Changes.size() && Changes[Next] <= Now)
				Coalescer.f_OnChange(Changes[Next++]);
			if (Now % PassMs == 0 && Coalescer.f_IsDue(Now))
			{
				Actions.push_back(Now);
				Coalescer.f_Reset();
			}
		}
		return Actions;
	}

	std::vector<NZel::uint64> fg_Every(NZel::uint64 First, NZel::uint64 Step, int Count)
	{
		std::vector<NZel::uint64> Times;
		for (int i = 0; i < Count; ++i)
			Times.push_back(First + Step * NZel::uint64(i));
		return Times;
	}

	struct CCoalesceCase
	{
		const char *m_pWhat;
		std::vector<NZel::uint64> m_Changes;
		std::vector<NZel::uint64> m_Actions;
	};
}

TEST(ChangeCoalescer, ABurstIsOneActionAfterHalfASecondOfQuiet)
{
	const CCoalesceCase Cases[] = {
		{"no change", {}, {}},
		{"one change", {1000}, {1500}},
		{"ten rapid edits", fg_Every(1000, 30, 10), {1800}},
		{"two bursts apart", {1000, 1050, 3000}, {1600, 3500}},
		{"edits just under the quiet time apart", fg_Every(1000, 450, 3), {2400}},
		{"a file that never settles still acts every two seconds", fg_Every(1000, 300, 20), {3000, 5100, 7200}},
	};
	for (const CCoalesceCase &Case : Cases)
		EXPECT_EQ(fg_Simulate(Case.m_Changes, 100, 10000), Case.m_Actions) << Case.m_pWhat;
}

TEST(ChangeCoalescer, AClockReadBeforeTheChangeIsNotLate)
{
	CChangeCoalescer Coalescer;
	Coalescer.f_OnChange(5000);
	EXPECT_TRUE(Coalescer.f_IsPending());
	EXPECT_FALSE(Coalescer.f_IsDue(4000));
	EXPECT_TRUE(Coalescer.f_IsDue(5500));
	Coalescer.f_Reset();
	EXPECT_FALSE(Coalescer.f_IsDue(9000));
}

namespace
{
	// Records in the layout Windows writes: next offset, action, name length, UTF-16 name,
	// each record padded to 4 bytes.
	class CRecords
	{
	public:
		CRecords &f_Add(const std::u16string &Name, NZel::uint32 Action = 3)
		{
			if (fp_LastStart != std::string::npos)
				fp_Put(fp_LastStart, NZel::uint32(fp_Bytes.size() - fp_LastStart));
			fp_LastStart = fp_Bytes.size();
			fp_Append(0);
			fp_Append(Action);
			fp_Append(NZel::uint32(Name.size() * 2));
			for (char16_t Unit : Name)
			{
				fp_Bytes.push_back(NZel::uint8(Unit & 0xFF));
				fp_Bytes.push_back(NZel::uint8(Unit >> 8));
			}
			while (fp_Bytes.size() % 4)
				fp_Bytes.push_back(0);
			return *this;
		}
		void f_Put(size_t Offset, NZel::uint32 Value) { fp_Put(Offset, Value); }
		const std::vector<NZel::uint8> &f_Bytes() const { return fp_Bytes; }

	private:
		void fp_Append(NZel::uint32 Value)
		{
			for (int i = 0; i < 4; ++i)
				fp_Bytes.push_back(NZel::uint8(Value >> (8 * i)));
		}
		void fp_Put(size_t Offset, NZel::uint32 Value)
		{
			for (int i = 0; i < 4; ++i)
				fp_Bytes[Offset + size_t(i)] = NZel::uint8(Value >> (8 * i));
		}
		std::vector<NZel::uint8> fp_Bytes;
		size_t fp_LastStart = std::string::npos;
	};

	bool fg_Names(const std::vector<NZel::uint8> &Bytes, size_t Size)
	{
		return NHushvane::gf_ChangeRecordsName(Bytes.data(), Size, "config");
	}
}

TEST(ChangeRecords, FindTheFileByNameInAnyCaseAndNothingElse)
{
	struct CCase
	{
		const char *m_pWhat;
		CRecords m_Records;
		bool m_bNames;
	};
	const CCase Cases[] = {
		{"the file itself", CRecords().f_Add(u"config"), true},
		{"in capitals", CRecords().f_Add(u"CONFIG"), true},
		{"another file", CRecords().f_Add(u"config.bak"), false},
		{"a shorter name", CRecords().f_Add(u"confi"), false},
		{"the log folder, then the file", CRecords().f_Add(u"Log").f_Add(u"x.tmp").f_Add(u"Config", 5), true},
		{"a name with a wide character", CRecords().f_Add(u"conf\u0130g"), false},
	};
	for (const CCase &Case : Cases)
		EXPECT_EQ(fg_Names(Case.m_Records.f_Bytes(), Case.m_Records.f_Bytes().size()), Case.m_bNames) << Case.m_pWhat;
}

TEST(ChangeRecords, ARecordReachingPastTheBufferEndsTheWalk)
{
	CRecords Records;
	Records.f_Add(u"Log").f_Add(u"config");
	const std::vector<NZel::uint8> &Bytes = Records.f_Bytes();
	EXPECT_FALSE(fg_Names(Bytes, 0));
	EXPECT_FALSE(fg_Names(Bytes, 11)) << "less than one header";
	EXPECT_FALSE(fg_Names(Bytes, Bytes.size() - 2)) << "the second name cut short";

	CRecords BadOffset;
	BadOffset.f_Add(u"Log").f_Add(u"config");
	BadOffset.f_Put(0, 0xFFFFFFF0u);
	EXPECT_FALSE(fg_Names(BadOffset.f_Bytes(), BadOffset.f_Bytes().size()));

	CRecords BadLength;
	BadLength.f_Add(u"config");
	BadLength.f_Put(8, 0x7FFFFFFFu);
	EXPECT_FALSE(fg_Names(BadLength.f_Bytes(), BadLength.f_Bytes().size()));
}
