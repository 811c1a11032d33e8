// The engine's classes over a live OpenGL context: the component registered, a 64x64 off-screen
// device and its handles as a script passes them (`handle`, `d3d_handle`), a camera bound to it,
// files written for a test, and every object of the component gone at the end.
#pragma once

#include "component.h"
#include "render_test_support.h"

#include <vantor/backend/backend.h>
#include <vantor/com_ptr.h>
#include <vantor/gdi.h>
#include <vantor/system.h>

#include <cstdio>
#include <string>

class EngineRenderTest : public render_test::RenderTest {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ASSERT_EQ(DllRegisterServer(), S_OK);
        // Handles that live for the process once first asked for: the host's module and GDI's
        // stock bitmap (every memory DC starts with it selected).
        GetModuleHandleA(nullptr);
        DeleteDC(CreateCompatibleDC(0));
        RenderTest::SetUp();
        handle = static_cast<LONG>(vantor::backend::to_handle(dev));
        IDirect3D7* d3d = nullptr;
        ctx->GetD3D(&d3d);
        d3d_handle = static_cast<LONG>(vantor::backend::to_handle(d3d));
        d3d->Release();
    }
    void TearDown() override {
        camera_.reset();
        RenderTest::TearDown();
        EXPECT_EQ(DllCanUnloadNow(), S_OK) << "an object of the component is still alive";
    }
    // Clip space as world space (x right and y up from -1 to 1, z from 0 near to 1), both faces drawn.
    void draw_in_clip_space() {
        D3DMATRIX one = vantor::identity();
        dev->SetTransform(D3DTRANSFORMSTATE_WORLD, &one);
        dev->SetTransform(D3DTRANSFORMSTATE_VIEW, &one);
        dev->SetTransform(D3DTRANSFORMSTATE_PROJECTION, &one);
        dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    }
    template <class I>
    vantor::ComPtr<I> create(REFCLSID clsid) {
        vantor::ComPtr<I> p;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), reinterpret_cast<void**>(p.put())),
                  S_OK);
        return p;
    }
    // A Camera bound to the device, made on first use.
    ICamera* camera() {
        if (!camera_) {
            camera_ = create<ICamera>(CLSID_Camera);
            camera_->put_Device(handle);
        }
        return camera_.get();
    }
    // `bytes` as the file `name` in the test's temporary folder; its path.
    static std::string write_file(const std::string& name, const std::string& bytes) {
        const std::string path = ::testing::TempDir() + name;
        if (FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return path;
    }
    // A triangle in the plane z = 0 around (cx, cy), facing the default camera (normal +z),
    // drawn with whatever state the engine's objects left on the device.
    void draw_triangle(float cx = 0, float cy = 0, float size = 2.0f) {
        D3DVERTEX v[3] = {{cx - size, cy - size, 0, 0, 0, 1, 0, 0},
                          {cx, cy + size, 0, 0, 0, 1, 0, 0},
                          {cx + size, cy - size, 0, 0, 0, 1, 0, 0}};
        ASSERT_EQ(dev->BeginScene(), D3D_OK);
        EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_VERTEX, v, 3, 0), D3D_OK);
        ASSERT_EQ(dev->EndScene(), D3D_OK);
    }

    LONG handle = 0, d3d_handle = 0;

private:
    vantor::ComPtr<ICamera> camera_;
};
