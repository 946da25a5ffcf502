#include "zel/library/core/runtime/Zel_Sys_Thread.h"

namespace NZel::NSys
{
	int32 gf_Thread_MapPriority(uint32 Priority)
	{
		// The 16-bit scale keeps room between the few Windows levels so callers can say
		// "a little above normal" without knowing them.
		static constexpr struct
		{
			uint32 m_Below;
			int32 m_WindowsPriority;
		} c_Table[] = {
			{0x2000, -15}, // idle
			{0x4000, -2},  // lowest
			{0x8000, -1},  // below normal
			{0xC000, 0},   // normal
			{0xE000, 1},   // above normal
			{0x10000, 2},  // highest
		};
		for (auto const &Row : c_Table)
		{
			if (Priority < Row.m_Below)
				return Row.m_WindowsPriority;
		}
		return 15; // time critical
	}
}
