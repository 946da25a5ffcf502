// A process that does nothing but wait: the end-to-end tests and the demo copy it under the
// executable names of a configuration. It ends after the given number of seconds (default 60),
// so a forgotten one never outlives a test run for long.
#include <windows.h>

#include <cstdlib>

int main(int argc, char **argv)
{
	DWORD Seconds = 60;
	if (argc > 1)
		Seconds = DWORD(std::strtoul(argv[1], nullptr, 10));
	Sleep(Seconds * 1000);
	return 0;
}
