#include "app/Hushvane_LaunchDelta.h"

namespace NHushvane
{
	using NZel::uint32;

	namespace
	{
		constexpr size_t gc_FirstCapacity = 256;

		size_t fg_CapacityFor(size_t Count, size_t Capacity)
		{
			if (Capacity == 0)
				Capacity = gc_FirstCapacity;
			while (Capacity < 2 * Count)
				Capacity *= 2;
			return Capacity;
		}
	}

	void CLaunchDelta::CTable::f_Empty(size_t Capacity)
	{
		if (m_Slots.size() < Capacity)
		{
			m_Slots.assign(Capacity, CSlot());
			m_Generation = 1;
			return;
		}
		if (++m_Generation == 0)
		{
			// After 2^32 looks the old generations could come round again: wipe them once.
			for (CSlot &Slot : m_Slots)
				Slot.m_Generation = 0;
			m_Generation = 1;
		}
	}

	CLaunchDelta::CSlot &CLaunchDelta::CTable::f_Find(uint32 ProcessId)
	{
		// Windows ids are multiples of four: the low bits carry nothing.
		size_t Mask = m_Slots.size() - 1;
		size_t Index = size_t((uint32(ProcessId >> 2) * 0x9E3779B1u) >> 8) & Mask;
		while (f_IsUsed(m_Slots[Index]) && m_Slots[Index].m_Stamp.m_ProcessId != ProcessId)
			Index = (Index + 1) & Mask;
		return m_Slots[Index];
	}

	void CLaunchDelta::fp_BeginLook(size_t Count)
	{
		CTable &Current = fp_Tables[fp_Previous ^ 1];
		Current.f_Empty(fg_CapacityFor(Count, Current.m_Slots.size()));
		fp_LookCount = 0;
	}

	bool CLaunchDelta::fp_Keep(const CProcessStamp &Stamp)
	{
		CTable &Current = fp_Tables[fp_Previous ^ 1];
		CSlot &Slot = Current.f_Find(Stamp.m_ProcessId);
		if (Current.f_IsUsed(Slot))
			return false; // listed twice in one look
		Slot.m_Stamp = Stamp;
		Slot.m_Generation = Current.m_Generation;
		++fp_LookCount;

		CTable &Previous = fp_Tables[fp_Previous];
		if (Previous.m_Slots.empty())
			return true;
		const CSlot &Before = Previous.f_Find(Stamp.m_ProcessId);
		return !Previous.f_IsUsed(Before) || Before.m_Stamp.m_CreateTime != Stamp.m_CreateTime;
	}

	void CLaunchDelta::fp_EndLook()
	{
		fp_Previous ^= 1;
		fp_KnownCount = fp_LookCount;
	}

	void CLaunchDelta::f_Forget()
	{
		CTable &Previous = fp_Tables[fp_Previous];
		if (!Previous.m_Slots.empty())
			Previous.f_Empty(Previous.m_Slots.size());
		fp_KnownCount = 0;
	}
}
