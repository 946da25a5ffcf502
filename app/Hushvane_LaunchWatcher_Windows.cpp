#include "app/Hushvane_LaunchWatcher.h"

#include <windows.h>
#include <winternl.h>

namespace NHushvane
{
	namespace
	{
		constexpr NTSTATUS gc_StatusInfoLengthMismatch = NTSTATUS(0xC0000004L);
		constexpr size_t gc_FirstBufferSize = 64 * 1024;
		// A list read at its measured size may have grown by the next call.
		constexpr size_t gc_BufferSlack = 16 * 1024;
	}

	bool CLaunchWatcher::f_Read(std::vector<CProcessStamp> &Stamps)
	{
		Stamps.clear();
		if (fp_Buffer.empty())
			fp_Buffer.resize(gc_FirstBufferSize);
		// One call gives ids and creation times of every process; the buffer grows until the
		// list fits and then stays, so a look allocates nothing once warmed up.
		NTSTATUS Status;
		for (;;)
		{
			ULONG Needed = 0;
			Status = NtQuerySystemInformation(SystemProcessInformation, fp_Buffer.data(), ULONG(fp_Buffer.size()), &Needed);
			if (Status != gc_StatusInfoLengthMismatch)
				break;
			size_t Size = size_t(Needed) > fp_Buffer.size() ? size_t(Needed) : fp_Buffer.size() * 2;
			fp_Buffer.resize(Size + gc_BufferSlack);
		}
		if (Status < 0)
			return false;
		const unsigned char *pEntry = fp_Buffer.data();
		const unsigned char *pEnd = pEntry + fp_Buffer.size();
		for (;;)
		{
			if (size_t(pEnd - pEntry) < sizeof(SYSTEM_PROCESS_INFORMATION))
				break;
			const auto *pProcess = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION *>(pEntry);
			CProcessStamp Stamp;
			Stamp.m_ProcessId = NZel::uint32(reinterpret_cast<ULONG_PTR>(pProcess->UniqueProcessId));
			Stamp.m_CreateTime = NZel::uint64(pProcess->CreateTime.QuadPart);
			Stamps.push_back(Stamp);
			if (pProcess->NextEntryOffset == 0)
				break;
			pEntry += pProcess->NextEntryOffset;
		}
		return true;
	}

	bool CLaunchWatcher::f_Look(ICRunLog &Log, FApplyPriority fApply)
	{
		if (!f_Read(fp_Stamps))
			return false;
		fp_Delta.f_Look(fp_Stamps.data(), fp_Stamps.size(),
			[&](const CProcessStamp &Stamp) { gf_ApplyPriorityGuarded(Log, Stamp.m_ProcessId, fApply); });
		return true;
	}
}
