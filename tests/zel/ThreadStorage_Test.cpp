#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_List_Vector.h"
#include "zel/library/core/general/Zel_Memory.h"
#include "zel/library/core/general/Zel_System_Thread.h"
#include "zel/library/core/general/Zel_ThreadStorage.h"

#include "tests/zel/Thread_TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace NZel;

namespace
{
	CSystem::CThreadStorageContext &gf_Context()
	{
		return gf_GetSystem().f_GetThreadStorage();
	}

	std::atomic<int> g_nCountersDestroyed{0};

	struct CCounter
	{
		int m_Value = 0;
		~CCounter()
		{
			++g_nCountersDestroyed;
		}
	};

	// A key over any identity, for tests that need many distinct ones.
	class CPlainKey final : public CThreadStorageKey
	{
	public:
		explicit CPlainKey(CThreadStorageIdentity Identity)
			: CThreadStorageKey(std::move(Identity))
		{
		}
		~CPlainKey() override
		{
			fp_Detach();
		}
		void f_DestroyValue(void *) override
		{
		}
	};

	CThreadStorageIdentity gf_Identity(std::string const &Prefix, int Number)
	{
		return {NStr::CStr(Prefix.c_str()), NStr::CStr(std::to_string(Number).c_str())};
	}
}

TEST(ThreadStorage, NumberPartIsEightHexDigits)
{
	EXPECT_STREQ(gf_FormatThreadStorageNumber(0).f_GetStr(), "00000000");
	EXPECT_STREQ(gf_FormatThreadStorageNumber(213534).f_GetStr(), "0003421e");
}

TEST(ThreadStorage, EqualIdentitiesShareASlotAndDistinctOnesDoNot)
{
	using CCounterStorage = TCThreadStorage<CCounter, 77, NMemory::CAllocator_Heap>;
	CCounterStorage First;
	CCounterStorage Second;
	TCThreadStorage<CCounter, 78, NMemory::CAllocator_Heap> OtherNumber;
	TCThreadStorage<int, 77, NMemory::CAllocator_Heap> OtherType;

	EXPECT_EQ(First.f_GetSlot(), Second.f_GetSlot());
	EXPECT_NE(First.f_GetSlot(), OtherNumber.f_GetSlot());
	EXPECT_NE(First.f_GetSlot(), OtherType.f_GetSlot());
	EXPECT_NE(OtherNumber.f_GetSlot(), OtherType.f_GetSlot());

	First.f_Get().m_Value = 12;
	EXPECT_EQ(Second.f_Get().m_Value, 12); // shared slot, same value
	EXPECT_EQ(OtherNumber.f_Get().m_Value, 0);
	EXPECT_EQ(&First.f_Get(), &Second.f_Get());
}

TEST(ThreadStorage, EachThreadGetsItsOwnValue)
{
	TCThreadStorage<CCounter, 91, NMemory::CAllocator_Heap> Storage;
	Storage.f_Get().m_Value = 1;
	CCounter *pMine = &Storage.f_Get();

	CCounter *pTheirs = nullptr;
	int TheirInitial = -1;
	std::thread Other([&] {
		EXPECT_EQ(Storage.f_GetIfMade(), nullptr);
		TheirInitial = Storage.f_Get().m_Value;
		Storage.f_Get().m_Value = 2;
		pTheirs = &Storage.f_Get();
	});
	Other.join();
	EXPECT_EQ(TheirInitial, 0);
	EXPECT_NE(pTheirs, pMine);
	EXPECT_EQ(Storage.f_Get().m_Value, 1);
}

// The 33rd distinct key needs a second batch of slot ids: threads that already have a record
// see their vectors grow and can use the new slot at once.
TEST(ThreadStorage, NewBatchGrowsRecordsOfExistingThreads)
{
	std::vector<std::unique_ptr<CPlainKey>> Keys;
	Keys.push_back(std::make_unique<CPlainKey>(gf_Identity("Zel_Test_Batch", 0)));
	Keys.front()->f_SetValue(Keys.front().get());

	// A second thread with a record, parked until the new batch exists.
	NThread::CEventAutoResetAggregate Parked, Resume;
	std::atomic<mint> OtherLengthBefore{-1}, OtherLengthAfter{-1};
	std::atomic<bool> bOtherUsedNewSlot{false};
	std::atomic<int32> NewSlot{-1};
	std::thread Other([&] {
		OtherLengthBefore = gf_Context().f_GetCallingThreadLength();
		Parked.f_Signal();
		Resume.f_Wait();
		OtherLengthAfter = gf_Context().f_GetCallingThreadLength();
		gf_Context().f_SetValue(NewSlot, &NewSlot);
		bOtherUsedNewSlot = gf_Context().f_GetValue(NewSlot) == &NewSlot;
	});
	Parked.f_Wait();

	int32 const IdsBefore = gf_Context().f_GetSlotIdCount();
	ASSERT_EQ(IdsBefore % 32, 0);
	EXPECT_EQ(OtherLengthBefore, IdsBefore);
	EXPECT_EQ(gf_Context().f_GetCallingThreadLength(), IdsBefore);

	// Fill every id made so far, then one more.
	int Number = 1;
	while (gf_Context().f_GetSlotIdCount() == IdsBefore)
		Keys.push_back(std::make_unique<CPlainKey>(gf_Identity("Zel_Test_Batch", Number++)));
	int32 const IdsAfter = gf_Context().f_GetSlotIdCount();
	EXPECT_EQ(IdsAfter, IdsBefore + 32);
	NewSlot = Keys.back()->f_GetSlot();
	EXPECT_GE(NewSlot, IdsBefore);
	EXPECT_LT(NewSlot, IdsAfter);
	EXPECT_EQ(NewSlot, IdsBefore); // ids are given out lowest first

	EXPECT_EQ(gf_Context().f_GetCallingThreadLength(), IdsAfter);
	Resume.f_Signal();
	Other.join();
	EXPECT_EQ(OtherLengthAfter, IdsAfter);
	EXPECT_TRUE(bOtherUsedNewSlot);

	// Values set before the growth survive it.
	EXPECT_EQ(Keys.front()->f_GetValue(), Keys.front().get());
	Keys.front()->f_SetValue(nullptr);
}

TEST(ThreadStorage, SlotOutsideTheVectorThrowsBoundCheck)
{
	int32 const nIds = gf_Context().f_GetSlotIdCount();
	for (int32 Slot : {-1, nIds, nIds + 1000})
	{
		try
		{
			gf_Context().f_GetValue(Slot);
			ADD_FAILURE() << "no exception for slot " << Slot;
		}
		catch (NList::CExceptionList const &Exception)
		{
			EXPECT_STREQ(Exception.f_GetMessage(), "Tried to access element outside list");
		}
	}
}

TEST(ThreadStorage, ThreadRunEndReleasesItsValues)
{
	using CCounterStorage = TCThreadStorage<CCounter, 93, NMemory::CAllocator_Heap>;
	CCounterStorage Storage;

	class CUser : public NThread::ICThread
	{
	public:
		explicit CUser(CCounterStorage &Storage)
			: fp_pStorage(&Storage)
		{
		}
		~CUser() override
		{
			f_Stop(true);
		}
		int32 f_Execute() override
		{
			return ++fp_pStorage->f_Get().m_Value;
		}
		NStr::CStr f_GetThreadName() override
		{
			return "Zel_Test_StorageUser";
		}

	private:
		CCounterStorage *fp_pStorage;
	};

	int const DestroyedBefore = g_nCountersDestroyed;
	CUser User(Storage);
	for (int Run = 0; Run < 3; ++Run)
	{
		User.f_Start();
		EXPECT_EQ(User.f_Stop(true), 1); // a new thread starts with a new value
	}
	EXPECT_EQ(g_nCountersDestroyed - DestroyedBefore, 3);
}

TEST(ListVector, BoundsCheckTable)
{
	NList::TCVector<int> Vector;
	auto fFails = [&](mint Index) {
		try
		{
			(void)Vector[Index];
		}
		catch (NList::CExceptionListBoundCheck const &Exception)
		{
			EXPECT_STREQ(Exception.f_GetMessage(), "Tried to access element outside list");
			return true;
		}
		return false;
	};
	EXPECT_TRUE(fFails(0)); // no storage at all
	Vector.f_SetLen(3);
	Vector[2] = 5;
	struct
	{
		mint m_Index;
		bool m_bFails;
	} const c_Cases[] = {{-1, true}, {0, false}, {2, false}, {3, true}, {mint(~umint(0) >> 1), true}};
	for (auto const &Case : c_Cases)
		EXPECT_EQ(fFails(Case.m_Index), Case.m_bFails) << Case.m_Index;
	EXPECT_EQ(Vector[2], 5);
	Vector.f_SetLen(0);
	EXPECT_TRUE(fFails(0));
}
