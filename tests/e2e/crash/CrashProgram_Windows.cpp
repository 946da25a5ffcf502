// hvcrash.exe: a program on the same foundation library and start-up as hushvane.exe that
// meets, on demand, the exceptions the crash reporter handles, and drives the watchdog.
//   hvcrash.exe <case> [argument] [-Service]
//   hvcrash.exe probe <caption> | press <caption> <button id> | load-library <path>
// The first two of these are for the desktop tests: print the texts of the top-level window with
// that caption (and whether it is centred in the work area), or click one of its buttons. The
// last loads a library by its full path and says whether it loaded.
// -Service gives it the service-mode crash settings (no dialogs); -SmallFullDump makes the full
// dump with the small dump's type (quicker, for tests that do not look into it); -NormalDumps
// makes both dumps of the plain type (threads and modules only: Wine takes tens of seconds over
// the memory referenced from a stack full of heap pointers); -ReportLimit <ms> sets how long an
// crashed thread waits for its report. Every case that survives prints what
// it saw and ends with 0; a crash ends it with the exception code.
#include "app/Hushvane_CrashSetup.h"
#include "zel/library/core/general/Zel_Clock.h"
#include "zel/library/core/general/Zel_System_Thread.h"
#include "zel/library/core/runtime/Zel_Runtime_CrashReporter.h"
#include "zel/library/core/runtime/Zel_Runtime_DeadlockDetector.h"

#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <set>
#include <string>

namespace
{
	using NZel::int32;
	using NZel::umint;
	using CDetector = NZel::CSystemWindowsMSVC::CDeadlockDetector;

	// Optimisation must not fold the faults away: every address and divisor goes through here.
	volatile umint g_Opaque = 0;
	volatile int g_Zero = 0;
	volatile int g_Sink = 0;

	__attribute__((noinline)) void hv_CrashRead(umint Address)
	{
		g_Sink = *reinterpret_cast<volatile int *>(Address + g_Opaque);
	}

	__attribute__((noinline)) void hv_CrashWrite(umint Address)
	{
		*reinterpret_cast<volatile int *>(Address + g_Opaque) = 1;
	}

	__attribute__((noinline)) void hv_CrashDivide()
	{
		g_Sink = 100 / g_Zero;
	}

	__attribute__((noinline)) void hv_CrashBreakpoint()
	{
		__asm__ volatile("int3");
		std::printf("continued after the breakpoint\n");
		std::fflush(stdout);
	}

	__attribute__((noinline)) void hv_CrashUnknown()
	{
		RaiseException(0xE0481234, 0, 0, nullptr);
	}

	// Frees one small block twice: the second free finds it waiting in its quick list, and the
	// heap ends the process as heap corruption instead of handing the block out twice.
	__attribute__((noinline)) void hv_CrashDoubleFree()
	{
		void *volatile p = ::operator new(16 + g_Opaque);
		::operator delete(p);
		::operator delete(p);
	}

	// Endless in practice: the stack runs out long before the limit.
	__attribute__((noinline)) int hv_Recurse(int Depth)
	{
		volatile char Pad[512];
		Pad[0] = char(Depth);
		if (Depth == 0x7FFFFFFF)
			return 0;
		return hv_Recurse(Depth + 1) + Pad[0];
	}

	// A chain of Depth frames, then a write to address 0 in the innermost.
	__attribute__((noinline)) int hv_DeepChain(int Depth)
	{
		if (Depth <= 0)
		{
			hv_CrashWrite(0);
			return 0;
		}
		return hv_DeepChain(Depth - 1) + int(g_Opaque);
	}

	// Ruins this frame's link to its caller (saved frame pointer and return address), then
	// crashes: the walk must end at the damage without faulting.
	__attribute__((noinline)) void hv_CrashBrokenChain()
	{
		void **pFrame = static_cast<void **>(__builtin_frame_address(0));
		pFrame[0] = reinterpret_cast<void *>(umint(0x100) + g_Opaque);
		pFrame[1] = reinterpret_cast<void *>(umint(0x1234) + g_Opaque);
		hv_CrashWrite(0);
	}

	// A stack of 256 KiB: its overflow comes after a few hundred frames, so that the whole
	// chain fits in the trace, and the report (dumps included) is quick.
	constexpr SIZE_T gc_SmallStackBytes = 256 * 1024;

	// Runs fThread on a thread with a small stack and waits for it: its crash ends the process.
	void fg_RunOnSmallStack(LPTHREAD_START_ROUTINE fThread)
	{
		HANDLE hThread = CreateThread(nullptr, gc_SmallStackBytes, fThread, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
		if (hThread)
			WaitForSingleObject(hThread, INFINITE);
	}

	// Every level allocates, so the overflow comes while the heap works for the thread, inside
	// its lock: a level's own frame is smaller than the stack the heap takes below it, so each
	// new page of the stack is first touched inside the heap. The recursion runs holding the
	// clock's lock as well.
	struct CNode
	{
		CNode *m_pNext;
	};
	CNode *volatile g_pNodes = nullptr;

	__attribute__((noinline)) int hv_RecurseAllocating(int Depth)
	{
		CNode *pNode = new CNode{g_pNodes};
		g_pNodes = pNode;
		if (Depth == 0x7FFFFFFF)
			return 0;
		return hv_RecurseAllocating(Depth + 1) + int(umint(pNode) & 1);
	}

	DWORD WINAPI fg_OverflowAllocating(void *)
	{
		NZel::NTime::gf_GetClock().f_CallHoldingLock([](void *) { g_Sink = hv_RecurseAllocating(0); }, nullptr);
		return 0;
	}

	// Takes the loader lock, as a thread inside a library's start-up code holds it, and keeps it
	// while the stack overflows: the report cannot load the debug-help library, and only the
	// limit on the wait ends the process.
	__attribute__((noinline)) void hv_OverflowHoldingLoaderLock()
	{
		using FLdrLockLoaderLock = LONG(NTAPI *)(ULONG Flags, ULONG *pState, ULONG_PTR *pCookie);
		auto fLock = reinterpret_cast<FLdrLockLoaderLock>(
			reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "LdrLockLoaderLock")));
		ULONG_PTR Cookie = 0;
		if (!fLock || fLock(0, nullptr, &Cookie) != 0)
		{
			std::printf("FAIL: the loader lock could not be taken\n");
			return;
		}
		g_Sink = hv_Recurse(0);
	}

	// Calls through a callback that was never set.
	using FCallback = void (*)();
	FCallback volatile g_fNeverSet = nullptr;

	__attribute__((noinline)) void hv_CallNull()
	{
		g_fNeverSet();
		g_Sink = 1; // not a tail call: the return address stays on the stack
	}

	// Calls through a pointer to memory that was given back: not code, and no longer there.
	__attribute__((noinline)) void hv_CallFreed()
	{
		void *pMemory = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
		VirtualFree(pMemory, 0, MEM_RELEASE);
		reinterpret_cast<FCallback>(reinterpret_cast<umint>(pMemory) + g_Opaque)();
		g_Sink = 1;
	}

#if defined(_WIN64)
	// Frames of 3 KiB: a stack of 1 MiB (the least Wine gives a thread) overflows after a few
	// hundred, so the trace reaches the frames above the recursion.
	__attribute__((noinline)) int hv_RecurseWide(int Depth)
	{
		volatile char Pad[3072];
		Pad[0] = char(Depth);
		if (Depth == 0x7FFFFFFF)
			return 0;
		return hv_RecurseWide(Depth + 1) + Pad[0];
	}

	// The page that holds this frame's saved registers and return address is made unreadable;
	// then the stack overflows below. The part of the stack the report sees ends below that page,
	// and the unwind of this frame would read past it. Nothing of this frame is used afterwards.
	DWORD g_OldProtection = 0;

	__attribute__((noinline)) DWORD WINAPI hv_ThreadPastStackEnd(void *)
	{
		volatile char Pad[8192];
		Pad[0] = 1;
		umint const ReturnSlot = umint(__builtin_frame_address(0)) + sizeof(void *);
		VirtualProtect(reinterpret_cast<void *>(ReturnSlot & ~umint(4095)), 4096, PAGE_NOACCESS, &g_OldProtection);
		return DWORD(hv_RecurseWide(Pad[0]));
	}
#endif

	class CCrashingThread : public NZel::NThread::ICThread
	{
	public:
		~CCrashingThread() override { f_Stop(true); }
		int32 f_Execute() override
		{
			hv_CrashWrite(0x20);
			return 0;
		}
		NZel::NStr::CStr f_GetThreadName() override { return "hv_CrashingThread"; }
	};

	__attribute__((noinline)) void hv_CrashOnThread()
	{
		CCrashingThread Thread;
		Thread.f_Start();
		Sleep(30000);
	}

	std::set<DWORD> fg_ThreadIds()
	{
		std::set<DWORD> Ids;
		HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
		THREADENTRY32 Entry{};
		Entry.dwSize = sizeof(Entry);
		for (BOOL bMore = Thread32First(hSnapshot, &Entry); bMore; bMore = Thread32Next(hSnapshot, &Entry))
		{
			if (Entry.th32OwnerProcessID == GetCurrentProcessId())
				Ids.insert(Entry.th32ThreadID);
		}
		CloseHandle(hSnapshot);
		return Ids;
	}

	// Starts the watchdog with the time-out; the id of its thread.
	DWORD fg_StartWatchdog(double Timeout)
	{
		CDetector &Detector = NZel::gf_GetDeadlockDetector();
		Detector.f_SetTimeout(Timeout);
		std::set<DWORD> const Before = fg_ThreadIds();
		Detector.f_Start();
		Sleep(100);
		for (DWORD Id : fg_ThreadIds())
		{
			if (!Before.count(Id))
				return Id;
		}
		return 0;
	}

	// A heartbeat from a thread of its own while switched on, so that the program counts as
	// alive however long the main thread takes (starting the watchdog, finding its thread).
	class CBeater
	{
	public:
		CBeater() { CloseHandle(CreateThread(nullptr, 0, &fs_Run, this, 0, nullptr)); }
		void f_Set(bool bBeating)
		{
			if (bBeating)
				NZel::gf_GetDeadlockDetector().f_DeclareAlive();
			fp_bBeating = bBeating;
			Sleep(100); // a beat in progress is over
		}

	private:
		static DWORD WINAPI fs_Run(void *pThis)
		{
			for (;;)
			{
				if (static_cast<CBeater *>(pThis)->fp_bBeating)
					NZel::gf_GetDeadlockDetector().f_DeclareAlive();
				Sleep(20);
			}
		}
		std::atomic<bool> fp_bBeating{true};
	};

	BOOL CALLBACK fg_PrintChildText(HWND hChild, LPARAM)
	{
		char Text[4096];
		if (GetWindowTextA(hChild, Text, sizeof(Text)) > 0)
			std::printf("%s\n", Text);
		return TRUE;
	}

	// Whether the window lies in the middle of the work area (to the pixel, as integer
	// division leaves it).
	bool fg_IsCentred(HWND hWindow)
	{
		RECT Rect{};
		RECT Work{};
		GetWindowRect(hWindow, &Rect);
		SystemParametersInfoA(SPI_GETWORKAREA, 0, &Work, 0);
		long const Left = Work.left + ((Work.right - Work.left) - (Rect.right - Rect.left)) / 2;
		long const Top = Work.top + ((Work.bottom - Work.top) - (Rect.bottom - Rect.top)) / 2;
		std::printf("window at %ld,%ld, centred would be %ld,%ld\n", Rect.left, Rect.top, Left, Top);
		return Rect.left == Left && Rect.top == Top;
	}

	int fg_Probe(const char *pCaption)
	{
		HWND hWindow = FindWindowA(nullptr, pCaption);
		if (!hWindow)
			return 1;
		EnumChildWindows(hWindow, &fg_PrintChildText, 0);
		std::printf("%s\n", fg_IsCentred(hWindow) ? "centred" : "not centred");
		std::printf("window %p\n", static_cast<void *>(hWindow)); // tells one window of a caption from the next
		return 0;
	}

	int fg_Press(const char *pCaption, int Id)
	{
		HWND hWindow = FindWindowA(nullptr, pCaption);
		HWND hButton = hWindow ? GetDlgItem(hWindow, Id) : nullptr;
		if (!hButton)
			return 1;
		PostMessageA(hWindow, WM_COMMAND, MAKEWPARAM(Id, BN_CLICKED), reinterpret_cast<LPARAM>(hButton));
		return 0;
	}

	// The question of this process only: one left over by an earlier case may still be listed.
	// Only once it is shown: the window exists, unplaced, before its initialisation centres it.
	HWND fg_FindQuestion()
	{
		HWND hWindow = nullptr;
		while ((hWindow = FindWindowExA(nullptr, hWindow, nullptr, "Hushvane is not responding")))
		{
			DWORD ProcessId = 0;
			GetWindowThreadProcessId(hWindow, &ProcessId);
			if (ProcessId == GetCurrentProcessId() && IsWindowVisible(hWindow))
				return hWindow;
		}
		return nullptr;
	}

	int fg_Fail(const char *pWhat)
	{
		std::printf("FAIL: %s\n", pWhat);
		return 1;
	}

	// A stall that the program ends by itself while the question is up: the question closes
	// within about 100 ms and the watch goes on with a fresh heartbeat.
	int fg_WatchdogRenew(double Timeout)
	{
		CBeater Beater;
		fg_StartWatchdog(Timeout);
		Beater.f_Set(false);
		DWORD const Start = GetTickCount();
		HWND hQuestion = nullptr;
		while (!(hQuestion = fg_FindQuestion()) && GetTickCount() - Start < 30000)
			Sleep(20);
		if (!hQuestion)
			return fg_Fail("the question did not come");
		if (!fg_IsCentred(hQuestion))
			return fg_Fail("the question is not centred on the monitor");

		DWORD const Renewed = GetTickCount();
		Beater.f_Set(true);
		while (IsWindow(hQuestion) && GetTickCount() - Renewed < 5000)
			Sleep(5);
		DWORD const Closed = GetTickCount() - Renewed;
		std::printf("question closed %lu ms after the heartbeat\n", Closed);
		if (IsWindow(hQuestion))
			return fg_Fail("the question stayed");
		Sleep(DWORD(Timeout * 3000));
		if (fg_FindQuestion())
			return fg_Fail("the question came back although the program was alive");
		NZel::gf_GetDeadlockDetector().f_Stop(true);
		// About 100 ms on a quiet machine; the bound leaves room for a loaded one, and still
		// tells a question that waits for the next look of the watch (or for ever).
		return Closed <= 3000 ? 0 : fg_Fail("the question closed too late");
	}

	// The watch thread is held up (as on a suspended machine) for longer than the time-out
	// while nobody renews the heartbeat: that time is not a stall.
	int fg_WatchdogGap(double Timeout)
	{
		CBeater Beater;
		DWORD const WatchId = fg_StartWatchdog(Timeout);
		HANDLE hWatch = OpenThread(THREAD_SUSPEND_RESUME, FALSE, WatchId);
		if (!hWatch)
			return fg_Fail("no watchdog thread");
		Beater.f_Set(false);
		// Nothing here may take a lock the held-up thread could hold.
		SuspendThread(hWatch);
		Sleep(DWORD(Timeout * 1500));
		ResumeThread(hWatch);
		CloseHandle(hWatch);
		Sleep(DWORD(Timeout * 250)); // the watch looks while the program is still silent
		Beater.f_Set(true);
		Sleep(DWORD(Timeout * 2000));
		NZel::gf_GetDeadlockDetector().f_Stop(true);
		std::printf("no report after the gap\n");
		return 0;
	}

	// A stall that is never ended by the program. With suppressed reports it only renews the
	// heartbeat; otherwise it makes the report (at once when unattended, after the question's
	// No otherwise).
	int fg_WatchdogStall(double Timeout, bool bSuppress)
	{
		NZel::gf_GetDeadlockDetector().f_SetSuppressReport(bSuppress);
		CBeater Beater;
		fg_StartWatchdog(Timeout);
		Beater.f_Set(false);
		Sleep(DWORD(Timeout * 4000) + (bSuppress ? 0 : 60000));
		NZel::gf_GetDeadlockDetector().f_Stop(true);
		std::printf("the stalls passed without a report\n");
		return 0;
	}
}

int main(int argc, char **argv)
{
	using NZel::umint;
	bool bService = false;
	for (int i = 1; i < argc; ++i)
	{
		bService = bService || std::strcmp(argv[i], "-Service") == 0;
		if (std::strcmp(argv[i], "-SmallFullDump") == 0)
			NZel::NCrash::gf_SetDumpTypes(0x144, 0x144);
		if (std::strcmp(argv[i], "-NormalDumps") == 0)
			NZel::NCrash::gf_SetDumpTypes(0, 0);
		if (std::strcmp(argv[i], "-ReportLimit") == 0 && i + 1 < argc)
			NZel::NCrash::gf_SetReportLimit(DWORD(std::strtoul(argv[i + 1], nullptr, 10)));
	}
	NHushvane::gf_SetCrashSettings(bService ? NHushvane::ECrashMode::Service : NHushvane::ECrashMode::Program);
	std::setvbuf(stdout, nullptr, _IONBF, 0);

	std::string const Case = argc > 1 ? argv[1] : "";
	char const *pArgument = argc > 2 ? argv[2] : "0";
	umint const Address = umint(std::strtoull(pArgument, nullptr, 16));
	double const Timeout = std::atof(pArgument) > 0 ? std::atof(pArgument) : 1.0;

	if (Case == "read")
		hv_CrashRead(Address);
	else if (Case == "write")
		hv_CrashWrite(Address);
	else if (Case == "divide")
		hv_CrashDivide();
	else if (Case == "breakpoint")
	{
		hv_CrashBreakpoint();
		return 0;
	}
	else if (Case == "unknown")
		hv_CrashUnknown();
	else if (Case == "doublefree")
		hv_CrashDoubleFree();
	else if (Case == "overflow")
		g_Sink = hv_Recurse(0);
	else if (Case == "overflow-allocating")
		fg_RunOnSmallStack(&fg_OverflowAllocating);
	else if (Case == "overflow-holding-loader-lock")
		hv_OverflowHoldingLoaderLock();
	else if (Case == "call-null")
		hv_CallNull();
	else if (Case == "call-freed")
		hv_CallFreed();
#if defined(_WIN64)
	else if (Case == "unwind-past-stack-end")
		fg_RunOnSmallStack(&hv_ThreadPastStackEnd);
#endif
	else if (Case == "thread")
		hv_CrashOnThread();
	else if (Case == "deep")
		g_Sink = hv_DeepChain(int(std::strtol(pArgument, nullptr, 10)));
	else if (Case == "broken-chain")
		hv_CrashBrokenChain();
	else if (Case == "load-library")
	{
		bool const bLoaded = LoadLibraryA(pArgument) != nullptr;
		std::printf("%s\n", bLoaded ? "loaded" : "not loaded");
		return bLoaded ? 0 : 1;
	}
	else if (Case == "probe")
		return fg_Probe(pArgument);
	else if (Case == "press")
		return fg_Press(pArgument, argc > 3 ? std::atoi(argv[3]) : 0);
	else if (Case == "watchdog-renew")
		return fg_WatchdogRenew(Timeout);
	else if (Case == "watchdog-gap")
		return fg_WatchdogGap(Timeout);
	else if (Case == "watchdog-stall")
		return fg_WatchdogStall(Timeout, false);
	else if (Case == "watchdog-suppress")
		return fg_WatchdogStall(Timeout, true);
	else
	{
		std::printf("unknown case '%s'\n", Case.c_str());
		return 2;
	}
	std::printf("no crash\n");
	return 9;
}
