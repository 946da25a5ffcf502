#pragma once
#include "zel/library/core/general/Zel_Types.h"

namespace NHushvane
{
	// Zero-based offset of the first occurrence of pPattern in pText, comparing bytes exactly;
	// -1 when there is none or when either text is empty (or null).
	NZel::int32 gf_FindText(const char *pText, const char *pPattern);

	// The program's switches, in the order they are tested. The registration rows are named
	// without "Service": <windows.h> turns StartService into a macro.
	enum class ESwitch
	{
		Add,
		Remove,
		Start,
		Stop,
		UninstallDrivers,
		RunAsProgram,
		Service,
		CheckConfig,
		None,
	};

	// The switch's text on the command line, e.g. "-AddService"; null for ESwitch::None.
	const char *gf_GetSwitchText(ESwitch Switch);

	// The first switch of the table that occurs anywhere in the command line (case-sensitive
	// substring); later rows and the order on the line do not matter. ESwitch::None without one.
	ESwitch gf_FindSwitch(const char *pCommandLine);
}
