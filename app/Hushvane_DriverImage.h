#pragma once
// The driver image beside the program, as the deployment checks and installs it.
#include "zel/library/core/file/Zel_File.h"
#include "zel/library/core/general/Zel_Md5.h"
#include "zel/library/core/general/Zel_Str.h"

namespace NHushvane
{
	// The image opened once for the whole file step. Others may read it but neither write,
	// rename nor delete it while the object lives, and both the digest and the copy come from
	// this one handle: the bytes that were compared are the bytes the kernel will load, even if
	// someone tries to swap the file in between. Throws the file layer's exception when the
	// image cannot be opened or read (also when someone holds it open for writing).
	class CDriverImageSource
	{
	public:
		explicit CDriverImageSource(const NZel::NStr::CStr &Path);

		const NZel::NMd5::CDigest &f_GetDigest() const { return fp_Digest; }

		// Writes the whole image to Destination at its position.
		void f_CopyTo(NZel::NFile::CFile &Destination);

		// Stages a copy beside Target and moves it over Target (see CStagedDriverImage).
		void f_InstallAs(const NZel::NStr::CStr &Target);

	private:
		NZel::NFile::CFile fp_File;
		NZel::NMd5::CDigest fp_Digest;
	};

	// A copy of the image in a new temporary file in Target's folder (Target +
	// ".new.<seconds>.<fraction>"), written through to disk, waiting to be moved over Target in
	// one step. Target is never seen half written, and a copy that fails (a full disk) leaves
	// whatever is at Target as it was. The temporary file is removed when the object goes without
	// f_MoveOver. Both throw the file layer's exception.
	class CStagedDriverImage
	{
	public:
		CStagedDriverImage(CDriverImageSource &Image, const NZel::NStr::CStr &Target);
		~CStagedDriverImage();
		CStagedDriverImage(const CStagedDriverImage &) = delete;
		CStagedDriverImage &operator=(const CStagedDriverImage &) = delete;

		// Moves the copy over Target, replacing it, and returns once the move is on disk.
		void f_MoveOver();

	private:
		void fp_Discard() noexcept;

		NZel::NStr::CStr fp_Target;
		NZel::NStr::CStr fp_Path;
		NZel::NFile::CFile fp_File;
		bool fp_bMoved = false;
	};

	// Path followed by pFormat (two "{}") filled with the current UTC time's whole seconds and
	// fraction, as decimal numbers: names that never collide with an earlier one still waiting
	// for deletion.
	NZel::NStr::CStr gf_WithTimeSuffix(const NZel::NStr::CStr &Path, const char *pFormat);
}
