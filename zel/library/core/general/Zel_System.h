#pragma once
// The process-wide system object: one per process, owning what the foundation library shares
// between all threads (the event link pool, thread storage).
//
// It is made on first use by gf_GetSystem (a function-local static, so its construction is
// thread-safe and happens before any code that asks for it, including the constructors of
// other static objects) and never destroyed: objects whose destructors run late in process
// exit (static locks, events, thread records) may still use it then.
#include <memory>

namespace NZel
{
	namespace NThread
	{
		class CEventLinkPool;
	}
	namespace NCrash
	{
		class CStackTrace;
	}

	class CSystem
	{
	public:
		class CThreadStorageContext;

		CSystem();
		virtual ~CSystem();
		CSystem(CSystem const &) = delete;
		CSystem &operator=(CSystem const &) = delete;

		NThread::CEventLinkPool &f_GetEventLinkPool();
		CThreadStorageContext &f_GetThreadStorage(); // Zel_ThreadStorage.h

	private:
		std::unique_ptr<NThread::CEventLinkPool> fp_pEventLinkPool;
		std::unique_ptr<CThreadStorageContext> fp_pThreadStorage;
	};

	// The Windows flavour of the system object. Its construction installs the crash reporter
	// as the process's unhandled-exception filter (Zel_Runtime_CrashReporter.h).
	class CSystemWindowsMSVC : public CSystem
	{
	public:
		class CDeadlockDetector; // Zel_Runtime_DeadlockDetector.h

		CSystemWindowsMSVC();
		~CSystemWindowsMSVC() override;

		// The crash reporter's symbol engine.
		NCrash::CStackTrace &f_GetStackTrace();
		// The not-responding watchdog, made at its first use (its events need the finished
		// system object). Idle until somebody starts it.
		CDeadlockDetector &f_GetDeadlockDetector();

	private:
		std::unique_ptr<NCrash::CStackTrace> fp_pStackTrace;
	};

	CSystem &gf_GetSystem();
	// The system object of a Windows process.
	CSystemWindowsMSVC &gf_GetSystemWindows();
}
