// A process for the end-to-end tests to give priority classes to: it only waits. The tests
// copy it under the names their configuration lists and end it themselves; it also ends on
// its own after two minutes so that a failed test leaves nothing behind for long.
#include <windows.h>

int main()
{
	Sleep(120000);
	return 0;
}
