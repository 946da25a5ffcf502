#include "zel/library/core/general/Zel_WatchdogParts.h"

namespace NZel::NWatchdog
{
	using NTime::CClockTime;

	CWatchLook gf_WatchLook(const CClockTime &Now, const CClockTime &LastCheck, const CClockTime &LastAlive, const CClockTime &PausedTime,
		double TimeoutSeconds)
	{
		CWatchLook Look;
		Look.m_Gap = Now - LastCheck;
		Look.m_bHeldUp = Look.m_Gap.f_GetSecondsDouble() > TimeoutSeconds / 2.0;
		Look.m_StallSeconds = ((Now - LastAlive) - (PausedTime + Look.m_Gap)).f_GetSecondsDouble();
		return Look;
	}

	namespace
	{
		// Little-endian writer over the template buffer that refuses to pass its end.
		class CTemplateWriter
		{
		public:
			CTemplateWriter(uint8 *pBuffer, umint Size) : fp_pBuffer(pBuffer), fp_Size(Size) {}

			void f_Word(uint16 Value)
			{
				if (fp_Pos + 2 > fp_Size)
				{
					fp_bOverflow = true;
					return;
				}
				fp_pBuffer[fp_Pos] = uint8(Value);
				fp_pBuffer[fp_Pos + 1] = uint8(Value >> 8);
				fp_Pos += 2;
			}
			void f_Dword(uint32 Value)
			{
				f_Word(uint16(Value));
				f_Word(uint16(Value >> 16));
			}
			void f_Rect(int16 x, int16 y, int16 cx, int16 cy)
			{
				f_Word(uint16(x));
				f_Word(uint16(y));
				f_Word(uint16(cx));
				f_Word(uint16(cy));
			}
			void f_AlignDword()
			{
				while (fp_Pos % 4 != 0 && !fp_bOverflow)
					f_Word(0);
			}
			umint f_GetUsed() const { return fp_bOverflow ? 0 : fp_Pos; }

		private:
			uint8 *fp_pBuffer;
			umint fp_Size;
			umint fp_Pos = 0;
			bool fp_bOverflow = false;
		};

		constexpr uint32 gc_DialogStyle = 0x80C80080;   // WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME
		constexpr uint32 gc_DefaultButton = 0x50000001; // WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON
		constexpr uint32 gc_ChildVisible = 0x50000000;  // WS_CHILD | WS_VISIBLE
		constexpr uint16 gc_ButtonClass = 0x0080;
		constexpr uint16 gc_StaticClass = 0x0082;

		void fg_Item(CTemplateWriter &Out, uint32 Style, int16 x, int16 y, int16 cx, int16 cy, uint16 Id, uint16 Class, const char *pText)
		{
			Out.f_AlignDword();
			Out.f_Dword(Style);
			Out.f_Dword(0); // extended style
			Out.f_Rect(x, y, cx, cy);
			Out.f_Word(Id);
			Out.f_Word(0xFFFF); // a predefined class by ordinal
			Out.f_Word(Class);
			for (const char *p = pText; *p; ++p)
				Out.f_Word(uint8(*p));
			Out.f_Word(0);
			Out.f_Word(0); // no creation data
		}
	}

	umint gf_BuildNotRespondingTemplate(uint8 *pBuffer, umint Size, const uint16 *pCaption, int32 CaptionLen, const char *pMessage)
	{
		CTemplateWriter Out(pBuffer, Size);
		Out.f_Dword(gc_DialogStyle);
		Out.f_Dword(0); // extended style
		Out.f_Word(3);  // items
		Out.f_Rect(10, 10, 200, 75);
		Out.f_Word(0); // no menu
		Out.f_Word(0); // the default dialog class
		for (int32 i = 0; i < CaptionLen && i < gc_DialogCaptionMax && pCaption[i]; ++i)
			Out.f_Word(pCaption[i]);
		Out.f_Word(0);

		fg_Item(Out, gc_DefaultButton, 65, 55, 35, 12, gc_DialogYesId, gc_ButtonClass, "Yes");
		fg_Item(Out, gc_ChildVisible, 105, 55, 35, 12, gc_DialogNoId, gc_ButtonClass, "No");
		fg_Item(Out, gc_ChildVisible, 7, 7, 180, 45, gc_DialogTextId, gc_StaticClass, pMessage);
		return Out.f_GetUsed();
	}
}
