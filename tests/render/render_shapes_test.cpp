// The utility layer's shapes: their geometry (extent, normals, winding) and how they look when
// drawn lit through the device.
#include "render_test_support.h"

#include "shapes.h"

#include <algorithm>
#include <functional>

using namespace render_test;
using vantor::render::ShapeGeometry;
using vantor::render::ShapeVertex;

namespace {

struct Box3 {
    float lo[3], hi[3];
};

struct GeometryCase {
    const char* name;
    std::function<HRESULT(ShapeGeometry*)> build;
    Box3 extent;
    // The point a vertex's normal must point away from, from the vertex's position.
    std::function<void(const ShapeVertex&, float ref[3])> inside;
};

void origin(const ShapeVertex&, float r[3]) { r[0] = r[1] = r[2] = 0; }

const GeometryCase kGeometry[] = {
    {"polygon", [](ShapeGeometry* g) { return vantor::render::polygon_geometry(1.0f, 4, g); },
     {{-0.70711f, -0.70711f, 0}, {0.70711f, 0.70711f, 0}},
     [](const ShapeVertex& v, float r[3]) { r[0] = v.x, r[1] = v.y, r[2] = 1; }},  // faces -z
    {"box", [](ShapeGeometry* g) { return vantor::render::box_geometry(1, 2, 3, g); },
     {{-0.5f, -1, -1.5f}, {0.5f, 1, 1.5f}}, origin},
    {"cylinder", [](ShapeGeometry* g) { return vantor::render::cylinder_geometry(1, 0.5f, 2, 8, 3, g); },
     {{-1, -1, -1}, {1, 1, 1}}, origin},
    {"sphere", [](ShapeGeometry* g) { return vantor::render::sphere_geometry(1, 12, 6, g); },
     {{-1, -1, -1}, {1, 1, 1}}, origin},
    {"torus", [](ShapeGeometry* g) { return vantor::render::torus_geometry(0.25f, 1, 8, 8, g); },
     {{-1.25f, -1.25f, -0.25f}, {1.25f, 1.25f, 0.25f}},
     [](const ShapeVertex& v, float r[3]) {  // the centre of the tube's cross-section
         float d = std::hypot(v.x, v.y);
         r[0] = v.x / d, r[1] = v.y / d, r[2] = 0;
     }},
};

class ShapeGeometryTest : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(ShapeGeometryTest, ExtentNormalsAndWinding) {
    const GeometryCase& c = GetParam();
    ShapeGeometry g;
    ASSERT_EQ(c.build(&g), S_OK);
    ASSERT_FALSE(g.indices.empty());
    ASSERT_EQ(g.indices.size() % 3, 0u);
    Box3 b{{1e9f, 1e9f, 1e9f}, {-1e9f, -1e9f, -1e9f}};
    for (const ShapeVertex& v : g.vertices) {
        const float p[3] = {v.x, v.y, v.z}, n[3] = {v.nx, v.ny, v.nz};
        for (int k = 0; k < 3; ++k) b.lo[k] = std::min(b.lo[k], p[k]), b.hi[k] = std::max(b.hi[k], p[k]);
        EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0f, 1e-4f) << "unit normal";
        float ref[3];
        c.inside(v, ref);
        EXPECT_GT(n[0] * (p[0] - ref[0]) + n[1] * (p[1] - ref[1]) + n[2] * (p[2] - ref[2]), 0.0f)
            << "outward normal at " << p[0] << "," << p[1] << "," << p[2];
    }
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(b.lo[k], c.extent.lo[k], 1e-4f) << "axis " << k;
        EXPECT_NEAR(b.hi[k], c.extent.hi[k], 1e-4f) << "axis " << k;
    }
    // Clockwise on a left-handed screen as seen from outside: cross(b - a, c - a) points out.
    for (size_t t = 0; t < g.indices.size(); t += 3) {
        const ShapeVertex &a = g.vertices[g.indices[t]], &p = g.vertices[g.indices[t + 1]], &q = g.vertices[g.indices[t + 2]];
        float u[3] = {p.x - a.x, p.y - a.y, p.z - a.z}, w[3] = {q.x - a.x, q.y - a.y, q.z - a.z};
        float f[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
        float ref[3];
        c.inside(a, ref);
        EXPECT_GT(f[0] * (a.x - ref[0]) + f[1] * (a.y - ref[1]) + f[2] * (a.z - ref[2]), 0.0f) << "triangle " << t / 3;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ShapeGeometryTest, ::testing::ValuesIn(kGeometry),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ShapeGeometry, TeapotStandsUprightWithOutwardNormals) {
    ShapeGeometry g;
    ASSERT_EQ(vantor::render::teapot_geometry(&g), S_OK);
    const ShapeVertex *low = &g.vertices[0], *high = low, *left = low;
    for (const ShapeVertex& v : g.vertices) {
        EXPECT_NEAR(v.nx * v.nx + v.ny * v.ny + v.nz * v.nz, 1.0f, 1e-4f);
        if (v.y < low->y) low = &v;
        if (v.y > high->y) high = &v;
        if (v.x < left->x) left = &v;
    }
    EXPECT_NEAR(low->y, -0.7875f, 1e-4f);
    EXPECT_NEAR(high->y, 0.7875f, 1e-4f);
    EXPECT_NEAR(left->x, -1.5f, 1e-4f) << "the handle";
    EXPECT_LT(low->ny, -0.5f) << "the bottom faces down";
    EXPECT_GT(high->ny, 0.5f) << "the lid's knob faces up";
    EXPECT_LT(left->nx, -0.5f) << "the handle's back faces away";
}

TEST(ShapeGeometry, RefusesShapesThatCannotBeMade) {
    ShapeGeometry g;
    const float inf = INFINITY, nan = NAN;
    const struct {
        const char* what;
        HRESULT hr;
    } refused[] = {
        {"two-sided polygon", vantor::render::polygon_geometry(1, 2, &g)},
        {"negative side", vantor::render::polygon_geometry(-1, 5, &g)},
        {"infinite box", vantor::render::box_geometry(inf, 1, 1, &g)},
        {"NaN box", vantor::render::box_geometry(1, nan, 1, &g)},
        {"negative radius", vantor::render::cylinder_geometry(-1, 1, 1, 8, 1, &g)},
        {"cylinder of 2 slices", vantor::render::cylinder_geometry(1, 1, 1, 2, 1, &g)},
        {"cylinder of no stacks", vantor::render::cylinder_geometry(1, 1, 1, 8, 0, &g)},
        {"sphere of one stack", vantor::render::sphere_geometry(1, 8, 1, &g)},
        {"sphere past 16-bit indices", vantor::render::sphere_geometry(1, 300, 300, &g)},
        {"huge counts do not wrap", vantor::render::torus_geometry(1, 2, 0xFFFFFFFEu, 0xFFFFFFFEu, &g)},
        {"torus of 0 sides", vantor::render::torus_geometry(1, 2, 0, 8, &g)},
        {"point of a sphere", vantor::render::sphere_geometry(0, 8, 8, &g)},
    };
    for (const auto& r : refused) EXPECT_EQ(r.hr, D3DXERR_INVALIDPARAMETER) << r.what;
    EXPECT_EQ(vantor::render::sphere_geometry(1, D3DX_DEFAULT, D3DX_DEFAULT, &g), S_OK);
    EXPECT_EQ(g.vertices.size(), 81u) << "D3DX_DEFAULT is 8 slices and 8 stacks";
}

// --- Drawn through the device ------------------------------------------------------------------

struct PixelCase {
    const char* name;
    std::function<HRESULT(IDirect3DDevice7*, ID3DXSimpleShape**)> make;
    D3DMATRIX world;          // before the move to z = 4
    float lit[2], dim[2];     // probes in world units on the screen plane (dim: x > 1e3 for none)
    float hole[2];            // a probe that must stay background (x > 1e3 for none)
};

using vantor::multiply;
using vantor::rotation_x;
using vantor::rotation_y;
using vantor::scaling;

const PixelCase kPixels[] = {
    {"polygon", [](IDirect3DDevice7* d, ID3DXSimpleShape** s) { return opengl_backend().D3DXCreatePolygon(d, 2, 6, 1, s); },
     identity(), {-0.5f, 0}, {1e4f, 0}, {1e4f, 0}},
    {"box", [](IDirect3DDevice7* d, ID3DXSimpleShape** s) { return opengl_backend().D3DXCreateBox(d, 2, 2, 2, 1, s); },
     rotation_y(0.7853982f), {-0.7f, 0}, {0.7f, 0}, {1e4f, 0}},
    {"cylinder",
     [](IDirect3DDevice7* d, ID3DXSimpleShape** s) { return opengl_backend().D3DXCreateCylinder(d, 1.5f, 1.5f, 3, 16, 2, 1, s); },
     rotation_x(1.5707963f), {-0.9f, 0}, {0.9f, 0}, {1e4f, 0}},
    {"sphere", [](IDirect3DDevice7* d, ID3DXSimpleShape** s) { return opengl_backend().D3DXCreateSphere(d, 2, 24, 12, 1, s); },
     identity(), {-1.2f, 0}, {1.2f, 0}, {1e4f, 0}},
    {"torus", [](IDirect3DDevice7* d, ID3DXSimpleShape** s) { return opengl_backend().D3DXCreateTorus(d, 0.5f, 1.5f, 16, 24, 1, s); },
     identity(), {-2.05f, 0}, {2.05f, 0}, {0, 0}},
    {"teapot", [](IDirect3DDevice7* d, ID3DXSimpleShape** s) { return opengl_backend().D3DXCreateTeapot(d, 1, s); },
     scaling(2, 2, 2), {-1.2f, -0.4f}, {1.2f, -0.4f}, {1e4f, 0}},
};

class ShapePixels : public RenderTest, public ::testing::WithParamInterface<PixelCase> {};

TEST_P(ShapePixels, ShowsLitWhereExpected) {
    const PixelCase& c = GetParam();
    D3DMATRIX proj = perspective(1.5707963f, 1.0f, 1.0f, 100.0f);  // 8 pixels per unit at z = 4
    ASSERT_EQ(dev->SetTransform(D3DTRANSFORMSTATE_PROJECTION, &proj), D3D_OK);
    D3DMATRIX world = multiply(c.world, translation(0, 0, 4));
    ASSERT_EQ(dev->SetTransform(D3DTRANSFORMSTATE_WORLD, &world), D3D_OK);
    D3DLIGHT7 l{};
    l.dltType = D3DLIGHT_DIRECTIONAL;
    l.dvDirection = {1, 0, 1};  // from the front left
    l.dcvDiffuse = {1, 1, 1, 1};
    ASSERT_EQ(dev->SetLight(0, &l), D3D_OK);
    ASSERT_EQ(dev->LightEnable(0, TRUE), D3D_OK);
    D3DMATERIAL7 m{{1, 1, 1, 1}, {0.2f, 0.2f, 0.2f, 1}, {}, {}, 0};
    ASSERT_EQ(dev->SetMaterial(&m), D3D_OK);
    dev->SetRenderState(D3DRENDERSTATE_AMBIENT, 0xFFFFFFFF);
    dev->SetRenderState(D3DRENDERSTATE_ZENABLE, TRUE);
    dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CCW);
    clear(0xFF0000FF);

    ID3DXSimpleShape* s = nullptr;
    ASSERT_EQ(c.make(dev, &s), S_OK);
    {
        ComPtr<IDirect3DVertexBuffer7> vb;
        ASSERT_EQ(s->GetVB(vb.put()), S_OK);
        EXPECT_EQ(vb->Optimize(dev, 0), D3D_OK);  // as the engine does after building
    }
    ASSERT_EQ(dev->BeginScene(), D3D_OK);
    EXPECT_EQ(s->Draw(), S_OK);
    ASSERT_EQ(dev->EndScene(), D3D_OK);
    s->Release();

    std::vector<DWORD> p = read_back();
    auto at = [&](const float w[2]) { return p[size_t(32 - std::lround(w[1] * 8)) * kWidth + size_t(32 + std::lround(w[0] * 8))]; };
    auto grey = [](DWORD c) { return int((c >> 8) & 0xFF); };
    const float corner[2] = {-3.8f, 3.8f};
    EXPECT_EQ(at(corner), 0xFF0000FFu) << "outside the shape";
    DWORD lit = at(c.lit);
    EXPECT_EQ(lit & 0xFF, (lit >> 8) & 0xFF) << "white material, white light: " << hex(lit);
    EXPECT_GT(grey(lit), 51 + 60) << "lit side " << hex(lit);
    if (c.dim[0] < 1e3f) EXPECT_GT(grey(lit), grey(at(c.dim)) + 30) << "the far side is darker: " << hex(at(c.dim));
    if (c.hole[0] < 1e3f) EXPECT_EQ(at(c.hole), 0xFF0000FFu) << "the hole stays background";
}

INSTANTIATE_TEST_SUITE_P(Kinds, ShapePixels, ::testing::ValuesIn(kPixels),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RenderTest, ShapeRefusalsAndStaleDevice) {
    ID3DXSimpleShape* s = nullptr;
    EXPECT_EQ(opengl_backend().D3DXCreateBox(nullptr, 1, 1, 1, 1, &s), D3DXERR_NULLPOINTER);
    EXPECT_EQ(opengl_backend().D3DXCreateBox(dev, 1, 1, 1, 1, nullptr), D3DXERR_NULLPOINTER);
    EXPECT_EQ(opengl_backend().D3DXCreateBox(dev, 1, 1, 1, 9, &s), D3DXERR_INVALIDPARAMETER) << "nine texture sets";
    EXPECT_EQ(opengl_backend().D3DXCreateSphere(dev, 1, 2, 8, 1, &s), D3DXERR_INVALIDPARAMETER);
    EXPECT_EQ(s, nullptr);
    // Two texture sets: the vertex buffer carries both.
    ASSERT_EQ(opengl_backend().D3DXCreateBox(dev, 1, 1, 1, 2, &s), S_OK);
    ComPtr<IDirect3DVertexBuffer7> vb;
    ASSERT_EQ(s->GetVB(vb.put()), S_OK);
    D3DVERTEXBUFFERDESC d{sizeof d, 0, 0, 0};
    ASSERT_EQ(vb->GetVertexBufferDesc(&d), D3D_OK);
    EXPECT_EQ(d.dwFVF, DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2));
    EXPECT_EQ(d.dwNumVertices, 24u);
    WORD* indices = nullptr;
    EXPECT_EQ(s->GetIndices(&indices), 36u);
    // Once the device is gone the shape refuses to draw instead of reaching it.
    dev->Release();
    dev = nullptr;
    ctx->Release();
    ctx = nullptr;
    EXPECT_EQ(s->Draw(), D3DXERR_NULLPOINTER);
    s->Release();
}

}  // namespace

// --- Sprites -----------------------------------------------------------------------------------

namespace {

class SpritePixels : public RenderTest {
protected:
    // A 4x4 texture: red everywhere but a green texel at (0, 0), the probe.
    ComPtr<IDirectDrawSurface7> probe_texture() {
        std::vector<DWORD> texels(16, 0xFFFF0000u);
        texels[0] = 0xFF00FF00u;
        return make_texture(4, 4, texels);
    }
    void draw(IDirectDrawSurface7* t, float x, float y, float alpha, float scale, float angle, float z = 0.5f) {
        D3DXVECTOR3 at{x, y, z};
        ASSERT_EQ(dev->BeginScene(), D3D_OK);
        ASSERT_EQ(opengl_backend().D3DXPrepareDeviceForSprite(dev, FALSE), S_OK);
        dev->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTFN_POINT);  // texel-exact probes
        dev->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_POINT);
        EXPECT_EQ(opengl_backend().D3DXDrawSpriteSimple(t, dev, &at, alpha, scale, angle, nullptr, nullptr), S_OK);
        ASSERT_EQ(dev->EndScene(), D3D_OK);
    }
};

TEST_F(SpritePixels, TheProbeTexelMovesWithRotationAndScale) {
    ComPtr<IDirectDrawSurface7> t = probe_texture();
    ASSERT_TRUE(t);
    // The sprite is centred on (32, 32); the probe texel's pixels for each placement.
    const struct {
        const char* name;
        float scale, angle;
        int probe[2], red[2];  // a pixel of the probe, a pixel of the rest
    } cases[] = {
        {"as is", 1, 0, {30, 30}, {33, 33}},
        {"scale 2", 2, 0, {29, 29}, {35, 35}},               // 8x8 from (28, 28): the probe is 2x2
        {"90 degrees", 1, 1.5707963f, {33, 30}, {30, 33}},   // clockwise: top-left goes to top-right
    };
    for (const auto& c : cases) {
        clear(0xFF000000);
        draw(t.get(), 32, 32, 1, c.scale, c.angle);
        EXPECT_TRUE(near_colour(pixel(c.probe[0], c.probe[1]), 0xFF00FF00, 2)) << c.name;
        // Whatever the cull mode, the sprite shows, at a negative scale too (a half turn).
        for (DWORD cull : {D3DCULL_CW, D3DCULL_NONE}) {
            dev->SetRenderState(D3DRENDERSTATE_CULLMODE, cull);
            clear(0xFF000000);
            draw(t.get(), 32, 32, 1, c.scale, c.angle);
            EXPECT_TRUE(near_colour(pixel(c.probe[0], c.probe[1]), 0xFF00FF00, 2)) << c.name << " cull " << cull;
            clear(0xFF000000);
            draw(t.get(), 32, 32, 1, -c.scale, c.angle);
            EXPECT_TRUE(near_colour(pixel(32, 32), 0xFFFF0000, 2)) << c.name << " negative scale, cull " << cull;
        }
        dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CCW);
        clear(0xFF000000);
        draw(t.get(), 32, 32, 1, c.scale, c.angle);
        EXPECT_TRUE(near_colour(pixel(c.probe[0], c.probe[1]), 0xFF00FF00, 2)) << c.name;
        EXPECT_TRUE(near_colour(pixel(c.red[0], c.red[1]), 0xFFFF0000, 2)) << c.name;
        EXPECT_EQ(pixel(c.probe[0] + (c.scale > 1 ? 8 : 6), 32), 0xFF000000u) << c.name << ": outside stays clear";
    }
}

TEST_F(SpritePixels, SpritesDrawOverShapesWhateverTheirDepth) {
    ComPtr<IDirectDrawSurface7> t = probe_texture();
    ID3DXSimpleShape* ball = nullptr;
    ASSERT_EQ(opengl_backend().D3DXCreateSphere(dev, 2, 16, 8, 1, &ball), S_OK);
    D3DMATRIX proj = perspective(1.5707963f, 1.0f, 1.0f, 100.0f), world = translation(0, 0, 4);
    dev->SetTransform(D3DTRANSFORMSTATE_PROJECTION, &proj);
    dev->SetTransform(D3DTRANSFORMSTATE_WORLD, &world);
    dev->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
    dev->SetRenderState(D3DRENDERSTATE_ZENABLE, TRUE);
    clear(0xFF0000FF);
    ASSERT_EQ(dev->BeginScene(), D3D_OK);
    EXPECT_EQ(ball->Draw(), S_OK);
    ASSERT_EQ(dev->EndScene(), D3D_OK);
    ball->Release();
    ASSERT_NE(pixel(32, 32), 0xFF0000FFu) << "the ball covers the middle";
    draw(t.get(), 32, 32, 1, 2, 0, 0.99f);  // far behind the ball's front (depth about 0.5)
    EXPECT_TRUE(near_colour(pixel(33, 33), 0xFFFF0000, 2)) << "the sprite is drawn on top";
    dev->SetTexture(0, nullptr);
}

TEST_F(SpritePixels, TransparencyBlendsOverWhatIsThere) {
    ComPtr<IDirectDrawSurface7> t = probe_texture();
    ASSERT_TRUE(t);
    for (float alpha : {1.0f, 0.5f, 0.25f, 0.0f}) {
        clear(0xFF0000FF);
        draw(t.get(), 32, 32, alpha, 4, 0);
        const int a = int(std::lround(alpha * 255));
        const DWORD want = 0xFF000000u | (DWORD((255 * a + 127) / 255) << 16) | DWORD((255 * (255 - a) + 127) / 255);
        EXPECT_TRUE(near_colour(pixel(36, 36), want, 2)) << "alpha " << alpha;
    }
    D3DXVECTOR3 at{32, 32, 0.5f};
    EXPECT_EQ(opengl_backend().D3DXDrawSpriteSimple(nullptr, dev, &at, 1, 1, 0, nullptr, nullptr), D3DXERR_NULLPOINTER)
        << "no image to draw";
    EXPECT_EQ(opengl_backend().D3DXDrawSpriteSimple(t.get(), dev, &at, NAN, 1, 0, nullptr, nullptr), D3DXERR_INVALIDPARAMETER);
    dev->SetTexture(0, nullptr);
}

}  // namespace
