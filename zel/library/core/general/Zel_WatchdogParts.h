#pragma once
// The parts of the not-responding watchdog that need no window system: the stall arithmetic
// of one look of its watch loop and the in-memory dialog template of its question.
#include "zel/library/core/general/Zel_ClockTime.h"

namespace NZel::NWatchdog
{
	// One look of the watch loop at Now.
	//
	// Gap is the time since the previous look. A gap above half the time-out means that the
	// watch itself could not run (a suspended machine, a debugger): that time is not the
	// program's fault, so the caller adds it to the paused time (bHeldUp). The stall is the time
	// since the last heartbeat less the paused time known before this look and less the gap.
	struct CWatchLook
	{
		NTime::CClockTime m_Gap;
		bool m_bHeldUp = false;
		double m_StallSeconds = 0.0;
	};

	CWatchLook gf_WatchLook(const NTime::CClockTime &Now, const NTime::CClockTime &LastCheck, const NTime::CClockTime &LastAlive,
		const NTime::CClockTime &PausedTime, double TimeoutSeconds);

	// Identifiers of the dialog's items; Yes ends it with 1, No with 0.
	inline constexpr uint16 gc_DialogTextId = 200;
	inline constexpr uint16 gc_DialogYesId = 201;
	inline constexpr uint16 gc_DialogNoId = 202;
	inline constexpr int32 gc_DialogCaptionMax = 50;
	inline constexpr umint gc_DialogTemplateBytes = 2048;

	// Writes the question's dialog template (standard Windows layout, dialog units: a 200 x 75
	// modal frame with a caption, Yes, No and a static text) into pBuffer, which holds Size
	// bytes and is zero-filled. The caption is UTF-16, cut to gc_DialogCaptionMax characters;
	// every byte of the message is widened to one character. Returns the bytes used, or 0 when
	// the template does not fit.
	umint gf_BuildNotRespondingTemplate(uint8 *pBuffer, umint Size, const uint16 *pCaption, int32 CaptionLen, const char *pMessage);
}
