#pragma once
// The log's writer thread and its pending buffer (see KvLogFile.h).
//
// Callers append to the pending buffer under the buffer lock; the writer takes everything
// pending under the same lock and does all file work outside it. Bytes the writer has taken
// stay in its own buffer until a write of them succeeds: a file that cannot be opened or
// written loses nothing, is retried at every pass, and is reported once to the debugger
// output per outage. The writer never ends the process.
#include "zel/library/core/file/Zel_File.h"
#include "zel/library/core/general/Zel_Clock.h"
#include "zel/library/core/general/Zel_Event.h"
#include "zel/library/core/general/Zel_Lock.h"
#include "zel/library/core/general/Zel_Stream_Memory.h"
#include "zel/library/core/general/Zel_System_Thread.h"
#include "zel/library/core/general/Zel_Timer.h"

#include <vector>

class CKvLogFileInternal : public NZel::NThread::ICThread
{
public:
	static constexpr double mc_FlushPeriod = 5.0;
	static constexpr NZel::uint32 mc_BufferGrowth = 4096;

	// The clock names the files and times the rollover period; the timer context wakes the
	// writer every FlushPeriod seconds.
	explicit CKvLogFileInternal(double FlushPeriod = mc_FlushPeriod, NZel::NTime::CClock &Clock = NZel::NTime::gf_GetClock(),
		NZel::NTime::CTimerContext &Timers = NZel::NTime::gf_GetTimerContext());
	~CKvLogFileInternal() override;

	void f_Open(NZel::NStr::CStr Folder, NZel::uint64 MaxFileSize, NZel::NTime::CClockTime RolloverPeriod);
	void f_Write(const char *pData, NZel::int32 Length);
	void f_Flush() { fp_WriterEvent.f_Signal(); }

	NZel::int32 f_Execute() override;
	NZel::NStr::CStr f_GetThreadName() override;

	// "/YYYY-MM-DD_hh.mm.ss.mmm.log" for a UTC time.
	static NZel::NStr::CStr fs_MakeFileName(const NZel::NTime::CClockTime &Time);

	// The path the next pass writes to; for tests and diagnostics.
	NZel::NStr::CStr f_GetCurrentPath();

private:
	// Both with the buffer lock held. Beginning a file only records its time; the name is
	// made when the path is next needed, so a log over its size limit, which begins the file
	// again at every write until the writer's pass, pays for one name per pass, not per line.
	void fp_BeginNewFile(const NZel::NTime::CClockTime &Now);
	const NZel::NStr::CStr &fp_GetCurrentPath();
	void fp_Pass();
	void fp_Report(const NZel::NStr::CStr &Path, const char *pMessage);

	NZel::NTime::CClock &fp_Clock;
	NZel::NTime::CTimerContext &fp_Timers;
	double fp_FlushPeriod;

	NZel::NThread::CEventAutoResetAggregate fp_WriterEvent;
	NZel::NThread::CLock fp_BufferLock; // guards every member down to fp_Pending
	NZel::NStr::CStr fp_CurrentPath;
	NZel::NTime::CClockTime fp_NewFileTime; // when the current file was begun
	bool fp_bPathStale = false;             // fp_CurrentPath not yet made from fp_NewFileTime
	NZel::NStr::CStr fp_Folder;
	NZel::uint64 fp_MaxFileSize = 0;
	NZel::uint64 fp_BytesSinceNewFile = 0;
	NZel::uint32 fp_PendingCount = 0;
	NZel::NTime::CClockTime fp_RolloverPeriod = NZel::NTime::CClockTime::fs_Never();
	NZel::NTime::CClockTime fp_NextRollover = NZel::NTime::CClockTime::fs_Never();
	bool fp_bOpened = false;
	NZel::NStream::CBinaryStreamMemory<> fp_Pending{mc_BufferGrowth};

	// The writer's own; touched only on the writer thread.
	NZel::NFile::CFile fp_File;
	NZel::NStr::CStr fp_OpenPath;  // path of fp_File while it is open
	NZel::NStr::CStr fp_TakenPath; // path seen at the last pass
	std::vector<NZel::uint8> fp_WriterBuffer;
	bool fp_bFailureReported = false;
};
