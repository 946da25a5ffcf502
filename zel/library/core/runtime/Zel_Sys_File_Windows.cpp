#include "zel/library/core/runtime/Zel_Sys_File.h"

#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_Str_Convert.h"
#include "zel/library/core/general/Zel_System_Handle.h"
#include "zel/library/core/runtime/Zel_Sys_File_Path.h"

#include <windows.h>

#include <cwchar>

namespace NZel::NSys::NFile
{
	struct CFileHandle
	{
		HANDLE m_hFile;
		NStr::CStr16 m_Path;
	};

	namespace
	{
		struct CFindTraits
		{
			using CHandle = HANDLE;
			static CHandle fs_Invalid() { return INVALID_HANDLE_VALUE; }
			static void fs_Close(CHandle hFind) { FindClose(hFind); }
		};
		using CUniqueFind = TCUniqueHandle<CFindTraits>;

		struct CFileTraits
		{
			using CHandle = HANDLE;
			static CHandle fs_Invalid() { return INVALID_HANDLE_VALUE; }
			static void fs_Close(CHandle hFile) { CloseHandle(hFile); }
		};
		using CUniqueFile = TCUniqueHandle<CFileTraits>;

		// GetFullPathNameW twice: once for the length, once into a buffer of that length + 1.
		// False with the thread's last error set when either call fails.
		bool gf_GetFullPath(const NStr::CStr16 &Path, NStr::CStr16 &Result)
		{
			DWORD nNeeded = GetFullPathNameW(Path.f_GetStr(), 0, nullptr, nullptr);
			if (nNeeded == 0)
				return false;
			wchar_t *pResult = Result.f_GetWritableBuffer(int32(nNeeded));
			if (!pResult)
				DZelThrow(NException::CExceptionMemory, "Out of memory for a path");
			DWORD nWritten = GetFullPathNameW(Path.f_GetStr(), nNeeded + 1, pResult, nullptr);
			if (nWritten == 0 || nWritten > nNeeded)
			{
				Result.f_Clear();
				if (nWritten > nNeeded)
					SetLastError(ERROR_INSUFFICIENT_BUFFER); // the current folder changed between the calls
				return false;
			}
			Result.f_SetLengthAndTrim(int32(nWritten));
			return true;
		}

		// Moves the file pointer to Position before a read or a write; pMissed is the message
		// when the pointer stops anywhere else.
		void gf_SeekTo(HANDLE hFile, uint64 Position, const char *pMissed)
		{
			LARGE_INTEGER Target;
			Target.QuadPart = LONGLONG(Position);
			LARGE_INTEGER Reached;
			if (!SetFilePointerEx(hFile, Target, &Reached, FILE_BEGIN))
				DZelThrowSystemError(NZel::NFile::CExceptionFile, "SetFilePointerEx");
			if (uint64(Reached.QuadPart) != Position)
				DZelThrow(NZel::NFile::CExceptionFile, pMissed);
		}
	}

	CFileHandle *gf_Open(const NStr::CStr &Path, uint32 Flags)
	{
		if (const char *pError = gf_GetOpenFlagsError(Flags))
			DZelThrow(NZel::NFile::CExceptionFile, pError);

		NStr::CStr16 FullPath;
		if (!gf_GetFullPath(gf_ToWidePath(Path), FullPath))
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "GetFullPathName");

		DWORD Access = 0;
		if (Flags & EOpenFlag_Read)
			Access |= GENERIC_READ;
		if (Flags & EOpenFlag_Write)
			Access |= GENERIC_WRITE;
		DWORD Share = 0;
		if (Flags & EOpenFlag_ShareRead)
			Share |= FILE_SHARE_READ;
		if (Flags & EOpenFlag_ShareWrite)
			Share |= FILE_SHARE_WRITE;
		DWORD Attributes = FILE_ATTRIBUTE_NORMAL;
		if (Flags & EOpenFlag_WriteThrough)
			Attributes |= FILE_FLAG_WRITE_THROUGH;

		CUniqueFile File(CreateFileW(FullPath.f_GetStr(), Access, Share, nullptr, DWORD(gf_GetCreationDisposition(Flags)), Attributes, nullptr));
		if (!File)
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "CreateFile");
		CFileHandle *pFile = new CFileHandle{File.f_Get(), std::move(FullPath)};
		File.f_Release();
		return pFile;
	}

	void *gf_GetSystemHandle(CFileHandle *pFile)
	{
		return pFile->m_hFile;
	}

	void gf_Close(CFileHandle *pFile)
	{
		if (!pFile)
			return;
		BOOL bClosed = CloseHandle(pFile->m_hFile);
		DWORD Error = GetLastError();
		delete pFile;
		if (!bClosed)
		{
			SetLastError(Error);
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "CloseHandle");
		}
	}

	uint32 gf_Read(CFileHandle *pFile, void *pDestination, uint64 Position, uint32 Count)
	{
		gf_SeekTo(pFile->m_hFile, Position, "Failed to move file pointer to read location");
		DWORD nRead = 0;
		if (!ReadFile(pFile->m_hFile, pDestination, Count, &nRead, nullptr))
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "ReadFile");
		return nRead;
	}

	uint32 gf_Write(CFileHandle *pFile, const void *pSource, uint64 Position, uint32 Count)
	{
		gf_SeekTo(pFile->m_hFile, Position, "Failed to move file pointer to write location");
		DWORD nWritten = 0;
		if (!WriteFile(pFile->m_hFile, pSource, Count, &nWritten, nullptr))
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "WriteFile");
		return nWritten;
	}

	void gf_Flush(CFileHandle *pFile)
	{
		if (!FlushFileBuffers(pFile->m_hFile))
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "FlushFileBuffers");
	}

	uint64 gf_GetSize(CFileHandle *pFile)
	{
		LARGE_INTEGER Size;
		if (!GetFileSizeEx(pFile->m_hFile, &Size))
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "GetFileSizeEx");
		return uint64(Size.QuadPart);
	}

	void gf_Copy(const NStr::CStr &Source, const NStr::CStr &Target)
	{
		if (!CopyFileW(gf_ToWidePath(Source).f_GetStr(), gf_ToWidePath(Target).f_GetStr(), FALSE))
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "CopyFile");
	}

	void gf_Rename(const NStr::CStr &OldPath, const NStr::CStr &NewPath)
	{
		if (!MoveFileW(gf_ToWidePath(OldPath).f_GetStr(), gf_ToWidePath(NewPath).f_GetStr()))
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "MoveFile");
	}

	void gf_Replace(const NStr::CStr &OldPath, const NStr::CStr &NewPath)
	{
		if (!MoveFileExW(gf_ToWidePath(OldPath).f_GetStr(), gf_ToWidePath(NewPath).f_GetStr(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "MoveFileEx");
	}

	bool gf_Delete(const NStr::CStr &Path) noexcept
	{
		try
		{
			return DeleteFileW(gf_ToWidePath(Path).f_GetStr()) != FALSE;
		}
		catch (...)
		{
			return false; // no memory for the wide path
		}
	}

	void gf_CreateDirectory(const NStr::CStr &Path)
	{
		NStr::CStr16 const Wide = NStr::gf_ReplaceUnit(gf_ToWidePath(Path), L'/', L'\\', "Out of memory for a path");
		for (umint End : NPrivate::gf_DirectoryPrefixes(Wide.f_GetStr(), umint(Wide.f_GetLen())))
		{
			NStr::CStr16 const Prefix(Wide.f_GetStr(), int32(End));
			NStr::CStr16 const Pattern = Prefix + L"\\*";
			if (Prefix.f_GetLen() != int32(End) || Pattern.f_GetLen() != int32(End) + 2)
				DZelThrow(NException::CExceptionMemory, "Out of memory for a path");
			WIN32_FIND_DATAW FindData;
			CUniqueFind Find(FindFirstFileW(Pattern.f_GetStr(), &FindData));
			if (Find)
				continue;
			if (!CreateDirectoryW(Prefix.f_GetStr(), nullptr))
				DZelThrowSystemError(NZel::NFile::CExceptionFile, "CreateDirectory");
		}
	}

	bool gf_Exists(const NStr::CStr &Path, uint32 Accept)
	{
		DWORD Attributes = GetFileAttributesW(gf_ToWidePath(Path).f_GetStr());
		if (Attributes == INVALID_FILE_ATTRIBUTES)
			return false;
		if (Attributes & FILE_ATTRIBUTE_DIRECTORY)
			return (Accept & EExistsAccept_Folder) != 0;
		return (Accept & EExistsAccept_File) != 0;
	}

	NStr::CStr gfs_GetProgramPath()
	{
		// The running image itself, not the first word of the command line: started through
		// PATH ("hushvane -RunAsProgram"), or by a path relative to a folder other than the
		// one it runs in, the program still finds what it keeps beside itself.
		NStr::CStr16 Path;
		for (int32 Room = MAX_PATH;; Room *= 2)
		{
			wchar_t *pPath = Path.f_GetWritableBuffer(Room);
			if (!pPath)
				return NStr::CStr();
			DWORD Length = GetModuleFileNameW(nullptr, pPath, DWORD(Room));
			if (Length == 0)
				return NStr::CStr();
			if (Length < DWORD(Room))
			{
				Path.f_SetLengthAndTrim(int32(Length));
				break;
			}
			// Cut to fit: Windows paths end at 32767 characters.
			if (Room > 32768)
				return NStr::CStr();
		}
		// A program started by a "\\?\" path gets that form back; the rest of the file layer
		// writes paths with '/' and would not keep it intact.
		static const wchar_t c_UncPrefix[] = L"\\\\?\\UNC\\";
		static const wchar_t c_LongPrefix[] = L"\\\\?\\";
		const wchar_t *pText = Path.f_GetStr();
		if (wcsncmp(pText, c_UncPrefix, 8) == 0)
			Path = NStr::CStr16(L"\\\\") + (pText + 8);
		else if (wcsncmp(pText, c_LongPrefix, 4) == 0)
			Path = pText + 4;
		try
		{
			return gf_FromWindowsPath(Path);
		}
		catch (NException::CExceptionMemory &)
		{
			return NStr::CStr(); // never throws: no memory is as good as no path
		}
	}
}
