#include "app/Hushvane_FsRedirection.h"
#include "zel/library/core/file/Zel_File.h"
#include "zel/library/core/general/Zel_Exception.h"

#include <windows.h>

namespace NHushvane
{
	namespace
	{
		class CWindowsFsRedirection final : public ICFsRedirection
		{
		public:
			bool f_IsRedirected() override
			{
#if defined(_WIN64)
				return false;
#else
				// False as well on 32-bit Windows, where nothing is redirected.
				BOOL bWow64 = FALSE;
				return IsWow64Process(GetCurrentProcess(), &bWow64) && bWow64;
#endif
			}

			void *f_Disable() override
			{
				PVOID pOldValue = nullptr;
				if (!Wow64DisableWow64FsRedirection(&pOldValue))
					DZelThrowSystemError(NZel::NFile::CExceptionFile, "Wow64DisableWow64FsRedirection");
				return pOldValue;
			}

			void f_Revert(void *pOldValue) noexcept override
			{
				Wow64RevertWow64FsRedirection(pOldValue);
			}
		};
	}

	ICFsRedirection &gf_GetSystemFsRedirection()
	{
		static CWindowsFsRedirection s_System;
		return s_System;
	}
}
