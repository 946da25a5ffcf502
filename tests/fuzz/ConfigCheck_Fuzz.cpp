// Any byte sequence is a configuration to check: the checker must neither crash nor read
// outside the text, its entries must be exactly the parser's table, and every warning must
// point at a line of the text.
#include "app/Hushvane_Config.h"
#include "app/Hushvane_ConfigCheck.h"
#include "app/Hushvane_ConfigReport.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace
{
	class CNullLog : public NHushvane::ICRunLog
	{
	public:
		void f_WriteLine(NZel::NStr::CStr) override {}
	};

	NZel::uint32 fg_CountLines(const uint8_t *pData, size_t Size)
	{
		NZel::uint32 Lines = 1;
		for (size_t i = 0; i < Size; ++i)
			Lines += pData[i] == '\r' || (pData[i] == '\n' && (i == 0 || pData[i - 1] != '\r'));
		return Lines;
	}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t Size)
{
	NHushvane::CConfigCheck Check = NHushvane::gf_CheckConfig(pData, Size);

	NHushvane::CProcessTable Table;
	CNullLog Log;
	NHushvane::gf_ParseConfig(pData, Size, Table, Log);
	if (Check.m_Entries.size() != Table.f_GetCount())
		abort();
	size_t Index = 0;
	Table.f_ForEach([&](const NHushvane::CProcessTable::CEntry &Entry) {
		const NHushvane::CConfigCheckEntry &Checked = Check.m_Entries[Index++];
		if (Checked.m_Name != Entry.f_GetName().f_GetStr() || Checked.m_Class != Entry.f_GetPriorityClass() ||
			Checked.m_Class != NHushvane::gf_GetPriorityClass(Checked.m_Word.c_str()) || Checked.m_Line == 0)
			abort();
	});

	NZel::uint32 Lines = fg_CountLines(pData, Size);
	NZel::uint32 Previous = 0;
	for (const NHushvane::CConfigWarning &Warning : Check.m_Warnings)
	{
		if (Warning.m_Line < Previous || Warning.m_Line == 0 || Warning.m_Line > Lines || Warning.m_Text.empty())
			abort();
		Previous = Warning.m_Line;
	}

	std::string Report = NHushvane::gf_FormatConfigReport("config", Check, {});
	if (Report.empty() || NHushvane::gf_GetCheckExitCode(Check) != (Check.m_Warnings.empty() ? 0 : 2))
		abort();
	return 0;
}
