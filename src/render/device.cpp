// The Direct3D 7 device: creation, scenes and the state calls (store, validate, mark dirty).
#include "device.h"

#include "directdraw.h"
#include "surface.h"

#include <vantor/backend/matrix.h>

#include <bit>

namespace vantor::render {
namespace {

using backend::render_state_valid;

// The shader's light slots are the lights the state core lets shine at once.
static_assert(kMaxLights == backend::kMaxActiveLights);

bool valid_transform(DWORD t) { return backend::transform_slot(t) >= 0; }

}  // namespace

ComPtr<Device> Device::create(DirectDraw* dd, Surface* target, const GUID& guid) {
    if (!dd->gl() || !target || !target->is_render_target()) return nullptr;
    ComPtr<Device> d = adopt(new (std::nothrow) Device(dd, target, guid));
    if (!d || !d->create_gl_objects()) return nullptr;
    return d;
}

Device::Device(DirectDraw* dd, Surface* target, const GUID& guid)
    : dd_(share(dd)), target_(share(target)), guid_(guid), handle_(static_cast<IDirect3DDevice7*>(this)) {
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
    bool depth = target_->attached_depth() != nullptr;
    for (DWORD i = 0; i < D3DRENDERSTATE_MAX; ++i) render_[i] = backend::render_state_default(i, depth);
    for (DWORD s = 0; s < kMaxStages; ++s) {
        for (DWORD i = 0; i < D3DTSS_MAX; ++i) stage_[s][i] = backend::stage_state_default(s, i);
        texture_matrix_[s] = identity();
    }
    for (D3DMATRIX& w : world_) w = identity();
    view_ = projection_ = identity();
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
        if (render_state_valid(static_cast<DWORD>(i))) dirty_render_.set(i);
    for (auto& s : dirty_stage_) s.set();
    dirty_render_any_ = true;
    dirty_stage_mask_ = ~0u;
    bound_vb_buffer_ = 0;
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

float Device::rs_float(D3DRENDERSTATETYPE s) const { return std::bit_cast<float>(render_[s]); }

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
    dd_->AddRef();
    return D3D_OK;
}

HRESULT Device::SetRenderTarget(IDirectDrawSurface7* surface, DWORD flags) {
    Surface* s = Surface::from(surface);
    if (!s || flags || !s->is_render_target() || s->directdraw() != dd_.get()) return DDERR_INVALIDPARAMS;
    target_ = share(s);
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
            // Scene graphs set WORLD back to what it was after each object.
            if (std::memcmp(matrix, &world_[0], sizeof world_[0]) == 0) return D3D_OK;
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
    if (std::memcmp(material, &material_, sizeof material_) == 0) return D3D_OK;
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
    HRESULT hr = lights_.set(index, light);
    if (hr == D3D_OK && lights_.is_enabled(index)) dirty_lights_ = any_dirty_state_ = true;
    return hr;
}

HRESULT Device::GetLight(DWORD index, D3DLIGHT7* light) { return lights_.get(index, light); }

HRESULT Device::LightEnable(DWORD index, BOOL enable) {
    bool changed = false;
    HRESULT hr = lights_.enable(index, enable, &changed);
    if (changed) dirty_lights_ = dirty_key_ = any_dirty_state_ = true;
    return hr;
}

HRESULT Device::GetLightEnable(DWORD index, BOOL* enable) { return lights_.get_enable(index, enable); }

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (!render_state_valid(static_cast<DWORD>(state))) return DDERR_INVALIDPARAMS;
    // The legacy stage-0 states write through every time, even when stage 0 changed since.
    bool alias = backend::render_state_sets_stage(state);
    if (render_[state] == value && !alias) return D3D_OK;
    render_[state] = value;
    dirty_render_.set(static_cast<size_t>(state));
    dirty_render_any_ = any_dirty_state_ = true;
    backend::StageWrite storage[2];
    for (const backend::StageWrite& w : backend::stage_aliases(state, value, storage))
        store_stage_state(0, w.state, w.value);
    return D3D_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (!value || !render_state_valid(static_cast<DWORD>(state))) return DDERR_INVALIDPARAMS;
    *value = render_[state];
    return D3D_OK;
}

void Device::store_stage_state(DWORD stage, DWORD state, DWORD value) {
    for (D3DTEXTURESTAGESTATETYPE id : backend::stage_state_targets(static_cast<D3DTEXTURESTAGESTATETYPE>(state))) {
        stage_[stage][id] = value;
        dirty_stage_[stage].set(id);
    }
    dirty_stage_mask_ |= 1u << stage;
    any_dirty_state_ = true;
}

HRESULT Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) {
    if (!backend::stage_state_valid(stage, state)) return DDERR_INVALIDPARAMS;
    if (stage_[stage][state] == value && state != D3DTSS_ADDRESS) return D3D_OK;
    store_stage_state(stage, static_cast<DWORD>(state), value);
    return D3D_OK;
}

HRESULT Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD* value) {
    if (!value || !backend::stage_state_valid(stage, state)) return DDERR_INVALIDPARAMS;
    *value = stage_[stage][backend::stage_state_source(state)];
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
    Surface* old = textures_[stage].get();
    if (old == s) return D3D_OK;
    // The pipeline key sees only whether a stage has a texture and whether it is a bump map
    // (and stage 0's colour key, which prepare() checks at every draw): swapping one ordinary
    // texture for another only binds another texture.
    auto kind = [](Surface* t) { return t ? (t->layout().kind == FormatKind::BumpDuDv ? 2 : 1) : 0; };
    if (kind(old) != kind(s)) dirty_stage_key_ = dirty_key_ = any_dirty_state_ = true;
    textures_[stage] = share(s);
    return D3D_OK;
}

HRESULT Device::GetTexture(DWORD stage, IDirectDrawSurface7** texture) {
    clear_out(texture);
    if (!texture || stage >= kMaxStages) return DDERR_INVALIDPARAMS;
    textures_[stage].copy_to(texture);
    return D3D_OK;
}

}  // namespace vantor::render
