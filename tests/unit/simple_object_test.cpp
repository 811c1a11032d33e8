// SimpleObject and SimpleObjects on the recording back end: the builder each adder calls, the
// build on Type, texture and drawing rules, and their failures.
#include <vantor/backend/backend.h>

#include "component.h"
#include "module/kit.h"
#include "recording_backend.h"
#include "test_window.h"

using namespace vantor;
using namespace vantor::test;
using vantor::testing::RecordingBackend;
using vantor::testing::TestWindow;

namespace {

class SimpleObjectTest : public RecordingDeviceTest {
protected:
    void SetUp() override {
        RecordingDeviceTest::SetUp();
        shapes = on_device<ISimpleObjects>(CLSID_SimpleObjects);
        rec.clear_calls();
    }
    void TearDown() override {
        shapes.reset();
        RecordingDeviceTest::TearDown();
    }

    ComPtr<ISimpleObjects> shapes;
};

}  // namespace

TEST_F(SimpleObjectTest, EachAdderBuildsItsKindFromItsDimensions) {
    using Add = std::function<HRESULT(ISimpleObjects*, IDispatch**)>;
    const struct {
        const char* name;
        Add add;
        SimpleObjectTypes type;
        std::string call;  // the builder call, up to its output
    } cases[] = {
        {"box", [](ISimpleObjects* s, IDispatch** o) { return s->get_AddBox(Bstr("b"), 1, 2, 3, o); }, sot_Box,
         "D3DXCreateBox(<device1>, 1, 2, 3, 4294967295"},
        {"polygon", [](ISimpleObjects* s, IDispatch** o) { return s->get_AddPolygon(Bstr("p"), 2, 5, o); }, sot_Polygon,
         "D3DXCreatePolygon(<device1>, 2, 5, 4294967295"},
        {"cylinder", [](ISimpleObjects* s, IDispatch** o) { return s->get_AddCylinder(Bstr("c"), 2, 1, 1, o); },
         sot_Cylinder, "D3DXCreateCylinder(<device1>, 1, 1, 2, 4294967295, 4294967295, 4294967295"},
        {"sphere", [](ISimpleObjects* s, IDispatch** o) { return s->get_AddSphere(Bstr("s"), 1.5f, o); }, sot_Sphere,
         "D3DXCreateSphere(<device1>, 1.5, 4294967295, 4294967295, 1"},
        {"teapot", [](ISimpleObjects* s, IDispatch** o) { return s->get_AddTeapot(Bstr("t"), o); }, sot_Teapot,
         "D3DXCreateTeapot(<device1>, 4294967295"},
        {"torus", [](ISimpleObjects* s, IDispatch** o) { return s->get_AddTorus(Bstr("r"), 12, 0.5f, 2, o); }, sot_Torus,
         "D3DXCreateTorus(<device1>, 0.5, 2, 12, 4294967295, 4294967295"},
    };
    for (const auto& c : cases) {
        rec.clear_calls();
        DebugCapture debug;
        IDispatch* d = nullptr;
        ASSERT_EQ(c.add(shapes.get(), &d), S_OK) << c.name;
        ComPtr<ISimpleObject> s = take_as<ISimpleObject>(d);
        ASSERT_TRUE(s) << c.name;
        EXPECT_EQ(value_of(s, &ISimpleObject::get_Type, sot_None), c.type) << c.name;
        std::vector<std::string> built = rec.calls_matching("D3DXCreate");
        ASSERT_EQ(built.size(), 1u) << c.name;
        EXPECT_EQ(built[0].substr(0, c.call.size()), c.call) << c.name;
        EXPECT_NE(debug.text().find(" --> Succeeded.\nVTR: Optimizing Simple Object --> Succeeded.\n"), std::string::npos)
            << debug.text();
        rec.clear_calls();
        EXPECT_EQ(s->Render(), S_OK) << c.name;
        EXPECT_EQ(rec.calls_matching("Shape.Draw").size(), 1u) << c.name;
    }
    EXPECT_EQ(value_of(shapes, &ISimpleObjects::get_Count), 6);
}

TEST_F(SimpleObjectTest, TypeRebuildsFromTheStoredDimensionsAndFailuresLeaveNoShape) {
    IDispatch* d = nullptr;
    ASSERT_EQ(shapes->get_AddBox(Bstr("box"), 1, 1, 1, &d), S_OK);
    ComPtr<ISimpleObject> box = take_as<ISimpleObject>(d);
    box->put_width(4);
    rec.clear_calls();
    EXPECT_EQ(box->Render(), S_OK);
    EXPECT_TRUE(rec.calls_matching("D3DXCreate").empty()) << "a width alone builds nothing";
    ASSERT_EQ(box->put_Type(sot_Box), S_OK);
    ASSERT_EQ(rec.calls_matching("D3DXCreateBox").size(), 1u);
    EXPECT_EQ(rec.calls_matching("D3DXCreateBox")[0].substr(0, 33), "D3DXCreateBox(<device1>, 4, 1, 1,");

    // Outside the known kinds: a failed build with an unknown result; Type keeps the value.
    const struct {
        LONG type;
        HRESULT hr;
        std::string text;
    } failures[] = {{7, E_FAIL, "Unknown Error."}, {-1, E_FAIL, "Unknown Error."}};
    for (const auto& f : failures) {
        EXPECT_EQ(box->put_Type(static_cast<SimpleObjectTypes>(f.type)), f.hr) << f.type;
        EXPECT_TRUE(reported(f.text)) << f.type;
        EXPECT_EQ(LONG(value_of(box, &ISimpleObject::get_Type)), f.type);
        EXPECT_EQ(box->Render(), E_POINTER);
        EXPECT_TRUE(reported("SimpleObject Not Initialised."));
    }
    EXPECT_EQ(box->put_Type(sot_None), S_OK) << "no shape asked for";

    // A builder refusal: the adder still stores the object and answers S_OK.
    ASSERT_EQ(shapes->get_AddPolygon(Bstr("flat"), 1, 2, &d), S_OK);
    ComPtr<ISimpleObject> flat = take_as<ISimpleObject>(d);
    EXPECT_EQ(flat->Render(), E_POINTER);
    EXPECT_EQ(flat->put_Type(sot_Polygon), D3DXERR_INVALIDPARAMETER);
    EXPECT_TRUE(reported("Invalid Parameter."));

    // A Draw failure reports its result.
    ASSERT_EQ(box->put_Type(sot_Box), S_OK);
    rec.fail("Shape.Draw", DDERR_INVALIDOBJECT, 1);
    DebugCapture debug;
    EXPECT_EQ(box->Render(), DDERR_INVALIDOBJECT);
    EXPECT_EQ(debug.text(), "VTR: (ERROR) SimpleObject Draw --> Invalid Object.\n");

    // No device: the builder is handed none and refuses.
    ComPtr<ISimpleObject> loose = adopt(create<ISimpleObject>(CLSID_SimpleObject));
    EXPECT_EQ(loose->put_Type(sot_Teapot), D3DXERR_NULLPOINTER);
}

TEST_F(SimpleObjectTest, TextureIsAppliedBeforeDrawingAndOnlyTexturesAreTaken) {
    IDispatch* d = nullptr;
    ASSERT_EQ(shapes->get_AddSphere(Bstr("ball"), 1, &d), S_OK);
    ComPtr<ISimpleObject> ball = take_as<ISimpleObject>(d);
    ComPtr<ITexture> tex = on_device<ITexture>(CLSID_Texture);
    ASSERT_EQ(tex->LoadBitmap(Bstr("wood.bmp")), S_OK);
    ASSERT_EQ(ball->put_Texture(as_dispatch(tex).get()), S_OK);
    EXPECT_EQ(ball->put_Texture(as_dispatch(adopt(create<IColour>(CLSID_Colour))).get()), E_INVALIDARG);
    EXPECT_TRUE(reported("Invalid Parameter."));
    EXPECT_EQ(child_of<ITexture>(ball.get(), &ISimpleObject::get_Texture).get(), tex.get()) << "the previous texture stays";

    rec.clear_calls();
    ASSERT_EQ(ball->Render(), S_OK);
    std::vector<std::string> calls = rec.calls_matching("");
    auto at = [&](const std::string& what) {
        for (size_t i = 0; i < calls.size(); ++i)
            if (calls[i].find(what) != std::string::npos) return i;
        return calls.size();
    };
    EXPECT_LT(at("Device.SetTexture(0, <texture"), at("Shape.Draw")) << "Apply binds before Draw";
    EXPECT_LT(at("Shape.Draw"), calls.size());

    ASSERT_EQ(ball->Free(), S_OK);
    EXPECT_EQ(value_of(ball, &ISimpleObject::get_width, -1), 0.0f);
    EXPECT_EQ(value_of(ball, &ISimpleObject::get_Sides, -1), 0);
    ComPtr<IDispatch> kept;
    ASSERT_EQ(ball->get_Texture(kept.put()), S_OK);
    EXPECT_FALSE(kept);
    EXPECT_EQ(ball->Render(), E_POINTER);
    EXPECT_EQ(shapes->Render(), S_OK) << "one shapeless object does not stop the pass";

    ComPtr<ISimpleObjects> unbound = adopt(create<ISimpleObjects>(CLSID_SimpleObjects));
    EXPECT_EQ(unbound->Render(), E_POINTER);
    EXPECT_TRUE(reported("Device Not Initialised."));
}
