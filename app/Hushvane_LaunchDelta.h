#pragma once
// What the launch watcher remembers between two looks at the process list: which processes it
// has seen. Windows reuses process ids, so a process is known by its id together with its
// creation time: an id that comes back with another creation time is a new process.
// Platform-neutral.
#include "zel/library/core/general/Zel_Types.h"

#include <cstddef>
#include <vector>

namespace NHushvane
{
	struct CProcessStamp
	{
		NZel::uint32 m_ProcessId = 0;
		// As the system reports it (100 ns units since 1601); only compared for equality.
		NZel::uint64 m_CreateTime = 0;
	};

	// The set of processes of the previous look. f_Look compares a new look with it and then
	// keeps the new look instead, so a process that has ended is forgotten and an id reused
	// later counts as new. Each look costs time proportional to the number of processes and,
	// once the set has grown to the machine's process count, allocates nothing.
	class CLaunchDelta
	{
	public:
		// Calls fOnNew(const CProcessStamp &) for each stamp, in order, that the previous look
		// did not hold; the first look (after construction or f_Forget) holds only new ones.
		// A stamp listed twice in one look counts once.
		template <typename t_FOnNew>
		void f_Look(const CProcessStamp *pStamps, size_t Count, t_FOnNew &&fOnNew)
		{
			fp_BeginLook(Count);
			for (size_t Index = 0; Index < Count; ++Index)
			{
				if (fp_Keep(pStamps[Index]))
					fOnNew(pStamps[Index]);
			}
			fp_EndLook();
		}

		// Forgets every process: the next look hands over all of them.
		void f_Forget();

		// Processes of the last look.
		size_t f_GetKnownCount() const { return fp_KnownCount; }

	private:
		// One slot of an open-addressing table. A slot is in use when its generation is its
		// table's current one, so a table is emptied by counting its generation up.
		struct CSlot
		{
			CProcessStamp m_Stamp;
			NZel::uint32 m_Generation = 0;
		};

		struct CTable
		{
			std::vector<CSlot> m_Slots; // a power of two, at least twice the processes held
			NZel::uint32 m_Generation = 1;

			void f_Empty(size_t Capacity);
			// The slot holding ProcessId, or the free slot where it belongs.
			CSlot &f_Find(NZel::uint32 ProcessId);
			bool f_IsUsed(const CSlot &Slot) const { return Slot.m_Generation == m_Generation; }
		};

		void fp_BeginLook(size_t Count);
		// Puts the stamp into the current look; true when the previous look did not hold it.
		bool fp_Keep(const CProcessStamp &Stamp);
		void fp_EndLook();

		CTable fp_Tables[2];
		NZel::uint32 fp_Previous = 0; // index of the previous look's table
		size_t fp_KnownCount = 0;
		size_t fp_LookCount = 0;
	};
}
