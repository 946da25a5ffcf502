#pragma once
#include "zel/library/core/general/Zel_Str.h"

namespace NHushvane
{
	// Where one run of the worker reports: complete lines ending in "\r\n", handed over at
	// once (the run's log file, or a collector in tests).
	class ICRunLog
	{
	public:
		virtual void f_WriteLine(NZel::NStr::CStr Line) = 0;
		// Asks for the lines handed over so far to reach their destination now rather than at
		// the next regular write; a log that writes at once has nothing to do.
		virtual void f_Flush() {}

	protected:
		~ICRunLog() = default;
	};
}
