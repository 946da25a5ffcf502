#pragma once
// The crash-report settings of hushvane.exe: its name, the support address the user is asked
// to write to, whether anybody is there to see a dialog, and the events its reports write to the
// Application log. Windows-only.
namespace NHushvane
{
	enum class ECrashMode
	{
		Program, // program mode and the commands: boxes are shown
		Service, // under the service control manager: nobody is there, no dialogs
	};

	void gf_SetCrashSettings(ECrashMode Mode);
}
