// Wine shows a file or folder without a stored security descriptor as owned by the prefix's
// user (an administrator there), with full access for SYSTEM, and grants Everyone what the Unix
// "other" bits allow: 0x1200a9 for r-x, 0x1301ff once they include w. The end-to-end tests make
// a path changeable by everyone exactly as an administrator's mistake would, with chmod o+w.
#pragma once

#include <windows.h>

#include <string>

namespace NHushvaneTest
{
	// The access mask the path's access list grants Everyone (0 without such an entry).
	DWORD gf_EveryoneAccess(const std::string &Path);

	// Sets or clears the "other" write bit of the Unix file behind Path (a Windows path) and
	// waits until Windows sees the change. True when Everyone may then change it, or no longer.
	bool gf_SetEveryoneMayWrite(const std::string &Path, bool bMayWrite);

	// Everyone may change Path while the object lives; the bit is cleared again at the end.
	class CEveryoneMayWrite
	{
	public:
		explicit CEveryoneMayWrite(std::string Path);
		~CEveryoneMayWrite();
		CEveryoneMayWrite(const CEveryoneMayWrite &) = delete;
		CEveryoneMayWrite &operator=(const CEveryoneMayWrite &) = delete;

		bool f_IsSet() const { return fp_bSet; }

	private:
		std::string fp_Path;
		bool fp_bSet = false;
	};
}
