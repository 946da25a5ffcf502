// Global operator new and delete of the whole program go to the process heap. (The native
// test build keeps the system allocator, so the sanitizers see every allocation.)
//
// Running out of memory is std::bad_alloc from every throwing form, as standard code expects
// (the heap's own CExceptionMemory, which its other callers keep getting, is turned into it
// here); the nothrow forms return null.
#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_Heap.h"
#include "zel/library/core/general/Zel_System.h"

#include <cstring>
#include <new>

namespace
{
	using NZel::umint;
	using NZel::NMemory::gf_GetProcessHeap;

	void *fg_New(std::size_t Size)
	{
		void *p;
		try
		{
			p = gf_GetProcessHeap().f_Alloc(Size);
		}
		catch (NZel::NException::CExceptionMemory const &)
		{
			throw std::bad_alloc(); // no address space left, or the commit was refused
		}
		if (!p)
			throw std::bad_alloc(); // larger than any class holds
		return p;
	}

	void *fg_NewNoThrow(std::size_t Size) noexcept
	{
		try
		{
			return gf_GetProcessHeap().f_Alloc(Size);
		}
		catch (...)
		{
			return nullptr;
		}
	}

	// Blocks are 16-byte aligned; stricter alignments over-allocate and keep the block's own
	// address in the word before the aligned one.
	void *fg_NewAligned(std::size_t Size, std::align_val_t Alignment)
	{
		umint Align = umint(Alignment);
		if (Align <= 16)
			return fg_New(Size);
		if (Size > ~umint(0) - Align - sizeof(void *))
			throw std::bad_alloc();
		void *pBlock = fg_New(Size + Align + sizeof(void *));
		umint Aligned = (umint(pBlock) + sizeof(void *) + Align - 1) & ~(Align - 1);
		std::memcpy(reinterpret_cast<void *>(Aligned - sizeof(void *)), &pBlock, sizeof(void *));
		return reinterpret_cast<void *>(Aligned);
	}

	void fg_DeleteAligned(void *p, std::align_val_t Alignment) noexcept
	{
		if (!p)
			return;
		if (umint(Alignment) > 16)
			std::memcpy(&p, static_cast<char *>(p) - sizeof(void *), sizeof(void *));
		gf_GetProcessHeap().f_Free(p);
	}

	// Made before the program's own static objects, so the heap is there from the start.
	struct CMakeSystemEarly
	{
		CMakeSystemEarly()
		{
			NZel::gf_GetSystem();
		}
	} const g_MakeSystemEarly __attribute__((init_priority(101)));
}

void *operator new(std::size_t Size)
{
	return fg_New(Size);
}
void *operator new[](std::size_t Size)
{
	return fg_New(Size);
}
void *operator new(std::size_t Size, std::nothrow_t const &) noexcept
{
	return fg_NewNoThrow(Size);
}
void *operator new[](std::size_t Size, std::nothrow_t const &) noexcept
{
	return fg_NewNoThrow(Size);
}
void *operator new(std::size_t Size, std::align_val_t Alignment)
{
	return fg_NewAligned(Size, Alignment);
}
void *operator new[](std::size_t Size, std::align_val_t Alignment)
{
	return fg_NewAligned(Size, Alignment);
}
void *operator new(std::size_t Size, std::align_val_t Alignment, std::nothrow_t const &) noexcept
{
	try
	{
		return fg_NewAligned(Size, Alignment);
	}
	catch (...)
	{
		return nullptr;
	}
}
void *operator new[](std::size_t Size, std::align_val_t Alignment, std::nothrow_t const &Tag) noexcept
{
	return operator new(Size, Alignment, Tag);
}

void operator delete(void *p) noexcept
{
	gf_GetProcessHeap().f_Free(p);
}
void operator delete[](void *p) noexcept
{
	gf_GetProcessHeap().f_Free(p);
}
void operator delete(void *p, std::size_t) noexcept
{
	gf_GetProcessHeap().f_Free(p);
}
void operator delete[](void *p, std::size_t) noexcept
{
	gf_GetProcessHeap().f_Free(p);
}
void operator delete(void *p, std::nothrow_t const &) noexcept
{
	gf_GetProcessHeap().f_Free(p);
}
void operator delete[](void *p, std::nothrow_t const &) noexcept
{
	gf_GetProcessHeap().f_Free(p);
}
void operator delete(void *p, std::align_val_t Alignment) noexcept
{
	fg_DeleteAligned(p, Alignment);
}
void operator delete[](void *p, std::align_val_t Alignment) noexcept
{
	fg_DeleteAligned(p, Alignment);
}
void operator delete(void *p, std::size_t, std::align_val_t Alignment) noexcept
{
	fg_DeleteAligned(p, Alignment);
}
void operator delete[](void *p, std::size_t, std::align_val_t Alignment) noexcept
{
	fg_DeleteAligned(p, Alignment);
}
void operator delete(void *p, std::align_val_t Alignment, std::nothrow_t const &) noexcept
{
	fg_DeleteAligned(p, Alignment);
}
void operator delete[](void *p, std::align_val_t Alignment, std::nothrow_t const &) noexcept
{
	fg_DeleteAligned(p, Alignment);
}
