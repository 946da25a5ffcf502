#include "zel/library/core/runtime/Zel_Sys_File.h"

#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_System_Handle.h"
#include "zel/library/core/runtime/Zel_Sys_File_Path.h"

#include <windows.h>

#include <string>

namespace NZel::NSys::NFile
{
	struct CFileHandle
	{
		HANDLE m_hFile;
		std::wstring m_Path;
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

		// Paths arrive as UTF-8 where they are valid UTF-8; anything else is taken as Latin-1,
		// one byte to one UTF-16 unit, so that no path is ever refused for its encoding.
		std::wstring gf_ToWide(const NStr::CStr &Path)
		{
			const char *pText = Path.f_GetStr();
			int Length = Path.f_GetLen();
			std::wstring Wide;
			if (Length == 0)
				return Wide;
			int nUnits = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, pText, Length, nullptr, 0);
			if (nUnits > 0)
			{
				Wide.resize(size_t(nUnits));
				MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, pText, Length, Wide.data(), nUnits);
				return Wide;
			}
			Wide.resize(size_t(Length));
			for (int i = 0; i < Length; ++i)
				Wide[size_t(i)] = wchar_t(uint8(pText[i]));
			return Wide;
		}

		NStr::CStr gf_FromWide(const std::wstring &Wide)
		{
			if (Wide.empty())
				return NStr::CStr();
			int nBytes = WideCharToMultiByte(CP_UTF8, 0, Wide.data(), int(Wide.size()), nullptr, 0, nullptr, nullptr);
			if (nBytes <= 0)
				return NStr::CStr();
			std::string Bytes(size_t(nBytes), '\0');
			WideCharToMultiByte(CP_UTF8, 0, Wide.data(), int(Wide.size()), Bytes.data(), nBytes, nullptr, nullptr);
			return NStr::CStr(Bytes.data(), int32(Bytes.size()));
		}

		// GetFullPathNameW twice: once for the length, once into a buffer of that length + 1.
		// False with the thread's last error set when either call fails.
		bool gf_GetFullPath(const std::wstring &Path, std::wstring &Result)
		{
			DWORD nNeeded = GetFullPathNameW(Path.c_str(), 0, nullptr, nullptr);
			if (nNeeded == 0)
				return false;
			Result.assign(size_t(nNeeded) + 1, L'\0');
			DWORD nWritten = GetFullPathNameW(Path.c_str(), nNeeded + 1, Result.data(), nullptr);
			if (nWritten == 0 || nWritten > nNeeded)
			{
				if (nWritten > nNeeded)
					SetLastError(ERROR_INSUFFICIENT_BUFFER); // the current folder changed between the calls
				return false;
			}
			Result.resize(nWritten);
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

		std::wstring FullPath;
		if (!gf_GetFullPath(gf_ToWide(Path), FullPath))
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

		CUniqueFile File(CreateFileW(FullPath.c_str(), Access, Share, nullptr, DWORD(gf_GetCreationDisposition(Flags)), Attributes, nullptr));
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
		if (!CopyFileW(gf_ToWide(Source).c_str(), gf_ToWide(Target).c_str(), FALSE))
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "CopyFile");
	}

	void gf_Rename(const NStr::CStr &OldPath, const NStr::CStr &NewPath)
	{
		if (!MoveFileW(gf_ToWide(OldPath).c_str(), gf_ToWide(NewPath).c_str()))
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "MoveFile");
	}

	void gf_Replace(const NStr::CStr &OldPath, const NStr::CStr &NewPath)
	{
		if (!MoveFileExW(gf_ToWide(OldPath).c_str(), gf_ToWide(NewPath).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "MoveFileEx");
	}

	bool gf_Delete(const NStr::CStr &Path) noexcept
	{
		try
		{
			return DeleteFileW(gf_ToWide(Path).c_str()) != FALSE;
		}
		catch (...)
		{
			return false; // no memory for the wide path
		}
	}

	void gf_CreateDirectory(const NStr::CStr &Path)
	{
		std::wstring Wide = gf_ToWide(Path);
		for (wchar_t &Char : Wide)
		{
			if (Char == L'/')
				Char = L'\\';
		}
		for (umint End : NPrivate::gf_DirectoryPrefixes(Wide.data(), Wide.size()))
		{
			std::wstring Prefix = Wide.substr(0, End);
			WIN32_FIND_DATAW FindData;
			CUniqueFind Find(FindFirstFileW((Prefix + L"\\*").c_str(), &FindData));
			if (Find)
				continue;
			if (!CreateDirectoryW(Prefix.c_str(), nullptr))
				DZelThrowSystemError(NZel::NFile::CExceptionFile, "CreateDirectory");
		}
	}

	bool gf_Exists(const NStr::CStr &Path, uint32 Accept)
	{
		DWORD Attributes = GetFileAttributesW(gf_ToWide(Path).c_str());
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
		std::wstring Path(MAX_PATH, L'\0');
		for (;;)
		{
			DWORD Length = GetModuleFileNameW(nullptr, Path.data(), DWORD(Path.size()));
			if (Length == 0)
				return NStr::CStr();
			if (Length < Path.size())
			{
				Path.resize(Length);
				break;
			}
			// Cut to fit: Windows paths end at 32767 characters.
			if (Path.size() > 32768)
				return NStr::CStr();
			Path.resize(Path.size() * 2);
		}
		// A program started by a "\\?\" path gets that form back; the rest of the file layer
		// writes paths with '/' and would not keep it intact.
		if (Path.rfind(L"\\\\?\\UNC\\", 0) == 0)
			Path.replace(0, 8, L"\\\\");
		else if (Path.rfind(L"\\\\?\\", 0) == 0)
			Path.erase(0, 4);
		for (wchar_t &Char : Path)
		{
			if (Char == L'\\')
				Char = L'/';
		}
		return gf_FromWide(Path);
	}
}
