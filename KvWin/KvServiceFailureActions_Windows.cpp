#include "KvWin/KvServiceFailureActions.h"

#include "KvWin/KvServiceRegistration.h"

namespace
{
	constexpr DWORD gc_ResetPeriodSeconds = 86400;
}

CKvServiceFailureActions::CKvServiceFailureActions(const NZel::NStr::CStr &DisplayName)
	: fp_RebootMessage(gf_KvServiceRebootMessage(DisplayName))
{
	fp_Steps[0] = {SC_ACTION_RESTART, 0};
	fp_Steps[1] = {SC_ACTION_RESTART, 0};
	fp_Steps[2] = {SC_ACTION_NONE, 0};
	fp_Actions.dwResetPeriod = gc_ResetPeriodSeconds;
	// The Windows record takes writable texts; neither is written through.
	fp_Actions.lpRebootMsg = const_cast<char *>(fp_RebootMessage.f_GetStr());
	fp_Actions.lpCommand = fp_Command;
	fp_Actions.cActions = 3;
	fp_Actions.lpsaActions = fp_Steps;
}
