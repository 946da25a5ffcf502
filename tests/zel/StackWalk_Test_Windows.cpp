// The x64 walk's bound on what one unwind step reads, over unwind data made here, and the
// loading of system libraries from the system folder only.
#include "zel/library/core/runtime/Zel_Runtime_StackWalk.h"
#include "zel/library/core/runtime/Zel_Sys_Library.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

using namespace NZel;

#if defined(_WIN64)
namespace
{
	// Unwind codes as the image holds them: (offset in the prolog, operation, operation info),
	// and the 16-bit slots that follow some of them.
	constexpr uint8 fg_Op(uint8 Op, uint8 Info)
	{
		return uint8(Op | Info << 4);
	}
	enum : uint8
	{
		PushNonVolatile = 0,
		AllocLarge = 1,
		AllocSmall = 2,
		SetFrameRegister = 3,
		SaveNonVolatile = 4,
		SaveXmm128 = 8,
		PushMachineFrame = 10,
	};
	constexpr uint8 gc_Rbx = 3, gc_Rbp = 5, gc_Rsi = 6;

	struct CUnwindInfo
	{
		uint8 m_VersionFlags = 1;
		uint8 m_PrologSize = 0;
		uint8 m_FrameRegister = 0; // register | offset / 16 << 4
		std::vector<uint8> m_Codes; // pairs of bytes
		const CUnwindInfo *m_pChained = nullptr;
	};

	// A fake image: the function at 0x1000, its unwind data at 0x100 (a chained entry's at 0x200).
	class CImage
	{
	public:
		explicit CImage(const CUnwindInfo &Info)
		{
			fp_Bytes.assign(0x2000, 0);
			fp_Write(0x100, Info, 0x200);
			fp_Function = {0x1000, 0x1100, 0x100};
		}
		DWORD64 f_GetBase() const { return DWORD64(fp_Bytes.data()); }
		const RUNTIME_FUNCTION &f_GetFunction() const { return fp_Function; }

	private:
		void fp_Write(umint Offset, const CUnwindInfo &Info, umint ChainedOffset)
		{
			uint8 *p = fp_Bytes.data() + Offset;
			p[0] = Info.m_VersionFlags;
			p[1] = Info.m_PrologSize;
			p[2] = uint8(Info.m_Codes.size() / 2);
			p[3] = Info.m_FrameRegister;
			std::memcpy(p + 4, Info.m_Codes.data(), Info.m_Codes.size());
			if (Info.m_pChained)
			{
				umint const nSlots = (Info.m_Codes.size() / 2 + 1) & ~umint(1);
				RUNTIME_FUNCTION Chained{0x1800, 0x1900, DWORD(ChainedOffset)};
				std::memcpy(p + 4 + nSlots * 2, &Chained, sizeof(Chained));
				fp_Write(ChainedOffset, *Info.m_pChained, ChainedOffset + 0x100);
			}
		}

		std::vector<uint8> fp_Bytes;
		RUNTIME_FUNCTION fp_Function{};
	};

	constexpr umint gc_Rsp = 0x10000;
}

TEST(StackWalk, UnwindReachFollowsTheUnwindData)
{
	// push rbx (ends at 1); sub rsp, 0x20 (ends at 5): codes in reverse order.
	CUnwindInfo const Simple{1, 5, 0, {5, fg_Op(AllocSmall, 3), 1, fg_Op(PushNonVolatile, gc_Rbx)}};
	// push rbx; sub rsp, 0x1000 (16-bit slot, in 8-byte units); sub rsp, 0x12345 (32-bit).
	CUnwindInfo const Large{1, 20, 0, {20, fg_Op(AllocLarge, 1), 0x45, 0x23, 0x01, 0x00, 8, fg_Op(AllocLarge, 0), 0x00, 0x02, 1, fg_Op(PushNonVolatile, gc_Rbx)}};
	// push rbp (1); sub rsp, 0x40 (5); lea rbp, [rsp] as frame register, offset 0 (8);
	// mov [rbp + 0x10], rsi (12); movaps [rbp + 0x20], xmm6 (17).
	CUnwindInfo const Framed{1, 17, gc_Rbp,
		{17, fg_Op(SaveXmm128, 6), 2, 0, 12, fg_Op(SaveNonVolatile, gc_Rsi), 2, 0, 8, fg_Op(SetFrameRegister, 0), 5, fg_Op(AllocSmall, 7), 1,
			fg_Op(PushNonVolatile, gc_Rbp)}};
	// The body's part saves rsi at [rsp + 0x8]; the chained main part pushes rbx and takes 0x30.
	CUnwindInfo const Main{1, 5, 0, {5, fg_Op(AllocSmall, 5), 1, fg_Op(PushNonVolatile, gc_Rbx)}};
	CUnwindInfo const Part{1 | 4 << 3, 0, 0, {0, fg_Op(SaveNonVolatile, gc_Rsi), 1, 0}, &Main};
	CUnwindInfo const Machine{1, 1, 0, {1, fg_Op(PushMachineFrame, 1)}};
	CUnwindInfo const Version3{3, 5, 0, {5, fg_Op(AllocSmall, 3)}};
	CUnwindInfo const UnknownOp{1, 5, 0, {5, fg_Op(7, 0), 0, 0}};
	CUnwindInfo const SetWithoutRegister{1, 4, 0, {4, fg_Op(SetFrameRegister, 0)}};

	struct CRow
	{
		const char *m_pName;
		const CUnwindInfo *m_pInfo;
		DWORD m_RipOffset; // from the function's start
		DWORD64 m_Rbp;
		bool m_bKnown;
		umint m_Low, m_High;
	};
	CRow const Rows[] = {
		{"body: pushes, allocation, return address", &Simple, 0x40, 0, true, gc_Rsp, gc_Rsp + 0x20 + 8 + 8},
		{"inside the prolog, after the push", &Simple, 1, 0, true, gc_Rsp, gc_Rsp + 8 + 8},
		{"at the first instruction: the return address only", &Simple, 0, 0, true, gc_Rsp, gc_Rsp + 8},
		{"large allocations in both sizes", &Large, 0x40, 0, true, gc_Rsp, gc_Rsp + 0x12345 + 0x1000 + 8 + 8},
		{"frame register: saves and pushes from rbp up", &Framed, 0x40, gc_Rsp, true, gc_Rsp, gc_Rsp + 0x40 + 8 + 8},
		{"frame register far above the stack pointer", &Framed, 0x40, gc_Rsp + 0x9000, true, gc_Rsp, gc_Rsp + 0x9000 + 0x40 + 8 + 8},
		{"frame register not yet set: rbp is not used", &Framed, 1, 0xDEAD0000, true, gc_Rsp, gc_Rsp + 8 + 8},
		{"chained entries add up", &Part, 0x40, 0, true, gc_Rsp, gc_Rsp + 0x30 + 8 + 8},
		{"machine frame: 40 bytes after the error code", &Machine, 0x40, 0, true, gc_Rsp, gc_Rsp + 8 + 40},
		{"unknown version", &Version3, 0x40, 0, false, 0, 0},
		{"unknown operation", &UnknownOp, 0x40, 0, false, 0, 0},
		{"frame register set without one named", &SetWithoutRegister, 0x40, 0, false, 0, 0},
	};
	for (const CRow &Row : Rows)
	{
		CImage const Image(*Row.m_pInfo);
		CONTEXT Context{};
		Context.Rip = Image.f_GetBase() + Image.f_GetFunction().BeginAddress + Row.m_RipOffset;
		Context.Rsp = gc_Rsp;
		Context.Rbp = Row.m_Rbp;
		umint Low = 0;
		umint High = 0;
		bool const bKnown = NCrash::gf_GetUnwindReach(Context, Image.f_GetBase(), Image.f_GetFunction(), Low, High);
		EXPECT_EQ(bKnown, Row.m_bKnown) << Row.m_pName;
		if (bKnown && Row.m_bKnown)
		{
			EXPECT_EQ(Low, Row.m_Low) << Row.m_pName;
			EXPECT_EQ(High, Row.m_High) << Row.m_pName << std::hex << " high 0x" << High;
		}
	}
}
#endif

TEST(SystemLibrary, LoadedFromTheSystemFolderOnly)
{
	wchar_t System[MAX_PATH];
	UINT const nSystem = GetSystemDirectoryW(System, MAX_PATH);
	ASSERT_GT(nSystem, 0u);
	HMODULE hModule = NSys::gf_LoadSystemLibrary(L"Dbghelp.dll");
	ASSERT_NE(hModule, nullptr);
	wchar_t Path[MAX_PATH];
	DWORD const nPath = GetModuleFileNameW(hModule, Path, MAX_PATH);
	ASSERT_GT(nPath, nSystem);
	EXPECT_EQ(_wcsnicmp(Path, System, nSystem), 0) << std::wstring(Path, nPath).size();
	EXPECT_NE(GetProcAddress(hModule, "MiniDumpWriteDump"), nullptr);
	FreeLibrary(hModule);

	// A name the system folder does not hold is not looked for anywhere else.
	EXPECT_EQ(NSys::gf_LoadSystemLibrary(L"hv_no_such_library_here.dll"), nullptr);
}
