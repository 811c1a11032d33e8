// The device's state calls beyond what the conformance suite checks on every back end (defaults,
// read-back, refusals, lights, scenes, transforms): states that reach GL, refusals particular to
// this device, and invalid arguments after which nothing is drawn and no GL error is left.
#include "render_test_support.h"

using namespace render_test;

namespace {

using RenderDevice = RenderTest;

TEST_F(RenderDevice, OddValuesInEveryStateStillDrawWithoutAGLError) {
    // (Read-back of these values is the conformance suite's; here they must reach GL safely.)
    for (DWORD s = 2; s < D3DRENDERSTATE_MAX; ++s) dev->SetRenderState(static_cast<D3DRENDERSTATETYPE>(s), 0x1234 + s);
    for (DWORD t = D3DTSS_COLOROP; t < D3DTSS_MAX; ++t)
        ASSERT_EQ(dev->SetTextureStageState(0, static_cast<D3DTEXTURESTAGESTATETYPE>(t), 0x55 + t), D3D_OK);
    // Drawing with all those odd values set still works and leaves no GL error.
    draw_rect(0, 0, 8, 8, 0xFFFFFFFF);
}

TEST_F(RenderDevice, ViewportsNeedAnAreaAndADepthRange) {
    // Viewports outside the target are the conformance suite's.
    D3DVIEWPORT7 vp{0, 0, kWidth, kHeight, 0.0f, 1.0f};
    D3DVIEWPORT7 empty{0, 0, 0, 8, 0.0f, 1.0f}, depth{0, 0, 8, 8, 0.0f, 1.5f};
    EXPECT_EQ(dev->SetViewport(&empty), DDERR_INVALIDPARAMS);
    EXPECT_EQ(dev->SetViewport(&depth), DDERR_INVALIDPARAMS);
    D3DVIEWPORT7 got{};
    dev->GetViewport(&got);
    EXPECT_EQ(std::memcmp(&got, &vp, sizeof vp), 0) << "a refused viewport changes nothing";
}

struct DrawCase {
    const char* name;
    HRESULT expected;
    HRESULT (*call)(IDirect3DDevice7* dev, D3DTLVERTEX* v, WORD* i);
};
class RenderDeviceDraw : public RenderDevice, public ::testing::WithParamInterface<DrawCase> {};

TEST_P(RenderDeviceDraw, BadDrawsDrawNothing) {
    clear(0xFF000000);
    dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    D3DTLVERTEX v[4] = {{0, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0}, {64, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0},
                        {0, 64, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0}, {64, 64, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0}};
    WORD indices[6] = {0, 1, 2, 2, 1, 3};
    EXPECT_EQ(GetParam().call(dev, v, indices), GetParam().expected) << GetParam().name;
    EXPECT_TRUE(near_colour(pixel(20, 20), 0xFF000000, 0)) << GetParam().name << " drew something";
}

INSTANTIATE_TEST_SUITE_P(
    Draws, RenderDeviceDraw,
    ::testing::Values(
        DrawCase{"primitive type 0", D3DERR_INVALIDPRIMITIVETYPE,
                 [](IDirect3DDevice7* d, D3DTLVERTEX* v, WORD*) { return d->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(0), D3DFVF_TLVERTEX, v, 4, 0); }},
        DrawCase{"primitive type 7", D3DERR_INVALIDPRIMITIVETYPE,
                 [](IDirect3DDevice7* d, D3DTLVERTEX* v, WORD*) { return d->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(7), D3DFVF_TLVERTEX, v, 4, 0); }},
        DrawCase{"no position", D3DERR_INVALIDVERTEXTYPE,
                 [](IDirect3DDevice7* d, D3DTLVERTEX* v, WORD*) { return d->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_DIFFUSE, v, 4, 0); }},
        DrawCase{"reserved bits", D3DERR_INVALIDVERTEXTYPE,
                 [](IDirect3DDevice7* d, D3DTLVERTEX* v, WORD*) { return d->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX | 0x1000, v, 4, 0); }},
        DrawCase{"normal on pre-transformed vertices", D3DERR_INVALIDVERTEXTYPE,
                 [](IDirect3DDevice7* d, D3DTLVERTEX* v, WORD*) { return d->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_XYZRHW | D3DFVF_NORMAL, v, 4, 0); }},
        DrawCase{"nine texture sets", D3DERR_INVALIDVERTEXTYPE,
                 [](IDirect3DDevice7* d, D3DTLVERTEX* v, WORD*) { return d->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_XYZRHW | 0x900, v, 4, 0); }},
        DrawCase{"null vertices", DDERR_INVALIDPARAMS,
                 [](IDirect3DDevice7* d, D3DTLVERTEX*, WORD*) { return d->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, nullptr, 4, 0); }},
        DrawCase{"more vertices than Direct3D allows", DDERR_INVALIDPARAMS,
                 [](IDirect3DDevice7* d, D3DTLVERTEX* v, WORD*) { return d->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, v, 0x10000, 0); }},
        DrawCase{"unknown flags", DDERR_INVALIDPARAMS,
                 [](IDirect3DDevice7* d, D3DTLVERTEX* v, WORD*) { return d->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, v, 4, 0x100); }},
        DrawCase{"an index beyond the vertices", DDERR_INVALIDPARAMS,
                 [](IDirect3DDevice7* d, D3DTLVERTEX* v, WORD* i) { return d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, v, 3, i, 6, 0); }},
        DrawCase{"null indices", DDERR_INVALIDPARAMS,
                 [](IDirect3DDevice7* d, D3DTLVERTEX* v, WORD*) { return d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, v, 4, nullptr, 6, 0); }},
        DrawCase{"no vertices for the indices", DDERR_INVALIDPARAMS,
                 [](IDirect3DDevice7* d, D3DTLVERTEX* v, WORD* i) { return d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, v, 0, i, 6, 0); }},
        DrawCase{"zero vertices draw nothing", D3D_OK,
                 [](IDirect3DDevice7* d, D3DTLVERTEX* v, WORD*) { return d->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, v, 0, 0); }},
        DrawCase{"too few vertices for one triangle", D3D_OK,
                 [](IDirect3DDevice7* d, D3DTLVERTEX* v, WORD*) { return d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, v, 2, 0); }},
        DrawCase{"a vertex buffer that is not one", DDERR_INVALIDPARAMS,
                 [](IDirect3DDevice7* d, D3DTLVERTEX*, WORD*) { return d->DrawPrimitiveVB(D3DPT_TRIANGLELIST, nullptr, 0, 3, 0); }}));

class RenderDeviceVertexBuffer : public RenderDevice {
protected:
    void SetUp() override {
        RenderDevice::SetUp();
        ASSERT_EQ(dev->GetDirect3D(&d3d), D3D_OK);
        D3DVERTEXBUFFERDESC desc{sizeof desc, 0, D3DFVF_TLVERTEX, 4};
        ASSERT_EQ(d3d->CreateVertexBuffer(&desc, &vb, 0), D3D_OK);
        void* p = nullptr;
        ASSERT_EQ(vb->Lock(DDLOCK_WAIT, &p, nullptr), D3D_OK);
        D3DTLVERTEX v[4] = {{0, 0, 0.5f, 1, 0xFF00FF00, 0, 0, 0}, {64, 0, 0.5f, 1, 0xFF00FF00, 0, 0, 0},
                            {0, 64, 0.5f, 1, 0xFF00FF00, 0, 0, 0}, {64, 64, 0.5f, 1, 0xFF00FF00, 0, 0, 0}};
        std::memcpy(p, v, sizeof v);
        ASSERT_EQ(vb->Unlock(), D3D_OK);
        dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
        clear(0xFF000000);
    }
    void TearDown() override {
        if (vb) vb->Release();
        if (d3d) d3d->Release();
        RenderDevice::TearDown();
    }
    IDirect3D7* d3d = nullptr;
    IDirect3DVertexBuffer7* vb = nullptr;
};

TEST_F(RenderDeviceVertexBuffer, VertexBuffersDrawAndCheckTheirRanges) {
    EXPECT_EQ(dev->DrawPrimitiveVB(D3DPT_TRIANGLESTRIP, vb, 1, 4, 0), DDERR_INVALIDPARAMS) << "beyond the buffer";
    WORD far_index[3] = {0, 1, 3};
    EXPECT_EQ(dev->DrawIndexedPrimitiveVB(D3DPT_TRIANGLELIST, vb, 1, 3, far_index, 3, 0), DDERR_INVALIDPARAMS)
        << "indices count from the start vertex";
    EXPECT_EQ(dev->DrawIndexedPrimitiveVB(D3DPT_TRIANGLELIST, vb, 2, 3, far_index, 3, 0), DDERR_INVALIDPARAMS)
        << "start + count beyond the buffer";
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF000000, 0));
    void* p = nullptr;
    ASSERT_EQ(vb->Lock(DDLOCK_WAIT, &p, nullptr), D3D_OK);
    EXPECT_EQ(vb->Lock(DDLOCK_WAIT, &p, nullptr), D3DERR_VERTEXBUFFERLOCKED);
    EXPECT_EQ(dev->DrawPrimitiveVB(D3DPT_TRIANGLESTRIP, vb, 0, 4, 0), D3DERR_VERTEXBUFFERLOCKED);
    ASSERT_EQ(vb->Unlock(), D3D_OK);
    EXPECT_EQ(vb->Unlock(), D3DERR_VERTEXBUFFERUNLOCKFAILED);
    ASSERT_EQ(dev->DrawPrimitiveVB(D3DPT_TRIANGLESTRIP, vb, 0, 4, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF00FF00, 0));
    // Indexed, relative to the start vertex.
    clear(0xFF000000);
    WORD tri[3] = {0, 1, 2};
    ASSERT_EQ(dev->DrawIndexedPrimitiveVB(D3DPT_TRIANGLELIST, vb, 1, 3, tri, 3, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(50, 50), 0xFF00FF00, 0));
    EXPECT_TRUE(near_colour(pixel(5, 5), 0xFF000000, 0));
    // After Optimize the buffer cannot be locked; it still draws.
    ASSERT_EQ(vb->Optimize(dev, 0), D3D_OK);
    EXPECT_EQ(vb->Lock(DDLOCK_WAIT, &p, nullptr), D3DERR_VERTEXBUFFEROPTIMIZED);
    D3DVERTEXBUFFERDESC desc{sizeof desc, 0, 0, 0};
    ASSERT_EQ(vb->GetVertexBufferDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.dwFVF, static_cast<DWORD>(D3DFVF_TLVERTEX));
    EXPECT_EQ(desc.dwNumVertices, 4u);
    EXPECT_TRUE(desc.dwCaps & D3DVBCAPS_OPTIMIZED);
    ASSERT_EQ(dev->DrawPrimitiveVB(D3DPT_TRIANGLESTRIP, vb, 0, 4, 0), D3D_OK);
}

TEST_F(RenderDeviceVertexBuffer, CreateVertexBufferChecksItsRecord) {
    IDirect3DVertexBuffer7* other = reinterpret_cast<IDirect3DVertexBuffer7*>(1);
    D3DVERTEXBUFFERDESC desc{sizeof desc, 0, D3DFVF_TLVERTEX, 4};
    D3DVERTEXBUFFERDESC small = desc;
    small.dwSize = 8;
    EXPECT_EQ(d3d->CreateVertexBuffer(&small, &other, 0), DDERR_INVALIDPARAMS);
    EXPECT_EQ(other, nullptr);
    D3DVERTEXBUFFERDESC none = desc;
    none.dwNumVertices = 0;
    EXPECT_EQ(d3d->CreateVertexBuffer(&none, &other, 0), DDERR_INVALIDPARAMS);
    D3DVERTEXBUFFERDESC bad_fvf = desc;
    bad_fvf.dwFVF = 0x1000;
    EXPECT_EQ(d3d->CreateVertexBuffer(&bad_fvf, &other, 0), DDERR_INVALIDPARAMS);
    EXPECT_EQ(d3d->CreateVertexBuffer(&desc, nullptr, 0), DDERR_INVALIDPARAMS);
}

TEST_F(RenderDevice, IndexedDrawsSendOnlyTheVerticesTheyUse) {
    clear(0xFF000000);
    dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    // Vertices 100..103 of a larger array; the others are garbage that must not matter.
    std::vector<D3DTLVERTEX> v(200, D3DTLVERTEX{1e30f, -1e30f, 5, 0, 0, 0, 0, 0});
    v[100] = {0, 0, 0.5f, 1, 0xFF0000FF, 0, 0, 0};
    v[101] = {64, 0, 0.5f, 1, 0xFF0000FF, 0, 0, 0};
    v[102] = {0, 64, 0.5f, 1, 0xFF0000FF, 0, 0, 0};
    v[103] = {64, 64, 0.5f, 1, 0xFF0000FF, 0, 0, 0};
    WORD indices[6] = {100, 101, 102, 102, 101, 103};
    ASSERT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, v.data(), 200, indices, 6, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(10, 50), 0xFF0000FF, 0));
    EXPECT_TRUE(near_colour(pixel(50, 10), 0xFF0000FF, 0));
}

TEST_F(RenderDevice, StateSurvivesLongRunsOfDraws) {
    // Enough draws, each with its own world matrix, to go round the device's streaming storage
    // several times: the last draw still sees the projection, lights and fog set at the start.
    D3DMATRIX proj = perspective(1.5707963f, 1.0f, 1.0f, 100.0f);
    dev->SetTransform(D3DTRANSFORMSTATE_PROJECTION, &proj);
    dev->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
    dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    dev->SetRenderState(D3DRENDERSTATE_TEXTUREFACTOR, 0xFF00FF00);
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    D3DLVERTEX tri[3] = {{-1, -1, 0, 0, 0xFFFFFFFF, 0, 0, 0}, {1, -1, 0, 0, 0xFFFFFFFF, 0, 0, 0},
                         {0, 1, 0, 0, 0xFFFFFFFF, 0, 0, 0}};
    for (int i = 0; i < 20000; ++i) {
        clear(0xFF000000);
        D3DMATRIX w = translation(static_cast<float>(i % 7) * 0.01f, 0, 5);
        ASSERT_EQ(dev->SetTransform(D3DTRANSFORMSTATE_WORLD, &w), D3D_OK);
        ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_LVERTEX, tri, 3, 0), D3D_OK);
        if (i % 4999 == 0 || i == 19999) {
            ASSERT_TRUE(near_colour(pixel(32, 32), 0xFF00FF00, 0)) << "draw " << i;
        }
    }
}

TEST_F(RenderDevice, ClearChecksWhatItClears) {
    D3DRECT r{0, 0, 4, 4};
    EXPECT_EQ(dev->Clear(0, nullptr, 0, 0, 1, 0), DDERR_INVALIDPARAMS);
    EXPECT_EQ(dev->Clear(0, nullptr, 0x10, 0, 1, 0), DDERR_INVALIDPARAMS);
    EXPECT_EQ(dev->Clear(1, nullptr, D3DCLEAR_TARGET, 0, 1, 0), DDERR_INVALIDPARAMS);
    EXPECT_EQ(dev->Clear(1, &r, D3DCLEAR_ZBUFFER, 0, 1.5f, 0), DDERR_INVALIDPARAMS);
    // A render target of its own has no depth buffer.
    HRESULT hr = E_FAIL;
    IDirectDrawSurface7* target = create_surface(dd, DDSCAPS_3DDEVICE, 16, 16, formats::X8R8G8B8(), &hr).detach();
    ASSERT_EQ(hr, DD_OK);
    ASSERT_EQ(dev->SetRenderTarget(target, 0), D3D_OK);
    D3DVIEWPORT7 vp{};
    dev->GetViewport(&vp);
    EXPECT_EQ(vp.dwWidth, 16u) << "a new target brings a viewport over all of it";
    EXPECT_EQ(dev->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1, 0), D3DERR_ZBUFFER_NOTPRESENT);
    EXPECT_EQ(dev->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1, 0), D3DERR_STENCILBUFFER_NOTPRESENT);
    ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1, 0), D3D_OK);
    std::vector<DWORD> p = read_back(target);
    EXPECT_TRUE(near_colour(p[5], 0xFF00FF00, 0));
    ComPtr<IDirectDrawSurface7> current;
    ASSERT_EQ(dev->GetRenderTarget(current.put()), D3D_OK);
    EXPECT_EQ(current.get(), target);
    // Textures and surfaces that are not render targets are refused as targets.
    EXPECT_EQ(dev->SetRenderTarget(nullptr, 0), DDERR_INVALIDPARAMS);
    ASSERT_EQ(dev->SetRenderTarget(back, 0), D3D_OK);
    target->Release();
}

TEST_F(RenderDevice, SetTextureTakesTexturesOfThisDirectDrawOnly) {
    ComPtr<IDirectDrawSurface7> plain = make_surface(DDSCAPS_OFFSCREENPLAIN, formats::X8R8G8B8(), 2, 2, [](uint8_t*, DWORD) {});
    EXPECT_EQ(dev->SetTexture(0, plain.get()), DDERR_INVALIDPARAMS) << "not a texture";
    EXPECT_EQ(dev->SetTexture(8, nullptr), DDERR_INVALIDPARAMS);
    // A texture made by another DirectDraw object lives in no GL context of this device.
    ComPtr<IDirectDraw7> other;
    ASSERT_EQ(opengl_backend().DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(other.put()), IID_IDirectDraw7, nullptr),
              DD_OK);
    ASSERT_EQ(other->SetCooperativeLevel(0, DDSCL_NORMAL), DD_OK);
    HRESULT hr = E_FAIL;
    IDirectDrawSurface7* foreign = create_surface(other.get(), DDSCAPS_TEXTURE, 2, 2, formats::X8R8G8B8(), &hr).detach();
    ASSERT_EQ(hr, DD_OK);
    EXPECT_EQ(dev->SetTexture(0, foreign), DDERR_INVALIDOBJECT);
    IDirectDrawSurface7* got = reinterpret_cast<IDirectDrawSurface7*>(1);
    ASSERT_EQ(dev->GetTexture(0, &got), D3D_OK);
    EXPECT_EQ(got, nullptr);
    ComPtr<IDirectDrawSurface7> tex = make_texture(1, 1, {0xFFFFFFFF});
    ASSERT_EQ(dev->SetTexture(2, tex.get()), D3D_OK);
    ASSERT_EQ(dev->GetTexture(2, &got), D3D_OK);
    EXPECT_EQ(got, tex.get());
    got->Release();
    dev->SetTexture(2, nullptr);
    foreign->Release();
}

TEST_F(RenderDevice, CapsDescribeTheDevice) {
    // The shape is the conformance suite's; textures of any size up to what GL takes.
    D3DDEVICEDESC7 c{};
    ASSERT_EQ(dev->GetCaps(&c), D3D_OK);
    EXPECT_EQ(c.dpcTriCaps.dwTextureCaps & (D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_SQUAREONLY), 0u);
    GLint max_size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
    EXPECT_EQ(c.dwMaxTextureWidth, static_cast<DWORD>(max_size));
    EXPECT_EQ(c.dwMaxActiveLights, 8u);
}

TEST_F(RenderDevice, TextureFormatsComeIn565First) {
    // The record size, a stable order and cancelling are the conformance suite's.
    std::vector<DDPIXELFORMAT> formats;
    ASSERT_EQ(dev->EnumTextureFormats(
                  [](DDPIXELFORMAT* pf, void* context) -> HRESULT {
                      static_cast<std::vector<DDPIXELFORMAT>*>(context)->push_back(*pf);
                      return D3DENUMRET_OK;
                  },
                  &formats),
              D3D_OK);
    ASSERT_GE(formats.size(), 8u);
    // The engine takes the first 16-bit format without alpha: six bits of green win.
    EXPECT_EQ(formats[0].dwGBitMask, 0x07E0u);
    EXPECT_EQ(formats[1].dwGBitMask, 0x03E0u);
    bool palettised = false, rgb24 = false;
    for (const DDPIXELFORMAT& f : formats) {
        palettised |= (f.dwFlags & DDPF_PALETTEINDEXED8) != 0;
        rgb24 |= f.dwRGBBitCount == 24 && (f.dwFlags & DDPF_RGB);
        // Every format offered can be made.
        ComPtr<IDirectDrawSurface7> s = make_surface(DDSCAPS_TEXTURE, f, 4, 4, [](uint8_t*, DWORD) {});
        EXPECT_NE(s.get(), nullptr);
    }
    EXPECT_TRUE(palettised);
    EXPECT_TRUE(rgb24);
}

TEST_F(RenderDevice, TextureManagerFiguresAreReal) {
    D3DDEVINFO_TEXTUREMANAGER info{};
    EXPECT_EQ(dev->GetInfo(D3DDEVINFOID_TEXTUREMANAGER, &info, 40), DDERR_INVALIDPARAMS);
    EXPECT_EQ(dev->GetInfo(D3DDEVINFOID_TEXTUREMANAGER, nullptr, sizeof info), DDERR_INVALIDPARAMS);
    EXPECT_EQ(dev->GetInfo(99, &info, sizeof info), DDERR_INVALIDPARAMS);
    EXPECT_EQ(dev->GetInfo(D3DDEVINFOID_TEXTURING, &info, sizeof info), S_FALSE);
    ComPtr<IDirectDrawSurface7> a = make_texture(8, 8, std::vector<DWORD>(64, 0xFFFF0000));
    ComPtr<IDirectDrawSurface7> b = make_texture(4, 4, std::vector<DWORD>(16, 0xFF00FF00));
    ASSERT_EQ(dev->GetInfo(D3DDEVINFOID_TEXTUREMANAGER, &info, sizeof info), D3D_OK);
    EXPECT_EQ(info.dwTotalManaged, 2u);
    EXPECT_EQ(info.dwTotalBytes, 8u * 8 * 4 + 4u * 4 * 4);
    EXPECT_EQ(info.dwWorkingSet, 0u) << "nothing drawn yet";
    ASSERT_EQ(dev->BeginScene(), D3D_OK);
    dev->SetTexture(0, a.get());
    dev->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
    draw_rect(0, 0, 8, 8, 0xFFFFFFFF);
    ASSERT_EQ(dev->EndScene(), D3D_OK);
    ASSERT_EQ(dev->GetInfo(D3DDEVINFOID_TEXTUREMANAGER, &info, sizeof info), D3D_OK);
    EXPECT_EQ(info.dwWorkingSet, 1u);
    EXPECT_EQ(info.dwWorkingSetBytes, 8u * 8 * 4);
    EXPECT_EQ(info.dwNumTexturesUsed, 1u);
    EXPECT_EQ(info.dwApproxBytesDownloaded, 8u * 8 * 4);
    dev->SetTexture(0, nullptr);
}

}  // namespace
