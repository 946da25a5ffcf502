#pragma once
// The context of one real run: the driver channel plus the run's own log file in the Log
// folder beside the program. Windows-only.
#include "KvWin/KvLogFile.h"
#include "app/Hushvane_DriverChannel.h"

namespace NHushvane
{
	class CWorkerContext : public CWorkerContextDriver
	{
	public:
		// Opens a new log file: <program folder>/Log, at most 64 KiB per file, a new file
		// every 4 weeks.
		CWorkerContext();
		~CWorkerContext() override;

		void f_WriteLine(NZel::NStr::CStr Line) override;
		void f_Flush() override;
		// To the Application log, as the source "Hushvane".
		void f_ReportEvent(ERunEvent Kind, std::initializer_list<NZel::NStr::CStr> Inserts) override;

	private:
		CKvLogFile fp_Log;
	};
}
