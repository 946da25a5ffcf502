// MD5 throughput: in memory and through gf_GetFileDigest over a 64 MiB file.
#include "zel/library/core/file/Zel_File.h"
#include "zel/library/core/general/Zel_Md5.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace
{
	constexpr size_t gc_Size = 64u << 20;

	template <typename t_CBody>
	double gf_BestSeconds(t_CBody &&Body, int nRuns)
	{
		double Best = 1e30;
		for (int i = 0; i < nRuns; ++i)
		{
			auto Start = std::chrono::steady_clock::now();
			Body();
			double Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
			if (Seconds < Best)
				Best = Seconds;
		}
		return Best;
	}
}

int main()
{
	std::vector<NZel::uint8> Data(gc_Size);
	NZel::uint32 State = 12345;
	for (NZel::uint8 &Byte : Data)
	{
		State = State * 1103515245u + 12345u;
		Byte = NZel::uint8(State >> 24);
	}

	NZel::NMd5::CDigest Memory;
	double MemorySeconds = gf_BestSeconds([&] { Memory = NZel::NMd5::CMd5::fs_Digest(Data.data(), Data.size()); }, 3);
	std::printf("%-48s %10.1f MB/s\n", "MD5 in memory (64 MiB)", gc_Size / 1048576.0 / MemorySeconds);

	std::filesystem::path Path = std::filesystem::temp_directory_path() / "hv_bench_md5.bin";
	{
		std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
		Out.write(reinterpret_cast<const char *>(Data.data()), std::streamsize(Data.size()));
	}
	NZel::NStr::CStr FilePath(Path.generic_string().c_str());
	NZel::NMd5::CDigest FromFile;
	double FileSeconds = gf_BestSeconds([&] { FromFile = NZel::NFile::gf_GetFileDigest(FilePath); }, 3);
	std::printf("%-48s %10.1f MB/s\n", "gf_GetFileDigest (64 MiB file, 32 KiB reads)", gc_Size / 1048576.0 / FileSeconds);
	std::error_code Error;
	std::filesystem::remove(Path, Error);

	char Hex[33];
	FromFile.f_ToHex(Hex);
	std::printf("%-48s %s (%s)\n", "digest", Hex, FromFile == Memory ? "file and memory agree" : "MISMATCH");
	std::fflush(stdout);
	return FromFile == Memory ? 0 : 1;
}
