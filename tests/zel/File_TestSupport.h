#pragma once
// A fresh folder per test under the system's temporary folder, removed afterwards, and plain
// standard-library file helpers that do not go through the code under test.
#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_Str.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace NFileTest
{
	class CTempFolder
	{
	public:
		CTempFolder()
		{
			static std::atomic<int> s_Counter{0};
			auto Stamp = std::chrono::steady_clock::now().time_since_epoch().count();
			fp_Path = std::filesystem::temp_directory_path() /
				("hv_test_" + std::to_string(Stamp) + "_" + std::to_string(s_Counter++));
			std::filesystem::create_directories(fp_Path);
		}
		~CTempFolder()
		{
			std::error_code Error;
			std::filesystem::remove_all(fp_Path, Error);
		}
		// Path of a name inside the folder, with '/' separators.
		std::string f_Path(const std::string &Name = "") const
		{
			std::string Path = fp_Path.generic_string();
			return Name.empty() ? Path : Path + "/" + Name;
		}
		NZel::NStr::CStr f_CStr(const std::string &Name = "") const
		{
			return NZel::NStr::CStr(f_Path(Name).c_str());
		}

	private:
		std::filesystem::path fp_Path;
	};

	inline void gf_WriteFile(const std::string &Path, const std::string &Content)
	{
		std::ofstream Out(std::filesystem::u8path(Path), std::ios::binary | std::ios::trunc);
		Out.write(Content.data(), std::streamsize(Content.size()));
	}

	inline std::string gf_ReadFile(const std::string &Path)
	{
		std::ifstream In(std::filesystem::u8path(Path), std::ios::binary);
		return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
	}

	// The message of the library exception Function throws, or "(nothing thrown)".
	template <typename t_CFunction>
	std::string gf_MessageOf(t_CFunction &&Function)
	{
		try
		{
			Function();
		}
		catch (const NZel::NException::CException &Exception)
		{
			return Exception.f_GetMessage();
		}
		return "(nothing thrown)";
	}
}
