// The process heap (behind global new and delete) against the allocators a Windows program
// would otherwise use: msvcrt malloc/free, HeapAlloc/HeapFree on the process heap, and the
// operator new that MinGW's run-time brings (malloc in a loop over the new-handler).
#include "tests/bench/BenchHarness.h"

#include "zel/library/core/general/Zel_Heap.h"
#include "zel/library/core/general/Zel_System.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <random>
#include <thread>
#include <vector>

namespace
{
	struct CAllocator
	{
		const char *m_pName;
		void *(*m_fAlloc)(size_t);
		void (*m_fFree)(void *);
	};

	void *fg_OursAlloc(size_t Size)
	{
		return ::operator new(Size);
	}
	void fg_OursFree(void *p)
	{
		::operator delete(p);
	}
	void *fg_MallocAlloc(size_t Size)
	{
		return std::malloc(Size);
	}
	void fg_MallocFree(void *p)
	{
		std::free(p);
	}
	void *fg_HeapAlloc(size_t Size)
	{
		return HeapAlloc(GetProcessHeap(), 0, Size);
	}
	void fg_HeapFree(void *p)
	{
		HeapFree(GetProcessHeap(), 0, p);
	}
	// What libstdc++'s operator new does when nobody replaces it.
	__attribute__((noinline)) void *fg_MingwNew(size_t Size)
	{
		if (Size == 0)
			Size = 1;
		void *p;
		while (!(p = std::malloc(Size)))
		{
			std::new_handler Handler = std::get_new_handler();
			if (!Handler)
				throw std::bad_alloc();
			Handler();
		}
		return p;
	}
	__attribute__((noinline)) void fg_MingwDelete(void *p)
	{
		std::free(p);
	}

	CAllocator const gc_Allocators[] = {
		{"ours", fg_OursAlloc, fg_OursFree},
		{"msvcrt malloc", fg_MallocAlloc, fg_MallocFree},
		{"HeapAlloc", fg_HeapAlloc, fg_HeapFree},
		{"MinGW operator new", fg_MingwNew, fg_MingwDelete},
	};

	constexpr unsigned gc_Blocks = 1000;

	void fg_SizeRuns()
	{
		std::vector<unsigned> Order(gc_Blocks);
		for (unsigned i = 0; i < gc_Blocks; ++i)
			Order[i] = i;
		std::shuffle(Order.begin(), Order.end(), std::mt19937(7));
		std::vector<void *> Blocks(gc_Blocks);
		for (size_t Size : {16, 32, 64, 256, 2000})
		{
			for (bool bRandom : {false, true})
			{
				std::printf("-- %zu-byte blocks, %s order (ns per allocation and free)\n", Size, bRandom ? "random" : "LIFO");
				NBench::CResult Ours{};
				double Best = 1e30;
				for (CAllocator const &Allocator : gc_Allocators)
				{
					char Name[96];
					std::snprintf(Name, sizeof(Name), "  %s", Allocator.m_pName);
					auto Result = NBench::gf_Measure(
						Name,
						[&] {
							for (unsigned i = 0; i < gc_Blocks; ++i)
								Blocks[i] = Allocator.m_fAlloc(Size);
							if (bRandom)
								for (unsigned i : Order)
									Allocator.m_fFree(Blocks[i]);
							else
								for (unsigned i = gc_Blocks; i-- > 0;)
									Allocator.m_fFree(Blocks[i]);
						},
						1, 31);
					Result.m_MedianNs /= gc_Blocks;
					Result.m_BestNs /= gc_Blocks;
					if (&Allocator == gc_Allocators)
						Ours = Result;
					else
						Best = std::min(Best, Result.m_MedianNs);
				}
				std::printf("  ours: %.1f ns, fastest other: %.1f ns, ratio ours/fastest %.2f\n", Ours.m_MedianNs, Best, Ours.m_MedianNs / Best);
			}
		}
	}

	void fg_TwoThreads()
	{
		std::printf("-- mixed sizes from two threads (ns per operation, wall clock)\n");
		for (CAllocator const &Allocator : gc_Allocators)
		{
			constexpr unsigned c_Ops = 200000;
			auto fRun = [&](unsigned Seed) {
				std::mt19937 Random(Seed);
				std::vector<void *> Live(128, nullptr);
				for (unsigned i = 0; i < c_Ops; ++i)
				{
					void *&Slot = Live[Random() % Live.size()];
					if (Slot)
					{
						Allocator.m_fFree(Slot);
						Slot = nullptr;
					}
					else
					{
						unsigned Pick = Random() % 100;
						size_t Size = Pick < 80 ? 8 + Random() % 56 : Pick < 97 ? 64 + Random() % 512 : 1000 + Random() % 3000;
						Slot = Allocator.m_fAlloc(Size);
					}
				}
				for (void *p : Live)
					if (p)
						Allocator.m_fFree(p);
			};
			std::vector<double> Samples;
			for (int Round = 0; Round < 5; ++Round)
			{
				auto Start = std::chrono::steady_clock::now();
				std::thread A(fRun, 1), B(fRun, 2);
				A.join();
				B.join();
				Samples.push_back(std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - Start).count() / (2.0 * c_Ops));
			}
			std::sort(Samples.begin(), Samples.end());
			std::printf("  %-46s median %8.1f ns   best %8.1f ns\n", Allocator.m_pName, Samples[2], Samples[0]);
		}
	}

	void fg_Footprint()
	{
		NZel::NMemory::CProcessHeap &Heap = NZel::NMemory::gf_GetProcessHeap();
		for (size_t Request : {14, 16})
		{
			constexpr unsigned c_Count = 1000000;
			std::vector<void *> Blocks;
			Blocks.reserve(c_Count);
			size_t Before = Heap.f_GetCommittedBytes();
			for (unsigned i = 0; i < c_Count; ++i)
				Blocks.push_back(::operator new(Request));
			size_t After = Heap.f_GetCommittedBytes();
			double Payload = double(Request) * c_Count;
			std::printf("-- 1,000,000 live %zu-byte requests: %.1f MB committed for %.1f MB payload: %.2fx\n", Request, (After - Before) / 1e6,
				Payload / 1e6, (After - Before) / Payload);
			for (void *p : Blocks)
				::operator delete(p);
		}
	}
}

int main()
{
	NZel::gf_GetSystem();
	fg_SizeRuns();
	fg_TwoThreads();
	fg_Footprint();
	return 0;
}
