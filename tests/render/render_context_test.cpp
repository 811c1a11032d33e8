// The utility layer: starting and stopping, devices, the recorded display mode, surface
// formats, rendering contexts on virtual windows and off screen, presenting, resizing, debug
// text, DirectDraw creation, cooperative levels and handles of released objects.
#include "render_test_support.h"

#include <vantor/window.h>

using namespace render_test;
using vantor::backend::from_handle;
using vantor::backend::to_handle;

namespace {

vantor::backend::Backend& gl() { return opengl_backend(); }

// Tests that start the layer themselves; each ends with every object gone.
class RenderLayer : public ::testing::Test {
protected:
    void SetUp() override { handles_ = HandleCount(); }
    void TearDown() override {
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        EXPECT_EQ(HandleCount(), handles_) << "a back-end object or window outlived its test";
    }
    uint32_t handles_ = 0;
};

TEST_F(RenderLayer, ContextsOutliveTheLayersStop) {
    ASSERT_EQ(gl().D3DXInitialize(), S_OK);
    ID3DXContext* ctx = nullptr;
    ASSERT_EQ(gl().D3DXCreateContext(D3DX_DEFAULT, D3DX_CONTEXT_OFFSCREEN, 0, 8, 8, &ctx), S_OK);
    ASSERT_EQ(gl().D3DXUninitialize(), S_OK);
    EXPECT_EQ(gl().D3DXGetDeviceCount(), 0u);
    EXPECT_EQ(ctx->Clear(D3DCLEAR_TARGET), S_OK);
    EXPECT_EQ(ctx->Release(), 0u);
}

TEST_F(RenderLayer, DevicesDescribeThemselves) {
    ASSERT_EQ(gl().D3DXInitialize(), S_OK);
    DWORD count = gl().D3DXGetDeviceCount();
    ASSERT_GE(count, 1u);
    bool software = false;
    for (DWORD i = 0; i < count; ++i) {
        D3DX_DEVICEDESC d{};
        ASSERT_EQ(gl().D3DXGetDeviceDescription(i, &d), S_OK);
        EXPECT_TRUE(d.hwLevel == D3DX_HWLEVEL_TL || d.hwLevel == D3DX_HWLEVEL_2D);
        EXPECT_TRUE(d.d3dDeviceGuid == IID_IDirect3DTnLHalDevice || d.d3dDeviceGuid == IID_IDirect3DRGBDevice);
        software |= std::string(d.driverDesc).find("llvmpipe") != std::string::npos;
        if (std::string(d.driverDesc).find("llvmpipe") != std::string::npos) {
            EXPECT_EQ(d.hwLevel, D3DX_HWLEVEL_2D);
            EXPECT_EQ(d.d3dDeviceGuid, IID_IDirect3DRGBDevice);
        }
        for (DWORD j = 0; j < i; ++j) {
            D3DX_DEVICEDESC e{};
            gl().D3DXGetDeviceDescription(j, &e);
            EXPECT_STRNE(d.driverDesc, e.driverDesc) << "descriptions key the engine's device list";
        }
    }
    EXPECT_TRUE(software) << "llvmpipe is always there";
    D3DX_DEVICEDESC d{};
    ASSERT_EQ(gl().D3DXGetDeviceDescription(D3DX_DEFAULT, &d), S_OK);
    EXPECT_EQ(d.deviceIndex, 0u) << "the default is the most accelerated, listed first";
    ASSERT_EQ(gl().D3DXUninitialize(), S_OK);
}

TEST_F(RenderLayer, DisplayModesAreRecordedOnly) {
    ASSERT_EQ(gl().D3DXInitialize(), S_OK);
    D3DX_VIDMODEDESC m{};
    ASSERT_EQ(gl().D3DXGetCurrentVideoMode(0, &m), S_OK);
    EXPECT_EQ(m.width, 1024u);
    EXPECT_EQ(m.height, 768u);
    EXPECT_EQ(m.bpp, 32u);
    EXPECT_EQ(m.refreshRate, 60u);
    IDirectDraw7* dd = nullptr;
    ASSERT_EQ(gl().DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&dd), IID_IDirectDraw7, nullptr), DD_OK);
    ASSERT_EQ(dd->SetDisplayMode(800, 600, 16, 0, 0), DD_OK);
    // GetDisplayMode's answers are the conformance suite's; the utility layer sees the mode too.
    ASSERT_EQ(gl().D3DXGetCurrentVideoMode(D3DX_DEFAULT, &m), S_OK);
    EXPECT_EQ(m.width, 800u);
    EXPECT_EQ(m.bpp, 16u);
    EXPECT_EQ(dd->SetDisplayMode(800, 600, 12, 0, 0), DDERR_INVALIDMODE);
    EXPECT_EQ(dd->SetDisplayMode(0, 600, 16, 0, 0), DDERR_INVALIDPARAMS);
    ASSERT_EQ(dd->RestoreDisplayMode(), DD_OK);
    ASSERT_EQ(gl().D3DXGetCurrentVideoMode(0, &m), S_OK);
    EXPECT_EQ(m.width, 1024u);
    dd->Release();
    ASSERT_EQ(gl().D3DXUninitialize(), S_OK);
}

TEST_F(RenderLayer, SurfaceFormatsByClass) {
    ASSERT_EQ(gl().D3DXInitialize(), S_OK);
    D3DX_SURFACEFORMAT f = D3DX_SF_UNKNOWN;
    // The engine asks for class 4, number 0: the first texture format the device offers.
    ASSERT_EQ(gl().D3DXGetSurfaceFormat(0, nullptr, D3DX_SC_COLORTEXTURE, 0, &f), S_OK);
    EXPECT_EQ(f, D3DX_SF_R5G6B5);
    ASSERT_EQ(gl().D3DXGetSurfaceFormat(0, nullptr, D3DX_SC_DEPTHBUFFER, 0, &f), S_OK);
    EXPECT_EQ(f, D3DX_SF_Z24S8);
    EXPECT_EQ(gl().D3DXGetSurfaceFormat(0, nullptr, D3DX_SC_COLORTEXTURE, 100, &f), D3DXERR_NOMATCHFOUND);
    EXPECT_EQ(gl().D3DXGetSurfaceFormat(0, nullptr, 0, 0, &f), D3DXERR_INVALIDPARAMETER);
    EXPECT_EQ(gl().D3DXGetSurfaceFormat(0, nullptr, D3DX_SC_COLORTEXTURE, 0, nullptr), D3DXERR_NULLPOINTER);
    ASSERT_EQ(gl().D3DXUninitialize(), S_OK);
}

struct ContextCase {
    const char* name;
    DWORD index, flags;
    bool window;  // pass a real virtual window (else the handle below)
    HWND handle;
    DWORD w, h;
    HRESULT expected;
};
class RenderContextCreate : public RenderLayer, public ::testing::WithParamInterface<ContextCase> {};

TEST_P(RenderContextCreate, CreateContextChecksItsArguments) {
    const ContextCase& c = GetParam();
    ASSERT_EQ(gl().D3DXInitialize(), S_OK);
    HWND w = c.window ? VantorCreateVirtualWindow(32, 24, "test") : c.handle;
    ID3DXContext* ctx = reinterpret_cast<ID3DXContext*>(1);
    EXPECT_EQ(gl().D3DXCreateContext(c.index, c.flags, w, c.w, c.h, &ctx), c.expected) << c.name;
    if (FAILED(c.expected)) {
        EXPECT_EQ(ctx, nullptr);
    }
    if (SUCCEEDED(c.expected) && ctx) ctx->Release();
    if (c.window) DestroyWindow(w);
    ASSERT_EQ(gl().D3DXUninitialize(), S_OK);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RenderContextCreate,
    ::testing::Values(ContextCase{"window", D3DX_DEFAULT, 0, true, 0, 32, 24, S_OK},
                      ContextCase{"a handle that is not a window", D3DX_DEFAULT, 0, false, 12345, 32, 24, D3DXERR_INVALIDPARAMETER},
                      ContextCase{"no window", D3DX_DEFAULT, 0, false, 0, 32, 24, D3DXERR_INVALIDPARAMETER},
                      ContextCase{"full screen on no window", D3DX_DEFAULT, D3DX_CONTEXT_FULLSCREEN, false, 77, 32, 24,
                                  D3DXERR_INVALIDPARAMETER},
                      ContextCase{"off screen without a size", D3DX_DEFAULT, D3DX_CONTEXT_OFFSCREEN, false, 0, 0, 24,
                                  D3DXERR_INVALIDPARAMETER},
                      ContextCase{"off screen of default size", D3DX_DEFAULT, D3DX_CONTEXT_OFFSCREEN, false, 0, D3DX_DEFAULT,
                                  24, D3DXERR_INVALIDPARAMETER},
                      ContextCase{"huge", D3DX_DEFAULT, D3DX_CONTEXT_OFFSCREEN, false, 0, 1u << 20, 24, D3DXERR_INVALIDPARAMETER},
                      ContextCase{"unknown flags", D3DX_DEFAULT, 0x40, true, 0, 32, 24, D3DXERR_INVALIDPARAMETER},
                      ContextCase{"full screen and off screen", D3DX_DEFAULT, 3, true, 0, 32, 24, D3DXERR_INVALIDPARAMETER}));

// A context on a virtual window.
class RenderWindowContext : public RenderLayer {
protected:
    void SetUp() override {
        RenderLayer::SetUp();
        ASSERT_EQ(gl().D3DXInitialize(), S_OK);
        window = VantorCreateVirtualWindow(48, 32, "render test");
        ASSERT_NE(window, 0u);
        ASSERT_EQ(gl().D3DXCreateContext(D3DX_DEFAULT, 0, window, D3DX_DEFAULT, D3DX_DEFAULT, &ctx), S_OK);
        ASSERT_EQ(ctx->GetD3DDevice(&dev), S_OK);
    }
    void TearDown() override {
        if (dev) dev->Release();
        if (ctx) {
            EXPECT_EQ(ctx->Release(), 0u);
        }
        if (window) DestroyWindow(window);
        EXPECT_EQ(gl().D3DXUninitialize(), S_OK);
        RenderLayer::TearDown();
    }
    std::vector<DWORD> window_pixels() {
        RECT r{};
        GetClientRect(window, &r);
        std::vector<DWORD> rgba(static_cast<size_t>(r.right) * r.bottom);
        EXPECT_TRUE(VantorWindowReadPixels(window, rgba.data(), r.right * 4));
        // RGBA bytes to 0xAARRGGBB.
        for (DWORD& p : rgba) p = (p & 0xFF00FF00) | ((p & 0xFF) << 16) | ((p >> 16) & 0xFF);
        return rgba;
    }
    HWND window = 0;
    ID3DXContext* ctx = nullptr;
    IDirect3DDevice7* dev = nullptr;
};

TEST_F(RenderWindowContext, FramesReachTheWindowTheRightWayUp) {
    // The default size, the window and the clear values are the conformance suite's.
    ASSERT_EQ(ctx->SetClearColor(0xFF102030), S_OK);
    ASSERT_EQ(ctx->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER), S_OK);
    dev->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
    D3DTLVERTEX v[4] = {{0, 0, 0.5f, 1, 0xFFFF0000, 0, 0, 0}, {48, 0, 0.5f, 1, 0xFFFF0000, 0, 0, 0},
                        {0, 8, 0.5f, 1, 0xFFFF0000, 0, 0, 0}, {48, 8, 0.5f, 1, 0xFFFF0000, 0, 0, 0}};
    dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, v, 4, 0), D3D_OK);
    std::vector<DWORD> before = window_pixels();
    EXPECT_FALSE(near_colour(before[0], 0xFFFF0000, 0)) << "nothing shows before UpdateFrame";
    ASSERT_EQ(ctx->UpdateFrame(D3DX_UPDATE_NOVSYNC), S_OK);
    std::vector<DWORD> p = window_pixels();
    EXPECT_TRUE(near_colour(p[2 * 48 + 10], 0xFFFF0000, 0)) << "the top rows are red";
    EXPECT_TRUE(near_colour(p[30 * 48 + 10], 0xFF102030, 0)) << "the bottom rows are the clear colour";
    EXPECT_EQ(p[30 * 48 + 10] >> 24, 0xFFu) << "presented pixels are opaque";
    EXPECT_EQ(ctx->UpdateFrame(2), D3DXERR_INVALIDPARAMETER);
}

TEST_F(RenderWindowContext, ResizeMakesNewBuffersUnderTheSameSurfaces) {
    IDirectDrawSurface7* back = nullptr;
    ASSERT_EQ(ctx->GetBackBuffer(0, &back), S_OK);
    ASSERT_EQ(ctx->Resize(24, 20), S_OK);
    auto sd = sized<DDSURFACEDESC2>();
    ASSERT_EQ(back->GetSurfaceDesc(&sd), DD_OK);
    EXPECT_EQ(sd.dwWidth, 24u);
    EXPECT_EQ(sd.dwHeight, 20u);
    D3DVIEWPORT7 vp{};
    dev->GetViewport(&vp);
    EXPECT_EQ(vp.dwWidth, 24u) << "the viewport covers the new target";
    EXPECT_EQ(ctx->Resize(0, 20), D3DXERR_INVALIDPARAMETER);
    EXPECT_EQ(ctx->Resize(1u << 20, 20), D3DXERR_INVALIDPARAMETER);
    ASSERT_EQ(ctx->SetClearColor(0xFF00FF00), S_OK);
    ASSERT_EQ(ctx->Clear(D3DCLEAR_TARGET), S_OK);
    ASSERT_EQ(ctx->UpdateFrame(0), S_OK);
    std::vector<DWORD> p = window_pixels();
    EXPECT_TRUE(near_colour(p[19 * 48 + 23], 0xFF00FF00, 0));
    ASSERT_EQ(back->Lock(nullptr, &sd, DDLOCK_WAIT, 0), DD_OK);
    EXPECT_EQ(ctx->Resize(30, 30), DDERR_SURFACEBUSY);
    EXPECT_EQ(ctx->UpdateFrame(0), DDERR_SURFACEBUSY);
    back->Unlock(nullptr);
    back->Release();
}

TEST_F(RenderWindowContext, AResizedVirtualWindowShowsTheWholeFrameStretched) {
    // A green frame at the window's size first, so that anything not presented again shows.
    ASSERT_EQ(ctx->SetClearColor(0xFF00FF00), S_OK);
    ASSERT_EQ(ctx->Clear(D3DCLEAR_TARGET), S_OK);
    ASSERT_EQ(ctx->UpdateFrame(0), S_OK);
    // Half the size: the left half red, the right half blue, stretched over the 48 x 32 window.
    ASSERT_EQ(ctx->Resize(24, 16), S_OK);
    ASSERT_EQ(ctx->SetClearColor(0xFF0000FF), S_OK);
    ASSERT_EQ(ctx->Clear(D3DCLEAR_TARGET), S_OK);
    D3DRECT left{0, 0, 12, 16};
    ASSERT_EQ(dev->Clear(1, &left, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0), D3D_OK);
    ASSERT_EQ(ctx->UpdateFrame(0), S_OK);
    std::vector<DWORD> p = window_pixels();
    ASSERT_EQ(p.size(), 48u * 32u) << "the window keeps its size";
    const struct {
        int x, y;
        DWORD colour;
    } probes[] = {{2, 2, 0xFFFF0000}, {20, 29, 0xFFFF0000}, {28, 2, 0xFF0000FF}, {45, 29, 0xFF0000FF}};
    for (const auto& probe : probes)
        EXPECT_TRUE(near_colour(p[probe.y * 48 + probe.x], probe.colour, 2)) << probe.x << "," << probe.y;
}

TEST_F(RenderWindowContext, PresentingToAGoneWindowLosesTheSurface) {
    DestroyWindow(window);
    window = 0;
    EXPECT_EQ(ctx->UpdateFrame(D3DX_UPDATE_NOVSYNC), DDERR_SURFACELOST);
}

TEST_F(RenderWindowContext, ThePrimaryHoldsThePresentedFrame) {
    ASSERT_EQ(ctx->SetClearColor(0xFF0000FF), S_OK);
    ASSERT_EQ(ctx->Clear(D3DCLEAR_TARGET), S_OK);
    IDirectDrawSurface7* primary = nullptr;
    ASSERT_EQ(ctx->GetPrimary(&primary), S_OK);
    ASSERT_EQ(ctx->SetClearColor(0xFFFF0000), S_OK);
    ASSERT_EQ(ctx->Clear(D3DCLEAR_TARGET), S_OK);
    ASSERT_EQ(ctx->UpdateFrame(0), S_OK);
    auto sd = sized<DDSURFACEDESC2>();
    ASSERT_EQ(primary->Lock(nullptr, &sd, DDLOCK_WAIT | DDLOCK_READONLY, 0), DD_OK);
    EXPECT_EQ(static_cast<DWORD*>(sd.lpSurface)[3] & 0xFFFFFF, 0xFF0000u);
    primary->Unlock(nullptr);
    primary->Release();
}

TEST_F(RenderLayer, FullScreenTakesTheScreenAndGivesItBack) {
    ASSERT_EQ(gl().D3DXInitialize(), S_OK);
    HWND window = VantorCreateVirtualWindow(40, 30, "full");
    ID3DXContext* ctx = nullptr;
    ASSERT_EQ(gl().D3DXCreateContext(D3DX_DEFAULT, D3DX_CONTEXT_FULLSCREEN, window, 320, 240, &ctx), S_OK);
    D3DX_VIDMODEDESC m{};
    gl().D3DXGetCurrentVideoMode(0, &m);
    EXPECT_EQ(m.width, 320u);
    EXPECT_EQ(m.height, 240u);
    RECT r{};
    GetClientRect(window, &r);
    EXPECT_EQ(r.right, 320) << "the window takes the whole screen";
    EXPECT_EQ(ctx->GetWidth(), 320u);
    EXPECT_EQ(ctx->Release(), 0u);
    gl().D3DXGetCurrentVideoMode(0, &m);
    EXPECT_EQ(m.width, 1024u) << "the mode comes back with the context";
    DestroyWindow(window);
    ASSERT_EQ(gl().D3DXUninitialize(), S_OK);
}

using RenderContext = RenderTest;

TEST_F(RenderContext, OffScreenContextAnswers) {
    IDirectDrawSurface7* s = reinterpret_cast<IDirectDrawSurface7*>(1);
    EXPECT_EQ(ctx->GetPrimary(&s), D3DXERR_NOPRIMARYAVAILABLE);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(ctx->GetBackBuffer(1, &s), D3DXERR_NOBACKBUFFERAVAILABLE);
    EXPECT_EQ(ctx->GetBackBuffer(0, nullptr), D3DXERR_NULLPOINTER);
    EXPECT_EQ(ctx->UpdateFrame(0), S_OK) << "nothing to present";
    ASSERT_EQ(ctx->GetZBuffer(&s), S_OK);
    auto pf = sized<DDPIXELFORMAT>();
    ASSERT_EQ(s->GetPixelFormat(&pf), DD_OK);
    EXPECT_TRUE(pf.dwFlags & DDPF_ZBUFFER);
    s->Release();
    EXPECT_EQ(ctx->SetClearDepth(2.0f), D3DXERR_INVALIDPARAMETER);
    EXPECT_EQ(ctx->GetClearDepth(), 1.0f) << "a refused depth changes nothing";
    EXPECT_EQ(ctx->Clear(0x10), DDERR_INVALIDPARAMS);
    // The context's Clear clears the device's viewport only.
    D3DVIEWPORT7 vp{0, 0, 16, 16, 0, 1};
    dev->SetViewport(&vp);
    clear(0xFF000000);
    ctx->SetClearColor(0xFFFFFFFF);
    ASSERT_EQ(ctx->Clear(D3DCLEAR_TARGET), S_OK);
    EXPECT_TRUE(near_colour(pixel(15, 15), 0xFFFFFFFF, 0));
    EXPECT_TRUE(near_colour(pixel(16, 15), 0xFF000000, 0));
}

TEST_F(RenderContext, DebugTextPutsGlyphsInItsBoxOnly) {
    clear(0xFF000000);
    // The engine passes colours with alpha 0: they draw all the same.
    ASSERT_EQ(ctx->DrawDebugText(0.25f, 0.5f, 0x00FFFF00, const_cast<char*>("Hi")), S_OK);
    std::vector<DWORD> p = read_back();
    int inside = 0, outside = 0;
    // Top-left at (16, 32); two cells of DejaVu Sans Mono at 14 pixels are less than 20 wide
    // and a line less than 20 high.
    for (int y = 0; y < static_cast<int>(kHeight); ++y)
        for (int x = 0; x < static_cast<int>(kWidth); ++x) {
            bool lit = (p[y * kWidth + x] & 0xFFFFFF) != 0;
            bool in_box = x >= 16 && x < 36 && y >= 32 && y < 52;
            (in_box ? inside : outside) += lit;
            if (lit && in_box) {
                EXPECT_EQ(p[y * kWidth + x] & 0xFF, 0u) << "yellow has no blue";
            }
        }
    EXPECT_GT(inside, 20);
    EXPECT_EQ(outside, 0);
    // Fully covered glyph pixels take the colour exactly.
    bool exact = false;
    for (DWORD v : p) exact |= (v & 0xFFFFFF) == 0xFFFF00;
    EXPECT_TRUE(exact);
    EXPECT_EQ(ctx->DrawDebugText(0, 0, 0xFFFFFFFF, nullptr), D3DXERR_NULLPOINTER);
    EXPECT_EQ(ctx->DrawDebugText(std::nanf(""), 0, 0xFFFFFFFF, const_cast<char*>("x")), D3DXERR_INVALIDPARAMETER);
    // Text off the target, empty text and characters without glyphs draw nothing and succeed.
    EXPECT_EQ(ctx->DrawDebugText(2.0f, 2.0f, 0xFFFFFFFF, const_cast<char*>("far away")), S_OK);
    EXPECT_EQ(ctx->DrawDebugText(0, 0, 0xFFFFFFFF, const_cast<char*>("")), S_OK);
    EXPECT_EQ(ctx->DrawDebugText(0, 0, 0xFFFFFFFF, const_cast<char*>("\xE2\x82\xAC\xFF")), S_OK);
    // The device draws on afterwards with its own state.
    dev->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
    clear(0xFF000000);
    draw_rect(0, 0, 8, 8, 0xFF0000FF);
    EXPECT_TRUE(near_colour(pixel(4, 4), 0xFF0000FF, 0));
    EXPECT_TRUE(near_colour(pixel(40, 40), 0xFF000000, 0));
}

TEST_F(RenderLayer, HandlesOfReleasedObjectsResolveToNothing) {
    ASSERT_EQ(gl().D3DXInitialize(), S_OK);
    ID3DXContext* ctx = nullptr;
    ASSERT_EQ(gl().D3DXCreateContext(D3DX_DEFAULT, D3DX_CONTEXT_OFFSCREEN, 0, 8, 8, &ctx), S_OK);
    IDirect3DDevice7* dev = nullptr;
    IDirectDraw7* dd = nullptr;
    IDirect3D7* d3d = nullptr;
    IDirectDrawSurface7* back = nullptr;
    ctx->GetD3DDevice(&dev);
    ctx->GetDD(&dd);
    ctx->GetD3D(&d3d);
    ctx->GetBackBuffer(0, &back);
    PALETTEENTRY entries[256] = {};
    IDirectDrawPalette* pal = nullptr;
    ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT, entries, &pal, nullptr), DD_OK);
    uint32_t h_ctx = to_handle(ctx), h_dev = to_handle(dev), h_dd = to_handle(dd), h_d3d = to_handle(d3d),
             h_back = to_handle(back), h_pal = to_handle(pal);
    for (uint32_t h : {h_ctx, h_dev, h_dd, h_d3d, h_back, h_pal}) EXPECT_NE(h, 0u);
    EXPECT_EQ(from_handle<IDirect3DDevice7>(h_dev), dev);
    EXPECT_EQ(from_handle<IDirect3D7>(h_d3d), d3d);
    EXPECT_EQ(from_handle<IDirectDraw7>(h_d3d), nullptr) << "a handle resolves only as its own type";
    pal->Release();
    EXPECT_EQ(from_handle<IDirectDrawPalette>(h_pal), nullptr);
    back->Release();
    d3d->Release();
    dd->Release();
    dev->Release();
    EXPECT_EQ(from_handle<IDirect3DDevice7>(h_dev), dev) << "the context still holds the device";
    EXPECT_EQ(ctx->Release(), 0u);
    EXPECT_EQ(from_handle<ID3DXContext>(h_ctx), nullptr);
    EXPECT_EQ(from_handle<IDirect3DDevice7>(h_dev), nullptr);
    EXPECT_EQ(from_handle<IDirectDraw7>(h_dd), nullptr);
    EXPECT_EQ(from_handle<IDirect3D7>(h_d3d), nullptr);
    EXPECT_EQ(from_handle<IDirectDrawSurface7>(h_back), nullptr);
    ASSERT_EQ(gl().D3DXUninitialize(), S_OK);
}

TEST_F(RenderLayer, DirectDrawCreation) {
    // What every back end answers is the conformance suite's; these are this one's own codes.
    IDirectDraw7* dd = reinterpret_cast<IDirectDraw7*>(1);
    IUnknown* outer = reinterpret_cast<IUnknown*>(2);
    EXPECT_EQ(gl().DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&dd), IID_IDirectDraw7, outer), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(dd, nullptr);
    GUID unknown{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(gl().DirectDrawCreateEx(&unknown, reinterpret_cast<void**>(&dd), IID_IDirectDraw7, nullptr), DDERR_INVALIDPARAMS);
    // No utility-layer start needed; the special driver values are not addresses.
    ASSERT_EQ(gl().DirectDrawCreateEx(reinterpret_cast<GUID*>(1), reinterpret_cast<void**>(&dd), IID_IDirectDraw7, nullptr), DD_OK);
    dd->Release();
}

TEST_F(RenderLayer, CooperativeLevels) {
    IDirectDraw7* dd = nullptr;
    ASSERT_EQ(gl().DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&dd), IID_IDirectDraw7, nullptr), DD_OK);
    HWND window = VantorCreateVirtualWindow(8, 8, "level");
    // The rules every back end shares are the conformance suite's; these are this one's own.
    EXPECT_EQ(dd->SetCooperativeLevel(12345, DDSCL_NORMAL), DDERR_INVALIDPARAMS) << "not a window";
    EXPECT_EQ(dd->SetCooperativeLevel(window, DDSCL_NORMAL | DDSCL_FPUSETUP | DDSCL_FPUPRESERVE), DDERR_INVALIDPARAMS);
    ASSERT_EQ(dd->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
    // With a level set, one primary surface the size of the display.
    auto sd = sized<DDSURFACEDESC2>();
    sd.dwFlags = DDSD_CAPS;
    sd.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    IDirectDrawSurface7 *primary = nullptr, *second = nullptr;
    ASSERT_EQ(dd->CreateSurface(&sd, &primary, nullptr), DD_OK);
    EXPECT_EQ(dd->CreateSurface(&sd, &second, nullptr), DDERR_PRIMARYSURFACEALREADYEXISTS);
    auto got = sized<DDSURFACEDESC2>();
    primary->GetSurfaceDesc(&got);
    EXPECT_EQ(got.dwWidth, 1024u);
    primary->Release();
    dd->Release();
    DestroyWindow(window);
}

}  // namespace
