#pragma once
#include "zel/library/core/general/Zel_Str.h"

#include <initializer_list>

namespace NHushvane
{
	// What a run also tells the Application log, besides the lines of its own log: one kind
	// per event, each with its insert strings (see resources/HushvaneEvents.mc).
	enum class ERunEvent
	{
		DriverNotUp,      // the lines that said why; the watcher's interval in ms
		DriverLost,       // the watcher's interval in ms
		DriverUp,         // none
		ImageRefused,     // the run's line that names the path and who can change it
		ConfigUnreadable, // the path; the error; what the run goes on with
		ConfigWarnings,   // the path; the number of warnings
		ConfigWritable,   // the run's line that names who can change the file
		RunFailed,        // the error; seconds until the next run
	};

	// Where one run of the worker reports: complete lines ending in "\r\n", handed over at
	// once (the run's log file, or a collector in tests), and the events that go to the
	// Application log as well.
	class ICRunLog
	{
	public:
		virtual void f_WriteLine(NZel::NStr::CStr Line) = 0;
		// Asks for the lines handed over so far to reach their destination now rather than at
		// the next regular write; a log that writes at once has nothing to do.
		virtual void f_Flush() {}
		// One event besides the log's lines (never instead of them); a log that has no event
		// log beside it drops it.
		virtual void f_ReportEvent(ERunEvent Kind, std::initializer_list<NZel::NStr::CStr> Inserts)
		{
			(void)Kind;
			(void)Inserts;
		}

	protected:
		~ICRunLog() = default;
	};
}
