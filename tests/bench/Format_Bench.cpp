// The format engine against snprintf into a buffer plus a std::string, for the program's own
// patterns: a log line, a fixed-width hexadecimal number and the log file name.
#include "tests/bench/BenchHarness.h"
#include "zel/library/core/general/Zel_Format.h"

#include <cstdio>
#include <string>

using namespace NZel;
using namespace NZel::NStr;

namespace
{
	volatile umint g_Sink;

	void fg_Compare(const char *pName, NBench::CResult Ours, NBench::CResult Theirs)
	{
		NBench::gf_Ratio(pName, Ours, Theirs);
	}
}

int main()
{
	const CStr Name("notepad.exe");
	const char *pWord = "abovenormal";
	const std::string StdName(Name.f_GetStr());

	std::printf("Format engine against snprintf + std::string\n");
	auto LogOurs = NBench::gf_Measure("CFormat  log line", [&] {
		CStr S = CStr::CFormat("Added process {} with priority {}\r\n") << Name << pWord;
		g_Sink = umint(S.f_GetLen());
	});
	auto LogTheirs = NBench::gf_Measure("snprintf log line", [&] {
		char Buffer[256];
		int n = std::snprintf(Buffer, sizeof(Buffer), "Added process %s with priority %s\r\n", StdName.c_str(), pWord);
		std::string S(Buffer, size_t(n));
		g_Sink = S.size();
	});
	fg_Compare("log line: snprintf / CFormat", LogOurs, LogTheirs);

	uint32 Value = 0x1234abc;
	auto HexOurs = NBench::gf_Measure("CFormat  0x{nfh,sj8,sf0}", [&] {
		CStr S = CStr::CFormat("0x{nfh,sj8,sf0}") << Value;
		g_Sink = umint(S.f_GetLen());
		++Value;
	});
	auto HexTheirs = NBench::gf_Measure("snprintf 0x%08x", [&] {
		char Buffer[64];
		int n = std::snprintf(Buffer, sizeof(Buffer), "0x%08x", unsigned(Value));
		std::string S(Buffer, size_t(n));
		g_Sink = S.size();
		++Value;
	});
	fg_Compare("hex: snprintf / CFormat", HexOurs, HexTheirs);

	auto HexFixed = NBench::gf_Measure("CFStr256::CFormat 0x{nfh,sj8,sf0}", [&] {
		CFStr256 S = CFStr256::CFormat("0x{nfh,sj8,sf0}") << Value;
		g_Sink = umint(S.f_GetStr()[3]);
		++Value;
	});
	fg_Compare("hex into CFStr256: snprintf / CFormat", HexFixed, HexTheirs);

	int32 Ms = 0;
	auto NameOurs = NBench::gf_Measure("CFormat  log file name", [&] {
		CStr S = CStr::CFormat("/{}-{sj2,sf0}-{sj2,sf0}_{sj2,sf0}.{sj2,sf0}.{sj2,sf0}.{sj3,sf0}.log")
			<< int32(2026) << int32(12) << int32(7) << int32(2) << int32(40) << int32(50) << Ms;
		g_Sink = umint(S.f_GetLen());
		Ms = (Ms + 1) % 1000;
	});
	auto NameTheirs = NBench::gf_Measure("snprintf log file name", [&] {
		char Buffer[128];
		int n = std::snprintf(Buffer, sizeof(Buffer), "/%d-%02d-%02d_%02d.%02d.%02d.%03d.log", 2026, 12, 7, 2, 40, 50, int(Ms));
		std::string S(Buffer, size_t(n));
		g_Sink = S.size();
		Ms = (Ms + 1) % 1000;
	});
	fg_Compare("log file name: snprintf / CFormat", NameOurs, NameTheirs);
	return 0;
}
