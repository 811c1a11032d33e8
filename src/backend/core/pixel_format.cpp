// DirectDraw pixel formats and their conversion to and from 8-bit RGBA.
#include <vantor/backend/pixel_format.h>

#include <bit>
#include <climits>
#include <cstring>

namespace vantor::backend {
namespace {

constexpr DWORD kDdpfStencilBuffer = 0x4000;  // DDPF_STENCILBUFFER

bool make_channel(uint32_t mask, uint32_t bits, Channel* c) {
    *c = Channel{};
    if (mask == 0) return true;
    if (bits < 32 && (mask >> bits) != 0) return false;  // outside the pixel
    uint32_t shift = static_cast<uint32_t>(std::countr_zero(mask));
    uint32_t width = static_cast<uint32_t>(std::popcount(mask));
    if (shift + width > 32 || (width < 32 && (mask >> shift) != (1u << width) - 1)) return false;  // not contiguous
    c->mask = mask;
    c->shift = static_cast<uint8_t>(shift);
    c->bits = static_cast<uint8_t>(width);
    return true;
}

uint8_t expand(uint32_t raw, const Channel& c) {
    if (!c.bits) return 0;
    uint32_t v = (raw & c.mask) >> c.shift;
    if (c.bits >= 8) return static_cast<uint8_t>(v >> (c.bits - 8));
    uint32_t max = c.max();
    return static_cast<uint8_t>((v * 255 + max / 2) / max);
}

uint32_t compress(uint8_t v, const Channel& c) {
    if (!c.bits) return 0;
    uint32_t out;
    if (c.bits >= 8) {
        out = static_cast<uint32_t>(v) << (c.bits - 8);
        // Fill the low bits so that 255 stays the channel's maximum.
        if (c.bits > 8) out |= (static_cast<uint32_t>(v) * ((1u << (c.bits - 8)) - 1)) / 255;
    } else {
        uint32_t max = c.max();
        out = (static_cast<uint32_t>(v) * max + 127) / 255;
    }
    return (out << c.shift) & c.mask;
}

uint8_t nearest_index(const uint8_t* palette, const uint8_t rgba[4]) {
    if (!palette) return 0;
    int best = 0;
    int best_distance = INT_MAX;
    for (int i = 0; i < 256 && best_distance; ++i) {
        const uint8_t* p = palette + i * 4;
        int dr = p[0] - rgba[0], dg = p[1] - rgba[1], db = p[2] - rgba[2];
        int d = dr * dr + dg * dg + db * db;
        if (d < best_distance) best_distance = d, best = i;
    }
    return static_cast<uint8_t>(best);
}

}  // namespace

bool PixelLayout::renderable() const {
    return kind == FormatKind::Rgb && (bits == 16 || bits == 32);
}

bool PixelLayout::from(const DDPIXELFORMAT& pf, PixelLayout* out) {
    PixelLayout l;
    l.ddpf = pf;
    DWORD f = pf.dwFlags;
    if (pf.dwSize != sizeof(DDPIXELFORMAT)) return false;
    if (f & (DDPF_FOURCC | DDPF_PALETTEINDEXED4 | DDPF_BUMPLUMINANCE | DDPF_ALPHA)) return false;
    if (f & DDPF_PALETTEINDEXED8) {
        if (f & ~(DDPF_PALETTEINDEXED8 | DDPF_RGB)) return false;
        if (pf.dwRGBBitCount != 8) return false;
        l.kind = FormatKind::Palette8;
        l.bits = 8;
        l.bytes = 1;
        l.ddpf.dwFlags = DDPF_PALETTEINDEXED8 | DDPF_RGB;
        l.ddpf.dwRBitMask = l.ddpf.dwGBitMask = l.ddpf.dwBBitMask = l.ddpf.dwRGBAlphaBitMask = 0;
        *out = l;
        return true;
    }
    uint32_t bits = pf.dwRGBBitCount;
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    l.bits = bits;
    l.bytes = bits / 8;
    bool alpha = (f & DDPF_ALPHAPIXELS) != 0;
    if (f & DDPF_ZBUFFER) {
        if (f & ~(DDPF_ZBUFFER | kDdpfStencilBuffer)) return false;
        l.kind = FormatKind::Depth;
        if (!make_channel(pf.dwZBitMask, bits, &l.r) || !l.r.bits) return false;
        if (!make_channel((f & kDdpfStencilBuffer) ? pf.dwStencilBitMask : 0, bits, &l.g)) return false;
        if (l.r.mask & l.g.mask) return false;
    } else if (f & DDPF_LUMINANCE) {
        if (f & ~(DDPF_LUMINANCE | DDPF_ALPHAPIXELS)) return false;
        l.kind = FormatKind::Luminance;
        if (!make_channel(pf.dwLuminanceBitMask, bits, &l.r) || !l.r.bits) return false;
        if (!make_channel(alpha ? pf.dwLuminanceAlphaBitMask : 0, bits, &l.a)) return false;
        if (alpha && !l.a.bits) return false;
        if (l.r.mask & l.a.mask) return false;
    } else if (f & DDPF_BUMPDUDV) {
        // Signed Du and Dv of 8 bits each (V8U8).
        if (f != DDPF_BUMPDUDV || bits != 16 || pf.dwBumpDuBitMask != 0x00FF || pf.dwBumpDvBitMask != 0xFF00)
            return false;
        l.kind = FormatKind::BumpDuDv;
        make_channel(0x00FF, bits, &l.r);
        make_channel(0xFF00, bits, &l.g);
    } else if (f & DDPF_RGB) {
        if (f & ~(DDPF_RGB | DDPF_ALPHAPIXELS)) return false;
        l.kind = FormatKind::Rgb;
        if (!make_channel(pf.dwRBitMask, bits, &l.r) || !make_channel(pf.dwGBitMask, bits, &l.g) ||
            !make_channel(pf.dwBBitMask, bits, &l.b) || !make_channel(alpha ? pf.dwRGBAlphaBitMask : 0, bits, &l.a))
            return false;
        if (!l.r.bits || !l.g.bits || !l.b.bits || (alpha && !l.a.bits)) return false;
        if ((l.r.mask & l.g.mask) || (l.r.mask & l.b.mask) || (l.g.mask & l.b.mask) ||
            ((l.r.mask | l.g.mask | l.b.mask) & l.a.mask))
            return false;
    } else {
        return false;
    }
    *out = l;
    return true;
}

DDPIXELFORMAT rgb_ddpf(DWORD bits, DWORD r, DWORD g, DWORD b, DWORD a) {
    DDPIXELFORMAT p{};
    p.dwSize = sizeof p;
    p.dwFlags = DDPF_RGB | (a ? DDPF_ALPHAPIXELS : 0);
    p.dwRGBBitCount = bits;
    p.dwRBitMask = r;
    p.dwGBitMask = g;
    p.dwBBitMask = b;
    p.dwRGBAlphaBitMask = a;
    return p;
}

DDPIXELFORMAT standard_ddpf(StandardFormat f) {
    DDPIXELFORMAT p{};
    p.dwSize = sizeof p;
    auto rgb = [&](DWORD bits, DWORD r, DWORD g, DWORD b, DWORD a) { p = rgb_ddpf(bits, r, g, b, a); };
    switch (f) {
        case StandardFormat::R5G6B5: rgb(16, 0xF800, 0x07E0, 0x001F, 0); break;
        case StandardFormat::X1R5G5B5: rgb(16, 0x7C00, 0x03E0, 0x001F, 0); break;
        case StandardFormat::A1R5G5B5: rgb(16, 0x7C00, 0x03E0, 0x001F, 0x8000); break;
        case StandardFormat::A4R4G4B4: rgb(16, 0x0F00, 0x00F0, 0x000F, 0xF000); break;
        case StandardFormat::R8G8B8: rgb(24, 0xFF0000, 0xFF00, 0xFF, 0); break;
        case StandardFormat::X8R8G8B8: rgb(32, 0xFF0000, 0xFF00, 0xFF, 0); break;
        case StandardFormat::A8R8G8B8: rgb(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000); break;
        case StandardFormat::P8:
            p.dwFlags = DDPF_PALETTEINDEXED8 | DDPF_RGB;
            p.dwRGBBitCount = 8;
            break;
        case StandardFormat::L8:
            p.dwFlags = DDPF_LUMINANCE;
            p.dwLuminanceBitCount = 8;
            p.dwLuminanceBitMask = 0xFF;
            break;
        case StandardFormat::A8L8:
            p.dwFlags = DDPF_LUMINANCE | DDPF_ALPHAPIXELS;
            p.dwLuminanceBitCount = 16;
            p.dwLuminanceBitMask = 0x00FF;
            p.dwLuminanceAlphaBitMask = 0xFF00;
            break;
        case StandardFormat::V8U8:
            p.dwFlags = DDPF_BUMPDUDV;
            p.dwBumpBitCount = 16;
            p.dwBumpDuBitMask = 0x00FF;
            p.dwBumpDvBitMask = 0xFF00;
            break;
        case StandardFormat::D16:
            p.dwFlags = DDPF_ZBUFFER;
            p.dwZBufferBitDepth = 16;
            p.dwZBitMask = 0xFFFF;
            break;
        case StandardFormat::D24S8:
            // GL's packed depth-stencil word: depth in the high 24 bits, stencil in the low 8.
            p.dwFlags = DDPF_ZBUFFER | kDdpfStencilBuffer;
            p.dwZBufferBitDepth = 32;
            p.dwZBitMask = 0xFFFFFF00;
            p.dwStencilBitMask = 0x000000FF;
            break;
        case StandardFormat::D32:
            p.dwFlags = DDPF_ZBUFFER;
            p.dwZBufferBitDepth = 32;
            p.dwZBitMask = 0xFFFFFFFF;
            break;
        case StandardFormat::R3G3B2: rgb(8, 0xE0, 0x1C, 0x03, 0); break;
    }
    return p;
}

PixelLayout PixelLayout::standard(StandardFormat f) {
    PixelLayout l;
    PixelLayout::from(standard_ddpf(f), &l);
    return l;
}

namespace {

const struct {
    StandardFormat f;
    D3DX_SURFACEFORMAT sf;
} kSurfaceFormatNames[] = {
    {StandardFormat::R5G6B5, D3DX_SF_R5G6B5},     {StandardFormat::X1R5G5B5, D3DX_SF_R5G5B5},
    {StandardFormat::A1R5G5B5, D3DX_SF_A1R5G5B5}, {StandardFormat::A4R4G4B4, D3DX_SF_A4R4G4B4},
    {StandardFormat::R8G8B8, D3DX_SF_R8G8B8},     {StandardFormat::X8R8G8B8, D3DX_SF_X8R8G8B8},
    {StandardFormat::A8R8G8B8, D3DX_SF_A8R8G8B8}, {StandardFormat::P8, D3DX_SF_PALETTE8},
    {StandardFormat::L8, D3DX_SF_L8},             {StandardFormat::A8L8, D3DX_SF_A8L8},
    {StandardFormat::V8U8, D3DX_SF_U8V8},         {StandardFormat::D16, D3DX_SF_Z16S0},
    {StandardFormat::D24S8, D3DX_SF_Z24S8},       {StandardFormat::D32, D3DX_SF_Z32S0},
    {StandardFormat::R3G3B2, D3DX_SF_R3G3B2},
};

}  // namespace

StandardFormat display_format(DWORD bpp) {
    switch (bpp) {
        case 8: return StandardFormat::P8;
        case 16: return StandardFormat::R5G6B5;
        case 24: return StandardFormat::R8G8B8;
        default: return StandardFormat::X8R8G8B8;
    }
}

bool same_layout(const PixelLayout& a, const PixelLayout& b) {
    return a.kind == b.kind && a.bits == b.bits && a.r.mask == b.r.mask && a.g.mask == b.g.mask &&
           a.b.mask == b.b.mask && a.a.mask == b.a.mask;
}

D3DX_SURFACEFORMAT surface_format_of(const PixelLayout& l) {
    for (const auto& n : kSurfaceFormatNames)
        if (same_layout(PixelLayout::standard(n.f), l)) return n.sf;
    return D3DX_SF_UNKNOWN;
}

bool standard_format_of(D3DX_SURFACEFORMAT sf, StandardFormat* out) {
    for (const auto& n : kSurfaceFormatNames) {
        if (n.sf == sf) {
            *out = n.f;
            return true;
        }
    }
    return false;
}

uint32_t read_pixel(const uint8_t* p, uint32_t bytes) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return v;
}

void write_pixel(uint8_t* p, uint32_t bytes, uint32_t value) {
    for (uint32_t i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

void decode_row(const PixelLayout& l, const uint8_t* src, uint32_t count, const uint8_t* palette, uint8_t* rgba) {
    for (uint32_t i = 0; i < count; ++i, src += l.bytes, rgba += 4) {
        uint32_t raw = read_pixel(src, l.bytes);
        switch (l.kind) {
            case FormatKind::Rgb:
                rgba[0] = expand(raw, l.r);
                rgba[1] = expand(raw, l.g);
                rgba[2] = expand(raw, l.b);
                rgba[3] = l.a.bits ? expand(raw, l.a) : 255;
                break;
            case FormatKind::Palette8:
                if (palette) {
                    const uint8_t* e = palette + (raw & 0xFF) * 4;
                    rgba[0] = e[0], rgba[1] = e[1], rgba[2] = e[2], rgba[3] = e[3];
                } else {
                    rgba[0] = rgba[1] = rgba[2] = 0, rgba[3] = 255;
                }
                break;
            case FormatKind::Luminance:
                rgba[0] = rgba[1] = rgba[2] = expand(raw, l.r);
                rgba[3] = l.a.bits ? expand(raw, l.a) : 255;
                break;
            case FormatKind::BumpDuDv:
                // Signed Du/Dv are stored biased by 128 so that they survive an unsigned texture.
                rgba[0] = static_cast<uint8_t>((raw & 0xFF) ^ 0x80);
                rgba[1] = static_cast<uint8_t>(((raw >> 8) & 0xFF) ^ 0x80);
                rgba[2] = 255;
                rgba[3] = 255;
                break;
            case FormatKind::Depth:
                rgba[0] = rgba[1] = rgba[2] = expand(raw, l.r);
                rgba[3] = 255;
                break;
        }
    }
}

uint32_t encode_pixel(const PixelLayout& l, const uint8_t rgba[4], const uint8_t* palette) {
    switch (l.kind) {
        case FormatKind::Rgb:
            return compress(rgba[0], l.r) | compress(rgba[1], l.g) | compress(rgba[2], l.b) | compress(rgba[3], l.a);
        case FormatKind::Palette8: return nearest_index(palette, rgba);
        case FormatKind::Luminance: {
            // Rec. 601 luma of the colour.
            uint32_t y = (rgba[0] * 299u + rgba[1] * 587u + rgba[2] * 114u + 500u) / 1000u;
            return compress(static_cast<uint8_t>(y), l.r) | compress(rgba[3], l.a);
        }
        case FormatKind::BumpDuDv: return static_cast<uint32_t>(rgba[0] ^ 0x80) | (static_cast<uint32_t>(rgba[1] ^ 0x80) << 8);
        case FormatKind::Depth: return compress(rgba[0], l.r);
    }
    return 0;
}

void encode_row(const PixelLayout& l, const uint8_t* rgba, uint32_t count, const uint8_t* palette, uint8_t* dst) {
    for (uint32_t i = 0; i < count; ++i, rgba += 4, dst += l.bytes) write_pixel(dst, l.bytes, encode_pixel(l, rgba, palette));
}

HRESULT check_palette_caps(DWORD caps) {
    // DDPCAPS values the header does not name.
    constexpr DWORD k1Bit = 0x100, k2Bit = 0x200, k8BitEntries = 0x2, kPrimarySurface = 0x10,
                    kPrimarySurfaceLeft = 0x20, kVsync = 0x80, kInitialize = 0x8;
    constexpr DWORD kKnown = DDPCAPS_4BIT | k8BitEntries | DDPCAPS_8BIT | kInitialize | kPrimarySurface |
                             kPrimarySurfaceLeft | DDPCAPS_ALLOW256 | kVsync | k1Bit | k2Bit | DDPCAPS_ALPHA;
    if (caps & ~kKnown) return DDERR_INVALIDPARAMS;
    DWORD size_bits = caps & (k1Bit | k2Bit | DDPCAPS_4BIT | DDPCAPS_8BIT);
    if (size_bits != DDPCAPS_8BIT) return size_bits ? DDERR_UNSUPPORTED : DDERR_INVALIDPARAMS;
    return DD_OK;
}

bool palette_range_ok(DWORD flags, DWORD start, DWORD count) { return !flags && start <= 256 && count <= 256 - start; }

bool rect_inside(const RECT& r, DWORD w, DWORD h) {
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom && static_cast<DWORD>(r.right) <= w &&
           static_cast<DWORD>(r.bottom) <= h;
}

void fill(const PixelRegion& r, uint32_t value) {
    const uint32_t bytes = r.layout->bytes;
    for (LONG y = r.rect.top; y < r.rect.bottom; ++y) {
        uint8_t* p = r.bits + static_cast<size_t>(y) * r.pitch + static_cast<size_t>(r.rect.left) * bytes;
        for (LONG x = r.rect.left; x < r.rect.right; ++x, p += bytes) write_pixel(p, bytes, value);
    }
}

void blit(const PixelRegion& dst, const PixelRegion& src, const DDCOLORKEY* key) {
    const PixelLayout &dl = *dst.layout, &sl = *src.layout;
    const bool raw = same_layout(dl, sl);
    const RECT &dr = dst.rect, &sr = src.rect;
    const LONG sw = sr.right - sr.left, sh = sr.bottom - sr.top, dw = dr.right - dr.left, dh = dr.bottom - dr.top;
    const size_t src_row = static_cast<size_t>(sw) * sl.bytes;
    std::vector<uint8_t> source(src_row * static_cast<size_t>(sh));
    for (LONG y = 0; y < sh; ++y)
        std::memcpy(source.data() + static_cast<size_t>(y) * src_row,
                    src.bits + static_cast<size_t>(sr.top + y) * src.pitch + static_cast<size_t>(sr.left) * sl.bytes,
                    src_row);
    std::vector<uint8_t> rgba(raw ? 0 : static_cast<size_t>(sw) * 4);
    for (LONG y = 0; y < dh; ++y) {
        LONG sy = static_cast<LONG>((static_cast<int64_t>(2 * y + 1) * sh) / (2 * static_cast<int64_t>(dh)));
        const uint8_t* srow = source.data() + static_cast<size_t>(sy) * src_row;
        if (!raw) decode_row(sl, srow, static_cast<uint32_t>(sw), src.palette, rgba.data());
        uint8_t* drow = dst.bits + static_cast<size_t>(dr.top + y) * dst.pitch + static_cast<size_t>(dr.left) * dl.bytes;
        for (LONG x = 0; x < dw; ++x, drow += dl.bytes) {
            LONG sx = static_cast<LONG>((static_cast<int64_t>(2 * x + 1) * sw) / (2 * static_cast<int64_t>(dw)));
            uint32_t value = read_pixel(srow + static_cast<size_t>(sx) * sl.bytes, sl.bytes);
            if (key && value >= key->dwColorSpaceLowValue && value <= key->dwColorSpaceHighValue) continue;
            if (!raw) value = encode_pixel(dl, rgba.data() + static_cast<size_t>(sx) * 4, dst.palette);
            write_pixel(drow, dl.bytes, value);
        }
    }
}

}  // namespace vantor::backend
