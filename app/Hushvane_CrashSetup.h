#pragma once
// The crash-report settings of hushvane.exe: its name, the support address the user is asked
// to write to, and whether anybody is there to see a dialog.
namespace NHushvane
{
	enum class ECrashMode
	{
		Program, // program mode and the commands: boxes are shown
		Service, // under the service control manager: nobody is there, no dialogs
	};

	void gf_SetCrashSettings(ECrashMode Mode);
}
