// Cameras, lights and fog of the engine acting on geometry drawn through the OpenGL device: the
// objects are bound to the device as Device3D binds them (its handle) and the pixels probed.
#include "engine_test.h"
#include <vantor/com_ptr.h>
#include "render_test_support.h"

#include <vantor/backend/backend.h>

#include <cmath>

using namespace vantor;
using namespace render_test;
using vantor::test::take_as;

namespace {

class SceneRenderTest : public EngineRenderTest {
protected:
    void unlit_white() {
        dev->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
        dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    }
    void white_material(float diffuse) {
        D3DMATERIAL7 m{};
        m.diffuse = {diffuse, diffuse, diffuse, 1};
        dev->SetMaterial(&m);
        dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    }
};

}  // namespace

TEST_F(SceneRenderTest, CameraUpdateLooksAtTheOriginAndRotateTurnsTheWorld) {
    unlit_white();
    ASSERT_EQ(camera()->Update(), S_OK);
    clear(0xFF000000);
    draw_triangle(0, 0);
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFFFFFFFF, 2)) << "the origin is at the centre";
    EXPECT_TRUE(near_colour(pixel(2, 2), 0xFF000000, 2));
    // A triangle right of the origin (+x); the default camera looks from +z, so +x is on the
    // left of the screen (left-handed, looking down -z).
    clear(0xFF000000);
    draw_triangle(4, 0, 1.5f);
    EXPECT_TRUE(near_colour(pixel(20, 32), 0xFFFFFFFF, 2));
    EXPECT_TRUE(near_colour(pixel(44, 32), 0xFF000000, 2));
    // A quarter turn about z carries +x to +y: the triangle moves to the top of the screen.
    ASSERT_EQ(camera()->Rotate(0, 0, static_cast<float>(M_PI / 2)), S_OK);
    clear(0xFF000000);
    draw_triangle(4, 0, 1.5f);
    EXPECT_TRUE(near_colour(pixel(32, 20), 0xFFFFFFFF, 2));
    EXPECT_TRUE(near_colour(pixel(20, 32), 0xFF000000, 2));
    // Moving the eye closer makes the same triangle larger.
    ComPtr<ICamera> near_camera = create<ICamera>(CLSID_Camera);
    near_camera->put_Device(handle);
    IDispatch* d = nullptr;
    near_camera->get_Position(&d);
    take_as<IPosition>(d)->put_Z(3);
    ASSERT_EQ(near_camera->Update(), S_OK);
    clear(0xFF000000);
    draw_triangle(0, 0, 1.0f);
    EXPECT_TRUE(near_colour(pixel(32, 40), 0xFFFFFFFF, 2)) << "a unit triangle three units away spans the middle";
}

TEST_F(SceneRenderTest, LightUpdateLightsTheGeometryAsDirect3DsFormulasSay) {
    ASSERT_EQ(camera()->Update(), S_OK);
    white_material(0.5f);
    ComPtr<ILights> lights = create<ILights>(CLSID_Lights);
    lights->put_Direct3D(d3d_handle);
    lights->put_Device(handle);
    IDispatch* d = nullptr;
    // A directional light shining from the camera toward the scene (direction -z).
    ASSERT_EQ(lights->get_Add(lt_Directional, 0, 0, -1, 1, 1, 1, 1, 1.0f, 0.5f, 1.0f, 100.0f, &d), S_OK);
    ComPtr<ILight> sun;
    d->QueryInterface(IID_ILight, reinterpret_cast<void**>(sun.put()));
    d->Release();
    sun->get_Diffuse(&d);
    ComPtr<IColour> diffuse = take_as<IColour>(d);
    clear(0xFF000000);
    draw_triangle(0, 0);
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF000000, 2)) << "nothing until Update: Add does not send the record";
    diffuse->put_Red(1);
    diffuse->put_Green(1);
    diffuse->put_Blue(1);
    ASSERT_EQ(sun->Update(), S_OK);
    clear(0xFF000000);
    draw_triangle(0, 0);
    EXPECT_TRUE(near_colour(pixel(32, 32), rgb(0.5f, 0.5f, 0.5f), 3)) << "material 0.5 x light 1 x N.L 1";
    // Switched off: dark again; a point light three units in front, with linear attenuation.
    ASSERT_EQ(sun->put_Enabled(VARIANT_FALSE), S_OK);
    ASSERT_EQ(lights->get_Add(lt_Point, 0, 0, 3, 1, 1, 1, 1, 1.0f, 0.5f, 1.0f, 100.0f, &d), S_OK);
    ComPtr<ILight> bulb;
    d->QueryInterface(IID_ILight, reinterpret_cast<void**>(bulb.put()));
    d->Release();
    bulb->get_Diffuse(&d);
    ComPtr<IColour> bulb_colour = take_as<IColour>(d);
    bulb_colour->put_Red(1);
    bulb_colour->put_Green(1);
    bulb_colour->put_Blue(1);
    bulb->put_ConstAttenuation(1);
    bulb->put_LinearAttenuation(0.5f);
    ASSERT_EQ(bulb->Update(), S_OK);
    clear(0xFF000000);
    draw_triangle(0, 0);
    // Lit per vertex (0.5 x N.L / (1 + 0.5 d) at each corner) and interpolated: the centre of
    // the screen is a quarter of each lower corner and half of the top one.
    auto lit = [](float x, float y) {
        const float d = std::sqrt(x * x + y * y + 9.0f);
        return 0.5f * (3.0f / d) / (1.0f + 0.5f * d);
    };
    const float centre = 0.25f * lit(-2, -2) + 0.5f * lit(0, 2) + 0.25f * lit(2, -2);
    EXPECT_TRUE(near_colour(pixel(32, 32), rgb(centre, centre, centre), 3));
    // Out of range: nothing.
    bulb->put_Range(2.0f);
    bulb->Update();
    clear(0xFF000000);
    draw_triangle(0, 0);
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF000000, 2));
}

TEST_F(SceneRenderTest, FogChangesDistantPixels) {
    unlit_white();
    ASSERT_EQ(camera()->Update(), S_OK);
    ComPtr<IFog> fog = create<IFog>(CLSID_Fog);
    fog->put_Device(handle);
    IDispatch* d = nullptr;
    fog->get_Colour(&d);
    ComPtr<IColour> colour = take_as<IColour>(d);
    colour->put_Red(1);
    ASSERT_EQ(fog->Update(), S_OK);
    ASSERT_EQ(fog->put_Mode(fm_Linear), S_OK);
    ASSERT_EQ(fog->put_StartingPos(5), S_OK);
    ASSERT_EQ(fog->put_EndPosition(15), S_OK);
    clear(0xFF000000);
    draw_triangle(0, 0);
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFFFFFFFF, 2)) << "fog is off until enabled";
    ASSERT_EQ(fog->put_Enabled(VARIANT_TRUE), S_OK);
    clear(0xFF000000);
    draw_triangle(0, 0);
    // Ten units away between 5 and 15: half white, half red.
    EXPECT_TRUE(near_colour(pixel(32, 32), rgb(1.0f, 0.5f, 0.5f), 4));
    ASSERT_EQ(fog->put_Mode(fm_Exp), S_OK);
    ASSERT_EQ(fog->put_Density(0.1f), S_OK);
    clear(0xFF000000);
    draw_triangle(0, 0);
    const float f = std::exp(-10.0f * 0.1f);
    EXPECT_TRUE(near_colour(pixel(32, 32), rgb(1.0f, f, f), 4)) << "exp fog at distance 10, density 0.1";
}
