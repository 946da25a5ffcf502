#pragma once
// CCrashText: the text of a crash report, built where nothing of the crashed program can get in
// its way. Its memory is one reservation of address space, made before anything crashes (when
// the crash reporter is installed), whose pages are committed as the text grows. Appending
// takes no lock and never touches the heap, so a report can be written while the crashed
// thread holds the heap's lock, or after it damaged the heap. What does not fit into the
// reservation is dropped and the text counts as cut; the text always ends in a zero.
//
// One writer at a time: the crash reporter lets one report run at once.
#include "zel/library/core/general/Zel_Types.h"

namespace NZel::NCrash
{
	class CCrashText
	{
	public:
		// Reserves room for MaxBytes of text (rounded up to the reservation granularity); no
		// page is committed yet. Without address space the text holds nothing.
		explicit CCrashText(umint MaxBytes);
		~CCrashText();
		CCrashText(const CCrashText &) = delete;
		CCrashText &operator=(const CCrashText &) = delete;

		// Count < 0: up to the terminating zero.
		void f_Append(const char *pText, int32 Count = -1);
		// Empty again; committed pages stay for the next text.
		void f_Clear();

		const char *f_GetStr() const;
		umint f_GetLen() const { return fp_Len; }
		// Something was dropped since the last f_Clear: the reservation was full or a page
		// could not be committed.
		bool f_IsCut() const { return fp_bCut; }
		// The longest text the reservation holds.
		umint f_GetCapacity() const { return fp_Reserved ? fp_Reserved - 1 : 0; }

	private:
		// Commits pages so that Bytes of the reservation are usable.
		bool fp_Commit(umint Bytes);

		char *fp_pBase = nullptr;
		umint fp_Reserved = 0;
		umint fp_Committed = 0;
		umint fp_CommitStep = 0;
		umint fp_Len = 0;
		bool fp_bCut = false;
	};
}
