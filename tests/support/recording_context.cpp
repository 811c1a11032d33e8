// The recording utility-layer context and primitive shapes.
#include "recording_internal.h"

namespace vantor::testing::detail {

namespace {
std::vector<std::string> out_args(std::vector<std::string> in, const void* out) {
    if (!out) in.push_back("null");
    return in;
}
}  // namespace

RecContext::RecContext(std::shared_ptr<Recorder> rec, RecDirectDraw* dd, RecDevice* device,
                       RecSurface* primary, RecSurface* back, RecSurface* z, HWND window, DWORD flags,
                       DWORD width, DWORD height)
    : RecUnknown(std::move(rec), "context", "Context", false),
      dd_(share(dd->dd())),
      device_(share<IDirect3DDevice7>(device)),
      primary_(share(primary ? primary->iface() : nullptr)),
      back_(share(back ? back->iface() : nullptr)),
      z_(share(z ? z->iface() : nullptr)),
      rdevice_(device),
      rback_(back),
      rz_(z),
      window_(window),
      flags_(flags),
      width_(width),
      height_(height) {
    handle_ = vantor::backend::enter_handle(static_cast<ID3DXContext*>(this));
    rec_->last_context = this;
}

RecContext::~RecContext() {
    HandleClose(handle_);
    if (rec_->last_context == this) rec_->last_context = nullptr;
}

HRESULT RecContext::hand_out(IDirectDrawSurface7* surface, HRESULT missing, IDirectDrawSurface7** out,
                             CallScope& call) {
    if (!out) return call.done(D3DXERR_NULLPOINTER);
    if (!surface) return call.done(missing);
    surface->AddRef();
    *out = surface;
    return call.done(D3D_OK);
}

HRESULT RecContext::GetPrimary(IDirectDrawSurface7** surface) {
    if (surface) *surface = nullptr;
    auto call = begin("GetPrimary", out_args({}, surface));
    if (call.failed()) return call.injected();
    return hand_out(primary_.get(), D3DXERR_NOPRIMARYAVAILABLE, surface, call);
}

HRESULT RecContext::GetZBuffer(IDirectDrawSurface7** surface) {
    if (surface) *surface = nullptr;
    auto call = begin("GetZBuffer", out_args({}, surface));
    if (call.failed()) return call.injected();
    return hand_out(z_.get(), D3DXERR_NOZBUFFER, surface, call);
}

HRESULT RecContext::GetBackBuffer(DWORD which, IDirectDrawSurface7** surface) {
    if (surface) *surface = nullptr;
    auto call = begin("GetBackBuffer", out_args({fmt::u(which)}, surface));
    if (call.failed()) return call.injected();
    return hand_out(which == 0 ? back_.get() : nullptr, D3DXERR_NOBACKBUFFERAVAILABLE, surface, call);
}

HRESULT RecContext::GetD3D(IDirect3D7** d3d) {
    if (d3d) *d3d = nullptr;
    auto call = begin("GetD3D", out_args({}, d3d));
    if (call.failed()) return call.injected();
    if (!d3d) return call.done(D3DXERR_NULLPOINTER);
    auto* dd = rec_->find<RecDirectDraw>(dd_.get());
    dd->AddRef();
    *d3d = dd->d3d();
    return call.done(D3D_OK);
}

HRESULT RecContext::GetD3DDevice(IDirect3DDevice7** device) {
    if (device) *device = nullptr;
    auto call = begin("GetD3DDevice", out_args({}, device));
    if (call.failed()) return call.injected();
    if (!device) return call.done(D3DXERR_NULLPOINTER);
    *device = device_.get();
    (*device)->AddRef();
    return call.done(D3D_OK);
}

HRESULT RecContext::GetDD(IDirectDraw7** dd) {
    if (dd) *dd = nullptr;
    auto call = begin("GetDD", out_args({}, dd));
    if (call.failed()) return call.injected();
    if (!dd) return call.done(D3DXERR_NULLPOINTER);
    *dd = dd_.get();
    (*dd)->AddRef();
    return call.done(D3D_OK);
}

// The three plain getters cannot fail; they are logged all the same.
HWND RecContext::GetWindow() {
    begin("GetWindow", {}).done(S_OK);
    return window_;
}

DWORD RecContext::GetWidth() {
    begin("GetWidth", {}).done(S_OK);
    return width_;
}

DWORD RecContext::GetHeight() {
    begin("GetHeight", {}).done(S_OK);
    return height_;
}

HRESULT RecContext::UpdateFrame(DWORD flags) {
    auto call = begin("UpdateFrame", {fmt::u(flags)});
    if (call.failed()) return call.injected();
    if ((primary_ && static_cast<RecSurface*>(primary_.get())->lost) || (rback_ && rback_->lost))
        return call.done(DDERR_SURFACELOST);
    return call.done(D3D_OK);
}

HRESULT RecContext::DrawDebugText(float x, float y, D3DCOLOR colour, LPSTR text) {
    auto call = begin("DrawDebugText", {fmt::f(x), fmt::f(y), fmt::colour(colour), fmt::str(text)});
    if (call.failed()) return call.injected();
    if (!text) return call.done(D3DXERR_NULLPOINTER);
    return call.done(D3D_OK);
}

HRESULT RecContext::SetClearColor(D3DCOLOR colour) {
    auto call = begin("SetClearColor", {fmt::colour(colour)});
    if (call.failed()) return call.injected();
    clear_colour_ = colour;
    return call.done(D3D_OK);
}

D3DCOLOR RecContext::GetClearColor() {
    begin("GetClearColor", {}).done(S_OK);
    return clear_colour_;
}

HRESULT RecContext::SetClearDepth(float z) {
    auto call = begin("SetClearDepth", {fmt::f(z)});
    if (call.failed()) return call.injected();
    if (!(z >= 0.0f && z <= 1.0f)) return call.done(D3DXERR_INVALIDPARAMETER);
    clear_depth_ = z;
    return call.done(D3D_OK);
}

float RecContext::GetClearDepth() {
    begin("GetClearDepth", {}).done(S_OK);
    return clear_depth_;
}

HRESULT RecContext::SetClearStencil(DWORD stencil) {
    auto call = begin("SetClearStencil", {fmt::u(stencil)});
    if (call.failed()) return call.injected();
    clear_stencil_ = stencil;
    return call.done(D3D_OK);
}

DWORD RecContext::GetClearStencil() {
    begin("GetClearStencil", {}).done(S_OK);
    return clear_stencil_;
}

HRESULT RecContext::Clear(DWORD flags) {
    auto call = begin("Clear", {fmt::u(flags)});
    if (call.failed()) return call.injected();
    if (flags & ~DWORD(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL))
        return call.done(D3DXERR_INVALIDPARAMETER);
    if (flags & D3DCLEAR_STENCIL) return call.done(D3DERR_STENCILBUFFER_NOTPRESENT);
    if ((flags & D3DCLEAR_ZBUFFER) && !z_) return call.done(D3DERR_ZBUFFER_NOTPRESENT);
    if (flags & D3DCLEAR_TARGET) rdevice_->clear_target(nullptr, clear_colour_);
    return call.done(D3D_OK);
}

HRESULT RecContext::RestoreSurfaces() {
    auto call = begin("RestoreSurfaces", {});
    if (call.failed()) return call.injected();
    for (IDirectDrawSurface7* s : {primary_.get(), back_.get(), z_.get()})
        if (s) static_cast<RecSurface*>(s)->lost = false;
    return call.done(D3D_OK);
}

HRESULT RecContext::Resize(DWORD width, DWORD height) {
    auto call = begin("Resize", {fmt::u(width), fmt::u(height)});
    if (call.failed()) return call.injected();
    if (flags_ & D3DX_CONTEXT_FULLSCREEN) return call.done(D3DXERR_CANNOTRESIZEFULLSCREEN);
    if (flags_ & D3DX_CONTEXT_OFFSCREEN) return call.done(D3DXERR_CANNOTRESIZENONWINDOWED);
    if ((width == D3DX_DEFAULT || height == D3DX_DEFAULT)) {
        DWORD w = 0, h = 0;
        if (!window_client_size(window_, &w, &h)) return call.done(D3DXERR_INVALIDPARAMETER);
        if (width == D3DX_DEFAULT) width = w;
        if (height == D3DX_DEFAULT) height = h;
    }
    if (width == 0 || height == 0) return call.done(D3DXERR_INVALIDPARAMETER);
    if (rback_->busy() || (rz_ && rz_->busy())) return call.done(DDERR_SURFACEBUSY);
    rback_->resize(width, height);
    if (rz_) rz_->resize(width, height);
    rdevice_->reset_viewport();
    width_ = width;
    height_ = height;
    return call.done(D3D_OK);
}

// --- Shapes -------------------------------------------------------------------------------

RecShape::RecShape(std::shared_ptr<Recorder> rec, const std::string& kind, RecDevice* device,
                   RecVertexBuffer* vb, std::vector<WORD> indices)
    : RecUnknown(std::move(rec), kind, "Shape", true),
      device_(share<IDirect3DDevice7>(device)),
      vb_(share<IDirect3DVertexBuffer7>(vb)),
      rvb_(vb),
      indices_(std::move(indices)) {}

HRESULT RecShape::GetVB(IDirect3DVertexBuffer7** vb) {
    if (vb) *vb = nullptr;
    auto call = begin("GetVB", out_args({}, vb));
    if (call.failed()) return call.injected();
    if (!vb) return call.done(D3DXERR_NULLPOINTER);
    *vb = vb_.get();
    if (*vb) (*vb)->AddRef();
    return call.done(D3D_OK);
}

DWORD RecShape::GetIndices(WORD** indices) {
    begin("GetIndices", out_args({}, indices)).done(S_OK);
    if (indices) *indices = indices_.data();
    return DWORD(indices_.size());
}

HRESULT RecShape::Draw() {
    auto call = begin("Draw", {});
    if (call.failed()) return call.injected();
    if (rvb_->locked()) return call.done(D3DERR_VERTEXBUFFERLOCKED);
    return call.done(D3D_OK);
}

}  // namespace vantor::testing::detail
