#include "app/Hushvane_WorkerContext.h"
#include "app/Hushvane_RunEvents.h"
#include "zel/library/core/file/Zel_File.h"
#include "zel/library/core/general/Zel_ClockTime.h"

namespace NHushvane
{
	namespace
	{
		constexpr NZel::uint64 gc_LogMaxFileSize = 0x10000;
	}

	CWorkerContext::CWorkerContext()
	{
		fp_Log.f_Open(NZel::NFile::gf_GetProgramFolder() + "/Log", gc_LogMaxFileSize, NZel::NTime::CClockTime::fs_Span(28, 0, 0, 0));
	}

	CWorkerContext::~CWorkerContext()
	{
		// The channel goes before the log, as the run's handles belong to the run.
		f_CloseChannel();
	}

	void CWorkerContext::f_WriteLine(NZel::NStr::CStr Line)
	{
		fp_Log.f_WriteLine(Line);
	}

	void CWorkerContext::f_Flush()
	{
		fp_Log.f_Flush();
	}

	void CWorkerContext::f_ReportEvent(ERunEvent Kind, std::initializer_list<NZel::NStr::CStr> Inserts)
	{
		gf_WriteRunEvent(Kind, Inserts);
	}
}
