// Helpers of the worker's end-to-end tests: the folder beside the test program (where the
// program looks for its driver image, its config and its Log folder), the kernel service,
// child processes, and a context that collects its lines.
#pragma once

#include "app/Hushvane_DriverChannel.h"
#include "app/Hushvane_Worker.h"
#include "tests/driver/support/TestDriverClient_Windows.h"
#include "KvWin/KvWindowsHandles.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace NHushvaneTest
{
	// The folder of this test program, with backslashes and no trailing one.
	std::string gf_ProgramFolder();
	std::string gf_InProgramFolder(const std::string &Name);

	// Files and folders.
	bool gf_FileExists(const std::string &Path);
	bool gf_ReadFile(const std::string &Path, std::string &Content);
	bool gf_WriteFile(const std::string &Path, const std::string &Content);
	// Names (not paths) of the entries in Folder matching Pattern ("*.log"), sorted.
	std::vector<std::string> gf_ListFolder(const std::string &Folder, const std::string &Pattern);
	void gf_RemoveTree(const std::string &Path);

	// The driver image as the program installs it, its moved-aside copies and temporary copies
	// on their way in (names, not paths).
	std::string gf_InstalledImagePath();
	std::vector<std::string> gf_MovedAsideImages();
	std::vector<std::string> gf_TemporaryImages();

	// Stops and deletes the "HushvaneDriver" service (waiting until it is gone) and removes
	// the installed image and every moved-aside copy: a clean machine.
	void gf_RemoveDriverCompletely();
	bool gf_DriverServiceExists();
	DWORD gf_DriverServiceState();
	// DWORD values of the driver's service key ("DeleteFlag", and the test image's switches).
	bool gf_SetDriverServiceDword(const char *pName, DWORD Value);
	bool gf_DeleteDriverServiceValue(const char *pName);
	bool gf_SetDeleteFlag(DWORD Value);
	bool gf_DeleteFlagExists();

	// The contents of the Log folder beside the program, one string per file in name (= time)
	// order; gf_ClearLogs removes them all.
	std::vector<std::string> gf_ReadLogs();
	std::vector<std::string> gf_ReadLogs(const std::string &LogFolder);
	void gf_ClearLogs();

	bool gf_WaitUntil(const std::function<bool()> &Condition, DWORD TimeoutMs);
	// The driver's device, once it can be opened; invalid when it could not be within the time.
	CKvFileHandle gf_WaitForDevice(DWORD TimeoutMs = 30000);

	// A child process started from a copy of the waiting helper under Name; ended (and waited
	// for) when the object goes. A suspended one has not run a single instruction of its own
	// (no module loaded yet) until f_Resume.
	class CChildProcess
	{
	public:
		explicit CChildProcess(const std::string &Name, bool bSuspended = false);
		~CChildProcess();
		CChildProcess(const CChildProcess &) = delete;
		CChildProcess &operator=(const CChildProcess &) = delete;

		bool f_IsRunning() const { return fp_Info.hProcess != nullptr; }
		DWORD f_GetId() const { return fp_Info.dwProcessId; }
		HANDLE f_GetThread() const { return fp_Info.hThread; }
		DWORD f_GetPriorityClass() const { return GetPriorityClass(fp_Info.hProcess); }
		bool f_SetPriorityClass(DWORD Class) const { return SetPriorityClass(fp_Info.hProcess, Class) != FALSE; }
		void f_Resume() { ResumeThread(fp_Info.hThread); }
		// Asks the system to end the child and returns at once; f_End waits for it.
		void f_Terminate();
		// Terminates the child, waits up to TimeoutMs for it and closes its handles; true when
		// it has ended (or never ran).
		bool f_End(DWORD TimeoutMs = 10000);

	private:
		PROCESS_INFORMATION fp_Info = {};
	};

	// Ends many children together: all are terminated first, then waited for under one common
	// bound, so that a slow end costs the bound once and not once per child. Returns how many
	// had not ended when the bound ran out.
	size_t gf_EndChildren(const std::vector<std::unique_ptr<CChildProcess>> &Children, DWORD TimeoutMs = 30000);

	// An event as a run reported it: its kind and its inserts.
	struct CCollectedEvent
	{
		NHushvane::ERunEvent m_Kind;
		std::vector<std::string> m_Inserts;
	};

	// A worker context whose log is a list of lines and whose events are a list too.
	class CCollectingContext : public NHushvane::CWorkerContextDriver
	{
	public:
		void f_WriteLine(NZel::NStr::CStr Line) override { m_Lines.emplace_back(Line.f_GetStr(), size_t(Line.f_GetLen())); }
		void f_ReportEvent(NHushvane::ERunEvent Kind, std::initializer_list<NZel::NStr::CStr> Inserts) override
		{
			CCollectedEvent Event{Kind, {}};
			for (const NZel::NStr::CStr &Insert : Inserts)
				Event.m_Inserts.emplace_back(Insert.f_GetStr(), size_t(Insert.f_GetLen()));
			m_Events.push_back(std::move(Event));
		}
		std::vector<std::string> m_Lines;
		std::vector<CCollectedEvent> m_Events;
	};

	// The command line a service is registered with; empty when it cannot be read.
	std::string gf_ServiceBinaryPath(const CKvServiceHandle &hService);

	// For the benchmarks: starts a worker in this process into pWorker and waits for the
	// driver's device. When the driver does not come up it says so on the standard output and
	// gives an invalid handle: the benchmark then has no figures.
	CKvFileHandle gf_StartBenchWorker(std::unique_ptr<NHushvane::CTCPF_MainWin32> &pWorker);
}
