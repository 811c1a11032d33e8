// Cameras, lights and fog on the recording back end: the exact transforms, light records and
// render states they send, their clamps and rules, and every failure's code and text.
#include "component.h"
#include "recording_backend.h"
#include "test_window.h"

#include "module/kit.h"
#include <vantor/com_ptr.h>

#include <vantor/backend/backend.h>
#include <vantor/registry.h>
#include <vantor/stream.h>

#include <bit>
#include <cmath>
#include <cstdio>

using namespace vantor;
using namespace vantor::test;
using vantor::testing::RecordingBackend;
using vantor::testing::TestWindow;

namespace {

class SceneTest : public RecordingDeviceTest {
protected:
    D3DMATRIX transform(D3DTRANSFORMSTATETYPE t) {
        D3DMATRIX m{};
        device->GetTransform(t, &m);
        return m;
    }
    ComPtr<ICamera> camera() {
        ComPtr<ICamera> c = on_device<ICamera>(CLSID_Camera);
        return c;
    }
    ComPtr<ILights> lights() {
        ComPtr<ILights> l = adopt(create<ILights>(CLSID_Lights));
        l->put_Direct3D(d3d_handle);
        l->put_Device(dev);
        return l;
    }
    ComPtr<ILight> add_light(ILights* l, LightTypes type = lt_Point, float inner = 0.5f, float outer = 1.0f) {
        IDispatch* d = nullptr;
        EXPECT_EQ(l->get_Add(type, 1, 2, 3, 1, 1, 1, 1, 1.0f, inner, outer, 100.0f, &d), S_OK);
        return take_as<ILight>(d);
    }
};

void expect_matrix(const D3DMATRIX& got, const D3DMATRIX& want, float tolerance = 1e-6f) {
    const float* g = &got._11;
    const float* w = &want._11;
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(g[i], w[i], tolerance) << "element _" << (i / 4 + 1) << (i % 4 + 1);
}

D3DMATRIX m(std::initializer_list<float> v) {
    D3DMATRIX r{};
    std::copy(v.begin(), v.end(), &r._11);
    return r;
}

// The largest range a light carries (about 1.8e19), as its bits.
const float kMaxRange = std::bit_cast<float>(0x5F7FFFFFu);

// RotX(1): cos 1 = 0.5403023, sin 1 = 0.8414710.
const D3DMATRIX kRotX1 = m({1, 0, 0, 0, 0, 0.5403023f, 0.8414710f, 0, 0, -0.8414710f, 0.5403023f, 0, 0, 0, 0, 1});
// RotX(0.2) x RotY(0.3): x first, then y.
const D3DMATRIX kRotX02RotY03 = m({0.9553365f, 0, -0.2955202f, 0, 0.0587108f, 0.9800666f, 0.1897961f, 0,
                                   0.2896295f, -0.1986693f, 0.9362934f, 0, 0, 0, 0, 1});

}  // namespace

// ---- cameras -----------------------------------------------------------------------------------

TEST_F(SceneTest, NewCameraDefaultsAndTheFixedProjection) {
    ComPtr<ICamera> c = camera();
    EXPECT_EQ(value_of(c, &ICamera::get_X, -1), 0.0f);
    EXPECT_EQ(value_of(child_of<IPosition>(c.get(), &ICamera::get_Position), &IPosition::get_Z), 10.0f);
    ASSERT_EQ(c->Update(), S_OK);
    expect_matrix(transform(D3DTRANSFORMSTATE_PROJECTION),
                  m({1.0000013f, 0, 0, 0, 0, 1.0000013f, 0, 0, 0, 0, 1.001001f, 1, 0, 0, -1.001001f, 0}), 2e-7f);
    // Looking from (0, 0, 10) at the origin: the view looks down -z.
    expect_matrix(transform(D3DTRANSFORMSTATE_VIEW), m({-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 10, 1}));
    expect_matrix(transform(D3DTRANSFORMSTATE_WORLD), m({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}));
    EXPECT_EQ(text_of(c.get(), &ICamera::get_Name), "");
    EXPECT_EQ(c->Reset(), S_OK);
}

TEST_F(SceneTest, RotateAccumulatesAndRebuildsFromTheTotalsInXyzOrder) {
    ComPtr<ICamera> c = camera();
    rec.clear_calls();
    EXPECT_EQ(c->Rotate(0, 0, 0), S_OK);
    EXPECT_EQ(rec.count("Device.SetTransform"), 0u) << "nothing is sent for a zero rotation";
    c->Rotate(0.5f, 0, 0);
    c->Rotate(0.5f, 0, 0);
    EXPECT_EQ(value_of(c, &ICamera::get_X), 1.0f);
    expect_matrix(transform(D3DTRANSFORMSTATE_WORLD), kRotX1, 1e-6f);
    ComPtr<ICamera> d = camera();
    d->Rotate(0, 0.3f, 0);
    d->Rotate(0.2f, 0, 0);
    expect_matrix(transform(D3DTRANSFORMSTATE_WORLD), kRotX02RotY03, 1e-6f);
    rec.clear_calls();
    EXPECT_EQ(d->Rotate(0, 0, 0), S_OK) << "even with accumulated angles";
    EXPECT_EQ(rec.count("Device.SetTransform"), 0u);
    // Update sends the rotation as the world transform again.
    d->Update();
    expect_matrix(transform(D3DTRANSFORMSTATE_WORLD), kRotX02RotY03, 1e-6f);
}

TEST_F(SceneTest, ViewBuilderFallbacksAndRejection) {
    ComPtr<ICamera> c = camera();
    ComPtr<IPosition> eye = child_of<IPosition>(c.get(), &ICamera::get_Position);
    // The eye straight above the target: the up vector is parallel to the look direction.
    eye->put_X(0);
    eye->put_Y(10);
    eye->put_Z(0);
    // Up (0, 1, 0) and its first fallback both vanish; (0, 0, 1) gives the up vector.
    ASSERT_EQ(c->Update(), S_OK);
    const D3DMATRIX above = m({1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0, 0, 0, 10, 1});
    expect_matrix(transform(D3DTRANSFORMSTATE_VIEW), above);
    // The eye on the target: the previous view matrix is sent again.
    eye->put_Y(0);
    ASSERT_EQ(c->Update(), S_OK);
    expect_matrix(transform(D3DTRANSFORMSTATE_VIEW), above);
    ComPtr<ICamera> fresh = camera();
    eye = child_of<IPosition>(fresh.get(), &ICamera::get_Position);
    eye->put_Z(0);
    ASSERT_EQ(fresh->Update(), S_OK);
    expect_matrix(transform(D3DTRANSFORMSTATE_VIEW), m({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}));  // identity on a fresh camera
}

TEST_F(SceneTest, CameraFailuresAndTheirTexts) {
    ComPtr<ICamera> c = adopt(create<ICamera>(CLSID_Camera));
    DebugCapture out;
    EXPECT_EQ(c->Update(), E_POINTER);
    EXPECT_EQ(take_error().description, "Invalid pointer\nDevice Not Initialised.");
    EXPECT_EQ(c->Rotate(1, 0, 0), E_POINTER);
    EXPECT_EQ(out.text(), "Update Failed. Device Not Set.\nUpdate Failed. Device Not Set.\n");
    EXPECT_EQ(c->get_Position(nullptr), E_POINTER);
    EXPECT_EQ(take_error().description, "Invalid pointer\nPosition Not Initialised.");
    EXPECT_EQ(c->get_LookAt(nullptr), E_POINTER);
    EXPECT_EQ(take_error().description, "Invalid pointer\nLookAt Not Initialised.");
    c->put_Device(dev);
    struct Case {
        const char* call;
        const char* text;
    } cases[] = {{"Device.SetTransform(1", "The parameter is incorrect.\nWorld Transformation Failed."},
                 {"Device.SetTransform(2", "The parameter is incorrect.\nView Transformation Failed."},
                 {"Device.SetTransform(3", "The parameter is incorrect.\nProjection Transformation Failed."}};
    for (const Case& k : cases) {
        rec.fail(k.call, DDERR_INVALIDPARAMS, 1);
        EXPECT_EQ(c->Update(), DDERR_INVALIDPARAMS);
        EXPECT_EQ(take_error().description, k.text);
    }
    rec.fail("Device.SetTransform(1", DDERR_INVALIDOBJECT, 1);
    EXPECT_EQ(c->Rotate(0.25f, 0, 0), DDERR_INVALIDOBJECT);
    EXPECT_EQ(take_error().description, "SetTransform Function Failed.");
    EXPECT_EQ(value_of(c, &ICamera::get_X), 0.25f) << "the angles stay accumulated";
    // The position child missing: the general exception path.
    unregister_class(CLSID_Position);
    ComPtr<ICamera> bare = adopt(create<ICamera>(CLSID_Camera));
    EXPECT_EQ(take_error().description, "Unspecified error\nPosition Not Registered.");
    bare->put_Device(dev);
    EXPECT_EQ(bare->Update(), E_FAIL);
    EXPECT_EQ(take_error().description, "Unspecified error\nException Raised.");
    IDispatch* d = nullptr;
    EXPECT_EQ(bare->get_Position(&d), E_FAIL);
}

TEST_F(SceneTest, HugeAndUndefinedCoordinatesTraceAsSaturatedWholeNumbers) {
    ComPtr<ICamera> c = camera();
    ComPtr<IPosition> eye = child_of<IPosition>(c.get(), &ICamera::get_Position);
    eye->put_X(1e30f);
    eye->put_Y(NAN);
    DebugCapture out;
    EXPECT_EQ(c->Update(), S_OK);
    EXPECT_EQ(out.text().substr(0, 33), "Position 2147483647 0 10\nLookAt 0");
}

TEST_F(SceneTest, CamerasAreKeyedByNameInDescendingOrder) {
    ComPtr<ICameras> cameras = adopt(create<ICameras>(CLSID_Cameras));
    IDispatch* d = nullptr;
    Bstr alpha("Alpha"), lower("alpha"), beta("Beta");
    EXPECT_EQ(cameras->get_Add(alpha, &d), E_POINTER) << "no device yet";
    EXPECT_EQ(take_error().description, "Invalid pointer\nDevice Not Initialised.");
    EXPECT_EQ(d, nullptr);
    cameras->put_Device(dev);
    DebugCapture out;
    ASSERT_EQ(cameras->get_Add(alpha, &d), S_OK);
    EXPECT_EQ(out.text(), "Creating Camera.\nSetting Camera Attributes.\nCamera Name --> 'Alpha'\n");
    ComPtr<ICamera> first = take_as<ICamera>(d);
    ASSERT_EQ(cameras->get_Add(beta, &d), S_OK);
    d->Release();
    EXPECT_EQ(text_of(item_of<ICamera>(cameras.get(), Var::i2(1)).get(), &ICamera::get_Name), "Beta");
    ASSERT_EQ(cameras->get_Add(lower, &d), S_OK);
    d->Release();
    EXPECT_EQ(text_of(item_of<ICamera>(cameras.get(), Var::i4(1)).get(), &ICamera::get_Name), "alpha")
        << "lower-case letters have the greater code units";
    // The same name again: the count stays and the second camera is found.
    ASSERT_EQ(cameras->get_Add(alpha, &d), S_OK);
    ComPtr<ICamera> second = take_as<ICamera>(d);
    EXPECT_EQ(value_of(cameras, &ICameras::get_Count), 3);
    Var index = Var::text("Alpha");
    EXPECT_EQ(item_of<ICamera>(cameras.get(), index).get(), second.get());
    // An enumerator made before Clear still yields what was there; a removed camera still works.
    ComPtr<IEnumVARIANT> it = enumerator_of(cameras.get());
    EXPECT_EQ(cameras->Remove(index), S_OK);
    EXPECT_EQ(cameras->Remove(index), E_INVALIDARG);
    EXPECT_EQ(second->Rotate(0.1f, 0, 0), S_OK);
    EXPECT_EQ(cameras->Clear(), S_OK);
    EXPECT_EQ(next_items(it.get(), 4).size(), 3u);
    EXPECT_EQ(value_of(cameras, &ICameras::get_Count, -1), 0);
}

// ---- lights ------------------------------------------------------------------------------------

TEST_F(SceneTest, NewLightDefaultsAndClamps) {
    ComPtr<ILight> l = adopt(create<ILight>(CLSID_Light));
    EXPECT_EQ(value_of(l, &ILight::get_Type), lt_Point);
    EXPECT_EQ(value_of(l, &ILight::get_ID, -1), 0);
    auto value = [&](HRESULT (ILight::*get)(float*)) { return value_of(l, get, NAN); };
    const std::pair<HRESULT (ILight::*)(float*), float> defaults[] = {
        {&ILight::get_InnerCone, 0.5f}, {&ILight::get_OuterCone, 1.0f},       {&ILight::get_FallOff, 1.0f},
        {&ILight::get_Range, kMaxRange}, {&ILight::get_ConstAttenuation, 0.0f}};
    for (auto [get, want] : defaults) EXPECT_EQ(value(get), want);
    DebugCapture out;
    l->put_InnerCone(2);
    EXPECT_EQ(value(&ILight::get_InnerCone), 1.0f);
    l->put_OuterCone(0.25f);
    EXPECT_EQ(value(&ILight::get_InnerCone), 0.25f);
    EXPECT_EQ(value(&ILight::get_OuterCone), 0.25f);
    EXPECT_EQ(out.text(), "Setting Lights' InnerCone to Maximum.\nSetting Lights' InnerCone to Maximum.\n");
    // Only the maximum range is checked; attenuations are stored as given.
    for (auto [put, want] : {std::pair{1e30f, kMaxRange}, {INFINITY, kMaxRange}, {-5.0f, -5.0f}}) {
        l->put_Range(put);
        EXPECT_EQ(value(&ILight::get_Range), want) << put;
    }
    l->put_LinearAttenuation(-2);
    EXPECT_EQ(value(&ILight::get_LinearAttenuation), -2.0f);
}

TEST_F(SceneTest, UpdateBuildsTheLightRecordFromTheRightChildren) {
    ComPtr<ILights> all = lights();
    ComPtr<ILight> l = add_light(all.get(), lt_Spot);
    child_of<IColour>(l.get(), &ILight::get_Diffuse)->put_Red(0.5f);
    child_of<IPosition>(l.get(), &ILight::get_Direction)->put_Z(-1);
    l->put_Range(50);
    ASSERT_EQ(l->Update(), S_OK);
    D3DLIGHT7 record{};
    ASSERT_EQ(device->GetLight(0, &record), S_OK);
    EXPECT_EQ(record.dltType, D3DLIGHT_SPOT);
    EXPECT_EQ(record.dcvDiffuse.r, 0.5f) << "from the Diffuse child";
    EXPECT_EQ(record.dcvDiffuse.g, 0.0f) << "the Colour child Add filled is not read";
    EXPECT_EQ(record.dcvSpecular.r, 0.0f);
    EXPECT_EQ(record.dvPosition.x, 1.0f) << "Add put its location in the position";
    EXPECT_EQ(record.dvDirection.z, -1.0f);
    EXPECT_EQ(record.dvRange, 50.0f);
    EXPECT_EQ(record.dvTheta, 0.5f);
    EXPECT_EQ(record.dvAttenuation0, 0.0f) << "the light's own constant attenuation replaces the reset's 1";
    // A directional light always carries the maximum range; a point light ignores its direction.
    l->put_Type(lt_Directional);
    l->Update();
    device->GetLight(0, &record);
    EXPECT_EQ(record.dvRange, kMaxRange);
    l->put_Type(lt_Point);
    l->Update();
    device->GetLight(0, &record);
    EXPECT_EQ(record.dvDirection.x, 1.0f) << "a point light's direction is its position";
    // Refusals keep the device's previous record and say why.
    rec.fail("Device.SetLight", E_OUTOFMEMORY, 1);
    EXPECT_EQ(l->Update(), E_OUTOFMEMORY);
    EXPECT_EQ(take_error().description, "Out of Memory.");
    rec.fail("Device.SetLight", DDERR_INVALIDOBJECT, 1);
    DebugCapture out;
    EXPECT_EQ(l->Update(), DDERR_INVALIDOBJECT);
    EXPECT_EQ(take_error().description, "Unknown Error.");
    EXPECT_NE(out.text().find("Light Properties:\nPosition (X): 1.000000\n"), std::string::npos);
    EXPECT_NE(out.text().find("Type: 1\nRange: 50.000000\nSetLight Failed. (Error Code=88760082).\n"), std::string::npos);
}

TEST_F(SceneTest, AddNamesLightsByCountEnablesThemAndReusesIds) {
    ComPtr<ILights> all = lights();
    ComPtr<ILight> a = add_light(all.get()), b = add_light(all.get()), c = add_light(all.get());
    EXPECT_EQ(value_of(c, &ILight::get_ID), 2);
    EXPECT_EQ(value_of(c, &ILight::get_Enabled), VARIANT_TRUE);
    EXPECT_EQ(rec.count("Device.LightEnable(2, 1)"), 1u);
    ASSERT_EQ(all->Remove(Var::text("Light0")), S_OK);
    EXPECT_EQ(value_of(add_light(all.get()), &ILight::get_ID), 2) << "the count before the addition";
    EXPECT_EQ(value_of(all, &ILights::get_Count), 2) << "Light2 took the place of the light of that name";
    EXPECT_EQ(a->put_Enabled(VARIANT_FALSE), S_OK) << "a removed light still drives its device index";
    BOOL enabled = TRUE;
    device->GetLightEnable(0, &enabled);
    EXPECT_FALSE(enabled);
}

TEST_F(SceneTest, ElevenLightsSortByNameNotNumber) {
    ComPtr<ILights> all = lights();
    for (int i = 0; i < 11; ++i) add_light(all.get());
    EXPECT_EQ(text_of(item_of<ILight>(all.get(), Var::i4(1)).get(), &ILight::get_Name), "Light9");
    EXPECT_EQ(value_of(all, &ILights::get_Max), 8);
}

TEST_F(SceneTest, AddChecksTheDeviceAndTheTypeAgainstItsCapabilities) {
    ComPtr<ILights> bare = adopt(create<ILights>(CLSID_Lights));
    IDispatch* d = nullptr;
    bare->put_Device(dev);
    EXPECT_EQ(bare->get_Add(lt_Point, 0, 0, 0, 0, 0, 0, 0, 1, 0.5f, 1, 100, &d), E_POINTER) << "no Direct3D object";
    EXPECT_EQ(take_error().description, "Invalid pointer\nDevice Not Initialised.");
    LONG max = 0;
    EXPECT_EQ(adopt(create<ILights>(CLSID_Lights))->get_Max(&max), E_POINTER);
    ComPtr<ILights> all = lights();
    DebugCapture out;
    EXPECT_EQ(all->get_Add(static_cast<LightTypes>(7), 0, 0, 0, 0, 0, 0, 0, 1, 0.5f, 1, 100, &d), E_FAIL);
    EXPECT_EQ(take_error().description, "Unspecified error\nInvalid Light Type.");
    EXPECT_EQ(out.text(), "Light --> Invalid Type --> Not ");
    rec.config().devices[0].caps.dwVertexProcessingCaps &= ~D3DVTXPCAPS_POSITIONALLIGHTS;
    out.clear();
    EXPECT_EQ(all->get_Add(lt_Spot, 0, 0, 0, 0, 0, 0, 0, 1, 0.5f, 1, 100, &d), E_FAIL);
    EXPECT_EQ(take_error().description, "Unspecified error\nSpotlights are not supported by this device.");
    EXPECT_EQ(out.text(), "Light --> Spotlight --> Not Supported.\n");
    EXPECT_EQ(all->get_Add(lt_Point, 0, 0, 0, 0, 0, 0, 0, 1, 0.5f, 1, 100, &d), E_FAIL);
    EXPECT_EQ(take_error().description, "Unspecified error\nPoint Lights are not supported by this device.");
    ComPtr<ILight> sun = add_light(all.get(), lt_Directional);
    EXPECT_TRUE(sun);
    // Without capabilities the type is not checked and the light is made anyway.
    rec.fail("Device.GetCaps", DDERR_INVALIDOBJECT);
    ComPtr<ILight> any = add_light(all.get(), static_cast<LightTypes>(9));
    EXPECT_TRUE(any);
    EXPECT_EQ(all->get_Max(&max), DDERR_INVALIDOBJECT);
    EXPECT_EQ(take_error().description, "Invalid Object.");
    EXPECT_EQ(value_of(all, &ILights::get_Count), 2);
}

TEST_F(SceneTest, InnerConeIsClampedAgainstTheOuterConeItHadBefore) {
    ComPtr<ILights> all = lights();
    ComPtr<ILight> l = add_light(all.get(), lt_Spot, 1.5f, 2.0f);
    EXPECT_EQ(value_of(l, &ILight::get_InnerCone), 1.0f);
    EXPECT_EQ(value_of(l, &ILight::get_OuterCone), 2.0f);
}

TEST_F(SceneTest, EnablingBeyondTheDevicesLimitIsReportedWithTheDevicesResult) {
    // A device that refuses a third active light: Add still stores the light, and its report
    // names the device's result.
    rec.config().devices[0].caps.dwMaxActiveLights = 2;
    rec.fail("Device.LightEnable(2, 1)", D3DERR_LIGHT_SET_FAILED);
    ComPtr<ILights> all = lights();
    add_light(all.get());
    add_light(all.get());
    ComPtr<ILight> third = add_light(all.get());
    EXPECT_EQ(take_error().description, "Setting Light has Failed.") << "reported by the light Add enabled";
    EXPECT_EQ(third->put_Enabled(VARIANT_TRUE), D3DERR_LIGHT_SET_FAILED);
    ErrorText e = take_error();
    EXPECT_EQ(e.source, "Vantor.Light.1");
    EXPECT_EQ(e.description, "Setting Light has Failed.");
    rec.fail("Device.LightEnable", D3DERR_LIGHTNOTINTHISVIEWPORT, 1);
    EXPECT_EQ(third->put_Enabled(VARIANT_FALSE), D3DERR_LIGHTNOTINTHISVIEWPORT);
    EXPECT_EQ(take_error().description, "Light does not belong in this Viewport.");
}

TEST_F(SceneTest, FreeDropsTheChildrenAndTheDevice) {
    ComPtr<ILights> all = lights();
    ComPtr<ILight> l = add_light(all.get());
    DebugCapture out;
    EXPECT_EQ(l->Free(), S_OK);
    EXPECT_EQ(out.text(), "Releasing all Light Resources.\n");
    IDispatch* d = nullptr;
    EXPECT_EQ(l->get_Diffuse(&d), E_POINTER);
    EXPECT_EQ(l->Update(), E_POINTER);
    VARIANT_BOOL on;
    EXPECT_EQ(l->get_Enabled(&on), E_POINTER);
    BOOL enabled = FALSE;
    device->GetLightEnable(0, &enabled);
    EXPECT_TRUE(enabled) << "the device's light is not touched";
}

// ---- fog ---------------------------------------------------------------------------------------

TEST_F(SceneTest, FogStatesAreViewsOfTheRenderStatesWithTheModeRules) {
    ComPtr<IFog> fog = on_device<IFog>(CLSID_Fog);
    EXPECT_EQ(fog->put_StartingPos(10), E_FAIL);
    EXPECT_EQ(take_error().description, "Unspecified error\nLinear Fog Only Supports Starting Position.");
    EXPECT_EQ(fog->put_Density(1.0f), S_OK);
    EXPECT_EQ(fog->put_Density(0.0f), S_OK);
    EXPECT_EQ(fog->put_Density(1.01f), E_FAIL);
    EXPECT_EQ(take_error().description, "Unspecified error\nDensity must be between 0.0 and 1.0 inclusive.");
    EXPECT_EQ(fog->put_Density(-0.01f), E_FAIL);
    EXPECT_EQ(fog->put_Density(0.25f), S_OK);
    DWORD state = 0;
    device->GetRenderState(D3DRENDERSTATE_FOGDENSITY, &state);
    EXPECT_EQ(state, std::bit_cast<DWORD>(0.25f)) << "floats travel as their bits";
    ASSERT_EQ(fog->put_Mode(fm_Linear), S_OK);
    device->GetRenderState(D3DRENDERSTATE_FOGVERTEXMODE, &state);
    EXPECT_EQ(state, 3u);
    EXPECT_EQ(fog->put_StartingPos(10), S_OK);
    EXPECT_EQ(fog->put_EndPosition(-4), S_OK) << "no check of start against end";
    EXPECT_EQ(value_of(fog, &IFog::get_StartingPos), 10.0f);
    EXPECT_EQ(fog->put_Density(0.5f), E_FAIL);
    EXPECT_EQ(take_error().description, "Unspecified error\nLinear Fog does not support Density.");
    device->GetRenderState(D3DRENDERSTATE_FOGDENSITY, &state);
    EXPECT_EQ(state, std::bit_cast<DWORD>(0.25f)) << "unchanged";
    float v = 0;
    EXPECT_EQ(fog->get_Density(&v), E_FAIL);
    DebugCapture out;
    EXPECT_EQ(fog->put_Mode(static_cast<FogModes>(7)), S_OK);
    EXPECT_EQ(out.text(), "Fog Type --> Unknown.\n");
    rec.fail("Device.SetRenderState(140", E_INVALIDARG, 1);
    EXPECT_EQ(fog->put_Mode(fm_Exp), E_INVALIDARG);
    EXPECT_EQ(take_error().description, "The parameter is incorrect.\nFailed to Set Fog Mode.");
    EXPECT_EQ(fog->put_Density(0.5f), S_OK) << "the remembered mode is 7, not linear: Exp was refused";
    EXPECT_EQ(value_of(fog, &IFog::get_Mode), fm_Exp) << "the getter reads the table state, which the refused put did set";
    EXPECT_EQ(fog->put_Enabled(VARIANT_TRUE), S_OK);
    EXPECT_EQ(value_of(fog, &IFog::get_Enabled), VARIANT_TRUE);
    EXPECT_EQ(fog->put_RangeBased(VARIANT_TRUE), S_OK);
    device->GetRenderState(D3DRENDERSTATE_RANGEFOGENABLE, &state);
    EXPECT_EQ(state, 0xFFFFFFFFu) << "true widened with its sign";
    EXPECT_EQ(value_of(fog, &IFog::get_RangeBased), VARIANT_TRUE);
    rec.fail("Device.SetRenderState(48", DDERR_INVALIDOBJECT, 1);
    EXPECT_EQ(fog->put_RangeBased(VARIANT_FALSE), DDERR_INVALIDOBJECT);
    EXPECT_EQ(take_error().source, "") << "returned without a report";
}

TEST_F(SceneTest, FogWithoutADeviceHasTwoDescriptions) {
    ComPtr<IFog> fog = adopt(create<IFog>(CLSID_Fog));
    float v;
    EXPECT_EQ(fog->get_Density(&v), E_POINTER);
    EXPECT_EQ(take_error().description, "Fog unavailable.");
    EXPECT_EQ(fog->put_Mode(fm_Exp), E_POINTER);
    EXPECT_EQ(take_error().description, "Fog unavailable.");
    EXPECT_EQ(fog->put_RangeBased(VARIANT_TRUE), E_POINTER);
    EXPECT_EQ(take_error().description, "Invalid pointer\nDevice Not Initialised.");
    IDispatch* colour = nullptr;
    EXPECT_EQ(fog->get_Colour(&colour), S_OK);
    colour->Release();
    EXPECT_EQ(fog->Update(), E_FAIL);
    EXPECT_EQ(take_error().description, "Unspecified error\nException Raised.");
}

TEST_F(SceneTest, FogColourIsPackedWithoutClamping) {
    ComPtr<IFog> fog = on_device<IFog>(CLSID_Fog);
    ComPtr<IColour> c = child_of<IColour>(fog.get(), &IFog::get_Colour);
    c->put_Red(1);
    DWORD state = 0xDEAD;
    device->GetRenderState(D3DRENDERSTATE_FOGCOLOR, &state);
    EXPECT_EQ(state, 0u) << "nothing until Update";
    ASSERT_EQ(fog->Update(), S_OK);
    device->GetRenderState(D3DRENDERSTATE_FOGCOLOR, &state);
    EXPECT_EQ(state, 0x00FF0000u);
    c->put_Blue(2.0f);   // 510 spills into green
    c->put_Alpha(-1.0f); // -255 << 24
    fog->Update();
    device->GetRenderState(D3DRENDERSTATE_FOGCOLOR, &state);
    EXPECT_EQ(state, (static_cast<uint32_t>(-255) << 24) | 0x00FF0000u | 510u);
    c->put_Red(NAN);
    c->put_Green(1e30f);
    EXPECT_EQ(fog->Update(), S_OK) << "values beyond any integer saturate, never undefined";
}

// ---- world-file records --------------------------------------------------------------------------

TEST_F(SceneTest, CameraLightAndFogRecordsRoundTrip) {
    const std::string path = ::testing::TempDir() + "scene_records.txt";
    ComPtr<ICameras> cameras = on_device<ICameras>(CLSID_Cameras);
    IDispatch* d = nullptr;
    cameras->get_Add(Bstr("Default"), &d);
    d->Release();
    ComPtr<ILights> all = lights();
    add_light(all.get(), lt_Spot);
    ComPtr<IFog> fog = on_device<IFog>(CLSID_Fog);
    fog->put_Enabled(VARIANT_TRUE);
    uint32_t f = VantorStreamOpen(path.c_str(), "w");
    ASSERT_EQ(cameras->Save(static_cast<LONG>(f)), S_OK);
    ASSERT_EQ(fog->Save(static_cast<LONG>(f)), S_OK);
    ASSERT_EQ(all->Save(static_cast<LONG>(f)), S_OK);
    VantorStreamClose(f);
    const std::string file = read_file(path);
    EXPECT_EQ(file.substr(0, 120),
              std::string("1\r\n// Camera\r\nDefault\r\n0.000000\r\n0.000000\r\n0.000000\r\n0.000000\r\n0.000000\r\n10.000000\r\n"
                          "0.000000\r\n0.000000\r\n0.000000\r\n// Fog\r\n").substr(0, 120));
    EXPECT_NE(file.find("// Fog\r\n1.000000\r\n0.000000\r\n0.000000\r\n0\r\n4294967295\r\n0\r\n// Colour\r\n"), std::string::npos)
        << "density reads the device's default 1.0; enabled is written as 4294967295";
    EXPECT_NE(file.find("1\r\n// Light\r\nLight0\r\n2\r\n0\r\n1.000000\r\n2.000000\r\n3.000000\r\n"), std::string::npos);

    // Read back into fresh objects: the camera keeps its own name as its key.
    ComPtr<ICameras> cameras2 = on_device<ICameras>(CLSID_Cameras);
    ComPtr<ILights> all2 = lights();
    ComPtr<IFog> fog2 = on_device<IFog>(CLSID_Fog);
    device->SetRenderState(D3DRENDERSTATE_FOGENABLE, 0);
    f = VantorStreamOpen(path.c_str(), "r");
    ASSERT_EQ(cameras2->Load(static_cast<LONG>(f)), S_OK);
    ASSERT_EQ(fog2->Load(static_cast<LONG>(f)), S_OK);
    ASSERT_EQ(all2->Load(static_cast<LONG>(f)), S_OK);
    VantorStreamClose(f);
    EXPECT_TRUE(item_of<ICamera>(cameras2.get(), Var::text("Default")));
    EXPECT_EQ(value_of(fog2, &IFog::get_Enabled), VARIANT_TRUE);
    EXPECT_EQ(value_of(all2, &ILights::get_Count), 1);
    std::remove(path.c_str());
}
