#pragma once
// CFile: a file with a current position over the platform file layer, and the path helpers
// the program uses: existence, its own path and folder, and a whole-file digest.
// Every failure throws NZel::NFile::CExceptionFile.
#include "zel/library/core/general/Zel_Md5.h"
#include "zel/library/core/general/Zel_Str.h"
#include "zel/library/core/runtime/Zel_Sys_File.h"

namespace NZel::NFile
{
	using NSys::NFile::gf_Exists;
	using NSys::NFile::gfs_GetProgramPath;

	class CFile
	{
	public:
		CFile() = default;
		CFile(const NStr::CStr &Path, uint32 Flags);
		~CFile();
		CFile(CFile &&Other) noexcept;
		CFile &operator=(CFile &&Other) noexcept;
		CFile(const CFile &) = delete;
		CFile &operator=(const CFile &) = delete;

		// Closes an open file first; the position starts at 0.
		void f_Open(const NStr::CStr &Path, uint32 Flags);
		// Closing a closed file does nothing.
		void f_Close();
		bool f_IsOpen() const { return fp_pHandle != nullptr; }

		// Reads exactly Count bytes at the position and advances it; reading past the end
		// throws and reads nothing. On any failure the position stays where it was.
		void f_Read(void *pDestination, uint32 Count);
		// Writes Count bytes at the position (past the end extends the file) and advances it.
		uint32 f_Write(const void *pSource, uint32 Count);
		// Size + Offset. Only a file opened for writing may be positioned past its end.
		uint64 f_SetPositionFromEnd(int64 Offset);
		uint64 f_GetPosition() const { return fp_Position; }
		uint64 f_GetSize();
		void f_Flush();

	private:
		void fp_CheckOpen() const;

		NSys::NFile::CFileHandle *fp_pHandle = nullptr;
		uint64 fp_Position = 0;
		uint32 fp_Flags = 0;
	};

	// The program path up to, not including, its last '/'.
	NStr::CStr gf_GetProgramFolder();
	// Path up to, not including, its last '/' or '\'; empty when it has none.
	NStr::CStr gf_GetFolderOf(const NStr::CStr &Path);
	// The path as Windows writes it, with '\' between its parts: for people to read.
	NStr::CStr gf_ShowPath(const NStr::CStr &Path);

	// MD5 of the file's whole content, read in 32768-byte blocks.
	NMd5::CDigest gf_GetFileDigest(const NStr::CStr &Path);
	// The same of an open file, read from its start; the position is left at its end.
	NMd5::CDigest gf_GetFileDigest(CFile &File);
}
