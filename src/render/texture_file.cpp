#include "texture_file.h"

#include <vantor/backend/device_state.h>
#include <vantor/file.h>
#include <vantor/gdi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pixel_format.h"

// stb_image is third-party code: as a system header its warnings are its own, and under the
// sanitizers so is its arithmetic.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((no_sanitize("undefined"))), apply_to = function)
#endif
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_NO_STDIO
#define STBI_MAX_DIMENSIONS 32768
#include <stb/stb_image.h>
#if defined(__clang__)
#pragma clang attribute pop
#endif

namespace vantor::render {

namespace {

struct Image {
    int width = 0, height = 0;
    bool alpha = false;         // the file has an alpha channel
    std::vector<uint8_t> rgba;  // R, G, B, A bytes, top row first
};

bool starts_with(const std::vector<uint8_t>& data, std::string_view magic) {
    return data.size() >= magic.size() &&
           std::equal(magic.begin(), magic.end(), data.begin(),
                      [](char m, uint8_t b) { return static_cast<uint8_t>(m) == b; });
}

// Targa files have no signature: stb_image reads whatever has none of the others' as one, and
// reads missing pixels as zeros. A Targa file must hold every pixel its header promises.
bool targa_complete(const std::vector<uint8_t>& d) {
    for (std::string_view magic :
         {"BM", "\x89PNG", "\xFF\xD8", "GIF8", "8BPS", "#?", "P5", "P6", "\x53\x80\xF6\x34"})
        if (starts_with(d, magic)) return true;  // another format, with checks of its own
    const size_t n = d.size();
    if (n < 18) return false;
    const uint64_t map_bytes = d[1] ? uint64_t(d[5] | d[6] << 8) * ((d[7] + 7u) / 8) : 0;
    const uint64_t count = uint64_t(d[12] | d[13] << 8) * uint64_t(d[14] | d[15] << 8);
    const uint64_t bytes = std::max(1u, (d[16] + 7u) / 8);
    uint64_t at = 18 + d[0] + map_bytes;
    if (at > n) return false;
    if (d[2] < 8) return n - at >= count * bytes;
    for (uint64_t done = 0; done < count;) {  // run-length packets
        if (at >= n) return false;
        const uint8_t h = d[at++];
        const uint64_t k = (h & 0x7Fu) + 1;
        const uint64_t packet = (h & 0x80) ? bytes : k * bytes;
        if (n - at < packet) return false;
        at += packet;
        done += k;
    }
    return true;
}

// Bitmaps go through the platform's own reader first, which refuses damaged files that
// stb_image would read with zeros in place of the missing pixels.
bool bitmap_sound(const std::vector<uint8_t>& d) {
    if (!starts_with(d, "BM")) return true;
    HBITMAP b = VantorLoadBitmapFromMemory(d.data(), d.size());
    if (!b) return false;
    DeleteObject(b);
    return true;
}

HRESULT decode(const std::vector<uint8_t>& data, Image* image) {
    if (data.empty() || data.size() > INT32_MAX) return D3DXERR_UNSUPPORTEDFILEFORMAT;
    if (!targa_complete(data) || !bitmap_sound(data)) return D3DXERR_UNSUPPORTEDFILEFORMAT;
    const int size = static_cast<int>(data.size());
    int w = 0, h = 0, channels = 0;
    if (!stbi_info_from_memory(data.data(), size, &w, &h, &channels)) return D3DXERR_UNSUPPORTEDFILEFORMAT;
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(data.data(), size, &w, &h, &channels, 4), stbi_image_free);
    if (!pixels || w <= 0 || h <= 0) return D3DXERR_UNSUPPORTEDFILEFORMAT;
    image->width = w;
    image->height = h;
    image->alpha = channels == 2 || channels == 4;
    image->rgba.assign(pixels.get(), pixels.get() + size_t(w) * size_t(h) * 4);
    return S_OK;
}

// The offered formats the image may be written in: plain RGB, no FourCC.
struct Candidate {
    DDPIXELFORMAT pf;
    PixelLayout layout;
};

HRESULT collect(DDPIXELFORMAT* pf, void* context) {
    PixelLayout layout;
    if (pf && PixelLayout::from(*pf, &layout) && layout.kind == FormatKind::Rgb &&
        !(pf->dwFlags & DDPF_FOURCC))
        static_cast<std::vector<Candidate>*>(context)->push_back({*pf, layout});
    return D3DENUMRET_OK;
}

// A requested format when the device offers it; otherwise the offered format closest to the
// image: the same presence of alpha first, then the most bits per pixel, then the device's order.
const Candidate* choose(const std::vector<Candidate>& offered, D3DX_SURFACEFORMAT wanted, bool alpha) {
    if (wanted != D3DX_SF_UNKNOWN) {
        for (const Candidate& c : offered)
            if (surface_format_of(c.layout) == wanted) return &c;
        return nullptr;
    }
    const Candidate* best = nullptr;
    auto score = [&](const Candidate& c) {
        return (c.layout.has_alpha() == alpha ? 1000 : 0) + static_cast<int>(c.layout.bits);
    };
    for (const Candidate& c : offered)
        if (!best || score(c) > score(*best)) best = &c;
    return best;
}

// The image resampled to w x h: nearest texel for the point filter, bilinear otherwise.
std::vector<uint8_t> resample(const Image& image, DWORD w, DWORD h, bool point) {
    if (DWORD(image.width) == w && DWORD(image.height) == h) return image.rgba;
    std::vector<uint8_t> out(size_t(w) * h * 4);
    const float sx = float(image.width) / float(w), sy = float(image.height) / float(h);
    auto at = [&](int x, int y, int c) {
        x = std::clamp(x, 0, image.width - 1);
        y = std::clamp(y, 0, image.height - 1);
        return float(image.rgba[(size_t(y) * image.width + x) * 4 + c]);
    };
    for (DWORD y = 0; y < h; ++y)
        for (DWORD x = 0; x < w; ++x) {
            const float fx = (x + 0.5f) * sx - 0.5f, fy = (y + 0.5f) * sy - 0.5f;
            uint8_t* o = &out[(size_t(y) * w + x) * 4];
            if (point) {
                const int nx = int((x + 0.5f) * sx), ny = int((y + 0.5f) * sy);
                for (int c = 0; c < 4; ++c) o[c] = uint8_t(at(nx, ny, c));
                continue;
            }
            const int x0 = int(std::floor(fx)), y0 = int(std::floor(fy));
            const float ax = fx - x0, ay = fy - y0;
            for (int c = 0; c < 4; ++c) {
                const float top = at(x0, y0, c) * (1 - ax) + at(x0 + 1, y0, c) * ax;
                const float bottom = at(x0, y0 + 1, c) * (1 - ax) + at(x0 + 1, y0 + 1, c) * ax;
                o[c] = uint8_t(std::lround(top * (1 - ay) + bottom * ay));
            }
        }
    return out;
}

template <class T>
struct Released {
    T* p = nullptr;
    ~Released() {
        if (p) p->Release();
    }
};

}  // namespace

HRESULT create_texture_from_file(IDirect3DDevice7* device, DWORD* flags, DWORD* width, DWORD* height,
                                 D3DX_SURFACEFORMAT* format, IDirectDrawPalette* palette,
                                 IDirectDrawSurface7** surface, DWORD* mip_levels, const char* file,
                                 D3DX_FILTERTYPE filter) {
    (void)flags;
    (void)palette;
    if (surface) *surface = nullptr;
    if (!device || !surface || !file) return D3DXERR_NULLPOINTER;
    D3DDEVICEDESC7 caps{};
    if (FAILED(device->GetCaps(&caps))) return D3DXERR_FAILEDGETCAPS;

    // Names written Windows-style separate their directories with backslashes and may differ
    // from the file's name in letter case.
    const std::string path = find_file(with_slashes(file));
    std::vector<uint8_t> data;
    if (path.empty() || !read_regular_file(path.c_str(), &data)) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    Image image;
    if (HRESULT hr = decode(data, &image); FAILED(hr)) return hr;

    // The size: as asked, or the image's own; then fitted to the device.
    auto asked = [](DWORD* v) { return v && *v != 0 && *v != D3DX_DEFAULT; };
    DWORD w = asked(width) ? *width : DWORD(image.width);
    DWORD h = asked(height) ? *height : DWORD(image.height);
    backend::fit_texture_size(caps, &w, &h);

    std::vector<Candidate> offered;
    if (FAILED(device->EnumTextureFormats(collect, &offered))) return D3DXERR_ENUMFORMATSFAILED;
    const Candidate* chosen = choose(offered, format ? *format : D3DX_SF_UNKNOWN, image.alpha);
    if (!chosen) return D3DXERR_NOMATCHFOUND;

    // The surface, made by the DirectDraw object behind the device's render target.
    Released<IDirectDrawSurface7> target;
    if (FAILED(device->GetRenderTarget(&target.p)) || !target.p) return D3DXERR_NODIRECTDRAWAVAILABLE;
    Released<IDirectDraw7> dd;
    void* ddp = nullptr;
    if (FAILED(target.p->GetDDInterface(&ddp)) || !ddp) return D3DXERR_NODIRECTDRAWAVAILABLE;
    dd.p = static_cast<IDirectDraw7*>(ddp);
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    desc.dwWidth = w;
    desc.dwHeight = h;
    desc.ddpfPixelFormat = chosen->pf;
    desc.ddsCaps.dwCaps = DDSCAPS_TEXTURE;
    if (caps.deviceGUID == IID_IDirect3DHALDevice || caps.deviceGUID == IID_IDirect3DTnLHalDevice)
        desc.ddsCaps.dwCaps2 = DDSCAPS2_TEXTUREMANAGE;
    else
        desc.ddsCaps.dwCaps |= DDSCAPS_SYSTEMMEMORY;
    Released<IDirectDrawSurface7> made;
    if (HRESULT hr = dd.p->CreateSurface(&desc, &made.p, nullptr); FAILED(hr)) return hr;

    // The texels, row by row in the surface's format.
    const std::vector<uint8_t> texels = resample(image, w, h, filter == D3DX_FT_POINT);
    DDSURFACEDESC2 locked{};
    locked.dwSize = sizeof locked;
    if (HRESULT hr = made.p->Lock(nullptr, &locked, DDLOCK_WAIT, 0); FAILED(hr)) return hr;
    for (DWORD y = 0; y < h; ++y)
        encode_row(chosen->layout, &texels[size_t(y) * w * 4], w, nullptr,
                   static_cast<uint8_t*>(locked.lpSurface) + size_t(y) * locked.lPitch);
    made.p->Unlock(nullptr);

    *surface = made.p;
    made.p = nullptr;
    if (width) *width = w;
    if (height) *height = h;
    if (format) *format = surface_format_of(chosen->layout);
    if (mip_levels) *mip_levels = 1;  // one level: the engine never asks for more
    return S_OK;
}

}  // namespace vantor::render
