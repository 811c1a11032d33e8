// A mesh remembers which texture container its material's name found; when containers come
// and go under that name, the next frame must draw whatever the name means then.
#include "engine_test.h"

#include <vantor/com_ptr.h>

#include <cstdio>
#include <string>

#include "module/kit.h"
#include "texture/registry.h"

using namespace vantor;
using namespace render_test;
using vantor::test::Bstr;
using vantor::test::take_error;

namespace {

// A 1 x 1 Targa image of one colour (stored blue, green, red).
std::string targa(uint8_t r, uint8_t g, uint8_t b) {
    const uint8_t bytes[18 + 3] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 24, 0, b, g, r};
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

class MeshTextureTest : public EngineRenderTest {
protected:
    void SetUp() override {
        EngineRenderTest::SetUp();
        draw_in_clip_space();
        dev->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
    }
    void TearDown() override {
        dev->SetTexture(0, nullptr);
        EngineRenderTest::TearDown();
    }
    DWORD frame(IObject* o) {
        clear(0xFF000000);
        EXPECT_EQ(o->Render(), S_OK);
        return pixel(32, 32);
    }
};

TEST_F(MeshTextureTest, ATextureReplacedUnderItsNameIsTheOneDrawn) {
    const std::string image = write_file("swapped.tga", targa(255, 0, 0));
    const std::string path = write_file(
        "swapped.x", "xof 0302txt 0032\nMesh S { 4; -1;-1;0.5;, -1;1;0.5;, 1;1;0.5;, 1;-1;0.5;; 1; 4;0,1,2,3;; "
                     "MeshTextureCoords { 4; 0;1;, 0;0;, 1;0;, 1;1;; } MeshMaterialList { 1; 1; 0;; "
                     "Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; TextureFilename { \"" + image + "\"; } } } }");
    // The container is someone else's (as a Texture object makes), so the mesh never takes it away.
    ASSERT_EQ(texture_registry().create_from_file(image, 0, 0), S_OK);
    ComPtr<IObject> o = create<IObject>(CLSID_Object);
    o->put_Device(handle);
    ASSERT_EQ(o->LoadFile(Bstr(path.c_str())), S_OK) << take_error().description;

    struct Step {
        const char* what;
        int replace;  // -1: the container goes; 0: nothing; else a new image under the name
        uint8_t r, g, b;
        DWORD expected;
    };
    const Step steps[] = {
        {"as loaded", 0, 0, 0, 0, 0xFFFF0000},
        {"drawn again", 0, 0, 0, 0, 0xFFFF0000},
        {"replaced by a green image", 1, 0, 255, 0, 0xFF00FF00},
        {"replaced by a blue image", 1, 0, 0, 255, 0xFF0000FF},
        {"gone: the stage keeps no texture", -1, 0, 0, 0, 0xFFFFFFFF},
        {"back as red", 1, 255, 0, 0, 0xFFFF0000},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        if (s.replace) {
            texture_registry().destroy(texture_registry().find(image));
            if (s.replace > 0) {
                write_file("swapped.tga", targa(s.r, s.g, s.b));
                ASSERT_EQ(texture_registry().create_from_file(image, 0, 0), S_OK);
            }
        }
        EXPECT_TRUE(near_colour(frame(o.get()), s.expected, 2)) << hex(pixel(32, 32));
    }
    o.reset();
    texture_registry().destroy(texture_registry().find(image));
}

}  // namespace
