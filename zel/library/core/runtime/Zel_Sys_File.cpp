#include "zel/library/core/runtime/Zel_Sys_File.h"
#include "zel/library/core/general/Zel_Str_Convert.h"

namespace NZel::NSys::NFile
{
	const char *gf_GetOpenFlagsError(uint32 Flags)
	{
		if (!(Flags & (EOpenFlag_Read | EOpenFlag_Write)))
			return "Open flags contain neither read or write flags, one of them must be specified";
		if ((Flags & EOpenFlag_DontCreate) && (Flags & EOpenFlag_DontOpenExisting))
			return "Conflicting open flags (both don't open existing and don't create)";
		if ((Flags & EOpenFlag_Read) && (Flags & EOpenFlag_DontOpenExisting) && !(Flags & EOpenFlag_Write))
			return "You are trying to open a file that does not exist for read access only, this makes no sence)";
		return nullptr;
	}

	ECreationDisposition gf_GetCreationDisposition(uint32 Flags)
	{
		bool bKeep = (Flags & EOpenFlag_KeepContents) != 0;
		if (Flags & EOpenFlag_DontOpenExisting)
			return ECreationDisposition_CreateNew;
		if (Flags & EOpenFlag_DontCreate)
			return bKeep ? ECreationDisposition_OpenExisting : ECreationDisposition_TruncateExisting;
		if (!(Flags & EOpenFlag_Write))
			return ECreationDisposition_OpenExisting;
		return bKeep ? ECreationDisposition_OpenAlways : ECreationDisposition_CreateAlways;
	}

	NStr::CStr16 gf_ToWidePath(const NStr::CStr &Path)
	{
		int32 Length = Path.f_GetLen();
		uint32 Kind = NStr::gf_IsUtf8(Path.f_GetStr(), Length) ? NStr::gc_KindUnicode : NStr::gc_KindLatin1;
		return NStr::gf_ConvertWhole<NStr::CChar16>(Kind, Path.f_GetStr(), Length, "Out of memory for a path");
	}

	NStr::CStr gf_FromWidePath(const NStr::CStr16 &Path)
	{
		return NStr::gf_ConvertWhole<char>(NStr::gc_KindUnicode, Path.f_GetStr(), Path.f_GetLen(), "Out of memory for a path");
	}

	NStr::CStr gf_FromWindowsPath(const NStr::CStr16 &Path)
	{
		return NStr::gf_ReplaceUnit(gf_FromWidePath(Path), '\\', '/', "Out of memory for a path");
	}
}
