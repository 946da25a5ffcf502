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

	protected:
		~ICRunLog() = default;
	};
}
