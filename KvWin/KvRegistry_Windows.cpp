#include "KvWin/KvRegistry.h"
#include "zel/library/core/general/Zel_System_Handle.h"
#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_Str_Convert.h"
#include "zel/library/core/general/Zel_Format.h"
#include "zel/library/core/runtime/Zel_Sys_Debug.h"

#include <windows.h>

#include <algorithm>

namespace NKv
{
	using NZel::NStr::CStr;
	using NZel::NStr::CStr16;
	using NZel::uint32;
	using NZel::uint8;

	namespace
	{
		struct CRegKeyTraits
		{
			using CHandle = HKEY;
			static CHandle fs_Invalid() noexcept { return nullptr; }
			static void fs_Close(CHandle hKey) noexcept { RegCloseKey(hKey); }
		};
		using CKvRegKey = NZel::TCUniqueHandle<CRegKeyTraits>;

		// Key paths and value names as UTF-16, read as their kind says.
		CStr16 fg_ToWide(const CStr &Text)
		{
			return NZel::NStr::gf_ConvertWhole<NZel::NStr::CChar16>(Text.f_GetKind(), Text.f_GetStr(), Text.f_GetLen(), "Out of memory for a registry text");
		}

		// Texts read from the registry are UTF-16, so they arrive as kind 2 (UTF-8).
		CStr fg_FromWide(const wchar_t *pText, NZel::int32 Length)
		{
			return NZel::NStr::gf_ConvertWhole<char>(NZel::NStr::gc_KindUnicode, pText, Length, "Out of memory for a registry text");
		}

		// The registry functions return their error instead of setting the thread's last
		// error, so the text comes from the returned code.
		NZel::NStr::CFStr256 fg_RegistryError(const char *pFunction, LSTATUS Error)
		{
			return NZel::NStr::CFStr256::CFormat("{}: {}") << pFunction << NZel::NSys::gf_GetErrorText(uint32(Error));
		}

		// Value name for Windows: an empty name means the key's default value, passed as null.
		const wchar_t *fg_ValueName(const CStr16 &Name)
		{
			return Name.f_IsEmpty() ? nullptr : Name.f_GetStr();
		}

		HKEY fg_RootFromSelector(NZel::int32 Selector)
		{
			switch (Selector)
			{
			case 1:
				return HKEY_CURRENT_USER;
			case 2:
				return HKEY_CLASSES_ROOT;
			default:
				return HKEY_LOCAL_MACHINE;
			}
		}

		// The failures that mean "not there": the key or value does not exist, or the key was
		// deleted after it was opened.
		bool fg_IsAbsent(LSTATUS Status)
		{
			return Status == ERROR_FILE_NOT_FOUND || Status == ERROR_PATH_NOT_FOUND || Status == ERROR_KEY_DELETED;
		}

		// Splits zero-separated UTF-16 strings: the walk stops at the first empty string or at
		// the end of the data read.
		void fg_AppendStringList(const wchar_t *pData, size_t CharCount, std::vector<CStr> &List)
		{
			size_t Position = 0;
			while (Position < CharCount)
			{
				size_t End = Position;
				while (End < CharCount && pData[End] != 0)
					++End;
				if (End == Position)
					break;
				List.push_back(fg_FromWide(pData + Position, NZel::int32(End - Position)));
				Position = End + 1;
			}
		}
	}

	CWin32_Registry::CWin32_Registry(NZel::int32 RootSelector, CStr BasePath)
		: fp_Root(reinterpret_cast<NZel::umint>(fg_RootFromSelector(RootSelector)))
		, fp_BasePath(BasePath)
	{
	}

	CStr CWin32_Registry::f_GetFullPath(const CStr &Key) const
	{
		if (fp_BasePath.f_IsEmpty())
			return Key;
		return fp_BasePath + CStr("\\") + Key;
	}

	bool CWin32_Registry::f_ValueExists(const CStr &Key, const CStr &ValueName) const
	{
		try
		{
			CStr16 Path = fg_ToWide(f_GetFullPath(Key));
			CStr16 Name = fg_ToWide(ValueName);
			HKEY hKey = nullptr;
			if (RegOpenKeyExW(reinterpret_cast<HKEY>(fp_Root), Path.f_GetStr(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
				return false;
			CKvRegKey OpenKey(hKey);
			DWORD Type = 0;
			return RegQueryValueExW(OpenKey.f_Get(), fg_ValueName(Name), nullptr, &Type, nullptr, nullptr) == ERROR_SUCCESS;
		}
		catch (...)
		{
			// Out of memory while forming the path: the value cannot be reached.
			return false;
		}
	}

	void CWin32_Registry::ReadRegKey(const CStr &Key, const CStr &ValueName, uint32 *pNumber, CStr *pString,
		std::vector<uint8> *pBytes, std::vector<CStr> *pStringList) const
	{
		CStr16 Path = fg_ToWide(f_GetFullPath(Key));
		CStr16 NameText = fg_ToWide(ValueName);
		const wchar_t *pName = fg_ValueName(NameText);

		HKEY hKey = nullptr;
		LSTATUS Status = RegOpenKeyExW(reinterpret_cast<HKEY>(fp_Root), Path.f_GetStr(), 0, KEY_READ, &hKey);
		if (Status != ERROR_SUCCESS)
			DZelThrow(NZel::NException::CException, fg_RegistryError("RegOpenKeyExW", Status));
		CKvRegKey OpenKey(hKey);

		DWORD Type = 0;
		Status = RegQueryValueExW(OpenKey.f_Get(), pName, nullptr, &Type, nullptr, nullptr);
		if (Status != ERROR_SUCCESS)
			DZelThrow(NZel::NException::CException, fg_RegistryError("RegQueryValueExW", Status));

		switch (Type)
		{
		case REG_SZ:
		case REG_EXPAND_SZ:
		case REG_BINARY:
		case REG_MULTI_SZ:
		case REG_RESOURCE_LIST:
		case REG_RESOURCE_REQUIREMENTS_LIST:
			{
				DWORD Size = 0;
				Status = RegQueryValueExW(OpenKey.f_Get(), pName, nullptr, nullptr, nullptr, &Size);
				if (Status != ERROR_SUCCESS)
					DZelThrow(NZel::NException::CException, fg_RegistryError("RegQueryValueExW", Status));
				DWORD EvenSize = (Size + 1) & ~DWORD(1);
				if (pStringList)
				{
					// Two zero characters of slack beyond the data, so an unterminated value ends.
					std::vector<wchar_t> Buffer(EvenSize / 2 + 2, L'\0');
					DWORD Read = EvenSize;
					Status = RegQueryValueExW(OpenKey.f_Get(), pName, nullptr, nullptr, reinterpret_cast<BYTE *>(Buffer.data()), &Read);
					if (Status != ERROR_SUCCESS)
						DZelThrow(NZel::NException::CException, fg_RegistryError("RegQueryValueExW", Status));
					fg_AppendStringList(Buffer.data(), (Read & ~DWORD(1)) / 2, *pStringList);
				}
				else if (pString)
				{
					// Read straight into a wide string's block; the text ends at its first zero.
					CStr16 Text;
					NZel::int32 const Room = NZel::int32(EvenSize / 2 + 3);
					wchar_t *pBuffer = Text.f_GetWritableBuffer(Room - 1);
					if (!pBuffer)
						DZelThrow(NZel::NException::CExceptionMemory, "Out of memory for a registry text");
					std::fill(pBuffer, pBuffer + Room, L'\0');
					DWORD Read = EvenSize;
					Status = RegQueryValueExW(OpenKey.f_Get(), pName, nullptr, nullptr, reinterpret_cast<BYTE *>(pBuffer), &Read);
					if (Status != ERROR_SUCCESS)
						DZelThrow(NZel::NException::CException, fg_RegistryError("RegQueryValueExW", Status));
					pBuffer[Read / 2] = 0;
					Text.f_SetLengthAndTrim(-1);
					*pString = fg_FromWide(Text.f_GetStr(), Text.f_GetLen());
				}
				else if (pBytes)
				{
					pBytes->resize(Size);
					DWORD Read = Size;
					Status = RegQueryValueExW(OpenKey.f_Get(), pName, nullptr, nullptr, pBytes->empty() ? nullptr : pBytes->data(), &Read);
					if (Status != ERROR_SUCCESS)
						DZelThrow(NZel::NException::CException, fg_RegistryError("RegQueryValueExW", Status));
					pBytes->resize(Read);
				}
				else
					DZelThrow(NZel::NException::CException, "Wrong valuetype");
			}
			break;
		case REG_DWORD:
		case REG_DWORD_BIG_ENDIAN:
			{
				if (!pNumber)
					DZelThrow(NZel::NException::CException, "Wrong valuetype");
				// A value shorter than 4 bytes leaves the higher bytes at 0.
				uint32 Number = 0;
				DWORD Read = sizeof(Number);
				Status = RegQueryValueExW(OpenKey.f_Get(), pName, nullptr, nullptr, reinterpret_cast<BYTE *>(&Number), &Read);
				if (Status != ERROR_SUCCESS)
					DZelThrow(NZel::NException::CException, fg_RegistryError("RegQueryValueExW", Status));
				*pNumber = Number;
			}
			break;
		default:
			DZelThrow(NZel::NException::CException, "Unknown valuetype");
		}
	}

	uint32 CWin32_Registry::f_ReadDword(const CStr &Key, const CStr &ValueName) const
	{
		uint32 Number = 0;
		ReadRegKey(Key, ValueName, &Number, nullptr, nullptr, nullptr);
		return Number;
	}

	bool CWin32_Registry::f_ReadDwordIfPresent(const CStr &Key, const CStr &ValueName, uint32 &Value) const
	{
		CStr16 Path = fg_ToWide(f_GetFullPath(Key));
		CStr16 NameText = fg_ToWide(ValueName);

		HKEY hKey = nullptr;
		LSTATUS Status = RegOpenKeyExW(reinterpret_cast<HKEY>(fp_Root), Path.f_GetStr(), 0, KEY_READ, &hKey);
		if (fg_IsAbsent(Status))
			return false;
		if (Status != ERROR_SUCCESS)
			DZelThrow(NZel::NException::CException, fg_RegistryError("RegOpenKeyExW", Status));
		CKvRegKey OpenKey(hKey);

		// Type and data in one query: a value deleted after a separate existence test would
		// otherwise turn into a failure.
		DWORD Type = 0;
		uint32 Number = 0;
		DWORD Read = sizeof(Number);
		Status = RegQueryValueExW(OpenKey.f_Get(), fg_ValueName(NameText), nullptr, &Type, reinterpret_cast<BYTE *>(&Number), &Read);
		if (fg_IsAbsent(Status))
			return false;
		if (Status == ERROR_SUCCESS && (Type == REG_DWORD || Type == REG_DWORD_BIG_ENDIAN))
		{
			Value = Number; // a value shorter than 4 bytes leaves the higher bytes at 0
			return true;
		}
		if (Status != ERROR_SUCCESS && Status != ERROR_MORE_DATA)
			DZelThrow(NZel::NException::CException, fg_RegistryError("RegQueryValueExW", Status));
		// Not a number, or longer than one: the full reader throws what is wrong with it.
		Value = f_ReadDword(Key, ValueName);
		return true;
	}
}
