// Texture, Textures, TextureCaps and Material on the recording back end: the exact stage states,
// bindings and material records they send, their rules and failures, and their world-file records.
#include <vantor/backend/backend.h>
#include <vantor/stream.h>

#include <bit>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "component.h"
#include "module/kit.h"
#include "recording_backend.h"
#include "test_window.h"
#include "texture/registry.h"

using namespace vantor;
using namespace vantor::test;
using vantor::testing::RecordingBackend;
using vantor::testing::TestWindow;

namespace {

class TextureTest : public RecordingDeviceTest {
protected:
    void TearDown() override {
        EXPECT_EQ(texture_registry().size(), 0u) << "every texture's container left with it";
        RecordingDeviceTest::TearDown();
    }
    ComPtr<ITexture> texture(const char* file = nullptr) {
        ComPtr<ITexture> t = on_device<ITexture>(CLSID_Texture);
        if (file) EXPECT_EQ(t->LoadBitmap(Bstr(file)), S_OK);
        return t;
    }
    static ComPtr<ITexture> texture_of(IDispatch* d) {
        ComPtr<ITexture> t;
        if (d) d->QueryInterface(IID_ITexture, reinterpret_cast<void**>(t.put()));
        if (d) d->Release();
        return t;
    }
    std::vector<std::string> device_calls() { return rec.calls_matching("Device."); }
};

}  // namespace

TEST_F(TextureTest, NewTextureFieldsAndTheirPuts) {
    ComPtr<ITexture> t = texture();
    struct Field {
        const char* name;
        HRESULT (ITexture::*get)(LONG*);
        HRESULT (ITexture::*put)(LONG);
        LONG initial;
    };
    // Every enumeration is 32 bits: read them through LONG-shaped members.
    auto as = [](auto m) { return reinterpret_cast<HRESULT (ITexture::*)(LONG*)>(m); };
    auto put = [](auto m) { return reinterpret_cast<HRESULT (ITexture::*)(LONG)>(m); };
    const Field fields[] = {
        {"Wrap", as(&ITexture::get_Wrap), put(&ITexture::put_Wrap), 1},
        {"MagFilter", as(&ITexture::get_MagFilter), put(&ITexture::put_MagFilter), 1},
        {"MinFilter", as(&ITexture::get_MinFilter), put(&ITexture::put_MinFilter), 1},
        {"Coords", as(&ITexture::get_Coords), put(&ITexture::put_Coords), 196608},
        {"ColourOp", as(&ITexture::get_ColourOp), put(&ITexture::put_ColourOp), 4},
        {"AlphaOp", as(&ITexture::get_AlphaOp), put(&ITexture::put_AlphaOp), 4},
        {"ColourArg1", as(&ITexture::get_ColourArg1), put(&ITexture::put_ColourArg1), 2},
        {"ColourArg2", as(&ITexture::get_ColourArg2), put(&ITexture::put_ColourArg2), 0},
        {"AlphaArg1", as(&ITexture::get_AlphaArg1), put(&ITexture::put_AlphaArg1), 2},
        {"AlphaArg2", as(&ITexture::get_AlphaArg2), put(&ITexture::put_AlphaArg2), 0},
        {"SourceBlending", as(&ITexture::get_SourceBlending), put(&ITexture::put_SourceBlending), 3},
        {"DestBlending", as(&ITexture::get_DestBlending), put(&ITexture::put_DestBlending), 9},
        {"Stage", &ITexture::get_Stage, &ITexture::put_Stage, 0},
    };
    for (const Field& f : fields) {
        EXPECT_EQ(value_of(t, f.get, -7), f.initial) << f.name;
        EXPECT_EQ((t.get()->*f.put)(77), S_OK) << f.name;
        EXPECT_EQ(value_of(t, f.get, -7), 77) << f.name << " is stored as given";
    }
    EXPECT_EQ(text_of(t.get(), &ITexture::get_Name), "");
    EXPECT_TRUE(device_calls().empty()) << "plain puts touch nothing";
}

TEST_F(TextureTest, ApplySendsTheStageStatesInOrderThenBinds) {
    ComPtr<ITexture> t = texture("wood.bmp");
    EXPECT_EQ(text_of(t.get(), &ITexture::get_Name), "wood.bmp");
    t->put_Stage(2);
    t->put_MagFilter(tm_Linear);
    t->put_Coords(tci_PassThru);
    rec.clear_calls();
    ASSERT_EQ(t->Apply(), S_OK);
    const std::vector<std::string> want = {
        "Device.SetTextureStageState(2, 16, 2)", "Device.SetTextureStageState(2, 17, 1)",
        "Device.SetTextureStageState(2, 12, 1)", "Device.SetTextureStageState(2, 1, 4)",
        "Device.SetTextureStageState(2, 2, 2)",  "Device.SetTextureStageState(2, 3, 0)",
        "Device.SetTextureStageState(2, 5, 2)",  "Device.SetTextureStageState(2, 6, 0)",
        "Device.SetTextureStageState(2, 4, 4)",  "Device.SetTextureStageState(2, 11, 0)",
        "Device.SetRenderState(27, 1)",          "Device.SetRenderState(7, 1)",
        "Device.SetRenderState(128, 3)",         "Device.SetTexture(2, <texture1>)",
    };
    EXPECT_EQ(device_calls(), want) << "the blending fields are not sent";
}

TEST_F(TextureTest, ApplyFailuresAndTheirTexts) {
    ComPtr<ITexture> unloaded = texture();
    EXPECT_EQ(unloaded->Apply(), E_POINTER);
    EXPECT_TRUE(reported("No Filename was given."));
    EXPECT_EQ(unloaded->LoadBitmap(Bstr("")), E_FAIL);
    EXPECT_TRUE(reported("Invalid Filename."));
    EXPECT_EQ(text_of(unloaded.get(), &ITexture::get_Name), "");

    struct Refusal {
        const char* call;
        HRESULT hr;
        const char* text;
    };
    const Refusal refusals[] = {
        {"Device.SetTextureStageState(0, 16,", E_FAIL, "Failed to Apply MagFilter to Texture."},
        {"Device.SetTextureStageState(0, 17,", E_FAIL, "Failed to Apply MinFilter to Texture."},
        {"Device.SetTextureStageState(0, 12,", E_FAIL, "Failed to Apply Wrapping to Texture."},
        {"Device.SetTextureStageState(0, 11,", E_FAIL, "Failed to Apply Coordinate Index to Texture."},
        {"Device.SetTexture(", DDERR_INVALIDPARAMS, "Invalid Parameter."},
        {"Device.SetTexture(", DDERR_INVALIDOBJECT, "Invalid Object."},
        {"Device.SetTexture(", E_FAIL, "Unknown Error."},
    };
    ComPtr<ITexture> t = texture("wood.bmp");
    for (const Refusal& r : refusals) {
        rec.fail(r.call, r.hr, 1);
        EXPECT_EQ(t->Apply(), r.hr) << r.call;
        EXPECT_NE(take_error().description.find(r.text), std::string::npos) << r.call;
    }
    // A load whose surface could not be made: Apply succeeds and sends nothing.
    rec.fail("D3DXCreateTextureFromFile", DDERR_OUTOFMEMORY, 1);
    EXPECT_EQ(t->LoadBitmap(Bstr("stone.bmp")), DDERR_OUTOFMEMORY);
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(text_of(t.get(), &ITexture::get_Name), "stone.bmp") << "the new name stays";
    rec.clear_calls();
    EXPECT_EQ(t->Apply(), S_OK);
    EXPECT_TRUE(device_calls().empty());
    EXPECT_EQ(value_of(t, &ITexture::get_Handle, -1), 0);
    LONG w = 0;
    EXPECT_EQ(t->get_width(&w), E_FAIL);
    EXPECT_TRUE(reported("Failed to Obtain Surface for Texture."));
    EXPECT_EQ(t->get_Height(&w), E_FAIL);
    EXPECT_TRUE(reported("Failed to Obtain Surface."));
}

TEST_F(TextureTest, BumpMapValuesGoToTheDeviceAtOnceAndReadBackWithoutIt) {
    ComPtr<ITexture> t = texture("wood.bmp");
    t->put_Stage(1);
    t->put_MagFilter(tm_Linear);
    rec.clear_calls();
    struct Bump {
        HRESULT (ITexture::*put)(FLOAT);
        HRESULT (ITexture::*get)(FLOAT*);
        DWORD state;
    };
    const Bump bumps[] = {
        {&ITexture::put_BumpEnvMat00, &ITexture::get_BumpEnvMat00, 7},
        {&ITexture::put_BumpEnvMat01, &ITexture::get_BumpEnvMat01, 8},
        {&ITexture::put_BumpEnvMat10, &ITexture::get_BumpEnvMat10, 9},
        {&ITexture::put_BumpEnvMat11, &ITexture::get_BumpEnvMat11, 10},
        {&ITexture::put_BumpMapScaleLuminance, &ITexture::get_BumpMapScaleLuminance, 22},
        {&ITexture::put_BumpMapOffsetLuminance, &ITexture::get_BumpMapOffsetLuminance, 23},
    };
    for (const Bump& b : bumps) {
        EXPECT_EQ(value_of(t, b.get, -1), 0.0f) << "nothing put yet";
        rec.clear_calls();
        EXPECT_EQ((t.get()->*b.put)(0.25f), S_OK);
        EXPECT_EQ(device_calls(),
                  std::vector<std::string>{"Device.SetTextureStageState(1, " + std::to_string(b.state) +
                                           ", " + std::to_string(std::bit_cast<DWORD>(0.25f)) + ")"});
        rec.clear_calls();
        EXPECT_EQ(value_of(t, b.get), 0.25f);
        EXPECT_TRUE(device_calls().empty()) << "reading does not write to the device";
    }
    EXPECT_TRUE(rec.calls_matching("Device.SetTextureStageState(1, 16,").empty())
        << "MagFilter waits for Apply";
    ComPtr<ITexture> loose = adopt(create<ITexture>(CLSID_Texture));
    EXPECT_EQ(loose->put_BumpEnvMat00(1.0f), E_POINTER);
    EXPECT_TRUE(reported("Device Not Initialised."));
}

TEST_F(TextureTest, SameFileTwiceEachBindsItsOwnSurfaceAndHandlesFindTheNewest) {
    ComPtr<ITexture> first = texture("wood.bmp");
    ComPtr<ITexture> second = texture("WOOD.BMP");
    rec.clear_calls();
    first->Apply();
    second->Apply();
    EXPECT_EQ(
        rec.calls_matching("Device.SetTexture("),
        (std::vector<std::string>{"Device.SetTexture(0, <texture1>)", "Device.SetTexture(0, <texture2>)"}));
    EXPECT_NE(value_of(first, &ITexture::get_Handle), 0);
    EXPECT_EQ(value_of(first, &ITexture::get_Handle), value_of(second, &ITexture::get_Handle));
    EXPECT_EQ(value_of(first, &ITexture::get_width), 64);
    EXPECT_EQ(value_of(first, &ITexture::get_Height), 64);
    // Free drops the container, the name and the device; the settings stay.
    first->put_Wrap(tw_Clamp);
    EXPECT_EQ(second->Free(), S_OK);
    EXPECT_NE(value_of(first, &ITexture::get_Handle), 0) << "the older container is found now";
    EXPECT_EQ(second->Apply(), E_POINTER);
    EXPECT_TRUE(reported("No Filename was given."));
    // A name with characters beyond ASCII is kept whole.
    ASSERT_EQ(
        first->put_Name(Bstr("Ŝtóné texture with a long name ÆØÅ 0123456789 0123456789 0123456789.bmp")),
        S_OK);
    EXPECT_EQ(text_of(first.get(), &ITexture::get_Name),
              "Ŝtóné texture with a long name ÆØÅ 0123456789 0123456789 0123456789.bmp");
    EXPECT_EQ(texture_registry().size(), 1u) << "Name put replaced the texture's container";
}

TEST_F(TextureTest, TexturesStoreByFileNameAndReportTheDevicesFigures) {
    ComPtr<ITextures> all = adopt(create<ITextures>(CLSID_Textures));
    IDispatch* d = nullptr;
    ComPtr<ITextureCaps> caps = child_of<ITextureCaps>(all.get(), &ITextures::get_Caps);
    ASSERT_TRUE(caps);
    LONG v = -1;
    EXPECT_EQ(caps->get_MaxWidth(&v), E_POINTER);
    EXPECT_TRUE(reported("Failed to obtain Device Information."));

    all->put_Device(dev);
    ASSERT_EQ(all->get_LoadFile(Bstr("wood.bmp"), &d), S_OK);
    ComPtr<ITexture> one = texture_of(d);
    ASSERT_EQ(all->get_LoadFile(Bstr("wood.bmp"), &d), S_OK);
    ComPtr<ITexture> two = texture_of(d);
    EXPECT_EQ(value_of(all, &ITextures::get_Count), 1);
    EXPECT_EQ(item_of<ITexture>(all.get(), Var::text("wood.bmp")).get(), two.get())
        << "the second replaced the first";
    rec.fail("D3DXCreateTextureFromFile", E_FAIL, 1);
    EXPECT_EQ(all->get_LoadFile(Bstr("missing.bmp"), &d), E_FAIL);
    EXPECT_EQ(d, nullptr);
    EXPECT_TRUE(reported("Failed to Load Texture."));
    EXPECT_EQ(value_of(all, &ITextures::get_Count), 1);
    ASSERT_EQ(all->get_Add(&d), S_OK);
    texture_of(d);
    ASSERT_EQ(all->get_Add(&d), S_OK);
    texture_of(d);
    EXPECT_EQ(value_of(all, &ITextures::get_Count), 2) << "both Adds share the key Unnamed";

    struct Figure {
        HRESULT (ITextureCaps::*get)(LONG*);
        LONG want;
    };
    const Figure figures[] = {{&ITextureCaps::get_MaxWidth, 2048}, {&ITextureCaps::get_MaxHeight, 2048},
                              {&ITextureCaps::get_MinWidth, 1},    {&ITextureCaps::get_MinHeight, 1},
                              {&ITextureCaps::get_MemoryAlloc, 0}, {&ITextureCaps::get_MemoryUsed, 0}};
    for (const Figure& f : figures)
        EXPECT_EQ(value_of(caps, f.get, -1), f.want) << "a device that keeps no statistics reports zero, never garbage";
    rec.fail("Device.GetCaps", DDERR_INVALIDOBJECT, 1);
    EXPECT_EQ(caps->get_MaxWidth(&v), E_POINTER);
    EXPECT_TRUE(reported("Failed to obtain Device Information."));

    rec.clear_calls();
    one.reset();
    two.reset();
    EXPECT_EQ(all->Free(), S_OK);
    EXPECT_EQ(value_of(all, &ITextures::get_Count, -1), 0);
    EXPECT_EQ(rec.calls_matching("Device.SetTexture(").size(), 7u);
    EXPECT_EQ(rec.calls_matching("Device.SetTexture(").back(), "Device.SetTexture(6, null)");
}

TEST_F(TextureTest, TextureAndMaterialRecordsRoundTrip) {
    const std::string path = ::testing::TempDir() + "texture_records.txt";
    ComPtr<ITextures> all = on_device<ITextures>(CLSID_Textures);
    IDispatch* d = nullptr;
    all->get_LoadFile(Bstr("a.bmp"), &d);
    texture_of(d);
    all->get_LoadFile(Bstr("b.bmp"), &d);
    texture_of(d);
    ComPtr<IMaterial> material = adopt(create<IMaterial>(CLSID_Material));
    set_colour(child_of<IColour>(material.get(), &IMaterial::get_Ambient).get(), 0.5f, 0.25f, 0.0f, 1.0f);
    set_colour(child_of<IColour>(material.get(), &IMaterial::get_Specular).get(), 0.0f, 0.0f, 1.0f, 0.5f);
    material->put_Power(7);
    uint32_t f = VantorStreamOpen(path.c_str(), "w");
    ASSERT_EQ(all->Save(static_cast<LONG>(f)), S_OK);
    ASSERT_EQ(material->Save(static_cast<LONG>(f)), S_OK);
    VantorStreamClose(f);
    const std::string file = read_file(path);
    EXPECT_EQ(file.substr(0, 37), "2\r\n// Material\r\n// Colour\r\n0.500000\r\n");
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 27) << "the count line and 26 material lines";

    ComPtr<ITextures> again = on_device<ITextures>(CLSID_Textures);
    ComPtr<IMaterial> copy = adopt(create<IMaterial>(CLSID_Material));
    f = VantorStreamOpen(path.c_str(), "r");
    ASSERT_EQ(again->Load(static_cast<LONG>(f)), S_OK);
    rec.clear_calls();
    ASSERT_EQ(copy->Load(static_cast<LONG>(f)), S_OK);
    VantorStreamClose(f);
    EXPECT_TRUE(device_calls().empty()) << "loading a material sends nothing";
    EXPECT_EQ(value_of(again, &ITextures::get_Count), 1);
    EXPECT_NE(item_of<ITexture>(again.get(), Var::text("Unnamed")).get(), nullptr);
    // The copy sends the saved colours; the power is not part of the record.
    ASSERT_EQ(copy->put_Device(dev), S_OK);
    EXPECT_EQ(rec.calls_matching("Device.SetMaterial").back(),
              "Device.SetMaterial({diffuse 0 0 0 0, ambient 0.5 0.25 0 1, specular 0 0 1 0.5, emissive 0 0 0 "
              "0, power 0})");
    std::remove(path.c_str());
}

TEST_F(TextureTest, MaterialUpdateRules) {
    ComPtr<IMaterial> m = adopt(create<IMaterial>(CLSID_Material));
    EXPECT_EQ(m->Apply(), E_POINTER);
    EXPECT_TRUE(reported("Device Not Initialised."));
    EXPECT_TRUE(device_calls().empty());
    m->put_Power(-3);
    set_colour(child_of<IColour>(m.get(), &IMaterial::get_Colour).get(), 1, 1, 1, 1);
    set_colour(child_of<IColour>(m.get(), &IMaterial::get_Diffuse).get(), 1, 0, 0, 0);
    ASSERT_EQ(m->put_Device(dev), S_OK);
    EXPECT_EQ(device_calls(), std::vector<std::string>{
                                  "Device.SetMaterial({diffuse 1 0 0 0, ambient 0 0 0 0, specular 0 0 0 0, "
                                  "emissive 0 0 0 0, power -3})"});
    EXPECT_EQ(value_of(m, &IMaterial::get_Handle, -1), 0);
    rec.fail("Device.SetMaterial", E_INVALIDARG, 1);
    EXPECT_EQ(m->Update(), E_INVALIDARG);
    EXPECT_TRUE(reported("Invalid Parameter."));
    rec.fail("Device.SetMaterial", DDERR_SURFACELOST, 1);
    EXPECT_EQ(m->Apply(), DDERR_SURFACELOST);
    EXPECT_TRUE(reported("Unknown Error."));
}
