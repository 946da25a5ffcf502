// Lines to stderr for the benchmarks' ending steps and their watchdog: built on the stack and
// written with one WriteFile, so that writing takes no lock and allocates nothing (usable
// while other threads are suspended, hold the loader or heap lock, or are being killed).
#pragma once

#include <windows.h>

namespace NHushvaneTest
{
	// Milliseconds from the performance counter. Not GetTickCount64: under Wine the tick count
	// lives in a page the server refreshes, so it stands still while the server is held up,
	// which is exactly when the watchdog must still see time pass.
	inline ULONGLONG gf_BenchClockMs()
	{
		LARGE_INTEGER Now, Frequency;
		QueryPerformanceCounter(&Now);
		QueryPerformanceFrequency(&Frequency);
		return ULONGLONG(Now.QuadPart / Frequency.QuadPart * 1000 + Now.QuadPart % Frequency.QuadPart * 1000 / Frequency.QuadPart);
	}

	inline const ULONGLONG gc_BenchStartMs = gf_BenchClockMs();

	class CBenchLine
	{
	public:
		// Starts with "[bench 12.345 s] ": the time since the process started.
		CBenchLine()
		{
			ULONGLONG Ms = gf_BenchClockMs() - gc_BenchStartMs;
			f_Text("[bench ").f_Number(Ms / 1000).f_Text(".").f_Number(Ms % 1000, 10, 3).f_Text(" s] ");
		}
		CBenchLine(const CBenchLine &) = delete;
		CBenchLine &operator=(const CBenchLine &) = delete;

		CBenchLine &f_Text(const char *pText)
		{
			while (*pText && fp_Length < sizeof(fp_Text) - 1)
				fp_Text[fp_Length++] = *pText++;
			return *this;
		}

		CBenchLine &f_Number(unsigned long long Value, unsigned Base = 10, int MinDigits = 1)
		{
			char Digits[64];
			int Count = 0;
			do
			{
				Digits[Count++] = "0123456789abcdef"[Value % Base];
				Value /= Base;
			} while (Value || Count < MinDigits);
			while (Count && fp_Length < sizeof(fp_Text) - 1)
				fp_Text[fp_Length++] = Digits[--Count];
			return *this;
		}

		// Ends the line and writes it.
		void f_Write()
		{
			fp_Text[fp_Length++] = '\n';
			DWORD Written = 0;
			WriteFile(GetStdHandle(STD_ERROR_HANDLE), fp_Text, DWORD(fp_Length), &Written, nullptr);
			fp_Length = 0;
		}

	private:
		char fp_Text[512];
		size_t fp_Length = 0;
	};

	inline void gf_BenchTrace(const char *pText)
	{
		CBenchLine().f_Text(pText).f_Write();
	}

	inline void gf_BenchTrace(const char *pText, unsigned long long Value)
	{
		CBenchLine().f_Text(pText).f_Text(" ").f_Number(Value).f_Write();
	}
}
