// Fuzzes the BMP reader, then draws whatever it accepted into memory DCs of three layouts
// (exactly sized buffers, so any write outside them is caught), from the image's corner and
// from near its far edge, so clipping is exercised as well.
#include <vantor/gdi.h>

#include <cstdint>
#include <vector>

namespace {

struct Target {
    VantorPixelLayout layout;
    int bytesPerPixel;
};

RGBQUAD g_palette[256];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const HBITMAP bitmap = VantorLoadBitmapFromMemory(data, size);
    if (!bitmap) return 0;
    BITMAP bm{};
    if (GetObjectA(bitmap, sizeof bm, &bm) != sizeof bm) __builtin_trap();
    for (int i = 0; i < 256; ++i) g_palette[i] = RGBQUAD{BYTE(i), BYTE(255 - i), BYTE(i * 7), 0};
    const Target targets[] = {
        {{32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000, nullptr}, 4},
        {{16, 0xF800, 0x07E0, 0x001F, 0, nullptr}, 2},
        {{8, 0, 0, 0, 0, g_palette}, 1},
    };
    const HDC source = CreateCompatibleDC(0);
    const HGDIOBJ old = SelectObject(source, bitmap);
    if (!old) __builtin_trap();
    RGBQUAD table[256];
    GetDIBColorTable(source, 0, 256, table);
    constexpr int kSide = 37;
    for (const Target& t : targets) {
        const int pitch = kSide * t.bytesPerPixel;
        std::vector<uint8_t> pixels(static_cast<size_t>(pitch) * kSide);
        const HDC dest = VantorCreateMemoryDC(pixels.data(), kSide, kSide, pitch, &t.layout);
        if (!dest) __builtin_trap();
        BitBlt(dest, -3, -5, kSide + 8, kSide + 8, source, 0, 0, SRCCOPY);
        BitBlt(dest, 2, 1, kSide, kSide, source, bm.bmWidth - 10, bm.bmHeight - 7, SRCCOPY);
        DeleteDC(dest);
    }
    SelectObject(source, old);
    DeleteDC(source);
    if (!DeleteObject(bitmap)) __builtin_trap();
    return 0;
}
