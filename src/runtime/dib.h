// Internal to the runtime: pixel formats, DIB sections and the BMP reader, shared by bmp.cpp
// (reading files) and gdi.cpp (the GDI objects and BitBlt).
#pragma once

#include <vantor/gdi.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace vantor::gdi {

// Largest bitmap we make: 32768 pixels a side and 2^28 pixels in all (1 GiB at 32 bits).
constexpr int64_t kMaxSide = 32768;
constexpr int64_t kMaxPixels = int64_t{1} << 28;

inline bool sane_size(int64_t width, int64_t height) {
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide &&
           width * height <= kMaxPixels;
}

// Bytes in one row of a DIB: DIB rows are padded to 4 bytes.
inline size_t dib_stride(int64_t width, int bitCount) {
    return static_cast<size_t>((width * bitCount + 31) / 32 * 4);
}

// How pixels are stored. 1, 4 and 8 bits index a colour table; 16, 24 and 32 bits hold
// channels under masks (red, green, blue, alpha; alpha 0 means every pixel is opaque).
struct PixelFormat {
    int bitCount = 0;
    DWORD masks[4] = {};
    std::vector<RGBQUAD> colours;

    bool palettised() const { return bitCount <= 8; }
};

// The masks a 16-bit (5-5-5) or 24/32-bit (8-8-8) BI_RGB bitmap implies.
void default_masks(int bitCount, DWORD masks[4]);
// Red, green and blue masks non-zero, each one run of bits, no two overlapping, all inside
// the pixel; an alpha mask, when there is one, follows the same rules.
bool valid_masks(int bitCount, const DWORD masks[4]);

// A DIB section: a header as GetObjectA reports it, a format and zeroed pixel memory laid out
// as Windows lays it out (rows padded to 4 bytes; bottom row first unless top-down).
struct Dib {
    BITMAPINFOHEADER header{};
    PixelFormat format;
    int width = 0;
    int height = 0;  // always positive; topDown gives the row order
    bool topDown = false;
    size_t stride = 0;
    uint8_t* bits = nullptr;

    Dib() = default;
    Dib(const Dib&) = delete;
    Dib& operator=(const Dib&) = delete;
    ~Dib() { std::free(bits); }

    // Row `y` counted from the top of the image.
    uint8_t* row(int y) const {
        return bits + stride * static_cast<size_t>(topDown ? y : height - 1 - y);
    }
};

// A DIB with zeroed pixels (calloc, so large bitmaps cost no page touching until drawn);
// nullptr when the size is not sane or memory runs out. `format.colours` is kept as given.
std::unique_ptr<Dib> new_dib(int width, int height, bool topDown, PixelFormat format);

// Reads a BMP file held in memory. nullptr and a short reason when the data is refused.
std::unique_ptr<Dib> read_bmp(const uint8_t* data, size_t size, const char** reason);

// gdi.cpp: enters a DIB in the handle table as a bitmap (0 when the table is full).
HBITMAP adopt_dib(std::unique_ptr<Dib> dib);

}  // namespace vantor::gdi
