// What the device says about itself: GetCaps, EnumTextureFormats and GetInfo.
#include "device.h"

#include "directdraw.h"
#include "pixel_format.h"
#include "surface.h"

#include <cstring>

namespace vantor::render {

HRESULT Device::GetCaps(D3DDEVICEDESC7* d) {
    if (!d) return DDERR_INVALIDPARAMS;
    static_assert(kMaxStages == 8 && kMaxLights == backend::kMaxActiveLights);
    *d = backend::device_caps(guid_, static_cast<DWORD>(gl_->max_texture_size), gl_->max_anisotropy);
    return D3D_OK;
}

HRESULT Device::EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) {
    if (!callback) return DDERR_INVALIDPARAMS;
    for (StandardFormat f : kTextureFormats) {
        DDPIXELFORMAT pf = standard_ddpf(f);
        if (callback(&pf, context) != D3DENUMRET_OK) break;
    }
    return D3D_OK;
}

HRESULT Device::GetInfo(DWORD id, void* info, DWORD size) {
    if (!info) return DDERR_INVALIDPARAMS;
    switch (id) {
        case D3DDEVINFOID_TEXTUREMANAGER:
        case D3DDEVINFOID_D3DTEXTUREMANAGER: {
            if (size != sizeof(D3DDEVINFO_TEXTUREMANAGER)) return DDERR_INVALIDPARAMS;
            // Real figures: every texture of this DirectDraw object is managed; the working set
            // is the textures that have a GL copy; the rest counts the current scene.
            D3DDEVINFO_TEXTUREMANAGER t{};
            for (Surface* s : dd_->textures()) {
                ++t.dwTotalManaged;
                t.dwTotalBytes += static_cast<DWORD>(s->memory_bytes());
                if (s->has_gl_texture()) {
                    ++t.dwWorkingSet;
                    t.dwWorkingSetBytes += static_cast<DWORD>(s->width() * s->height() * 4);
                }
            }
            t.dwNumTexturesUsed = t.dwNumUsedTexInVid = textures_used_;
            t.dwApproxBytesDownloaded = static_cast<DWORD>(bytes_uploaded_);
            std::memcpy(info, &t, sizeof t);
            return D3D_OK;
        }
        case D3DDEVINFOID_TEXTURING:
            // The per-call texturing counters were a debug-runtime feature: like the retail
            // runtime, say so and fill nothing.
            return S_FALSE;
        default: return DDERR_INVALIDPARAMS;
    }
}

}  // namespace vantor::render
