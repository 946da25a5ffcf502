#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_Format.h"
#include "zel/library/core/runtime/Zel_Sys_Debug.h"
#include "tests/zel/StrTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace NZel;
using namespace NZel::NException;

namespace
{
	// Collects what reaches the debugger output while it lives.
	class CDebugCapture
	{
	public:
		CDebugCapture()
		{
			fp_Previous = NSys::gf_SetDebugOutputHook(&CDebugCapture::fs_Hook, this);
		}
		~CDebugCapture()
		{
			NSys::gf_SetDebugOutputHook(fp_Previous, nullptr);
		}
		std::vector<std::string> f_Pieces;
		std::string f_All() const
		{
			std::string All;
			for (auto const &Piece : f_Pieces)
				All += Piece;
			return All;
		}

	private:
		NSys::FDebugOutputHook fp_Previous;
		static void fs_Hook(const char *pPiece, void *pContext)
		{
			static_cast<CDebugCapture *>(pContext)->f_Pieces.emplace_back(pPiece);
		}
	};
}

namespace NZelTest::NThrowers
{
	[[noreturn]] void gf_ThrowFile()
	{
		DZelThrow(NZel::NFile::CExceptionFile, "File not open");
	}

	struct CVector
	{
		[[noreturn]] static void fs_Check(int Index)
		{
			NStr::CFStr256 Message = NStr::CFStr256::CFormat("index {}") << int32(Index);
			DZelThrow(NZel::NList::CExceptionListBoundCheck, Message);
		}
	};

	template <typename t_C>
	struct TCHolder
	{
		[[noreturn]] const char *f_Throw(const NStr::CStr &Message)
		{
			DZelThrow(CException, Message);
		}
	};
}

TEST(Exception, ObjectIsA256ByteMessageAndCatchesByBase)
{
	static_assert(sizeof(CException) == 256);
	static_assert(sizeof(NFile::CExceptionFile) == 256);
	static_assert(sizeof(NList::CExceptionListBoundCheck) == 256);
	static_assert(!std::is_polymorphic_v<CException>);

	CDebugCapture Capture;
	bool bCaught = false;
	try
	{
		NZelTest::NThrowers::gf_ThrowFile();
	}
	catch (CException &Caught)
	{
		bCaught = true;
		EXPECT_STREQ(Caught.f_GetMessage(), "File not open");
	}
	EXPECT_TRUE(bCaught);

	bCaught = false;
	try
	{
		NZelTest::NThrowers::CVector::fs_Check(-1);
	}
	catch (NFile::CExceptionFile &)
	{
		ADD_FAILURE() << "wrong handler";
	}
	catch (NList::CExceptionList &Caught)
	{
		bCaught = true;
		EXPECT_STREQ(Caught.f_GetMessage(), "index -1");
	}
	EXPECT_TRUE(bCaught);
}

TEST(Exception, ThrowMacroNamesFileLineQualifiedFunctionAndClass)
{
	CDebugCapture Capture;
	int32 Line = 0;
	try
	{
		Line = __LINE__ + 1;
		DZelThrow(NZel::NException::CExceptionMemory, "out of pages");
	}
	catch (CExceptionMemory &)
	{
	}
	std::string Expected = "tests/zel/Exception_Test.cpp(" + std::to_string(Line) +
		"): CExceptionMemory in Exception_ThrowMacroNamesFileLineQualifiedFunctionAndClass_Test::TestBody: out of pages\n";
	EXPECT_EQ(Capture.f_All(), Expected);

	Capture.f_Pieces.clear();
	EXPECT_THROW(NZelTest::NThrowers::gf_ThrowFile(), NFile::CExceptionFile);
	EXPECT_NE(Capture.f_All().find("): CExceptionFile in NZelTest::NThrowers::gf_ThrowFile: File not open\n"), std::string::npos)
		<< Capture.f_All();

	Capture.f_Pieces.clear();
	EXPECT_THROW(NZelTest::NThrowers::CVector::fs_Check(3), NList::CExceptionListBoundCheck);
	EXPECT_NE(Capture.f_All().find(" CExceptionListBoundCheck in NZelTest::NThrowers::CVector::fs_Check: index 3\n"),
		std::string::npos)
		<< Capture.f_All();

	Capture.f_Pieces.clear();
	NZelTest::NThrowers::TCHolder<int> Holder;
	EXPECT_THROW(Holder.f_Throw(NStr::CStr("from a template")), CException);
	// Compilers differ in how they spell the template arguments (t_C or int).
	std::string Text = Capture.f_All();
	EXPECT_NE(Text.find(" CException in NZelTest::NThrowers::TCHolder<"), std::string::npos) << Text;
	EXPECT_NE(Text.find(">::f_Throw: from a template\n"), std::string::npos) << Text;
}

TEST(Exception, DiagnosticLineAndMessageCut)
{
	CDebugCapture Capture;
	std::string Long(300, 'm');
	CException Made(CThrowRecord{nullptr, "a.cpp", 12, "NZel::f", Long.c_str()});
	EXPECT_EQ(std::string(Made.f_GetMessage()), Long.substr(0, 255));
	EXPECT_EQ(Capture.f_All(), "a.cpp(12): CException in NZel::f: " + Long + "\n") << "null class name; the whole message";

	Capture.f_Pieces.clear();
	NFile::CExceptionFile File(CThrowRecord{"CExceptionFile", "library\\core\\runtime\\Zel_Runtime_MSVC", -3,
		"NZel::NSys::NFile::gf_Open", nullptr});
	EXPECT_STREQ(File.f_GetMessage(), "");
	EXPECT_EQ(Capture.f_All(), "library\\core\\runtime\\Zel_Runtime_MSVC(-3): CExceptionFile in NZel::NSys::NFile::gf_Open: \n");

	// Copies are bytewise and write nothing.
	Capture.f_Pieces.clear();
	CException Copy(Made);
	EXPECT_STREQ(Copy.f_GetMessage(), Made.f_GetMessage());
	EXPECT_TRUE(Capture.f_Pieces.empty());
}

TEST(Exception, MadeWhileTheHeapRefusesEverythingItStillCarriesItsMessage)
{
	// An out-of-memory exception is made exactly when no string can be had for its line: the
	// message is kept, and the line is left out rather than failing, or recursing, in turn.
	CDebugCapture Capture;
	NZelTest::CHeapFailureScope NoMemory(0);
	CExceptionMemory Made(CThrowRecord{"CExceptionMemory", "b.cpp", 7, "NZel::g", "Out of memory"});
	EXPECT_STREQ(Made.f_GetMessage(), "Out of memory");
}

TEST(Exception, SystemErrorMessage)
{
	EXPECT_STREQ(gf_SystemErrorMessage("CreateFile", NStr::CFStr256("The system cannot find the file specified.\r\n")).f_GetStr(),
		"Windows returned an error from CreateFile: The system cannot find the file specified.\r\n");
	std::string Long(300, 'e');
	NStr::CFStr256 Cut = gf_SystemErrorMessage("VirtualAlloc", NStr::CFStr256(Long.c_str()));
	EXPECT_EQ(Cut.f_GetLen(), 255);
	EXPECT_EQ(std::string(Cut.f_GetStr()).rfind("Windows returned an error from VirtualAlloc: eee", 0), 0u);
}

TEST(ExceptionNames, QualifiedFunctionFromSignature)
{
	using NPrivate::gf_QualifiedFunctionName;
	static constexpr auto c_Template =
		gf_QualifiedFunctionName("unsigned int NA::X<T>::g(int, const char*) [with T = std::pair<int, int>]");
	static constexpr auto c_Plain = gf_QualifiedFunctionName("void NZel::NSys::NFile::gf_Open(const char*, uint32)");
	static constexpr auto c_Pointer = gf_QualifiedFunctionName("const char *NZel::g()");
	static constexpr auto c_Ctor = gf_QualifiedFunctionName("NZel::NFile::CFile::CFile(int)");
	static constexpr auto c_Main = gf_QualifiedFunctionName("int main()");
	static constexpr auto c_Nested =
		gf_QualifiedFunctionName("std::map<int, int> NA::C<std::vector<int> >::f_Get() const");
	static constexpr auto c_Call = gf_QualifiedFunctionName("void NA::CFunctor::operator()(int)");
	EXPECT_STREQ(c_Template.f_GetStr(), "NA::X<T>::g");
	EXPECT_STREQ(c_Plain.f_GetStr(), "NZel::NSys::NFile::gf_Open");
	EXPECT_STREQ(c_Pointer.f_GetStr(), "NZel::g");
	EXPECT_STREQ(c_Ctor.f_GetStr(), "NZel::NFile::CFile::CFile");
	EXPECT_STREQ(c_Main.f_GetStr(), "main");
	EXPECT_STREQ(c_Nested.f_GetStr(), "NA::C<std::vector<int> >::f_Get");
	EXPECT_STREQ(c_Call.f_GetStr(), "NA::CFunctor::operator()");
}

TEST(ExceptionNames, ClassAndSourceNames)
{
	using NPrivate::gf_ClassName;
	using NPrivate::gf_SourceFileName;
	EXPECT_STREQ(gf_ClassName("NZel::NFile::CExceptionFile"), "CExceptionFile");
	EXPECT_STREQ(gf_ClassName("CException"), "CException");
	EXPECT_STREQ(gf_ClassName("::NZel::NList::CExceptionListBoundCheck"), "CExceptionListBoundCheck");

	struct
	{
		const char *pPath;
		const char *pExpected;
	} const Cases[] = {
		{"/src/hv/zel/library/core/general/Zel_Str.cpp", "library/core/general/Zel_Str.cpp"},
		{"C:\\build\\KvWin\\KvService.cpp", "KvWin\\KvService.cpp"},
		{"/x/app/Hushvane_Config.cpp", "app/Hushvane_Config.cpp"},
		{"/x/myapp/file.cpp", "/x/myapp/file.cpp"},
		{"file.cpp", "file.cpp"},
		{"library/a.cpp", "library/a.cpp"},
	};
	for (auto const &Case : Cases)
		EXPECT_STREQ(gf_SourceFileName(Case.pPath), Case.pExpected);
}

TEST(DebugOutput, SentInPiecesOfAtMost2047Characters)
{
	CDebugCapture Capture;
	std::string Text(5000, 'd');
	Text[2046] = 'A';
	Text[2047] = 'B';
	NSys::gf_DebugOutput(Text.c_str());
	ASSERT_EQ(Capture.f_Pieces.size(), 3u);
	EXPECT_EQ(Capture.f_Pieces[0].size(), 2047u);
	EXPECT_EQ(Capture.f_Pieces[1].size(), 2047u);
	EXPECT_EQ(Capture.f_Pieces[2].size(), 906u);
	EXPECT_EQ(Capture.f_Pieces[0].back(), 'A');
	EXPECT_EQ(Capture.f_Pieces[1].front(), 'B');
	EXPECT_EQ(Capture.f_All(), Text);

	Capture.f_Pieces.clear();
	NSys::gf_DebugOutput("");
	NSys::gf_DebugOutput(nullptr);
	EXPECT_TRUE(Capture.f_Pieces.empty()) << "an empty text sends nothing";

	NSys::gf_DebugOutput(std::string(2047, 'x').c_str());
	NSys::gf_DebugOutput(std::string(2048, 'x').c_str());
	ASSERT_EQ(Capture.f_Pieces.size(), 3u);
	EXPECT_EQ(Capture.f_Pieces[2].size(), 1u);
}

TEST(ErrorText, CodeWithoutTextGivesHexadecimal)
{
	EXPECT_STREQ(NSys::gf_GetErrorText(0x2000FFFFu).f_GetStr(), "0x2000ffff");
	EXPECT_STREQ(NSys::gf_GetErrorText(0xDEADBEEFu).f_GetStr(), "0xdeadbeef");
}
