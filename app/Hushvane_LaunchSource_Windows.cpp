#include "app/Hushvane_LaunchSource.h"
#include "zel/library/core/general/Zel_Format.h"

namespace NHushvane
{
	using NZel::NStr::CStr;

	namespace
	{
		// Where a later attempt at the driver reports: nowhere. Why the driver is down has been
		// said once, by the first attempt.
		class CSilentLog : public ICRunLog
		{
		public:
			void f_WriteLine(CStr) override {}
		};

		// Passes lines on to the run's log and keeps them, for the event that says why the
		// driver did not come up.
		class CKeepingLog : public ICRunLog
		{
		public:
			explicit CKeepingLog(ICRunLog &Next) : fp_Next(Next) {}
			void f_WriteLine(CStr Line) override
			{
				fp_Next.f_WriteLine(Line);
				fp_Lines = fp_Lines + Line;
			}
			void f_ReportEvent(ERunEvent Kind, std::initializer_list<CStr> Inserts) override { fp_Next.f_ReportEvent(Kind, Inserts); }
			const CStr &f_GetLines() const { return fp_Lines; }

		private:
			ICRunLog &fp_Next;
			CStr fp_Lines;
		};

		// True when the driver came up; its lines and an exception go to Log.
		bool fg_BringUpDriver(CWorkerContextDriver &Context, ICRunLog &Log)
		{
			bool bUp = false;
			gf_RunGuarded(Log, [&] { bUp = gf_InitializeDriver(Context, Log); });
			if (!bUp)
				Context.f_CloseChannel();
			return bUp;
		}
	}

	CLaunchSource::CLaunchSource(CWorkerContextDriver &Context, FApplyPriority fApply)
		: fp_Context(Context)
		, fp_fApply(fApply)
	{
	}

	void CLaunchSource::f_Begin()
	{
		CKeepingLog Reasons(fp_Context);
		if (fg_BringUpDriver(fp_Context, Reasons))
		{
			fp_Kind = ELaunchSource::Driver;
			gf_SweepProcesses(fp_Context, fp_fApply);
			return;
		}
		fp_Context.f_WriteLine(CStr("Failed to initialize driver\r\n"));
		fp_Context.f_ReportEvent(ERunEvent::DriverNotUp, {Reasons.f_GetLines(), CStr::CFormat("{}") << gc_WatchIntervalMs});
		fp_Watch(false);
	}

	void CLaunchSource::fp_Watch(bool bLost)
	{
		fp_Kind = ELaunchSource::Watcher;
		fp_Context.f_WriteLine(CStr::CFormat("Watching launches without the driver, every {} ms\r\n") << gc_WatchIntervalMs);
		// A lost driver is brought up again at once, and that attempt says what stands in its
		// way; after a failed start the next attempt waits.
		fp_NextRetry = GetTickCount64() + (bLost ? 0 : gc_DriverRetryFirstMs);
		fp_bReportRetry = bLost;
		fp_RetryMs = gc_DriverRetryFirstMs;
		// The first look hands over every running process: the sweep, which also reaches the
		// launches made while the driver was being lost.
		fp_Watcher.f_Forget();
		fp_Watcher.f_Look(fp_Context, fp_fApply);
	}

	bool CLaunchSource::fp_RetryDriver()
	{
		ULONGLONG Now = GetTickCount64();
		if (Now < fp_NextRetry)
			return false;
		CSilentLog Silent;
		bool bUp = fg_BringUpDriver(fp_Context, fp_bReportRetry ? static_cast<ICRunLog &>(fp_Context) : Silent);
		fp_bReportRetry = false;
		// Timed from the end of the attempt, which may have waited for the service manager.
		fp_NextRetry = GetTickCount64() + fp_RetryMs;
		fp_RetryMs = fp_RetryMs * 2 < gc_DriverRetryLongestMs ? fp_RetryMs * 2 : gc_DriverRetryLongestMs;
		return bUp;
	}

	void CLaunchSource::f_Take()
	{
		if (fp_Kind == ELaunchSource::Driver)
		{
			gf_DrainDriver(fp_Context, fp_fApply);
			if (fp_Context.f_IsChannelOpen())
				return;
			fp_Context.f_WriteLine(CStr("Lost the driver's device; bringing the driver up again\r\n"));
			fp_Context.f_ReportEvent(ERunEvent::DriverLost, {CStr::CFormat("{}") << gc_WatchIntervalMs});
			fp_Watch(true);
			return;
		}
		if (fp_RetryDriver())
		{
			fp_Context.f_WriteLine(CStr("Driver up again\r\n"));
			fp_Context.f_ReportEvent(ERunEvent::DriverUp, {});
			fp_Kind = ELaunchSource::Driver;
			gf_SweepProcesses(fp_Context, fp_fApply);
			return;
		}
		fp_Watcher.f_Look(fp_Context, fp_fApply);
	}
}
