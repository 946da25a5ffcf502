#include "app/Hushvane_ServiceWorkerOwner.h"

#include "zel/library/core/general/Zel_Exception.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
	// Stands in for the worker thread: records what is done to it, refuses to start while
	// "running" the way the thread class does, and can be told to fail its start.
	class CFakeWorker
	{
	public:
		static inline std::vector<std::string> ms_Events;
		static inline int ms_Alive = 0;
		static inline int ms_Made = 0;
		static inline bool ms_FailStart = false;

		CFakeWorker()
			: fp_Id(++ms_Made)
		{
			++ms_Alive;
			ms_Events.push_back("new" + std::to_string(fp_Id));
		}

		virtual ~CFakeWorker()
		{
			// Like the real worker: deleting stops the thread first.
			fp_bRunning = false;
			--ms_Alive;
			ms_Events.push_back("delete" + std::to_string(fp_Id));
		}

		void f_Start(NZel::uint32 Priority, NZel::uint32 StackSize)
		{
			EXPECT_EQ(Priority, 0x8000u);
			EXPECT_EQ(StackSize, 0u);
			if (ms_FailStart)
				DZelThrow(NZel::NException::CException, "cannot create thread");
			if (fp_bRunning)
				DZelThrow(NZel::NException::CException, "thread is already running");
			fp_bRunning = true;
			ms_Events.push_back("start" + std::to_string(fp_Id));
		}

		NZel::int32 f_Stop(bool bWait)
		{
			EXPECT_TRUE(bWait);
			fp_bRunning = false;
			ms_Events.push_back("stop" + std::to_string(fp_Id));
			return 0;
		}

		bool f_IsRunning() const
		{
			return fp_bRunning;
		}

	private:
		int fp_Id;
		bool fp_bRunning = false;
	};

	using CTestService = NHushvane::TCLS_Service<CFakeWorker>;
	using CEvents = std::vector<std::string>;

	class ServiceWorkerOwner : public ::testing::Test
	{
	protected:
		void SetUp() override
		{
			CFakeWorker::ms_Events.clear();
			CFakeWorker::ms_Alive = 0;
			CFakeWorker::ms_Made = 0;
			CFakeWorker::ms_FailStart = false;
		}
	};
}

TEST_F(ServiceWorkerOwner, StartsWithoutAWorkerAndOperationsOnNoneDoNothing)
{
	CTestService Service("Hushvane", "Hushvane", "Sets the priority class of processes at process launch.");
	EXPECT_EQ(Service.f_GetWorker(), nullptr);
	EXPECT_EQ(Service.f_OnPause(), 1);
	EXPECT_EQ(Service.f_OnResume(), 1);
	EXPECT_EQ(Service.f_OnStop(), 1);
	EXPECT_TRUE(CFakeWorker::ms_Events.empty());
}

TEST_F(ServiceWorkerOwner, StartCreatesAndStartsStopDeletes)
{
	CTestService Service("Hushvane", "Hushvane", "d");
	EXPECT_EQ(Service.f_OnStart(), 1);
	ASSERT_NE(Service.f_GetWorker(), nullptr);
	EXPECT_TRUE(Service.f_GetWorker()->f_IsRunning());
	EXPECT_EQ(Service.f_OnStop(), 1);
	EXPECT_EQ(Service.f_GetWorker(), nullptr);
	EXPECT_EQ(CFakeWorker::ms_Alive, 0);
	EXPECT_EQ(CFakeWorker::ms_Events, (CEvents{"new1", "start1", "delete1"}));
}

TEST_F(ServiceWorkerOwner, SecondStartDeletesTheFirstWorkerBeforeMakingTheNext)
{
	CTestService Service("Hushvane", "Hushvane", "d");
	Service.f_OnStart();
	Service.f_OnStart();
	EXPECT_EQ(CFakeWorker::ms_Alive, 1);
	EXPECT_EQ(CFakeWorker::ms_Events, (CEvents{"new1", "start1", "delete1", "new2", "start2"}));
}

TEST_F(ServiceWorkerOwner, PauseAndResumeKeepTheSameWorker)
{
	CTestService Service("Hushvane", "Hushvane", "d");
	Service.f_OnStart();
	CFakeWorker *pWorker = Service.f_GetWorker();
	EXPECT_EQ(Service.f_OnPause(), 1);
	EXPECT_FALSE(pWorker->f_IsRunning());
	EXPECT_EQ(Service.f_OnPause(), 1); // a second pause finds it stopped
	EXPECT_EQ(Service.f_OnResume(), 1);
	EXPECT_EQ(Service.f_GetWorker(), pWorker);
	EXPECT_TRUE(pWorker->f_IsRunning());
	EXPECT_EQ(CFakeWorker::ms_Events, (CEvents{"new1", "start1", "stop1", "stop1", "start1"}));
}

TEST_F(ServiceWorkerOwner, ResumeOfARunningWorkerIsIgnored)
{
	CTestService Service("Hushvane", "Hushvane", "d");
	Service.f_OnStart();
	EXPECT_EQ(Service.f_OnResume(), 1);
	EXPECT_TRUE(Service.f_GetWorker()->f_IsRunning());
	EXPECT_EQ(CFakeWorker::ms_Events, (CEvents{"new1", "start1"}));
}

TEST_F(ServiceWorkerOwner, StartThatCannotStartTheThreadFailsAndKeepsNoWorker)
{
	CTestService Service("Hushvane", "Hushvane", "d");
	CFakeWorker::ms_FailStart = true;
	EXPECT_EQ(Service.f_OnStart(), 0);
	EXPECT_EQ(Service.f_GetWorker(), nullptr);
	EXPECT_EQ(CFakeWorker::ms_Alive, 0);
}

TEST_F(ServiceWorkerOwner, DestructorDeletesAWorkerThatStillExists)
{
	{
		CTestService Service("Hushvane", "Hushvane", "d");
		Service.f_OnStart();
		Service.f_OnPause();
	}
	EXPECT_EQ(CFakeWorker::ms_Alive, 0);
	EXPECT_EQ(CFakeWorker::ms_Events.back(), "delete1");
	EXPECT_EQ(CKvService::fs_GetInstance(), nullptr);
}
