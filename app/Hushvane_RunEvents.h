#pragma once
// Writes a run's events to the Application log as the source "Hushvane", through one flood gate
// for the whole process. Windows-only.
#include "app/Hushvane_RunLog.h"

namespace NHushvane
{
	// The source the program's installation registers; its message file is hushvane.exe.
	inline constexpr const char *gc_EventSource = "Hushvane";

	// The event's id in the message table and its type, with the flood gate's note on the
	// events of that id left out in the minute before as the last insert. False when it was
	// held back or could not be written.
	bool gf_WriteRunEvent(ERunEvent Kind, std::initializer_list<NZel::NStr::CStr> Inserts);

	// The note that ends an event when LeftOut events of its id were held back before it;
	// empty for none.
	NZel::NStr::CStr gf_LeftOutNote(NZel::uint32 LeftOut);
}
