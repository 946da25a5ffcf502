#include "zel/library/core/runtime/Zel_Sys_File.h"

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
}
