#include "app/Hushvane_EventFlood.h"

namespace NHushvane
{
	bool CEventFloodGate::f_Admit(NZel::uint32 Id, NZel::uint64 NowMs, NZel::uint32 &LeftOut)
	{
		LeftOut = 0;
		for (CEntry &Entry : fp_Entries)
		{
			if (Entry.m_Id != Id)
				continue;
			if (NowMs - Entry.m_LastWritten < gc_EventFloodWindowMs)
			{
				++Entry.m_LeftOut;
				return false;
			}
			LeftOut = Entry.m_LeftOut;
			Entry.m_LeftOut = 0;
			Entry.m_LastWritten = NowMs;
			return true;
		}
		CEntry Entry;
		Entry.m_Id = Id;
		Entry.m_LastWritten = NowMs;
		fp_Entries.push_back(Entry);
		return true;
	}
}
