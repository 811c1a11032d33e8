// DirectDraw palettes.
#include "palette.h"

#include "directdraw.h"

#include <vantor/backend/pixel_format.h>

#include <new>

namespace vantor::render {

HRESULT Palette::create(DirectDraw* dd, DWORD caps, const PALETTEENTRY* entries, IDirectDrawPalette** out) {
    clear_out(out);
    if (!out || !entries) return DDERR_INVALIDPARAMS;
    if (HRESULT hr = backend::check_palette_caps(caps); FAILED(hr)) return hr;
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
    if (!entries || !backend::palette_range_ok(flags, base, count)) return DDERR_INVALIDPARAMS;
    for (DWORD i = 0; i < count; ++i) entries[i] = entries_[base + i];
    return DD_OK;
}

HRESULT Palette::SetEntries(DWORD flags, DWORD start, DWORD count, const PALETTEENTRY* entries) {
    if (!entries || !backend::palette_range_ok(flags, start, count)) return DDERR_INVALIDPARAMS;
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
