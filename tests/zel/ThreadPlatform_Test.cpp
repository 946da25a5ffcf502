#include "zel/library/core/runtime/Zel_Sys_Thread.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace NZel;

TEST(ThreadPlatform, PriorityMappingBoundaries)
{
	struct
	{
		uint32 m_Priority;
		int32 m_Expected;
	} const c_Cases[] = {
		{0x0000, -15}, {0x1FFF, -15},
		{0x2000, -2}, {0x3FFF, -2},
		{0x4000, -1}, {0x7FFF, -1},
		{0x8000, 0}, {0xBFFF, 0},
		{0xC000, 1}, {0xDFFF, 1},
		{0xE000, 2}, {0xFFFF, 2},
		{0x10000, 15}, {0x7FFFFFFF, 15}, {0xFFFFFFFF, 15},
	};
	for (auto const &Case : c_Cases)
		EXPECT_EQ(NSys::gf_Thread_MapPriority(Case.m_Priority), Case.m_Expected) << std::hex << "priority 0x" << Case.m_Priority;
}

namespace
{
	struct CRunRecord
	{
		std::atomic<uint32> m_ThreadId{0};
		std::atomic<int> m_nRuns{0};
	};

	int32 gf_RecordRun(void *pObject)
	{
		auto *pRecord = static_cast<CRunRecord *>(pObject);
		pRecord->m_ThreadId = NSys::gf_Thread_GetCurrentId();
		++pRecord->m_nRuns;
		return 0;
	}
}

TEST(ThreadPlatform, CreatedThreadRunsOnItsOwnIdAndCanBeWaitedFor)
{
	CRunRecord Record;
	NSys::CUniqueHandle Thread(NSys::gf_Thread_Create(gf_RecordRun, &Record, 0x8000, 0, false, "Zel_Test_Platform"));
	ASSERT_TRUE(Thread);
	NSys::CUniqueHandle WaitOnly(NSys::gf_Thread_BeginDestroy(Thread.f_Get()));
	ASSERT_TRUE(WaitOnly);
	Thread.f_Reset(); // the wait-only handle alone keeps the thread waitable
	EXPECT_TRUE(NSys::gf_WaitTimeout(WaitOnly.f_Get(), 10000));
	EXPECT_EQ(Record.m_nRuns, 1);
	EXPECT_NE(Record.m_ThreadId, 0u);
	EXPECT_NE(Record.m_ThreadId, NSys::gf_Thread_GetCurrentId());
	// An exited thread stays signalled.
	EXPECT_TRUE(NSys::gf_WaitTimeout(WaitOnly.f_Get(), 0));
}

TEST(ThreadPlatform, NamelessThreadRuns)
{
	CRunRecord Record;
	NSys::CUniqueHandle Thread(NSys::gf_Thread_Create(gf_RecordRun, &Record, 0x8000, 64 * 1024, false, nullptr));
	NSys::gf_Wait(Thread.f_Get());
	EXPECT_EQ(Record.m_nRuns, 1);
}

TEST(ThreadPlatform, DebugNameForAnotherThreadIsHarmless)
{
	NSys::gf_Thread_SetDebugName(NSys::gf_Thread_GetCurrentId(), "Zel_Test_Main");
	NSys::gf_Thread_SetDebugName(0x7FFFFFF0, "Zel_Test_NoSuchThread");
	SUCCEED();
}

TEST(ThreadPlatform, SemaphoreCountsUpToItsMaximum)
{
	NSys::CUniqueHandle Semaphore(NSys::gf_Semaphore_Create(0, 1));
	ASSERT_TRUE(Semaphore);
	EXPECT_FALSE(NSys::gf_WaitTimeout(Semaphore.f_Get(), 0));
	EXPECT_TRUE(NSys::gf_Semaphore_Release(Semaphore.f_Get(), 1));
	EXPECT_FALSE(NSys::gf_Semaphore_Release(Semaphore.f_Get(), 1)); // past the maximum
	EXPECT_TRUE(NSys::gf_WaitTimeout(Semaphore.f_Get(), 0));
	EXPECT_FALSE(NSys::gf_WaitTimeout(Semaphore.f_Get(), 0));

	NSys::CUniqueHandle Wide(NSys::gf_Semaphore_Create(2, 3));
	EXPECT_TRUE(NSys::gf_Semaphore_Release(Wide.f_Get(), 1));
	EXPECT_FALSE(NSys::gf_Semaphore_Release(Wide.f_Get(), 1));
	for (int i = 0; i < 3; ++i)
		EXPECT_TRUE(NSys::gf_WaitTimeout(Wide.f_Get(), 0)) << i;
	EXPECT_FALSE(NSys::gf_WaitTimeout(Wide.f_Get(), 0));
}

TEST(ThreadPlatform, ManualResetEventStaysSetUntilReset)
{
	NSys::CUniqueHandle Event(NSys::gf_Event_CreateManualReset(true));
	ASSERT_TRUE(Event);
	EXPECT_TRUE(NSys::gf_WaitTimeout(Event.f_Get(), 0));
	EXPECT_TRUE(NSys::gf_WaitTimeout(Event.f_Get(), 0));
	NSys::gf_Event_Reset(Event.f_Get());
	EXPECT_FALSE(NSys::gf_WaitTimeout(Event.f_Get(), 10));
	NSys::gf_Event_Set(Event.f_Get());
	NSys::gf_Wait(Event.f_Get());
	NSys::gf_WaitUnlessInvalid(Event.f_Get());
	NSys::gf_WaitUnlessInvalid(NSys::gf_GetInvalidHandle()); // returns at once
	NSys::gf_CloseUnlessInvalid(NSys::gf_GetInvalidHandle());
}

TEST(ThreadPlatform, InterlockedOperationsReturnThePreviousValue)
{
	int32 volatile Value = 5;
	EXPECT_EQ(NSys::gf_Interlocked_Increment(&Value), 5);
	EXPECT_EQ(Value, 6);
	EXPECT_EQ(NSys::gf_Interlocked_Decrement(&Value), 6);
	EXPECT_EQ(Value, 5);
	EXPECT_EQ(NSys::gf_Interlocked_CompareExchange(&Value, 9, 4), 5); // no match: unchanged
	EXPECT_EQ(Value, 5);
	EXPECT_EQ(NSys::gf_Interlocked_CompareExchange(&Value, 9, 5), 5);
	EXPECT_EQ(Value, 9);
}

TEST(ThreadPlatform, StorageIsPerThread)
{
	uint32 const Index = NSys::gf_Thread_AllocStorage();
	int Mine = 1, Theirs = 2;
	EXPECT_EQ(NSys::gf_Thread_GetStorage(Index), nullptr);
	NSys::gf_Thread_SetStorage(Index, &Mine);

	struct CProbe
	{
		uint32 m_Index;
		int *m_pTheirs;
		void *m_pSeenBefore = &m_Index;
		void *m_pSeenAfter = nullptr;
	} Probe{Index, &Theirs};
	auto fProbe = [](void *pObject) -> int32 {
		auto *p = static_cast<CProbe *>(pObject);
		p->m_pSeenBefore = NSys::gf_Thread_GetStorage(p->m_Index);
		NSys::gf_Thread_SetStorage(p->m_Index, p->m_pTheirs);
		p->m_pSeenAfter = NSys::gf_Thread_GetStorage(p->m_Index);
		return 0;
	};
	NSys::CUniqueHandle Thread(NSys::gf_Thread_Create(fProbe, &Probe, 0x8000, 0, false, "Zel_Test_Storage"));
	NSys::gf_Wait(Thread.f_Get());

	EXPECT_EQ(Probe.m_pSeenBefore, nullptr);
	EXPECT_EQ(Probe.m_pSeenAfter, &Theirs);
	EXPECT_EQ(NSys::gf_Thread_GetStorage(Index), &Mine);
	NSys::gf_Thread_SetStorage(Index, nullptr);
	NSys::gf_Thread_FreeStorage(Index);
}
