// Move-only owner of one Windows handle, closed on every path. Parameterised by a traits type
// that names the handle type, its close function and its invalid value.
#pragma once

#include <windows.h>

#include <utility>

namespace NHushvaneTest
{
	template <typename t_CTraits>
	class TUniqueHandle
	{
	public:
		using CHandleType = typename t_CTraits::CHandleType;

		TUniqueHandle() = default;
		explicit TUniqueHandle(CHandleType Handle) : fp_Handle(Handle) {}
		TUniqueHandle(TUniqueHandle &&Other) noexcept : fp_Handle(std::exchange(Other.fp_Handle, t_CTraits::fs_Invalid())) {}
		TUniqueHandle &operator=(TUniqueHandle &&Other) noexcept
		{
			if (this != &Other)
				f_Reset(std::exchange(Other.fp_Handle, t_CTraits::fs_Invalid()));
			return *this;
		}
		TUniqueHandle(const TUniqueHandle &) = delete;
		TUniqueHandle &operator=(const TUniqueHandle &) = delete;
		~TUniqueHandle() { f_Reset(); }

		CHandleType f_Get() const { return fp_Handle; }
		bool f_IsValid() const { return fp_Handle != t_CTraits::fs_Invalid(); }
		void f_Reset(CHandleType Handle = t_CTraits::fs_Invalid())
		{
			if (fp_Handle != t_CTraits::fs_Invalid())
				t_CTraits::fs_Close(fp_Handle);
			fp_Handle = Handle;
		}

	private:
		CHandleType fp_Handle = t_CTraits::fs_Invalid();
	};

	// Kernel objects whose failure value is null (events, threads, tokens).
	struct CHandleTraits
	{
		using CHandleType = HANDLE;
		static HANDLE fs_Invalid() { return nullptr; }
		static void fs_Close(HANDLE Handle) { ::CloseHandle(Handle); }
	};

	// Files and devices, whose failure value is INVALID_HANDLE_VALUE.
	struct CFileHandleTraits
	{
		using CHandleType = HANDLE;
		static HANDLE fs_Invalid() { return INVALID_HANDLE_VALUE; }
		static void fs_Close(HANDLE Handle) { ::CloseHandle(Handle); }
	};

	struct CServiceHandleTraits
	{
		using CHandleType = SC_HANDLE;
		static SC_HANDLE fs_Invalid() { return nullptr; }
		static void fs_Close(SC_HANDLE Handle) { ::CloseServiceHandle(Handle); }
	};

	using CHandle = TUniqueHandle<CHandleTraits>;
	using CFileHandle = TUniqueHandle<CFileHandleTraits>;
	using CServiceHandle = TUniqueHandle<CServiceHandleTraits>;
}
