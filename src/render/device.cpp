// The Direct3D 7 device: creation, scenes and the state calls (store, validate, mark dirty).
#include "device.h"

#include "directdraw.h"
#include "matrix.h"
#include "surface.h"

#include <cmath>
#include <new>

namespace vantor::render {
namespace {

float bits_float(DWORD v) {
    float f;
    std::memcpy(&f, &v, sizeof f);
    return f;
}
DWORD float_bits(float f) {
    DWORD v;
    std::memcpy(&v, &f, sizeof v);
    return v;
}

bool valid_render_state(DWORD s) {
    // TEXTUREHANDLE and TEXTUREMAPBLEND belong to the older interfaces and are refused on 7.
    if (s == D3DRENDERSTATE_TEXTUREHANDLE || s == D3DRENDERSTATE_TEXTUREMAPBLEND) return false;
    return (s >= 2 && s <= 60 && s != 42) || (s >= 64 && s <= 95) || (s >= 128 && s <= 148) || s == 151 || s == 152;
}

bool valid_transform(DWORD t) {
    return (t >= D3DTRANSFORMSTATE_WORLD && t <= D3DTRANSFORMSTATE_WORLD3) ||
           (t >= D3DTRANSFORMSTATE_TEXTURE0 && t <= D3DTRANSFORMSTATE_TEXTURE7);
}

bool finite(const D3DCOLORVALUE& c) {
    return std::isfinite(c.r) && std::isfinite(c.g) && std::isfinite(c.b) && std::isfinite(c.a);
}
bool finite(const D3DVECTOR& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

constexpr float kPi = 3.14159265358979f;

}  // namespace

ComPtr<Device> Device::create(DirectDraw* dd, Surface* target, const GUID& guid) {
    if (!dd->gl() || !target || !target->is_render_target()) return nullptr;
    ComPtr<Device> d = adopt(new (std::nothrow) Device(dd, target, guid));
    if (!d || !d->create_gl_objects()) return nullptr;
    return d;
}

Device::Device(DirectDraw* dd, Surface* target, const GUID& guid)
    : dd_(dd), target_(target), guid_(guid), handle_(static_cast<IDirect3DDevice7*>(this)) {
    set_defaults();
}

Device::~Device() {
    if (gl_ && gl_->make_current()) {
        if (vao_) glDeleteVertexArrays(1, &vao_);
        vertex_ring_.destroy();
        index_ring_.destroy();
        uniform_ring_.destroy();
        GLuint buffers[] = {large_vertices_, large_indices_};
        glDeleteBuffers(2, buffers);
        glDeleteSamplers(kMaxStages, samplers_);
        glUseProgram(0);
    }
}

void Device::set_defaults() {
    for (DWORD& v : render_) v = 0;
    render_[D3DRENDERSTATE_TEXTUREADDRESS] = D3DTADDRESS_WRAP;
    render_[D3DRENDERSTATE_TEXTUREPERSPECTIVE] = TRUE;
    // Direct3D 7 turns depth testing on when a depth buffer is attached to the target at creation.
    render_[D3DRENDERSTATE_ZENABLE] = target_->attached_depth() ? D3DZB_TRUE : D3DZB_FALSE;
    render_[D3DRENDERSTATE_FILLMODE] = D3DFILL_SOLID;
    render_[D3DRENDERSTATE_SHADEMODE] = D3DSHADE_GOURAUD;
    render_[D3DRENDERSTATE_ZWRITEENABLE] = TRUE;
    render_[D3DRENDERSTATE_LASTPIXEL] = TRUE;
    render_[D3DRENDERSTATE_TEXTUREMAG] = 1;  // D3DFILTER_NEAREST
    render_[D3DRENDERSTATE_TEXTUREMIN] = 1;
    render_[D3DRENDERSTATE_SRCBLEND] = D3DBLEND_ONE;
    render_[D3DRENDERSTATE_DESTBLEND] = D3DBLEND_ZERO;
    render_[D3DRENDERSTATE_CULLMODE] = D3DCULL_CCW;
    render_[D3DRENDERSTATE_ZFUNC] = D3DCMP_LESSEQUAL;
    render_[D3DRENDERSTATE_ALPHAFUNC] = D3DCMP_ALWAYS;
    render_[D3DRENDERSTATE_FOGSTART] = float_bits(0.0f);
    render_[D3DRENDERSTATE_FOGEND] = float_bits(1.0f);
    render_[D3DRENDERSTATE_FOGDENSITY] = float_bits(1.0f);
    render_[D3DRENDERSTATE_TEXTUREADDRESSU] = D3DTADDRESS_WRAP;
    render_[D3DRENDERSTATE_TEXTUREADDRESSV] = D3DTADDRESS_WRAP;
    render_[D3DRENDERSTATE_ANISOTROPY] = 1;
    render_[D3DRENDERSTATE_STENCILFAIL] = D3DSTENCILOP_KEEP;
    render_[D3DRENDERSTATE_STENCILZFAIL] = D3DSTENCILOP_KEEP;
    render_[D3DRENDERSTATE_STENCILPASS] = D3DSTENCILOP_KEEP;
    render_[D3DRENDERSTATE_STENCILFUNC] = D3DCMP_ALWAYS;
    render_[D3DRENDERSTATE_STENCILMASK] = 0xFFFFFFFF;
    render_[D3DRENDERSTATE_STENCILWRITEMASK] = 0xFFFFFFFF;
    render_[D3DRENDERSTATE_TEXTUREFACTOR] = 0xFFFFFFFF;
    render_[D3DRENDERSTATE_CLIPPING] = TRUE;
    render_[D3DRENDERSTATE_LIGHTING] = TRUE;
    render_[D3DRENDERSTATE_COLORVERTEX] = TRUE;
    render_[D3DRENDERSTATE_LOCALVIEWER] = TRUE;
    render_[D3DRENDERSTATE_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    render_[D3DRENDERSTATE_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    render_[D3DRENDERSTATE_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
    render_[D3DRENDERSTATE_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
    for (DWORD s = 0; s < kMaxStages; ++s) {
        DWORD* st = stage_[s];
        for (DWORD i = 0; i < D3DTSS_MAX; ++i) st[i] = 0;
        st[D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        st[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        st[D3DTSS_COLORARG2] = D3DTA_CURRENT;
        st[D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        st[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        st[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        st[D3DTSS_TEXCOORDINDEX] = s;
        st[D3DTSS_ADDRESS] = st[D3DTSS_ADDRESSU] = st[D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
        st[D3DTSS_MAGFILTER] = D3DTFG_POINT;
        st[D3DTSS_MINFILTER] = D3DTFN_POINT;
        st[D3DTSS_MIPFILTER] = D3DTFP_NONE;
        st[D3DTSS_MAXANISOTROPY] = 1;
        texture_matrix_[s] = identity_matrix();
    }
    for (D3DMATRIX& w : world_) w = identity_matrix();
    view_ = projection_ = identity_matrix();
    viewport_ = D3DVIEWPORT7{0, 0, target_->width(), target_->height(), 0.0f, 1.0f};
}

bool Device::create_gl_objects() {
    gl_ = dd_->gl();
    if (!gl_ || !gl_->make_current()) return false;
    while (glGetError() != GL_NO_ERROR) {
    }
    glCreateVertexArrays(1, &vao_);
    if (!vertex_ring_.create(kVertexStreamBytes) || !index_ring_.create(kIndexStreamBytes) ||
        !uniform_ring_.create(kUniformRingBytes))
        return false;
    element_buffer_ = index_ring_.buffer();
    glVertexArrayElementBuffer(vao_, element_buffer_);
    glGetIntegerv(GL_UNIFORM_BUFFER_OFFSET_ALIGNMENT, &ring_align_);
    if (ring_align_ < 16) ring_align_ = 16;
    glCreateSamplers(kMaxStages, samplers_);
    invalidate_gl_state();
    return glGetError() == GL_NO_ERROR;
}

void Device::invalidate_gl_state() {
    for (size_t i = 0; i < D3DRENDERSTATE_MAX; ++i)
        if (valid_render_state(static_cast<DWORD>(i))) dirty_render_.set(i);
    for (auto& s : dirty_stage_) s.set();
    dirty_transforms_ = dirty_blocks_ = ~0u;
    dirty_lights_ = dirty_material_ = dirty_viewport_ = dirty_target_ = true;
    dirty_stage_key_ = dirty_key_ = true;
    any_dirty_state_ = dirty_fixed_ = true;
    draw_key_valid_ = false;
    program_ = 0;
    vertex_format_ = 0xFFFFFFFF;
    for (GLuint& t : bound_texture_) t = ~0u;
}

void Device::target_resized() {
    viewport_ = D3DVIEWPORT7{0, 0, target_->width(), target_->height(), 0.0f, 1.0f};
    dirty_viewport_ = dirty_target_ = any_dirty_state_ = true;
}

float Device::rs_float(D3DRENDERSTATETYPE s) const { return bits_float(render_[s]); }

HRESULT Device::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_VantorRenderDevice) {
        *ppv = this;
        return S_OK;
    }
    if (riid != IID_IUnknown && riid != IID_IDirect3DDevice7) return E_NOINTERFACE;
    *ppv = static_cast<IDirect3DDevice7*>(this);
    add_ref();
    return S_OK;
}

HRESULT Device::BeginScene() {
    if (in_scene_) return D3DERR_SCENE_IN_SCENE;
    in_scene_ = true;
    ++frame_;
    textures_used_ = 0;
    bytes_uploaded_ = 0;
    return D3D_OK;
}

HRESULT Device::EndScene() {
    if (!in_scene_) return D3DERR_SCENE_NOT_IN_SCENE;
    in_scene_ = false;
    return D3D_OK;
}

HRESULT Device::GetDirect3D(IDirect3D7** d3d) {
    clear_out(d3d);
    if (!d3d) return DDERR_INVALIDPARAMS;
    *d3d = dd_->d3d();
    dd_->add_ref();
    return D3D_OK;
}

HRESULT Device::SetRenderTarget(IDirectDrawSurface7* surface, DWORD flags) {
    Surface* s = Surface::from(surface);
    if (!s || flags || !s->is_render_target() || s->directdraw() != dd_.get()) return DDERR_INVALIDPARAMS;
    target_ = ComPtr<Surface>(s);
    // As in Direct3D, a new target brings a viewport over all of it.
    target_resized();
    return D3D_OK;
}

HRESULT Device::GetRenderTarget(IDirectDrawSurface7** surface) {
    clear_out(surface);
    if (!surface) return DDERR_INVALIDPARAMS;
    target_.copy_to(surface);
    return D3D_OK;
}

HRESULT Device::SetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
    if (!matrix || !valid_transform(state)) return DDERR_INVALIDPARAMS;
    switch (state) {
        case D3DTRANSFORMSTATE_VIEW:
            view_ = *matrix;
            dirty_lights_ = true;  // lights are kept in camera space
            dirty_transforms_ |= kDirtyView;
            break;
        case D3DTRANSFORMSTATE_PROJECTION:
            projection_ = *matrix;
            dirty_transforms_ |= kDirtyProjection;
            break;
        case D3DTRANSFORMSTATE_WORLD:
            world_[0] = *matrix;
            dirty_transforms_ |= kDirtyWorld;
            break;
        default:
            if (state <= D3DTRANSFORMSTATE_WORLD3) {
                world_[state - D3DTRANSFORMSTATE_WORLD1 + 1] = *matrix;
                dirty_transforms_ |= kDirtyBlendWorlds;
            } else {
                texture_matrix_[state - D3DTRANSFORMSTATE_TEXTURE0] = *matrix;
                dirty_transforms_ |= kDirtyTextureMatrices;
            }
            break;
    }
    any_dirty_state_ = true;
    return D3D_OK;
}

HRESULT Device::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
    if (!matrix || !valid_transform(state)) return DDERR_INVALIDPARAMS;
    switch (state) {
        case D3DTRANSFORMSTATE_VIEW: *matrix = view_; break;
        case D3DTRANSFORMSTATE_PROJECTION: *matrix = projection_; break;
        case D3DTRANSFORMSTATE_WORLD: *matrix = world_[0]; break;
        default:
            *matrix = state <= D3DTRANSFORMSTATE_WORLD3 ? world_[state - D3DTRANSFORMSTATE_WORLD1 + 1]
                                                        : texture_matrix_[state - D3DTRANSFORMSTATE_TEXTURE0];
            break;
    }
    return D3D_OK;
}

HRESULT Device::MultiplyTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
    if (!matrix || !valid_transform(state)) return DDERR_INVALIDPARAMS;
    D3DMATRIX current;
    GetTransform(state, &current);
    // Direct3D 7 puts the new matrix first: T' = M · T.
    D3DMATRIX product = multiply(*matrix, current);
    return SetTransform(state, &product);
}

HRESULT Device::SetViewport(D3DVIEWPORT7* vp) {
    if (!vp) return DDERR_INVALIDPARAMS;
    if (!vp->dwWidth || !vp->dwHeight || !(vp->dvMinZ >= 0.0f && vp->dvMinZ <= 1.0f) ||
        !(vp->dvMaxZ >= 0.0f && vp->dvMaxZ <= 1.0f))
        return DDERR_INVALIDPARAMS;
    if (uint64_t{vp->dwX} + vp->dwWidth > target_->width() || uint64_t{vp->dwY} + vp->dwHeight > target_->height())
        return E_INVALIDARG;
    viewport_ = *vp;
    dirty_viewport_ = any_dirty_state_ = true;
    return D3D_OK;
}

HRESULT Device::GetViewport(D3DVIEWPORT7* vp) {
    if (!vp) return DDERR_INVALIDPARAMS;
    *vp = viewport_;
    return D3D_OK;
}

HRESULT Device::SetMaterial(D3DMATERIAL7* material) {
    if (!material) return DDERR_INVALIDPARAMS;
    material_ = *material;
    dirty_material_ = any_dirty_state_ = true;
    return D3D_OK;
}

HRESULT Device::GetMaterial(D3DMATERIAL7* material) {
    if (!material) return DDERR_INVALIDPARAMS;
    *material = material_;
    return D3D_OK;
}

HRESULT Device::SetLight(DWORD index, D3DLIGHT7* light) {
    if (!light) return DDERR_INVALIDPARAMS;
    const D3DLIGHT7& l = *light;
    // The ranges Direct3D 7 documents for a light, enforced so that a light never turns into
    // NaNs or infinities in the shader (RenderDevice.SetLightRefusesWhatDirect3DDocumentsAsInvalid).
    if (l.dltType != D3DLIGHT_POINT && l.dltType != D3DLIGHT_SPOT && l.dltType != D3DLIGHT_DIRECTIONAL)
        return DDERR_INVALIDPARAMS;
    if (!finite(l.dcvDiffuse) || !finite(l.dcvSpecular) || !finite(l.dcvAmbient) || !finite(l.dvPosition) ||
        !finite(l.dvDirection))
        return DDERR_INVALIDPARAMS;
    bool positional = l.dltType != D3DLIGHT_DIRECTIONAL;
    bool directed = l.dltType != D3DLIGHT_POINT;
    if (directed && l.dvDirection.x == 0.0f && l.dvDirection.y == 0.0f && l.dvDirection.z == 0.0f)
        return DDERR_INVALIDPARAMS;
    if (positional) {
        if (!(l.dvRange >= 0.0f && l.dvRange <= D3DLIGHT_RANGE_MAX)) return DDERR_INVALIDPARAMS;
        if (!(l.dvAttenuation0 >= 0.0f) || !(l.dvAttenuation1 >= 0.0f) || !(l.dvAttenuation2 >= 0.0f) ||
            !std::isfinite(l.dvAttenuation0 + l.dvAttenuation1 + l.dvAttenuation2))
            return DDERR_INVALIDPARAMS;
    }
    if (l.dltType == D3DLIGHT_SPOT) {
        if (!(l.dvTheta >= 0.0f) || !(l.dvPhi >= l.dvTheta) || !(l.dvPhi <= kPi + 1e-5f) || !std::isfinite(l.dvFalloff))
            return DDERR_INVALIDPARAMS;
    }
    try {
        Light& slot = lights_[index];
        slot.light = l;
        if (slot.enabled) dirty_lights_ = any_dirty_state_ = true;
    } catch (const std::bad_alloc&) {
        return DDERR_OUTOFMEMORY;
    }
    return D3D_OK;
}

HRESULT Device::GetLight(DWORD index, D3DLIGHT7* light) {
    if (!light) return DDERR_INVALIDPARAMS;
    auto it = lights_.find(index);
    if (it == lights_.end()) return DDERR_INVALIDPARAMS;
    *light = it->second.light;
    return D3D_OK;
}

HRESULT Device::LightEnable(DWORD index, BOOL enable) {
    auto it = lights_.find(index);
    if (enable && !(it != lights_.end() && it->second.enabled)) {
        int active = 0;
        for (const auto& [i, l] : lights_) active += l.enabled ? 1 : 0;
        // Eight lights at most shine at once (GetCaps' dwMaxActiveLights); a ninth is refused
        // rather than silently ignored (RenderDevice.NinthLightIsRefused).
        if (active >= kMaxLights) return D3DERR_LIGHT_SET_FAILED;
    }
    if (it == lights_.end()) {
        // An index never set gets Direct3D's default light first: white, directional, along +z.
        Light fresh;
        fresh.light.dltType = D3DLIGHT_DIRECTIONAL;
        fresh.light.dcvDiffuse = {1.0f, 1.0f, 1.0f, 0.0f};
        fresh.light.dvDirection = {0.0f, 0.0f, 1.0f};
        try {
            it = lights_.emplace(index, fresh).first;
        } catch (const std::bad_alloc&) {
            return DDERR_OUTOFMEMORY;
        }
    }
    bool on = enable != FALSE;
    if (it->second.enabled != on) {
        it->second.enabled = on;
        dirty_lights_ = dirty_key_ = any_dirty_state_ = true;
    }
    return D3D_OK;
}

HRESULT Device::GetLightEnable(DWORD index, BOOL* enable) {
    if (!enable) return DDERR_INVALIDPARAMS;
    auto it = lights_.find(index);
    if (it == lights_.end()) return DDERR_INVALIDPARAMS;
    *enable = it->second.enabled ? TRUE : FALSE;
    return D3D_OK;
}

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (!valid_render_state(static_cast<DWORD>(state))) return DDERR_INVALIDPARAMS;
    bool alias = state == D3DRENDERSTATE_TEXTUREADDRESS || state == D3DRENDERSTATE_TEXTUREADDRESSU ||
                 state == D3DRENDERSTATE_TEXTUREADDRESSV || state == D3DRENDERSTATE_TEXTUREMAG ||
                 state == D3DRENDERSTATE_TEXTUREMIN || state == D3DRENDERSTATE_BORDERCOLOR ||
                 state == D3DRENDERSTATE_MIPMAPLODBIAS || state == D3DRENDERSTATE_ANISOTROPY;
    if (render_[state] == value && !alias) return D3D_OK;
    render_[state] = value;
    dirty_render_.set(static_cast<size_t>(state));
    any_dirty_state_ = true;
    if (alias) apply_alias(state);
    return D3D_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (!value || !valid_render_state(static_cast<DWORD>(state))) return DDERR_INVALIDPARAMS;
    *value = render_[state];
    return D3D_OK;
}

void Device::store_stage_state(DWORD stage, DWORD state, DWORD value) {
    stage_[stage][state] = value;
    dirty_stage_[stage].set(state);
    if (state == D3DTSS_ADDRESS) {
        // ADDRESS sets both directions.
        stage_[stage][D3DTSS_ADDRESSU] = stage_[stage][D3DTSS_ADDRESSV] = value;
        dirty_stage_[stage].set(D3DTSS_ADDRESSU);
        dirty_stage_[stage].set(D3DTSS_ADDRESSV);
    }
    any_dirty_state_ = true;
}

HRESULT Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) {
    if (stage >= kMaxStages || state < D3DTSS_COLOROP || state >= D3DTSS_MAX) return DDERR_INVALIDPARAMS;
    if (stage_[stage][state] == value && state != D3DTSS_ADDRESS) return D3D_OK;
    store_stage_state(stage, static_cast<DWORD>(state), value);
    return D3D_OK;
}

HRESULT Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD* value) {
    if (!value || stage >= kMaxStages || state < D3DTSS_COLOROP || state >= D3DTSS_MAX) return DDERR_INVALIDPARAMS;
    *value = stage_[stage][state];
    return D3D_OK;
}

HRESULT Device::SetTexture(DWORD stage, IDirectDrawSurface7* texture) {
    if (stage >= kMaxStages) return DDERR_INVALIDPARAMS;
    Surface* s = nullptr;
    if (texture) {
        s = Surface::from(texture);
        if (!s || s->is_depth() || !(s->is_texture() || s->is_render_target())) return DDERR_INVALIDPARAMS;
        // Textures live in the GL context of the DirectDraw object that made them.
        if (s->directdraw() != dd_.get()) return DDERR_INVALIDOBJECT;
    }
    if (textures_[stage].get() == s) return D3D_OK;
    textures_[stage] = ComPtr<Surface>(s);
    dirty_stage_key_ = dirty_key_ = any_dirty_state_ = true;
    return D3D_OK;
}

HRESULT Device::GetTexture(DWORD stage, IDirectDrawSurface7** texture) {
    clear_out(texture);
    if (!texture || stage >= kMaxStages) return DDERR_INVALIDPARAMS;
    textures_[stage].copy_to(texture);
    return D3D_OK;
}

}  // namespace vantor::render
