#include "app/Hushvane_CommandLine.h"

namespace NHushvane
{
	NZel::int32 gf_FindText(const char *pText, const char *pPattern)
	{
		if (!pText || !*pText || !pPattern || !*pPattern)
			return -1;
		for (const char *pStart = pText; *pStart; ++pStart)
		{
			const char *pT = pStart;
			const char *pP = pPattern;
			while (*pP && *pT == *pP)
			{
				++pT;
				++pP;
			}
			if (!*pP)
				return NZel::int32(pStart - pText);
			if (!*pT)
				return -1; // the text ended inside the pattern: no later start can match
		}
		return -1;
	}

	const char *gf_GetSwitchText(ESwitch Switch)
	{
		switch (Switch)
		{
		case ESwitch::Add:
			return "-AddService";
		case ESwitch::Remove:
			return "-RemoveService";
		case ESwitch::Start:
			return "-StartService";
		case ESwitch::Stop:
			return "-StopService";
		case ESwitch::UninstallDrivers:
			return "-UninstallDrivers";
		case ESwitch::RunAsProgram:
			return "-RunAsProgram";
		case ESwitch::Service:
			return "-Service";
		case ESwitch::CheckConfig:
			return "-CheckConfig";
		case ESwitch::None:
			break;
		}
		return nullptr;
	}

	ESwitch gf_FindSwitch(const char *pCommandLine)
	{
		for (int Index = 0; Index < int(ESwitch::None); ++Index)
		{
			ESwitch Switch = ESwitch(Index);
			if (gf_FindText(pCommandLine, gf_GetSwitchText(Switch)) >= 0)
				return Switch;
		}
		return ESwitch::None;
	}
}
