#include "zel/library/core/general/Zel_CrashText.h"

#include "zel/library/core/runtime/Zel_Sys_Memory.h"

#include <cstring>

namespace NZel::NCrash
{
	namespace
	{
		// Pages are committed in runs of this many bytes: a raw stack dump of a few megabytes
		// then takes a few dozen system calls, not thousands.
		constexpr umint gc_CommitRun = 64 * 1024;
	}

	CCrashText::CCrashText(umint MaxBytes)
	{
		NSys::CMemoryInfo const &Info = NSys::gf_Mem_GetInfo();
		umint const Size = NSys::gf_Mem_RoundUp(MaxBytes + 1, Info.m_Granularity);
		if (Size <= MaxBytes)
			return; // MaxBytes near the top of the address range
		fp_pBase = static_cast<char *>(NSys::NPlatform::gf_Mem_TryAlloc(nullptr, Size, NSys::EMemAllocation::Reserve, true));
		if (fp_pBase)
			fp_Reserved = Size;
		fp_CommitStep = NSys::gf_Mem_RoundUp(gc_CommitRun, Info.m_PageSize);
	}

	CCrashText::~CCrashText()
	{
		if (fp_pBase)
			NSys::NPlatform::gf_Mem_TryRelease(fp_pBase, fp_Reserved);
	}

	bool CCrashText::fp_Commit(umint Bytes)
	{
		if (Bytes <= fp_Committed)
			return true;
		if (Bytes > fp_Reserved)
			return false;
		umint Target = NSys::gf_Mem_RoundUp(Bytes, fp_CommitStep);
		if (Target > fp_Reserved)
			Target = fp_Reserved;
		if (!NSys::NPlatform::gf_Mem_TryCommit(fp_pBase + fp_Committed, Target - fp_Committed))
			return false;
		fp_Committed = Target;
		return true;
	}

	void CCrashText::f_Append(const char *pText, int32 Count)
	{
		if (!pText)
			return;
		umint n = Count < 0 ? std::strlen(pText) : umint(Count);
		if (n == 0)
			return;
		umint const Room = f_GetCapacity() - fp_Len;
		if (n > Room)
		{
			n = Room;
			fp_bCut = true;
		}
		if (!fp_Commit(fp_Len + n + 1))
		{
			// Out of memory: what the committed pages hold stays, the terminator included.
			fp_bCut = true;
			umint const Usable = fp_Committed > fp_Len ? fp_Committed - fp_Len - 1 : 0;
			if (n > Usable)
				n = Usable;
		}
		if (n == 0)
			return;
		std::memcpy(fp_pBase + fp_Len, pText, n);
		fp_Len += n;
		fp_pBase[fp_Len] = 0;
	}

	void CCrashText::f_Clear()
	{
		fp_Len = 0;
		fp_bCut = false;
		if (fp_Committed)
			fp_pBase[0] = 0;
	}

	const char *CCrashText::f_GetStr() const
	{
		return fp_Committed ? fp_pBase : "";
	}
}
