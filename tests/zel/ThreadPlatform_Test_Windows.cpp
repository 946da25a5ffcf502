#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/runtime/Zel_Sys_Thread.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

using namespace NZel;

namespace
{
	int32 gf_ReturnSeven(void *)
	{
		return 7;
	}
}

// The mapped priority really reaches the thread: created suspended, read back, then run.
TEST(ThreadPlatformWindows, CreateAppliesMappedPriority)
{
	struct
	{
		uint32 m_Priority;
		int m_Expected;
	} const c_Cases[] = {
		{0x1000, THREAD_PRIORITY_IDLE},
		{0x3000, THREAD_PRIORITY_LOWEST},
		{0x7FFF, THREAD_PRIORITY_BELOW_NORMAL},
		{0x8000, THREAD_PRIORITY_NORMAL},
		{0xC000, THREAD_PRIORITY_ABOVE_NORMAL},
		{0xFFFF, THREAD_PRIORITY_HIGHEST},
		{0x10000, THREAD_PRIORITY_TIME_CRITICAL},
	};
	for (auto const &Case : c_Cases)
	{
		NSys::CUniqueHandle Thread(NSys::gf_Thread_Create(gf_ReturnSeven, nullptr, Case.m_Priority, 0, true, "Zel_Test_Priority"));
		ASSERT_TRUE(Thread);
		EXPECT_EQ(GetThreadPriority(Thread.f_Get()), Case.m_Expected) << std::hex << Case.m_Priority;
		ResumeThread(Thread.f_Get());
		NSys::gf_Wait(Thread.f_Get());
		DWORD ExitCode = 0;
		ASSERT_TRUE(GetExitCodeThread(Thread.f_Get(), &ExitCode));
		EXPECT_EQ(ExitCode, 7u);
	}
}

TEST(ThreadPlatformWindows, WaitOnlyHandleHasSynchroniseAccessOnly)
{
	NSys::CUniqueHandle Thread(NSys::gf_Thread_Create(gf_ReturnSeven, nullptr, 0x8000, 0, true, "Zel_Test_Access"));
	NSys::CUniqueHandle WaitOnly(NSys::gf_Thread_BeginDestroy(Thread.f_Get()));
	ASSERT_TRUE(WaitOnly);
	EXPECT_NE(WaitOnly.f_Get(), Thread.f_Get());
	// Without THREAD_QUERY_INFORMATION the handle cannot read the exit code.
	DWORD ExitCode = 0;
	EXPECT_FALSE(GetExitCodeThread(WaitOnly.f_Get(), &ExitCode));
	ResumeThread(Thread.f_Get());
	EXPECT_EQ(WaitForSingleObject(WaitOnly.f_Get(), 10000), WAIT_OBJECT_0);
}

TEST(ThreadPlatformWindows, FailuresThrowWithTheSystemCallNamed)
{
	auto fMessage = [](auto &&fAction) -> std::string {
		try
		{
			fAction();
		}
		catch (NException::CExceptionSystemImplementation const &Exception)
		{
			return Exception.f_GetMessage();
		}
		return "(nothing thrown)";
	};
	std::string const Priority = fMessage([] { NSys::gf_Thread_SetPriority(nullptr, 0x8000); });
	EXPECT_EQ(Priority.rfind("Windows returned an error from SetThreadPriority: ", 0), 0u) << Priority;
	std::string const Duplicate = fMessage([] { NSys::gf_Thread_BeginDestroy(nullptr); });
	EXPECT_EQ(Duplicate.rfind("Windows returned an error from DuplicateHandle: ", 0), 0u) << Duplicate;
	std::string const Storage = fMessage([] { NSys::gf_Thread_SetStorage(TLS_OUT_OF_INDEXES - 1, nullptr); });
	EXPECT_EQ(Storage, "Thread_FreeStorage: Failed to set Thread Storage Value");
}

TEST(ThreadPlatformWindows, CurrentIdMatchesTheSystemOnEveryThread)
{
	EXPECT_EQ(NSys::gf_Thread_GetCurrentId(), GetCurrentThreadId());
	struct CIds
	{
		uint32 m_Ours = 0;
		DWORD m_System = 1;
	} Ids;
	NSys::CUniqueHandle Thread(NSys::gf_Thread_Create(
		[](void *p) -> int32 {
			auto *pIds = static_cast<CIds *>(p);
			pIds->m_Ours = NSys::gf_Thread_GetCurrentId();
			pIds->m_System = GetCurrentThreadId();
			return 0;
		},
		&Ids, 0x8000, 0, false, "Zel_Test_Id"));
	NSys::gf_Wait(Thread.f_Get());
	EXPECT_EQ(Ids.m_Ours, Ids.m_System);
	EXPECT_NE(Ids.m_Ours, GetCurrentThreadId());
}
