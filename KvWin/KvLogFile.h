#pragma once
// CKvLogFile: an append-only text log kept in a folder as a series of files, each named after
// the UTC time at which it was begun. f_WriteLine copies the line into memory and returns at
// once; a writer thread of the log moves the bytes to the current file every 5 seconds, and
// writes what is left when the log is destroyed. A new file is begun when the log is opened,
// when the bytes given since the last new file reach the size limit, and when the rollover
// period has passed.
#include "zel/library/core/general/Zel_ClockTime.h"
#include "zel/library/core/general/Zel_Str.h"

#include <memory>

class CKvLogFileInternal;

class CKvLogFile
{
public:
	CKvLogFile();
	~CKvLogFile();
	CKvLogFile(const CKvLogFile &) = delete;
	CKvLogFile &operator=(const CKvLogFile &) = delete;

	// Opens the log once: begins the first file in Folder and starts the writer.
	void f_Open(NZel::NStr::CStr Folder, NZel::uint64 MaxFileSize, NZel::NTime::CClockTime RolloverPeriod);
	// Never touches the disk. Lines end with "\r\n" of their own; nothing is added.
	void f_WriteLine(NZel::NStr::CStr Line);
	// Wakes the writer for a pass now, so the lines given so far reach the file without
	// waiting for the next regular pass. Returns at once.
	void f_Flush();

private:
	std::unique_ptr<CKvLogFileInternal> fp_pInternal;
};
