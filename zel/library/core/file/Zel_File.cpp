#include "zel/library/core/file/Zel_File.h"

#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_Str_Convert.h"

#include <utility>

namespace NZel::NFile
{
	CFile::CFile(const NStr::CStr &Path, uint32 Flags)
	{
		f_Open(Path, Flags);
	}

	CFile::~CFile()
	{
		try
		{
			f_Close();
		}
		catch (const NException::CException &)
		{
			// A destructor cannot report; the handle is gone either way.
		}
	}

	CFile::CFile(CFile &&Other) noexcept
		: fp_pHandle(std::exchange(Other.fp_pHandle, nullptr))
		, fp_Position(std::exchange(Other.fp_Position, 0))
		, fp_Flags(std::exchange(Other.fp_Flags, 0))
	{
	}

	CFile &CFile::operator=(CFile &&Other) noexcept
	{
		if (this != &Other)
		{
			try
			{
				f_Close();
			}
			catch (const NException::CException &)
			{
			}
			fp_pHandle = std::exchange(Other.fp_pHandle, nullptr);
			fp_Position = std::exchange(Other.fp_Position, 0);
			fp_Flags = std::exchange(Other.fp_Flags, 0);
		}
		return *this;
	}

	void CFile::f_Open(const NStr::CStr &Path, uint32 Flags)
	{
		f_Close();
		fp_Position = 0;
		fp_Flags = Flags;
		fp_pHandle = NSys::NFile::gf_Open(Path, Flags);
	}

	void CFile::f_Close()
	{
		if (fp_pHandle)
			NSys::NFile::gf_Close(std::exchange(fp_pHandle, nullptr));
	}

	void CFile::fp_CheckOpen() const
	{
		if (!fp_pHandle)
			DZelThrow(CExceptionFile, "File not open");
	}

	void CFile::f_Read(void *pDestination, uint32 Count)
	{
		fp_CheckOpen();
		uint64 Size = NSys::NFile::gf_GetSize(fp_pHandle);
		if (fp_Position > Size || Count > Size - fp_Position)
			DZelThrow(CExceptionFile, "Read call would have read past end of file");
		if (NSys::NFile::gf_Read(fp_pHandle, pDestination, fp_Position, Count) != Count)
			DZelThrow(CExceptionFile, "Not all bytes was read");
		fp_Position += Count;
	}

	uint32 CFile::f_Write(const void *pSource, uint32 Count)
	{
		fp_CheckOpen();
		uint32 nWritten = NSys::NFile::gf_Write(fp_pHandle, pSource, fp_Position, Count);
		if (nWritten != Count)
			DZelThrow(CExceptionFile, "Not all bytes was written");
		fp_Position += nWritten;
		return nWritten;
	}

	uint64 CFile::f_SetPositionFromEnd(int64 Offset)
	{
		fp_CheckOpen();
		uint64 Size = NSys::NFile::gf_GetSize(fp_pHandle);
		if (Offset > 0 && !(fp_Flags & NSys::NFile::EOpenFlag_Write))
			DZelThrow(CExceptionFile, "Position is past end of file");
		if (Offset < 0 && uint64(-(Offset + 1)) >= Size)
			DZelThrow(CExceptionFile, "Position is negative");
		fp_Position = Size + uint64(Offset);
		return fp_Position;
	}

	uint64 CFile::f_GetSize()
	{
		fp_CheckOpen();
		return NSys::NFile::gf_GetSize(fp_pHandle);
	}

	void CFile::f_Flush()
	{
		fp_CheckOpen();
		NSys::NFile::gf_Flush(fp_pHandle);
	}

	NStr::CStr gf_GetFolderOf(const NStr::CStr &Path)
	{
		const char *pText = Path.f_GetStr();
		int32 Last = -1;
		for (int32 i = 0; pText[i]; ++i)
		{
			if (pText[i] == '/' || pText[i] == '\\')
				Last = i;
		}
		if (Last < 0)
			return NStr::CStr();
		return NStr::CStr(pText, Last);
	}

	NStr::CStr gf_ShowPath(const NStr::CStr &Path)
	{
		return NStr::gf_ReplaceUnit(Path, '/', '\\', "Out of memory for a path");
	}

	NStr::CStr gf_GetProgramFolder()
	{
		return gf_GetFolderOf(gfs_GetProgramPath());
	}

	NMd5::CDigest gf_GetFileDigest(const NStr::CStr &Path)
	{
		CFile File(Path, NSys::NFile::EOpenFlag_Read | NSys::NFile::EOpenFlag_ShareRead | NSys::NFile::EOpenFlag_ShareWrite);
		NMd5::CDigest Digest = gf_GetFileDigest(File);
		File.f_Close();
		return Digest;
	}

	NMd5::CDigest gf_GetFileDigest(CFile &File)
	{
		constexpr uint32 c_BlockSize = 32768;
		uint64 Remaining = File.f_GetSize();
		File.f_SetPositionFromEnd(-int64(Remaining));
		NMd5::CMd5 Md5;
		uint8 Block[c_BlockSize];
		while (Remaining > 0)
		{
			uint32 nBlock = Remaining < c_BlockSize ? uint32(Remaining) : c_BlockSize;
			File.f_Read(Block, nBlock);
			Md5.f_Update(Block, nBlock);
			Remaining -= nBlock;
		}
		return Md5.f_Finish();
	}
}
