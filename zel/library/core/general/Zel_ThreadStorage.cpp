#include "zel/library/core/general/Zel_ThreadStorage.h"

#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_Format.h"
#include "zel/library/core/runtime/Zel_Sys_Thread.h"

#include <algorithm>

namespace NZel
{
	using NThread::CLockGuard;

	namespace
	{
		CSystem::CThreadStorageContext &gf_GetContext()
		{
			return gf_GetSystem().f_GetThreadStorage();
		}
	}

	NStr::CStr gf_FormatThreadStorageNumber(int32 Number)
	{
		return NStr::CStr::CFormat("{nh,sf0,l8,m8}") << Number;
	}

	// Keys

	CThreadStorageKey::CThreadStorageKey(CThreadStorageIdentity Identity)
		: fp_Identity(std::move(Identity))
	{
		fp_Slot = gf_GetContext().Alloc(*this);
		fp_bAttached = true;
	}

	CThreadStorageKey::~CThreadStorageKey()
	{
		fp_Detach();
	}

	void CThreadStorageKey::fp_Detach()
	{
		if (!fp_bAttached)
			return;
		gf_GetContext().f_Detach(*this);
		fp_bAttached = false;
	}

	void *CThreadStorageKey::f_GetValue() const
	{
		return gf_GetContext().f_GetValue(fp_Slot);
	}

	void CThreadStorageKey::f_SetValue(void *pValue)
	{
		gf_GetContext().f_SetValue(fp_Slot, pValue);
	}

	// Context

	bool CSystem::CThreadStorageContext::CIdentityLess::operator()(CThreadStorageIdentity const &A, CThreadStorageIdentity const &B) const
	{
		size_t const nCommon = std::min(A.size(), B.size());
		for (size_t i = 0; i < nCommon; ++i)
		{
			int16 const Order = NStr::gf_Compare(A[i].f_GetStr(), B[i].f_GetStr());
			if (Order != 0)
				return Order < 0;
		}
		return A.size() < B.size();
	}

	CSystem::CThreadStorageContext::CThreadStorageContext()
		: fp_TlsIndex(NSys::gf_Thread_AllocStorage())
	{
	}

	CSystem::CThreadStorageContext::~CThreadStorageContext()
	{
		while (fp_pRecords)
		{
			CThreadRecord *pRecord = fp_pRecords;
			fp_pRecords = pRecord->m_pNext;
			delete pRecord;
		}
		NSys::gf_Thread_FreeStorage(fp_TlsIndex);
	}

	void CSystem::CThreadStorageContext::fp_AddSlotBatch()
	{
		int32 const First = fp_NextFreeSlot;
		for (int32 i = 0; i < mc_BatchSize; ++i)
			++fp_NextFreeSlot;
		for (int32 Slot = fp_NextFreeSlot - 1; Slot >= First; --Slot)
			fp_FreeSlots.push_back(Slot);

		for (CThreadRecord *pRecord = fp_pRecords; pRecord; pRecord = pRecord->m_pNext)
		{
			CLockGuard RecordGuard(pRecord->m_Lock);
			pRecord->m_Values.f_SetLen(fp_NextFreeSlot);
		}
	}

	int32 CSystem::CThreadStorageContext::Alloc(CThreadStorageKey &Key)
	{
		CLockGuard Guard(fp_Lock);

		auto Found = fp_Registry.find(Key.f_GetIdentity());
		if (Found != fp_Registry.end())
		{
			Found->second.m_Keys.push_back(&Key);
			return Found->second.m_Slot;
		}

		if (fp_FreeSlots.empty())
			fp_AddSlotBatch();
		if (fp_FreeSlots.empty())
			DZelThrow(NException::CException, "Failed to allocate thread storage index");

		int32 const Slot = fp_FreeSlots.back();
		fp_FreeSlots.pop_back();
		fp_Registry.emplace(Key.f_GetIdentity(), CSlotEntry{Slot, {&Key}});
		return Slot;
	}

	void CSystem::CThreadStorageContext::f_Detach(CThreadStorageKey &Key)
	{
		CLockGuard Guard(fp_Lock);
		auto Found = fp_Registry.find(Key.f_GetIdentity());
		if (Found == fp_Registry.end())
			return;
		auto &Keys = Found->second.m_Keys;
		Keys.erase(std::remove(Keys.begin(), Keys.end(), &Key), Keys.end());
	}

	CSystem::CThreadStorageContext::CThreadRecord *CSystem::CThreadStorageContext::fp_GetRecord()
	{
		if (void *pRecord = NSys::gf_Thread_GetStorage(fp_TlsIndex))
			return static_cast<CThreadRecord *>(pRecord);

		CLockGuard Guard(fp_Lock);
		auto *pRecord = new CThreadRecord;
		pRecord->m_Values.f_SetLen(fp_NextFreeSlot);
		try
		{
			NSys::gf_Thread_SetStorage(fp_TlsIndex, pRecord);
		}
		catch (...)
		{
			delete pRecord;
			throw;
		}
		pRecord->m_pNext = fp_pRecords;
		if (fp_pRecords)
			fp_pRecords->m_pPrev = pRecord;
		fp_pRecords = pRecord;
		return pRecord;
	}

	void *CSystem::CThreadStorageContext::f_GetValue(int32 Slot)
	{
		CThreadRecord *pRecord = fp_GetRecord();
		CLockGuard RecordGuard(pRecord->m_Lock);
		return pRecord->m_Values[Slot];
	}

	void CSystem::CThreadStorageContext::f_SetValue(int32 Slot, void *pValue)
	{
		CThreadRecord *pRecord = fp_GetRecord();
		CLockGuard RecordGuard(pRecord->m_Lock);
		pRecord->m_Values[Slot] = pValue;
	}

	void CSystem::CThreadStorageContext::f_ReleaseCallingThread()
	{
		auto *pRecord = static_cast<CThreadRecord *>(NSys::gf_Thread_GetStorage(fp_TlsIndex));
		if (!pRecord)
			return;

		CLockGuard Guard(fp_Lock);
		// Keys detach under fp_Lock, so every key found here is alive while it is used.
		for (auto const &[Identity, Entry] : fp_Registry)
		{
			void *&pValue = pRecord->m_Values[Entry.m_Slot];
			if (pValue && !Entry.m_Keys.empty())
				Entry.m_Keys.front()->f_DestroyValue(std::exchange(pValue, nullptr));
		}

		if (pRecord->m_pPrev)
			pRecord->m_pPrev->m_pNext = pRecord->m_pNext;
		else
			fp_pRecords = pRecord->m_pNext;
		if (pRecord->m_pNext)
			pRecord->m_pNext->m_pPrev = pRecord->m_pPrev;
		NSys::gf_Thread_SetStorage(fp_TlsIndex, nullptr);
		delete pRecord;
	}

	int32 CSystem::CThreadStorageContext::f_GetSlotIdCount()
	{
		CLockGuard Guard(fp_Lock);
		return fp_NextFreeSlot;
	}

	mint CSystem::CThreadStorageContext::f_GetCallingThreadLength()
	{
		CThreadRecord *pRecord = fp_GetRecord();
		CLockGuard RecordGuard(pRecord->m_Lock);
		return pRecord->m_Values.f_GetLen();
	}
}
