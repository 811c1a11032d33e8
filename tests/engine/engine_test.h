// The engine's classes over a live OpenGL context: the component registered, a 64x64 off-screen
// device and its handles as a script passes them (`handle`, `d3d_handle`), and every object of the
// component gone at the end.
#pragma once

#include "component.h"
#include "render_test_support.h"

#include <vantor/backend/backend.h>
#include <vantor/com_ptr.h>
#include <vantor/gdi.h>
#include <vantor/system.h>

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
        RenderTest::TearDown();
        EXPECT_EQ(DllCanUnloadNow(), S_OK) << "an object of the component is still alive";
    }
    template <class I>
    vantor::ComPtr<I> create(REFCLSID clsid) {
        vantor::ComPtr<I> p;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), reinterpret_cast<void**>(p.put())),
                  S_OK);
        return p;
    }

    LONG handle = 0, d3d_handle = 0;
};
