// Materials and textures of the engine on the OpenGL device: a material's colours light a
// triangle as Direct3D 7's lighting formula says, probed on llvmpipe.
#include <vantor/backend/backend.h>
#include <vantor/gdi.h>
#include <vantor/system.h>

#include <cstdio>

#include "engine_test.h"
#include <vantor/com_ptr.h>
#include "module/kit.h"
#include "render_test_support.h"
#include "texture/registry.h"

using namespace vantor;
using namespace render_test;
using vantor::test::Bstr;

namespace {

class MaterialRenderTest : public EngineRenderTest {
protected:
    void SetUp() override {
        EngineRenderTest::SetUp();
        ASSERT_EQ(camera()->Update(), S_OK);
        dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    }
    static ComPtr<IColour> colour(IMaterial* m, HRESULT (IMaterial::*getter)(IDispatch**)) {
        return child_of<IColour>(m, getter);
    }
    static void set(IColour* c, float r, float g, float b) {
        c->put_Red(r);
        c->put_Green(g);
        c->put_Blue(b);
    }
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
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF000000, 2))
        << "colour changes reach the device only at Update";

    ASSERT_EQ(material->Apply(), S_OK);
    clear(0xFF000000);
    draw_triangle();
    // emissive + ambient x global ambient + diffuse x N.L x light: (0.25 + 0.5, 0.25, 0.251).
    EXPECT_TRUE(near_colour(pixel(32, 32), rgb(0.75f, 0.25f, 0.251f), 3)) << hex(pixel(32, 32));
}

TEST_F(MaterialRenderTest, ATextureLoadedThroughTexturesShowsItsTexelsOnAQuad) {
    // A 2 x 2 Targa file, bottom row first: blue, white; then red, green on top.
    const uint8_t file[18 + 12] = {0, 0,  2, 0,   0, 0, 0,   0,   0,   0, 0, 0,   2, 0,   2,
                                   0, 24, 0, 255, 0, 0, 255, 255, 255, 0, 0, 255, 0, 255, 0};
    const std::string path = write_file("engine_quads.tga", std::string(reinterpret_cast<const char*>(file), sizeof file));

    ComPtr<ITextures> textures = create<ITextures>(CLSID_Textures);
    textures->put_Device(handle);
    ComPtr<IDispatch> d;
    ASSERT_EQ(textures->get_LoadFile(Bstr(path.c_str()), d.put()), S_OK);
    ComPtr<ITexture> texture;
    d.query(texture.put());
    LONG w = 0, h = 0;
    EXPECT_EQ(texture->get_width(&w), S_OK);
    EXPECT_EQ(texture->get_Height(&h), S_OK);
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 2);
    texture->put_Coords(tci_PassThru);
    ASSERT_EQ(texture->Apply(), S_OK);
    dev->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
    clear(0xFF000000);
    ASSERT_EQ(dev->BeginScene(), D3D_OK);
    // Apply turns on wrapping in u and v (interpolation takes the shorter way round), so the
    // quad spans less than half the texture: 0.26 to 0.74, the texel boundary at its middle.
    const float a = 0.26f, b = 0.74f;
    D3DTLVERTEX v[4] = {{0, 0, 0.5f, 1, 0xFFFFFFFF, 0, a, a},
                        {64, 0, 0.5f, 1, 0xFFFFFFFF, 0, b, a},
                        {0, 64, 0.5f, 1, 0xFFFFFFFF, 0, a, b},
                        {64, 64, 0.5f, 1, 0xFFFFFFFF, 0, b, b}};
    EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, v, 4, 0), D3D_OK);
    ASSERT_EQ(dev->EndScene(), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(16, 16), 0xFFFF0000, 1)) << hex(pixel(16, 16));
    EXPECT_TRUE(near_colour(pixel(48, 16), 0xFF00FF00, 1)) << hex(pixel(48, 16));
    EXPECT_TRUE(near_colour(pixel(16, 48), 0xFF0000FF, 1)) << hex(pixel(16, 48));
    EXPECT_TRUE(near_colour(pixel(48, 48), 0xFFFFFFFF, 1)) << hex(pixel(48, 48));

    // The device's texture memory holds this one texture: 2 x 2 texels uploaded at 4 bytes each.
    ComPtr<IDispatch> caps_d;
    ASSERT_EQ(textures->get_Caps(caps_d.put()), S_OK);
    ComPtr<ITextureCaps> caps;
    caps_d.query(caps.put());
    LONG allocated = 0, used = 0, widest = 0;
    EXPECT_EQ(caps->get_MemoryAlloc(&allocated), S_OK);
    EXPECT_EQ(caps->get_MemoryUsed(&used), S_OK);
    EXPECT_EQ(caps->get_MaxWidth(&widest), S_OK);
    EXPECT_GE(allocated, 16);
    EXPECT_EQ(used, 16);
    EXPECT_GE(widest, 2048);

    // A file that is not an image is refused with the load's code and stores nothing.
    ComPtr<IDispatch> none;
    EXPECT_EQ(textures->get_LoadFile(Bstr("/nonexistent/wood.png"), none.put()),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    LONG count = 0;
    textures->get_Count(&count);
    EXPECT_EQ(count, 1);
    dev->SetTexture(0, nullptr);
    texture.reset();
    d.reset();
    textures.reset();
    std::remove(path.c_str());
}

TEST_F(MaterialRenderTest, RegistryImagesFromTargaAndBitmapFilesBecomeSurfacesThatShowTheirTexels) {
    // The same 2 x 2 picture as a Targa file (top row first) and a bitmap (bottom row first):
    // red, green on top; blue, white below.
    const uint8_t targa[18 + 12] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0x20,
                                    0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255};
    uint8_t bitmap[54 + 16] = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0};
    const uint8_t rows[16] = {255, 0, 0, 255, 255, 255, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0};  // each row padded to 8
    std::copy(rows, rows + 16, bitmap + 54);
    const std::pair<std::string, std::vector<uint8_t>> files[] = {
        {"registry_quads.tga", std::vector<uint8_t>(targa, targa + sizeof targa)},
        {"registry_quads.bmp", std::vector<uint8_t>(bitmap, bitmap + sizeof bitmap)},
    };
    for (const auto& [name, bytes] : files) {
        const std::string path = write_file(name, std::string(bytes.begin(), bytes.end()));
        ASSERT_EQ(texture_registry().create_from_file(path, 0, 0), S_OK) << path;
        ASSERT_EQ(texture_registry().restore(path, dev), S_OK) << path;
        IDirectDrawSurface7* surface = texture_registry().surface_of(path);
        ASSERT_NE(surface, nullptr) << path;
        draw_textured(surface);
        EXPECT_TRUE(near_colour(pixel(16, 16), 0xFFFF0000, 1)) << path << " " << hex(pixel(16, 16));
        EXPECT_TRUE(near_colour(pixel(48, 16), 0xFF00FF00, 1)) << path << " " << hex(pixel(48, 16));
        EXPECT_TRUE(near_colour(pixel(16, 48), 0xFF0000FF, 1)) << path << " " << hex(pixel(16, 48));
        EXPECT_TRUE(near_colour(pixel(48, 48), 0xFFFFFFFF, 1)) << path << " " << hex(pixel(48, 48));
        texture_registry().destroy_by_name(path);
        std::remove(path.c_str());
    }
}
