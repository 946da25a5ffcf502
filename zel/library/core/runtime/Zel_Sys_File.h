#pragma once
// Platform contract: files, folders and the program's own path.
//
// Every function here throws NZel::NFile::CExceptionFile on failure and returns no error codes,
// except gf_Exists and gfs_GetProgramPath, which never throw. Paths are 8-bit texts (UTF-8, or
// Latin-1 where they are not valid UTF-8) in which '/' and '\' both separate folders; relative
// paths are made absolute against the current folder.
//
// gf_Open checks the flags first (messages below), then opens; a failed gf_Open leaves nothing
// open. gf_Read and gf_Write position at an absolute offset and make one transfer; they return
// the bytes transferred, which may be fewer than asked, and never move a position of the caller.
#include "zel/library/core/general/Zel_Str.h"

namespace NZel::NSys::NFile
{
	enum EOpenFlag : uint32
	{
		EOpenFlag_Read = 0x01,
		EOpenFlag_Write = 0x02,
		EOpenFlag_DontCreate = 0x04,       // the file must exist
		EOpenFlag_KeepContents = 0x08,     // an existing file is not truncated
		EOpenFlag_DontOpenExisting = 0x10, // the file must not exist
		EOpenFlag_ShareRead = 0x20,
		EOpenFlag_ShareWrite = 0x40,
		EOpenFlag_WriteThrough = 0x80,
	};

	// Accept bits of gf_Exists.
	enum EExistsAccept : uint32
	{
		EExistsAccept_Folder = 0x01,
		EExistsAccept_File = 0x20,
	};

	// How an open treats an existing or missing file; the values are the Windows ones.
	enum ECreationDisposition : uint32
	{
		ECreationDisposition_CreateNew = 1,
		ECreationDisposition_CreateAlways = 2,
		ECreationDisposition_OpenExisting = 3,
		ECreationDisposition_OpenAlways = 4,
		ECreationDisposition_TruncateExisting = 5,
	};

	// The open file: the system handle and the absolute path that was opened. Made by gf_Open,
	// destroyed by gf_Close; its layout belongs to the platform.
	struct CFileHandle;

	// The message gf_Open throws for the flags, or null when they are usable: neither read nor
	// write; both "don't create" and "don't open existing"; "don't open existing" with read but
	// no write. Checked in that order.
	const char *gf_GetOpenFlagsError(uint32 Flags);
	// First match of: don't open existing; don't create (with / without keep contents);
	// no write; write with / without keep contents.
	ECreationDisposition gf_GetCreationDisposition(uint32 Flags);

	CFileHandle *gf_Open(const NStr::CStr &Path, uint32 Flags);
	// Closes the system handle and frees the object, also when closing reports an error (which
	// is then thrown). Null is ignored.
	void gf_Close(CFileHandle *pFile);
	uint32 gf_Read(CFileHandle *pFile, void *pDestination, uint64 Position, uint32 Count);
	uint32 gf_Write(CFileHandle *pFile, const void *pSource, uint64 Position, uint32 Count);
	void gf_Flush(CFileHandle *pFile);
	uint64 gf_GetSize(CFileHandle *pFile);
	// The system's handle of the open file (Windows: the file HANDLE; POSIX: the descriptor),
	// for system calls that write into a file themselves, such as a dump writer.
	void *gf_GetSystemHandle(CFileHandle *pFile);

	// Copies the file; an existing target is overwritten.
	void gf_Copy(const NStr::CStr &Source, const NStr::CStr &Target);
	// Renames or moves the file; fails when the new path exists.
	void gf_Rename(const NStr::CStr &OldPath, const NStr::CStr &NewPath);
	// Moves the file to NewPath in one step, replacing a file of that name, and returns only once
	// the move is on disk ("MoveFileEx" in the message).
	void gf_Replace(const NStr::CStr &OldPath, const NStr::CStr &NewPath);
	// Deletes the file; false when it could not be deleted. Never throws.
	bool gf_Delete(const NStr::CStr &Path) noexcept;
	// Creates every missing folder of the path, never a drive root or a network share. A path
	// without any separator creates nothing. Folders made before a failure stay.
	void gf_CreateDirectory(const NStr::CStr &Path);

	// True when the path is a folder and Accept has EExistsAccept_Folder, or is something else
	// and Accept has EExistsAccept_File. Any failure counts as not existing.
	bool gf_Exists(const NStr::CStr &Path, uint32 Accept);

	// The absolute path of the running program's image (GetModuleFileNameW on Windows), with
	// every '\' turned into '/'. Empty when it cannot be read.
	NStr::CStr gfs_GetProgramPath();

	// A path as UTF-16 for the wide system functions: the bytes are read as UTF-8 when they
	// are valid UTF-8, whatever kind the string is marked, and as Latin-1 otherwise, so that no
	// path is refused for its encoding. Throws NException::CExceptionMemory rather than hand
	// on a path cut short.
	NStr::CStr16 gf_ToWidePath(const NStr::CStr &Path);
	// A UTF-16 path from the wide system functions as UTF-8 (kind 2); lone surrogates become
	// U+FFFD. Throws NException::CExceptionMemory rather than return a path cut short.
	NStr::CStr gf_FromWidePath(const NStr::CStr16 &Path);
	// A path from the wide Windows functions in the form the file layer writes: UTF-8 with '/'
	// between the parts. Throws NException::CExceptionMemory as gf_FromWidePath does.
	NStr::CStr gf_FromWindowsPath(const NStr::CStr16 &Path);
}
