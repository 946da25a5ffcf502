#pragma once
// One move-only owner for every kind of system handle. A traits type names the handle type,
// its invalid value and how it is closed, so "closed on every path" holds by construction:
//
//	struct CTraits
//	{
//		using CHandle = void *;
//		static CHandle fs_Invalid() { return nullptr; }
//		static void fs_Close(CHandle h);
//	};
//	using CUniqueSemaphore = NZel::TCUniqueHandle<CTraits>;
#include <utility>

namespace NZel
{
	template <typename t_CTraits>
	class TCUniqueHandle
	{
	public:
		using CHandle = typename t_CTraits::CHandle;

		TCUniqueHandle() noexcept
			: fp_Handle(t_CTraits::fs_Invalid())
		{
		}

		explicit TCUniqueHandle(CHandle hHandle) noexcept
			: fp_Handle(hHandle)
		{
		}

		TCUniqueHandle(TCUniqueHandle &&Other) noexcept
			: fp_Handle(Other.f_Release())
		{
		}

		TCUniqueHandle &operator=(TCUniqueHandle &&Other) noexcept
		{
			if (this != &Other)
				f_Reset(Other.f_Release());
			return *this;
		}

		TCUniqueHandle(const TCUniqueHandle &) = delete;
		TCUniqueHandle &operator=(const TCUniqueHandle &) = delete;

		~TCUniqueHandle()
		{
			f_Reset();
		}

		CHandle f_Get() const noexcept
		{
			return fp_Handle;
		}

		bool f_IsValid() const noexcept
		{
			return fp_Handle != t_CTraits::fs_Invalid();
		}

		explicit operator bool() const noexcept
		{
			return f_IsValid();
		}

		// Gives up ownership without closing.
		CHandle f_Release() noexcept
		{
			return std::exchange(fp_Handle, t_CTraits::fs_Invalid());
		}

		// Closes the owned handle (if any) and takes ownership of hHandle.
		void f_Reset(CHandle hHandle = t_CTraits::fs_Invalid()) noexcept
		{
			CHandle hOld = std::exchange(fp_Handle, hHandle);
			if (hOld != t_CTraits::fs_Invalid())
				t_CTraits::fs_Close(hOld);
		}

	private:
		CHandle fp_Handle;
	};
}
