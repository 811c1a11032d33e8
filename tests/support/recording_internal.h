// recording_internal.h — the recording back end's objects and the recorder they share.
//
// Every object holds the Recorder (shared), so the log, the fault rules, the configuration and
// the list of live objects outlive the RecordingBackend that made them. Each method follows one
// skeleton:
//
//   HRESULT RecDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
//       auto call = begin("SetRenderState", {fmt::u(state), fmt::u(value)});   // logged
//       if (call.failed()) return call.injected();                             // fault rule
//       if (!known(state)) return call.done(DDERR_INVALIDPARAMS);              // validation
//       ...                                                                    // the effect
//       return call.done(D3D_OK);
//   }
//
// Out parameters are cleared before `begin`, so an injected failure leaves them cleared too.
#pragma once

#include <map>
#include <optional>
#include <set>

#include <vantor/backend/device_state.h>
#include <vantor/backend/fvf.h>
#include <vantor/backend/pixel_format.h>
#include <vantor/com_ptr.h>

#include "recording_backend.h"

namespace vantor::testing::detail {

class RecObject;
class RecDirectDraw;
class RecSurface;
class RecPalette;
class RecDevice;
class RecContext;
class RecVertexBuffer;
class RecShape;

// --- Argument formatting for the call log (the format is described in recording_backend.h) ---
namespace fmt {
std::string u(DWORD v);
std::string i(LONG v);
std::string f(float v);
std::string colour(DWORD v);
std::string hex(DWORD v);
std::string str(const char* s);
std::string guid(const GUID& g);
std::string guid(const GUID* g);
std::string window(HWND w);
std::string opt(const DWORD* p);  // the value pointed at, "null" for none
std::string rect(const RECT* r);
std::string rects(const D3DRECT* r, DWORD count);
std::string matrix(const D3DMATRIX* m);
std::string viewport(const D3DVIEWPORT7* v);
std::string material(const D3DMATERIAL7* m);
std::string light(const D3DLIGHT7* l);
std::string surface_desc(const DDSURFACEDESC2* d);
std::string vb_desc(const D3DVERTEXBUFFERDESC* d);
std::string vec2(const D3DXVECTOR2* v);
std::string vec3(const D3DXVECTOR3* v);
std::string vertices(const void* data, DWORD count);
std::string indices(const WORD* data, DWORD count);
std::string blt_fx(const DDBLTFX* fx, DWORD flags);
}  // namespace fmt

// --- Pixel formats (the shared core's layouts) and the vertex format of a call ---
namespace pixels {
// The layout of a format; an empty one (no bytes) for formats the core refuses.
backend::PixelLayout layout_of(const DDPIXELFORMAT& f);
bool has_colour(const backend::PixelLayout& l);  // RGB or luminance: converts through ARGB
uint32_t from_argb(const backend::PixelLayout& l, D3DCOLOR argb);
DDPIXELFORMAT display_format(DWORD bpp);  // the desktop format of a colour depth
}  // namespace pixels

// The stride of a vertex format, 0 for an invalid one.
inline DWORD fvf_stride(DWORD fvf) {
    backend::FvfLayout l;
    return SUCCEEDED(backend::FvfLayout::parse(fvf, &l)) ? l.stride : 0;
}
inline bool fvf_valid(DWORD fvf) { return fvf_stride(fvf) != 0; }

// --- The platform underneath: windows and device contexts (vantor/window.h, vantor/gdi.h) ---
bool is_window(HWND w);
bool window_client_size(HWND w, DWORD* width, DWORD* height);
HDC create_surface_dc(void* bits, DWORD width, DWORD height, LONG pitch, const DDPIXELFORMAT& format,
                      const PALETTEENTRY* palette);
void delete_surface_dc(HDC dc);

// Joins pieces into one string. (Also keeps GCC 12 at -O3 from its false -Wrestrict warning
// on "literal" + std::string.)
template <class... Parts>
std::string cat(const Parts&... parts) {
    std::string out;
    (out.append(std::string_view(parts)), ...);
    return out;
}

class CallScope;

class Recorder {
public:
    explicit Recorder(RecordingConfig c) : config(std::move(c)) {}

    RecordingConfig config;

    // The log
    std::vector<std::string> texts;
    std::vector<Call> records;
    std::vector<HRESULT> results;
    unsigned epoch = 0;  // bumped by clear_calls, so a call in flight does not write a stale slot
    CallScope begin(std::string name, std::vector<std::string> args);

    // Fault rules
    struct Rule {
        std::string call;  // a call name, or a text prefix when it contains '('
        CallPredicate when;
        HRESULT hr;
        unsigned count;
        unsigned skip;
    };
    std::vector<Rule> rules;
    std::optional<HRESULT> injected_result(const Call& call);

    // Objects
    std::set<RecObject*> live;
    std::map<const void*, RecObject*> by_interface;
    std::map<const void*, std::string> names;
    std::map<std::string, unsigned> counters;
    std::string new_name(const std::string& kind);
    std::string describe(const void* iface) const;
    template <class T>
    T* find(const void* iface) const {
        auto it = by_interface.find(iface);
        return it == by_interface.end() ? nullptr : dynamic_cast<T*>(it->second);
    }

    // The utility layer and the (virtual) display
    int started = 0;
    std::optional<D3DX_VIDMODEDESC> mode_set;
    D3DX_VIDMODEDESC display_mode() const { return mode_set ? *mode_set : config.desktop_mode; }
    // The device entry for an index (D3DX_DEFAULT: the default device); nullptr when none.
    const DeviceInfo* device_info(DWORD index) const;
    DWORD resolve_index(DWORD index) const { return index == D3DX_DEFAULT ? config.default_device : index; }

    RecContext* last_context = nullptr;
    RecDevice* last_device = nullptr;
    RecDirectDraw* last_dd = nullptr;
};

// One call in progress: logged when made; `done` stores its result.
class CallScope {
public:
    CallScope(Recorder& rec, size_t index, unsigned epoch, std::optional<HRESULT> injected)
        : rec_(rec), index_(index), epoch_(epoch), injected_(injected) {}
    bool failed() const { return injected_ && FAILED(*injected_); }
    HRESULT injected() const { return *injected_; }
    // The result of the call: `hr`, or an injected success code in place of a success.
    HRESULT done(HRESULT hr);

private:
    Recorder& rec_;
    size_t index_;
    unsigned epoch_;
    std::optional<HRESULT> injected_;
};

// Base of every recording object: its name, its place in the live list, its reference count.
class RecObject {
public:
    // `kind` names the object ("surface" -> <surface3>); `log_kind` starts its log lines
    // ("Surface"); `receiver` puts the object's own name first among the arguments.
    RecObject(std::shared_ptr<Recorder> rec, const std::string& kind, const char* log_kind, bool receiver);
    virtual ~RecObject();
    RecObject(const RecObject&) = delete;
    RecObject& operator=(const RecObject&) = delete;

    const std::string& name() const { return name_; }
    ULONG references() const { return refs_; }
    Recorder& rec() const { return *rec_; }
    const std::shared_ptr<Recorder>& recorder() const { return rec_; }

protected:
    CallScope begin(const char* method, std::vector<std::string> args);
    void expose(const void* iface, const std::string& name);
    HRESULT query(REFIID iid, void** out, std::initializer_list<std::pair<const IID*, void*>> answers);
    ULONG add_ref() { return ++refs_; }
    ULONG release();

    std::shared_ptr<Recorder> rec_;
    std::string name_;
    const char* log_kind_;
    bool receiver_;
    ULONG refs_ = 1;
    std::vector<const void*> ifaces_;
};

// A recording object behind one interface I.
template <class I>
class RecUnknown : public I, public RecObject {
public:
    RecUnknown(std::shared_ptr<Recorder> rec, const std::string& kind, const char* log_kind, bool receiver)
        : RecObject(std::move(rec), kind, log_kind, receiver) {
        expose(static_cast<I*>(this), name_);
    }
    HRESULT QueryInterface(REFIID iid, void** out) override {
        return query(iid, out,
                     {{&IID_IUnknown, static_cast<I*>(this)}, {&__uuidof(I), static_cast<I*>(this)}});
    }
    ULONG AddRef() override { return add_ref(); }
    ULONG Release() override { return release(); }
};

// --- DirectDraw 7 and Direct3D 7: one object, two interfaces, one reference count ---
class RecDirectDraw : public IDirectDraw7, public IDirect3D7, public RecObject {
public:
    RecDirectDraw(std::shared_ptr<Recorder> rec, DWORD device_index);
    ~RecDirectDraw() override;

    HRESULT QueryInterface(REFIID iid, void** out) override;
    ULONG AddRef() override { return add_ref(); }
    ULONG Release() override { return release(); }

    HRESULT SetCooperativeLevel(HWND window, DWORD flags) override;
    HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refresh, DWORD flags) override;
    HRESULT GetDisplayMode(DDSURFACEDESC2* desc) override;
    HRESULT RestoreDisplayMode() override;
    HRESULT CreateSurface(DDSURFACEDESC2* desc, IDirectDrawSurface7** surface, IUnknown* outer) override;
    HRESULT CreatePalette(DWORD flags, PALETTEENTRY* entries, IDirectDrawPalette** palette,
                          IUnknown* outer) override;

    HRESULT CreateVertexBuffer(D3DVERTEXBUFFERDESC* desc, IDirect3DVertexBuffer7** vb, DWORD flags) override;
    HRESULT EnumZBufferFormats(REFCLSID device, LPD3DENUMPIXELFORMATSCALLBACK callback,
                               void* context) override;

    IDirectDraw7* dd() { return static_cast<IDirectDraw7*>(this); }
    IDirect3D7* d3d() { return static_cast<IDirect3D7*>(this); }
    DWORD device_index() const { return device_index_; }
    DWORD cooperative_level() const { return level_; }
    // The back end's own way in (not logged): the level a context sets, the surfaces it makes.
    void set_level(DWORD flags) { level_ = flags; }
    HRESULT make_surface(const DDSURFACEDESC2& desc, const std::string& kind, RecSurface** out);
    RecSurface* primary = nullptr;  // the live primary surface, not counted
    bool changed_mode = false;      // DirectDraw gives the display mode back when its changer goes

private:
    DWORD device_index_;
    DWORD level_ = 0;
    uint32_t dd_handle_ = 0, d3d_handle_ = 0;
};

class RecPalette : public RecUnknown<IDirectDrawPalette> {
public:
    RecPalette(std::shared_ptr<Recorder> rec, RecDirectDraw* dd, DWORD caps, const PALETTEENTRY* entries);
    ~RecPalette() override;
    HRESULT GetCaps(DWORD* caps) override;
    HRESULT GetEntries(DWORD flags, DWORD base, DWORD count, PALETTEENTRY* entries) override;
    HRESULT SetEntries(DWORD flags, DWORD start, DWORD count, const PALETTEENTRY* entries) override;

    const PALETTEENTRY* entries() const { return entries_; }

private:
    ComPtr<IDirectDraw7> dd_;
    DWORD caps_;
    PALETTEENTRY entries_[256]{};
    uint32_t handle_ = 0;
};

class RecSurface : public RecUnknown<IDirectDrawSurface7> {
public:
    // `desc` is complete (flags, size, pitch, format, caps); the pixels start zeroed.
    RecSurface(std::shared_ptr<Recorder> rec, const std::string& kind, RecDirectDraw* dd,
               const DDSURFACEDESC2& desc);
    ~RecSurface() override;

    HRESULT Blt(RECT* dst, IDirectDrawSurface7* src, RECT* srcRect, DWORD flags, DDBLTFX* fx) override;
    HRESULT GetSurfaceDesc(DDSURFACEDESC2* desc) override;
    HRESULT GetPixelFormat(DDPIXELFORMAT* format) override;
    HRESULT Lock(RECT* rect, DDSURFACEDESC2* desc, DWORD flags, HANDLE event) override;
    HRESULT Unlock(RECT* rect) override;
    HRESULT GetDC(HDC* dc) override;
    HRESULT ReleaseDC(HDC dc) override;
    HRESULT SetPalette(IDirectDrawPalette* palette) override;
    HRESULT GetPalette(IDirectDrawPalette** palette) override;
    HRESULT SetColorKey(DWORD flags, DDCOLORKEY* key) override;
    HRESULT GetDDInterface(void** dd) override;
    HRESULT IsLost() override;
    HRESULT Restore() override;

    IDirectDrawSurface7* iface() { return this; }
    DWORD width() const { return desc_.dwWidth; }
    DWORD height() const { return desc_.dwHeight; }
    const DDSURFACEDESC2& desc() const { return desc_; }
    bool busy() const { return locked_ || dc_ != 0; }
    bool lost = false;
    // Fills a rectangle (clipped to the surface) with a colour converted to the surface's format.
    void fill_argb(const RECT& r, D3DCOLOR colour);
    // New size for a context's Resize: the pixels are reallocated and cleared.
    void resize(DWORD width, DWORD height);
    RecDirectDraw* owner() const { return dd_; }

private:
    uint8_t* at(DWORD x, DWORD y) { return pixels_.data() + size_t(y) * desc_.lPitch + size_t(x) * bpp_; }
    void allocate();

    RecDirectDraw* dd_;  // counted through dd_ref_
    ComPtr<IDirectDraw7> dd_ref_;
    DDSURFACEDESC2 desc_{};
    backend::PixelLayout layout_;
    DWORD bpp_ = 0;  // bytes per pixel
    std::vector<uint8_t> pixels_;
    bool locked_ = false;
    HDC dc_ = 0;
    ComPtr<IDirectDrawPalette> palette_;
    bool keyed_ = false;
    DDCOLORKEY key_{};
    uint32_t handle_ = 0;
};

class RecVertexBuffer : public RecUnknown<IDirect3DVertexBuffer7> {
public:
    RecVertexBuffer(std::shared_ptr<Recorder> rec, RecDirectDraw* d3d, const D3DVERTEXBUFFERDESC& desc);
    HRESULT Lock(DWORD flags, void** data, DWORD* size) override;
    HRESULT Unlock() override;
    HRESULT GetVertexBufferDesc(D3DVERTEXBUFFERDESC* desc) override;
    HRESULT Optimize(IDirect3DDevice7* device, DWORD flags) override;

    const D3DVERTEXBUFFERDESC& desc() const { return desc_; }
    bool locked() const { return locked_; }

private:
    ComPtr<IDirect3D7> d3d_;
    D3DVERTEXBUFFERDESC desc_;
    DWORD stride_;
    std::vector<uint8_t> data_;
    bool locked_ = false;
};

class RecDevice : public RecUnknown<IDirect3DDevice7> {
public:
    RecDevice(std::shared_ptr<Recorder> rec, RecDirectDraw* dd, RecSurface* target, DWORD device_index);
    ~RecDevice() override;

    HRESULT GetCaps(D3DDEVICEDESC7* desc) override;
    HRESULT EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT GetDirect3D(IDirect3D7** d3d) override;
    HRESULT SetRenderTarget(IDirectDrawSurface7* surface, DWORD flags) override;
    HRESULT GetRenderTarget(IDirectDrawSurface7** surface) override;
    HRESULT Clear(DWORD count, D3DRECT* rects, DWORD flags, D3DCOLOR colour, D3DVALUE z,
                  DWORD stencil) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT SetViewport(D3DVIEWPORT7* viewport) override;
    HRESULT MultiplyTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT GetViewport(D3DVIEWPORT7* viewport) override;
    HRESULT SetMaterial(D3DMATERIAL7* material) override;
    HRESULT GetMaterial(D3DMATERIAL7* material) override;
    HRESULT SetLight(DWORD index, D3DLIGHT7* light) override;
    HRESULT GetLight(DWORD index, D3DLIGHT7* light) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD count,
                          DWORD flags) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD vertexCount,
                                 WORD* indices, DWORD indexCount, DWORD flags) override;
    HRESULT DrawPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* vb, DWORD start, DWORD count,
                            DWORD flags) override;
    HRESULT DrawIndexedPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* vb, DWORD start,
                                   DWORD vertexCount, WORD* indices, DWORD indexCount, DWORD flags) override;
    HRESULT GetTexture(DWORD stage, IDirectDrawSurface7** texture) override;
    HRESULT SetTexture(DWORD stage, IDirectDrawSurface7* texture) override;
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD* value) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) override;
    HRESULT LightEnable(DWORD index, BOOL enable) override;
    HRESULT GetLightEnable(DWORD index, BOOL* enable) override;
    HRESULT GetInfo(DWORD id, void* info, DWORD size) override;

    // The back end's own way in, for the utility layer (sprites); not logged.
    void set_render_state(DWORD state, DWORD value) { rs_[state] = value; }
    void set_stage_state(DWORD stage, DWORD state, DWORD value);
    void set_texture(DWORD stage, RecSurface* texture) {
        textures_[stage] = share(texture ? texture->iface() : nullptr);
    }
    const DeviceInfo* info() const { return rec_->device_info(device_index_); }
    RecDirectDraw* ddraw() const { return ddraw_; }
    RecSurface* target() const { return target_; }
    // Re-fits the viewport to the whole render target (after the target changes size).
    void reset_viewport();
    // Fills `rect` (nullptr: the viewport) of the render target with a colour.
    void clear_target(const RECT* rect, D3DCOLOR colour);

private:
    ComPtr<IDirectDraw7> dd_;
    RecDirectDraw* ddraw_;
    RecSurface* target_;  // counted through target_ref_
    ComPtr<IDirectDrawSurface7> target_ref_;
    DWORD device_index_;
    DWORD rs_[D3DRENDERSTATE_MAX];
    DWORD tss_[D3DMAXTEXTURESTAGES][D3DTSS_MAX];
    D3DMATRIX transforms_[vantor::backend::kTransformSlots];
    vantor::backend::LightTable lights_;
    D3DMATERIAL7 material_{};
    D3DVIEWPORT7 viewport_{};
    ComPtr<IDirectDrawSurface7> textures_[D3DMAXTEXTURESTAGES];
    bool in_scene_ = false;
    uint32_t handle_ = 0;
};

class RecContext : public RecUnknown<ID3DXContext> {
public:
    RecContext(std::shared_ptr<Recorder> rec, RecDirectDraw* dd, RecDevice* device, RecSurface* primary,
               RecSurface* back, RecSurface* z, HWND window, DWORD flags, DWORD width, DWORD height);
    ~RecContext() override;

    HRESULT GetPrimary(IDirectDrawSurface7** surface) override;
    HRESULT GetZBuffer(IDirectDrawSurface7** surface) override;
    HRESULT GetBackBuffer(DWORD which, IDirectDrawSurface7** surface) override;
    HRESULT GetD3D(IDirect3D7** d3d) override;
    HRESULT GetD3DDevice(IDirect3DDevice7** device) override;
    HRESULT GetDD(IDirectDraw7** dd) override;
    HWND GetWindow() override;
    DWORD GetWidth() override;
    DWORD GetHeight() override;
    HRESULT UpdateFrame(DWORD flags) override;
    HRESULT DrawDebugText(float x, float y, D3DCOLOR colour, LPSTR text) override;
    HRESULT SetClearColor(D3DCOLOR colour) override;
    D3DCOLOR GetClearColor() override;
    HRESULT SetClearDepth(float z) override;
    float GetClearDepth() override;
    HRESULT SetClearStencil(DWORD stencil) override;
    DWORD GetClearStencil() override;
    HRESULT Clear(DWORD flags) override;
    HRESULT RestoreSurfaces() override;
    HRESULT Resize(DWORD width, DWORD height) override;

private:
    HRESULT hand_out(IDirectDrawSurface7* surface, HRESULT missing, IDirectDrawSurface7** out,
                     CallScope& call);

    ComPtr<IDirectDraw7> dd_;
    ComPtr<IDirect3DDevice7> device_;
    ComPtr<IDirectDrawSurface7> primary_, back_, z_;
    RecDevice* rdevice_;
    RecSurface* rback_;
    RecSurface* rz_;
    HWND window_;
    DWORD flags_;
    DWORD width_, height_;
    D3DCOLOR clear_colour_ = 0xFF000000;
    float clear_depth_ = 1.0f;
    DWORD clear_stencil_ = 0;
    uint32_t handle_ = 0;
};

class RecShape : public RecUnknown<ID3DXSimpleShape> {
public:
    RecShape(std::shared_ptr<Recorder> rec, const std::string& kind, RecDevice* device, RecVertexBuffer* vb,
             std::vector<WORD> indices);
    HRESULT GetVB(IDirect3DVertexBuffer7** vb) override;
    DWORD GetIndices(WORD** indices) override;
    HRESULT Draw() override;

private:
    ComPtr<IDirect3DDevice7> device_;
    ComPtr<IDirect3DVertexBuffer7> vb_;
    RecVertexBuffer* rvb_;
    std::vector<WORD> indices_;
};

}  // namespace vantor::testing::detail
