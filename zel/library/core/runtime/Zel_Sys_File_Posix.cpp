#include "zel/library/core/runtime/Zel_Sys_File.h"

#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/runtime/Zel_Sys_File_Path.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// The host build's file layer: the same contract over POSIX calls, so the portable code above
// it (the file class, the digest, the log) runs natively under the sanitizers. Sharing flags
// have no POSIX meaning and are ignored.
namespace NZel::NSys::NFile
{
	struct CFileHandle
	{
		int m_FileDescriptor;
		std::string m_Path;
	};

	namespace
	{
		std::string gf_ToNative(const NStr::CStr &Path)
		{
			std::string Native(Path.f_GetStr(), size_t(Path.f_GetLen()));
			for (char &Char : Native)
			{
				if (Char == '\\')
					Char = '/';
			}
			return Native;
		}

		bool gf_MakeAbsolute(const std::string &Path, std::string &Result)
		{
			if (Path.empty())
			{
				errno = ENOENT;
				return false;
			}
			if (Path[0] == '/')
			{
				Result = Path;
				return true;
			}
			char Buffer[4096];
			if (!getcwd(Buffer, sizeof(Buffer)))
				return false;
			Result = std::string(Buffer) + "/" + Path;
			return true;
		}

		int gf_OpenFlags(uint32 Flags)
		{
			int Native = (Flags & EOpenFlag_Read) && (Flags & EOpenFlag_Write) ? O_RDWR : (Flags & EOpenFlag_Write) ? O_WRONLY : O_RDONLY;
			switch (gf_GetCreationDisposition(Flags))
			{
			case ECreationDisposition_CreateNew:
				Native |= O_CREAT | O_EXCL;
				break;
			case ECreationDisposition_CreateAlways:
				Native |= O_CREAT | O_TRUNC;
				break;
			case ECreationDisposition_OpenExisting:
				break;
			case ECreationDisposition_OpenAlways:
				Native |= O_CREAT;
				break;
			case ECreationDisposition_TruncateExisting:
				Native |= O_TRUNC;
				break;
			}
			if (Flags & EOpenFlag_WriteThrough)
				Native |= O_DSYNC;
			return Native | O_CLOEXEC;
		}
	}

	CFileHandle *gf_Open(const NStr::CStr &Path, uint32 Flags)
	{
		if (const char *pError = gf_GetOpenFlagsError(Flags))
			DZelThrow(NZel::NFile::CExceptionFile, pError);
		std::string FullPath;
		if (!gf_MakeAbsolute(gf_ToNative(Path), FullPath))
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "GetFullPathName");
		int FileDescriptor = open(FullPath.c_str(), gf_OpenFlags(Flags), 0644);
		if (FileDescriptor < 0)
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "CreateFile");
		return new CFileHandle{FileDescriptor, std::move(FullPath)};
	}

	void *gf_GetSystemHandle(CFileHandle *pFile)
	{
		return reinterpret_cast<void *>(static_cast<intptr_t>(pFile->m_FileDescriptor));
	}

	void gf_Close(CFileHandle *pFile)
	{
		if (!pFile)
			return;
		int Result = close(pFile->m_FileDescriptor);
		int Error = errno;
		delete pFile;
		if (Result != 0)
		{
			errno = Error;
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "CloseHandle");
		}
	}

	uint32 gf_Read(CFileHandle *pFile, void *pDestination, uint64 Position, uint32 Count)
	{
		off_t Reached = lseek(pFile->m_FileDescriptor, off_t(Position), SEEK_SET);
		if (Reached < 0)
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "SetFilePointerEx");
		if (uint64(Reached) != Position)
			DZelThrow(NZel::NFile::CExceptionFile, "Failed to move file pointer to read location");
		ssize_t nRead = read(pFile->m_FileDescriptor, pDestination, Count);
		if (nRead < 0)
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "ReadFile");
		return uint32(nRead);
	}

	uint32 gf_Write(CFileHandle *pFile, const void *pSource, uint64 Position, uint32 Count)
	{
		off_t Reached = lseek(pFile->m_FileDescriptor, off_t(Position), SEEK_SET);
		if (Reached < 0)
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "SetFilePointerEx");
		if (uint64(Reached) != Position)
			DZelThrow(NZel::NFile::CExceptionFile, "Failed to move file pointer to write location");
		ssize_t nWritten = write(pFile->m_FileDescriptor, pSource, Count);
		if (nWritten < 0)
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "WriteFile");
		return uint32(nWritten);
	}

	void gf_Flush(CFileHandle *pFile)
	{
		if (fsync(pFile->m_FileDescriptor) != 0)
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "FlushFileBuffers");
	}

	uint64 gf_GetSize(CFileHandle *pFile)
	{
		struct stat Status;
		if (fstat(pFile->m_FileDescriptor, &Status) != 0)
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "GetFileSizeEx");
		return uint64(Status.st_size);
	}

	void gf_Copy(const NStr::CStr &Source, const NStr::CStr &Target)
	{
		int From = open(gf_ToNative(Source).c_str(), O_RDONLY | O_CLOEXEC);
		if (From < 0)
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "CopyFile");
		int To = open(gf_ToNative(Target).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
		if (To < 0)
		{
			int Error = errno;
			close(From);
			errno = Error;
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "CopyFile");
		}
		char Buffer[32768];
		bool bFailed = false;
		for (;;)
		{
			ssize_t nRead = read(From, Buffer, sizeof(Buffer));
			if (nRead <= 0)
			{
				bFailed = nRead < 0;
				break;
			}
			if (write(To, Buffer, size_t(nRead)) != nRead)
			{
				bFailed = true;
				break;
			}
		}
		int Error = errno;
		close(From);
		close(To);
		if (bFailed)
		{
			errno = Error;
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "CopyFile");
		}
	}

	void gf_Rename(const NStr::CStr &OldPath, const NStr::CStr &NewPath)
	{
		std::string New = gf_ToNative(NewPath);
		struct stat Status;
		if (stat(New.c_str(), &Status) == 0)
		{
			errno = EEXIST; // as on Windows: a move never replaces an existing file
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "MoveFile");
		}
		if (rename(gf_ToNative(OldPath).c_str(), New.c_str()) != 0)
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "MoveFile");
	}

	void gf_Replace(const NStr::CStr &OldPath, const NStr::CStr &NewPath)
	{
		if (rename(gf_ToNative(OldPath).c_str(), gf_ToNative(NewPath).c_str()) != 0)
			DZelThrowSystemError(NZel::NFile::CExceptionFile, "MoveFileEx");
	}

	bool gf_Delete(const NStr::CStr &Path) noexcept
	{
		try
		{
			return unlink(gf_ToNative(Path).c_str()) == 0;
		}
		catch (...)
		{
			return false;
		}
	}

	void gf_CreateDirectory(const NStr::CStr &Path)
	{
		// The prefix walk is written for '\' separators; here they map back to '/'.
		std::string Native(Path.f_GetStr(), size_t(Path.f_GetLen()));
		for (char &Char : Native)
		{
			if (Char == '/')
				Char = '\\';
		}
		for (umint End : NPrivate::gf_DirectoryPrefixes(Native.data(), Native.size()))
		{
			std::string Prefix = Native.substr(0, End);
			for (char &Char : Prefix)
			{
				if (Char == '\\')
					Char = '/';
			}
			struct stat Status;
			if (stat(Prefix.c_str(), &Status) == 0 && S_ISDIR(Status.st_mode))
				continue;
			if (mkdir(Prefix.c_str(), 0755) != 0)
				DZelThrowSystemError(NZel::NFile::CExceptionFile, "CreateDirectory");
		}
	}

	bool gf_Exists(const NStr::CStr &Path, uint32 Accept)
	{
		struct stat Status;
		if (stat(gf_ToNative(Path).c_str(), &Status) != 0)
			return false;
		if (S_ISDIR(Status.st_mode))
			return (Accept & EExistsAccept_Folder) != 0;
		return (Accept & EExistsAccept_File) != 0;
	}

	NStr::CStr gfs_GetProgramPath()
	{
		// The running image itself, whatever the command line says.
		char Buffer[4096];
		ssize_t Length = readlink("/proc/self/exe", Buffer, sizeof(Buffer));
		if (Length <= 0 || Length >= ssize_t(sizeof(Buffer)))
			return NStr::CStr();
		return NStr::CStr(Buffer, int32(Length));
	}
}
