// The rules of surface descriptions.
#include <vantor/backend/surface_desc.h>

#include <algorithm>

namespace vantor::backend {
namespace {

// DirectDraw values the header does not name.
constexpr DWORD kCapsWriteOnly = 0x00080000;    // DDSCAPS_WRITEONLY
constexpr DWORD kCapsAllocOnLoad = 0x04000000;  // DDSCAPS_ALLOCONLOAD
constexpr DWORD kKnownCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_PRIMARYSURFACE | DDSCAPS_SYSTEMMEMORY | DDSCAPS_TEXTURE |
                             DDSCAPS_3DDEVICE | DDSCAPS_VIDEOMEMORY | DDSCAPS_ZBUFFER | DDSCAPS_MIPMAP |
                             DDSCAPS_COMPLEX | DDSCAPS_LOCALVIDMEM | DDSCAPS_NONLOCALVIDMEM | kCapsWriteOnly |
                             kCapsAllocOnLoad;
constexpr DWORD kCaps2HintAntialiasing = 0x100;
constexpr DWORD kKnownCaps2 = DDSCAPS2_HINTDYNAMIC | DDSCAPS2_HINTSTATIC | DDSCAPS2_TEXTUREMANAGE | DDSCAPS2_OPAQUE |
                              DDSCAPS2_D3DTEXTUREMANAGE | kCaps2HintAntialiasing;
constexpr DWORD kMaxSide = 16384;

DWORD mip_levels(DWORD w, DWORD h) {
    DWORD levels = 1;
    for (DWORD s = std::max(w, h); s > 1; s >>= 1) ++levels;
    return levels;
}

}  // namespace

HRESULT plan_surface(const DDSURFACEDESC2& desc, bool level_set, const DisplaySize& display, DWORD max_texture_side,
                     SurfacePlan* out) {
    SurfacePlan p;
    DWORD flags = desc.dwFlags;
    if (desc.dwSize != sizeof(DDSURFACEDESC2) || (flags & ~(DDSD_ALL | DDSD_CAPS))) return DDERR_INVALIDPARAMS;
    if (flags & DDSD_LPSURFACE) return DDERR_UNSUPPORTED;  // client memory is not taken over
    if (!level_set) return DDERR_NOCOOPERATIVELEVELSET;
    DWORD caps = (flags & DDSD_CAPS) ? desc.ddsCaps.dwCaps : 0;
    DWORD caps2 = (flags & DDSD_CAPS) ? desc.ddsCaps.dwCaps2 : 0;
    if (caps == 0) caps = DDSCAPS_OFFSCREENPLAIN;
    if ((caps & ~kKnownCaps) || (caps2 & ~kKnownCaps2)) return DDERR_INVALIDCAPS;
    p.managed = (caps2 & (DDSCAPS2_TEXTUREMANAGE | DDSCAPS2_D3DTEXTUREMANAGE)) != 0;
    if (p.managed && (!(caps & DDSCAPS_TEXTURE) || (caps & (DDSCAPS_SYSTEMMEMORY | DDSCAPS_VIDEOMEMORY))))
        return DDERR_INVALIDCAPS;
    if ((caps & DDSCAPS_SYSTEMMEMORY) && (caps & DDSCAPS_VIDEOMEMORY)) return DDERR_INVALIDCAPS;
    if ((caps & DDSCAPS_ZBUFFER) && (caps & (DDSCAPS_TEXTURE | DDSCAPS_3DDEVICE | DDSCAPS_PRIMARYSURFACE)))
        return DDERR_INVALIDCAPS;
    if ((caps & DDSCAPS_MIPMAP) && !(caps & DDSCAPS_TEXTURE)) return DDERR_INVALIDCAPS;
    if ((caps & DDSCAPS_COMPLEX) && !(caps & DDSCAPS_MIPMAP)) return DDERR_INVALIDCAPS;

    p.primary = (caps & DDSCAPS_PRIMARYSURFACE) != 0;
    if (p.primary) {
        if (flags & (DDSD_WIDTH | DDSD_HEIGHT)) return DDERR_INVALIDPARAMS;
        p.width = display.width;
        p.height = display.height;
    } else {
        if ((flags & (DDSD_WIDTH | DDSD_HEIGHT)) != (DDSD_WIDTH | DDSD_HEIGHT)) return DDERR_INVALIDPARAMS;
        p.width = desc.dwWidth;
        p.height = desc.dwHeight;
        if (!p.width || !p.height) return DDERR_INVALIDPARAMS;
        DWORD max_side = (caps & (DDSCAPS_TEXTURE | DDSCAPS_3DDEVICE)) ? std::min(kMaxSide, max_texture_side) : kMaxSide;
        if (p.width > max_side) return DDERR_TOOBIGWIDTH;
        if (p.height > max_side) return DDERR_TOOBIGHEIGHT;
    }

    if (flags & DDSD_PIXELFORMAT) {
        if (!PixelLayout::from(desc.ddpfPixelFormat, &p.layout)) return DDERR_INVALIDPIXELFORMAT;
    } else if (caps & DDSCAPS_ZBUFFER) {
        return DDERR_INVALIDPIXELFORMAT;
    } else {
        p.layout = PixelLayout::standard(display_format(display.bpp));
    }
    if (((caps & DDSCAPS_ZBUFFER) != 0) != (p.layout.kind == FormatKind::Depth)) return DDERR_INVALIDPIXELFORMAT;
    if ((caps & DDSCAPS_3DDEVICE) && !p.layout.renderable()) return DDERR_INVALIDPIXELFORMAT;

    if (caps & DDSCAPS_MIPMAP) {
        p.mipmaps = mip_levels(p.width, p.height);
        if (flags & DDSD_MIPMAPCOUNT) {
            if (desc.dwMipMapCount == 0 || desc.dwMipMapCount > p.mipmaps) return DDERR_INVALIDPARAMS;
            p.mipmaps = desc.dwMipMapCount;
        }
    } else if ((flags & DDSD_MIPMAPCOUNT) && desc.dwMipMapCount > 1) {
        return DDERR_INVALIDPARAMS;
    }
    p.caps = caps;
    p.caps2 = caps2;
    *out = p;
    return DD_OK;
}

}  // namespace vantor::backend
