// Copying and releasing a CStr (one interlocked increment and decrement) against copying a
// std::string of the same 100-character text (an allocation and a copy).
#include "tests/bench/BenchHarness.h"
#include "zel/library/core/general/Zel_Str.h"

#include <cstdio>
#include <string>

using namespace NZel;
using namespace NZel::NStr;

namespace
{
	volatile umint g_Sink;
}

int main()
{
	const std::string Text(100, 'h');
	const CStr Shared(Text.c_str());
	const std::string StdShared(Text);

	std::printf("String copy and release, 100 characters\n");
	auto Ours = NBench::gf_Measure("CStr copy + release", [&] {
		CStr Copy(Shared);
		g_Sink = umint(Copy.f_GetStr()[0]);
	}, 10000);
	auto Theirs = NBench::gf_Measure("std::string copy + release", [&] {
		std::string Copy(StdShared);
		g_Sink = umint(Copy[0]);
	}, 10000);
	NBench::gf_Ratio("copy: std::string / CStr", Ours, Theirs);

	auto Build = NBench::gf_Measure("CStr from text (allocates)", [&] {
		CStr Copy(Text.c_str());
		g_Sink = umint(Copy.f_GetLen());
	}, 10000);
	NBench::gf_Ratio("from text: std::string copy / CStr", Build, Theirs);
	return 0;
}
