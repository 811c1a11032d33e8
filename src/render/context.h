// The utility layer's rendering context (ID3DXContext): a GL context, its DirectDraw object, a
// back buffer with a depth buffer attached, and the device drawing into them.
//
//   ID3DXContext* ctx;  backend.D3DXCreateContext(D3DX_DEFAULT, 0, window, 640, 480, &ctx);
//   ctx->SetClearColor(0xFF000040); ctx->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
//   ... draw through GetD3DDevice ...
//   ctx->DrawDebugText(0.02f, 0.02f, 0x00FFFF00, (LPSTR)"hello");   // alpha byte ignored
//   ctx->UpdateFrame(D3DX_UPDATE_NOVSYNC);
//
// Kinds: a virtual window (UpdateFrame copies the image into the window), an X11 window
// (a shared-memory image UpdateFrame fills and puts, or a GLX or EGL window surface it blits
// into and swaps; see x11_present_api), off screen (D3DX_CONTEXT_OFFSCREEN,
// no window; UpdateFrame presents nothing). D3DX_CONTEXT_FULLSCREEN makes the window take the
// whole (virtual) screen: the recorded display mode becomes the context's size and comes back
// when the context is released.
//
// Results: D3DXERR_NULLPOINTER for null out-parameters or text; D3DXERR_INVALIDPARAMETER for
// unknown flags, zero sizes or sizes beyond the device's largest texture, clear depths outside
// 0..1; D3DXERR_CANNOTRESIZEFULLSCREEN / D3DXERR_CANNOTRESIZENONWINDOWED from Resize;
// D3DXERR_NOPRIMARYAVAILABLE from GetPrimary off screen; D3DXERR_FAILEDDRAWTEXT when the
// font cannot be loaded; DDERR_SURFACELOST from UpdateFrame when the window is gone;
// DDERR_SURFACEBUSY while the back buffer is locked.
#pragma once

#include "com_object.h"
#include "debug_text.h"
#include "directdraw.h"

#include <vector>

namespace vantor::render {

class Device;
class Surface;

class Context final : public SingleInterface<ID3DXContext> {
public:
    // Arguments are D3DXCreateContext's, checked by the caller for the layer being started
    // and `out` being non-null; `device_index` is resolved already.
    static HRESULT create(DWORD device_index, DWORD flags, HWND window, DWORD width, DWORD height, ID3DXContext** out);

    HRESULT GetPrimary(IDirectDrawSurface7** surface) override;
    HRESULT GetZBuffer(IDirectDrawSurface7** surface) override;
    HRESULT GetBackBuffer(DWORD which, IDirectDrawSurface7** surface) override;
    HRESULT GetD3D(IDirect3D7** d3d) override;
    HRESULT GetD3DDevice(IDirect3DDevice7** device) override;
    HRESULT GetDD(IDirectDraw7** dd) override;
    HWND GetWindow() override { return window_; }
    DWORD GetWidth() override;
    DWORD GetHeight() override;
    HRESULT UpdateFrame(DWORD flags) override;
    HRESULT DrawDebugText(float x, float y, D3DCOLOR colour, LPSTR text) override;
    HRESULT SetClearColor(D3DCOLOR colour) override;
    D3DCOLOR GetClearColor() override { return clear_colour_; }
    HRESULT SetClearDepth(float z) override;
    float GetClearDepth() override { return clear_depth_; }
    HRESULT SetClearStencil(DWORD stencil) override;
    DWORD GetClearStencil() override { return clear_stencil_; }
    HRESULT Clear(DWORD flags) override;
    HRESULT RestoreSurfaces() override { return S_OK; }
    HRESULT Resize(DWORD width, DWORD height) override;

private:
    Context();
    ~Context() override;

    DWORD flags_ = 0;
    HWND window_ = 0;
    int kind_ = 0;  // kWindowKind*, kWindowKindNone off screen
    bool full_screen_ = false;  // holds the display mode (take_display_mode) until released
    ComPtr<DirectDraw> dd_;
    ComPtr<Surface> back_, depth_, primary_;
    ComPtr<Device> device_;
    D3DCOLOR clear_colour_ = 0xFF000000;  // opaque black
    float clear_depth_ = 1.0f;
    DWORD clear_stencil_ = 0;
    DebugText text_;
    // Stretches the back buffer into scaled_framebuffer_ at the given size (a virtual window
    // whose size differs from the back buffer's); false when GL cannot make the buffer.
    bool scale_to(GlContext& gl, int width, int height);

    std::vector<uint8_t> present_;
    GLuint scaled_framebuffer_ = 0, scaled_colour_ = 0;
    int scaled_width_ = 0, scaled_height_ = 0;
    HandleEntry handle_;
};

}  // namespace vantor::render
