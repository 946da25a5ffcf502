#pragma once
// Read-only access to the Windows registry: an object bound to a root key and a base path.
// Portable declarations; the implementation is Windows-only.
#include "zel/library/core/general/Zel_Str.h"
#include "zel/library/core/general/Zel_Types.h"

#include <vector>

namespace NKv
{
	class CWin32_Registry
	{
	public:
		// Root selector: 0 HKEY_LOCAL_MACHINE, 1 HKEY_CURRENT_USER, 2 HKEY_CLASSES_ROOT, any
		// other value HKEY_LOCAL_MACHINE. Requests open base path + "\" + key, or the key alone
		// when the base path is empty.
		CWin32_Registry(NZel::int32 RootSelector, NZel::NStr::CStr BasePath);

		// True when the key opens for reading and the value is there. Never throws.
		bool f_ValueExists(const NZel::NStr::CStr &Key, const NZel::NStr::CStr &ValueName) const;

		// Reads one value into the outputs offered (any may be null). An empty value name reads
		// the key's default value. Text types fill the first offered of: the string list
		// (appended to), the string, the bytes; number types fill the number. Throws
		// NZel::NException::CException on every failure: "RegOpenKeyExW: <error>",
		// "RegQueryValueExW: <error>", "Wrong valuetype" when no offered output fits the type,
		// "Unknown valuetype" for every other type (REG_QWORD among them).
		void ReadRegKey(const NZel::NStr::CStr &Key, const NZel::NStr::CStr &ValueName,
			NZel::uint32 *pNumber, NZel::NStr::CStr *pString, std::vector<NZel::uint8> *pBytes,
			std::vector<NZel::NStr::CStr> *pStringList) const;

		// ReadRegKey with only the number output, which starts at 0.
		NZel::uint32 f_ReadDword(const NZel::NStr::CStr &Key, const NZel::NStr::CStr &ValueName) const;

		// Tests for a number value and reads it in one request, so nothing can change between the
		// two: false when the key or the value is not there (also when either went away while it
		// was being read), true with Value set when it was read. Throws as ReadRegKey for every
		// other failure, and for a value of another type.
		bool f_ReadDwordIfPresent(const NZel::NStr::CStr &Key, const NZel::NStr::CStr &ValueName, NZel::uint32 &Value) const;

		NZel::umint f_GetRoot() const { return fp_Root; }
		const NZel::NStr::CStr &f_GetBasePath() const { return fp_BasePath; }
		NZel::NStr::CStr f_GetFullPath(const NZel::NStr::CStr &Key) const;

	private:
		NZel::umint fp_Root; // the HKEY value of the predefined root
		NZel::NStr::CStr fp_BasePath;
	};
}
