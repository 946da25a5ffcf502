// The soak's load on the running service: launches fed through the test driver, the checker
// that sees each one get its class, the controller that pauses the service and cycles the
// kernel driver, and the sampler of the service process.
#pragma once

#include "KvWin/KvWindowsHandles.h"
#include "tests/e2e/soak/SoakReport.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace NHvSoak
{
	// Writes the soak's config beside this program and copies IdleExe under every soak name.
	bool gf_Prepare(const std::string &IdleExe);

	class CSoakLoad
	{
	public:
		// bWatcher: the service runs without its driver and watches launches itself; every
		// launch is then a real, new process, and there is no driver to feed or to cycle.
		explicit CSoakLoad(bool bWatcher = false);
		~CSoakLoad();
		CSoakLoad(const CSoakLoad &) = delete;
		CSoakLoad &operator=(const CSoakLoad &) = delete;

		// Drives the service for Seconds, printing a table row per interval; false when the
		// service or its driver could not be found at the start (the reason is printed).
		bool f_Run(double Seconds, std::vector<CInterval> &Intervals);
		std::uint32_t f_GetControlFailures() const { return fp_ControlFailures.load(); }

	private:
		struct CLaunch
		{
			CKvKernelHandle m_hProcess;
			DWORD m_ProcessId = 0;
			size_t m_Name = 0;     // index into the soak's names
			DWORD m_Expected = 0;  // the configured class; 0 for an unlisted name
			double m_FedAt = 0;    // seconds since the start
			std::uint32_t m_Uses = 0;
		};

		// The counters of the interval being sampled; guarded by fp_Lock.
		struct CCounts : CInterval
		{
			std::vector<double> m_Latencies;
		};

		double fp_Now() const;
		void fp_Spawner();
		void fp_Launcher();
		// Starts a new process under the name and puts it among the pending launches.
		bool fp_LaunchNew(size_t Name);
		bool fp_TakeProcess(size_t Name, CLaunch &Launch);
		void fp_Retire(CLaunch &&Launch);
		void fp_Controller();
		void fp_Check(bool bFinal);
		void fp_Event(const char *pText);
		bool fp_WasDown(double Time);
		CInterval fp_Sample();

		bool fp_PauseAndContinue(bool bBigConfig);
		bool fp_CycleDriver();

		LARGE_INTEGER fp_Start = {};
		LARGE_INTEGER fp_Frequency = {};
		double fp_Seconds = 0;
		bool fp_bWatcher = false;
		std::atomic<bool> fp_bStop{false};
		std::atomic<std::uint32_t> fp_ControlFailures{0};
		DWORD fp_ServiceId = 0; // the service's process, for its handle count and memory

		std::mutex fp_Lock;
		std::vector<CLaunch> fp_Pending;
		// Processes started and not yet fed, and processes whose launch has been judged and
		// that may be fed again as a new launch; one list per name.
		std::vector<CLaunch> fp_Fresh[4];
		std::vector<CLaunch> fp_Reusable[4];
		CCounts fp_Counts;
		// Times the driver was down, from the stop request until the worker could have taken
		// records again; an open window ends at infinity.
		std::vector<std::pair<double, double>> fp_DownWindows;
	};
}
