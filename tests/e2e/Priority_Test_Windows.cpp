#include "app/Hushvane_Config.h"
#include "app/Hushvane_Priority.h"
#include "KvWin/KvWindowsHandles.h"
#include "tests/e2e/WorkerSupport_Windows.h"

#include <gtest/gtest.h>

using namespace NHushvaneTest;

namespace
{
	void fg_Parse(CCollectingContext &Context, const std::string &Text)
	{
		NHushvane::gf_ParseConfig(reinterpret_cast<const NZel::uint8 *>(Text.data()), Text.size(), Context.f_GetProcessTable(), Context);
		Context.m_Lines.clear();
	}
}

// Priority application on its own, with a context that collects its lines.
TEST(ApplyPriority, ListedProcessesGetTheirClassAndOthersAreLeftAlone)
{
	CCollectingContext Context;
	fg_Parse(Context, "HVPRIO_A.EXE high\nhvprio_b realtime\nhvprio_c.exe BelowNormal\n");
	CChildProcess ChildA("hvprio_a.exe");
	CChildProcess ChildB("hvprio_b.exe");
	CChildProcess ChildC("hvprio_c.exe");
	CChildProcess Unlisted("hvprio_d.exe");
	ASSERT_TRUE(ChildA.f_IsRunning() && ChildB.f_IsRunning() && ChildC.f_IsRunning() && Unlisted.f_IsRunning());

	for (const CChildProcess *pChild : {&ChildA, &ChildB, &ChildC, &Unlisted})
		NHushvane::gf_ApplyPriority(pChild->f_GetId());
	EXPECT_EQ(ChildA.f_GetPriorityClass(), DWORD(HIGH_PRIORITY_CLASS)) << "names match in any letter case";
	EXPECT_EQ(ChildB.f_GetPriorityClass(), DWORD(NORMAL_PRIORITY_CLASS)) << "an entry without the extension never matches";
	EXPECT_EQ(ChildC.f_GetPriorityClass(), DWORD(BELOW_NORMAL_PRIORITY_CLASS));
	EXPECT_EQ(Unlisted.f_GetPriorityClass(), DWORD(NORMAL_PRIORITY_CLASS));
	EXPECT_TRUE(Context.m_Lines.empty()) << "success writes nothing";
}

TEST(ApplyPriority, ARefusedClassIsLoggedWithNameAndId)
{
	CCollectingContext Context;
	// No configuration word gives this value; Windows refuses it as it would refuse any
	// change it does not allow.
	Context.f_GetProcessTable().f_Insert(NZel::NStr::CStr("hvprio_e.exe"), 0x12345);
	CChildProcess Child("hvprio_e.exe");
	ASSERT_TRUE(Child.f_IsRunning());
	NHushvane::gf_ApplyPriority(Child.f_GetId());
	EXPECT_EQ(Context.m_Lines, std::vector<std::string>{"Failed to set priority class on hvprio_e.exe with process id " + std::to_string(Child.f_GetId()) + "\r\n"});
	EXPECT_EQ(Child.f_GetPriorityClass(), DWORD(NORMAL_PRIORITY_CLASS));
}

TEST(ApplyPriority, EndedOrUnknownProcessesAreSkippedSilently)
{
	CCollectingContext Context;
	// Were these processes reached, the refused class would write a line.
	Context.f_GetProcessTable().f_Insert(NZel::NStr::CStr("hvprio_f.exe"), 0x12345);
	DWORD EndedId = 0;
	{
		CChildProcess Child("hvprio_f.exe");
		ASSERT_TRUE(Child.f_IsRunning());
		EndedId = Child.f_GetId();
	}
	NHushvane::gf_ApplyPriority(EndedId);
	{
		// Ended, but still held open by a handle (its parent's, say): its image is still known,
		// yet there is nothing left to change.
		CChildProcess Child("hvprio_f.exe");
		ASSERT_TRUE(Child.f_IsRunning());
		CKvKernelHandle hHeld(OpenProcess(SYNCHRONIZE, FALSE, Child.f_GetId()));
		DWORD HeldId = Child.f_GetId();
		Child.f_End();
		NHushvane::gf_ApplyPriority(HeldId);
	}
	NHushvane::gf_ApplyPriority(0);
	NHushvane::gf_ApplyPriority(0xFFFFFFF0);
	EXPECT_TRUE(Context.m_Lines.empty());
}

TEST(ApplyPriority, WithoutAContextNothingHappens)
{
	CChildProcess Child("hvprio_g.exe");
	ASSERT_TRUE(Child.f_IsRunning());
	{
		CCollectingContext Gone;
		Gone.f_GetProcessTable().f_Insert(NZel::NStr::CStr("hvprio_g.exe"), HIGH_PRIORITY_CLASS);
	}
	NHushvane::gf_ApplyPriority(Child.f_GetId());
	EXPECT_EQ(Child.f_GetPriorityClass(), DWORD(NORMAL_PRIORITY_CLASS));
}
