#pragma once
// Platform contract (Windows only): events in the Application log.
//
// gf_ReportEvent writes one event of the source pSource (whose message table the program's
// installation registered) with its type, its id as the message table has it and up to
// gc_EventMaxInserts insert strings in UTF-8; an insert longer than gc_EventMaxInsertUnits
// UTF-16 units is cut there. It uses fixed buffers on the caller's stack and takes no lock of
// the program's own, so the crash reporter may call it, and it never throws. False when the
// event could not be written (no event log service, no source).
#include "zel/library/core/general/Zel_Types.h"

namespace NZel::NSys
{
	inline constexpr uint32 gc_EventMaxInserts = 8;
	inline constexpr uint32 gc_EventMaxInsertUnits = 2048;

	enum class EEventType : uint8
	{
		Information,
		Warning,
		Error,
	};

	bool gf_ReportEvent(const char *pSource, EEventType Type, uint32 EventId, const char *const *pInserts, uint32 InsertCount);
}
