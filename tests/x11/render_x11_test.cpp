// The OpenGL back end on a real X11 window (Xvfb under CTest): a presented frame reads back
// through XGetImage the right way up, and stretched to a resized window. CTest runs this once
// for each way of presenting ($VANTOR_PRESENT = shm, glx, egl).
#include <vantor/render/opengl.h>
#include <vantor/window.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <X11/Xlib.h>  // after GoogleTest: Xlib defines None and Bool as macros

namespace {

vantor::backend::Backend& gl() { return vantor::render::opengl_backend(); }

// RGBA bytes of the window as 0xAARRGGBB.
std::vector<DWORD> window_pixels(HWND window, int w, int h) {
    std::vector<DWORD> p(static_cast<size_t>(w) * h);
    if (!VantorWindowReadPixelsSized(window, p.data(), w, h, w * 4)) return {};
    for (DWORD& v : p) v = (v & 0xFF00FF00) | ((v & 0xFF) << 16) | ((v >> 16) & 0xFF);
    return p;
}

bool near(DWORD a, DWORD b) {
    for (int s = 0; s < 24; s += 8)
        if (std::abs(static_cast<int>((a >> s) & 0xFF) - static_cast<int>((b >> s) & 0xFF)) > 2) return false;
    return true;
}

// Presents until the window shows what `shown` wants (the server may show a frame a moment
// after it is presented): a bounded number of tries, no timing.
template <typename Shown>
std::vector<DWORD> present_until(ID3DXContext* ctx, HWND window, int w, int h, Shown shown) {
    std::vector<DWORD> p;
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (ctx->UpdateFrame(D3DX_UPDATE_NOVSYNC) != S_OK) return {};
        VantorPumpWindowEvents(window);
        p = window_pixels(window, w, h);
        if (p.size() == static_cast<size_t>(w) * h && shown(p)) break;
    }
    return p;
}

TEST(RenderX11, TheDeviceDescriptionNamesTheWayWindowsArePresented) {
    const char* forced = std::getenv("VANTOR_PRESENT");
    if (!forced) GTEST_SKIP() << "CTest names the way through VANTOR_PRESENT";
    ASSERT_EQ(gl().D3DXInitialize(), S_OK);
    D3DX_DEVICEDESC d{};
    ASSERT_EQ(gl().D3DXGetDeviceDescription(D3DX_DEFAULT, &d), S_OK);
    std::string expected = !std::strcmp(forced, "shm") ? ", XShm)" : !std::strcmp(forced, "glx") ? ", GLX)" : ", EGL)";
    EXPECT_NE(std::string(d.driverDesc).find(expected), std::string::npos) << d.driverDesc;
    EXPECT_EQ(gl().D3DXUninitialize(), S_OK);
}

TEST(RenderX11, PresentedFrameReadsBackThroughTheXServer) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X server: run under xvfb-run";
    uint32_t handles = HandleCount();
    const int w = 64, h = 48;
    HWND window = VantorCreateX11Window(w, h, "render test", TRUE);
    ASSERT_NE(window, 0u);
    ASSERT_EQ(gl().D3DXInitialize(), S_OK);
    ID3DXContext* ctx = nullptr;
    ASSERT_EQ(gl().D3DXCreateContext(D3DX_DEFAULT, 0, window, D3DX_DEFAULT, D3DX_DEFAULT, &ctx), S_OK);
    EXPECT_EQ(ctx->GetWidth(), static_cast<DWORD>(w));
    IDirect3DDevice7* dev = nullptr;
    ASSERT_EQ(ctx->GetD3DDevice(&dev), S_OK);

    ASSERT_EQ(ctx->SetClearColor(0xFF2040C0), S_OK);
    ASSERT_EQ(ctx->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER), S_OK);
    dev->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
    dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    D3DTLVERTEX top[4] = {{0, 0, 0.5f, 1, 0xFFFF0000, 0, 0, 0}, {64, 0, 0.5f, 1, 0xFFFF0000, 0, 0, 0},
                          {0, 12, 0.5f, 1, 0xFFFF0000, 0, 0, 0}, {64, 12, 0.5f, 1, 0xFFFF0000, 0, 0, 0}};
    ASSERT_EQ(dev->BeginScene(), D3D_OK);
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, top, 4, 0), D3D_OK);
    ASSERT_EQ(dev->EndScene(), D3D_OK);
    ASSERT_EQ(ctx->DrawDebugText(0.1f, 0.6f, 0x00FFFF00, const_cast<char*>("X11")), S_OK);

    std::vector<DWORD> p = present_until(ctx, window, w, h, [&](const std::vector<DWORD>& p) {
        return near(p[4 * w + 30], 0xFFFF0000) && near(p[40 * w + 60], 0xFF2040C0);
    });
    ASSERT_EQ(p.size(), static_cast<size_t>(w * h));
    EXPECT_TRUE(near(p[4 * w + 30], 0xFFFF0000)) << std::hex << p[4 * w + 30] << ": the top rows are red";
    EXPECT_TRUE(near(p[40 * w + 60], 0xFF2040C0)) << std::hex << p[40 * w + 60] << ": the rest is the clear colour";
    int yellow = 0;
    for (int y = 28; y < 48; ++y)
        for (int x = 6; x < 40; ++x) yellow += near(p[y * w + x], 0xFFFFFF00);
    EXPECT_GT(yellow, 5) << "the debug text reached the window";
    // The device keeps drawing correctly after presenting changed GL state.
    ASSERT_EQ(ctx->Clear(D3DCLEAR_TARGET), S_OK);
    IDirectDrawSurface7* back = nullptr;
    ASSERT_EQ(ctx->GetBackBuffer(0, &back), S_OK);
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, top, 4, 0), D3D_OK);
    DDSURFACEDESC2 sd{};
    sd.dwSize = sizeof sd;
    ASSERT_EQ(back->Lock(nullptr, &sd, DDLOCK_READONLY, 0), DD_OK);
    EXPECT_EQ(static_cast<DWORD*>(sd.lpSurface)[3] & 0xFFFFFF, 0xFF0000u);
    back->Unlock(nullptr);
    back->Release();

    // A window resized under the context shows the whole frame stretched to its new size: the
    // red band, a quarter of the height, still reaches a quarter of the way down.
    ASSERT_TRUE(VantorResizeWindow(window, 2 * w, 2 * h));
    ASSERT_EQ(ctx->Clear(D3DCLEAR_TARGET), S_OK);
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, top, 4, 0), D3D_OK);
    struct Probe {
        int x, y;
        DWORD colour;
    };
    const Probe probes[] = {{10, 4, 0xFFFF0000},  {120, 20, 0xFFFF0000}, {10, 28, 0xFF2040C0},
                            {120, 90, 0xFF2040C0}, {64, 60, 0xFF2040C0}};
    auto all_shown = [&](const std::vector<DWORD>& p) {
        for (const Probe& probe : probes)
            if (!near(p[probe.y * 2 * w + probe.x], probe.colour)) return false;
        return true;
    };
    p = present_until(ctx, window, 2 * w, 2 * h, all_shown);
    ASSERT_EQ(p.size(), static_cast<size_t>(4 * w * h));
    for (const Probe& probe : probes)
        EXPECT_TRUE(near(p[probe.y * 2 * w + probe.x], probe.colour))
            << std::hex << p[probe.y * 2 * w + probe.x] << " at " << std::dec << probe.x << "," << probe.y;
    EXPECT_EQ(ctx->GetWidth(), static_cast<DWORD>(w)) << "the back buffer keeps its size";

    dev->Release();
    EXPECT_EQ(ctx->Release(), 0u);
    EXPECT_EQ(gl().D3DXUninitialize(), S_OK);
    DestroyWindow(window);
    EXPECT_EQ(HandleCount(), handles);
}

TEST(RenderX11, AWindowDestroyedUnderTheContextLosesItsSurface) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X server: run under xvfb-run";
    uint32_t handles = HandleCount();
    HWND window = VantorCreateX11Window(32, 32, "gone", TRUE);
    ASSERT_EQ(gl().D3DXInitialize(), S_OK);
    ID3DXContext* ctx = nullptr;
    ASSERT_EQ(gl().D3DXCreateContext(D3DX_DEFAULT, 0, window, D3DX_DEFAULT, D3DX_DEFAULT, &ctx), S_OK);
    ASSERT_EQ(ctx->UpdateFrame(D3DX_UPDATE_NOVSYNC), S_OK);
    DestroyWindow(window);
    EXPECT_EQ(ctx->UpdateFrame(D3DX_UPDATE_NOVSYNC), DDERR_SURFACELOST);
    EXPECT_EQ(ctx->Clear(D3DCLEAR_TARGET), S_OK) << "drawing into the back buffer goes on";
    EXPECT_EQ(ctx->Release(), 0u);
    EXPECT_EQ(gl().D3DXUninitialize(), S_OK);
    EXPECT_EQ(HandleCount(), handles);
}

TEST(RenderX11, AToolkitWindowDestroyedByItsOwnerLosesTheSurfaceWithoutEndingTheProcess) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X server: run under xvfb-run";
    uint32_t handles = HandleCount();
    // The toolkit's own connection makes and ends the window; the runtime only attaches it.
    Display* toolkit = XOpenDisplay(nullptr);
    ASSERT_NE(toolkit, nullptr);
    Window xid = XCreateSimpleWindow(toolkit, DefaultRootWindow(toolkit), 0, 0, 40, 30, 0, 0, 0);
    XMapWindow(toolkit, xid);
    XSync(toolkit, False);
    HWND window = VantorAttachX11Window(xid);
    ASSERT_NE(window, 0u);
    ASSERT_EQ(gl().D3DXInitialize(), S_OK);
    ID3DXContext* ctx = nullptr;
    ASSERT_EQ(gl().D3DXCreateContext(D3DX_DEFAULT, 0, window, D3DX_DEFAULT, D3DX_DEFAULT, &ctx), S_OK);
    ASSERT_EQ(ctx->UpdateFrame(D3DX_UPDATE_NOVSYNC), S_OK);

    XDestroyWindow(toolkit, xid);
    XSync(toolkit, False);
    // Frames presented into the gone window fail quietly until the loss is known.
    HRESULT r = S_OK;
    for (int frame = 0; frame < 10 && r == S_OK; ++frame) {
        r = ctx->UpdateFrame(D3DX_UPDATE_NOVSYNC);
        VantorPumpWindowEvents(window);
    }
    EXPECT_EQ(r, DDERR_SURFACELOST);
    EXPECT_EQ(ctx->Clear(D3DCLEAR_TARGET), S_OK) << "drawing into the back buffer goes on";
    EXPECT_EQ(ctx->Release(), 0u);
    EXPECT_EQ(gl().D3DXUninitialize(), S_OK);
    DestroyWindow(window);
    XCloseDisplay(toolkit);
    EXPECT_EQ(HandleCount(), handles);
}

}  // namespace
