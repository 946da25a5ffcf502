#include "app/Hushvane_Config.h"
#include "app/Hushvane_ConfigCheck.h"
#include "app/Hushvane_WorkerContextBase.h"
#include "zel/library/core/file/Zel_File.h"
#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_Format.h"

namespace NHushvane
{
	namespace
	{
		// Far beyond any real configuration; also keeps the read size within 32 bits.
		constexpr NZel::uint64 gc_MaxConfigSize = 64 * 1024 * 1024;
	}

	NZel::NStr::CStr gf_GetConfigPath()
	{
		return NZel::NFile::gf_GetProgramFolder() + "/config";
	}

	bool gf_ReadConfigFile(const NZel::NStr::CStr &Path, std::vector<char> &Text)
	{
		using namespace NZel::NSys::NFile;
		Text.assign(1, 0);
		// A folder counts as present: opening it then fails, and that failure is reported.
		if (!gf_Exists(Path, EExistsAccept_File | EExistsAccept_Folder))
			return false;

		// Read-only, no sharing: nobody may change the file while it is read.
		NZel::NFile::CFile File(Path, EOpenFlag_Read);
		NZel::uint64 Size = File.f_GetSize();
		if (Size > gc_MaxConfigSize)
			DZelThrow(NZel::NFile::CExceptionFile, "Configuration file is too large");
		Text.resize(size_t(Size) + 1, 0);
		if (Size)
			File.f_Read(Text.data(), NZel::uint32(Size));
		return true;
	}

	void gf_ReadConfig(CWorkerContextBase &Context)
	{
		std::vector<char> Text;
		NZel::NStr::CStr Path = gf_GetConfigPath();
		if (!gf_ReadConfigFile(Path, Text))
			return;
		gf_ParseConfig(Text.data(), Context.f_GetProcessTable(), Context);
		// The likely mistakes the administrator's check would list are counted for the event
		// log, where a fleet's administrators look; the check itself names them.
		size_t Warnings = gf_CheckConfig(reinterpret_cast<const NZel::uint8 *>(Text.data()), Text.size() - 1).m_Warnings.size();
		if (Warnings)
			Context.f_ReportEvent(ERunEvent::ConfigWarnings, {NZel::NFile::gf_ShowPath(Path), NZel::NStr::CStr::CFormat("{}") << NZel::uint32(Warnings)});
	}
}
