// Rasterisation as Direct3D 7 does it: clearing, orientation and pixel centres, the viewport,
// culling with left-handed winding, fill and shade modes, depth, blending and the alpha test.
#include "render_test_support.h"

using namespace render_test;

namespace {

class RenderRaster : public RenderTest {
protected:
    void SetUp() override {
        RenderTest::SetUp();
        dev->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
        dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
        clear(0xFF000000);
    }
    // A triangle of untransformed coloured vertices (identity matrices: x, y in -1..1, y up).
    void draw_lvertex_triangle(const D3DLVERTEX (&v)[3]) {
        EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_LVERTEX, const_cast<D3DLVERTEX*>(v), 3, 0), D3D_OK);
    }
};

TEST_F(RenderRaster, ClearFillsTheTargetWithTheExactColour) {
    for (DWORD colour : {0xFF000000u, 0xFFFFFFFFu, 0xFF123456u, 0x80FF7F01u, 0x00010203u}) {
        clear(colour);
        std::vector<DWORD> p = read_back();
        for (size_t i : {size_t{0}, size_t{kWidth - 1}, size_t{kWidth * kHeight / 2 + 7}, p.size() - 1})
            EXPECT_TRUE(near_colour(p[i], colour, 0)) << "pixel " << i;
    }
}

TEST_F(RenderRaster, ClearTakesRectanglesInsideTheViewportOnly) {
    clear(0xFF0000FF);
    D3DVIEWPORT7 vp{16, 16, 32, 32, 0.0f, 1.0f};
    ASSERT_EQ(dev->SetViewport(&vp), D3D_OK);
    D3DRECT r{0, 0, 24, 24};  // reaches outside the viewport on the top-left
    ASSERT_EQ(dev->Clear(1, &r, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(16, 16), 0xFFFF0000, 0));
    EXPECT_TRUE(near_colour(pixel(23, 23), 0xFFFF0000, 0));
    EXPECT_TRUE(near_colour(pixel(15, 15), 0xFF0000FF, 0)) << "outside the viewport";
    EXPECT_TRUE(near_colour(pixel(24, 20), 0xFF0000FF, 0)) << "outside the rectangle";
    // Without rectangles Clear takes the whole viewport and nothing else.
    ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(47, 47), 0xFF00FF00, 0));
    EXPECT_TRUE(near_colour(pixel(48, 47), 0xFF0000FF, 0));
}

TEST_F(RenderRaster, PretransformedPointLandsOnItsPixel) {
    // Direct3D puts pixel centres on integer coordinates: a point at (3, 4) lights pixel (3, 4),
    // with row 0 the top row.
    D3DTLVERTEX v{3.0f, 4.0f, 0.5f, 1.0f, 0xFFFFFFFF, 0, 0, 0};
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_POINTLIST, D3DFVF_TLVERTEX, &v, 1, 0), D3D_OK);
    std::vector<DWORD> p = read_back();
    for (int y = 2; y <= 6; ++y)
        for (int x = 1; x <= 5; ++x)
            EXPECT_TRUE(near_colour(p[y * kWidth + x], x == 3 && y == 4 ? 0xFFFFFFFF : 0xFF000000, 0))
                << "pixel " << x << "," << y;
}

TEST_F(RenderRaster, LineListsAndStrips) {
    // A list of two horizontal lines and a strip going down then right.
    D3DTLVERTEX list[4] = {{4, 10, 0.5f, 1, 0xFFFF0000, 0, 0, 0}, {60, 10, 0.5f, 1, 0xFFFF0000, 0, 0, 0},
                           {4, 20, 0.5f, 1, 0xFF00FF00, 0, 0, 0}, {60, 20, 0.5f, 1, 0xFF00FF00, 0, 0, 0}};
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_LINELIST, D3DFVF_TLVERTEX, list, 4, 0), D3D_OK);
    D3DTLVERTEX strip[3] = {{30, 30, 0.5f, 1, 0xFF0000FF, 0, 0, 0}, {30, 60, 0.5f, 1, 0xFF0000FF, 0, 0, 0},
                            {60, 60, 0.5f, 1, 0xFF0000FF, 0, 0, 0}};
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_LINESTRIP, D3DFVF_TLVERTEX, strip, 3, 0), D3D_OK);
    std::vector<DWORD> p = read_back();
    EXPECT_TRUE(near_colour(p[10 * kWidth + 30], 0xFFFF0000, 0));
    EXPECT_TRUE(near_colour(p[20 * kWidth + 30], 0xFF00FF00, 0));
    EXPECT_TRUE(near_colour(p[15 * kWidth + 30], 0xFF000000, 0)) << "nothing between the two lines";
    EXPECT_TRUE(near_colour(p[45 * kWidth + 30], 0xFF0000FF, 0));
    EXPECT_TRUE(near_colour(p[60 * kWidth + 45], 0xFF0000FF, 0));
    EXPECT_TRUE(near_colour(p[45 * kWidth + 45], 0xFF000000, 0));
}

TEST_F(RenderRaster, YGrowsDownwardOnScreenAndUpwardInCameraSpace) {
    // Pre-transformed: a rectangle near y = 0 is at the top of the image.
    draw_rect(0, 0, 64, 8, 0xFFFF0000);
    EXPECT_TRUE(near_colour(pixel(32, 2), 0xFFFF0000, 0));
    EXPECT_TRUE(near_colour(pixel(32, 60), 0xFF000000, 0));
    // Transformed: +y is up, so the upper half of clip space is the top of the image.
    const D3DLVERTEX up[3] = {{-1, 0.2f, 0.5f, 0, 0xFF00FF00, 0, 0, 0}, {1, 0.2f, 0.5f, 0, 0xFF00FF00, 0, 0, 0},
                              {0, 1, 0.5f, 0, 0xFF00FF00, 0, 0, 0}};
    draw_lvertex_triangle(up);
    EXPECT_TRUE(near_colour(pixel(32, 20), 0xFF00FF00, 0));
    EXPECT_TRUE(near_colour(pixel(32, 40), 0xFF000000, 0));
}

TEST_F(RenderRaster, ViewportMapsTopLeftPixel) {
    // A full clip-space quad fills exactly the viewport's pixels.
    D3DVIEWPORT7 vp{32, 8, 16, 24, 0.0f, 1.0f};
    ASSERT_EQ(dev->SetViewport(&vp), D3D_OK);
    D3DLVERTEX q[4] = {{-1, 1, 0.5f, 0, 0xFFFFFFFF, 0, 0, 0}, {1, 1, 0.5f, 0, 0xFFFFFFFF, 0, 0, 0},
                       {-1, -1, 0.5f, 0, 0xFFFFFFFF, 0, 0, 0}, {1, -1, 0.5f, 0, 0xFFFFFFFF, 0, 0, 0}};
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_LVERTEX, q, 4, 0), D3D_OK);
    std::vector<DWORD> p = read_back();
    auto at = [&](int x, int y) { return p[y * kWidth + x]; };
    EXPECT_TRUE(near_colour(at(32, 8), 0xFFFFFFFF, 0));
    EXPECT_TRUE(near_colour(at(47, 31), 0xFFFFFFFF, 0));
    EXPECT_TRUE(near_colour(at(31, 8), 0xFF000000, 0));
    EXPECT_TRUE(near_colour(at(48, 20), 0xFF000000, 0));
    EXPECT_TRUE(near_colour(at(40, 7), 0xFF000000, 0));
    EXPECT_TRUE(near_colour(at(40, 32), 0xFF000000, 0));
    D3DVIEWPORT7 back_vp{};
    ASSERT_EQ(dev->GetViewport(&back_vp), D3D_OK);
    EXPECT_EQ(std::memcmp(&back_vp, &vp, sizeof vp), 0);
}

struct CullCase {
    DWORD mode;
    bool clockwise;
    bool drawn;
};
class RenderRasterCull : public RenderRaster, public ::testing::WithParamInterface<CullCase> {};

TEST_P(RenderRasterCull, CullModesUseLeftHandedWinding) {
    const CullCase& c = GetParam();
    dev->SetRenderState(D3DRENDERSTATE_CULLMODE, c.mode);
    // Clockwise on screen (y down): (8,8) -> (56,8) -> (8,56).
    D3DTLVERTEX a{8, 8, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0}, b{56, 8, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0},
        d{8, 56, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0};
    D3DTLVERTEX tl[3] = {a, c.clockwise ? b : d, c.clockwise ? d : b};
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, tl, 3, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(16, 16), c.drawn ? 0xFFFFFFFF : 0xFF000000, 0)) << "pre-transformed";
    // The same through the transform: clip-space y is up, so the screen winding is what counts.
    clear(0xFF000000);
    D3DLVERTEX p{-0.75f, 0.75f, 0.5f, 0, 0xFFFFFFFF, 0, 0, 0}, q{0.75f, 0.75f, 0.5f, 0, 0xFFFFFFFF, 0, 0, 0},
        r{-0.75f, -0.75f, 0.5f, 0, 0xFFFFFFFF, 0, 0, 0};
    D3DLVERTEX lv[3] = {p, c.clockwise ? q : r, c.clockwise ? r : q};
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_LVERTEX, lv, 3, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(16, 16), c.drawn ? 0xFFFFFFFF : 0xFF000000, 0)) << "transformed";
}

INSTANTIATE_TEST_SUITE_P(Modes, RenderRasterCull,
                         ::testing::Values(CullCase{D3DCULL_NONE, true, true}, CullCase{D3DCULL_NONE, false, true},
                                           CullCase{D3DCULL_CW, true, false}, CullCase{D3DCULL_CW, false, true},
                                           CullCase{D3DCULL_CCW, true, true}, CullCase{D3DCULL_CCW, false, false}));

TEST_F(RenderRaster, WireframeDrawsEdgesOnlyAndPointModeTheCorners) {
    dev->SetRenderState(D3DRENDERSTATE_FILLMODE, D3DFILL_WIREFRAME);
    D3DTLVERTEX t[3] = {{8, 8, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0}, {56, 8, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0},
                        {8, 56, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0}};
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, t, 3, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(30, 8), 0xFFFFFFFF, 0)) << "top edge";
    EXPECT_TRUE(near_colour(pixel(8, 30), 0xFFFFFFFF, 0)) << "left edge";
    EXPECT_TRUE(near_colour(pixel(20, 20), 0xFF000000, 0)) << "interior";
    clear(0xFF000000);
    dev->SetRenderState(D3DRENDERSTATE_FILLMODE, D3DFILL_POINT);
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, t, 3, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(8, 8), 0xFFFFFFFF, 0));
    EXPECT_TRUE(near_colour(pixel(56, 8), 0xFFFFFFFF, 0));
    EXPECT_TRUE(near_colour(pixel(30, 8), 0xFF000000, 0));
}

struct ShadeCase {
    D3DPRIMITIVETYPE type;
    int first_provoking, second_provoking;  // the vertices whose colours the triangles take when flat
};
class RenderRasterShade : public RenderRaster, public ::testing::WithParamInterface<ShadeCase> {};

// Direct3D's first vertex of triangle i: i in a strip, i + 1 in a fan.
TEST_P(RenderRasterShade, FlatTakesTheFirstVertexOfEachTriangle) {
    const DWORD colours[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00};
    // Strip: triangles (0,1,2) (1,2,3). Fan: (0,1,2) (0,2,3). Both cover the square's halves.
    D3DTLVERTEX strip[4] = {{0, 0, 0.5f, 1, colours[0], 0, 0, 0}, {64, 0, 0.5f, 1, colours[1], 0, 0, 0},
                            {0, 64, 0.5f, 1, colours[2], 0, 0, 0}, {64, 64, 0.5f, 1, colours[3], 0, 0, 0}};
    D3DTLVERTEX fan[4] = {{0, 0, 0.5f, 1, colours[0], 0, 0, 0}, {64, 0, 0.5f, 1, colours[1], 0, 0, 0},
                          {64, 64, 0.5f, 1, colours[2], 0, 0, 0}, {0, 64, 0.5f, 1, colours[3], 0, 0, 0}};
    D3DTLVERTEX* v = GetParam().type == D3DPT_TRIANGLESTRIP ? strip : fan;
    dev->SetRenderState(D3DRENDERSTATE_SHADEMODE, D3DSHADE_FLAT);
    ASSERT_EQ(dev->DrawPrimitive(GetParam().type, D3DFVF_TLVERTEX, v, 4, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(20, 8), colours[GetParam().first_provoking], 0)) << "first triangle";
    EXPECT_TRUE(near_colour(pixel(50, 56), colours[GetParam().second_provoking], 0)) << "second triangle";
    // Gouraud blends the corners: the middle of the top edge is between red and green.
    dev->SetRenderState(D3DRENDERSTATE_SHADEMODE, D3DSHADE_GOURAUD);
    ASSERT_EQ(dev->DrawPrimitive(GetParam().type, D3DFVF_TLVERTEX, v, 4, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(32, 0), 0xFF808000, 6));
}

INSTANTIATE_TEST_SUITE_P(Primitives, RenderRasterShade,
                         ::testing::Values(ShadeCase{D3DPT_TRIANGLESTRIP, 0, 1}, ShadeCase{D3DPT_TRIANGLEFAN, 1, 2}));

struct DepthCase {
    DWORD zenable, zfunc, zwrite;
    DWORD second;  // colour left after drawing near red, then far blue, then probing with green at mid depth
    DWORD third;
};
class RenderRasterDepth : public RenderRaster, public ::testing::WithParamInterface<DepthCase> {};

TEST_P(RenderRasterDepth, DepthTestAndWrite) {
    const DepthCase& c = GetParam();
    dev->SetRenderState(D3DRENDERSTATE_ZENABLE, c.zenable);
    dev->SetRenderState(D3DRENDERSTATE_ZFUNC, c.zfunc);
    dev->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, c.zwrite);
    draw_rect(0, 0, 64, 64, 0xFFFF0000, 0.3f);
    draw_rect(0, 0, 64, 64, 0xFF0000FF, 0.7f);
    EXPECT_TRUE(near_colour(pixel(32, 32), c.second, 0));
    draw_rect(0, 0, 64, 64, 0xFF00FF00, 0.5f);
    EXPECT_TRUE(near_colour(pixel(32, 32), c.third, 0));
}

INSTANTIATE_TEST_SUITE_P(
    States, RenderRasterDepth,
    ::testing::Values(DepthCase{TRUE, D3DCMP_LESSEQUAL, TRUE, 0xFFFF0000, 0xFFFF0000},
                      DepthCase{TRUE, D3DCMP_GREATER, TRUE, 0xFF000000, 0xFF000000},  // cleared to 1: nothing is greater
                      DepthCase{TRUE, D3DCMP_ALWAYS, TRUE, 0xFF0000FF, 0xFF00FF00},
                      DepthCase{TRUE, D3DCMP_LESSEQUAL, FALSE, 0xFF0000FF, 0xFF00FF00},  // nothing written
                      DepthCase{FALSE, D3DCMP_LESSEQUAL, TRUE, 0xFF0000FF, 0xFF00FF00}));

TEST_F(RenderRaster, ZBiasDrawsNearerAtEqualDepth) {
    draw_rect(0, 0, 64, 64, 0xFFFF0000, 0.5f);
    dev->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_LESS);
    draw_rect(0, 0, 64, 64, 0xFF0000FF, 0.5f);
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFFFF0000, 0)) << "equal depth fails LESS";
    dev->SetRenderState(D3DRENDERSTATE_ZBIAS, 4);
    draw_rect(0, 0, 64, 64, 0xFF0000FF, 0.5f);
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF0000FF, 0)) << "biased nearer";
}

struct BlendCase {
    DWORD src, dst;
    DWORD expected;
};
class RenderRasterBlend : public RenderRaster, public ::testing::WithParamInterface<BlendCase> {};

TEST_P(RenderRasterBlend, AlphaBlendingFactors) {
    // Destination (0.2, 0.4, 0.6), source (1.0, 0.5, 0.0) with alpha 0.25; the target has no
    // alpha channel, so destination alpha reads 1.
    clear(rgb(0.2f, 0.4f, 0.6f));
    dev->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
    dev->SetRenderState(D3DRENDERSTATE_SRCBLEND, GetParam().src);
    dev->SetRenderState(D3DRENDERSTATE_DESTBLEND, GetParam().dst);
    draw_rect(0, 0, 64, 64, 0x40FF8000);
    EXPECT_TRUE(near_colour(pixel(32, 32), GetParam().expected, 2));
}

const float kA = 64.0f / 255.0f;
INSTANTIATE_TEST_SUITE_P(
    Factors, RenderRasterBlend,
    ::testing::Values(BlendCase{D3DBLEND_ONE, D3DBLEND_ZERO, rgb(1.0f, 128 / 255.0f, 0.0f)},
                      BlendCase{D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA,
                                rgb(kA + 0.2f * (1 - kA), 128 / 255.0f * kA + 0.4f * (1 - kA), 0.6f * (1 - kA))},
                      BlendCase{D3DBLEND_ONE, D3DBLEND_ONE, rgb(1.0f, 128 / 255.0f + 0.4f, 0.6f)},
                      BlendCase{D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, rgb(0.2f, 0.4f * 128 / 255.0f, 0.0f)},
                      BlendCase{D3DBLEND_DESTCOLOR, D3DBLEND_ZERO, rgb(0.2f, 0.4f * 128 / 255.0f, 0.0f)},
                      BlendCase{D3DBLEND_INVDESTCOLOR, D3DBLEND_ZERO, rgb(0.8f, 0.6f * 128 / 255.0f, 0.0f)},
                      BlendCase{D3DBLEND_DESTALPHA, D3DBLEND_ZERO, rgb(1.0f, 128 / 255.0f, 0.0f)},
                      BlendCase{D3DBLEND_INVDESTALPHA, D3DBLEND_ONE, rgb(0.2f, 0.4f, 0.6f)},
                      BlendCase{D3DBLEND_BOTHSRCALPHA, D3DBLEND_ONE,  // DESTBLEND ignored
                                rgb(kA + 0.2f * (1 - kA), 128 / 255.0f * kA + 0.4f * (1 - kA), 0.6f * (1 - kA))},
                      BlendCase{D3DBLEND_BOTHINVSRCALPHA, D3DBLEND_ONE,
                                rgb((1 - kA) + 0.2f * kA, 128 / 255.0f * (1 - kA) + 0.4f * kA, 0.6f * kA)}));

struct AlphaTestCase {
    DWORD func, ref;
    bool drawn;  // for a source alpha of 0x80 (128)
};
class RenderRasterAlphaTest : public RenderRaster, public ::testing::WithParamInterface<AlphaTestCase> {};

TEST_P(RenderRasterAlphaTest, AlphaTestComparesAlphaTimes255WithTheReference) {
    dev->SetRenderState(D3DRENDERSTATE_ALPHATESTENABLE, TRUE);
    dev->SetRenderState(D3DRENDERSTATE_ALPHAFUNC, GetParam().func);
    dev->SetRenderState(D3DRENDERSTATE_ALPHAREF, GetParam().ref);
    draw_rect(0, 0, 64, 64, 0x80FFFFFF);
    EXPECT_TRUE(near_colour(pixel(32, 32), GetParam().drawn ? 0xFFFFFFFF : 0xFF000000, 0));
}

INSTANTIATE_TEST_SUITE_P(Functions, RenderRasterAlphaTest,
                         ::testing::Values(AlphaTestCase{D3DCMP_NEVER, 0, false}, AlphaTestCase{D3DCMP_ALWAYS, 255, true},
                                           AlphaTestCase{D3DCMP_LESS, 128, false}, AlphaTestCase{D3DCMP_LESS, 129, true},
                                           AlphaTestCase{D3DCMP_EQUAL, 128, true}, AlphaTestCase{D3DCMP_EQUAL, 127, false},
                                           AlphaTestCase{D3DCMP_LESSEQUAL, 128, true},
                                           AlphaTestCase{D3DCMP_GREATER, 128, false},
                                           AlphaTestCase{D3DCMP_GREATER, 127, true},
                                           AlphaTestCase{D3DCMP_NOTEQUAL, 128, false},
                                           AlphaTestCase{D3DCMP_GREATEREQUAL, 128, true},
                                           AlphaTestCase{D3DCMP_GREATEREQUAL, 129, false}));

TEST_F(RenderRaster, VertexBlendingMixesWorldMatrices) {
    // One weight: position = b * (p WORLD) + (1 - b) * (p WORLD1). WORLD moves right,
    // WORLD1 left; the weight decides where the triangle lands.
    D3DMATRIX right = translation(0.5f, 0, 0), left = translation(-0.5f, 0, 0);
    dev->SetTransform(D3DTRANSFORMSTATE_WORLD, &right);
    dev->SetTransform(D3DTRANSFORMSTATE_WORLD1, &left);
    dev->SetRenderState(D3DRENDERSTATE_VERTEXBLEND, 1);
    struct V {
        float x, y, z, weight;
        DWORD diffuse;
    };
    const DWORD fvf = D3DFVF_XYZB1 | D3DFVF_DIFFUSE;
    for (float weight : {1.0f, 0.0f}) {
        clear(0xFF000000);
        V v[3] = {{-0.2f, -0.2f, 0.5f, weight, 0xFFFFFFFF}, {0.2f, -0.2f, 0.5f, weight, 0xFFFFFFFF},
                  {0.0f, 0.2f, 0.5f, weight, 0xFFFFFFFF}};
        ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, fvf, v, 3, 0), D3D_OK);
        EXPECT_TRUE(near_colour(pixel(48, 34), weight == 1.0f ? 0xFFFFFFFF : 0xFF000000, 0)) << weight;
        EXPECT_TRUE(near_colour(pixel(16, 34), weight == 1.0f ? 0xFF000000 : 0xFFFFFFFF, 0)) << weight;
    }
}

TEST_F(RenderRaster, StencilMasksDrawing) {
    dev->SetRenderState(D3DRENDERSTATE_STENCILENABLE, TRUE);
    dev->SetRenderState(D3DRENDERSTATE_STENCILFUNC, D3DCMP_ALWAYS);
    dev->SetRenderState(D3DRENDERSTATE_STENCILREF, 1);
    dev->SetRenderState(D3DRENDERSTATE_STENCILPASS, D3DSTENCILOP_REPLACE);
    ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0), D3D_OK);
    draw_rect(0, 0, 32, 64, 0xFF0000FF);  // writes stencil 1 on the left half
    dev->SetRenderState(D3DRENDERSTATE_STENCILFUNC, D3DCMP_EQUAL);
    dev->SetRenderState(D3DRENDERSTATE_STENCILPASS, D3DSTENCILOP_KEEP);
    draw_rect(0, 0, 64, 64, 0xFF00FF00, 0.4f);
    EXPECT_TRUE(near_colour(pixel(16, 32), 0xFF00FF00, 0));
    EXPECT_TRUE(near_colour(pixel(48, 32), 0xFF000000, 0));
}

TEST_F(RenderRaster, TargetsWithoutAlphaReadDestinationAlphaAsOne) {
    // Neither a clear nor a draw with alpha 0 may leave a zero alpha in an X8R8G8B8 target.
    clear(0x00000000);
    draw_rect(0, 0, 32, 64, 0x00FFFFFF);
    dev->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
    dev->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_DESTALPHA);
    dev->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ZERO);
    draw_rect(0, 0, 64, 64, 0xFF20C040, 0.4f);
    EXPECT_TRUE(near_colour(pixel(16, 32), 0xFF20C040, 1)) << "over the alpha-0 draw";
    EXPECT_TRUE(near_colour(pixel(48, 32), 0xFF20C040, 1)) << "over the alpha-0 clear";
}

TEST_F(RenderRaster, DepthClearsKeepTheStencil) {
    auto mark_left_half = [&](DWORD ref) {
        dev->SetRenderState(D3DRENDERSTATE_STENCILENABLE, TRUE);
        dev->SetRenderState(D3DRENDERSTATE_STENCILFUNC, D3DCMP_ALWAYS);
        dev->SetRenderState(D3DRENDERSTATE_STENCILREF, ref);
        dev->SetRenderState(D3DRENDERSTATE_STENCILPASS, D3DSTENCILOP_REPLACE);
        draw_rect(0, 0, 32, 64, 0xFF0000FF);
        dev->SetRenderState(D3DRENDERSTATE_STENCILENABLE, FALSE);
    };
    auto draw_where_stencil_is = [&](DWORD ref) {
        clear(0xFF000000);  // colour and depth only
        dev->SetRenderState(D3DRENDERSTATE_STENCILENABLE, TRUE);
        dev->SetRenderState(D3DRENDERSTATE_STENCILFUNC, D3DCMP_EQUAL);
        dev->SetRenderState(D3DRENDERSTATE_STENCILREF, ref);
        dev->SetRenderState(D3DRENDERSTATE_STENCILPASS, D3DSTENCILOP_KEEP);
        draw_rect(0, 0, 64, 64, 0xFF00FF00);
        dev->SetRenderState(D3DRENDERSTATE_STENCILENABLE, FALSE);
    };

    // Written by drawing.
    mark_left_half(1);
    draw_where_stencil_is(1);
    EXPECT_TRUE(near_colour(pixel(16, 32), 0xFF00FF00, 0));
    EXPECT_TRUE(near_colour(pixel(48, 32), 0xFF000000, 0));

    // Written by a stencil clear.
    ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 3), D3D_OK);
    draw_where_stencil_is(3);
    EXPECT_TRUE(near_colour(pixel(48, 32), 0xFF00FF00, 0));

    // Cleared to zero in part of the target only: the rest keeps its values.
    ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0), D3D_OK);
    mark_left_half(2);
    D3DVIEWPORT7 full{}, right{32, 0, 32, 64, 0.0f, 1.0f};
    ASSERT_EQ(dev->GetViewport(&full), D3D_OK);
    ASSERT_EQ(dev->SetViewport(&right), D3D_OK);
    ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0), D3D_OK);
    ASSERT_EQ(dev->SetViewport(&full), D3D_OK);
    draw_where_stencil_is(2);
    EXPECT_TRUE(near_colour(pixel(16, 32), 0xFF00FF00, 0));
    EXPECT_TRUE(near_colour(pixel(48, 32), 0xFF000000, 0));
}

}  // namespace
