// Per-vertex lighting against Direct3D 7's equations. Flat shading gives the whole triangle
// the colour of its first vertex, so one probe compares with the formula at that vertex.
#include "render_test_support.h"

#include <algorithm>

using namespace render_test;

namespace {

struct V3 {
    float x, y, z;
};
V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 operator*(V3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
float length(V3 a) { return std::sqrt(dot(a, a)); }
V3 normalize(V3 a) { return a * (1.0f / length(a)); }
V3 v3(const D3DVECTOR& v) { return {v.x, v.y, v.z}; }

// Direct3D 7's lighting of one vertex in camera space (the view is the identity here).
DWORD d3d_lighting(const std::vector<D3DLIGHT7>& lights, const D3DMATERIAL7& m, V3 p, V3 n, DWORD ambient,
                   bool specular_on, bool local_viewer) {
    float ga[3] = {((ambient >> 16) & 0xFF) / 255.0f, ((ambient >> 8) & 0xFF) / 255.0f, (ambient & 0xFF) / 255.0f};
    float amb[3] = {}, dif[3] = {}, spe[3] = {};
    for (const D3DLIGHT7& l : lights) {
        V3 L;
        float att = 1.0f;
        if (l.dltType == D3DLIGHT_DIRECTIONAL) {
            L = normalize(v3(l.dvDirection)) * -1.0f;
        } else {
            V3 d = v3(l.dvPosition) - p;
            float dist = length(d);
            if (dist > l.dvRange) continue;
            L = d * (1.0f / dist);
            float den = l.dvAttenuation0 + l.dvAttenuation1 * dist + l.dvAttenuation2 * dist * dist;
            att = den > 0 ? 1.0f / den : 1.0f;
            if (l.dltType == D3DLIGHT_SPOT) {
                float rho = dot(normalize(v3(l.dvDirection)), L * -1.0f);
                float ct = std::cos(l.dvTheta / 2), cp = std::cos(l.dvPhi / 2);
                att *= rho > ct ? 1.0f : rho <= cp ? 0.0f : std::pow((rho - cp) / (ct - cp), l.dvFalloff);
            }
        }
        const float la[3] = {l.dcvAmbient.r, l.dcvAmbient.g, l.dcvAmbient.b};
        const float ld[3] = {l.dcvDiffuse.r, l.dcvDiffuse.g, l.dcvDiffuse.b};
        const float ls[3] = {l.dcvSpecular.r, l.dcvSpecular.g, l.dcvSpecular.b};
        float nl = dot(n, L);
        V3 view = local_viewer ? normalize(p) * -1.0f : V3{0, 0, -1};
        float nh = std::max(dot(n, normalize(L + view)), 0.0f);
        for (int i = 0; i < 3; ++i) {
            amb[i] += att * la[i];
            if (nl > 0) {
                dif[i] += att * nl * ld[i];
                if (specular_on) spe[i] += att * std::pow(nh, m.power) * ls[i];
            }
        }
    }
    const float cd[3] = {m.diffuse.r, m.diffuse.g, m.diffuse.b}, ca[3] = {m.ambient.r, m.ambient.g, m.ambient.b};
    const float cs[3] = {m.specular.r, m.specular.g, m.specular.b}, ce[3] = {m.emissive.r, m.emissive.g, m.emissive.b};
    float out[3];
    for (int i = 0; i < 3; ++i) {
        float d = std::clamp(ce[i] + ca[i] * (ga[i] + amb[i]) + cd[i] * dif[i], 0.0f, 1.0f);
        float s = std::clamp(cs[i] * spe[i], 0.0f, 1.0f);
        out[i] = std::min(d + (specular_on ? s : 0.0f), 1.0f);
    }
    return rgb(out[0], out[1], out[2]);
}

D3DLIGHT7 directional(V3 dir, D3DCOLORVALUE diffuse) {
    D3DLIGHT7 l{};
    l.dltType = D3DLIGHT_DIRECTIONAL;
    l.dvDirection = {dir.x, dir.y, dir.z};
    l.dcvDiffuse = diffuse;
    return l;
}

D3DLIGHT7 point(V3 pos, float range, float a0, float a1, float a2) {
    D3DLIGHT7 l{};
    l.dltType = D3DLIGHT_POINT;
    l.dvPosition = {pos.x, pos.y, pos.z};
    l.dvRange = range;
    l.dvAttenuation0 = a0, l.dvAttenuation1 = a1, l.dvAttenuation2 = a2;
    l.dcvDiffuse = {1, 1, 1, 1};
    return l;
}

D3DLIGHT7 spot(V3 pos, V3 dir, float theta, float phi, float falloff) {
    D3DLIGHT7 l = point(pos, 100, 1, 0, 0);
    l.dltType = D3DLIGHT_SPOT;
    l.dvDirection = {dir.x, dir.y, dir.z};
    l.dvTheta = theta, l.dvPhi = phi, l.dvFalloff = falloff;
    return l;
}

struct LightCase {
    const char* name;
    std::vector<D3DLIGHT7> lights;
    D3DMATERIAL7 material;
    DWORD ambient;
    bool specular, local_viewer;
    V3 normal;
};

D3DMATERIAL7 material(D3DCOLORVALUE d, D3DCOLORVALUE a = {}, D3DCOLORVALUE s = {}, D3DCOLORVALUE e = {}, float power = 0) {
    return D3DMATERIAL7{d, a, s, e, power};
}

class RenderLighting : public RenderTest, public ::testing::WithParamInterface<LightCase> {
protected:
    void SetUp() override {
        RenderTest::SetUp();
        D3DMATRIX proj = perspective(1.5707963f, 1.0f, 1.0f, 100.0f);
        dev->SetTransform(D3DTRANSFORMSTATE_PROJECTION, &proj);
        dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
        dev->SetRenderState(D3DRENDERSTATE_SHADEMODE, D3DSHADE_FLAT);
        clear(0xFF000000);
    }
    // Triangle at depth 5 covering the centre of the target; its first vertex is `first`.
    void draw(V3 first, V3 normal) {
        D3DVERTEX v[3] = {{first.x, first.y, first.z, normal.x, normal.y, normal.z, 0, 0},
                          {3, -1, 5, normal.x, normal.y, normal.z, 0, 0},
                          {0, 3, 5, normal.x, normal.y, normal.z, 0, 0}};
        ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_VERTEX, v, 3, 0), D3D_OK);
    }
};

TEST_P(RenderLighting, VertexColourMatchesTheLightingEquations) {
    const LightCase& c = GetParam();
    for (DWORD i = 0; i < c.lights.size(); ++i) {
        D3DLIGHT7 l = c.lights[i];
        ASSERT_EQ(dev->SetLight(i, &l), D3D_OK);
        ASSERT_EQ(dev->LightEnable(i, TRUE), D3D_OK);
    }
    D3DMATERIAL7 m = c.material;
    ASSERT_EQ(dev->SetMaterial(&m), D3D_OK);
    dev->SetRenderState(D3DRENDERSTATE_AMBIENT, c.ambient);
    dev->SetRenderState(D3DRENDERSTATE_SPECULARENABLE, c.specular);
    dev->SetRenderState(D3DRENDERSTATE_LOCALVIEWER, c.local_viewer);
    V3 first{-2, -1.5f, 5};
    draw(first, c.normal);
    DWORD expected = d3d_lighting(c.lights, c.material, first, c.normal, c.ambient, c.specular, c.local_viewer);
    EXPECT_TRUE(near_colour(pixel(32, 32), expected, 2)) << c.name;
}

const V3 kFacing{0, 0, -1};
const D3DCOLORVALUE kWhite{1, 1, 1, 1};

INSTANTIATE_TEST_SUITE_P(
    Lights, RenderLighting,
    ::testing::Values(
        LightCase{"directional head-on", {directional({0, 0, 1}, kWhite)}, material({0.5f, 0.25f, 1, 1}), 0, false, true, kFacing},
        LightCase{"directional at 45 degrees", {directional({1, 0, 1}, {1, 0.5f, 1, 1})}, material({1, 1, 0.5f, 1}), 0, false, true, kFacing},
        LightCase{"directional from behind", {directional({0, 0, -1}, kWhite)}, material({1, 1, 1, 1}), 0, false, true, kFacing},
        LightCase{"ambient render state and emissive", {}, material({1, 1, 1, 1}, {1, 0.5f, 0.25f, 1}, {}, {0.1f, 0.2f, 0.0f, 1}),
                  0x00808080, false, true, kFacing},
        LightCase{"point with linear attenuation", {point({0, 0, 0}, 100, 0, 0.5f, 0)}, material({1, 0.8f, 0.6f, 1}), 0, false, true, kFacing},
        LightCase{"point with all three factors", {point({1, 1, 1}, 100, 0.5f, 0.1f, 0.02f)}, material({1, 1, 1, 1}), 0, false, true, kFacing},
        LightCase{"point beyond its range lends no ambient",
                  {[] { D3DLIGHT7 l = point({0, 0, 0}, 3, 1, 0, 0); l.dcvAmbient = {0.5f, 0.5f, 0.5f, 1}; return l; }()},
                  material({1, 1, 1, 1}, {1, 1, 1, 1}), 0x00202020, false, true, kFacing},
        // Attenuation scales a light's ambient term too.
        LightCase{"point within range lends its attenuated ambient",
                  {[] { D3DLIGHT7 l = point({0, 0, 0}, 30, 0, 0.25f, 0); l.dcvAmbient = {0.25f, 0.5f, 0.0f, 1}; return l; }()},
                  material({0, 0, 0, 1}, {1, 1, 1, 1}), 0, false, true, kFacing},
        LightCase{"spot, inside the inner cone", {spot({0, 0, 0}, {-2, -1.5f, 5}, 0.2f, 0.8f, 1)}, material({1, 1, 1, 1}), 0, false, true, kFacing},
        LightCase{"spot, between the cones", {spot({0, 0, 0}, {0, 0, 1}, 0.2f, 1.2f, 1)}, material({1, 1, 1, 1}), 0, false, true, kFacing},
        LightCase{"spot, falloff 2", {spot({0, 0, 0}, {0, 0, 1}, 0.2f, 1.2f, 2)}, material({1, 1, 1, 1}), 0, false, true, kFacing},
        LightCase{"spot, outside the outer cone", {spot({0, 0, 0}, {0, 0, 1}, 0.1f, 0.3f, 1)}, material({1, 1, 1, 1}), 0, false, true, kFacing},
        LightCase{"specular on, local viewer",
                  {[] { D3DLIGHT7 l = point({-1, -1, 0}, 100, 1, 0, 0); l.dcvSpecular = {1, 1, 1, 1}; l.dcvDiffuse = {0.2f, 0.2f, 0.2f, 1}; return l; }()},
                  material({1, 1, 1, 1}, {}, {0.5f, 1, 0.75f, 1}, {}, 4), 0, true, true, kFacing},
        LightCase{"specular on, distant viewer",
                  {[] { D3DLIGHT7 l = point({-1, -1, 0}, 100, 1, 0, 0); l.dcvSpecular = {1, 1, 1, 1}; l.dcvDiffuse = {0.2f, 0.2f, 0.2f, 1}; return l; }()},
                  material({1, 1, 1, 1}, {}, {0.5f, 1, 0.75f, 1}, {}, 4), 0, true, false, kFacing},
        LightCase{"specular off",
                  {[] { D3DLIGHT7 l = point({-1, -1, 0}, 100, 1, 0, 0); l.dcvSpecular = {1, 1, 1, 1}; l.dcvDiffuse = {0.2f, 0.2f, 0.2f, 1}; return l; }()},
                  material({1, 1, 1, 1}, {}, {0.5f, 1, 0.75f, 1}, {}, 4), 0, false, true, kFacing},
        LightCase{"two lights add and clamp",
                  {directional({0, 0, 1}, {0.75f, 0.5f, 0.25f, 1}), directional({0, 0, 1}, {0.75f, 0.25f, 0.0f, 1})},
                  material({1, 1, 1, 1}), 0, false, true, kFacing},
        LightCase{"normal not normalised is used as given", {directional({0, 0, 1}, kWhite)}, material({0.5f, 0.5f, 0.5f, 1}),
                  0, false, true, {0, 0, -0.5f}}));

TEST_F(RenderLighting, ZeroAttenuationMeansFullStrength) {
    // Direct3D divides by a0 + a1 d + a2 d^2; all three zero is taken as no attenuation.
    D3DLIGHT7 l = point({0, 0, 0}, 100, 0, 0, 0);
    ASSERT_EQ(dev->SetLight(0, &l), D3D_OK);
    ASSERT_EQ(dev->LightEnable(0, TRUE), D3D_OK);
    D3DMATERIAL7 m = material({0.5f, 0.5f, 0.5f, 1});
    dev->SetMaterial(&m);
    V3 first{-2, -1.5f, 5};
    draw(first, kFacing);
    D3DLIGHT7 unattenuated = point({0, 0, 0}, 100, 1, 0, 0);
    EXPECT_TRUE(near_colour(pixel(32, 32), d3d_lighting({unattenuated}, m, first, kFacing, 0, false, true), 2));
}

TEST_F(RenderLighting, LightsThatReachNothingDrawNoLight) {
    // Direct3D stores these records; drawn, they add nothing, not even their ambient.
    D3DLIGHT7 reach_nothing[] = {directional({0, 0, 0}, kWhite), spot({0, 0, 0}, {0, 0, 0}, 0.2f, 1.2f, 1),
                                 point({0, 0, 0}, -5, 1, 0, 0)};
    D3DMATERIAL7 m = material({1, 1, 1, 1}, {1, 1, 1, 1});
    dev->SetMaterial(&m);
    dev->SetRenderState(D3DRENDERSTATE_AMBIENT, 0x00202020);
    for (D3DLIGHT7 l : reach_nothing) {
        clear(0xFF000000);
        l.dcvAmbient = {0.5f, 0.5f, 0.5f, 1};
        ASSERT_EQ(dev->SetLight(0, &l), D3D_OK);
        ASSERT_EQ(dev->LightEnable(0, TRUE), D3D_OK);
        draw({-2, -1.5f, 5}, kFacing);
        EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF202020, 1)) << "light type " << l.dltType;
    }
}

TEST_F(RenderLighting, SpotConesBeyondPiShineAsPi) {
    D3DLIGHT7 wide = spot({0, 0, 0}, {0, 0, 1}, 0.2f, 4.0f, 1), half = wide;
    half.dvPhi = 3.14159265f;
    ASSERT_EQ(dev->SetLight(0, &wide), D3D_OK);
    ASSERT_EQ(dev->LightEnable(0, TRUE), D3D_OK);
    D3DMATERIAL7 m = material({1, 1, 1, 1});
    dev->SetMaterial(&m);
    V3 first{-2, -1.5f, 5};
    draw(first, kFacing);
    EXPECT_TRUE(near_colour(pixel(32, 32), d3d_lighting({half}, m, first, kFacing, 0, false, true), 2));
}

TEST_F(RenderLighting, NormalizeNormalsRescalesNormals) {
    D3DLIGHT7 l = directional({0, 0, 1}, kWhite);
    dev->SetLight(0, &l);
    dev->LightEnable(0, TRUE);
    D3DMATERIAL7 m = material({0.8f, 0.8f, 0.8f, 1});
    dev->SetMaterial(&m);
    dev->SetRenderState(D3DRENDERSTATE_NORMALIZENORMALS, TRUE);
    draw({-2, -1.5f, 5}, {0, 0, -0.25f});
    EXPECT_TRUE(near_colour(pixel(32, 32), rgb(0.8f, 0.8f, 0.8f), 2));
}

TEST_F(RenderLighting, LightsMoveWithTheView) {
    // A light set in world space is seen through the view: turning the camera around the y
    // axis by 180 degrees turns a head-on light into one from behind.
    D3DLIGHT7 l = directional({0, 0, 1}, kWhite);
    dev->SetLight(0, &l);
    dev->LightEnable(0, TRUE);
    D3DMATERIAL7 m = material({1, 1, 1, 1});
    dev->SetMaterial(&m);
    D3DMATRIX turn = identity();
    turn._11 = -1, turn._33 = -1;
    dev->SetTransform(D3DTRANSFORMSTATE_VIEW, &turn);
    // The triangle in world space behind the origin faces the turned camera.
    D3DVERTEX v[3] = {{2, -1.5f, -5, 0, 0, 1, 0, 0}, {-3, -1, -5, 0, 0, 1, 0, 0}, {0, 3, -5, 0, 0, 1, 0, 0}};
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_VERTEX, v, 3, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF000000, 1)) << "the light now comes from behind the surface";
}

struct SourceCase {
    const char* name;
    DWORD fvf;
    BOOL colour_vertex;
    DWORD diffuse_source;
    DWORD expected;
};
class RenderLightingSources : public RenderLighting {};

TEST_F(RenderLightingSources, MaterialColoursComeFromTheVertexOnlyWhenAsked) {
    D3DLIGHT7 l = directional({0, 0, 1}, kWhite);
    dev->SetLight(0, &l);
    dev->LightEnable(0, TRUE);
    D3DMATERIAL7 m = material({0, 0, 1, 1});  // blue material, red vertices
    dev->SetMaterial(&m);
    struct Vertex {
        float x, y, z, nx, ny, nz;
        DWORD diffuse;
    } v[3] = {{-2, -1.5f, 5, 0, 0, -1, 0xFFFF0000}, {3, -1, 5, 0, 0, -1, 0xFFFF0000}, {0, 3, 5, 0, 0, -1, 0xFFFF0000}};
    const DWORD fvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE;
    const SourceCase cases[] = {
        {"COLOR1 with a diffuse vertex", fvf, TRUE, D3DMCS_COLOR1, 0xFFFF0000},
        {"MATERIAL", fvf, TRUE, D3DMCS_MATERIAL, 0xFF0000FF},
        {"COLORVERTEX off", fvf, FALSE, D3DMCS_COLOR1, 0xFF0000FF},
        {"COLOR2 without a specular colour", fvf, TRUE, D3DMCS_COLOR2, 0xFF0000FF},
    };
    for (const SourceCase& c : cases) {
        clear(0xFF000000);
        dev->SetRenderState(D3DRENDERSTATE_COLORVERTEX, c.colour_vertex);
        dev->SetRenderState(D3DRENDERSTATE_DIFFUSEMATERIALSOURCE, c.diffuse_source);
        ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, c.fvf, v, 3, 0), D3D_OK);
        EXPECT_TRUE(near_colour(pixel(32, 32), c.expected, 1)) << c.name;
    }
}

TEST_F(RenderLighting, UnlitAndNormalLessVertices) {
    // Lighting off: the vertex colours, white where the vertex has none.
    dev->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
    draw({-2, -1.5f, 5}, kFacing);
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFFFFFFFF, 0)) << "D3DVERTEX unlit is white";
    // Lighting on with no normal: every N.L term is 0, so only ambient and emissive remain.
    dev->SetRenderState(D3DRENDERSTATE_LIGHTING, TRUE);
    D3DLIGHT7 l = directional({0, 0, 1}, kWhite);
    dev->SetLight(0, &l);
    dev->LightEnable(0, TRUE);
    D3DMATERIAL7 m = material({1, 1, 1, 1}, {0, 1, 0, 1});
    dev->SetMaterial(&m);
    dev->SetRenderState(D3DRENDERSTATE_AMBIENT, 0x00808080);
    D3DLVERTEX v[3] = {{-2, -1.5f, 5, 0, 0xFFFF0000, 0, 0, 0}, {3, -1, 5, 0, 0xFFFF0000, 0, 0, 0},
                       {0, 3, 5, 0, 0xFFFF0000, 0, 0, 0}};
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_LVERTEX, v, 3, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(32, 32), rgb(0, 128 / 255.0f, 0), 1));
}

TEST_F(RenderLighting, GouraudInterpolatesLitVertexColours) {
    // One vertex faces the light, the other two face away: white fades to black across the
    // triangle, where flat shading keeps the first vertex's white everywhere.
    D3DLIGHT7 l = directional({0, 0, 1}, kWhite);
    dev->SetLight(0, &l);
    dev->LightEnable(0, TRUE);
    D3DMATERIAL7 m = material({1, 1, 1, 1});
    dev->SetMaterial(&m);
    D3DVERTEX v[3] = {{-2, -1.5f, 5, 0, 0, -1, 0, 0}, {3, -1, 5, 0, 0, 1, 0, 0}, {0, 3, 5, 0, 0, 1, 0, 0}};
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_VERTEX, v, 3, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFFFFFFFF, 0)) << "flat";
    dev->SetRenderState(D3DRENDERSTATE_SHADEMODE, D3DSHADE_GOURAUD);
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_VERTEX, v, 3, 0), D3D_OK);
    // (-2, -1.5, 5) projects to (19.2, 41.6): next to it the colour is nearly white, and it
    // falls towards the far corners.
    DWORD near_first = pixel(20, 41), centre = pixel(32, 32);
    EXPECT_GT(near_first & 0xFF, 200u);
    EXPECT_LT(centre & 0xFF, 160u);
    EXPECT_GT(centre & 0xFF, 40u);
}

}  // namespace
