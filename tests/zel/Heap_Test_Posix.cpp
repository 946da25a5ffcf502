// Freeing what is not a live block ends the process as heap corruption. Here the heap reports
// on the standard error and aborts; the Windows build raises STATUS_HEAP_CORRUPTION into the
// crash reporter, which the crash program's end-to-end test covers.
#include "tests/zel/Heap_TestSupport.h"

#include <functional>
#include <vector>

using namespace NHeapTest;

namespace
{
	// Each row prepares a heap and then misuses it once; the misuse must end the process before
	// the heap hands anything out twice.
	struct CMisuseRow
	{
		const char *m_pName;
		std::function<void(CProcessHeap &)> m_fMisuse;
	};

	// Blocks side by side, with a live block before the first and after the last, so that
	// frees merge only among them.
	std::vector<void *> fg_Run(CProcessHeap &Heap, umint Request, int n)
	{
		Heap.f_Alloc(Request);
		std::vector<void *> Blocks;
		for (int i = 0; i < n; ++i)
			Blocks.push_back(Heap.f_Alloc(Request));
		Heap.f_Alloc(Request);
		return Blocks;
	}

	std::vector<CMisuseRow> fg_MisuseRows()
	{
		return {
			// Quick-listed blocks, 16 to 80 bytes: a second free would put them on their list twice.
			{"16-byte block freed twice", [](CProcessHeap &Heap) { void *p = fg_Run(Heap, 10, 1)[0]; Heap.f_Free(p); Heap.f_Free(p); }},
			{"80-byte block freed twice", [](CProcessHeap &Heap) { void *p = fg_Run(Heap, 78, 1)[0]; Heap.f_Free(p); Heap.f_Free(p); }},
			{"quick-listed block freed twice with its neighbour freed between",
				[](CProcessHeap &Heap) {
					auto Run = fg_Run(Heap, 30, 2);
					Heap.f_Free(Run[0]);
					Heap.f_Free(Run[1]);
					Heap.f_Free(Run[0]);
				}},
			{"small block of the 16-bit class freed twice",
				[](CProcessHeap &Heap) {
					void *p = Heap.f_Resize(fg_Run(Heap, 5000, 1)[0], 20);
					Heap.f_Free(p);
					Heap.f_Free(p);
				}},
			{"quick-listed block merged away by a flush, then freed again",
				[](CProcessHeap &Heap) {
					auto Run = fg_Run(Heap, 40, 2);
					Heap.f_Free(Run[0]);
					Heap.f_Free(Run[1]);
					Heap.f_FlushQuickLists();
					Heap.f_Free(Run[1]);
				}},
			// Blocks that go to the free structures at once.
			{"block left free freed twice", [](CProcessHeap &Heap) { void *p = fg_Run(Heap, 200, 1)[0]; Heap.f_Free(p); Heap.f_Free(p); }},
			{"block merged into the free block before it freed twice",
				[](CProcessHeap &Heap) {
					auto Run = fg_Run(Heap, 200, 2);
					Heap.f_Free(Run[0]);
					Heap.f_Free(Run[1]);
					Heap.f_Free(Run[1]);
				}},
			{"block merged with free blocks on both sides freed twice",
				[](CProcessHeap &Heap) {
					auto Run = fg_Run(Heap, 1000, 3);
					Heap.f_Free(Run[0]);
					Heap.f_Free(Run[2]);
					Heap.f_Free(Run[1]);
					Heap.f_Free(Run[1]);
				}},
			{"block merged into a large free block freed twice",
				[](CProcessHeap &Heap) {
					auto Run = fg_Run(Heap, 1000, 4);
					Heap.f_Free(Run[0]);
					Heap.f_Free(Run[1]);
					Heap.f_Free(Run[2]); // 3024 bytes: too large for the size field
					Heap.f_Free(Run[2]);
				}},
			{"large block freed twice", [](CProcessHeap &Heap) { void *p = fg_Run(Heap, 600000, 1)[0]; Heap.f_Free(p); Heap.f_Free(p); }},
			{"large block merged into the free block before it freed twice",
				[](CProcessHeap &Heap) {
					auto Run = fg_Run(Heap, 600000, 2);
					Heap.f_Free(Run[0]);
					Heap.f_Free(Run[1]);
					Heap.f_Free(Run[1]);
				}},
			// Pointers that never were blocks.
			{"pointer into the middle of a block", [](CProcessHeap &Heap) { Heap.f_Free(static_cast<char *>(fg_Run(Heap, 200, 1)[0]) + 64); }},
			{"pointer not 16-byte aligned", [](CProcessHeap &Heap) { Heap.f_Free(static_cast<char *>(fg_Run(Heap, 200, 1)[0]) + 1); }},
			// A resize frees the old block: the same rule holds.
			{"freed block resized", [](CProcessHeap &Heap) { void *p = fg_Run(Heap, 50, 1)[0]; Heap.f_Free(p); Heap.f_Resize(p, 500); }},
			{"freed block resized without its contents",
				[](CProcessHeap &Heap) {
					auto Run = fg_Run(Heap, 300, 2);
					Heap.f_Free(Run[0]);
					Heap.f_Free(Run[1]);
					Heap.f_ResizeDiscard(Run[1], 20);
				}},
		};
	}

	TEST(HeapDeathTest, FreeingWhatIsNotALiveBlockIsHeapCorruption)
	{
		GTEST_FLAG_SET(death_test_style, "threadsafe");
		for (CMisuseRow const &Row : fg_MisuseRows())
		{
			EXPECT_DEATH(
				{
					auto pHeap = gf_MakeHeap();
					Row.m_fMisuse(*pHeap);
				},
				"heap corruption: 0x[0-9a-f]+ is not a live block")
				<< Row.m_pName;
		}
	}
}
