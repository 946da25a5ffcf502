// Installs a driver image as a demand-start kernel service for the length of a test, and removes
// it again. The image is copied into the system's drivers folder and registered with the path
// form "\SystemRoot\System32\Drivers\<file>", which Windows and Wine both load.
//
// Use from a test's CMakeLists.txt: link hushvane_test_driver_support, and pass the image with
// e.g. target_compile_definitions(<t> PRIVATE HV_TEST_DRIVER_IMAGE="$<TARGET_FILE:hushvane_driver_test>").
// Tests that load the driver must run serially: every image creates the same device name.
#pragma once

#include <windows.h>

#include <string>

namespace NHushvaneTest
{
	// Turns a path of the build machine into one the program can open: under Wine a POSIX path
	// ("/a/b") lives on drive Z:. Other paths are returned unchanged.
	std::string gf_WindowsPath(const std::string &Path);

	class CTestKernelService
	{
	public:
		// Copies SourceImage to <system>\drivers\<ImageFileName> and creates service ServiceName
		// for it, replacing a leftover service of that name (stopped and deleted first).
		// f_IsInstalled() tells whether that worked; f_GetError() says why not.
		CTestKernelService(const std::string &ServiceName, const std::string &SourceImage, const std::string &ImageFileName);
		// Stops and deletes the service and deletes the copied image.
		~CTestKernelService();
		CTestKernelService(const CTestKernelService &) = delete;
		CTestKernelService &operator=(const CTestKernelService &) = delete;

		bool f_IsInstalled() const { return fp_bInstalled; }
		// Starts the service and waits (at most TimeoutMs) until it runs. Fails at once when the
		// start is refused or the service falls back to stopped (the driver failed to load).
		bool f_Start(DWORD TimeoutMs = 30000);
		// Stops the service and waits (at most TimeoutMs) until it has stopped. A stopped service
		// counts as success.
		bool f_Stop(DWORD TimeoutMs = 30000);
		// Writes or deletes a value of the service's registry key.
		bool f_SetDwordValue(const char *pName, DWORD Value);
		bool f_DeleteValue(const char *pName);
		// Current state (SERVICE_RUNNING, ...), or 0 when it cannot be read.
		DWORD f_GetState() const;
		// The text of the last failure, with the Windows error code.
		const std::string &f_GetError() const { return fp_Error; }
		const std::string &f_GetInstalledImagePath() const { return fp_InstalledImage; }

	private:
		bool fp_Fail(const char *pWhat, DWORD Code);
		static bool fs_RemoveService(SC_HANDLE Manager, const std::string &ServiceName);

		std::string fp_ServiceName;
		std::string fp_InstalledImage;
		std::string fp_Error;
		bool fp_bInstalled = false;
	};
}
