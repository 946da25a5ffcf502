#pragma once
// Per-thread storage: any number of keys, each naming a slot in every thread's record.
//
// - CSystem::CThreadStorageContext (one per process, in the system object) hands out slots.
//   A key names its slot by an ordered list of strings; keys with equal lists share a slot.
//   Slot ids are made 32 at a time; when a batch is added, the value vectors of threads
//   that already have a record grow to cover it.
// - A thread's record is made at its first access and stored in a TLS index; it holds one
//   value pointer per slot id. Records of threads that ended through ICThread are released
//   by f_ReleaseCallingThread (values destroyed by their keys); others live as long as the
//   process.
// - TCThreadStorage<T, N, Allocator> gives each thread its own T, made on first use.
#include "zel/library/core/general/Zel_List_Vector.h"
#include "zel/library/core/general/Zel_Lock.h"
#include "zel/library/core/general/Zel_Str.h"
#include "zel/library/core/general/Zel_System.h"

#include <map>
#include <new>
#include <typeinfo>
#include <vector>

namespace NZel
{
	using CThreadStorageIdentity = std::vector<NStr::CStr>;

	// The number part of a storage identity: eight hexadecimal digits.
	NStr::CStr gf_FormatThreadStorageNumber(int32 Number);

	class CThreadStorageKey
	{
	public:
		// Registers the key; its slot is fixed from then on.
		explicit CThreadStorageKey(CThreadStorageIdentity Identity);
		// Must have been detached (fp_Detach) by the subclass, whose f_DestroyValue is gone
		// by the time this runs.
		virtual ~CThreadStorageKey();
		CThreadStorageKey(CThreadStorageKey const &) = delete;
		CThreadStorageKey &operator=(CThreadStorageKey const &) = delete;

		// Destroys one thread's value of this key's slot.
		virtual void f_DestroyValue(void *pValue) = 0;

		int32 f_GetSlot() const
		{
			return fp_Slot;
		}
		CThreadStorageIdentity const &f_GetIdentity() const
		{
			return fp_Identity;
		}

		// The calling thread's value, null until set.
		void *f_GetValue() const;
		void f_SetValue(void *pValue);

	protected:
		void fp_Detach();

	private:
		CThreadStorageIdentity const fp_Identity;
		int32 fp_Slot = -1;
		bool fp_bAttached = false;
	};

	class CSystem::CThreadStorageContext
	{
	public:
		CThreadStorageContext();
		~CThreadStorageContext();
		CThreadStorageContext(CThreadStorageContext const &) = delete;
		CThreadStorageContext &operator=(CThreadStorageContext const &) = delete;

		// Registers Key: the slot of an equal identity if there is one, else a new slot.
		int32 Alloc(CThreadStorageKey &Key);
		// Unregisters Key. Its slot stays reserved: other threads may still hold values in it.
		void f_Detach(CThreadStorageKey &Key);

		void *f_GetValue(int32 Slot);
		void f_SetValue(int32 Slot, void *pValue);

		// Destroys the calling thread's values (each by a key of its slot) and its record.
		void f_ReleaseCallingThread();

		// Slot ids made so far (always a multiple of 32).
		int32 f_GetSlotIdCount();
		// Length of the calling thread's value vector (making its record if needed).
		mint f_GetCallingThreadLength();

	private:
		struct CThreadRecord
		{
			NThread::CLock m_Lock;
			NList::TCVector<void *> m_Values;
			CThreadRecord *m_pNext = nullptr;
			CThreadRecord *m_pPrev = nullptr;
		};

		struct CIdentityLess
		{
			bool operator()(CThreadStorageIdentity const &A, CThreadStorageIdentity const &B) const;
		};

		struct CSlotEntry
		{
			int32 m_Slot;
			std::vector<CThreadStorageKey *> m_Keys;
		};

		CThreadRecord *fp_GetRecord();
		void fp_AddSlotBatch();

		static constexpr int32 mc_BatchSize = 32;

		uint32 const fp_TlsIndex;
		NThread::CLock fp_Lock;
		std::map<CThreadStorageIdentity, CSlotEntry, CIdentityLess> fp_Registry;
		std::vector<int32> fp_FreeSlots; // lowest id last
		int32 fp_NextFreeSlot = 0;
		CThreadRecord *fp_pRecords = nullptr;
	};

	// Each thread's own t_CValue, made with t_CAllocator at the thread's first f_Get. Two
	// storages with the same value type, number and allocator share their values.
	template <typename t_CValue, int32 t_Number, typename t_CAllocator>
	class TCThreadStorage
	{
	public:
		class CKey : public CThreadStorageKey
		{
		public:
			CKey()
				: CThreadStorageKey(fs_MakeIdentity())
			{
			}
			~CKey() override
			{
				fp_Detach();
			}
			void f_DestroyValue(void *pValue) override
			{
				static_cast<t_CValue *>(pValue)->~t_CValue();
				t_CAllocator::f_Free(pValue);
			}

		private:
			static CThreadStorageIdentity fs_MakeIdentity()
			{
				return {NStr::CStr(typeid(t_CValue).name()), NStr::CStr(typeid(t_CAllocator).name()), gf_FormatThreadStorageNumber(t_Number)};
			}
		};

		t_CValue &f_Get()
		{
			void *pValue = fp_Key.f_GetValue();
			if (!pValue)
			{
				void *pMemory = t_CAllocator::f_Alloc(sizeof(t_CValue));
				if (!pMemory)
					throw std::bad_alloc();
				try
				{
					pValue = new (pMemory) t_CValue();
				}
				catch (...)
				{
					t_CAllocator::f_Free(pMemory);
					throw;
				}
				fp_Key.f_SetValue(pValue);
			}
			return *static_cast<t_CValue *>(pValue);
		}

		// Null when the calling thread has not made its value yet.
		t_CValue *f_GetIfMade() const
		{
			return static_cast<t_CValue *>(fp_Key.f_GetValue());
		}

		int32 f_GetSlot() const
		{
			return fp_Key.f_GetSlot();
		}

	private:
		CKey fp_Key;
	};
}
