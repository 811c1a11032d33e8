// Device3D on the recording back end, its children stood in for by spies: construction,
// Initialise, Free, the frame and the render-state properties, with their exact calls, codes
// and texts.
#include "component.h"
#include "recording_backend.h"
#include "spy.h"
#include "test_window.h"

#include <vantor/backend/backend.h>
#include <vantor/registry.h>
#include <vantor/window.h>

#include <chrono>
#include <functional>
#include <cmath>
#include <thread>

using namespace vantor;
using namespace vantor::test;
using vantor::testing::RecordingBackend;
using vantor::testing::TestWindow;

namespace {

const CLSID* const kChildren[] = {&CLSID_Cameras, &CLSID_Fog, &CLSID_Flares, &CLSID_Colour, &CLSID_Lights, &CLSID_Objects,
                                  &CLSID_SimpleObjects, &CLSID_Textures, &CLSID_TextureFormats, &CLSID_Sprites, &CLSID_DeviceCaps};

std::string hex(HRESULT hr) {
    char b[16];
    std::snprintf(b, sizeof b, "%x", static_cast<unsigned>(hr));
    return b;
}

class DeviceTest : public ComponentTest {
protected:
    void SetUp() override {
        ComponentTest::SetUp();
        for (const CLSID* c : kChildren) spy::install(*c);  // every child a spy
        spy::clear();
        spy::clear_failures();
    }
    void TearDown() override {
        EXPECT_EQ(spy::live(), 0) << "a child outlived its device";
        EXPECT_EQ(rec.live_objects(), 0u) << rec.live_object_names_text();
        ComponentTest::TearDown();
    }

    IDevice3D* device() {
        IDevice3D* d = create<IDevice3D>(CLSID_Device3D);
        take_error();
        return d;
    }
    HRESULT initialise(IDevice3D* d, LONG w = 640, LONG h = 480) {
        d->put_Window(static_cast<LONG>(window.handle()));
        return d->Initialise(0, w, h, VARIANT_FALSE, 1);
    }
    LONG device_handle() { return static_cast<LONG>(backend::to_handle(rec.last_device())); }
    LONG direct3d_handle() {
        IDirect3D7* d3d = nullptr;
        rec.last_context()->GetD3D(&d3d);
        LONG h = static_cast<LONG>(backend::to_handle(d3d));
        d3d->Release();
        return h;
    }
    LONG directdraw_handle() { return static_cast<LONG>(backend::to_handle(rec.last_directdraw())); }

    RecordingBackend rec;
    vantor::testing::ScopedInstall installed{rec};
    TestWindow window{640, 480};
};

}  // namespace

TEST_F(DeviceTest, ConstructionCreatesTheChildrenInOrderAndSetsTheAmbientColourToZero) {
    DebugCapture out;
    IDevice3D* d = device();
    EXPECT_EQ(out.text(),
              "Checking Registry.\n\tCameras --> Succeeded.\n\tFog --> Succeeded.\n\tFlares --> Succeeded.\n"
              "\tColour (Ambient Light) --> \tLights --> Succeeded.\n\tObjects --> Succeeded.\n"
              "\tSimpleObjects --> Succeeded.\n\tTextures --> Succeeded.\n\tTextureFormats --> Succeeded.\n"
              "\tSprites --> Succeeded.\n\tDeviceCaps --> Succeeded.\n");
    EXPECT_EQ(spy::log(), (std::vector<std::string>{"Colour.put_Red(0)", "Colour.put_Green(0)", "Colour.put_Blue(0)",
                                                    "Colour.put_Alpha(0)"}));
    EXPECT_EQ(value_of(d, &IDevice3D::get_Status), sm_NotInitialised);
    d->Release();
}

TEST_F(DeviceTest, AChildThatCannotBeCreatedEndsTheListAndIsReported) {
    unregister_class(CLSID_Lights);
    DebugCapture out;
    IDevice3D* d = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_Device3D, nullptr, CLSCTX_INPROC_SERVER, IID_IDevice3D, reinterpret_cast<void**>(&d)), S_OK);
    ErrorText e = take_error();
    EXPECT_EQ(e.source, "Vantor.Device3D.1");
    EXPECT_EQ(e.description, "Unspecified error\nLights Not Registered.");
    EXPECT_NE(out.text().find("\tLights --> CoCreateInstanceEx Failed.\nFailed.\n"), std::string::npos) << out.text();
    EXPECT_EQ(out.text().find("Objects"), std::string::npos) << "no child after the missing one is tried";
    IDispatch* child = nullptr;
    EXPECT_EQ(d->get_Lights(&child), E_POINTER);
    EXPECT_EQ(take_error().description, "Invalid pointer\nLights Not Initialised.");
    EXPECT_EQ(d->get_Objects(&child), E_POINTER);
    EXPECT_EQ(d->get_Caps(&child), S_OK) << "Caps is handed out without a check";
    EXPECT_EQ(child, nullptr);
    EXPECT_EQ(d->get_Fog(&child), S_OK);
    child->Release();
    d->Release();
}

TEST_F(DeviceTest, InitialiseOpensTheContextBindsTheChildrenAndSetsTheStartingStates) {
    IDevice3D* d = device();
    spy::clear();
    rec.clear_calls();
    ASSERT_EQ(initialise(d), S_OK);
    const std::vector<std::string> expected_calls = {
        "D3DXInitialize()", "D3DXGetCurrentVideoMode(0)", "D3DXCreateContext(0, 0, <window>, 640, 480)",
        "Context.GetD3DDevice()", "Context.GetD3D()", "Context.GetDD()", "Context.GetBackBuffer(0)",
        "Device.SetViewport({0, 0, 640, 480, 0, 1})", "Device.SetTextureStageState(0, 2, 2)",
        "Device.SetTextureStageState(0, 3, 0)", "Device.SetTextureStageState(0, 1, 4)",
        "Device.SetTextureStageState(0, 4, 4)", "Device.SetTextureStageState(0, 5, 2)",
        "Device.SetTextureStageState(0, 6, 0)", "Device.SetTextureStageState(0, 17, 2)",
        "Device.SetTextureStageState(0, 16, 2)", "Device.SetRenderState(7, 1)", "Device.SetRenderState(22, 1)",
        "Device.SetRenderState(143, 1)", "Device.GetViewport()",
    };
    EXPECT_EQ(rec.calls(), expected_calls) << rec.log_text();
    const std::string dev = std::to_string(device_handle()), d3d = std::to_string(direct3d_handle()),
                      dd = std::to_string(directdraw_handle());
    const std::vector<std::string> expected_bindings = {
        "Fog.put_Device(" + dev + ")", "Cameras.put_Device(" + dev + ")", "DeviceCaps.put_Device(" + dev + ")",
        "Lights.put_Direct3D(" + d3d + ")", "Lights.put_Device(" + dev + ")", "Objects.put_Device(" + dev + ")",
        "Objects.put_Direct3D(" + d3d + ")", "SimpleObjects.put_Device(" + dev + ")",
        "SimpleObjects.put_Direct3D(" + d3d + ")", "Textures.put_Device(" + dev + ")",
        "Textures.put_DirectDraw(" + dd + ")", "TextureFormats.put_Device(" + dev + ")",
        "Sprites.put_Device(" + dev + ")", "Cameras.get_Add(\"Default\")",
    };
    EXPECT_EQ(spy::log(), expected_bindings);
    EXPECT_EQ(value_of(d, &IDevice3D::get_Status), sm_Ready);
    EXPECT_EQ(value_of(d, &IDevice3D::get_DirectDraw), directdraw_handle());
    EXPECT_EQ(value_of(d, &IDevice3D::get_Right), 640);
    EXPECT_EQ(value_of(d, &IDevice3D::get_Bottom), 480);
    d->Release();
    EXPECT_EQ(rec.started(), 0) << "the device ends the utility layer it started";
}

TEST_F(DeviceTest, InitialiseRetriesOnTheDefaultDeviceWhenTheIndexIsRejected) {
    rec.fail("D3DXCreateContext(3, ", D3DXERR_INVALIDD3DXDEVICEINDEX);
    IDevice3D* d = device();
    d->put_Index(3);
    ASSERT_EQ(initialise(d), S_OK);
    EXPECT_EQ(rec.calls_matching("D3DXCreateContext"),
              (std::vector<std::string>{"D3DXCreateContext(3, 0, <window>, 640, 480)",
                                        "D3DXCreateContext(4294967295, 0, <window>, 640, 480)"}));
    d->Release();
}

TEST_F(DeviceTest, ContextCreationFailuresReportTheTableTextAndTheBackEndResult) {
    struct Case {
        HRESULT hr;
        std::string description;
    } cases[] = {
        {DDERR_NOZBUFFERHW, "No Z-Buffer Hardware Found."},
        {D3DXERR_COLORDEPTHTOOLOW, "Colour Depth Too Low!"},
        {D3DXERR_NOZBUFFER, "No Z-Buffer was Found."},
        {DDERR_NOTFOUND, "Unknown Error."},           // not recognised at this site
        {E_OUTOFMEMORY, "Out of Memory."},
    };
    for (const Case& c : cases) {
        rec.clear_failures();
        rec.fail("D3DXCreateContext", c.hr);
        IDevice3D* d = device();
        DebugCapture out;
        EXPECT_EQ(initialise(d), c.hr);
        ErrorText e = take_error();
        EXPECT_EQ(e.description, c.description);
        EXPECT_EQ(e.source, "Vantor.Device3D.1");
        EXPECT_NE(out.text().find("Device Creation --> Failed. (Error Code=" + hex(c.hr) + ").\nFailed. (Error Code="),
                  std::string::npos);
        EXPECT_EQ(value_of(d, &IDevice3D::get_Status), sm_NotInitialised);
        d->Release();
    }
    // A primary surface that already exists is no failure here.
    rec.clear_failures();
    rec.fail("D3DXCreateContext", DDERR_PRIMARYSURFACEALREADYEXISTS, 2);
    IDevice3D* d = device();
    EXPECT_EQ(initialise(d), E_FAIL) << "the context was not made, so the device is not there";
    d->Release();
}

TEST_F(DeviceTest, EarlierInitialiseFailuresAndWhatStaysInPlace) {
    rec.fail("D3DXInitialize", D3DXERR_INITFAILED, 1);
    IDevice3D* d = device();
    EXPECT_EQ(initialise(d), D3DXERR_INITFAILED);
    EXPECT_EQ(take_error().description, "Direct3DX Initialisation has Failed.");

    rec.fail("Device.SetViewport", D3DERR_VIEWPORTHASNODEVICE, 1);
    EXPECT_EQ(initialise(d), D3DERR_VIEWPORTHASNODEVICE);
    EXPECT_EQ(take_error().description, "Viewport Has No Device Set.");
    EXPECT_TRUE(spy::calls("Fog.put_Device").empty()) << "children are bound only after the viewport";
    rec.fail("Device.SetViewport", E_INVALIDARG, 1);
    EXPECT_EQ(initialise(d), E_INVALIDARG);
    EXPECT_EQ(take_error().description, "Invalid Parameter.");
    rec.fail("Device.GetViewport", DDERR_INVALIDOBJECT, 1);
    EXPECT_EQ(initialise(d), DDERR_INVALIDOBJECT);
    EXPECT_EQ(take_error().description, "Failed to Get Viewport.");
    EXPECT_FALSE(spy::calls("Fog.put_Device").empty()) << "what ran before the failure stays done";
    EXPECT_EQ(value_of(d, &IDevice3D::get_Status), sm_NotInitialised);
    EXPECT_EQ(initialise(d), S_OK) << "and a later Initialise opens a new context over it";
    d->Release();
    EXPECT_EQ(rec.started(), 0);
}

TEST_F(DeviceTest, InitialiseWithoutAWindow) {
    IDevice3D* d = device();
    // The active window stands in for a missing one.
    EXPECT_EQ(d->Initialise(0, 64, 64, VARIANT_FALSE, 1), S_OK);
    EXPECT_EQ(static_cast<HWND>(value_of(d, &IDevice3D::get_Window)), GetActiveWindow());
    d->Release();
    // A handle that is not a window: the utility layer refuses the context cleanly.
    d = device();
    d->put_Window(12345);
    HRESULT hr = d->Initialise(0, 64, 64, VARIANT_FALSE, 1);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_NE(take_error().description, "");
    d->Release();
}

TEST_F(DeviceTest, FreeAndRenderOnANeverInitialisedDeviceAreExceptionRaised) {
    IDevice3D* d = device();
    for (HRESULT (IDevice3D::*call)() : {&IDevice3D::Free, &IDevice3D::Render}) {
        EXPECT_EQ((d->*call)(), E_FAIL);
        EXPECT_EQ(take_error().description, "Unspecified error\nException Raised.");
    }
    IDispatch* fog = nullptr;
    EXPECT_EQ(d->get_Fog(&fog), S_OK) << "nothing else is released";
    fog->Release();
    d->Release();
}

TEST_F(DeviceTest, FreeRestoresTheDisplayModeAndReleasesSevenChildren) {
    IDevice3D* d = device();
    ASSERT_EQ(initialise(d), S_OK);
    rec.clear_calls();
    DebugCapture out;
    ASSERT_EQ(d->Free(), S_OK);
    // DirectDraw takes the exclusive level only together with full screen, so a windowed
    // device's mode restoration stops there, as it always did.
    EXPECT_EQ(rec.calls(), (std::vector<std::string>{"Context.GetDD()", "DirectDraw.SetCooperativeLevel(<window>, 16)",
                                                     "D3DXUninitialize()"}));
    EXPECT_EQ(out.text(),
              "Restoring Original Display Mode --> Failed to Set Exclusive Cooperative Level. (Error Code=80070057)."
              "\nReleasing Memory back to System.\nReleasing Device.\nReleasing Direct3D.\nUninitialising Direct3DX.\n");
    EXPECT_EQ(value_of(d, &IDevice3D::get_Status), sm_NotInitialised);
    EXPECT_EQ(value_of(d, &IDevice3D::get_Window, -1), 0);
    EXPECT_EQ(value_of(d, &IDevice3D::get_DirectDraw, -1), 0);
    IDispatch* child = nullptr;
    EXPECT_EQ(d->get_Fog(&child), E_POINTER);
    EXPECT_EQ(take_error().description, "Invalid pointer\nFog Not Initialised.");
    EXPECT_EQ(d->get_Cameras(&child), S_OK);
    EXPECT_EQ(child, nullptr);
    EXPECT_EQ(d->get_Sprites(&child), S_OK) << "sprites stay until the device is destroyed";
    child->Release();
    EXPECT_EQ(spy::live(), 4) << "SimpleObjects, Sprites, Flares and the ambient Colour stay";
    // Initialise again: released children are skipped and no camera is added.
    spy::clear();
    DebugCapture again;
    ASSERT_EQ(initialise(d), S_OK);
    EXPECT_NE(again.text().find("Setting up a Camera --> Camera Not Initialised.\n"), std::string::npos);
    EXPECT_TRUE(spy::calls("Fog.").empty());
    EXPECT_EQ(d->Free(), S_OK);
    d->Release();
    EXPECT_EQ(rec.started(), 0);
}

TEST_F(DeviceTest, RenderDrawsTheChildrenInsideOneSceneAndSetsTheAmbientLight) {
    IDevice3D* d = device();
    ASSERT_EQ(initialise(d), S_OK);
    rec.clear_calls();
    spy::clear();
    EXPECT_EQ(d->Render(), S_OK);
    EXPECT_EQ(rec.calls(), (std::vector<std::string>{"Device.BeginScene()", "Device.SetRenderState(139, 0)", "Device.EndScene()"}));
    EXPECT_EQ(spy::log(), (std::vector<std::string>{"Colour.get_Red()", "Colour.get_Green()", "Colour.get_Blue()",
                                                    "Colour.get_Alpha()", "Objects.Render()", "SimpleObjects.Render()",
                                                    "Sprites.Render()"}));
    // Failures of the children and of the ambient update do not stop the frame.
    spy::fail("Objects.Render", E_FAIL);
    spy::fail("SimpleObjects.Render", E_POINTER);
    rec.fail("Device.SetRenderState(139", E_INVALIDARG, 1);
    DebugCapture out;
    EXPECT_EQ(d->Render(), S_OK);
    EXPECT_NE(out.text().find("SetRenderState (Ambient) Failed. (Error Code=80070057)\nAmbient Light Update Failed.\n"),
              std::string::npos);
    EXPECT_NE(out.text().find("Failed to Render Object (Error Code = 80004005)\n"), std::string::npos);
    EXPECT_NE(out.text().find("SimpleObjects Render Failed. (Error Code=80004003).\n"), std::string::npos);
    EXPECT_NE(out.text().find("EndScene\nFinished.\n"), std::string::npos);
    // Scene failures do stop it.
    rec.fail("Device.BeginScene", DDERR_SURFACELOST, 1);
    EXPECT_EQ(d->Render(), DDERR_SURFACELOST);
    EXPECT_EQ(take_error().description, "Begin Scene Function Failed.");
    rec.fail("Device.EndScene", D3DERR_SCENE_END_FAILED, 1);
    EXPECT_EQ(d->Render(), D3DERR_SCENE_END_FAILED);
    EXPECT_EQ(take_error().description, "End Scene Function Failed.");
    // The scene a failed EndScene left open makes the next frame's BeginScene fail.
    EXPECT_EQ(d->Render(), D3DERR_SCENE_IN_SCENE);
    EXPECT_EQ(rec.last_device()->EndScene(), S_OK);
    rec.fail("Device.EndScene", DDERR_SURFACELOST, 1);
    EXPECT_EQ(d->Render(), DDERR_SURFACELOST);
    EXPECT_EQ(take_error().description, "Unknown Error.");
    rec.last_device()->EndScene();
    d->Release();
}

TEST_F(DeviceTest, ClearPacksTheColourAndChecksEachComponent) {
    IDevice3D* d = device();
    ASSERT_EQ(initialise(d), S_OK);
    rec.clear_calls();
    EXPECT_EQ(d->Clear(1, 0, 0, 1), S_OK);
    EXPECT_EQ(d->Clear(0.5f, 0.5f, 0.5f, 0.5f), S_OK);
    EXPECT_EQ(rec.calls(), (std::vector<std::string>{"Context.SetClearColor(0xFFFF0000)", "Context.Clear(3)",
                                                     "Context.SetClearColor(0x7F7F7F7F)", "Context.Clear(3)"}));
    const char* texts[] = {"Invalid Red Intensity.", "Invalid Green Intensity.", "Invalid Blue Intensity.", "Invalid Alpha Intensity."};
    for (int i = 0; i < 4; ++i) {
        float c[4] = {0, 0, 0, 0};
        c[i] = i % 2 ? -0.01f : 1.01f;
        EXPECT_EQ(d->Clear(c[0], c[1], c[2], c[3]), E_INVALIDARG);
        EXPECT_EQ(take_error().description, std::string("The parameter is incorrect.\n") + texts[i]);
    }
    EXPECT_EQ(d->Clear(std::nanf(""), 0, 0, 0), E_INVALIDARG) << "not a number is out of range too";
    rec.fail("Context.Clear", DDERR_SURFACELOST, 1);
    EXPECT_EQ(d->Clear(0, 0, 0, 0), DDERR_SURFACELOST);
    EXPECT_EQ(take_error().description, "Clear Failed.");
    d->Release();
    IDevice3D* e = device();
    e->put_Window(999);
    EXPECT_EQ(e->Clear(0, 0, 0, 0), E_FAIL);
    EXPECT_EQ(take_error().description, "Unspecified error\nGetWindowRect Function Failed.");
    e->Release();
}

TEST_F(DeviceTest, UpdatePresentsAndMeasuresTheIntervalBetweenUpdates) {
    IDevice3D* d = device();
    float rate = -1;
    EXPECT_EQ(d->Update(), E_POINTER);
    EXPECT_EQ(take_error().description, "Invalid pointer\nContext Device Not Initialised.");
    ASSERT_EQ(initialise(d), S_OK);
    d->Update();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    rec.clear_calls();
    EXPECT_EQ(d->Update(), S_OK);
    EXPECT_EQ(rec.calls(), (std::vector<std::string>{"Context.UpdateFrame(1)"}));
    d->get_FrameRate(&rate);
    // 10000 / elapsed milliseconds, in tenths: 20 ms reads 50.0, 25 ms 40.0.
    ASSERT_GT(rate, 0.0f);
    const unsigned tenths = static_cast<unsigned>(rate * 10.0f + 0.5f);
    const unsigned elapsed = 10000 / tenths;
    EXPECT_GE(elapsed, 20u);
    EXPECT_EQ(tenths, 10000 / elapsed) << "an unsigned integer division of 10000 by the interval";
    // An immediate second Update: no whole millisecond has passed most of the time; the rate stays defined.
    d->Update();
    d->get_FrameRate(&rate);
    EXPECT_TRUE(std::isfinite(rate));
    rec.fail("Context.UpdateFrame", DDERR_SURFACELOST, 1);
    EXPECT_EQ(d->Update(), DDERR_SURFACELOST);
    EXPECT_EQ(take_error().description, "Surface Has Been Lost.");
    rec.fail("Context.UpdateFrame", DDERR_NOTFOUND, 1);
    EXPECT_EQ(d->Update(), DDERR_NOTFOUND);
    EXPECT_EQ(take_error().description, "Unknown Error.");
    d->Release();
}

TEST_F(DeviceTest, DebugDrawsTheTextAndTracesIt) {
    IDevice3D* d = device();
    ASSERT_EQ(initialise(d), S_OK);
    rec.clear_calls();
    DebugCapture out;
    Bstr text("x");
    EXPECT_EQ(d->Debug(0, 0, Cyan, text), S_OK);
    EXPECT_EQ(rec.calls(), (std::vector<std::string>{"Context.DrawDebugText(0, 0, 0x00FFFF00, \"x\")"}));
    EXPECT_EQ(out.text(), "x");
    rec.fail("Context.DrawDebugText", D3DXERR_FAILEDDRAWTEXT, 1);
    EXPECT_EQ(d->Debug(0.5f, 0.25f, White, text), D3DXERR_FAILEDDRAWTEXT);
    EXPECT_EQ(take_error().description, "Failed to Write Text.");
    EXPECT_EQ(d->Debug(0, 0, White, nullptr), E_POINTER);
    EXPECT_EQ(take_error().description, "Invalid pointer\nNo Text Passed.");
    EXPECT_EQ(d->Debug(0, 0, White, Bstr("")), S_OK);
    EXPECT_EQ(d->Debug(0, 0, White, Bstr(std::u16string(5000, u'w'))), S_OK);
    d->Release();
}

TEST_F(DeviceTest, RenderStatePropertiesInBothStyles) {
    IDevice3D* d = device();
    LONG outline;
    // Without a device: reported (first four) or returned bare (Cull, Outline).
    EXPECT_EQ(d->put_ShadeMode(sm_Flat), E_POINTER);
    EXPECT_EQ(take_error().description, "Invalid pointer\nDevice Not Initialised.");
    EXPECT_EQ(d->put_Cull(cm_Clockwise), E_POINTER);
    EXPECT_EQ(take_error().source, "") << "no error information";
    EXPECT_EQ(d->get_Outline(&outline), E_POINTER);
    IDispatch* graphics = reinterpret_cast<IDispatch*>(0x1);
    EXPECT_EQ(d->get_Graphics(&graphics), E_NOTIMPL);
    EXPECT_EQ(graphics, reinterpret_cast<IDispatch*>(0x1)) << "nothing written";

    ASSERT_EQ(initialise(d), S_OK);
    EXPECT_EQ(rec.index_of("Device.SetRenderState(22, 1)"), rec.index_of("Device.SetRenderState(22")) << "a Cull put before Initialise is lost";
    DebugCapture out;
    EXPECT_EQ(d->put_ShadeMode(sm_Flat), S_OK);
    EXPECT_EQ(d->put_ShadeMode(static_cast<ShadeModes>(7)), S_OK);
    EXPECT_EQ(value_of(d, &IDevice3D::get_ShadeMode), 7);
    EXPECT_EQ(out.text(), "Setting Shade Mode --> Flat.\nSetting Shade Mode --> Unknown.\nObtaining Shade Mode --> Succeeded.\n");
    for (VARIANT_BOOL v : {VARIANT_BOOL(-1), VARIANT_BOOL(1)}) {
        EXPECT_EQ(d->put_Dither(v), S_OK);
        DWORD state = 0;
        rec.last_device()->GetRenderState(D3DRENDERSTATE_DITHERENABLE, &state);
        EXPECT_EQ(state, 1u);
        EXPECT_EQ(value_of(d, &IDevice3D::get_Dither), VARIANT_TRUE);
    }
    EXPECT_EQ(d->put_Specular(VARIANT_TRUE), S_OK);
    EXPECT_EQ(value_of(d, &IDevice3D::get_Specular), VARIANT_TRUE);
    EXPECT_EQ(d->put_AntiAlias(am_Sort_Independent), S_OK);
    EXPECT_EQ(value_of(d, &IDevice3D::get_AntiAlias), am_Sort_Independent);
    EXPECT_EQ(d->put_Cull(cm_CounterClockwise), S_OK);
    EXPECT_EQ(value_of(d, &IDevice3D::get_Cull), cm_CounterClockwise);
    EXPECT_EQ(d->put_Outline(0x00FF0001), S_OK);
    EXPECT_EQ(value_of(d, &IDevice3D::get_Outline), 0x00FF0001);

    // Each member's refusal text is in the table below; Cull's failure carries no report.
    rec.fail("Device.SetRenderState(22", E_INVALIDARG, 1);
    EXPECT_EQ(d->put_Cull(cm_None), E_INVALIDARG);
    EXPECT_EQ(take_error().source, "");
    d->Release();
}

TEST_F(DeviceTest, RenderStateFailuresTraceAndReportEachMembersText) {
    struct Case {
        const char* call;
        std::function<HRESULT(IDevice3D*)> member;
        const char* trace;
        const char* description;
    };
    ShadeModes shade;
    VARIANT_BOOL flag;
    AntiAliasModes aa;
    const Case cases[] = {
        {"Device.GetRenderState(9)", [&](IDevice3D* d) { return d->get_ShadeMode(&shade); },
         "Obtaining Shade Mode --> Failed. (Error Code=88760082).\n", "Failed to Obtain Shade Mode."},
        {"Device.SetRenderState(9,", [](IDevice3D* d) { return d->put_ShadeMode(sm_Gouraud); },
         "Setting Shade Mode --> Gouraud.\nSetRenderState (ShadeMode) Failed. (Error Code=88760082)\n", "Failed to Set Shade Mode."},
        {"Device.GetRenderState(26)", [&](IDevice3D* d) { return d->get_Dither(&flag); },
         "Obtaining Current Dithering Setting --> Failed. (Error Code=88760082).\n", "Failed to Obtain Dither Setting."},
        {"Device.SetRenderState(26,", [](IDevice3D* d) { return d->put_Dither(VARIANT_TRUE); },
         "Setting Dithering --> Enabled.\nSetRenderState (Dither) Failed. (Error Code=88760082).\n", "Failed to Set Dither Setting."},
        {"Device.GetRenderState(29)", [&](IDevice3D* d) { return d->get_Specular(&flag); },
         "Obtaining Specular Setting --> GetRenderState (Specular) Failed. (Error Code=88760082).\n",
         "Failed to Obtain Specular Setting."},
        {"Device.SetRenderState(29,", [](IDevice3D* d) { return d->put_Specular(VARIANT_FALSE); },
         "Configuring Specular --> Disabled.\nSetRenderState (Specular) Failed. (Error Code=88760082).\n",
         "Failed to Set Specular Setting."},
        {"Device.GetRenderState(2)", [&](IDevice3D* d) { return d->get_AntiAlias(&aa); },
         "Retrieving Anti-Alias Setting --> Failed. (Error Code=88760082)\n", "Failed to Obtain Anti-Alias Setting."},
        {"Device.SetRenderState(2,", [](IDevice3D* d) { return d->put_AntiAlias(am_Sort_Dependent); },
         "Sort Dependent.\nSetting Anti-Alias --> Failed. (Error Code=88760082)\n", "Failed to Set Anti-Alias Setting."},
    };
    IDevice3D* d = device();
    ASSERT_EQ(initialise(d), S_OK);
    for (const Case& c : cases) {
        rec.fail(c.call, DDERR_INVALIDOBJECT, 1);
        DebugCapture out;
        EXPECT_EQ(c.member(d), DDERR_INVALIDOBJECT) << c.call;
        EXPECT_EQ(out.text(), c.trace) << c.call;
        ErrorText e = take_error();
        EXPECT_EQ(e.description, c.description) << c.call;
        EXPECT_EQ(e.source, "Vantor.Device3D.1");
    }
    DebugCapture out;
    EXPECT_EQ(d->put_AntiAlias(am_None), S_OK);
    EXPECT_EQ(out.text(), "None.\nSetting Anti-Alias --> Succeeded.\n");
    d->Release();
}

TEST_F(DeviceTest, PutGuidTakesOnlyAGuidBlockHandle) {
    IDevice3D* d = device();
    EXPECT_EQ(d->put_GUID(0x12345678), E_INVALIDARG);
    EXPECT_NE(take_error().description.find("GUID"), std::string::npos);
    GUID g = IID_IDirect3DHALDevice;
    uint32_t h = HandleCreate(kHandleGuid, &g);
    EXPECT_EQ(d->put_GUID(static_cast<LONG>(h)), S_OK);
    HandleClose(h);
    EXPECT_EQ(d->put_GUID(static_cast<LONG>(h)), E_INVALIDARG) << "a closed handle resolves to nothing";
    d->Release();
}

TEST_F(DeviceTest, NamesAndDescriptionsAreStoredCopies) {
    IDevice3D* d = device();
    d->put_Name(Bstr("Main \xC3\xA9" "cran"));  // the BSTR is gone before the name is read
    EXPECT_EQ(text_of(d, &IDevice3D::get_Name), "Main \xC3\xA9" "cran");
    EXPECT_EQ(text_of(d, &IDevice3D::get_Description), "");
    d->Release();
}
