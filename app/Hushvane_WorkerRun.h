#pragma once
// One run of the worker, apart from the thread that carries it, so that a run can be driven
// with any context and any stop source. Windows-only.
#include "app/Hushvane_DriverChannel.h"
#include "app/Hushvane_Priority.h"
#include "app/Hushvane_WorkerControl.h"
#include "zel/library/core/general/Zel_Exception.h"

#include <cstring>
#include <exception>

namespace NHushvane
{
	// Runs Step; an exception it throws is written to Log as one line and the call returns
	// false, so a fault in one step never ends the process. pMessage, when given, receives
	// that line without its line end.
	template <typename t_CStep>
	bool gf_RunGuarded(ICRunLog &Log, t_CStep &&Step, NZel::NStr::CStr *pMessage = nullptr)
	{
		const char *pText = nullptr;
		NZel::NStr::CStr Message;
		try
		{
			Step();
			return true;
		}
		catch (const NZel::NException::CException &Exception)
		{
			Message = Exception.f_GetMessage();
		}
		catch (const std::exception &Exception)
		{
			Message = Exception.what();
		}
		catch (...)
		{
			// Nothing to tell but that it happened; "Unknown error" below.
		}
		pText = Message.f_IsEmpty() ? "Unknown error" : Message.f_GetStr();
		try
		{
			// System error texts end in their own line break; the log line gets exactly one.
			NZel::int32 Length = NZel::int32(std::strlen(pText));
			while (Length > 0 && (pText[Length - 1] == '\r' || pText[Length - 1] == '\n' || pText[Length - 1] == ' '))
				--Length;
			NZel::NStr::CStr Line;
			Line.f_Append(pText, Length);
			if (pMessage)
				*pMessage = Line;
			Line.f_Append("\r\n", 2);
			Log.f_WriteLine(Line);
		}
		catch (...)
		{
		}
		return false;
	}

	// Gives one process its class; gf_ApplyPriority in the product, a stand-in in tests.
	using FApplyPriority = void (*)(NZel::uint32 ProcessId);

	// One record's (or one running process's) class, guarded: an exception is written to Log
	// and the caller takes the next one, so a single bad record never ends priority work
	// while the service still reports running.
	void gf_ApplyPriorityGuarded(ICRunLog &Log, NZel::uint32 ProcessId, FApplyPriority fApply = gf_ApplyPriority);

	constexpr NZel::uint32 gc_ConfigReadAttempts = 10;
	constexpr NZel::uint32 gc_ConfigReadRetryMs = 100;

	// Reads the configuration into the context's table, trying again for about a second while
	// a file that is there cannot be read (an editor may still hold it); only the last failure
	// is written to the log. False when the configuration could not be read.
	bool gf_ReadConfigPatiently(CWorkerContextDriver &Context, NZel::NStr::CStr *pError = nullptr);

	// Gives every running process its class, in Toolhelp snapshot order; no snapshot, no sweep.
	void gf_SweepProcesses(ICRunLog &Log, FApplyPriority fApply = gf_ApplyPriority);

	// Takes every waiting record and applies the class for each creation. Returns the number
	// of records taken.
	NZel::uint32 gf_DrainDriver(CWorkerContextDriver &Context, FApplyPriority fApply = gf_ApplyPriority);

	// How a run ended: asked to stop, the configuration changed and wants a new run, or an
	// error ended it (a new run is to begin after a pause).
	enum class EWorkerRunEnd
	{
		Stopped,
		ConfigChanged,
		Failed,
	};

	// "Launching", the configuration, the launch source (the driver, or the launch watcher
	// where the driver cannot be brought up) with its sweep, then the launches it reports until
	// Control asks to stop or the configuration beside the program has changed; the channel is
	// closed when it returns. Reports through the context's log only.
	//
	// pLastTable, when given, carries the table of the last run that could read the
	// configuration from one run to the next. A run that cannot read the file (another program
	// holds it) then keeps applying that table instead of none, says so once, and ends to read
	// it again as soon as the file can be read. Without it (the first run after a start) an
	// unreadable file leaves the table empty. pFailure receives the error that ended a run
	// that returns EWorkerRunEnd::Failed.
	EWorkerRunEnd gf_RunWorker(CWorkerContextDriver &Context, ICWorkerControl &Control, FApplyPriority fApply = gf_ApplyPriority,
		CProcessTable *pLastTable = nullptr, NZel::NStr::CStr *pFailure = nullptr);
}
