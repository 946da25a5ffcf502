#include "app/Hushvane_FsRedirection.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

using NHushvane::CFsRedirectionOff;
using NHushvane::ICFsRedirection;

namespace
{
	// Records what the guard asks of the system.
	class CRecordingSystem : public ICFsRedirection
	{
	public:
		CRecordingSystem(bool bRedirected, bool bDisableFails) : fp_bRedirected(bRedirected), fp_bDisableFails(bDisableFails) {}

		bool f_IsRedirected() override
		{
			m_Calls.push_back("is-redirected");
			return fp_bRedirected;
		}
		void *f_Disable() override
		{
			m_Calls.push_back("disable");
			if (fp_bDisableFails)
				throw std::runtime_error("cannot disable");
			return &m_OldValue;
		}
		void f_Revert(void *pOldValue) noexcept override
		{
			m_Calls.push_back(pOldValue == &m_OldValue ? "revert" : "revert with a wrong value");
		}

		std::vector<std::string> m_Calls;
		int m_OldValue = 0;

	private:
		bool fp_bRedirected;
		bool fp_bDisableFails;
	};

	using CCalls = std::vector<std::string>;
}

TEST(FsRedirectionOff, TurnsRedirectionOffOnlyWhereItIsOnAndBackExactlyOnce)
{
	struct CCase
	{
		const char *m_pName;
		bool m_bRedirected;
		bool m_bThrowInside; // an exception leaves the guarded scope
		CCalls m_Expected;
	};
	const CCase Cases[] = {
		{"64-bit program or 32-bit Windows", false, false, {"is-redirected"}},
		{"the same, left by an exception", false, true, {"is-redirected"}},
		{"32-bit program on 64-bit Windows", true, false, {"is-redirected", "disable", "revert"}},
		{"the same, left by an exception", true, true, {"is-redirected", "disable", "revert"}},
	};
	for (const CCase &Case : Cases)
	{
		CRecordingSystem System(Case.m_bRedirected, false);
		try
		{
			CFsRedirectionOff Off(System);
			EXPECT_EQ(Off.f_IsOff(), Case.m_bRedirected) << Case.m_pName;
			// While the scope lasts nothing is turned back on.
			EXPECT_EQ(System.m_Calls.back(), Case.m_bRedirected ? "disable" : "is-redirected") << Case.m_pName;
			if (Case.m_bThrowInside)
				throw std::runtime_error("file step failed");
		}
		catch (const std::runtime_error &)
		{
		}
		EXPECT_EQ(System.m_Calls, Case.m_Expected) << Case.m_pName;
	}
}

TEST(FsRedirectionOff, FailureToTurnItOffIsAFailureAndRevertsNothing)
{
	CRecordingSystem System(true, true);
	EXPECT_THROW(CFsRedirectionOff Off(System), std::runtime_error);
	EXPECT_EQ(System.m_Calls, (CCalls{"is-redirected", "disable"}));
}
