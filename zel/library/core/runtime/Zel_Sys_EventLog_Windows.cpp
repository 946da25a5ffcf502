#include "zel/library/core/runtime/Zel_Sys_EventLog.h"

#include <windows.h>

namespace NZel::NSys
{
	namespace
	{
		constexpr uint32 gc_SourceUnits = 256;

		// UTF-8 into Out (zero-terminated, at most Units - 1 units); invalid bytes become
		// U+FFFD, as MultiByteToWideChar makes them. An empty result for a text that does not
		// fit is cut instead: a shorter event beats none.
		void fg_Widen(const char *pText, wchar_t *pOut, uint32 Units)
		{
			pOut[0] = 0;
			if (!pText || !*pText)
				return;
			int Written = MultiByteToWideChar(CP_UTF8, 0, pText, -1, pOut, int(Units));
			if (Written > 0)
				return;
			// Too long: convert a prefix that fits, stepping back off a split sequence.
			int Length = 0;
			while (pText[Length] && Length < int(Units) - 1)
				++Length;
			while (Length > 0 && (static_cast<unsigned char>(pText[Length]) & 0xC0) == 0x80)
				--Length;
			Written = MultiByteToWideChar(CP_UTF8, 0, pText, Length, pOut, int(Units) - 1);
			pOut[Written > 0 ? Written : 0] = 0;
		}

		WORD fg_Type(EEventType Type)
		{
			switch (Type)
			{
			case EEventType::Error: return EVENTLOG_ERROR_TYPE;
			case EEventType::Warning: return EVENTLOG_WARNING_TYPE;
			case EEventType::Information: break;
			}
			return EVENTLOG_INFORMATION_TYPE;
		}
	}

	bool gf_ReportEvent(const char *pSource, EEventType Type, uint32 EventId, const char *const *pInserts, uint32 InsertCount)
	{
		if (InsertCount > gc_EventMaxInserts)
			InsertCount = gc_EventMaxInserts;
		wchar_t Source[gc_SourceUnits];
		fg_Widen(pSource, Source, gc_SourceUnits);
		wchar_t Inserts[gc_EventMaxInserts][gc_EventMaxInsertUnits];
		const wchar_t *Pointers[gc_EventMaxInserts];
		for (uint32 i = 0; i < InsertCount; ++i)
		{
			fg_Widen(pInserts[i], Inserts[i], gc_EventMaxInsertUnits);
			Pointers[i] = Inserts[i];
		}
		// Registered for each event: events are rare, and a handle kept would need a lock.
		HANDLE hSource = RegisterEventSourceW(nullptr, Source);
		if (!hSource)
			return false;
		BOOL bReported = ReportEventW(hSource, fg_Type(Type), 0, DWORD(EventId), nullptr, WORD(InsertCount), 0, InsertCount ? Pointers : nullptr, nullptr);
		DeregisterEventSource(hSource);
		return bReported != FALSE;
	}
}
