// Parts.Render's exact calls on the recording device: the stage and render states it leaves set,
// what the mesh file saves and puts back around its two passes, and draw failures that are only
// traced.
#include "component.h"
#include "recording_backend.h"
#include "test_window.h"

#include <vantor/backend/backend.h>

#include <cstdio>

using namespace vantor;
using namespace vantor::test;

namespace {

class PartsTest : public RecordingDeviceTest {
protected:
    void SetUp() override {
        RecordingDeviceTest::SetUp();
        path = ::testing::TempDir() + "parts_two_slots.x";
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fputs("xof 0302txt 0032\nMesh M { 3; 0;0;0;, 1;0;0;, 0;1;0;; 2; 3;0,1,2;, 3;2,1,0;; "
                   "MeshMaterialList { 2; 2; 0, 1;; Material { 1;0;0;1;; 0; 0;0;0;; 0;0;0;; } "
                   "Material { 0;1;0;0.5;; 0; 0;0;0;; 0;0;0;; } } }\n",
                   f);
        std::fclose(f);
    }
    void TearDown() override {
        std::remove(path.c_str());
        RecordingDeviceTest::TearDown();
    }

    std::string path;
};

}  // namespace

TEST_F(PartsTest, RenderSetsItsStatesAndPutsBackWhatTheMeshFileChanged) {
    IParts* parts = create<IParts>(CLSID_Parts);
    EXPECT_EQ(parts->Render(), E_FAIL) << "no device";
    parts->put_Device(dev);
    EXPECT_EQ(parts->Render(), S_OK) << "nothing loaded draws nothing";
    ASSERT_EQ(parts->Load(Bstr(path.c_str())), S_OK) << take_error().description;
    device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, 0);
    device->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE);
    rec.clear_calls();
    ASSERT_EQ(parts->Render(), S_OK);

    EXPECT_EQ(rec.calls_matching("Device.SetTextureStageState"),
              (std::vector<std::string>{"Device.SetTextureStageState(0, 2, 2)", "Device.SetTextureStageState(0, 3, 0)",
                                        "Device.SetTextureStageState(0, 1, 4)", "Device.SetTextureStageState(0, 17, 2)",
                                        "Device.SetTextureStageState(0, 16, 2)"}));
    const std::vector<std::string> states = rec.calls_matching("Device.SetRenderState");
    ASSERT_GE(states.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(states.begin(), states.begin() + 4),
              (std::vector<std::string>{"Device.SetRenderState(26, 1)", "Device.SetRenderState(29, 0)",
                                        "Device.SetRenderState(7, 1)", "Device.SetRenderState(143, 1)"}));
    // A mesh with a translucent slot draws whole in the alpha pass: both slots after blending is on.
    const auto blend_on = rec.index_of("Device.SetRenderState(27, 1)");
    ASSERT_GE(blend_on, 0) << rec.log_text();
    EXPECT_EQ(rec.count("Device.DrawIndexedPrimitive"), 2u) << rec.log_text();
    EXPECT_GT(rec.index_of("Device.DrawIndexedPrimitive"), blend_on);
    // Then blending, the world transform, stage 0 and the material go back as they were.
    const auto restored = rec.index_of("Device.SetRenderState(27, 0)", static_cast<size_t>(blend_on));
    ASSERT_GT(restored, blend_on) << rec.log_text();
    EXPECT_EQ(rec.slice(restored, restored + 2),
              (std::vector<std::string>{"Device.SetRenderState(27, 0)", "Device.SetRenderState(19, 2)"}));
    EXPECT_EQ(rec.calls().back().substr(0, 19), "Device.SetMaterial(");

    // A draw that fails is traced; rendering goes on and succeeds.
    rec.fail("Device.DrawIndexedPrimitiveVB", DDERR_INVALIDPARAMS);
    rec.clear_calls();
    EXPECT_EQ(parts->Render(), S_OK);
    EXPECT_EQ(rec.count("Device.DrawIndexedPrimitive"), 2u);
    parts->Release();
}
