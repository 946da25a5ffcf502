#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_Format.h"
#include "zel/library/core/runtime/Zel_Sys_Debug.h"

namespace NZel::NException
{
	namespace
	{
		// Set while this thread builds an exception's line. The line needs a string; when the heap
		// cannot give one it throws an exception of its own, whose line would need a string in
		// turn: that one, made inside, writes no line, and the outer one leaves its line out.
		thread_local bool t_bWritingLine = false;
	}

	CException::CException(const CThrowRecord &Record)
	{
		const char *pMessage = Record.f_pMessage ? Record.f_pMessage : "";
		int32 Len = 0;
		while (Len < mc_MessageSize - 1 && pMessage[Len])
		{
			fp_Message[Len] = pMessage[Len];
			++Len;
		}
		fp_Message[Len] = 0;

		if (t_bWritingLine)
			return;
		t_bWritingLine = true;
		try
		{
			NStr::CStr Line = NStr::CStr::CFormat("{}({}): {} in {}: {}\n")
				<< Record.f_pFile << Record.f_Line << (Record.f_pClassName ? Record.f_pClassName : "CException")
				<< Record.f_pFunction << pMessage;
			NSys::gf_DebugOutput(Line.f_GetStr(), Line.f_GetLen());
		}
		catch (...)
		{
			// No memory for the line: the exception still carries its message.
		}
		t_bWritingLine = false;
	}

	NStr::CFStr256 gf_SystemErrorMessage(const char *pFunction, const NStr::CFStr256 &ErrorText)
	{
		return NStr::CFStr256::CFormat("Windows returned an error from {}: {}") << pFunction << ErrorText;
	}
}
