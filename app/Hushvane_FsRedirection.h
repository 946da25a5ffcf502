#pragma once
// File-system redirection of a 32-bit program on 64-bit Windows (WOW64): its file steps in
// System32 land in SysWOW64. The kernel loads drivers from the real System32\Drivers, so the
// driver's file step turns redirection off for its own length, and only there: everything else
// (DLL loads among it) must keep seeing the 32-bit folders.

namespace NHushvane
{
	// What the guard asks of the system; gf_GetSystemFsRedirection() is the real one.
	class ICFsRedirection
	{
	public:
		virtual ~ICFsRedirection() = default;
		// True when this process's file steps are redirected (a 32-bit program on 64-bit Windows).
		virtual bool f_IsRedirected() = 0;
		// Turns redirection off for the calling thread and returns the value that turns it back
		// on; throws the foundation library's exception when it cannot.
		virtual void *f_Disable() = 0;
		virtual void f_Revert(void *pOldValue) noexcept = 0;
	};

	// This Windows: redirection only where the process runs under WOW64; a 64-bit build never is.
	ICFsRedirection &gf_GetSystemFsRedirection();

	// Turns redirection off for the calling thread from construction to destruction, when the
	// process is redirected at all; otherwise it does nothing. A failure to turn it off throws,
	// so that no file step goes to the wrong folder; what was turned off is turned back on
	// exactly once, also when an exception leaves the scope.
	class CFsRedirectionOff
	{
	public:
		explicit CFsRedirectionOff(ICFsRedirection &System);
		~CFsRedirectionOff();
		CFsRedirectionOff(const CFsRedirectionOff &) = delete;
		CFsRedirectionOff &operator=(const CFsRedirectionOff &) = delete;

		bool f_IsOff() const { return fp_bOff; }

	private:
		ICFsRedirection &fp_System;
		void *fp_pOldValue = nullptr;
		bool fp_bOff = false;
	};
}
