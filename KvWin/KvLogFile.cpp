#include "KvWin/KvLogFile.h"

#include "KvWin/KvLogFileInternal.h"

#include "zel/library/core/general/Zel_Format.h"
#include "zel/library/core/runtime/Zel_Sys_Debug.h"

#include <exception>

using NZel::int32;
using NZel::uint32;
using NZel::uint64;
using NZel::NStr::CStr;
using NZel::NTime::CClockTime;

CKvLogFile::CKvLogFile()
	: fp_pInternal(std::make_unique<CKvLogFileInternal>())
{
}

CKvLogFile::~CKvLogFile() = default;

void CKvLogFile::f_Open(CStr Folder, uint64 MaxFileSize, CClockTime RolloverPeriod)
{
	fp_pInternal->f_Open(std::move(Folder), MaxFileSize, RolloverPeriod);
}

void CKvLogFile::f_WriteLine(CStr Line)
{
	fp_pInternal->f_Write(Line.f_GetStr(), Line.f_GetLen());
}

void CKvLogFile::f_Flush()
{
	fp_pInternal->f_Flush();
}

CKvLogFileInternal::CKvLogFileInternal(double FlushPeriod, NZel::NTime::CClock &Clock, NZel::NTime::CTimerContext &Timers)
	: fp_Clock(Clock)
	, fp_Timers(Timers)
	, fp_FlushPeriod(FlushPeriod)
{
}

CKvLogFileInternal::~CKvLogFileInternal()
{
	// The writer uses the members below; it must be gone before they are.
	f_Stop(true);
}

CStr CKvLogFileInternal::f_GetThreadName()
{
	return CStr("Kv_LogFile");
}

CStr CKvLogFileInternal::fs_MakeFileName(const CClockTime &Time)
{
	NZel::NTime::CCalendarTime Calendar = Time.f_GetCalendar();
	CStr::CFormat Format("/{}-{sj2,sf0}-{sj2,sf0}_{sj2,sf0}.{sj2,sf0}.{sj2,sf0}.{sj3,sf0}.log");
	Format << int32(Calendar.m_Year) << Calendar.m_Month << Calendar.m_Day << Calendar.m_Hour << Calendar.m_Minute
		   << Calendar.m_Second << Calendar.f_GetMilliseconds();
	return Format.f_ToString();
}

CStr CKvLogFileInternal::f_GetCurrentPath()
{
	NZel::NThread::CLockGuard Guard(fp_BufferLock);
	return fp_GetCurrentPath();
}

void CKvLogFileInternal::fp_BeginNewFile(const CClockTime &Now)
{
	fp_NewFileTime = Now;
	fp_bPathStale = true;
}

const CStr &CKvLogFileInternal::fp_GetCurrentPath()
{
	if (fp_bPathStale)
	{
		fp_CurrentPath = fp_Folder + fs_MakeFileName(fp_NewFileTime);
		fp_bPathStale = false;
	}
	return fp_CurrentPath;
}

void CKvLogFileInternal::f_Open(CStr Folder, uint64 MaxFileSize, CClockTime RolloverPeriod)
{
	{
		NZel::NThread::CLockGuard Guard(fp_BufferLock);
		fp_Folder = std::move(Folder);
		fp_MaxFileSize = MaxFileSize;
		fp_RolloverPeriod = RolloverPeriod;
		CClockTime Now = fp_Clock.f_GetTime();
		fp_NextRollover = Now + fp_RolloverPeriod;
		fp_BeginNewFile(Now);
		fp_bOpened = true;
	}
	f_Start(0x8000, 0);
}

void CKvLogFileInternal::f_Write(const char *pData, int32 Length)
{
	if (Length <= 0)
		return;
	NZel::NThread::CLockGuard Guard(fp_BufferLock);
	CClockTime Now = fp_Clock.f_GetTime();
	if (fp_bOpened && Now > fp_NextRollover)
	{
		fp_BeginNewFile(Now);
		fp_NextRollover = Now + fp_RolloverPeriod;
	}
	fp_Pending.f_WriteBytes(pData, NZel::umint(Length));
	fp_PendingCount += uint32(Length);
	fp_BytesSinceNewFile += uint64(Length);
	// Until the writer's next pass every further write begins the file again; the name of
	// the last one made before the pass wins.
	if (fp_bOpened && fp_BytesSinceNewFile >= fp_MaxFileSize)
		fp_BeginNewFile(Now);
}

void CKvLogFileInternal::fp_Report(const CStr &Path, const char *pMessage)
{
	if (fp_bFailureReported)
		return;
	fp_bFailureReported = true;
	CStr Line = CStr("Kv_LogFile: cannot write the log file ") + Path + ", its lines are kept and retried: " + pMessage + "\n";
	NZel::NSys::gf_DebugOutput(Line.f_GetStr());
}

void CKvLogFileInternal::fp_Pass()
{
	CStr Path;
	{
		NZel::NThread::CLockGuard Guard(fp_BufferLock);
		Path = fp_GetCurrentPath();
		if (fp_PendingCount)
		{
			NZel::umint Needed = fp_WriterBuffer.size() + fp_PendingCount;
			if (fp_WriterBuffer.capacity() < Needed)
				fp_WriterBuffer.reserve(Needed + mc_BufferGrowth);
			const NZel::uint8 *pData = fp_Pending.f_GetData();
			fp_WriterBuffer.insert(fp_WriterBuffer.end(), pData, pData + fp_PendingCount);
			fp_PendingCount = 0;
			fp_Pending.f_Clear();
		}
		if (Path != fp_TakenPath)
		{
			fp_BytesSinceNewFile = 0;
			fp_TakenPath = Path;
		}
	}

	try
	{
		if (!fp_File.f_IsOpen() || Path != fp_OpenPath)
		{
			fp_File.f_Close();
			fp_OpenPath = CStr();
			try
			{
				NZel::NSys::NFile::gf_CreateDirectory(NZel::NFile::gf_GetFolderOf(Path));
			}
			catch (const NZel::NException::CException &)
			{
				// Shows as a failure to open the file just below.
			}
			using namespace NZel::NSys::NFile;
			fp_File.f_Open(Path, EOpenFlag_Write | EOpenFlag_KeepContents | EOpenFlag_ShareRead | EOpenFlag_WriteThrough);
			fp_File.f_SetPositionFromEnd(0);
			fp_OpenPath = Path;
		}
		if (!fp_WriterBuffer.empty())
		{
			// A failed write leaves the position where it was: the retry rewrites the same
			// bytes at the same place, so nothing is doubled.
			fp_File.f_Write(fp_WriterBuffer.data(), uint32(fp_WriterBuffer.size()));
			fp_WriterBuffer.clear();
			fp_File.f_Flush();
		}
		fp_bFailureReported = false;
	}
	catch (const NZel::NException::CException &Exception)
	{
		fp_Report(Path, Exception.f_GetMessage());
	}
	catch (const std::exception &Exception)
	{
		fp_Report(Path, Exception.what());
	}
}

int32 CKvLogFileInternal::f_Execute()
{
	NZel::NTime::CTimerContext::CTimer *pTimer = nullptr;
	try
	{
		pTimer = fp_Timers.f_AddTimer(fp_WriterEvent, fp_FlushPeriod);
	}
	catch (const NZel::NException::CException &Exception)
	{
		// Without the timer the writer still writes everything when the log is destroyed.
		fp_Report(CStr("(timer)"), Exception.f_GetMessage());
	}
	fp_WakeEvent.f_Link(fp_WriterEvent);

	for (;;)
	{
		{
			NZel::NThread::CLockGuard Guard(fp_Lock);
			if (fp_State == NZel::NThread::EThreadState::StopRequested)
				break;
		}
		fp_Pass();
		fp_WriterEvent.f_Wait();
	}

	// Lines written after the last pass, right before the log is destroyed, are written too.
	fp_Pass();

	fp_Timers.f_RemoveTimer(pTimer);
	fp_WriterEvent.f_Unlink();
	std::vector<NZel::uint8>().swap(fp_WriterBuffer);
	try
	{
		fp_File.f_Close();
	}
	catch (const NZel::NException::CException &)
	{
	}
	fp_OpenPath = CStr();
	return 0;
}
