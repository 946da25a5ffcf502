#include "zel/library/core/general/Zel_System.h"

#include "zel/library/core/general/Zel_Event_Link.h"
#include "zel/library/core/general/Zel_ThreadStorage.h"

#include <new>

namespace NZel
{
	namespace
	{
#ifdef _WIN32
		using CSystemFlavour = CSystemWindowsMSVC;
#else
		using CSystemFlavour = CSystem;
#endif
	}

	CSystem::CSystem()
		: fp_pEventLinkPool(std::make_unique<NThread::CEventLinkPool>())
		, fp_pThreadStorage(std::make_unique<CThreadStorageContext>())
	{
	}

	CSystem::~CSystem() = default;

	NThread::CEventLinkPool &CSystem::f_GetEventLinkPool()
	{
		return *fp_pEventLinkPool;
	}

	CSystem::CThreadStorageContext &CSystem::f_GetThreadStorage()
	{
		return *fp_pThreadStorage;
	}

	CSystem &gf_GetSystem()
	{
		// Placement into static storage: made once, thread-safe, never destroyed.
		alignas(CSystemFlavour) static unsigned char s_Storage[sizeof(CSystemFlavour)];
		static CSystem *const s_pSystem = new (s_Storage) CSystemFlavour;
		return *s_pSystem;
	}

#ifdef _WIN32
	namespace
	{
		// Made during start-up, before the program's entry point, so that the crash reporter
		// covers the program's first instruction.
		[[maybe_unused]] CSystem &g_StartUpSystem = gf_GetSystem();
	}
#endif
}
