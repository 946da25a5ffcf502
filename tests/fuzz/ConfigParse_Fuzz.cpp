// Any byte sequence is a configuration file: the parser must neither crash nor read outside
// the text, and the table it builds must hold its own invariants.
#include "app/Hushvane_Config.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace
{
	class CCountingLog : public NHushvane::ICRunLog
	{
	public:
		void f_WriteLine(NZel::NStr::CStr Line) override
		{
			if (Line.f_GetLen() < 32) // "Added process " + name + " with priority " + "\r\n"
				abort();
			++m_Lines;
		}
		NZel::uint32 m_Lines = 0;
	};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t Size)
{
	NHushvane::CProcessTable Table;
	CCountingLog Log;
	NHushvane::gf_ParseConfig(pData, Size, Table, Log);
	// One line per entry, and a table that is still a valid AVL tree.
	if (Log.m_Lines != Table.f_GetCount() || !Table.f_CheckStructure())
		abort();
	return 0;
}
