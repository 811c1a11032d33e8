// DirectDraw palettes.
#include "palette.h"

#include "directdraw.h"

#include <new>

namespace vantor::render {
namespace {
constexpr DWORD kPaletteCaps1Bit = 0x100;
constexpr DWORD kPaletteCaps2Bit = 0x200;
constexpr DWORD kPaletteCaps8BitEntries = 0x2;
constexpr DWORD kPaletteCapsPrimarySurface = 0x10;
constexpr DWORD kPaletteCapsPrimarySurfaceLeft = 0x20;
constexpr DWORD kPaletteCapsVsync = 0x80;
constexpr DWORD kPaletteCapsInitialize = 0x8;
constexpr DWORD kKnownCaps = DDPCAPS_4BIT | kPaletteCaps8BitEntries | DDPCAPS_8BIT | kPaletteCapsInitialize |
                             kPaletteCapsPrimarySurface | kPaletteCapsPrimarySurfaceLeft | DDPCAPS_ALLOW256 |
                             kPaletteCapsVsync | kPaletteCaps1Bit | kPaletteCaps2Bit | DDPCAPS_ALPHA;
}  // namespace

HRESULT Palette::create(DirectDraw* dd, DWORD caps, const PALETTEENTRY* entries, IDirectDrawPalette** out) {
    clear_out(out);
    if (!out || !entries || (caps & ~kKnownCaps)) return DDERR_INVALIDPARAMS;
    DWORD size_bits = caps & (kPaletteCaps1Bit | kPaletteCaps2Bit | DDPCAPS_4BIT | DDPCAPS_8BIT);
    if (size_bits != DDPCAPS_8BIT) return size_bits ? DDERR_UNSUPPORTED : DDERR_INVALIDPARAMS;
    Palette* p = new (std::nothrow) Palette(dd, caps);
    if (!p) return DDERR_OUTOFMEMORY;
    for (int i = 0; i < 256; ++i) p->entries_[i] = entries[i];
    p->refresh_rgba(0, 256);
    *out = p;
    return DD_OK;
}

Palette::Palette(DirectDraw* dd, DWORD caps) : dd_(share(dd)), caps_(caps), handle_(static_cast<IDirectDrawPalette*>(this)) {}
Palette::~Palette() = default;

HRESULT Palette::GetCaps(DWORD* caps) {
    if (!caps) return DDERR_INVALIDPARAMS;
    *caps = caps_;
    return DD_OK;
}

HRESULT Palette::GetEntries(DWORD flags, DWORD base, DWORD count, PALETTEENTRY* entries) {
    if (!entries || flags || base > 256 || count > 256 - base) return DDERR_INVALIDPARAMS;
    for (DWORD i = 0; i < count; ++i) entries[i] = entries_[base + i];
    return DD_OK;
}

HRESULT Palette::SetEntries(DWORD flags, DWORD start, DWORD count, const PALETTEENTRY* entries) {
    if (!entries || flags || start > 256 || count > 256 - start) return DDERR_INVALIDPARAMS;
    for (DWORD i = 0; i < count; ++i) entries_[start + i] = entries[i];
    refresh_rgba(start, count);
    ++version_;
    return DD_OK;
}

void Palette::refresh_rgba(DWORD first, DWORD count) {
    for (DWORD i = first; i < first + count; ++i) {
        rgba_[i * 4 + 0] = entries_[i].peRed;
        rgba_[i * 4 + 1] = entries_[i].peGreen;
        rgba_[i * 4 + 2] = entries_[i].peBlue;
        rgba_[i * 4 + 3] = (caps_ & DDPCAPS_ALPHA) ? entries_[i].peFlags : 255;
    }
}

}  // namespace vantor::render
