// Every throw of the thread layer names its class and qualified function in the diagnostic
// line, and carries its exact message.
#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_List_Vector.h"
#include "zel/library/core/general/Zel_System_Thread.h"
#include "zel/library/core/runtime/Zel_Sys_Debug.h"
#include "zel/library/core/runtime/Zel_Sys_Thread.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace NZel;

namespace
{
	class CDiagnosticLines
	{
	public:
		CDiagnosticLines()
		{
			fp_fPrevious = NSys::gf_SetDebugOutputHook(&CDiagnosticLines::fs_Hook, this);
		}
		~CDiagnosticLines()
		{
			NSys::gf_SetDebugOutputHook(fp_fPrevious, nullptr);
		}
		std::string const &f_GetText() const
		{
			return fp_Text;
		}

	private:
		static void fs_Hook(const char *pPiece, void *pContext)
		{
			static_cast<CDiagnosticLines *>(pContext)->fp_Text += pPiece;
		}

		std::string fp_Text;
		NSys::FDebugOutputHook fp_fPrevious;
	};

	class CIdleThread : public NThread::ICThread
	{
	public:
		int32 f_Execute() override
		{
			NThread::CLockGuard Guard(fp_Lock);
			while (fp_State != NThread::EThreadState::StopRequested)
			{
				NThread::CLockUnguard Unguard(fp_Lock);
				fp_WakeEvent.f_Wait();
			}
			return 0;
		}
		NStr::CStr f_GetThreadName() override
		{
			return "Zel_Test_Idle";
		}
	};

	struct CCase
	{
		char const *m_pWhat;
		std::function<void()> m_fThrow;
		char const *m_pClassAndFunction; // "<class> in <function>: "
		char const *m_pMessageStart;
	};
}

TEST(ThreadDiagnostics, ThrowsNameClassFunctionAndMessage)
{
	CIdleThread Running;
	Running.f_Start();
	CIdleThread NeverRun;

	CCase const c_Cases[] = {
		{"start while running", [&] { Running.f_Start(); }, "CException in NZel::NThread::ICThread::f_Start: ",
			"You cannot start a thread that is already running"},
		{"return value of a thread that never ran", [&] { NeverRun.f_GetReturnValue(); },
			"CException in NZel::NThread::ICThread::f_GetReturnValue: ",
			"You are trying to get a return value from a thread that isn't stopped (or has never run)"},
		{"return value of a running thread", [&] { Running.f_GetReturnValue(); },
			"CException in NZel::NThread::ICThread::f_GetReturnValue: ",
			"You are trying to get a return value from a thread that isn't stopped (or has never run)"},
		{"index outside a vector", [] { NList::CVectorBoundsCheck::fs_CheckBounds(nullptr, 0, 0); },
			"CExceptionListBoundCheck in NZel::NList::CVectorBoundsCheck::fs_CheckBounds: ",
			"Tried to access element outside list"},
		{"priority of no thread", [] { NSys::gf_Thread_SetPriority(nullptr, 0x8000); },
			"CExceptionSystemImplementation in NZel::NSys::gf_Thread_SetPriority: ",
			"Windows returned an error from SetThreadPriority: "},
		{"wait handle of no thread", [] { NSys::gf_Thread_BeginDestroy(nullptr); },
			"CExceptionSystemImplementation in NZel::NSys::gf_Thread_BeginDestroy: ",
			"Windows returned an error from DuplicateHandle: "},
	};

	for (CCase const &Case : c_Cases)
	{
		CDiagnosticLines Lines;
		std::string Message = "(nothing thrown)";
		try
		{
			Case.m_fThrow();
		}
		catch (NException::CException const &Exception)
		{
			Message = Exception.f_GetMessage();
		}
		EXPECT_EQ(Message.rfind(Case.m_pMessageStart, 0), 0u) << Case.m_pWhat << ": " << Message;
		std::string const Expected = std::string(Case.m_pClassAndFunction) + Message;
		EXPECT_NE(Lines.f_GetText().find(Expected), std::string::npos) << Case.m_pWhat << ": " << Lines.f_GetText();
	}
	EXPECT_EQ(Running.f_Stop(true), 0);
}
