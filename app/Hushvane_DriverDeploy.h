#pragma once
#include "zel/library/core/general/Zel_Str.h"
#include "zel/library/core/general/Zel_Types.h"

namespace NHushvane
{
	class ICRunLog;

	// Kernel service and image names of the driver.
	constexpr const char *gc_DriverServiceName = "HushvaneDriver";
	constexpr const char *gc_DriverDisplayName = "Hushvane Driver";
	constexpr const char *gc_DriverImageX64 = "Hushvane.x64.sys";
	constexpr const char *gc_DriverImageX86 = "Hushvane.x86.sys";

	// True exactly on 64-bit (AMD64) Windows, also when asked from a 32-bit program.
	bool gf_IsNativeX64();

	// The image this Windows loads.
	inline const char *gf_GetDriverImageName()
	{
		return gf_IsNativeX64() ? gc_DriverImageX64 : gc_DriverImageX86;
	}

	// An environment variable (at most 1023 characters) with "\" turned into "/"; empty when
	// it is not set.
	NZel::NStr::CStr gf_GetEnvironmentPath(const char *pVariable);

	// The Windows folder with "/" separators: %SystemRoot%, or GetSystemWindowsDirectoryW where
	// that is not set or empty. Throws the file layer's exception when neither can be had.
	NZel::NStr::CStr gf_GetWindowsFolder();

	// Where the image is installed: <Windows folder>/System32/Drivers/<image>.
	NZel::NStr::CStr gf_GetDriverTargetPath();

	// Installs or upgrades (Install true) or removes (Install false) the driver image and its
	// kernel service. Returns true exactly when this call copied the image into the driver
	// folder. Sets RebootNeeded to 1 (never back to 0) when a service that is marked for
	// deletion keeps the job from finishing before Windows restarts. Does nothing and returns
	// false when the service control manager cannot be opened or the image is not beside the
	// program. Throws the file layer's exception when an image cannot be read, moved or
	// copied; every service handle is closed on every path.
	bool gf_DeployDriver(bool Install, NZel::int32 &RebootNeeded);

	// Starts the kernel service and waits (at most 60 s) while it reports start pending. True
	// when it runs, having started or been running already; false as well when its state could
	// not be read.
	bool gf_StartDriverService();

	enum class EDriverStop
	{
		Stopped,      // stopped now, or was not running
		NotInstalled, // there is no such service
		Failed,       // refused, still running after 60 s, or its state could not be read
	};

	// Stops the kernel service and waits (at most 60 s) until the service control manager
	// reports it stopped.
	EDriverStop gf_StopDriverServiceOutcome();

	// gf_StopDriverServiceOutcome() == EDriverStop::Stopped: false when the service is not
	// installed or does not stop.
	bool gf_StopDriverService();

	// Stops the service and removes it and the image; writes "Reboot needed\r\n" to Log when
	// only a restart can finish. Always true.
	bool gf_UninstallDriver(ICRunLog &Log);
}
