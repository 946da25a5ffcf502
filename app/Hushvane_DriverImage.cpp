#include "app/Hushvane_DriverImage.h"
#include "zel/library/core/general/Zel_ClockTime.h"
#include "zel/library/core/general/Zel_Format.h"
#include "zel/library/core/runtime/Zel_Sys_File.h"
#include "zel/library/core/runtime/Zel_Sys_Time.h"

namespace NHushvane
{
	using NZel::NStr::CStr;
	using NZel::int64;
	using NZel::uint32;
	using NZel::uint64;

	namespace
	{
		constexpr uint32 gc_CopyBlockSize = 32768;
	}

	CStr gf_WithTimeSuffix(const CStr &Path, const char *pFormat)
	{
		NZel::NTime::CClockTime Now = NZel::NTime::CClockTime::fs_FromFileTime(NZel::NSys::gf_Time_GetSystemFileTime());
		return Path + (CStr::CFormat(pFormat) << int64(Now.f_GetSeconds()) << int64(Now.f_GetFraction()));
	}

	// Read sharing only: a writer, a rename or a delete of the image fails until the file step
	// is over.
	CDriverImageSource::CDriverImageSource(const CStr &Path)
		: fp_File(Path, NZel::NSys::NFile::EOpenFlag_Read | NZel::NSys::NFile::EOpenFlag_ShareRead)
		, fp_Digest(NZel::NFile::gf_GetFileDigest(fp_File))
	{
	}

	void CDriverImageSource::f_CopyTo(NZel::NFile::CFile &Destination)
	{
		uint64 Remaining = fp_File.f_GetSize();
		fp_File.f_SetPositionFromEnd(-int64(Remaining));
		NZel::uint8 Block[gc_CopyBlockSize];
		while (Remaining > 0)
		{
			uint32 nBlock = Remaining < gc_CopyBlockSize ? uint32(Remaining) : gc_CopyBlockSize;
			fp_File.f_Read(Block, nBlock);
			Destination.f_Write(Block, nBlock);
			Remaining -= nBlock;
		}
	}

	void CDriverImageSource::f_InstallAs(const CStr &Target)
	{
		CStagedDriverImage Staged(*this, Target);
		Staged.f_MoveOver();
	}

	// Created new, never over an existing file (so a failed open has nothing to remove), and
	// written through, so that what is moved into place is on disk first.
	CStagedDriverImage::CStagedDriverImage(CDriverImageSource &Image, const CStr &Target)
		: fp_Target(Target)
		, fp_Path(gf_WithTimeSuffix(Target, ".new.{}.{}"))
		, fp_File(fp_Path, NZel::NSys::NFile::EOpenFlag_Write | NZel::NSys::NFile::EOpenFlag_DontOpenExisting
			| NZel::NSys::NFile::EOpenFlag_WriteThrough)
	{
		// The destructor does not run when the constructor throws: the file is removed here.
		try
		{
			Image.f_CopyTo(fp_File);
			fp_File.f_Flush();
			fp_File.f_Close();
		}
		catch (...)
		{
			fp_Discard();
			throw;
		}
	}

	CStagedDriverImage::~CStagedDriverImage()
	{
		if (!fp_bMoved)
			fp_Discard();
	}

	void CStagedDriverImage::fp_Discard() noexcept
	{
		try
		{
			fp_File.f_Close(); // an open file cannot be deleted
		}
		catch (...)
		{
		}
		NZel::NSys::NFile::gf_Delete(fp_Path);
	}

	void CStagedDriverImage::f_MoveOver()
	{
		NZel::NSys::NFile::gf_Replace(fp_Path, fp_Target);
		fp_bMoved = true;
	}
}
