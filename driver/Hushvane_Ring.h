// The driver's ring of process reports, written once for the kernel and for native tests: it
// includes nothing and allocates nothing.
//
// The operations work on any state object with the members
//   Records     array of records, its length is the ring's capacity
//   WriteIndex  slot the next report goes to
//   ReadIndex   slot of the oldest unread report
//   Count       number of unread reports
// so the driver keeps them directly in its device extension. Invariant, after every call:
//
//   0 <= ReadIndex, WriteIndex < capacity,  0 <= Count <= capacity,
//   ReadIndex + Count == WriteIndex (mod capacity)
//
//        ReadIndex           WriteIndex
//            v                   v
//   [ . . . [o] [o] [o] [o] [o] [ ] . . . ]     o = unread, oldest at ReadIndex
//
// A full ring drops the new report and keeps the older ones. The caller holds the ring's lock
// around each call; nothing here blocks or takes longer than one record copy.
#pragma once

namespace NHushvane
{
	namespace NRing
	{
		template <typename t_CState>
		constexpr int gf_Capacity()
		{
			return int(sizeof(t_CState::Records) / sizeof(t_CState::Records[0]));
		}

		// Empties the ring (the records' contents are left as they are).
		template <typename t_CState>
		void gf_Reset(t_CState &State)
		{
			State.WriteIndex = 0;
			State.ReadIndex = 0;
			State.Count = 0;
		}

		// Stores a copy of Record as the newest report. Returns false, changing nothing, when the
		// ring is full.
		template <typename t_CState, typename t_CRecord>
		bool gf_Store(t_CState &State, const t_CRecord &Record)
		{
			constexpr int Capacity = gf_Capacity<t_CState>();
			if (State.Count >= Capacity)
				return false;
			State.Records[State.WriteIndex] = Record;
			++State.Count;
			if (++State.WriteIndex == Capacity)
				State.WriteIndex = 0;
			return true;
		}

		// Hands the oldest report to Deliver (called with a const reference to the slot, before the
		// slot is released) and removes it. Returns false, changing nothing, when the ring is empty.
		template <typename t_CState, typename t_FDeliver>
		bool gf_Take(t_CState &State, t_FDeliver &&Deliver)
		{
			constexpr int Capacity = gf_Capacity<t_CState>();
			if (State.Count <= 0)
				return false;
			const auto &Oldest = State.Records[State.ReadIndex];
			Deliver(Oldest);
			--State.Count;
			if (++State.ReadIndex == Capacity)
				State.ReadIndex = 0;
			return true;
		}

		// True when the invariant above holds.
		template <typename t_CState>
		bool gf_IsConsistent(const t_CState &State)
		{
			constexpr int Capacity = gf_Capacity<t_CState>();
			if (State.ReadIndex < 0 || State.ReadIndex >= Capacity || State.WriteIndex < 0 || State.WriteIndex >= Capacity)
				return false;
			if (State.Count < 0 || State.Count > Capacity)
				return false;
			return (State.ReadIndex + State.Count) % Capacity == State.WriteIndex;
		}
	}
}
