// Fog: linear, exponential and squared exponential, per vertex and per pixel ("table"),
// range-based, and the factor pre-transformed vertices bring in their specular alpha.
#include "render_test_support.h"

using namespace render_test;

namespace {

constexpr float kStart = 2.0f, kEnd = 10.0f, kDensity = 0.1f;
constexpr DWORD kFogColour = 0xFFFF0000;

float fog_factor(DWORD mode, float d) {
    switch (mode) {
        case D3DFOG_LINEAR: return std::clamp((kEnd - d) / (kEnd - kStart), 0.0f, 1.0f);
        case D3DFOG_EXP: return std::exp(-d * kDensity);
        default: return std::exp(-(d * kDensity) * (d * kDensity));
    }
}

// White fogged towards red by f.
DWORD fogged(float f) { return rgb(1.0f, f, f); }

struct FogCase {
    const char* name;
    DWORD table_mode, vertex_mode;
    DWORD formula;  // which mode's formula applies
};

class RenderFog : public RenderTest, public ::testing::WithParamInterface<FogCase> {
protected:
    void SetUp() override {
        RenderTest::SetUp();
        D3DMATRIX proj = perspective(1.5707963f, 1.0f, 1.0f, 100.0f);
        dev->SetTransform(D3DTRANSFORMSTATE_PROJECTION, &proj);
        dev->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
        dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
        dev->SetRenderState(D3DRENDERSTATE_FOGENABLE, TRUE);
        dev->SetRenderState(D3DRENDERSTATE_FOGCOLOR, kFogColour);
        dev->SetRenderState(D3DRENDERSTATE_FOGSTART, float_bits(kStart));
        dev->SetRenderState(D3DRENDERSTATE_FOGEND, float_bits(kEnd));
        dev->SetRenderState(D3DRENDERSTATE_FOGDENSITY, float_bits(kDensity));
        clear(0xFF000000);
    }
    // A white quad facing the camera at depth z, covering the whole view.
    void draw_wall(float z) {
        D3DLVERTEX v[4] = {{-z, z, z, 0, 0xFFFFFFFF, 0, 0, 0}, {z, z, z, 0, 0xFFFFFFFF, 0, 0, 0},
                           {-z, -z, z, 0, 0xFFFFFFFF, 0, 0, 0}, {z, -z, z, 0, 0xFFFFFFFF, 0, 0, 0}};
        ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_LVERTEX, v, 4, 0), D3D_OK);
    }
};

TEST_P(RenderFog, FogBlendsTowardsTheFogColourByDistance) {
    const FogCase& c = GetParam();
    dev->SetRenderState(D3DRENDERSTATE_FOGTABLEMODE, c.table_mode);
    dev->SetRenderState(D3DRENDERSTATE_FOGVERTEXMODE, c.vertex_mode);
    for (float z : {3.0f, 5.0f, 9.0f}) {
        clear(0xFF000000);
        draw_wall(z);
        EXPECT_TRUE(near_colour(pixel(32, 32), fogged(fog_factor(c.formula, z)), 2)) << c.name << " at " << z;
    }
}

// Table fog wins when both are set; both use the eye depth, so they agree.
INSTANTIATE_TEST_SUITE_P(Modes, RenderFog,
                         ::testing::Values(FogCase{"vertex linear", D3DFOG_NONE, D3DFOG_LINEAR, D3DFOG_LINEAR},
                                           FogCase{"vertex exp", D3DFOG_NONE, D3DFOG_EXP, D3DFOG_EXP},
                                           FogCase{"vertex exp2", D3DFOG_NONE, D3DFOG_EXP2, D3DFOG_EXP2},
                                           FogCase{"table linear", D3DFOG_LINEAR, D3DFOG_NONE, D3DFOG_LINEAR},
                                           FogCase{"table exp", D3DFOG_EXP, D3DFOG_NONE, D3DFOG_EXP},
                                           FogCase{"table exp2", D3DFOG_EXP2, D3DFOG_NONE, D3DFOG_EXP2},
                                           FogCase{"table over vertex", D3DFOG_EXP, D3DFOG_LINEAR, D3DFOG_EXP}));

TEST_F(RenderFog, TableAndVertexFogAgree) {
    dev->SetRenderState(D3DRENDERSTATE_FOGVERTEXMODE, D3DFOG_LINEAR);
    draw_wall(6.0f);
    DWORD vertex = pixel(32, 32);
    clear(0xFF000000);
    dev->SetRenderState(D3DRENDERSTATE_FOGVERTEXMODE, D3DFOG_NONE);
    dev->SetRenderState(D3DRENDERSTATE_FOGTABLEMODE, D3DFOG_LINEAR);
    draw_wall(6.0f);
    EXPECT_TRUE(near_colour(pixel(32, 32), vertex, 1));
}

TEST_F(RenderFog, RangeFogUsesTheDistanceNotTheDepth) {
    // Three vertices all at distance sqrt(34) from the eye, well off the axis.
    const float r2 = 34.0f;
    D3DLVERTEX v[3] = {{3.0f, 0.0f, 5.0f, 0, 0xFFFFFFFF, 0, 0, 0},
                       {3.0f, 0.6f, std::sqrt(r2 - 9.0f - 0.36f), 0, 0xFFFFFFFF, 0, 0, 0},
                       {3.6f, 0.0f, std::sqrt(r2 - 12.96f), 0, 0xFFFFFFFF, 0, 0, 0}};
    dev->SetRenderState(D3DRENDERSTATE_FOGVERTEXMODE, D3DFOG_LINEAR);
    dev->SetRenderState(D3DRENDERSTATE_RANGEFOGENABLE, TRUE);
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_LVERTEX, v, 3, 0), D3D_OK);
    // (3.2, 0.2, 5) projects near (52.5, 30.7).
    DWORD ranged = pixel(52, 30);
    EXPECT_TRUE(near_colour(ranged, fogged(fog_factor(D3DFOG_LINEAR, std::sqrt(r2))), 2));
    EXPECT_FALSE(near_colour(ranged, fogged(fog_factor(D3DFOG_LINEAR, 5.0f)), 8)) << "depth alone would be lighter";
}

TEST_F(RenderFog, PretransformedVerticesBringTheirFactorInSpecularAlpha) {
    // With no table fog, a pre-transformed vertex's specular alpha is its fog factor.
    D3DTLVERTEX v[4] = {{0, 0, 0.5f, 1, 0xFFFFFFFF, 0x40000000, 0, 0}, {64, 0, 0.5f, 1, 0xFFFFFFFF, 0x40000000, 0, 0},
                        {0, 64, 0.5f, 1, 0xFFFFFFFF, 0x40000000, 0, 0}, {64, 64, 0.5f, 1, 0xFFFFFFFF, 0x40000000, 0, 0}};
    dev->SetRenderState(D3DRENDERSTATE_FOGVERTEXMODE, D3DFOG_LINEAR);  // ignored for them
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, v, 4, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(32, 32), fogged(64 / 255.0f), 2));
    // Table fog on them uses 1/rhw as the eye depth.
    dev->SetRenderState(D3DRENDERSTATE_FOGTABLEMODE, D3DFOG_LINEAR);
    for (D3DTLVERTEX& t : v) t.rhw = 0.2f;
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, v, 4, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(32, 32), fogged(fog_factor(D3DFOG_LINEAR, 5.0f)), 2));
}

TEST_F(RenderFog, NoFogWithoutFogEnable) {
    dev->SetRenderState(D3DRENDERSTATE_FOGTABLEMODE, D3DFOG_EXP);
    dev->SetRenderState(D3DRENDERSTATE_FOGENABLE, FALSE);
    draw_wall(9.0f);
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFFFFFFFF, 0));
}

TEST_F(RenderFog, FogIsAppliedAfterSpecularAndKeepsAlpha) {
    // Specular is added before fog: a fully fogged pixel shows only the fog colour.
    dev->SetRenderState(D3DRENDERSTATE_SPECULARENABLE, TRUE);
    dev->SetRenderState(D3DRENDERSTATE_FOGVERTEXMODE, D3DFOG_LINEAR);
    dev->SetRenderState(D3DRENDERSTATE_FOGEND, float_bits(kStart + 0.001f));
    D3DLVERTEX v[4] = {{-9, 9, 9, 0, 0xFF000000, 0xFF00FF00, 0, 0}, {9, 9, 9, 0, 0xFF000000, 0xFF00FF00, 0, 0},
                       {-9, -9, 9, 0, 0xFF000000, 0xFF00FF00, 0, 0}, {9, -9, 9, 0, 0xFF000000, 0xFF00FF00, 0, 0}};
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_LVERTEX, v, 4, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(32, 32), kFogColour, 1));
}

}  // namespace
