// Builds BMP files byte by byte for the bitmap tests, including broken ones: every field can
// be set to any value, and the pixel data is whatever the test hands in.
#pragma once

#include <vantor/debug.h>
#include <vantor/gdi.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bmptest {

// Everything written to the debugger output while it lives.
struct Capture {
    std::string text;
    int cookie;
    Capture() { cookie = DebugOutputAddListener([](const char* s, void* c) { static_cast<Capture*>(c)->text += s; }, this); }
    ~Capture() { DebugOutputRemoveListener(cookie); }
};

struct BmpFields {
    uint32_t headerSize = 40;  // 12 (core), 40, 52, 56, 108 or 124
    int32_t width = 1;
    int32_t height = 1;        // negative: top-down
    uint16_t planes = 1;
    uint16_t bitCount = 24;
    uint32_t compression = BI_RGB;
    uint32_t sizeImage = 0;
    uint32_t clrUsed = 0;
    std::vector<RGBQUAD> colours;        // written after the header (and masks)
    uint32_t masks[4] = {};              // BI_BITFIELDS: after a 40-byte header, else inside it
    std::vector<uint8_t> pixels;         // the pixel data exactly as it goes in the file
    int64_t offBits = -1;                // -1: right after the colour table
};

inline void Put16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) out[at + k] = static_cast<uint8_t>(v >> (8 * k));
}

inline std::vector<uint8_t> MakeBmp(const BmpFields& s) {
    std::vector<uint8_t> out(14 + s.headerSize, 0);
    out[0] = 'B';
    out[1] = 'M';
    const size_t H = 14;
    Put32(out, H, s.headerSize);
    if (s.headerSize == 12) {
        Put16(out, H + 4, static_cast<uint16_t>(s.width));
        Put16(out, H + 6, static_cast<uint16_t>(s.height));
        Put16(out, H + 8, s.planes);
        Put16(out, H + 10, s.bitCount);
    } else {
        Put32(out, H + 4, static_cast<uint32_t>(s.width));
        Put32(out, H + 8, static_cast<uint32_t>(s.height));
        Put16(out, H + 12, s.planes);
        Put16(out, H + 14, s.bitCount);
        Put32(out, H + 16, s.compression);
        Put32(out, H + 20, s.sizeImage);
        Put32(out, H + 24, 2835);
        Put32(out, H + 28, 2835);
        Put32(out, H + 32, s.clrUsed);
        if (s.headerSize >= 52)
            for (int c = 0; c < 3; ++c) Put32(out, H + 40 + 4 * c, s.masks[c]);
        if (s.headerSize >= 56) Put32(out, H + 52, s.masks[3]);
        if (s.headerSize >= 108) Put32(out, H + 56, 0x73524742);  // 'sRGB'
    }
    if (s.headerSize == 40 && s.compression == BI_BITFIELDS) {
        out.resize(out.size() + 12);
        for (int c = 0; c < 3; ++c) Put32(out, out.size() - 12 + 4 * c, s.masks[c]);
    }
    for (const RGBQUAD& q : s.colours) {
        out.push_back(q.rgbBlue);
        out.push_back(q.rgbGreen);
        out.push_back(q.rgbRed);
        if (s.headerSize != 12) out.push_back(q.rgbReserved);
    }
    const uint32_t offBits = s.offBits >= 0 ? static_cast<uint32_t>(s.offBits) : static_cast<uint32_t>(out.size());
    out.insert(out.end(), s.pixels.begin(), s.pixels.end());
    Put32(out, 2, static_cast<uint32_t>(out.size()));
    Put32(out, 10, offBits);
    return out;
}

// Rows of `width` pixels at `bitCount` bits, padded to 4 bytes, in file order (bottom row
// first unless topDown); value(x, y) gives the pixel at (x, y) counted from the top.
inline std::vector<uint8_t> PackRows(int width, int height, int bitCount, bool topDown,
                                     const std::function<uint32_t(int, int)>& value) {
    const size_t stride = (static_cast<size_t>(width) * bitCount + 31) / 32 * 4;
    std::vector<uint8_t> out(stride * height, 0);
    for (int r = 0; r < height; ++r) {
        const int y = topDown ? r : height - 1 - r;
        uint8_t* row = out.data() + stride * r;
        for (int x = 0; x < width; ++x) {
            const uint32_t v = value(x, y);
            switch (bitCount) {
            case 1: row[x / 8] |= static_cast<uint8_t>((v & 1) << (7 - x % 8)); break;
            case 4: row[x / 2] |= static_cast<uint8_t>((v & 15) << ((x & 1) ? 0 : 4)); break;
            default:
                for (int k = 0; k < bitCount / 8; ++k) row[x * (bitCount / 8) + k] = static_cast<uint8_t>(v >> (8 * k));
            }
        }
    }
    return out;
}

// A bitmap's pixels as RGBA rows from the top, through BitBlt into a memory DC whose bytes
// are R, G, B, A. Empty when anything fails.
struct Rgba {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
    const uint8_t* At(int x, int y) const { return pixels.data() + (static_cast<size_t>(y) * width + x) * 4; }
};

inline Rgba ToRgba(HBITMAP bitmap) {
    Rgba out;
    BITMAP bm{};
    if (GetObjectA(bitmap, sizeof bm, &bm) != sizeof bm) return out;
    std::vector<uint8_t> pixels(static_cast<size_t>(bm.bmWidth) * bm.bmHeight * 4, 0xEE);
    VantorPixelLayout layout{32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000, nullptr};
    HDC to = VantorCreateMemoryDC(pixels.data(), bm.bmWidth, bm.bmHeight, bm.bmWidth * 4, &layout);
    HDC from = CreateCompatibleDC(0);
    HGDIOBJ old = SelectObject(from, bitmap);
    const bool ok = to && from && old && BitBlt(to, 0, 0, bm.bmWidth, bm.bmHeight, from, 0, 0, SRCCOPY);
    if (from) {
        SelectObject(from, old);
        DeleteDC(from);
    }
    if (to) DeleteDC(to);
    if (ok) {
        out.width = bm.bmWidth;
        out.height = bm.bmHeight;
        out.pixels = std::move(pixels);
    }
    return out;
}

inline std::vector<RGBQUAD> Ramp(int count) {
    std::vector<RGBQUAD> colours(count);
    for (int i = 0; i < count; ++i) {
        const int v = count > 1 ? i * 255 / (count - 1) : 0;
        colours[i] = RGBQUAD{static_cast<uint8_t>(v), static_cast<uint8_t>(255 - v),
                             static_cast<uint8_t>((i * 97) & 255), 0};
    }
    return colours;
}

}  // namespace bmptest
