// The recording Direct3D 7 device and vertex buffers.
#include <vantor/backend/matrix.h>

#include <algorithm>

#include "recording_internal.h"

namespace vantor::testing::detail {

namespace {

using backend::transform_slot;

bool valid_primitive(D3DPRIMITIVETYPE type) {
    return type >= D3DPT_POINTLIST && type <= D3DPT_TRIANGLEFAN;
}

std::string callback_arg(const void* cb) {
    return cb ? "<callback>" : "null";
}

std::vector<std::string> out_args(std::vector<std::string> in, const void* out) {
    if (!out) in.push_back("null");
    return in;
}

}  // namespace

// --- Device -------------------------------------------------------------------------------

RecDevice::RecDevice(std::shared_ptr<Recorder> rec, RecDirectDraw* dd, RecSurface* target, DWORD device_index)
    : RecUnknown(std::move(rec), "device", "Device", false),
      dd_(share(dd->dd())),
      ddraw_(dd),
      target_(target),
      target_ref_(share(target->iface())),
      device_index_(device_index) {
    // A context always attaches a depth buffer, so ZENABLE starts on.
    for (DWORD id = 0; id < D3DRENDERSTATE_MAX; ++id) rs_[id] = backend::render_state_default(id, true);
    for (DWORD s = 0; s < D3DMAXTEXTURESTAGES; ++s)
        for (DWORD id = 0; id < D3DTSS_MAX; ++id) tss_[s][id] = backend::stage_state_default(s, id);
    for (auto& m : transforms_) m = identity();
    reset_viewport();
    handle_ = vantor::backend::enter_handle(static_cast<IDirect3DDevice7*>(this));
    rec_->last_device = this;
}

RecDevice::~RecDevice() {
    HandleClose(handle_);
    if (rec_->last_device == this) rec_->last_device = nullptr;
}

void RecDevice::reset_viewport() {
    viewport_ = D3DVIEWPORT7{0, 0, target_->width(), target_->height(), 0.0f, 1.0f};
}

void RecDevice::set_stage_state(DWORD stage, DWORD state, DWORD value) {
    for (D3DTEXTURESTAGESTATETYPE id : backend::stage_state_targets(static_cast<D3DTEXTURESTAGESTATETYPE>(state)))
        tss_[stage][id] = value;
}

void RecDevice::clear_target(const RECT* rect, D3DCOLOR colour) {
    RECT vp{LONG(viewport_.dwX), LONG(viewport_.dwY), LONG(viewport_.dwX + viewport_.dwWidth),
            LONG(viewport_.dwY + viewport_.dwHeight)};
    if (rect) {
        vp.left = std::max(vp.left, rect->left);
        vp.top = std::max(vp.top, rect->top);
        vp.right = std::min(vp.right, rect->right);
        vp.bottom = std::min(vp.bottom, rect->bottom);
    }
    target_->fill_argb(vp, colour);
}

HRESULT RecDevice::GetCaps(D3DDEVICEDESC7* desc) {
    auto call = begin("GetCaps", out_args({}, desc));
    if (call.failed()) return call.injected();
    if (!desc) return call.done(DDERR_INVALIDPARAMS);
    const DeviceInfo* i = info();
    if (!i) return call.done(DDERR_INVALIDOBJECT);  // the device's entry was removed from the configuration
    *desc = i->caps;
    return call.done(D3D_OK);
}

HRESULT RecDevice::EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) {
    auto call = begin("EnumTextureFormats", {callback_arg(reinterpret_cast<const void*>(callback))});
    if (call.failed()) return call.injected();
    if (!callback) return call.done(DDERR_INVALIDPARAMS);
    std::vector<DDPIXELFORMAT> offered =
        rec_->config.texture_formats;  // the callback may change the configuration
    for (DDPIXELFORMAT& f : offered)
        if (callback(&f, context) != D3DENUMRET_OK) break;
    return call.done(D3D_OK);
}

HRESULT RecDevice::BeginScene() {
    auto call = begin("BeginScene", {});
    if (call.failed()) return call.injected();
    if (in_scene_) return call.done(D3DERR_SCENE_IN_SCENE);
    in_scene_ = true;
    return call.done(D3D_OK);
}

HRESULT RecDevice::EndScene() {
    auto call = begin("EndScene", {});
    if (call.failed()) return call.injected();
    if (!in_scene_) return call.done(D3DERR_SCENE_NOT_IN_SCENE);
    in_scene_ = false;
    return call.done(D3D_OK);
}

HRESULT RecDevice::GetDirect3D(IDirect3D7** d3d) {
    if (d3d) *d3d = nullptr;
    auto call = begin("GetDirect3D", out_args({}, d3d));
    if (call.failed()) return call.injected();
    if (!d3d) return call.done(DDERR_INVALIDPARAMS);
    ddraw_->AddRef();
    *d3d = ddraw_->d3d();
    return call.done(D3D_OK);
}

HRESULT RecDevice::SetRenderTarget(IDirectDrawSurface7* surface, DWORD flags) {
    auto call = begin("SetRenderTarget", {rec_->describe(surface), fmt::u(flags)});
    if (call.failed()) return call.injected();
    RecSurface* s = rec_->find<RecSurface>(surface);
    if (!s) return call.done(DDERR_INVALIDPARAMS);
    if (!(s->desc().ddsCaps.dwCaps & DDSCAPS_3DDEVICE)) return call.done(DDERR_INVALIDCAPS);
    target_ref_ = share(surface);
    target_ = s;
    reset_viewport();
    return call.done(D3D_OK);
}

HRESULT RecDevice::GetRenderTarget(IDirectDrawSurface7** surface) {
    if (surface) *surface = nullptr;
    auto call = begin("GetRenderTarget", out_args({}, surface));
    if (call.failed()) return call.injected();
    if (!surface) return call.done(DDERR_INVALIDPARAMS);
    *surface = target_->iface();
    (*surface)->AddRef();
    return call.done(D3D_OK);
}

HRESULT RecDevice::Clear(DWORD count, D3DRECT* rects, DWORD flags, D3DCOLOR colour, D3DVALUE z,
                         DWORD stencil) {
    auto call = begin("Clear", {fmt::u(count), fmt::rects(rects, count), fmt::u(flags), fmt::colour(colour),
                                fmt::f(z), fmt::u(stencil)});
    if (call.failed()) return call.injected();
    if ((count > 0 && !rects) || (flags & ~DWORD(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)))
        return call.done(DDERR_INVALIDPARAMS);
    if (flags & D3DCLEAR_STENCIL)
        return call.done(D3DERR_STENCILBUFFER_NOTPRESENT);  // depth buffers have no stencil
    if (flags & D3DCLEAR_TARGET) {
        if (count == 0) clear_target(nullptr, colour);
        for (DWORD k = 0; k < count; ++k) {
            RECT r{rects[k].x1, rects[k].y1, rects[k].x2, rects[k].y2};
            clear_target(&r, colour);
        }
    }
    return call.done(D3D_OK);
}

HRESULT RecDevice::SetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
    auto call = begin("SetTransform", {fmt::i(state), fmt::matrix(matrix)});
    if (call.failed()) return call.injected();
    int slot = transform_slot(state);
    if (slot < 0 || !matrix) return call.done(DDERR_INVALIDPARAMS);
    transforms_[slot] = *matrix;
    return call.done(D3D_OK);
}

HRESULT RecDevice::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
    auto call = begin("GetTransform", out_args({fmt::i(state)}, matrix));
    if (call.failed()) return call.injected();
    int slot = transform_slot(state);
    if (slot < 0 || !matrix) return call.done(DDERR_INVALIDPARAMS);
    *matrix = transforms_[slot];
    return call.done(D3D_OK);
}

HRESULT RecDevice::MultiplyTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
    auto call = begin("MultiplyTransform", {fmt::i(state), fmt::matrix(matrix)});
    if (call.failed()) return call.injected();
    int slot = transform_slot(state);
    if (slot < 0 || !matrix) return call.done(DDERR_INVALIDPARAMS);
    transforms_[slot] = multiply(*matrix, transforms_[slot]);
    return call.done(D3D_OK);
}

HRESULT RecDevice::SetViewport(D3DVIEWPORT7* viewport) {
    auto call = begin("SetViewport", {fmt::viewport(viewport)});
    if (call.failed()) return call.injected();
    if (!viewport) return call.done(DDERR_INVALIDPARAMS);
    DWORD w = target_->width(), h = target_->height();
    if (viewport->dwX > w || viewport->dwWidth > w - viewport->dwX || viewport->dwY > h ||
        viewport->dwHeight > h - viewport->dwY)
        return call.done(E_INVALIDARG);
    viewport_ = *viewport;
    return call.done(D3D_OK);
}

HRESULT RecDevice::GetViewport(D3DVIEWPORT7* viewport) {
    auto call = begin("GetViewport", out_args({}, viewport));
    if (call.failed()) return call.injected();
    if (!viewport) return call.done(DDERR_INVALIDPARAMS);
    *viewport = viewport_;
    return call.done(D3D_OK);
}

HRESULT RecDevice::SetMaterial(D3DMATERIAL7* material) {
    auto call = begin("SetMaterial", {fmt::material(material)});
    if (call.failed()) return call.injected();
    if (!material) return call.done(DDERR_INVALIDPARAMS);
    material_ = *material;
    return call.done(D3D_OK);
}

HRESULT RecDevice::GetMaterial(D3DMATERIAL7* material) {
    auto call = begin("GetMaterial", out_args({}, material));
    if (call.failed()) return call.injected();
    if (!material) return call.done(DDERR_INVALIDPARAMS);
    *material = material_;
    return call.done(D3D_OK);
}

HRESULT RecDevice::SetLight(DWORD index, D3DLIGHT7* light) {
    auto call = begin("SetLight", {fmt::u(index), fmt::light(light)});
    if (call.failed()) return call.injected();
    return call.done(lights_.set(index, light));
}

HRESULT RecDevice::GetLight(DWORD index, D3DLIGHT7* light) {
    auto call = begin("GetLight", out_args({fmt::u(index)}, light));
    if (call.failed()) return call.injected();
    return call.done(lights_.get(index, light));
}

HRESULT RecDevice::LightEnable(DWORD index, BOOL enable) {
    auto call = begin("LightEnable", {fmt::u(index), fmt::i(enable)});
    if (call.failed()) return call.injected();
    return call.done(lights_.enable(index, enable));
}

HRESULT RecDevice::GetLightEnable(DWORD index, BOOL* enable) {
    auto call = begin("GetLightEnable", out_args({fmt::u(index)}, enable));
    if (call.failed()) return call.injected();
    return call.done(lights_.get_enable(index, enable));
}

HRESULT RecDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    auto call = begin("SetRenderState", {fmt::i(state), fmt::u(value)});
    if (call.failed()) return call.injected();
    if (!backend::render_state_valid(state)) return call.done(DDERR_INVALIDPARAMS);
    rs_[state] = value;
    backend::StageWrite storage[2];
    for (const backend::StageWrite& w : backend::stage_aliases(state, value, storage))
        set_stage_state(0, w.state, w.value);
    return call.done(D3D_OK);
}

HRESULT RecDevice::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    auto call = begin("GetRenderState", out_args({fmt::i(state)}, value));
    if (call.failed()) return call.injected();
    if (!value || !backend::render_state_valid(state)) return call.done(DDERR_INVALIDPARAMS);
    *value = rs_[state];
    return call.done(D3D_OK);
}

HRESULT RecDevice::DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD count, DWORD flags) {
    auto call = begin("DrawPrimitive", {fmt::i(type), fmt::u(fvf), fmt::vertices(vertices, count),
                                        fmt::u(count), fmt::u(flags)});
    if (call.failed()) return call.injected();
    if (!valid_primitive(type)) return call.done(D3DERR_INVALIDPRIMITIVETYPE);
    if (!fvf_valid(fvf)) return call.done(D3DERR_INVALIDVERTEXTYPE);
    if (count == 0) return call.done(D3D_OK);
    if (!vertices) return call.done(DDERR_INVALIDPARAMS);
    return call.done(D3D_OK);
}

HRESULT RecDevice::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD vertexCount,
                                        WORD* indices, DWORD indexCount, DWORD flags) {
    auto call = begin("DrawIndexedPrimitive",
                      {fmt::i(type), fmt::u(fvf), fmt::vertices(vertices, vertexCount), fmt::u(vertexCount),
                       fmt::indices(indices, indexCount), fmt::u(indexCount), fmt::u(flags)});
    if (call.failed()) return call.injected();
    if (!valid_primitive(type)) return call.done(D3DERR_INVALIDPRIMITIVETYPE);
    if (!fvf_valid(fvf)) return call.done(D3DERR_INVALIDVERTEXTYPE);
    if (indexCount == 0) return call.done(D3D_OK);
    if (!vertices || !indices || vertexCount == 0) return call.done(DDERR_INVALIDPARAMS);
    if (std::any_of(indices, indices + indexCount, [&](WORD i) { return i >= vertexCount; }))
        return call.done(DDERR_INVALIDPARAMS);
    return call.done(D3D_OK);
}

HRESULT RecDevice::DrawPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* vb, DWORD start,
                                   DWORD count, DWORD flags) {
    auto call = begin("DrawPrimitiveVB",
                      {fmt::i(type), rec_->describe(vb), fmt::u(start), fmt::u(count), fmt::u(flags)});
    if (call.failed()) return call.injected();
    if (!valid_primitive(type)) return call.done(D3DERR_INVALIDPRIMITIVETYPE);
    RecVertexBuffer* b = rec_->find<RecVertexBuffer>(vb);
    if (!b) return call.done(DDERR_INVALIDPARAMS);
    if (b->locked()) return call.done(D3DERR_VERTEXBUFFERLOCKED);
    DWORD n = b->desc().dwNumVertices;
    if (start > n || count > n - start) return call.done(DDERR_INVALIDPARAMS);
    return call.done(D3D_OK);
}

HRESULT RecDevice::DrawIndexedPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* vb, DWORD start,
                                          DWORD vertexCount, WORD* indices, DWORD indexCount, DWORD flags) {
    auto call = begin("DrawIndexedPrimitiveVB",
                      {fmt::i(type), rec_->describe(vb), fmt::u(start), fmt::u(vertexCount),
                       fmt::indices(indices, indexCount), fmt::u(indexCount), fmt::u(flags)});
    if (call.failed()) return call.injected();
    if (!valid_primitive(type)) return call.done(D3DERR_INVALIDPRIMITIVETYPE);
    RecVertexBuffer* b = rec_->find<RecVertexBuffer>(vb);
    if (!b) return call.done(DDERR_INVALIDPARAMS);
    if (b->locked()) return call.done(D3DERR_VERTEXBUFFERLOCKED);
    DWORD n = b->desc().dwNumVertices;
    if (start > n || vertexCount > n - start) return call.done(DDERR_INVALIDPARAMS);
    if (indexCount == 0) return call.done(D3D_OK);
    if (!indices || std::any_of(indices, indices + indexCount, [&](WORD i) { return i >= vertexCount; }))
        return call.done(DDERR_INVALIDPARAMS);
    return call.done(D3D_OK);
}

HRESULT RecDevice::GetTexture(DWORD stage, IDirectDrawSurface7** texture) {
    if (texture) *texture = nullptr;
    auto call = begin("GetTexture", out_args({fmt::u(stage)}, texture));
    if (call.failed()) return call.injected();
    if (!texture || stage >= D3DMAXTEXTURESTAGES) return call.done(DDERR_INVALIDPARAMS);
    *texture = textures_[stage].get();
    if (*texture) (*texture)->AddRef();
    return call.done(D3D_OK);
}

HRESULT RecDevice::SetTexture(DWORD stage, IDirectDrawSurface7* texture) {
    auto call = begin("SetTexture", {fmt::u(stage), rec_->describe(texture)});
    if (call.failed()) return call.injected();
    if (stage >= D3DMAXTEXTURESTAGES) return call.done(DDERR_INVALIDPARAMS);
    if (texture && !rec_->find<RecSurface>(texture)) return call.done(DDERR_INVALIDOBJECT);
    textures_[stage] = share(texture);
    return call.done(D3D_OK);
}

HRESULT RecDevice::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD* value) {
    auto call = begin("GetTextureStageState", out_args({fmt::u(stage), fmt::i(state)}, value));
    if (call.failed()) return call.injected();
    if (!value || !backend::stage_state_valid(stage, state)) return call.done(DDERR_INVALIDPARAMS);
    *value = tss_[stage][backend::stage_state_source(state)];
    return call.done(D3D_OK);
}

HRESULT RecDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) {
    auto call = begin("SetTextureStageState", {fmt::u(stage), fmt::i(state), fmt::u(value)});
    if (call.failed()) return call.injected();
    if (!backend::stage_state_valid(stage, state)) return call.done(DDERR_INVALIDPARAMS);
    set_stage_state(stage, DWORD(state), value);
    return call.done(D3D_OK);
}

HRESULT RecDevice::GetInfo(DWORD id, void* info, DWORD size) {
    auto call = begin("GetInfo", {fmt::u(id), info ? "<buffer>" : "null", fmt::u(size)});
    if (call.failed()) return call.injected();
    if (!info || id < D3DDEVINFOID_TEXTUREMANAGER || id > D3DDEVINFOID_TEXTURING)
        return call.done(DDERR_INVALIDPARAMS);
    return call.done(S_FALSE);  // like the retail runtime: statistics are not kept
}

// --- Vertex buffers -----------------------------------------------------------------------

namespace {
constexpr HRESULT kVertexBufferUnlockFailed = MAKE_DDHRESULT(2063);  // D3DERR_VERTEXBUFFERUNLOCKFAILED
}

RecVertexBuffer::RecVertexBuffer(std::shared_ptr<Recorder> rec, RecDirectDraw* d3d,
                                 const D3DVERTEXBUFFERDESC& desc)
    : RecUnknown(std::move(rec), "vb", "VertexBuffer", true),
      d3d_(share(d3d->d3d())),
      desc_(desc),
      stride_(fvf_stride(desc.dwFVF)),
      data_(size_t(stride_) * desc.dwNumVertices, 0) {}

HRESULT RecVertexBuffer::Lock(DWORD flags, void** data, DWORD* size) {
    if (data) *data = nullptr;
    if (size) *size = 0;
    std::vector<std::string> args{fmt::u(flags)};
    if (!data) args.push_back("null");
    auto call = begin("Lock", std::move(args));
    if (call.failed()) return call.injected();
    if (!data) return call.done(DDERR_INVALIDPARAMS);
    if (desc_.dwCaps & D3DVBCAPS_OPTIMIZED) return call.done(D3DERR_VERTEXBUFFEROPTIMIZED);
    if (locked_) return call.done(D3DERR_VERTEXBUFFERLOCKED);
    locked_ = true;
    *data = data_.data();
    if (size) *size = DWORD(data_.size());
    return call.done(D3D_OK);
}

HRESULT RecVertexBuffer::Unlock() {
    auto call = begin("Unlock", {});
    if (call.failed()) return call.injected();
    if (!locked_) return call.done(kVertexBufferUnlockFailed);
    locked_ = false;
    return call.done(D3D_OK);
}

HRESULT RecVertexBuffer::GetVertexBufferDesc(D3DVERTEXBUFFERDESC* desc) {
    auto call = begin("GetVertexBufferDesc", out_args({}, desc));
    if (call.failed()) return call.injected();
    if (!desc || desc->dwSize != sizeof(D3DVERTEXBUFFERDESC)) return call.done(DDERR_INVALIDPARAMS);
    *desc = desc_;
    return call.done(D3D_OK);
}

HRESULT RecVertexBuffer::Optimize(IDirect3DDevice7* device, DWORD flags) {
    auto call = begin("Optimize", {rec_->describe(device), fmt::u(flags)});
    if (call.failed()) return call.injected();
    if (!rec_->find<RecDevice>(device)) return call.done(DDERR_INVALIDPARAMS);
    if (locked_) return call.done(D3DERR_VERTEXBUFFERLOCKED);
    if (desc_.dwCaps & D3DVBCAPS_OPTIMIZED) return call.done(D3DERR_VERTEXBUFFEROPTIMIZED);
    desc_.dwCaps |= D3DVBCAPS_OPTIMIZED;
    return call.done(D3D_OK);
}

}  // namespace vantor::testing::detail
