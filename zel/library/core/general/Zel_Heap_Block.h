#pragma once
// Block headers of the three size classes of the small-object heap.
//
// A block starts a header's width before a multiple of 16, so the user data that follows the
// header is 16-byte aligned. Every header records four facts: the block's size and the
// previous block's size (both in 16-byte units), and a 2-bit state:
//
//   0 used      a live block, handed out and not yet freed
//   1 free      in the free lists; a size field of 0 means the size does not fit the field
//               (a large free block): it is then stored 16 bytes after the header
//   2 marker    a chunk-boundary marker (16 bytes at the chunk's start, a bare header at its end)
//   3 quick     freed, and waiting in a quick list to be handed out again as it is
//
// Only a used block may be freed: a quick-listed or free one has been freed already, so
// freeing it again is heap corruption, not something to absorb.
//
//   8-bit class (2 bytes)   bits 0-6 size, 7-13 previous size, 14-15 state
//   16-bit class (4 bytes)  bits 0-14 size, 15-29 previous size, 30-31 state
//   large class (8 bytes)   word 0: size / 8 with the low state bit in bit 0,
//                           word 1: previous size / 8 with the high state bit in bit 0
//
// A previous size of 0 means the previous block is a large free block: its start address
// is then the pointer-sized word just before this header.
//
// A free block keeps, after its header, two 6-byte links (next and previous in its free
// list: the user address shifted right by 4, which fits 48 bits on every supported machine),
// and a large free block also its size (64 bits) 16 bytes after the header and its start
// address in its last pointer-sized word. The pages between that front and that trailer are
// decommitted.
//
//   chunk base
//   |  pad  | start marker (16) | blocks ............................... | end marker header |
#include "zel/library/core/general/Zel_Types.h"

#include <cstring>

namespace NZel::NMemory
{
	enum EBlockState : uint32
	{
		EBlockState_Used = 0,
		EBlockState_Free = 1,
		EBlockState_Marker = 2,
		EBlockState_Quick = 3,
	};

	namespace NPrivate
	{
		template <typename t_CWord>
		inline t_CWord fg_Load(uint8 const *p)
		{
			t_CWord Value;
			std::memcpy(&Value, p, sizeof(Value));
			return Value;
		}
		template <typename t_CWord>
		inline void fg_Store(uint8 *p, t_CWord Value)
		{
			std::memcpy(p, &Value, sizeof(Value));
		}
	}

	// Requests of up to 2014 bytes: the class that serves nearly every allocation.
	struct CParams8Bit
	{
		static constexpr umint mc_HeaderSize = 2;
		static constexpr umint mc_MaxRequest = 2014;
		static constexpr umint mc_FieldMax = 0x7F;
		static constexpr umint mc_PlacementHint = 0;
		static constexpr umint mc_BinCount = 0x80; // exact lists for every encodable size
		static constexpr umint mc_MinBlock = 16;

		static void fs_Write(uint8 *pBlock, umint Units, umint PrevUnits, uint32 State)
		{
			NPrivate::fg_Store<uint16>(pBlock, uint16(Units | (PrevUnits << 7) | (umint(State) << 14)));
		}
		static umint fs_Units(uint8 const *pBlock)
		{
			return NPrivate::fg_Load<uint16>(pBlock) & 0x7F;
		}
		static umint fs_PrevUnits(uint8 const *pBlock)
		{
			return (NPrivate::fg_Load<uint16>(pBlock) >> 7) & 0x7F;
		}
		static uint32 fs_State(uint8 const *pBlock)
		{
			return NPrivate::fg_Load<uint16>(pBlock) >> 14;
		}
		static void fs_SetState(uint8 *pBlock, uint32 State)
		{
			NPrivate::fg_Store<uint16>(pBlock, uint16((NPrivate::fg_Load<uint16>(pBlock) & 0x3FFF) | (State << 14)));
		}
		static uint32 fs_Raw(uint8 const *pBlock)
		{
			return NPrivate::fg_Load<uint16>(pBlock);
		}
	};

	// Requests of 2015 to 524252 bytes (and blocks of this class shrunk by a resize).
	struct CParams16Bit
	{
		static constexpr umint mc_HeaderSize = 4;
		static constexpr umint mc_MaxRequest = 524252;
		static constexpr umint mc_FieldMax = 0x7FFF;
		static constexpr umint mc_PlacementHint = 2;
		static constexpr umint mc_BinCount = 0x8000;
		static constexpr umint mc_MinBlock = 16;

		static void fs_Write(uint8 *pBlock, umint Units, umint PrevUnits, uint32 State)
		{
			NPrivate::fg_Store<uint32>(pBlock, uint32(Units | (PrevUnits << 15) | (umint(State) << 30)));
		}
		static umint fs_Units(uint8 const *pBlock)
		{
			return NPrivate::fg_Load<uint32>(pBlock) & 0x7FFF;
		}
		static umint fs_PrevUnits(uint8 const *pBlock)
		{
			return (NPrivate::fg_Load<uint32>(pBlock) >> 15) & 0x7FFF;
		}
		static uint32 fs_State(uint8 const *pBlock)
		{
			return NPrivate::fg_Load<uint32>(pBlock) >> 30;
		}
		static void fs_SetState(uint8 *pBlock, uint32 State)
		{
			NPrivate::fg_Store<uint32>(pBlock, (NPrivate::fg_Load<uint32>(pBlock) & 0x3FFFFFFF) | (State << 30));
		}
		static uint32 fs_Raw(uint8 const *pBlock)
		{
			return NPrivate::fg_Load<uint32>(pBlock);
		}
	};

	// Requests above 524252 bytes; blocks below 0xFFFFFFEF bytes.
	struct CParamsArchSize
	{
		static constexpr umint mc_HeaderSize = 8;
		static constexpr umint mc_MaxRequest = 0xFFFFFFE0u - mc_HeaderSize;
		static constexpr umint mc_FieldMax = 0x7FFFFFFF;
		static constexpr umint mc_PlacementHint = 1;
		static constexpr umint mc_BinCount = 1; // few, large blocks: one best-fit list
		static constexpr umint mc_MinBlock = 32; // room for the links after the 8-byte header

		static void fs_Write(uint8 *pBlock, umint Units, umint PrevUnits, uint32 State)
		{
			NPrivate::fg_Store<uint32>(pBlock, uint32((Units << 1) | (State & 1)));
			NPrivate::fg_Store<uint32>(pBlock + 4, uint32((PrevUnits << 1) | (State >> 1)));
		}
		static umint fs_Units(uint8 const *pBlock)
		{
			return NPrivate::fg_Load<uint32>(pBlock) >> 1;
		}
		static umint fs_PrevUnits(uint8 const *pBlock)
		{
			return NPrivate::fg_Load<uint32>(pBlock + 4) >> 1;
		}
		static uint32 fs_State(uint8 const *pBlock)
		{
			return (NPrivate::fg_Load<uint32>(pBlock) & 1) | ((NPrivate::fg_Load<uint32>(pBlock + 4) & 1) << 1);
		}
		static void fs_SetState(uint8 *pBlock, uint32 State)
		{
			NPrivate::fg_Store<uint32>(pBlock, (NPrivate::fg_Load<uint32>(pBlock) & ~uint32(1)) | (State & 1));
			NPrivate::fg_Store<uint32>(pBlock + 4, (NPrivate::fg_Load<uint32>(pBlock + 4) & ~uint32(1)) | (State >> 1));
		}
		static uint32 fs_Raw(uint8 const *pBlock)
		{
			return NPrivate::fg_Load<uint32>(pBlock);
		}
	};
}
