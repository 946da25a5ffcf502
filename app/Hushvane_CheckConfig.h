#pragma once
// "-CheckConfig": reads the configuration beside the program as the worker would, and reports
// its entries, its mistakes and the running processes it would change. Windows-only.

namespace NHushvane
{
	// Writes the report to the caller's standard output (a pipe or a file), else to the console
	// of the parent process, else into a box. Returns the exit code: 0 clean, 2 warnings,
	// 1 when the configuration cannot be read.
	int gf_RunCheckConfig();
}
