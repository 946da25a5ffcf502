#pragma once
// Helpers for tests that coordinate threads: bounded polling, so a broken primitive fails the
// test instead of hanging it.
#include <chrono>
#include <thread>

namespace NZelTest
{
	// Polls fCondition until it holds or Timeout passes; returns its last value.
	template <typename t_FCondition>
	bool gf_WaitUntil(t_FCondition &&fCondition, std::chrono::milliseconds Timeout = std::chrono::seconds(10))
	{
		auto const Deadline = std::chrono::steady_clock::now() + Timeout;
		while (!fCondition())
		{
			if (std::chrono::steady_clock::now() > Deadline)
				return fCondition();
			std::this_thread::sleep_for(std::chrono::milliseconds(1));
		}
		return true;
	}

	// How long a test lets a thread run to show that it stays blocked.
	inline constexpr std::chrono::milliseconds gc_SettleTime{50};
}
