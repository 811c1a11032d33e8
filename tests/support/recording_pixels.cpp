// Pixel formats of the recording back end: the standard DirectDraw formats, their names in the
// call log, and conversion of single pixels through 32-bit ARGB (what Blt and Clear need).
#include <bit>

#include "recording_internal.h"

namespace vantor::testing {

namespace formats {

static DDPIXELFORMAT make(DWORD flags, DWORD bits, DWORD r, DWORD g, DWORD b, DWORD a) {
    DDPIXELFORMAT f{};
    f.dwSize = sizeof(DDPIXELFORMAT);
    f.dwFlags = flags;
    f.dwRGBBitCount = bits;
    f.dwRBitMask = r;
    f.dwGBitMask = g;
    f.dwBBitMask = b;
    f.dwRGBAlphaBitMask = a;
    return f;
}

DDPIXELFORMAT R5G6B5() {
    return make(DDPF_RGB, 16, 0xF800, 0x07E0, 0x001F, 0);
}
DDPIXELFORMAT X1R5G5B5() {
    return make(DDPF_RGB, 16, 0x7C00, 0x03E0, 0x001F, 0);
}
DDPIXELFORMAT A1R5G5B5() {
    return make(DDPF_RGB | DDPF_ALPHAPIXELS, 16, 0x7C00, 0x03E0, 0x001F, 0x8000);
}
DDPIXELFORMAT A4R4G4B4() {
    return make(DDPF_RGB | DDPF_ALPHAPIXELS, 16, 0x0F00, 0x00F0, 0x000F, 0xF000);
}
DDPIXELFORMAT R8G8B8() {
    return make(DDPF_RGB, 24, 0xFF0000, 0xFF00, 0xFF, 0);
}
DDPIXELFORMAT X8R8G8B8() {
    return make(DDPF_RGB, 32, 0xFF0000, 0xFF00, 0xFF, 0);
}
DDPIXELFORMAT A8R8G8B8() {
    return make(DDPF_RGB | DDPF_ALPHAPIXELS, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
}
DDPIXELFORMAT R3G3B2() {
    return make(DDPF_RGB, 8, 0xE0, 0x1C, 0x03, 0);
}
DDPIXELFORMAT P8() {
    return make(DDPF_RGB | DDPF_PALETTEINDEXED8, 8, 0, 0, 0, 0);
}
DDPIXELFORMAT L8() {
    return make(DDPF_LUMINANCE, 8, 0xFF, 0, 0, 0);
}
DDPIXELFORMAT A8L8() {
    return make(DDPF_LUMINANCE | DDPF_ALPHAPIXELS, 16, 0xFF, 0, 0, 0xFF00);
}
DDPIXELFORMAT V8U8() {
    return make(DDPF_BUMPDUDV, 16, 0x00FF, 0xFF00, 0, 0);
}
DDPIXELFORMAT rgb(DWORD bits, DWORD r, DWORD g, DWORD b, DWORD a) {
    return make(DDPF_RGB | (a ? DDPF_ALPHAPIXELS : 0), bits, r, g, b, a);
}
DDPIXELFORMAT Z(DWORD bits) {
    DWORD mask = bits >= 32 ? 0xFFFFFFFF : (1u << bits) - 1;
    return make(DDPF_ZBUFFER, bits == 24 ? 32 : bits, mask, 0, 0, 0);
}

std::string name(const DDPIXELFORMAT& f) {
    static const struct {
        DDPIXELFORMAT (*make)();
        const char* name;
    } known[] = {{R5G6B5, "R5G6B5"},
                 {X1R5G5B5, "X1R5G5B5"},
                 {A1R5G5B5, "A1R5G5B5"},
                 {A4R4G4B4, "A4R4G4B4"},
                 {R8G8B8, "R8G8B8"},
                 {X8R8G8B8, "X8R8G8B8"},
                 {A8R8G8B8, "A8R8G8B8"},
                 {R3G3B2, "R3G3B2"},
                 {P8, "P8"},
                 {L8, "L8"},
                 {A8L8, "A8L8"},
                 {V8U8, "V8U8"}};
    for (const auto& k : known)
        if (detail::pixels::same_format(f, k.make())) return k.name;
    if (f.dwFlags & DDPF_ZBUFFER) return detail::cat("Z", std::to_string(std::popcount(f.dwZBitMask)));
    if (f.dwFlags & DDPF_FOURCC) {
        std::string cc;
        for (int k = 0; k < 4; ++k) cc += char((f.dwFourCC >> (8 * k)) & 0xFF);
        return detail::cat("FOURCC ", cc);
    }
    using detail::fmt::hex;
    return detail::cat("format{flags ", hex(f.dwFlags), ", bits ", std::to_string(f.dwRGBBitCount), ", ",
                       hex(f.dwRBitMask), "/", hex(f.dwGBitMask), "/", hex(f.dwBBitMask), "/",
                       hex(f.dwRGBAlphaBitMask), "}");
}

}  // namespace formats

namespace detail::pixels {

DWORD bytes_per_pixel(const DDPIXELFORMAT& f) {
    if (f.dwFlags & DDPF_FOURCC) return 0;
    if (f.dwFlags & DDPF_PALETTEINDEXED8) return 1;
    switch (f.dwRGBBitCount) {
        case 8:
            return 1;
        case 16:
            return 2;
        case 24:
            return 3;
        case 32:
            return 4;
        default:
            return 0;
    }
}

bool same_format(const DDPIXELFORMAT& a, const DDPIXELFORMAT& b) {
    const DWORD kinds = DDPF_ALPHAPIXELS | DDPF_ALPHA | DDPF_FOURCC | DDPF_PALETTEINDEXED4 |
                        DDPF_PALETTEINDEXED8 | DDPF_RGB | DDPF_ZBUFFER | DDPF_LUMINANCE | DDPF_BUMPLUMINANCE |
                        DDPF_BUMPDUDV;
    return (a.dwFlags & kinds) == (b.dwFlags & kinds) && a.dwFourCC == b.dwFourCC &&
           a.dwRGBBitCount == b.dwRGBBitCount && a.dwRBitMask == b.dwRBitMask &&
           a.dwGBitMask == b.dwGBitMask && a.dwBBitMask == b.dwBBitMask &&
           a.dwRGBAlphaBitMask == b.dwRGBAlphaBitMask;
}

bool is_palettised(const DDPIXELFORMAT& f) {
    return (f.dwFlags & (DDPF_PALETTEINDEXED8 | DDPF_PALETTEINDEXED4)) != 0;
}

bool has_colour(const DDPIXELFORMAT& f) {
    return !is_palettised(f) &&
           !(f.dwFlags & (DDPF_FOURCC | DDPF_ZBUFFER | DDPF_BUMPDUDV | DDPF_BUMPLUMINANCE)) &&
           (f.dwFlags & (DDPF_RGB | DDPF_LUMINANCE)) && bytes_per_pixel(f) != 0;
}

uint32_t load(const uint8_t* p, DWORD bytes) {
    uint32_t v = 0;
    for (DWORD k = 0; k < bytes; ++k) v |= uint32_t(p[k]) << (8 * k);
    return v;
}

void store(uint8_t* p, DWORD bytes, uint32_t v) {
    for (DWORD k = 0; k < bytes; ++k) p[k] = uint8_t(v >> (8 * k));
}

// A channel of `mask` widened to 8 bits, rounding (so 0 and the full value stay exact);
// `absent` when the mask is empty.
static uint32_t expand(uint32_t raw, DWORD mask, uint32_t absent) {
    if (!mask) return absent;
    int shift = std::countr_zero(mask);
    uint32_t max = mask >> shift;
    uint32_t c = (raw & mask) >> shift;
    return uint32_t((uint64_t(c) * 255 + max / 2) / max);
}

static uint32_t narrow(uint32_t c8, DWORD mask) {
    if (!mask) return 0;
    int shift = std::countr_zero(mask);
    uint32_t max = mask >> shift;
    return (uint32_t((uint64_t(c8) * max + 127) / 255) << shift) & mask;
}

uint32_t to_argb(const DDPIXELFORMAT& f, uint32_t raw) {
    uint32_t a = (f.dwFlags & DDPF_ALPHAPIXELS) ? expand(raw, f.dwRGBAlphaBitMask, 255) : 255;
    if (f.dwFlags & DDPF_LUMINANCE) {
        uint32_t l = expand(raw, f.dwLuminanceBitMask, 0);
        return (a << 24) | (l << 16) | (l << 8) | l;
    }
    return (a << 24) | (expand(raw, f.dwRBitMask, 0) << 16) | (expand(raw, f.dwGBitMask, 0) << 8) |
           expand(raw, f.dwBBitMask, 0);
}

uint32_t from_argb(const DDPIXELFORMAT& f, uint32_t argb) {
    uint32_t a = argb >> 24, r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
    uint32_t alpha = (f.dwFlags & DDPF_ALPHAPIXELS) ? narrow(a, f.dwRGBAlphaBitMask) : 0;
    if (f.dwFlags & DDPF_LUMINANCE)
        return alpha | narrow((r * 77 + g * 150 + b * 29 + 128) >> 8, f.dwLuminanceBitMask);
    return alpha | narrow(r, f.dwRBitMask) | narrow(g, f.dwGBitMask) | narrow(b, f.dwBBitMask);
}

DDPIXELFORMAT display_format(DWORD bpp) {
    switch (bpp) {
        case 8:
            return formats::P8();
        case 16:
            return formats::R5G6B5();
        case 24:
            return formats::R8G8B8();
        default:
            return formats::X8R8G8B8();
    }
}

static const struct {
    D3DX_SURFACEFORMAT sf;
    DDPIXELFORMAT (*make)();
} kSurfaceFormats[] = {
    {D3DX_SF_R8G8B8, formats::R8G8B8},
    {D3DX_SF_A8R8G8B8, formats::A8R8G8B8},
    {D3DX_SF_X8R8G8B8, formats::X8R8G8B8},
    {D3DX_SF_R5G6B5, formats::R5G6B5},
    {D3DX_SF_R5G5B5, formats::X1R5G5B5},
    {D3DX_SF_PALETTE8, formats::P8},
    {D3DX_SF_A1R5G5B5, formats::A1R5G5B5},
    {D3DX_SF_A4R4G4B4, formats::A4R4G4B4},
    {D3DX_SF_L8, formats::L8},
    {D3DX_SF_A8L8, formats::A8L8},
    {D3DX_SF_U8V8, formats::V8U8},
    {D3DX_SF_R3G3B2, formats::R3G3B2},
};

bool from_surface_format(D3DX_SURFACEFORMAT sf, DDPIXELFORMAT* out) {
    for (const auto& k : kSurfaceFormats) {
        if (k.sf == sf) {
            *out = k.make();
            return true;
        }
    }
    return false;
}

D3DX_SURFACEFORMAT to_surface_format(const DDPIXELFORMAT& f) {
    for (const auto& k : kSurfaceFormats)
        if (same_format(f, k.make())) return k.sf;
    return D3DX_SF_UNKNOWN;
}

}  // namespace detail::pixels
}  // namespace vantor::testing
