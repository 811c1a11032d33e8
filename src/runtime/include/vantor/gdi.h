// vantor/gdi.h — bitmaps and device contexts.
//
//   HBITMAP bmp = (HBITMAP)LoadImageA(0, "wood.bmp", IMAGE_BITMAP, 0, 0,
//                                     LR_LOADFROMFILE | LR_CREATEDIBSECTION);
//   BITMAP info; GetObjectA(bmp, sizeof info, &info);     // bmWidth, bmHeight, bmBitsPixel
//   HDC mem = CreateCompatibleDC(0);
//   HGDIOBJ old = SelectObject(mem, bmp);
//   BitBlt(surfaceDC, 0, 0, info.bmWidth, info.bmHeight, mem, 0, 0, SRCCOPY);
//   SelectObject(mem, old); DeleteDC(mem); DeleteObject(bmp);
//
// LoadImageA reads Windows BMP files (1, 4, 8, 16, 24 and 32 bits; BI_RGB, BI_RLE4, BI_RLE8,
// BI_BITFIELDS; bottom-up and top-down) with strict header checks; with a module handle instead
// of LR_LOADFROMFILE it looks the name up in that module's "BITMAP" resources (a host fills its
// own module's table, e.g. from the Python host's vantor.resources). Bitmaps are DIB sections.
// Handles are 32-bit (vantor/handles.h: kHandleBitmap, kHandleDC).
#pragma once

#include <vantor/types.h>

#define IMAGE_BITMAP 0
#define LR_DEFAULTCOLOR 0x0000
#define LR_LOADFROMFILE 0x0010
#define LR_CREATEDIBSECTION 0x2000

#define BI_RGB 0
#define BI_RLE8 1
#define BI_RLE4 2
#define BI_BITFIELDS 3

#define SRCCOPY 0x00CC0020
#define DIB_RGB_COLORS 0

#pragma pack(push, 1)
struct BITMAPFILEHEADER {
    WORD bfType;
    DWORD bfSize;
    WORD bfReserved1;
    WORD bfReserved2;
    DWORD bfOffBits;
};
#pragma pack(pop)

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

// GetObjectA(bitmap, sizeof(BITMAP) or sizeof(DIBSECTION), ...)
struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    void* bmBits;
};
struct DIBSECTION {
    BITMAP dsBm;
    BITMAPINFOHEADER dsBmih;
    DWORD dsBitfields[3];
    HANDLE dshSection;
    DWORD dsOffset;
};

// The pixel layout of memory that a device context draws into (a locked surface).
struct VantorPixelLayout {
    DWORD bitCount;     // 8 (palettised), 16, 24 or 32
    DWORD redMask, greenMask, blueMask, alphaMask;  // all 0: 5-5-5 or 8-8-8, as for BI_RGB
    const RGBQUAD* palette;  // 256 {B,G,R,x} entries for 8 bits (the DC keeps a copy), else NULL
};

extern "C" {
VANTOR_API HANDLE LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, INT cx, INT cy, UINT flags);
VANTOR_API HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits,
                                    HANDLE section, DWORD offset);
VANTOR_API INT GetObjectA(HANDLE object, INT size, void* out);
VANTOR_API HDC CreateCompatibleDC(HDC dc);
VANTOR_API HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// Copies pixels between device contexts, converting formats (SRCCOPY only).
VANTOR_API BOOL BitBlt(HDC dst, INT x, INT y, INT cx, INT cy, HDC src, INT x1, INT y1, DWORD rop);
VANTOR_API UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* colours);
VANTOR_API BOOL DeleteDC(HDC dc);
VANTOR_API BOOL DeleteObject(HGDIOBJ object);
// A device context over caller-owned pixels (how a DirectDraw surface's GetDC is made); the
// memory must stay valid until DeleteDC.
VANTOR_API HDC VantorCreateMemoryDC(void* bits, INT width, INT height, INT pitch,
                                    const VantorPixelLayout* layout);
// Parses a BMP image held in memory into a new DIB section (the file path of LoadImageA uses
// the same reader); 0 when the data is not a valid bitmap.
VANTOR_API HBITMAP VantorLoadBitmapFromMemory(const void* data, size_t size);
}
