// Shared fixture of the OpenGL back end's tests: an off-screen context on llvmpipe, pixel
// probes through Lock on the back buffer, and the GL error check every test ends with.
#pragma once

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>
#include <gtest/gtest.h>

#include <vantor/backend/matrix.h>
#include <vantor/render/opengl.h>

#include "test_util.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace render_test {

namespace formats = vantor::testing::formats;
using vantor::ComPtr;
using vantor::identity;
using vantor::testing::create_surface;
using vantor::testing::float_bits;
using vantor::testing::hex;
using vantor::testing::sized;
using vantor::testing::surface_desc;
using vantor::perspective;
using vantor::translation;
using vantor::render::opengl_backend;

// Per-channel comparison of two 0xAARRGGBB colours (alpha ignored unless `alpha`).
inline ::testing::AssertionResult near_colour(DWORD actual, DWORD expected, int tolerance, bool alpha = false) {
    for (int shift = alpha ? 24 : 16; shift >= 0; shift -= 8) {
        int a = static_cast<int>((actual >> shift) & 0xFF), e = static_cast<int>((expected >> shift) & 0xFF);
        if (std::abs(a - e) > tolerance)
            return ::testing::AssertionFailure() << "colour " << hex(actual) << " is not " << hex(expected)
                                                 << " within " << tolerance;
    }
    return ::testing::AssertionSuccess();
}

inline DWORD rgb(float r, float g, float b) {
    auto c = [](float v) { return static_cast<DWORD>(std::lround(std::fmin(std::fmax(v, 0.0f), 1.0f) * 255.0f)); };
    return 0xFF000000u | (c(r) << 16) | (c(g) << 8) | c(b);
}

// Every test starts the layer, makes a small off-screen context and ends with no GL error
// left and no back-end object alive.
class RenderTest : public ::testing::Test {
protected:
    static constexpr DWORD kWidth = 64, kHeight = 64;

    void SetUp() override {
        handles_at_start_ = HandleCount();
        ASSERT_EQ(opengl_backend().D3DXInitialize(), S_OK);
        ASSERT_EQ(opengl_backend().D3DXCreateContext(D3DX_DEFAULT, D3DX_CONTEXT_OFFSCREEN, 0, kWidth, kHeight, &ctx), S_OK);
        ASSERT_EQ(ctx->GetD3DDevice(&dev), S_OK);
        ASSERT_EQ(ctx->GetBackBuffer(0, &back), S_OK);
        ASSERT_EQ(ctx->GetDD(&dd), S_OK);
    }

    void TearDown() override {
        expect_no_gl_error();
        if (dd) dd->Release();
        if (back) back->Release();
        if (dev) dev->Release();
        if (ctx) {
            EXPECT_EQ(ctx->Release(), 0u);
        }
        EXPECT_EQ(opengl_backend().D3DXUninitialize(), S_OK);
        EXPECT_EQ(HandleCount(), handles_at_start_) << "a back-end object outlived its test";
    }

    // No GL error may be left behind, whatever the calls before did. The context's GL context
    // is the only one these tests make, so it is current.
    void expect_no_gl_error() {
        if (!dev) return;
        GLenum e = glGetError();
        EXPECT_EQ(e, static_cast<GLenum>(GL_NO_ERROR)) << "GL error 0x" << std::hex << e;
    }

    // The back buffer's pixels (X8R8G8B8 rows), read through Lock.
    std::vector<DWORD> read_back(IDirectDrawSurface7* s = nullptr) {
        if (!s) s = back;
        auto sd = sized<DDSURFACEDESC2>();
        std::vector<DWORD> pixels;
        if (s->Lock(nullptr, &sd, DDLOCK_WAIT | DDLOCK_READONLY, 0) != DD_OK) {
            ADD_FAILURE() << "Lock failed";
            return pixels;
        }
        pixels.resize(static_cast<size_t>(sd.dwWidth) * sd.dwHeight);
        for (DWORD y = 0; y < sd.dwHeight; ++y)
            std::memcpy(&pixels[y * sd.dwWidth], static_cast<uint8_t*>(sd.lpSurface) + y * sd.lPitch, sd.dwWidth * 4);
        s->Unlock(nullptr);
        for (DWORD& p : pixels) p |= 0xFF000000u;
        return pixels;
    }

    DWORD pixel(int x, int y) {
        std::vector<DWORD> p = read_back();
        return p.empty() ? 0 : p[static_cast<size_t>(y) * kWidth + x];
    }

    void clear(D3DCOLOR colour) { ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, colour, 1.0f, 0), D3D_OK); }

    // A screen-space quad (pre-transformed vertices) over the rectangle, in one colour.
    void draw_rect(float x0, float y0, float x1, float y1, D3DCOLOR colour, float z = 0.5f) {
        D3DTLVERTEX v[4] = {{x0, y0, z, 1, colour, 0, 0, 0}, {x1, y0, z, 1, colour, 0, 1, 0},
                            {x0, y1, z, 1, colour, 0, 0, 1}, {x1, y1, z, 1, colour, 0, 1, 1}};
        EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, v, 4, 0), D3D_OK);
    }

    // The texture alone, point-sampled, over the top-left 64 x 64 pixels of a black target.
    void draw_textured(IDirectDrawSurface7* t) {
        dev->SetTexture(0, t);
        dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        dev->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_POINT);
        dev->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTFN_POINT);
        dev->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
        clear(0xFF000000);
        ASSERT_EQ(dev->BeginScene(), D3D_OK);
        draw_rect(0, 0, 64, 64, 0xFFFFFFFF);
        ASSERT_EQ(dev->EndScene(), D3D_OK);
        dev->SetTexture(0, nullptr);
    }

    // A surface of the context's DirectDraw object, its pixels written by `fill(row, y, pitch)`.
    template <class Fill>
    ComPtr<IDirectDrawSurface7> make_surface(DWORD caps, const DDPIXELFORMAT& pf, DWORD w, DWORD h, Fill fill) {
        DDSURFACEDESC2 sd = surface_desc(caps, w, h, &pf);
        ComPtr<IDirectDrawSurface7> s;
        if (HRESULT hr = dd->CreateSurface(&sd, s.put(), nullptr); hr != DD_OK) {
            ADD_FAILURE() << "CreateSurface failed: " << hex(static_cast<DWORD>(hr));
            return s;
        }
        if (s->Lock(nullptr, &sd, DDLOCK_WAIT | DDLOCK_WRITEONLY, 0) == DD_OK) {
            for (DWORD y = 0; y < h; ++y) fill(static_cast<uint8_t*>(sd.lpSurface) + y * sd.lPitch, y);
            s->Unlock(nullptr);
        }
        return s;
    }
    // A 32-bit ARGB texture from 0xAARRGGBB texels, row by row.
    ComPtr<IDirectDrawSurface7> make_texture(DWORD w, DWORD h, const std::vector<DWORD>& texels) {
        return make_surface(DDSCAPS_TEXTURE, formats::A8R8G8B8(), w, h, [&](uint8_t* row, DWORD y) {
            std::memcpy(row, &texels[y * w], w * 4);
        });
    }

    ID3DXContext* ctx = nullptr;
    IDirect3DDevice7* dev = nullptr;
    IDirectDrawSurface7* back = nullptr;
    IDirectDraw7* dd = nullptr;
    uint32_t handles_at_start_ = 0;
};

}  // namespace render_test
