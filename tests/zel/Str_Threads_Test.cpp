#include "zel/library/core/general/Zel_Str.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace NZel;
using namespace NZel::NStr;

// One string value copied, read, written (copy on write) and released by several threads at
// once: run under the thread sanitizer this proves the reference count and caches are sound.
TEST(StrThreads, CopiesAreReleasedAndWrittenConcurrently)
{
	const CStr Shared("a string handed between threads");
	const std::string Expected(Shared.f_GetStr());
	constexpr int c_Threads = 4;
	constexpr int c_Rounds = 5000;
	std::atomic<int> Failures{0};
	std::atomic<bool> Go{false};
	std::vector<std::thread> Threads;
	for (int t = 0; t < c_Threads; ++t)
	{
		Threads.emplace_back([&, t]
		{
			while (!Go.load())
				std::this_thread::yield();
			for (int i = 0; i < c_Rounds; ++i)
			{
				CStr Copy(Shared);
				CStr Second;
				Second = Copy;
				if (Second.f_GetLen() != int32(Expected.size()) || Expected != Second.f_GetStr())
					++Failures;
				if (i % 64 == t)
				{
					Second.f_Append("!");
					if (Second.f_GetLen() != int32(Expected.size()) + 1)
						++Failures;
				}
			}
		});
	}
	Go = true;
	for (auto &Thread : Threads)
		Thread.join();
	EXPECT_EQ(Failures.load(), 0);
	EXPECT_EQ(Shared.f_GetRefCount(), 1);
	EXPECT_EQ(Expected, Shared.f_GetStr());
}

// Readers of a freshly shared block fill its length cache at the same moment.
TEST(StrThreads, LengthCacheFilledByConcurrentReaders)
{
	for (int Round = 0; Round < 200; ++Round)
	{
		CStr S;
		char *p = S.f_GetWritableBuffer(16);
		ASSERT_NE(p, nullptr);
		std::char_traits<char>::copy(p, "measure me", 11);
		const CStr Shared(S);
		std::atomic<int> Failures{0};
		std::thread A([&] { Failures += CStr(Shared).f_GetLen() != 10; });
		std::thread B([&] { Failures += CStr(Shared).f_GetLen() != 10; });
		A.join();
		B.join();
		EXPECT_EQ(Failures.load(), 0);
	}
}
