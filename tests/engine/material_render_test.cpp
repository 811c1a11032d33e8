// Materials and textures of the engine on the OpenGL device: a material's colours light a
// triangle as Direct3D 7's lighting formula says, probed on llvmpipe.
#include "component.h"
#include "module/com_ptr.h"
#include "module/kit.h"
#include "render_test_support.h"

#include <vantor/backend/backend.h>

using namespace vantor;
using namespace render_test;

namespace {

class MaterialRenderTest : public RenderTest {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ASSERT_EQ(DllRegisterServer(), S_OK);
        RenderTest::SetUp();
        handle = static_cast<LONG>(backend::to_handle(dev));
        camera = create<ICamera>(CLSID_Camera);
        camera->put_Device(handle);
        ASSERT_EQ(camera->Update(), S_OK);
        dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    }
    void TearDown() override {
        camera.reset();
        RenderTest::TearDown();
        EXPECT_EQ(DllCanUnloadNow(), S_OK);
    }
    template <class I>
    ComPtr<I> create(REFCLSID clsid) {
        ComPtr<I> p;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), reinterpret_cast<void**>(p.put())), S_OK);
        return p;
    }
    static ComPtr<IColour> colour(IMaterial* m, HRESULT (IMaterial::*getter)(IDispatch**)) {
        return child_of<IColour>(m, getter);
    }
    static void set(IColour* c, float r, float g, float b) {
        c->put_Red(r);
        c->put_Green(g);
        c->put_Blue(b);
    }
    // A triangle in the plane z = 0 facing the default camera (normal +z) around the origin.
    void draw_triangle() {
        D3DVERTEX v[3] = {{-2, -2, 0, 0, 0, 1, 0, 0}, {0, 2, 0, 0, 0, 1, 0, 0}, {2, -2, 0, 0, 0, 1, 0, 0}};
        ASSERT_EQ(dev->BeginScene(), D3D_OK);
        EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_VERTEX, v, 3, 0), D3D_OK);
        ASSERT_EQ(dev->EndScene(), D3D_OK);
    }

    LONG handle = 0;
    ComPtr<ICamera> camera;
};


}  // namespace

TEST_F(MaterialRenderTest, ColoursLightTheTriangleAsTheLightingFormulaSays) {
    // A white directional light along -z (N.L = 1) and a global ambient of 0x40 (0.251).
    D3DLIGHT7 light{};
    light.dltType = D3DLIGHT_DIRECTIONAL;
    light.dvDirection = {0, 0, -1};
    light.dcvDiffuse = {1, 1, 1, 1};
    ASSERT_EQ(dev->SetLight(0, &light), D3D_OK);
    ASSERT_EQ(dev->LightEnable(0, TRUE), D3D_OK);
    dev->SetRenderState(D3DRENDERSTATE_AMBIENT, 0x00404040);

    ComPtr<IMaterial> material = create<IMaterial>(CLSID_Material);
    // A new material bound to the device is current at once: black in every colour.
    ASSERT_EQ(material->put_Device(handle), S_OK);
    clear(0xFF808080);
    draw_triangle();
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF000000, 2)) << "an all-zero material reflects nothing";

    set(colour(material.get(), &IMaterial::get_Diffuse).get(), 0.5f, 0.25f, 0.0f);
    set(colour(material.get(), &IMaterial::get_Ambient).get(), 0.0f, 0.0f, 1.0f);
    set(colour(material.get(), &IMaterial::get_Emissive).get(), 0.25f, 0.0f, 0.0f);
    set(colour(material.get(), &IMaterial::get_Colour).get(), 1.0f, 1.0f, 1.0f);  // not part of the record
    clear(0xFF000000);
    draw_triangle();
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF000000, 2)) << "colour changes reach the device only at Update";

    ASSERT_EQ(material->Apply(), S_OK);
    clear(0xFF000000);
    draw_triangle();
    // emissive + ambient x global ambient + diffuse x N.L x light: (0.25 + 0.5, 0.25, 0.251).
    EXPECT_TRUE(near_colour(pixel(32, 32), rgb(0.75f, 0.25f, 0.251f), 3)) << hex(pixel(32, 32));
}
