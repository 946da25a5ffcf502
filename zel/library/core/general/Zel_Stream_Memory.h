#pragma once
// Binary streams: the abstract CBinaryStream, its default base CBinaryStreamDefault, and
// CBinaryStreamMemory, a growable in-memory stream (the log keeps its pending bytes in one).
//
// Memory stream invariants: 0 <= position <= 0xFFFFFFFF, and length is the highest position
// any write has reached. The position may lie beyond the length; a write there extends the
// data (the gap reads as zeros), a read there fails.
#include "zel/library/core/general/Zel_Exception.h"
#include "zel/library/core/general/Zel_Memory.h"
#include "zel/library/core/general/Zel_Types.h"

#include <cstring>
#include <utility>

namespace NZel::NStream
{
	class CBinaryStream
	{
	public:
		virtual void f_WriteBytes(const void *pData, umint Count) = 0;
		virtual void f_ConsumeBytes(void *pDestination, umint Count) = 0;
		virtual bool f_IsValid() const = 0;
		virtual bool f_IsAtEnd() const = 0;
		virtual int64 f_GetPosition() const = 0;
		virtual void f_SetPosition(int64 Position) = 0;
		virtual void f_SetPositionFromEnd(int64 Offset) = 0;
		virtual void f_SetPositionRelative(int64 Offset) = 0;
		virtual int64 f_GetLength() const = 0;
		virtual uint32 f_GetFlags() const = 0;
		virtual void f_SetFlags(uint32 Flags) = 0;
		virtual uint32 f_GetVersion() const = 0;
		virtual bool f_IsLittleEndian() const = 0;
		virtual ~CBinaryStream() = default;
	};

	// The answers every concrete stream of this library shares.
	class CBinaryStreamDefault : public CBinaryStream
	{
	public:
		bool f_IsValid() const override { return true; }
		uint32 f_GetFlags() const override { return 0; }
		void f_SetFlags(uint32) override {}
		uint32 f_GetVersion() const override { return 4; }
		bool f_IsLittleEndian() const override { return true; }
	};

	template <typename t_CBase = CBinaryStreamDefault>
	class CBinaryStreamMemory : public t_CBase
	{
	public:
		static constexpr uint64 mc_MaxPosition = 0xFFFFFFFFu;

		explicit CBinaryStreamMemory(uint32 Growth = 4096) : fp_Growth(Growth ? Growth : 1) {}
		~CBinaryStreamMemory() override { NMemory::CAllocator_Heap::f_Free(fp_pData); }
		CBinaryStreamMemory(CBinaryStreamMemory &&Other) noexcept
			: fp_Position(std::exchange(Other.fp_Position, 0))
			, fp_Length(std::exchange(Other.fp_Length, 0))
			, fp_Growth(Other.fp_Growth)
			, fp_pData(std::exchange(Other.fp_pData, nullptr))
			, fp_Capacity(std::exchange(Other.fp_Capacity, 0))
		{
		}
		CBinaryStreamMemory(const CBinaryStreamMemory &) = delete;
		CBinaryStreamMemory &operator=(const CBinaryStreamMemory &) = delete;

		void f_WriteBytes(const void *pData, umint Count) override
		{
			if (Count == 0)
				return;
			// Compared without adding, so that no count can wrap around the check.
			if (uint64(Count) > mc_MaxPosition - fp_Position)
				fp_ThrowPositionLimit();
			uint64 End = uint64(fp_Position) + Count;
			umint Capacity = fp_Capacity;
			if (Capacity < End)
			{
				// At least the growth increment past the position; and at least double the old
				// buffer, so that a stream filled by many small writes is copied O(n) times in
				// all, not once per increment.
				uint64 Wanted = uint64(fp_Position) + fp_Growth;
				if (Wanted < End)
					Wanted = End;
				uint64 Doubled = uint64(Capacity) * 2;
				if (Wanted < Doubled && Doubled <= uint64(umint(-1) / 2) && Doubled <= mc_MaxPosition)
					Wanted = Doubled;
				if (Wanted > mc_MaxPosition || Wanted > uint64(umint(-1) / 2))
					Wanted = End; // near the limits: exactly what is needed
				void *pNew = NMemory::CAllocator_Heap::f_Realloc(fp_pData, umint(Wanted));
				if (!pNew)
					fp_ThrowOutOfMemory(); // the old data stays as it was
				fp_pData = static_cast<uint8 *>(pNew);
				fp_Capacity = NMemory::CAllocator_Heap::f_GetSize(pNew);
			}
			if (fp_Position > fp_Length)
				std::memset(fp_pData + fp_Length, 0, fp_Position - fp_Length);
			std::memcpy(fp_pData + fp_Position, pData, Count);
			fp_Position = uint32(End);
			if (fp_Position > fp_Length)
				fp_Length = fp_Position;
		}

		void f_ConsumeBytes(void *pDestination, umint Count) override
		{
			if (fp_Position > fp_Length || uint64(Count) > uint64(fp_Length - fp_Position))
				DZelThrow(NException::CException, "End of stream Overrun");
			if (Count)
				std::memcpy(pDestination, fp_pData + fp_Position, Count);
			fp_Position += uint32(Count);
		}

		bool f_IsAtEnd() const override { return fp_Position == fp_Length; }
		int64 f_GetPosition() const override { return fp_Position; }
		void f_SetPosition(int64 Position) override { fp_SetPositionInternal(Position); }
		void f_SetPositionFromEnd(int64 Offset) override { fp_SetPositionInternal(int64(fp_Length) + Offset); }
		void f_SetPositionRelative(int64 Offset) override { fp_SetPositionInternal(int64(fp_Position) + Offset); }
		int64 f_GetLength() const override { return fp_Length; }

		// The bytes 0 .. length - 1 (null before the first write).
		const uint8 *f_GetData() const { return fp_pData; }
		// Empties the stream and keeps its buffer for reuse.
		void f_Clear()
		{
			fp_Position = 0;
			fp_Length = 0;
		}
		umint f_GetCapacity() const { return fp_Capacity; }

	private:
		void fp_SetPositionInternal(int64 Position)
		{
			if (Position < 0 || uint64(Position) > mc_MaxPosition)
				DZelThrow(NException::CException, "Memory stream positions are limited to 0 -> DZelPMax_mint");
			fp_Position = uint32(Position);
		}

		static void fp_ThrowPositionLimit()
		{
			DZelThrow(NException::CException, "Memory stream positions are limited to 0 -> DZelPMax_mint");
		}
		static void fp_ThrowOutOfMemory()
		{
			DZelThrow(NException::CExceptionMemory, "Memory stream could not grow: out of memory");
		}

		uint32 fp_Position = 0;
		uint32 fp_Length = 0;
		uint32 fp_Growth;
		uint8 *fp_pData = nullptr;
		// The usable size of fp_pData, known since it was allocated: asking the heap on every
		// write would cost more than the copy of a log line.
		umint fp_Capacity = 0;
	};
}
