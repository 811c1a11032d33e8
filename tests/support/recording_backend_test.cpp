// The recording back end's own features: the call log, fault injection, configuration and the
// bookkeeping tests rely on. What it shares with the OpenGL back end (defaults, read-back,
// results for invalid arguments) is in tests/conformance.
#include "recording_backend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "test_util.h"
#include "test_window.h"

namespace {

using ::testing::ElementsAre;
using vantor::ComPtr;
using vantor::testing::Call;
using vantor::testing::RecordingBackend;
using vantor::testing::RecordingConfig;
using vantor::testing::TestWindow;
namespace formats = vantor::testing::formats;

// A started back end with a 320x240 windowed context; checks that nothing outlives the test.
class Recording : public ::testing::Test {
protected:
    void SetUp() override {
        handles_ = HandleCount();
        ASSERT_EQ(rec.D3DXInitialize(), S_OK);
        ASSERT_EQ(rec.D3DXCreateContext(D3DX_DEFAULT, 0, window.handle(), 320, 240, &context), S_OK);
        ASSERT_EQ(context->GetD3DDevice(&device), S_OK);
        rec.clear_calls();
    }
    void TearDown() override {
        if (device) device->Release();
        if (context) context->Release();
        EXPECT_EQ(rec.live_objects(), 0u) << rec.live_object_names_text();
        rec.D3DXUninitialize();
        EXPECT_EQ(HandleCount(), handles_);
    }

    ComPtr<IDirectDrawSurface7> texture(DWORD w, DWORD h, const DDPIXELFORMAT& format) {
        ComPtr<IDirectDraw7> dd;
        EXPECT_EQ(context->GetDD(dd.put()), S_OK);
        return vantor::testing::create_surface(dd.get(), DDSCAPS_TEXTURE, w, h, format);
    }

    uint32_t handles_ = 0;
    TestWindow window{320, 240};
    RecordingBackend rec;
    ID3DXContext* context = nullptr;
    IDirect3DDevice7* device = nullptr;
};

TEST_F(Recording, LogsEachCallAsOneReadableLine) {
    device->SetRenderState(D3DRENDERSTATE_ZENABLE, TRUE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    m._41 = 2.5f;
    device->SetTransform(D3DTRANSFORMSTATE_WORLD, &m);
    D3DVIEWPORT7 vp{0, 0, 320, 240, 0.0f, 1.0f};
    device->SetViewport(&vp);
    DWORD value = 0;
    device->GetRenderState(D3DRENDERSTATE_CULLMODE, &value);
    device->GetRenderState(D3DRENDERSTATE_CULLMODE, nullptr);
    context->SetClearColor(0xFF202040);
    context->DrawDebugText(0.01f, 0.5f, 0xFFFFFFFF, const_cast<char*>("fps \"60\""));
    context->UpdateFrame(D3DX_UPDATE_NOVSYNC);
    ID3DXContext* second = nullptr;
    rec.D3DXCreateContext(D3DX_DEFAULT, 0, window.handle(), 640, 480, &second);
    device->SetTexture(1, nullptr);
    D3DVERTEX tri[3]{};
    WORD indices[3] = {0, 2, 1};
    device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, D3DFVF_VERTEX, tri, 3, indices, 3, 0);
    EXPECT_THAT(rec.calls(),
                ElementsAre("Device.SetRenderState(7, 1)", "Device.SetTextureStageState(0, 2, 2)",
                            "Device.SetTransform(1, [1 0 0 0; 0 1 0 0; 0 0 1 0; 2.5 0 0 1])",
                            "Device.SetViewport({0, 0, 320, 240, 0, 1})", "Device.GetRenderState(22)",
                            "Device.GetRenderState(22, null)", "Context.SetClearColor(0xFF202040)",
                            "Context.DrawDebugText(0.01, 0.5, 0xFFFFFFFF, \"fps \\\"60\\\"\")",
                            "Context.UpdateFrame(1)", "D3DXCreateContext(4294967295, 0, <window>, 640, 480)",
                            "Device.SetTexture(1, null)",
                            "Device.DrawIndexedPrimitive(4, 274, <3 vertices>, 3, [0 2 1], 3, 0)"));
    EXPECT_EQ(rec.result(5), DDERR_INVALIDPARAMS);
    EXPECT_EQ(rec.call_records()[0].name, "Device.SetRenderState");
    EXPECT_THAT(rec.call_records()[0].args, ElementsAre("7", "1"));
    second->Release();
}

TEST_F(Recording, NamesObjectsByKindAndOrderOfMaking) {
    ComPtr<IDirectDrawSurface7> a = texture(8, 8, formats::R5G6B5()), b = texture(4, 2, formats::A8R8G8B8()), back;
    device->SetTexture(0, b.get());
    RECT r{0, 0, 2, 1};
    a->Blt(&r, b.get(), nullptr, DDBLT_WAIT, nullptr);
    context->GetBackBuffer(0, back.put());
    EXPECT_EQ(rec.name_of(back.get()), "<backbuffer1>");
    EXPECT_EQ(rec.name_of(device), "<device1>");
    EXPECT_EQ(rec.name_of(nullptr), "null");
    int not_ours = 0;
    EXPECT_EQ(rec.name_of(&not_ours), "<foreign>");
    EXPECT_THAT(
        rec.calls_matching("DirectDraw.CreateSurface"),
        ElementsAre("DirectDraw.CreateSurface({flags 0x1007, 8x8, caps 0x1000, caps2 0x0, R5G6B5})",
                    "DirectDraw.CreateSurface({flags 0x1007, 4x2, caps 0x1000, caps2 0x0, A8R8G8B8})"));
    EXPECT_GE(rec.index_of("Device.SetTexture(0, <surface2>)"), 0);
    EXPECT_GE(rec.index_of("Surface.Blt(<surface1>, {0, 0, 2, 1}, <surface2>, null, 16777216, null)"), 0);
}

TEST_F(Recording, FindsCountsAndSlicesCalls) {
    for (DWORD s : {0u, 1u, 0u}) device->SetTextureStageState(s, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->BeginScene();
    device->EndScene();
    EXPECT_EQ(rec.index_of("Device.SetTextureStageState(0"), 0);
    EXPECT_EQ(rec.index_of("Device.SetTextureStageState(0", 1), 2);
    EXPECT_EQ(rec.index_of("Device.BeginScene"), 3);
    EXPECT_EQ(rec.index_of("Device.Clear"), -1);
    EXPECT_EQ(rec.count("Device.SetTextureStageState"), 3u);
    EXPECT_THAT(rec.slice(3), ElementsAre("Device.BeginScene()", "Device.EndScene()"));
    EXPECT_THAT(rec.slice(1, 2), ElementsAre("Device.SetTextureStageState(1, 1, 4)"));
    EXPECT_TRUE(rec.slice(9).empty());
    rec.clear_calls();
    EXPECT_TRUE(rec.calls().empty());
}

TEST_F(Recording, FailsTheNamedCallAfterSkipForCountCalls) {
    rec.fail("Context.UpdateFrame", DDERR_SURFACELOST, 2, 1);
    EXPECT_EQ(context->UpdateFrame(1), D3D_OK);
    EXPECT_EQ(context->UpdateFrame(1), DDERR_SURFACELOST);
    EXPECT_EQ(context->UpdateFrame(1), DDERR_SURFACELOST);
    EXPECT_EQ(context->UpdateFrame(1), D3D_OK);
    EXPECT_EQ(rec.count("Context.UpdateFrame"), 4u);
    EXPECT_EQ(rec.result(1), DDERR_SURFACELOST);
    EXPECT_EQ(rec.result(3), D3D_OK);

    rec.fail("Device.SetViewport", E_OUTOFMEMORY);
    D3DVIEWPORT7 vp{0, 0, 10, 10, 0, 1};
    for (int k = 0; k < 3; ++k) EXPECT_EQ(device->SetViewport(&vp), E_OUTOFMEMORY);
    rec.clear_failures();
    EXPECT_EQ(device->SetViewport(&vp), D3D_OK);
}

TEST_F(Recording, AFailedCallChangesNothingAndClearsItsOutputs) {
    rec.fail("Device.SetRenderState", D3DERR_INVALIDVERTEXTYPE, 1);
    EXPECT_EQ(device->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE), D3DERR_INVALIDVERTEXTYPE);
    DWORD cull = 0;
    EXPECT_EQ(device->GetRenderState(D3DRENDERSTATE_CULLMODE, &cull), D3D_OK);
    EXPECT_EQ(cull, DWORD(D3DCULL_CCW));

    rec.fail("Context.GetD3DDevice", E_FAIL, 1);
    IDirect3DDevice7* out = device;  // not null on purpose
    EXPECT_EQ(context->GetD3DDevice(&out), E_FAIL);
    EXPECT_EQ(out, nullptr);
}

TEST_F(Recording, FailsByArgumentsThroughAPrefixOrAPredicate) {
    // Context creation fails for device index 3 only, as when the engine retries the default.
    rec.config().devices.resize(4, RecordingConfig::capable_device("second"));
    rec.fail("D3DXCreateContext(3, ", D3DXERR_INVALIDD3DXDEVICEINDEX);
    ID3DXContext* c = nullptr;
    EXPECT_EQ(rec.D3DXCreateContext(3, 0, window.handle(), 64, 64, &c), D3DXERR_INVALIDD3DXDEVICEINDEX);
    EXPECT_EQ(rec.D3DXCreateContext(D3DX_DEFAULT, 0, window.handle(), 64, 64, &c), S_OK);
    c->Release();

    rec.fail_if([](const Call& call) { return call.name == "Device.SetLight" && call.args[0] == "2"; },
                E_OUTOFMEMORY, 1);
    D3DLIGHT7 light{};
    light.dltType = D3DLIGHT_POINT;
    EXPECT_EQ(device->SetLight(1, &light), D3D_OK);
    EXPECT_EQ(device->SetLight(2, &light), E_OUTOFMEMORY);
    EXPECT_EQ(device->SetLight(2, &light), D3D_OK);
}

TEST_F(Recording, AnInjectedSuccessCodeLetsTheCallWork) {
    rec.fail("Device.SetRenderState", S_FALSE, 1);
    EXPECT_EQ(device->SetRenderState(D3DRENDERSTATE_DITHERENABLE, TRUE), S_FALSE);
    DWORD dither = 0;
    device->GetRenderState(D3DRENDERSTATE_DITHERENABLE, &dither);
    EXPECT_EQ(dither, DWORD(TRUE));
}

TEST_F(Recording, ReportsTheConfiguredCapabilitiesAndFormats) {
    auto& caps = rec.config().devices[0].caps;
    caps.dwMaxActiveLights = 2;
    caps.dwVertexProcessingCaps &= ~DWORD(D3DVTXPCAPS_POSITIONALLIGHTS);
    D3DDEVICEDESC7 desc{};
    ASSERT_EQ(device->GetCaps(&desc), D3D_OK);
    EXPECT_EQ(desc.dwMaxActiveLights, 2u);
    EXPECT_EQ(desc.dwVertexProcessingCaps & (D3DVTXPCAPS_POSITIONALLIGHTS | D3DVTXPCAPS_DIRECTIONALLIGHTS),
              DWORD(D3DVTXPCAPS_DIRECTIONALLIGHTS));

    rec.config().texture_formats = {formats::X1R5G5B5(), formats::R5G6B5()};
    std::vector<std::string> seen;
    device->EnumTextureFormats(
        [](DDPIXELFORMAT* f, void* ctx) -> HRESULT {
            static_cast<std::vector<std::string>*>(ctx)->push_back(formats::name(*f));
            return D3DENUMRET_OK;
        },
        &seen);
    EXPECT_THAT(seen, ElementsAre("X1R5G5B5", "R5G6B5"));
}

TEST_F(Recording, DefaultFormatsPutTheFormatsAChooserMustSkipFirst) {
    std::vector<DDPIXELFORMAT> seen;
    device->EnumTextureFormats(
        [](DDPIXELFORMAT* f, void* ctx) -> HRESULT {
            static_cast<std::vector<DDPIXELFORMAT>*>(ctx)->push_back(*f);
            return D3DENUMRET_OK;
        },
        &seen);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_TRUE(seen[0].dwFlags & DDPF_LUMINANCE);
    EXPECT_TRUE(seen[1].dwFlags & DDPF_BUMPDUDV);
    EXPECT_EQ(formats::name(seen[2]), "R5G6B5");
}

TEST_F(Recording, ExclusiveWithoutFullScreenIsRefusedUnlessConfiguredAway) {
    IDirectDraw7* dd = nullptr;
    ASSERT_EQ(context->GetDD(&dd), S_OK);
    EXPECT_EQ(dd->SetCooperativeLevel(window.handle(), DDSCL_EXCLUSIVE), DDERR_INVALIDPARAMS);
    rec.config().exclusive_needs_fullscreen = false;
    EXPECT_EQ(dd->SetCooperativeLevel(window.handle(), DDSCL_EXCLUSIVE), DD_OK);
    EXPECT_EQ(rec.cooperative_level(), DWORD(DDSCL_EXCLUSIVE));
    EXPECT_EQ(dd->SetDisplayMode(800, 600, 16, 0, 0), DD_OK);
    EXPECT_EQ(rec.display_mode().width, 800u);
    EXPECT_EQ(dd->SetCooperativeLevel(window.handle(), DDSCL_NORMAL | DDSCL_EXCLUSIVE), DDERR_INVALIDPARAMS);
    dd->Release();
    EXPECT_EQ(rec.display_mode().width, 800u) << "the context still holds the DirectDraw object";
    device->Release();
    device = nullptr;
    context->Release();
    context = nullptr;
    EXPECT_EQ(rec.display_mode().width, 1024u) << "the mode goes back with the DirectDraw object that set it";
}

TEST_F(Recording, DescribesTheConfiguredDevices) {
    rec.config().devices.push_back(RecordingConfig::capable_device("Software"));
    rec.config().devices[1].set_type(IID_IDirect3DRGBDevice);
    rec.config().default_device = 1;
    EXPECT_EQ(rec.D3DXGetDeviceCount(), 2u);
    D3DX_DEVICEDESC d{};
    ASSERT_EQ(rec.D3DXGetDeviceDescription(D3DX_DEFAULT, &d), S_OK);
    EXPECT_EQ(d.deviceIndex, 1u);
    EXPECT_STREQ(d.driverDesc, "Software");
    EXPECT_EQ(d.hwLevel, D3DX_HWLEVEL_2D);
    EXPECT_EQ(d.d3dDeviceGuid, IID_IDirect3DRGBDevice);
    EXPECT_EQ(rec.D3DXGetDeviceDescription(2, &d), D3DXERR_INVALIDD3DXDEVICEINDEX);
}

TEST_F(Recording, RefusesContextsTheConfiguredDisplayCannotHave) {
    ID3DXContext* c = nullptr;
    rec.config().desktop_mode.bpp = 8;
    EXPECT_EQ(rec.D3DXCreateContext(0, 0, window.handle(), 64, 64, &c), D3DXERR_COLORDEPTHTOOLOW);
    rec.config().desktop_mode.bpp = 32;
    rec.config().devices[0].caps.dwDeviceRenderBitDepth = DDBD_16;
    EXPECT_EQ(rec.D3DXCreateContext(0, 0, window.handle(), 64, 64, &c), D3DXERR_NODIRECT3DDEVICEAVAILABLE);
    EXPECT_EQ(rec.D3DXCreateContext(0, D3DX_CONTEXT_FULLSCREEN, window.handle(), 640, 480, &c), S_OK);
    EXPECT_EQ(rec.display_mode().bpp, 16u);
    EXPECT_EQ(rec.cooperative_level(), DWORD(DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN));
    c->Release();
    EXPECT_EQ(rec.display_mode().bpp, 32u) << "releasing the full-screen DirectDraw gives the mode back";
}

TEST_F(Recording, FitsTexturesFromFilesToTheDevice) {
    struct Case {
        DWORD texture_caps, max;
        GUID type;
        DWORD want_w, want_h, memory_caps, caps2;
    } cases[] = {
        {0, 2048, IID_IDirect3DTnLHalDevice, 100, 60, 0, DDSCAPS2_TEXTUREMANAGE},
        {D3DPTEXTURECAPS_POW2, 256, IID_IDirect3DHALDevice, 128, 64, 0, DDSCAPS2_TEXTUREMANAGE},
        {D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_SQUAREONLY, 256, IID_IDirect3DRGBDevice, 128, 128,
         DDSCAPS_SYSTEMMEMORY, 0},
        {D3DPTEXTURECAPS_POW2, 64, IID_IDirect3DRGBDevice, 64, 64, DDSCAPS_SYSTEMMEMORY, 0},
    };
    rec.config().image_width = 100;
    rec.config().image_height = 60;
    for (const Case& c : cases) {
        auto& info = rec.config().devices[0];
        info.set_type(c.type);
        info.caps.dpcTriCaps.dwTextureCaps = c.texture_caps;
        info.caps.dwMaxTextureWidth = info.caps.dwMaxTextureHeight = c.max;
        DWORD w = D3DX_DEFAULT, h = D3DX_DEFAULT, flags = D3DX_TEXTURE_NOMIPMAP;
        D3DX_SURFACEFORMAT f = D3DX_SF_UNKNOWN;
        IDirectDrawSurface7* t = nullptr;
        ASSERT_EQ(rec.D3DXCreateTextureFromFile(device, &flags, &w, &h, &f, nullptr, &t, nullptr,
                                                const_cast<char*>("no-such-image.bmp"), D3DX_FT_LINEAR),
                  S_OK);
        EXPECT_EQ(w, c.want_w);
        EXPECT_EQ(h, c.want_h);
        EXPECT_EQ(f, D3DX_SF_X8R8G8B8);
        DDSURFACEDESC2 sd{};
        sd.dwSize = sizeof sd;
        t->GetSurfaceDesc(&sd);
        EXPECT_EQ(sd.dwWidth, c.want_w);
        EXPECT_EQ(sd.ddsCaps.dwCaps & DDSCAPS_SYSTEMMEMORY, c.memory_caps);
        EXPECT_EQ(sd.ddsCaps.dwCaps2, c.caps2);
        t->Release();
    }
    EXPECT_EQ(rec.calls()[0],
              "D3DXCreateTextureFromFile(<device1>, 256, 4294967295, 4294967295, 0, null, null, "
              "\"no-such-image.bmp\", 2)");
}

TEST_F(Recording, LostSurfacesFailUntilRestored) {
    ComPtr<IDirectDrawSurface7> t = texture(4, 4, formats::R5G6B5());
    rec.lose_surfaces();
    EXPECT_EQ(context->UpdateFrame(0), DDERR_SURFACELOST);
    EXPECT_EQ(t->IsLost(), DDERR_SURFACELOST);
    DDSURFACEDESC2 sd{};
    sd.dwSize = sizeof sd;
    EXPECT_EQ(t->Lock(nullptr, &sd, DDLOCK_WAIT, 0), DDERR_SURFACELOST);
    EXPECT_EQ(context->RestoreSurfaces(), D3D_OK);
    EXPECT_EQ(context->UpdateFrame(0), D3D_OK);
    EXPECT_EQ(t->IsLost(), DDERR_SURFACELOST) << "a context restores its own surfaces only";
    EXPECT_EQ(t->Restore(), DD_OK);
    EXPECT_EQ(t->IsLost(), DD_OK);
}

TEST_F(Recording, GivesDeviceContextsOnlyForLayoutsGdiDraws) {
    ComPtr<IDirectDrawSurface7> indexed = texture(4, 4, formats::P8()), luminance = texture(4, 4, formats::L8());
    HDC dc = 0;
    EXPECT_EQ(indexed->GetDC(&dc), DDERR_NOPALETTEATTACHED);
    EXPECT_EQ(luminance->GetDC(&dc), DDERR_CANTCREATEDC);
    EXPECT_EQ(dc, 0u);
    ComPtr<IDirectDraw7> dd;
    context->GetDD(dd.put());
    PALETTEENTRY entries[256] = {};
    ComPtr<IDirectDrawPalette> palette;
    ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, entries, palette.put(), nullptr), DD_OK);
    ASSERT_EQ(indexed->SetPalette(palette.get()), DD_OK);
    EXPECT_EQ(indexed->GetDC(&dc), DD_OK);
    EXPECT_EQ(indexed->ReleaseDC(dc), DD_OK);
    EXPECT_EQ(indexed->ReleaseDC(dc), DDERR_NODC);
}

TEST_F(Recording, TracksLiveObjectsAndTheLastOfEachKind) {
    EXPECT_EQ(rec.last_context(), context);
    EXPECT_EQ(rec.last_device(), device);
    // context, device, DirectDraw, primary, back buffer, depth buffer
    EXPECT_EQ(rec.live_objects(), 6u) << rec.live_object_names_text();
    EXPECT_THAT(rec.live_object_names(), ::testing::Contains("<device1> (2 references)"));
    ID3DXContext* saved = context;
    context->Release();
    context = nullptr;
    EXPECT_EQ(rec.last_context(), nullptr);
    EXPECT_EQ(vantor::backend::to_handle(saved), 0u);
    device->Release();
    device = nullptr;
    EXPECT_EQ(rec.last_device(), nullptr);
    EXPECT_EQ(rec.live_objects(), 0u);
}

TEST(RecordingLifetime, ObjectsOutliveTheBackEndThatMadeThem) {
    TestWindow window(32, 32);
    IDirect3DDevice7* device = nullptr;
    {
        RecordingBackend rec;
        ID3DXContext* context = nullptr;
        rec.D3DXInitialize();
        ASSERT_EQ(rec.D3DXCreateContext(0, 0, window.handle(), 32, 32, &context), S_OK);
        context->GetD3DDevice(&device);
        context->Release();
    }
    EXPECT_EQ(device->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE), D3D_OK);
    EXPECT_EQ(device->Release(), 0u);
}

}  // namespace
