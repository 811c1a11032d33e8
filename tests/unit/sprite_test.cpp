// Sprite and Sprites on the recording back end: what a sprite hands the sprite drawing, the
// pass over the collection and where it stops, and the refusals of both classes.
#include <vantor/backend/backend.h>

#include <cmath>

#include "component.h"
#include "module/kit.h"
#include "recording_backend.h"
#include "test_window.h"

using namespace vantor;
using namespace vantor::test;
using vantor::testing::RecordingBackend;
using vantor::testing::TestWindow;

namespace {

class SpriteTest : public RecordingDeviceTest {
protected:
    void SetUp() override {
        RecordingDeviceTest::SetUp();
        sprites = on_device<ISprites>(CLSID_Sprites);
        texture = on_device<ITexture>(CLSID_Texture);
        ASSERT_EQ(texture->LoadBitmap(Bstr("logo.png")), S_OK);
        texture_d = as_dispatch(texture);
        rec.clear_calls();
    }
    void TearDown() override {
        sprites.reset();
        texture_d.reset();
        texture.reset();
        RecordingDeviceTest::TearDown();
    }
    ComPtr<ISprite> add(const char* name, float transparent = 1, float rotation = 0, float scale = 1) {
        IDispatch* d = nullptr;
        EXPECT_EQ(sprites->get_Add(Bstr(name), transparent, rotation, scale, &d), S_OK) << name;
        return take_as<ISprite>(d);
    }

    ComPtr<ISprites> sprites;
    ComPtr<ITexture> texture;
    ComPtr<IDispatch> texture_d;
};

}  // namespace

TEST_F(SpriteTest, TheSpriteHandsItsPointAndFactorsToTheDrawing) {
    ComPtr<ISprite> s = add("logo", 0.5f, 0.25f, 2);
    ASSERT_TRUE(s);
    ASSERT_EQ(s->put_Texture(texture_d.get()), S_OK);
    ComPtr<IPosition> pos = child_of<IPosition>(s.get(), &ISprite::get_Position);
    ASSERT_TRUE(pos);
    pos->put_X(40);
    pos->put_Y(30);
    ASSERT_EQ(sprites->Render(), S_OK);
    const std::vector<std::string> want = {"D3DXPrepareDeviceForSprite(<device1>, 0)",
                                           "D3DXDrawSpriteSimple(<texture1>, <device1>, (40, 30, 0), 0.5, 2, 0.25, null, null)"};
    EXPECT_EQ(rec.calls_matching("D3DX"), want);
}

TEST_F(SpriteTest, ThePassStopsAtTheFirstFailure) {
    // Stored in the collection's order: "c" before "b" before "a".
    for (const char* name : {"a", "b", "c"}) add(name)->put_Texture(texture_d.get());
    rec.fail("D3DXDrawSpriteSimple", DDERR_INVALIDOBJECT, 1, 1);  // the second sprite drawn fails
    EXPECT_EQ(sprites->Render(), DDERR_INVALIDOBJECT);
    EXPECT_TRUE(reported("Sprite Failed to Render."));
    EXPECT_EQ(rec.calls_matching("D3DXDrawSpriteSimple").size(), 2u) << "the third sprite is not drawn";

    // A disabled sprite draws nothing and does not fail; an empty pass prepares nothing.
    rec.clear_calls();
    ComPtr<ISprite> first = item_of<ISprite>(sprites.get(), Var::i4(1));
    first->put_Enabled(VARIANT_FALSE);
    EXPECT_EQ(sprites->Render(), S_OK);
    EXPECT_EQ(rec.calls_matching("D3DXDrawSpriteSimple").size(), 2u);
    ComPtr<ISprites> empty = on_device<ISprites>(CLSID_Sprites);
    rec.clear_calls();
    EXPECT_EQ(empty->Render(), S_OK);
    EXPECT_TRUE(rec.calls_matching("D3DX").empty());
    ComPtr<ISprites> unbound = adopt(create<ISprites>(CLSID_Sprites));
    EXPECT_EQ(unbound->Render(), E_POINTER);
    EXPECT_TRUE(reported("Device Not Initialised."));
}

TEST_F(SpriteTest, RefusalsKeepWhatWasThere) {
    const float bad[] = {-0.1f, 1.5f, NAN};
    for (float t : bad) {
        IDispatch* d = nullptr;
        EXPECT_EQ(sprites->get_Add(Bstr("x"), t, 0, 1, &d), E_FAIL) << t;
        EXPECT_TRUE(reported("Transparency Setting Must be between 0.0 and 1.0."));
        EXPECT_EQ(d, nullptr);
    }
    EXPECT_EQ(value_of(sprites, &ISprites::get_Count, -1), 0);

    ComPtr<ISprite> s = add("s", 0.75f);
    for (float t : bad) {
        EXPECT_EQ(s->put_Transparent(t), E_FAIL) << t;
        EXPECT_EQ(value_of(s, &ISprite::get_Transparent), 0.75f);
    }
    ASSERT_EQ(s->put_Texture(texture_d.get()), S_OK);
    EXPECT_EQ(s->put_Texture(as_dispatch(adopt(create<IColour>(CLSID_Colour))).get()), E_INVALIDARG);
    EXPECT_TRUE(reported("Invalid Parameter."));
    EXPECT_EQ(child_of<ITexture>(s.get(), &ISprite::get_Texture).get(), texture.get()) << "the previous texture stays";

    // A texture without a surface: the drawing is handed none and refuses.
    ASSERT_EQ(s->put_Texture(as_dispatch(adopt(create<ITexture>(CLSID_Texture))).get()), S_OK);
    DebugCapture debug;
    EXPECT_EQ(s->Render(), D3DXERR_NULLPOINTER);
    EXPECT_NE(debug.text().find("VTR: (ERROR) D3DXDrawSprite3D Failed (Null Pointer).\n"), std::string::npos);

    // After Free: no device, no positions.
    ASSERT_EQ(s->Free(), S_OK);
    EXPECT_EQ(s->Render(), E_POINTER);
    EXPECT_TRUE(reported("Device Not Initialised."));
    s->put_Device(dev);
    EXPECT_EQ(s->Render(), E_POINTER);
    EXPECT_TRUE(reported("Position Not Initialised."));
    ComPtr<IDispatch> corner;
    EXPECT_EQ(s->get_TopLeft(corner.put()), E_POINTER);
}
