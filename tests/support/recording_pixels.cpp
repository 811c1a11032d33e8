// Pixel formats of the recording back end: the standard DirectDraw formats (the shared core's),
// their names in the call log, and the layout of a surface format.
#include <bit>

#include "recording_internal.h"

namespace vantor::testing {

namespace formats {

using backend::standard_ddpf;
using backend::StandardFormat;

DDPIXELFORMAT R5G6B5() { return standard_ddpf(StandardFormat::R5G6B5); }
DDPIXELFORMAT X1R5G5B5() { return standard_ddpf(StandardFormat::X1R5G5B5); }
DDPIXELFORMAT A1R5G5B5() { return standard_ddpf(StandardFormat::A1R5G5B5); }
DDPIXELFORMAT A4R4G4B4() { return standard_ddpf(StandardFormat::A4R4G4B4); }
DDPIXELFORMAT R8G8B8() { return standard_ddpf(StandardFormat::R8G8B8); }
DDPIXELFORMAT X8R8G8B8() { return standard_ddpf(StandardFormat::X8R8G8B8); }
DDPIXELFORMAT A8R8G8B8() { return standard_ddpf(StandardFormat::A8R8G8B8); }
DDPIXELFORMAT R3G3B2() { return standard_ddpf(StandardFormat::R3G3B2); }
DDPIXELFORMAT P8() { return standard_ddpf(StandardFormat::P8); }
DDPIXELFORMAT L8() { return standard_ddpf(StandardFormat::L8); }
DDPIXELFORMAT A8L8() { return standard_ddpf(StandardFormat::A8L8); }
DDPIXELFORMAT V8U8() { return standard_ddpf(StandardFormat::V8U8); }

DDPIXELFORMAT rgb(DWORD bits, DWORD r, DWORD g, DWORD b, DWORD a) { return backend::rgb_ddpf(bits, r, g, b, a); }

DDPIXELFORMAT Z(DWORD bits) {
    DDPIXELFORMAT f{};
    f.dwSize = sizeof f;
    f.dwFlags = DDPF_ZBUFFER;
    f.dwZBufferBitDepth = bits == 24 ? 32 : bits;
    f.dwZBitMask = bits >= 32 ? 0xFFFFFFFF : (1u << bits) - 1;
    return f;
}

std::string name(const DDPIXELFORMAT& f) {
    static const struct {
        StandardFormat format;
        const char* name;
    } known[] = {{StandardFormat::R5G6B5, "R5G6B5"},     {StandardFormat::X1R5G5B5, "X1R5G5B5"},
                 {StandardFormat::A1R5G5B5, "A1R5G5B5"}, {StandardFormat::A4R4G4B4, "A4R4G4B4"},
                 {StandardFormat::R8G8B8, "R8G8B8"},     {StandardFormat::X8R8G8B8, "X8R8G8B8"},
                 {StandardFormat::A8R8G8B8, "A8R8G8B8"}, {StandardFormat::R3G3B2, "R3G3B2"},
                 {StandardFormat::P8, "P8"},             {StandardFormat::L8, "L8"},
                 {StandardFormat::A8L8, "A8L8"},         {StandardFormat::V8U8, "V8U8"}};
    backend::PixelLayout l;
    if (backend::PixelLayout::from(f, &l) && l.kind != backend::FormatKind::Depth)
        for (const auto& k : known)
            if (backend::same_layout(l, backend::PixelLayout::standard(k.format))) return k.name;
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

backend::PixelLayout layout_of(const DDPIXELFORMAT& f) {
    backend::PixelLayout l;
    if (!backend::PixelLayout::from(f, &l)) l = backend::PixelLayout{};
    return l;
}

bool has_colour(const backend::PixelLayout& l) {
    return l.bytes && (l.kind == backend::FormatKind::Rgb || l.kind == backend::FormatKind::Luminance);
}

uint32_t from_argb(const backend::PixelLayout& l, D3DCOLOR argb) {
    const uint8_t rgba[4] = {uint8_t(argb >> 16), uint8_t(argb >> 8), uint8_t(argb), uint8_t(argb >> 24)};
    return backend::encode_pixel(l, rgba, nullptr);
}

DDPIXELFORMAT display_format(DWORD bpp) {
    return backend::standard_ddpf(backend::display_format(bpp));
}

}  // namespace detail::pixels
}  // namespace vantor::testing
