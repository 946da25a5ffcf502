#include "app/Hushvane_RunEvents.h"
#include "app/Hushvane_EventFlood.h"
#include "zel/library/core/general/Zel_Format.h"
#include "zel/library/core/general/Zel_Lock.h"
#include "zel/library/core/runtime/Zel_Sys_EventLog.h"

#include "HushvaneEvents.h"

#include <windows.h>

namespace NHushvane
{
	using NZel::NStr::CStr;
	using NZel::NSys::EEventType;

	namespace
	{
		struct CEventDefinition
		{
			ERunEvent m_Kind;
			NZel::uint32 m_MessageId;
			EEventType m_Type;
		};

		constexpr CEventDefinition gc_Events[] = {
			{ERunEvent::DriverNotUp, MSG_HUSHVANE_DRIVER_NOT_UP, EEventType::Warning},
			{ERunEvent::DriverLost, MSG_HUSHVANE_DRIVER_LOST, EEventType::Warning},
			{ERunEvent::DriverUp, MSG_HUSHVANE_DRIVER_UP, EEventType::Information},
			{ERunEvent::ImageRefused, MSG_HUSHVANE_IMAGE_REFUSED, EEventType::Error},
			{ERunEvent::ConfigUnreadable, MSG_HUSHVANE_CONFIG_UNREADABLE, EEventType::Warning},
			{ERunEvent::ConfigWarnings, MSG_HUSHVANE_CONFIG_WARNINGS, EEventType::Warning},
			{ERunEvent::ConfigWritable, MSG_HUSHVANE_CONFIG_WRITABLE, EEventType::Warning},
			{ERunEvent::RunFailed, MSG_HUSHVANE_RUN_FAILED, EEventType::Error},
		};

		struct CFlood
		{
			NZel::NThread::CLock m_Lock;
			CEventFloodGate m_Gate;
		};

		CFlood &fg_Flood()
		{
			static CFlood s_Flood;
			return s_Flood;
		}

		// Lines of the run's log end in a line break; inside an event the message places them.
		CStr fg_WithoutLineEnd(const CStr &Text)
		{
			NZel::int32 Length = Text.f_GetLen();
			const char *pText = Text.f_GetStr();
			while (Length > 0 && (pText[Length - 1] == '\r' || pText[Length - 1] == '\n'))
				--Length;
			return Length == Text.f_GetLen() ? Text : CStr(pText, Length, Text.f_GetKind());
		}
	}

	CStr gf_LeftOutNote(NZel::uint32 LeftOut)
	{
		if (LeftOut == 0)
			return CStr();
		return CStr::CFormat("\r\n({} more of this event were left out in the minute before)") << LeftOut;
	}

	bool gf_WriteRunEvent(ERunEvent Kind, std::initializer_list<CStr> Inserts)
	{
		const CEventDefinition *pDefinition = nullptr;
		for (const CEventDefinition &Definition : gc_Events)
			if (Definition.m_Kind == Kind)
				pDefinition = &Definition;
		if (!pDefinition || Inserts.size() + 1 > NZel::NSys::gc_EventMaxInserts)
			return false;

		NZel::uint32 LeftOut = 0;
		{
			CFlood &Flood = fg_Flood();
			NZel::NThread::CLockGuard Guard(Flood.m_Lock);
			if (!Flood.m_Gate.f_Admit(pDefinition->m_MessageId, GetTickCount64(), LeftOut))
				return false;
		}
		CStr Texts[NZel::NSys::gc_EventMaxInserts];
		const char *Pointers[NZel::NSys::gc_EventMaxInserts];
		NZel::uint32 Count = 0;
		for (const CStr &Insert : Inserts)
			Texts[Count++] = fg_WithoutLineEnd(Insert);
		Texts[Count++] = gf_LeftOutNote(LeftOut);
		for (NZel::uint32 i = 0; i < Count; ++i)
			Pointers[i] = Texts[i].f_GetStr();
		return NZel::NSys::gf_ReportEvent(gc_EventSource, pDefinition->m_Type, pDefinition->m_MessageId, Pointers, Count);
	}
}
