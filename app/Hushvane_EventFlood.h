#pragma once
// Keeps the Application log readable when something fails again and again: an event of one id
// is written at most once a minute, and the next one written tells how many were left out
// meanwhile. Platform-neutral; not locked (its owner is).
#include "zel/library/core/general/Zel_Types.h"

#include <vector>

namespace NHushvane
{
	inline constexpr NZel::uint64 gc_EventFloodWindowMs = 60000;

	class CEventFloodGate
	{
	public:
		// Decides on an event of Id at NowMs (any monotonic milliseconds). True when it is to
		// be written; LeftOut is then the number of events of that id left out since the last
		// one written.
		bool f_Admit(NZel::uint32 Id, NZel::uint64 NowMs, NZel::uint32 &LeftOut);

	private:
		struct CEntry
		{
			NZel::uint32 m_Id = 0;
			NZel::uint64 m_LastWritten = 0;
			NZel::uint32 m_LeftOut = 0;
		};
		std::vector<CEntry> fp_Entries; // one per id seen; a program has few
	};
}
