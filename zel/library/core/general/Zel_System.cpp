#include "zel/library/core/general/Zel_System.h"

#include "zel/library/core/general/Zel_Clock.h"
#include "zel/library/core/general/Zel_CrashSettings.h"
#include "zel/library/core/general/Zel_Event_Link.h"
#include "zel/library/core/general/Zel_Heap.h"
#include "zel/library/core/general/Zel_ThreadPlacement.h"
#include "zel/library/core/general/Zel_ThreadStorage.h"
#include "zel/library/core/general/Zel_Timer.h"
#include "zel/library/core/runtime/Zel_Sys_Memory.h"
#include "zel/library/core/runtime/Zel_Sys_Thread.h"

#include <memory>
#include <new>

namespace NZel
{
	namespace NMemory::NPrivate
	{
		std::atomic<CProcessHeap *> g_pProcessHeap{nullptr};
	}

	namespace
	{
#ifdef _WIN32
		using CSystemFlavour = CSystemWindowsMSVC;
#else
		using CSystemFlavour = CSystem;
#endif

		// Room for each part, in construction order.
		struct CParts
		{
			alignas(NThreadPlacement::CPlacementContext) unsigned char m_Placement[sizeof(NThreadPlacement::CPlacementContext)];
			alignas(NMemory::CProcessHeap) unsigned char m_Heap[sizeof(NMemory::CProcessHeap)];
			alignas(NThread::CEventLinkPool) unsigned char m_EventLinkPool[sizeof(NThread::CEventLinkPool)];
			alignas(CSystem::CThreadStorageContext) unsigned char m_ThreadStorage[sizeof(CSystem::CThreadStorageContext)];
			alignas(CCrashSettings) unsigned char m_CrashSettings[sizeof(CCrashSettings)];
			alignas(NTime::CClockSourceSystem) unsigned char m_ClockSource[sizeof(NTime::CClockSourceSystem)];
			alignas(NTime::CClock) unsigned char m_Clock[sizeof(NTime::CClock)];
			alignas(NTime::CTimerContext) unsigned char m_TimerContext[sizeof(NTime::CTimerContext)];
		};

		// 0: not made, 1: being made by g_CreatorThread, 2: made.
		std::atomic<uint32> g_State{0};
		std::atomic<uint32> g_CreatorThread{0};
		std::atomic<CSystem *> g_pSystem{nullptr};

		CSystem &fg_Make()
		{
			uint32 const Self = NSys::gf_Thread_GetCurrentId();
			uint32 Expected = 0;
			if (!g_State.compare_exchange_strong(Expected, 1, std::memory_order_acq_rel))
			{
				if (Expected == 1 && g_CreatorThread.load(std::memory_order_acquire) == Self)
					return *g_pSystem.load(std::memory_order_acquire); // re-entered while making it
				while (g_State.load(std::memory_order_acquire) != 2)
					NSys::gf_Thread_Yield();
				return *g_pSystem.load(std::memory_order_acquire);
			}
			g_CreatorThread.store(Self, std::memory_order_release);
			constexpr umint c_PartsOffset = (sizeof(CSystemFlavour) + alignof(CParts) - 1) / alignof(CParts) * alignof(CParts);
#ifdef _WIN32
			auto *pStorage = static_cast<unsigned char *>(NSys::AllocVirtualMemory(c_PartsOffset + sizeof(CParts), 0, NSys::EMemAllocation::Commit));
#else
			// The native build's parts allocate from the C library, and its leak checker finds
			// their blocks only through pointers kept in static storage, not in a mapping.
			alignas(CSystemFlavour) alignas(CParts) static unsigned char s_Storage[c_PartsOffset + sizeof(CParts)];
			unsigned char *pStorage = s_Storage;
#endif
			new (pStorage) CSystemFlavour(pStorage + c_PartsOffset);
			g_State.store(2, std::memory_order_release);
			return *g_pSystem.load(std::memory_order_acquire);
		}
	}

	CSystem::CSystem(void *pPartsStorage)
	{
		// Published first, so that the parts made below reach the ones made before them.
		g_pSystem.store(this, std::memory_order_release);
		auto &Parts = *static_cast<CParts *>(pPartsStorage);
		fp_pPlacement = new (Parts.m_Placement) NThreadPlacement::CPlacementContext;
		fp_pHeap = new (Parts.m_Heap) NMemory::CProcessHeap;
		NMemory::NPrivate::g_pProcessHeap.store(fp_pHeap, std::memory_order_release);
		fp_pEventLinkPool = new (Parts.m_EventLinkPool) NThread::CEventLinkPool;
		fp_pThreadStorage = new (Parts.m_ThreadStorage) CThreadStorageContext;
		fp_pCrashSettings = new (Parts.m_CrashSettings) CCrashSettings;
		fp_pClockSource = new (Parts.m_ClockSource) NTime::CClockSourceSystem;
		fp_pClock = new (Parts.m_Clock) NTime::CClock(*fp_pClockSource);
		fp_pTimerContext = new (Parts.m_TimerContext) NTime::CTimerContext(*fp_pClock);
	}

	CSystem::~CSystem()
	{
		// Never runs for the process's object (see the header); kept complete for the order.
		std::destroy_at(fp_pTimerContext);
		std::destroy_at(fp_pClock);
		std::destroy_at(fp_pClockSource);
		std::destroy_at(fp_pCrashSettings);
		std::destroy_at(fp_pThreadStorage);
		std::destroy_at(fp_pEventLinkPool);
		NMemory::NPrivate::g_pProcessHeap.store(nullptr, std::memory_order_release);
		std::destroy_at(fp_pHeap);
		std::destroy_at(fp_pPlacement);
	}

	umint CSystem::fs_GetPartsSize()
	{
		return sizeof(CParts);
	}

	NThreadPlacement::CPlacementContext &CSystem::f_GetPlacement()
	{
		return *fp_pPlacement;
	}

	NThreadPlacement::CPlacementContext *CSystem::f_GetPlacementIfMade()
	{
		return fp_pPlacement;
	}

	NMemory::CProcessHeap &CSystem::f_GetHeap()
	{
		return *fp_pHeap;
	}

	NThread::CEventLinkPool &CSystem::f_GetEventLinkPool()
	{
		return *fp_pEventLinkPool;
	}

	CSystem::CThreadStorageContext &CSystem::f_GetThreadStorage()
	{
		return *fp_pThreadStorage;
	}

	CCrashSettings &CSystem::f_GetCrashSettings()
	{
		return *fp_pCrashSettings;
	}

	NTime::CClock &CSystem::f_GetClock()
	{
		return *fp_pClock;
	}

	NTime::CTimerContext &CSystem::f_GetTimerContext()
	{
		return *fp_pTimerContext;
	}

	CSystem &gf_GetSystem()
	{
		if (g_State.load(std::memory_order_acquire) == 2)
			return *g_pSystem.load(std::memory_order_relaxed);
		return fg_Make();
	}

	CSystem *gf_GetSystemIfMade()
	{
		uint32 State = g_State.load(std::memory_order_acquire);
		if (State == 2)
			return g_pSystem.load(std::memory_order_relaxed);
		if (State == 1 && g_CreatorThread.load(std::memory_order_acquire) == NSys::gf_Thread_GetCurrentId())
			return g_pSystem.load(std::memory_order_acquire);
		return nullptr;
	}

}
