// DirectDraw palettes (IDirectDrawPalette): 256 entries that 8-bit palettised surfaces index.
//
//   PALETTEENTRY entries[256] = {...};                    // {R, G, B, flags}
//   IDirectDrawPalette* pal; dd->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, entries, &pal, nullptr);
//   surface->SetPalette(pal);                              // the surface keeps a reference
//   pal->SetEntries(0, 10, 1, &red);                       // textures using it upload again
//
// GetCaps: DD_OK. GetEntries/SetEntries: DDERR_INVALIDPARAMS for null entries, flags other than
// 0, or a range beyond the 256 entries.
#pragma once

#include "com_object.h"

namespace vantor::render {

class DirectDraw;

class Palette final : public SingleInterface<IDirectDrawPalette, &IID_VantorRenderPalette> {
public:
    // DDPCAPS_8BIT is required (DDERR_INVALIDPARAMS otherwise; 1-, 2- and 4-bit palettes give
    // DDERR_UNSUPPORTED). With DDPCAPS_ALPHA the entries' flags byte is their alpha.
    static HRESULT create(DirectDraw* dd, DWORD caps, const PALETTEENTRY* entries, IDirectDrawPalette** out);

    HRESULT GetCaps(DWORD* caps) override;
    HRESULT GetEntries(DWORD flags, DWORD base, DWORD count, PALETTEENTRY* entries) override;
    HRESULT SetEntries(DWORD flags, DWORD start, DWORD count, const PALETTEENTRY* entries) override;

    // Entries as RGBA bytes (alpha from the flags byte with DDPCAPS_ALPHA, else 255).
    const uint8_t* rgba() const { return rgba_; }
    // Grows on every change, so users know when to convert again.
    uint32_t version() const { return version_; }

private:
    Palette(DirectDraw* dd, DWORD caps);
    ~Palette() override;
    void refresh_rgba(DWORD first, DWORD count);

    ComPtr<DirectDraw> dd_;
    DWORD caps_;
    PALETTEENTRY entries_[256]{};
    uint8_t rgba_[256 * 4]{};
    uint32_t version_ = 1;
    HandleEntry handle_;
};

}  // namespace vantor::render
