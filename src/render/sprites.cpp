// The utility layer's sprites: the states a sprite pass needs, and one textured quad in screen
// pixels, centred on the destination point, scaled and turned about its centre.
#include "shapes.h"

#include <vantor/backend/d3d.h>
#include <vantor/backend/device_state.h>
#include <vantor/com_ptr.h>

#include <cmath>
#include <utility>

namespace vantor::render {

HRESULT prepare_device_for_sprite(IDirect3DDevice7* device, BOOL z_enable) {
    if (!device) return D3DXERR_NULLPOINTER;
    for (const backend::StageWrite& w : backend::kSpriteStageStates)
        if (HRESULT hr = device->SetTextureStageState(0, w.state, w.value); FAILED(hr)) return hr;
    for (const backend::RenderWrite& w : backend::sprite_render_states(z_enable))
        if (HRESULT hr = device->SetRenderState(w.state, w.value); FAILED(hr)) return hr;
    return S_OK;
}

HRESULT draw_sprite_simple(IDirectDrawSurface7* texture, IDirect3DDevice7* device, const D3DXVECTOR3* destination,
                           float alpha, float scale, float angle, const D3DXVECTOR2* offset, const RECT* source) {
    // A sprite without an image has nothing to draw from: refused like a null device.
    if (!device || !destination || !texture) return D3DXERR_NULLPOINTER;
    if (!std::isfinite(destination->x) || !std::isfinite(destination->y) || !std::isfinite(destination->z) ||
        !std::isfinite(scale) || !std::isfinite(angle) || std::isnan(alpha) ||
        (offset && (!std::isfinite(offset->x) || !std::isfinite(offset->y))))
        return D3DXERR_INVALIDPARAMETER;
    DDSURFACEDESC2 sd{};
    sd.dwSize = sizeof sd;
    if (HRESULT hr = texture->GetSurfaceDesc(&sd); FAILED(hr)) return hr;
    if (!(sd.ddsCaps.dwCaps & DDSCAPS_TEXTURE) || sd.dwWidth == 0 || sd.dwHeight == 0) return DDERR_INVALIDPARAMS;
    RECT r{0, 0, LONG(sd.dwWidth), LONG(sd.dwHeight)};
    if (source) {
        if (source->left < 0 || source->top < 0 || source->right > LONG(sd.dwWidth) || source->bottom > LONG(sd.dwHeight) ||
            source->left >= source->right || source->top >= source->bottom)
            return DDERR_INVALIDRECT;
        r = *source;
    }
    if (HRESULT hr = device->SetTexture(0, texture); FAILED(hr)) return hr;

    // Corners about the pivot (the centre moved by the offset), scaled, turned by `angle`
    // (clockwise on screen, y pointing down), then placed on the destination. Direct3D's pixel
    // centres are at whole coordinates: the half-pixel shift maps texels onto pixels exactly.
    const float w = float(r.right - r.left), h = float(r.bottom - r.top);
    const float px = w / 2 + (offset ? offset->x : 0), py = h / 2 + (offset ? offset->y : 0);
    const float c = std::cos(angle), s = std::sin(angle);
    const DWORD a = DWORD(std::lround(std::fmin(std::fmax(alpha, 0.0f), 1.0f) * 255.0f));
    const D3DCOLOR diffuse = (a << 24) | 0x00FFFFFFu;
    const float corners[4][2] = {{0, 0}, {w, 0}, {0, h}, {w, h}};  // strip: clockwise on screen
    D3DTLVERTEX v[4];
    for (int k = 0; k < 4; ++k) {
        float x = (corners[k][0] - px) * scale, y = (corners[k][1] - py) * scale;
        v[k].sx = destination->x + x * c - y * s - 0.5f;
        v[k].sy = destination->y + x * s + y * c - 0.5f;
        v[k].sz = destination->z;
        v[k].rhw = 1.0f;
        v[k].color = diffuse;
        v[k].specular = 0;
        v[k].tu = (float(r.left) + corners[k][0]) / float(sd.dwWidth);
        v[k].tv = (float(r.top) + corners[k][1]) / float(sd.dwHeight);
    }
    // Culling never hides a sprite: the quad winds the way the cull mode keeps, so no state
    // changes per sprite. (A negative scale negates both axes, a half turn: the winding stays.)
    DWORD cull = D3DCULL_CCW;
    device->GetRenderState(D3DRENDERSTATE_CULLMODE, &cull);
    if (cull == D3DCULL_CW) std::swap(v[1], v[2]);
    return device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, v, 4, 0);
}

}  // namespace vantor::render
