#include <vantor/backend/device_state.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <new>

namespace vantor::backend {

namespace {

constexpr DWORD kTrue = TRUE;

// Defaults of the render states that do not start at 0 (ZENABLE is decided per device).
constexpr std::pair<D3DRENDERSTATETYPE, DWORD> kRenderDefaults[] = {
    {D3DRENDERSTATE_TEXTUREADDRESS, D3DTADDRESS_WRAP},
    {D3DRENDERSTATE_TEXTUREPERSPECTIVE, kTrue},
    {D3DRENDERSTATE_FILLMODE, D3DFILL_SOLID},
    {D3DRENDERSTATE_SHADEMODE, D3DSHADE_GOURAUD},
    {D3DRENDERSTATE_ZWRITEENABLE, kTrue},
    {D3DRENDERSTATE_LASTPIXEL, kTrue},
    {D3DRENDERSTATE_TEXTUREMAG, 1},  // D3DFILTER_NEAREST
    {D3DRENDERSTATE_TEXTUREMIN, 1},
    {D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE},
    {D3DRENDERSTATE_DESTBLEND, D3DBLEND_ZERO},
    {D3DRENDERSTATE_CULLMODE, D3DCULL_CCW},
    {D3DRENDERSTATE_ZFUNC, D3DCMP_LESSEQUAL},
    {D3DRENDERSTATE_ALPHAFUNC, D3DCMP_ALWAYS},
    {D3DRENDERSTATE_FOGEND, std::bit_cast<DWORD>(1.0f)},
    {D3DRENDERSTATE_FOGDENSITY, std::bit_cast<DWORD>(1.0f)},
    {D3DRENDERSTATE_TEXTUREADDRESSU, D3DTADDRESS_WRAP},
    {D3DRENDERSTATE_TEXTUREADDRESSV, D3DTADDRESS_WRAP},
    {D3DRENDERSTATE_ANISOTROPY, 1},
    {D3DRENDERSTATE_STENCILFAIL, D3DSTENCILOP_KEEP},
    {D3DRENDERSTATE_STENCILZFAIL, D3DSTENCILOP_KEEP},
    {D3DRENDERSTATE_STENCILPASS, D3DSTENCILOP_KEEP},
    {D3DRENDERSTATE_STENCILFUNC, D3DCMP_ALWAYS},
    {D3DRENDERSTATE_STENCILMASK, 0xFFFFFFFF},
    {D3DRENDERSTATE_STENCILWRITEMASK, 0xFFFFFFFF},
    {D3DRENDERSTATE_TEXTUREFACTOR, 0xFFFFFFFF},
    {D3DRENDERSTATE_CLIPPING, kTrue},
    {D3DRENDERSTATE_LIGHTING, kTrue},
    {D3DRENDERSTATE_COLORVERTEX, kTrue},
    {D3DRENDERSTATE_LOCALVIEWER, kTrue},
    {D3DRENDERSTATE_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
    {D3DRENDERSTATE_SPECULARMATERIALSOURCE, D3DMCS_COLOR2},
    {D3DRENDERSTATE_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL},
    {D3DRENDERSTATE_EMISSIVEMATERIALSOURCE, D3DMCS_MATERIAL},
};

constexpr D3DTEXTURESTAGESTATETYPE kAddressTargets[] = {D3DTSS_ADDRESS, D3DTSS_ADDRESSU, D3DTSS_ADDRESSV};
constexpr auto kStageIds = [] {
    std::array<D3DTEXTURESTAGESTATETYPE, D3DTSS_MAX> ids{};
    for (int i = 0; i < D3DTSS_MAX; ++i) ids[i] = static_cast<D3DTEXTURESTAGESTATETYPE>(i);
    return ids;
}();

bool finite(const D3DCOLORVALUE& c) {
    return std::isfinite(c.r) && std::isfinite(c.g) && std::isfinite(c.b) && std::isfinite(c.a);
}
bool finite(const D3DVECTOR& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

constexpr float kPi = 3.14159265358979f;

float clamp_cone(float angle) { return angle > kPi ? kPi : (angle >= 0.0f ? angle : 0.0f); }

}  // namespace

bool render_state_valid(DWORD s) {
    if (s == D3DRENDERSTATE_TEXTUREHANDLE || s == D3DRENDERSTATE_TEXTUREMAPBLEND) return false;
    return (s >= 2 && s <= 60 && s != 42) || (s >= 64 && s <= 95) || (s >= 128 && s <= 148) || s == 151 || s == 152;
}

DWORD render_state_default(DWORD state, bool depth_attached) {
    if (state == D3DRENDERSTATE_ZENABLE) return depth_attached ? D3DZB_TRUE : D3DZB_FALSE;
    for (const auto& [id, value] : kRenderDefaults)
        if (static_cast<DWORD>(id) == state) return value;
    return 0;
}

bool render_state_sets_stage(DWORD state) {
    switch (state) {
        case D3DRENDERSTATE_TEXTUREADDRESS:
        case D3DRENDERSTATE_TEXTUREADDRESSU:
        case D3DRENDERSTATE_TEXTUREADDRESSV:
        case D3DRENDERSTATE_TEXTUREMAG:
        case D3DRENDERSTATE_TEXTUREMIN:
        case D3DRENDERSTATE_BORDERCOLOR:
        case D3DRENDERSTATE_MIPMAPLODBIAS:
        case D3DRENDERSTATE_ANISOTROPY: return true;
        default: return false;
    }
}

std::span<const StageWrite> stage_aliases(DWORD state, DWORD v, StageWrite (&out)[2]) {
    auto one = [&](D3DTEXTURESTAGESTATETYPE s, DWORD value) {
        out[0] = {s, value};
        return std::span<const StageWrite>(out, 1);
    };
    switch (state) {
        case D3DRENDERSTATE_TEXTUREADDRESS: return one(D3DTSS_ADDRESS, v);
        case D3DRENDERSTATE_TEXTUREADDRESSU: return one(D3DTSS_ADDRESSU, v);
        case D3DRENDERSTATE_TEXTUREADDRESSV: return one(D3DTSS_ADDRESSV, v);
        case D3DRENDERSTATE_BORDERCOLOR: return one(D3DTSS_BORDERCOLOR, v);
        case D3DRENDERSTATE_MIPMAPLODBIAS: return one(D3DTSS_MIPMAPLODBIAS, v);
        case D3DRENDERSTATE_ANISOTROPY: return one(D3DTSS_MAXANISOTROPY, v);
        case D3DRENDERSTATE_TEXTUREMAG: return one(D3DTSS_MAGFILTER, v == 1 ? D3DTFG_POINT : D3DTFG_LINEAR);
        case D3DRENDERSTATE_TEXTUREMIN: {
            // D3DFILTER_*: NEAREST, LINEAR, MIPNEAREST, MIPLINEAR, LINEARMIPNEAREST, LINEARMIPLINEAR.
            static constexpr DWORD kMin[] = {D3DTFN_POINT, D3DTFN_LINEAR, D3DTFN_POINT,
                                             D3DTFN_LINEAR, D3DTFN_POINT, D3DTFN_LINEAR};
            static constexpr DWORD kMip[] = {D3DTFP_NONE, D3DTFP_NONE, D3DTFP_POINT,
                                             D3DTFP_POINT, D3DTFP_LINEAR, D3DTFP_LINEAR};
            if (v < 1 || v > 6) return {};
            out[0] = {D3DTSS_MINFILTER, kMin[v - 1]};
            out[1] = {D3DTSS_MIPFILTER, kMip[v - 1]};
            return std::span<const StageWrite>(out, 2);
        }
        default: return {};
    }
}

bool stage_state_valid(DWORD stage, DWORD state) {
    return stage < kMaxTextureStages && state >= D3DTSS_COLOROP && state < D3DTSS_MAX;
}

DWORD stage_state_default(DWORD stage, DWORD state) {
    switch (state) {
        case D3DTSS_COLOROP: return stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        case D3DTSS_ALPHAOP: return stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        case D3DTSS_COLORARG1:
        case D3DTSS_ALPHAARG1: return D3DTA_TEXTURE;
        case D3DTSS_COLORARG2:
        case D3DTSS_ALPHAARG2: return D3DTA_CURRENT;
        case D3DTSS_TEXCOORDINDEX: return stage;
        case D3DTSS_ADDRESS:
        case D3DTSS_ADDRESSU:
        case D3DTSS_ADDRESSV: return D3DTADDRESS_WRAP;
        case D3DTSS_MAGFILTER: return D3DTFG_POINT;
        case D3DTSS_MINFILTER: return D3DTFN_POINT;
        case D3DTSS_MIPFILTER: return D3DTFP_NONE;
        case D3DTSS_MAXANISOTROPY: return 1;
        default: return 0;  // bump matrix and luminance 0.0f, border colour, LOD bias 0.0f, ...
    }
}

std::span<const D3DTEXTURESTAGESTATETYPE> stage_state_targets(D3DTEXTURESTAGESTATETYPE state) {
    if (state == D3DTSS_ADDRESS) return kAddressTargets;
    if (state < 0 || state >= D3DTSS_MAX) return {};
    return {&kStageIds[state], 1};
}

D3DTEXTURESTAGESTATETYPE stage_state_source(D3DTEXTURESTAGESTATETYPE state) {
    return state == D3DTSS_ADDRESS ? D3DTSS_ADDRESSU : state;
}

int transform_slot(DWORD state) {
    if (state >= D3DTRANSFORMSTATE_WORLD && state <= D3DTRANSFORMSTATE_WORLD3) return static_cast<int>(state) - 1;
    if (state >= D3DTRANSFORMSTATE_TEXTURE0 && state <= D3DTRANSFORMSTATE_TEXTURE7) return static_cast<int>(state) - 10;
    return -1;
}

HRESULT check_light(const D3DLIGHT7* light) {
    if (!light) return DDERR_INVALIDPARAMS;
    const D3DLIGHT7& l = *light;
    if (l.dltType != D3DLIGHT_POINT && l.dltType != D3DLIGHT_SPOT && l.dltType != D3DLIGHT_DIRECTIONAL)
        return DDERR_INVALIDPARAMS;
    if (l.dltType != D3DLIGHT_DIRECTIONAL &&
        !(l.dvAttenuation0 >= 0.0f && l.dvAttenuation1 >= 0.0f && l.dvAttenuation2 >= 0.0f))
        return DDERR_INVALIDPARAMS;
    return D3D_OK;
}

D3DLIGHT7 default_light() {
    D3DLIGHT7 l{};
    l.dltType = D3DLIGHT_DIRECTIONAL;
    l.dcvDiffuse = {1.0f, 1.0f, 1.0f, 0.0f};
    l.dvDirection = {0.0f, 0.0f, 1.0f};
    return l;
}

ShadingLight light_for_shading(const D3DLIGHT7& stored) {
    ShadingLight out;
    D3DLIGHT7& l = out.light;
    l = stored;
    if (!finite(l.dcvDiffuse) || !finite(l.dcvSpecular) || !finite(l.dcvAmbient) || !finite(l.dvPosition))
        return out;
    if (l.dltType != D3DLIGHT_POINT) {
        const D3DVECTOR& d = l.dvDirection;
        float length = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
        if (!(length > 0.0f) || !std::isfinite(length)) return out;  // no direction: lights nothing
        l.dvDirection = {d.x / length, d.y / length, d.z / length};
    }
    if (l.dltType != D3DLIGHT_DIRECTIONAL) {
        if (!(l.dvRange >= 0.0f)) return out;  // a negative range reaches nothing
        if (!std::isfinite(l.dvAttenuation0 + l.dvAttenuation1 + l.dvAttenuation2)) return out;
    }
    if (l.dltType == D3DLIGHT_SPOT) {
        l.dvTheta = clamp_cone(l.dvTheta);
        l.dvPhi = clamp_cone(l.dvPhi);
        if (!std::isfinite(l.dvFalloff)) l.dvFalloff = 1.0f;
    }
    out.shines = true;
    return out;
}

HRESULT LightTable::set(DWORD index, const D3DLIGHT7* light) {
    if (HRESULT hr = check_light(light); hr != D3D_OK) return hr;
    try {
        slots_[index].light = *light;
    } catch (const std::bad_alloc&) {
        return DDERR_OUTOFMEMORY;
    }
    return D3D_OK;
}

HRESULT LightTable::get(DWORD index, D3DLIGHT7* light) const {
    if (!light) return DDERR_INVALIDPARAMS;
    auto it = slots_.find(index);
    if (it == slots_.end()) return DDERR_INVALIDPARAMS;
    *light = it->second.light;
    return D3D_OK;
}

HRESULT LightTable::enable(DWORD index, BOOL on, bool* changed) {
    if (changed) *changed = false;
    auto it = slots_.find(index);
    if (it == slots_.end()) {
        try {
            it = slots_.emplace(index, Slot{default_light(), false}).first;
        } catch (const std::bad_alloc&) {
            return DDERR_OUTOFMEMORY;
        }
    }
    bool want = on != FALSE;
    if (it->second.enabled == want) return D3D_OK;
    if (want) {
        int active = 0;
        for (const auto& [i, slot] : slots_) active += slot.enabled ? 1 : 0;
        // A light beyond the limit is refused rather than silently left dark.
        if (active >= kMaxActiveLights) return D3DERR_LIGHT_SET_FAILED;
    }
    it->second.enabled = want;
    if (changed) *changed = true;
    return D3D_OK;
}

HRESULT LightTable::get_enable(DWORD index, BOOL* on) const {
    if (!on) return DDERR_INVALIDPARAMS;
    auto it = slots_.find(index);
    if (it == slots_.end()) return DDERR_INVALIDPARAMS;
    *on = it->second.enabled ? TRUE : FALSE;
    return D3D_OK;
}

bool LightTable::is_enabled(DWORD index) const {
    auto it = slots_.find(index);
    return it != slots_.end() && it->second.enabled;
}

namespace {

DWORD round_up_pow2(DWORD v) {
    DWORD p = 1;
    while (p < v && p < 0x80000000u) p <<= 1;
    return p;
}

}  // namespace

void fit_texture_size(const D3DDEVICEDESC7& caps, DWORD* width, DWORD* height) {
    DWORD w = *width, h = *height;
    if (caps.dpcTriCaps.dwTextureCaps & D3DPTEXTURECAPS_POW2) {
        w = round_up_pow2(w);
        h = round_up_pow2(h);
    }
    if (caps.dpcTriCaps.dwTextureCaps & D3DPTEXTURECAPS_SQUAREONLY) w = h = std::max(w, h);
    if (caps.dwMaxTextureWidth) w = std::min(w, caps.dwMaxTextureWidth);
    if (caps.dwMaxTextureHeight) h = std::min(h, caps.dwMaxTextureHeight);
    *width = std::max({w, caps.dwMinTextureWidth, DWORD(1)});
    *height = std::max({h, caps.dwMinTextureHeight, DWORD(1)});
}

}  // namespace vantor::backend
