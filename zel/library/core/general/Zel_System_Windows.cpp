#include "zel/library/core/general/Zel_System.h"

#include "zel/library/core/runtime/Zel_Runtime_CrashReporter.h"
#include "zel/library/core/runtime/Zel_Runtime_DeadlockDetector.h"
#include "zel/library/core/runtime/Zel_Runtime_StackTrace.h"
#include "zel/library/core/runtime/Zel_Sys_Library.h"

#include <new>

namespace NZel
{
	CSystemWindowsMSVC::CSystemWindowsMSVC(void *pPartsStorage)
		: CSystem(pPartsStorage)
		, fp_pStackTrace(new NCrash::CStackTrace)
	{
		// Here, because nothing of the program runs earlier: the system object is made at the
		// first allocation, before any static constructor, so no library can be loaded by name
		// from the program's folder before the search is restricted to the system folder.
		NSys::gf_RestrictLibrarySearch();
		NCrash::gf_InstallCrashFilter();
	}

	CSystemWindowsMSVC::~CSystemWindowsMSVC()
	{
		delete fp_pStackTrace;
	}

	NCrash::CStackTrace &CSystemWindowsMSVC::f_GetStackTrace()
	{
		return *fp_pStackTrace;
	}

	CSystemWindowsMSVC::CDeadlockDetector &CSystemWindowsMSVC::f_GetDeadlockDetector()
	{
		// Like the system object itself: made once, thread-safe, never destroyed, because
		// threads may use it until the process ends.
		alignas(CDeadlockDetector) static unsigned char s_Storage[sizeof(CDeadlockDetector)];
		static CDeadlockDetector *const s_pDetector = new (s_Storage) CDeadlockDetector;
		return *s_pDetector;
	}

	CSystemWindowsMSVC &gf_GetSystemWindows()
	{
		return static_cast<CSystemWindowsMSVC &>(gf_GetSystem());
	}

	namespace NCrash
	{
		CStackTrace &gf_GetStackTrace()
		{
			return gf_GetSystemWindows().f_GetStackTrace();
		}
	}
}
