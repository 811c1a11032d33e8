#include "texture/registry.h"

#include <vantor/backend/ddraw.h>

#include <algorithm>
#include <cstring>

namespace vantor {

namespace {

// Names compare ignoring case as the ANSI code page (Windows-1252) does: ASCII letters, the
// Latin-1 letters À to Þ (not ×) and Š, Œ, Ž, Ÿ fold to their small forms. A name is read as
// UTF-8 where it is valid and byte by byte as Windows-1252 elsewhere, so "É" matches "é" whether
// it came from a script (UTF-8) or from a file written on Windows.
char32_t windows_1252(unsigned char b) {
    static const char16_t kHigh[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                       0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    return b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b;
}

// The next character of s from `at` (advanced past it).
char32_t next_character(const std::string& s, size_t& at) {
    const auto b = static_cast<unsigned char>(s[at]);
    const size_t length = b < 0xC2 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF5 ? 4 : 1;
    if (length > 1 && at + length <= s.size()) {
        char32_t c = b & (0x7F >> length);
        bool valid = true;
        for (size_t i = 1; i < length && valid; ++i) {
            const auto t = static_cast<unsigned char>(s[at + i]);
            valid = (t & 0xC0) == 0x80;
            c = (c << 6) | (t & 0x3F);
        }
        const char32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (valid && c >= least && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF)) {
            at += length;
            return c;
        }
    }
    ++at;
    return windows_1252(b);
}

char32_t small_letter(char32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
    switch (c) {
        case 0x0160: return 0x0161;  // Š
        case 0x0152: return 0x0153;  // Œ
        case 0x017D: return 0x017E;  // Ž
        case 0x0178: return 0x00FF;  // Ÿ
        default: return c;
    }
}

bool same_name(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size())
        if (small_letter(next_character(a, i)) != small_letter(next_character(b, j))) return false;
    return i == a.size() && j == b.size();
}

// The pixel format wished for an image, and the first offered format that fits it.
struct FormatChoice {
    DWORD bits;
    bool palette;
    bool alpha;
    bool found = false;
    DDPIXELFORMAT format{};
};

HRESULT choose_format(DDPIXELFORMAT* f, void* context) {
    auto* c = static_cast<FormatChoice*>(context);
    if (!f || (f->dwFlags & (DDPF_LUMINANCE | DDPF_BUMPLUMINANCE | DDPF_BUMPDUDV))) return D3DENUMRET_OK;
    bool fits;
    if (c->palette) {
        fits = (f->dwFlags & DDPF_PALETTEINDEXED8) != 0;
    } else {
        fits = f->dwRGBBitCount >= 16 && !(f->dwFlags & DDPF_FOURCC) && f->dwRGBAlphaBitMask != 0xF000 &&
               ((f->dwFlags & DDPF_ALPHAPIXELS) != 0) == c->alpha && f->dwRGBBitCount == c->bits;
    }
    if (!fits) return D3DENUMRET_OK;
    c->found = true;
    c->format = *f;
    return D3DENUMRET_CANCEL;
}

DWORD round_up_to_power_of_two(DWORD v) {
    DWORD p = 1;
    while (p < v && p < 0x80000000u) p <<= 1;
    return p;
}

// A system-memory surface like the texture, at the image's size, to copy the image through.
ComPtr<IDirectDrawSurface7> make_staging(IDirectDraw7* dd, IDirectDrawSurface7* texture, DWORD width, DWORD height) {
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof desc;
    if (FAILED(texture->GetSurfaceDesc(&desc))) return {};
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT | DDSD_TEXTURESTAGE;
    desc.ddsCaps.dwCaps = DDSCAPS_TEXTURE | DDSCAPS_SYSTEMMEMORY;
    desc.ddsCaps.dwCaps2 = 0;
    desc.dwWidth = width;
    desc.dwHeight = height;
    desc.lpSurface = nullptr;
    desc.lPitch = 0;
    ComPtr<IDirectDrawSurface7> staging;
    if (FAILED(dd->CreateSurface(&desc, staging.put(), nullptr))) return {};
    return staging;
}

ComPtr<IDirectDraw7> directdraw_of(IDirectDrawSurface7* surface) {
    ComPtr<IDirectDraw7> dd;
    void* p = nullptr;
    if (SUCCEEDED(surface->GetDDInterface(&p))) dd = adopt(static_cast<IDirectDraw7*>(p));
    return dd;
}

void copy_bitmap(Container& c, IDirectDrawSurface7* texture) {
    ComPtr<IDirectDraw7> dd = directdraw_of(texture);
    BITMAP bm{};
    if (!dd || !GetObjectA(c.bitmap, sizeof bm, &bm)) return;
    ComPtr<IDirectDrawSurface7> staging = make_staging(dd.get(), texture, static_cast<DWORD>(bm.bmWidth),
                                                      static_cast<DWORD>(bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight));
    if (!staging) return;
    HDC memory = CreateCompatibleDC(0);
    if (!memory) return;
    HGDIOBJ previous = SelectObject(memory, c.bitmap);
    DDPIXELFORMAT format{};
    format.dwSize = sizeof format;
    texture->GetPixelFormat(&format);
    if (format.dwRGBBitCount == 8) {
        // GDI's colour table is blue, green, red; a DirectDraw palette red, green, blue.
        RGBQUAD table[256] = {};
        UINT n = GetDIBColorTable(memory, 0, 256, table);
        PALETTEENTRY entries[256] = {};
        for (UINT i = 0; i < n; ++i) entries[i] = {table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, 0};
        ComPtr<IDirectDrawPalette> palette;
        if (SUCCEEDED(dd->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, entries, palette.put(), nullptr))) {
            staging->SetPalette(palette.get());
            texture->SetPalette(palette.get());
        }
    }
    HDC target = 0;
    if (SUCCEEDED(staging->GetDC(&target))) {
        BitBlt(target, 0, 0, bm.bmWidth, bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight, memory, 0, 0, SRCCOPY);
        staging->ReleaseDC(target);
    }
    SelectObject(memory, previous);
    DeleteDC(memory);
    texture->Blt(nullptr, staging.get(), nullptr, DDBLT_WAIT, nullptr);
}

// Where an 8-bit component lands in a pixel of `mask`.
struct Channel {
    DWORD mask, shift = 0, width = 0;
    explicit Channel(DWORD m) : mask(m) {
        if (!m) return;
        while (!((m >> shift) & 1)) ++shift;
        while (shift + width < 32 && ((m >> (shift + width)) & 1)) ++width;
    }
    DWORD place(DWORD component) const {
        if (!width) return 0;
        DWORD v = width >= 8 ? component << (width - 8) : component >> (8 - width);
        return (v << shift) & mask;
    }
};

void copy_pixels(Container& c, IDirectDrawSurface7* texture) {
    ComPtr<IDirectDraw7> dd = directdraw_of(texture);
    if (!dd || c.pixels.size() < static_cast<size_t>(c.width) * c.height) return;
    ComPtr<IDirectDrawSurface7> staging = make_staging(dd.get(), texture, c.width, c.height);
    if (!staging) return;
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof desc;
    HRESULT hr;
    while ((hr = staging->Lock(nullptr, &desc, DDLOCK_WAIT, 0)) == DDERR_WASSTILLDRAWING) {
    }
    if (FAILED(hr)) return;
    const DDPIXELFORMAT& f = desc.ddpfPixelFormat;
    Channel red(f.dwRBitMask), green(f.dwGBitMask), blue(f.dwBBitMask), alpha(f.dwRGBAlphaBitMask);
    const DWORD bytes = (f.dwRGBBitCount + 7) / 8;
    const DWORD rows = std::min(desc.dwHeight, c.height), columns = std::min(desc.dwWidth, c.width);
    for (DWORD y = 0; y < rows; ++y) {
        auto* row = static_cast<BYTE*>(desc.lpSurface) + static_cast<size_t>(y) * desc.lPitch;
        for (DWORD x = 0; x < columns; ++x) {
            uint32_t w = c.pixels[static_cast<size_t>(y) * c.width + x];
            DWORD value = red.place(w >> 24) + green.place((w >> 16) & 0xFF) + blue.place((w >> 8) & 0xFF) +
                          alpha.place(w & 0xFF);
            // As many bytes as the surface's pixels have (8-bit palette formats take one).
            std::memcpy(row + static_cast<size_t>(x) * bytes, &value, std::min<DWORD>(bytes, 4));
        }
    }
    staging->Unlock(nullptr);
    texture->Blt(nullptr, staging.get(), nullptr, DDBLT_WAIT, nullptr);
}

}  // namespace

TextureRegistry& texture_registry() {
    static TextureRegistry* r = new TextureRegistry;  // lives for the process
    return *r;
}

Container* TextureRegistry::create(const std::string& name, DWORD stage, DWORD flags) {
    auto* c = new (std::nothrow) Container;
    if (!c) return nullptr;
    c->name = name;
    c->stage = stage;
    c->flags = flags;
    c->next = head_;
    head_ = c;
    ++generation_;
    return c;
}

void TextureRegistry::destroy(Container* c) {
    if (!c) return;
    ++generation_;
    for (Container** link = &head_; *link; link = &(*link)->next) {
        if (*link == c) {
            *link = c->next;
            break;
        }
    }
    c->surface.reset();
    if (c->bitmap) DeleteObject(c->bitmap);
    delete c;
}

Container* TextureRegistry::find(const std::string& name) const {
    for (Container* c = head_; c; c = c->next)
        if (same_name(c->name, name)) return c;
    return nullptr;
}

IDirectDrawSurface7* TextureRegistry::surface_of(const std::string& name) const {
    Container* c = find(name);
    return c ? c->surface.get() : nullptr;
}

HRESULT TextureRegistry::destroy_by_name(const std::string& name) {
    destroy(find(name));
    return S_OK;
}

HRESULT TextureRegistry::restore(const std::string& name, IDirect3DDevice7* device) {
    Container* c = find(name);
    return c ? restore(c, device) : DDERR_NOTFOUND;
}

HRESULT TextureRegistry::restore(Container* c, IDirect3DDevice7* device) {
    c->surface.reset();
    if (!device) return DDERR_INVALIDOBJECT;
    D3DDEVICEDESC7 caps{};
    HRESULT hr = device->GetCaps(&caps);
    if (FAILED(hr)) return hr;

    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT | DDSD_TEXTURESTAGE;
    desc.ddsCaps.dwCaps = DDSCAPS_TEXTURE;
    desc.dwTextureStage = c->stage;
    desc.dwWidth = c->width;
    desc.dwHeight = c->height;
    // Hardware devices manage their textures; the others draw from system memory.
    if (caps.deviceGUID == IID_IDirect3DHALDevice || caps.deviceGUID == IID_IDirect3DTnLHalDevice)
        desc.ddsCaps.dwCaps2 = DDSCAPS2_TEXTUREMANAGE;
    else
        desc.ddsCaps.dwCaps |= DDSCAPS_SYSTEMMEMORY;
    const DWORD texture_caps = caps.dpcTriCaps.dwTextureCaps;
    if (texture_caps & D3DPTEXTURECAPS_POW2) {
        desc.dwWidth = round_up_to_power_of_two(desc.dwWidth);
        desc.dwHeight = round_up_to_power_of_two(desc.dwHeight);
    }
    DWORD max_width = caps.dwMaxTextureWidth ? caps.dwMaxTextureWidth : 256;
    DWORD max_height = caps.dwMaxTextureHeight ? caps.dwMaxTextureHeight : 256;
    desc.dwWidth = std::min(desc.dwWidth, max_width);
    desc.dwHeight = std::min(desc.dwHeight, max_height);
    if (texture_caps & D3DPTEXTURECAPS_SQUAREONLY) desc.dwWidth = desc.dwHeight = std::max(desc.dwWidth, desc.dwHeight);

    FormatChoice choice{c->bits, c->bits <= 8, c->has_alpha};
    device->EnumTextureFormats(choose_format, &choice);
    if (!choice.found) {
        choice = FormatChoice{16, false, c->has_alpha};
        device->EnumTextureFormats(choose_format, &choice);
    }
    if (!choice.found) return DDERR_INVALIDPIXELFORMAT;
    desc.ddpfPixelFormat = choice.format;

    ComPtr<IDirectDrawSurface7> target;
    if (FAILED(hr = device->GetRenderTarget(target.put()))) return hr;
    ComPtr<IDirectDraw7> dd = directdraw_of(target.get());
    if (!dd) return DDERR_INVALIDOBJECT;
    ComPtr<IDirectDrawSurface7> surface;
    if (FAILED(hr = dd->CreateSurface(&desc, surface.put(), nullptr))) return hr;
    if (c->bitmap) copy_bitmap(*c, surface.get());
    else if (!c->pixels.empty()) copy_pixels(*c, surface.get());
    c->surface = std::move(surface);
    return S_OK;
}

HRESULT TextureRegistry::restore_all(IDirect3DDevice7* device) {
    for (Container* c = head_; c; c = c->next) restore(c->name, device);
    return S_OK;
}

void TextureRegistry::invalidate_all() {
    for (Container* c = head_; c; c = c->next) c->surface.reset();
}

bool TextureRegistry::holds(const Container* c) const {
    for (const Container* i = head_; i; i = i->next)
        if (i == c) return true;
    return false;
}

size_t TextureRegistry::size() const {
    size_t n = 0;
    for (Container* c = head_; c; c = c->next) ++n;
    return n;
}

}  // namespace vantor
