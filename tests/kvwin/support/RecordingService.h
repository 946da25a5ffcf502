// A service object for tests whose operations only record, in order, that they ran.
#pragma once

#include "KvWin/KvService.h"

#include <string>
#include <vector>

namespace NHushvaneTest
{
	class CRecordingService final : public CKvService
	{
	public:
		// StartResult is what f_OnStart answers (1: started, 0: failed).
		explicit CRecordingService(const char *pName = "Hushvane", int StartResult = 1)
			: CKvService(pName, "Display", "Description")
			, fp_StartResult(StartResult)
		{
		}

		int f_OnStart() override
		{
			fp_Calls.push_back("start");
			return fp_StartResult;
		}
		int f_OnStop() override
		{
			fp_Calls.push_back("stop");
			return 1;
		}
		int f_OnPause() override
		{
			fp_Calls.push_back("pause");
			return 1;
		}
		int f_OnResume() override
		{
			fp_Calls.push_back("resume");
			return 1;
		}

		std::vector<std::string> fp_Calls;

	private:
		int fp_StartResult;
	};
}
