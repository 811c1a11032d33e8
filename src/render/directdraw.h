// The DirectDraw 7 object (IDirectDraw7), which also answers QueryInterface for its Direct3D 7
// interface (IDirect3D7), as in DirectX.
//
//   IDirectDraw7* dd;  backend.DirectDrawCreateEx(nullptr, (void**)&dd, IID_IDirectDraw7, nullptr);
//   IDirect3D7* d3d;   dd->QueryInterface(IID_IDirect3D7, (void**)&d3d);
//   dd->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE);
//   dd->SetDisplayMode(800, 600, 32, 0, 0);     // recorded only: the real screen never changes
//
// A DirectDraw object made by a rendering context owns that context's GL context; its surfaces
// and vertex buffers live there (vertex buffers holding the same bytes share one GL buffer).
// One made by DirectDrawCreateEx has none: its surfaces are memory only (and no device can
// texture from them). Surfaces, palettes and vertex buffers keep a reference to the DirectDraw
// object that made them.
//
// Results: SetCooperativeLevel DDERR_INVALIDPARAMS for flags other than NORMAL or
// FULLSCREEN|EXCLUSIVE (plus the FPU and threading hints) or a full-screen level without a
// window; SetDisplayMode DDERR_INVALIDPARAMS for zero sizes or flags, DDERR_INVALIDMODE for
// depths other than 8, 16, 24, 32 or sizes beyond 16384; GetDisplayMode DDERR_INVALIDPARAMS
// for a null or mis-sized record; CreateSurface and CreatePalette as in surface.h/palette.h and
// CLASS_E_NOAGGREGATION with an outer object.
#pragma once

#include "buffer_store.h"
#include "com_object.h"
#include "gl.h"

#include <memory>
#include <vector>

namespace vantor::render {

class Surface;

// The recorded display mode of the process (what D3DXGetCurrentVideoMode reports). It starts
// at 1024 x 768, 32 bits, 60 Hz.
struct DisplayMode {
    DWORD width, height, bpp, refresh;
};
DisplayMode current_display_mode();
void set_display_mode(const DisplayMode& mode);
void restore_display_mode();
// Full-screen contexts take the display mode in turn. While any is open the mode is that of the
// newest still open; the mode from before the first comes back when the last one goes, in
// whatever order they go.
void take_display_mode(const void* holder, const DisplayMode& mode);
void give_back_display_mode(const void* holder);

class DirectDraw final : public RefCounted, public IDirectDraw7, public IDirect3D7 {
public:
    // `device_index` is the utility layer's device (-1 when made by DirectDrawCreateEx);
    // `gl` the rendering context's GL context, or null.
    static ComPtr<DirectDraw> create(int device_index, std::shared_ptr<GlContext> gl);
    static DirectDraw* from(IUnknown* p) { return implementation_of<DirectDraw>(p, IID_VantorRenderDirectDraw); }
    using interface_type = IDirectDraw7;  // what the private id answers

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    VANTOR_RENDER_REFCOUNT
    // IDirectDraw7
    HRESULT SetCooperativeLevel(HWND window, DWORD flags) override;
    HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refresh, DWORD flags) override;
    HRESULT GetDisplayMode(DDSURFACEDESC2* desc) override;
    HRESULT RestoreDisplayMode() override;
    HRESULT CreateSurface(DDSURFACEDESC2* desc, IDirectDrawSurface7** surface, IUnknown* outer) override;
    HRESULT CreatePalette(DWORD flags, PALETTEENTRY* entries, IDirectDrawPalette** palette, IUnknown* outer) override;
    // IDirect3D7
    HRESULT CreateVertexBuffer(D3DVERTEXBUFFERDESC* desc, IDirect3DVertexBuffer7** vb, DWORD flags) override;
    HRESULT EnumZBufferFormats(REFCLSID device, LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) override;

    IDirectDraw7* ddraw() { return this; }
    IDirect3D7* d3d() { return this; }
    GlContext* gl() const { return gl_.get(); }
    // The GL buffers of this object's vertex buffers, shared by content; null without a GL context.
    BufferStore* buffers() const { return buffers_.get(); }
    int device_index() const { return device_index_; }
    HWND cooperative_window() const { return coop_window_; }
    DWORD cooperative_flags() const { return coop_flags_; }
    // The level a context's own DirectDraw object starts with, as if it had asked for it.
    void set_cooperative(HWND window, DWORD flags) {
        coop_window_ = window;
        coop_flags_ = flags;
    }
    bool has_primary() const { return primary_count_ > 0; }

    // Texture bookkeeping for the texture-manager statistics (IDirect3DDevice7::GetInfo).
    void texture_created(Surface* s);
    void texture_destroyed(Surface* s);
    void primary_created() { ++primary_count_; }
    void primary_destroyed() { --primary_count_; }
    const std::vector<Surface*>& textures() const { return textures_; }

private:
    DirectDraw(int device_index, std::shared_ptr<GlContext> gl);
    ~DirectDraw() override;

    int device_index_;
    std::shared_ptr<GlContext> gl_;
    std::unique_ptr<BufferStore> buffers_;  // goes before the GL context
    HWND coop_window_ = 0;
    DWORD coop_flags_ = 0;
    int primary_count_ = 0;
    std::vector<Surface*> textures_;
    HandleEntry dd_handle_;
    HandleEntry d3d_handle_;
};

}  // namespace vantor::render
