#pragma once
// The foundation library's exceptions: plain 256-byte message objects without virtual functions,
// thrown by value and caught by reference. Making one writes the diagnostic line
// "<file>(<line>): <class> in <function>: <message>\n" to the debugger output.
//
//   DZelThrow(NZel::NFile::CExceptionFile, "File not open");
//   DZelThrowSystemError(NZel::NFile::CExceptionFile, "CreateFile");
//     -> "Windows returned an error from CreateFile: <text of the thread's last error>"
//
// The macros fill in the source file, the line, the qualified name of the throwing function and
// the class name, all worked out at compile time.
#include "zel/library/core/general/Zel_Str.h"
#include "zel/library/core/general/Zel_Exception_Names.h"

namespace NZel::NException
{
	// What the thrower knows when it makes an exception.
	struct CThrowRecord
	{
		const char *f_pClassName; // null stands for "CException"
		const char *f_pFile;
		int32 f_Line;
		const char *f_pFunction;
		const char *f_pMessage;
	};

	class CException
	{
	public:
		static constexpr int32 mc_MessageSize = 256;

		// Copies the message (at most 255 characters) and writes the diagnostic line, which
		// holds the whole message.
		explicit CException(const CThrowRecord &Record);

		const char *f_GetMessage() const
		{
			return fp_Message;
		}

	private:
		char fp_Message[mc_MessageSize];
	};

	class CExceptionMemory : public CException
	{
	public:
		using CException::CException;
	};

	class CExceptionSystemImplementation : public CException
	{
	public:
		using CException::CException;
	};

	static_assert(sizeof(CException) == 256 && sizeof(CExceptionMemory) == 256);

	// A message argument of any of the system's text types.
	inline const char *gf_MessageText(const char *pText)
	{
		return pText ? pText : "";
	}
	inline const char *gf_MessageText(const NStr::CStr &Text)
	{
		return Text.f_GetStr();
	}
	template <int32 t_Capacity>
	inline const char *gf_MessageText(const NStr::TCStrImp_Fixed<t_Capacity> &Text)
	{
		return Text.f_GetStr();
	}

	// "Windows returned an error from <pFunction>: <error text>" for the given error text.
	NStr::CFStr256 gf_SystemErrorMessage(const char *pFunction, const NStr::CFStr256 &ErrorText);
}

namespace NZel::NFile
{
	class CExceptionFile : public NException::CException
	{
	public:
		using CException::CException;
	};
}

namespace NZel::NList
{
	class CExceptionList : public NException::CException
	{
	public:
		using CException::CException;
	};

	class CExceptionListBoundCheck : public CExceptionList
	{
	public:
		using CExceptionList::CExceptionList;
	};

	static_assert(sizeof(CExceptionListBoundCheck) == 256);
}

// The source position and names of the throwing site, as compile-time constants.
#define DZelThrowSite_(ExceptionClass)                                                                             \
	static constexpr auto sc_ZelThrowFunction =                                                                    \
		::NZel::NException::NPrivate::gf_QualifiedFunctionName<sizeof(__PRETTY_FUNCTION__)>(__PRETTY_FUNCTION__); \
	static constexpr auto sc_ZelThrowFile = ::NZel::NException::NPrivate::gf_SourceFileName(__FILE__);          \
	static constexpr const char *sc_pZelThrowClass = ::NZel::NException::NPrivate::gf_ClassName(#ExceptionClass)

#define DZelThrow(ExceptionClass, Message)                                                                        \
	do                                                                                                             \
	{                                                                                                              \
		DZelThrowSite_(ExceptionClass);                                                                            \
		throw ExceptionClass(::NZel::NException::CThrowRecord{sc_pZelThrowClass, sc_ZelThrowFile, __LINE__,       \
			sc_ZelThrowFunction.f_GetStr(), ::NZel::NException::gf_MessageText(Message)});                          \
	} while (0)

// Reads the thread's last error first, before anything else can change it.
#define DZelThrowSystemError(ExceptionClass, WindowsFunction)                                                    \
	do                                                                                                             \
	{                                                                                                              \
		::NZel::NStr::CFStr256 ZelErrorText_ = ::NZel::NSys::gf_GetErrorText(0);                                    \
		DZelThrowSite_(ExceptionClass);                                                                            \
		::NZel::NStr::CFStr256 ZelMessage_ =                                                                       \
			::NZel::NException::gf_SystemErrorMessage(WindowsFunction, ZelErrorText_);                             \
		throw ExceptionClass(::NZel::NException::CThrowRecord{sc_pZelThrowClass, sc_ZelThrowFile, __LINE__,       \
			sc_ZelThrowFunction.f_GetStr(), ZelMessage_.f_GetStr()});                                              \
	} while (0)

namespace NZel::NSys
{
	NStr::CFStr256 gf_GetErrorText(uint32 Code);
}
