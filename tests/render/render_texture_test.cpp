// Texture stages: colour and alpha operations with their arguments and modifiers, the rule
// for a stage without a texture, coordinate generation and transforms, addressing, wrapping,
// and textures of every format reaching GL.
#include "render_test_support.h"

#include <algorithm>

using namespace render_test;

namespace {

struct C4 {
    float r, g, b, a;
};
C4 unpack(DWORD c) {
    return {((c >> 16) & 0xFF) / 255.0f, ((c >> 8) & 0xFF) / 255.0f, (c & 0xFF) / 255.0f, (c >> 24) / 255.0f};
}

constexpr DWORD kTexel = 0x99CC6633;    // T = (0.8, 0.4, 0.2), alpha 0.6
constexpr DWORD kDiffuse = 0x408080FF;  // D = (0.5, 0.5, 1.0), alpha 0.25
constexpr DWORD kFactor = 0x8040FF80;   // F = (0.25, 1.0, 0.5), alpha 0.5
constexpr DWORD kSpecular = 0x00204060;

class RenderTexture : public RenderTest {
protected:
    void SetUp() override {
        RenderTest::SetUp();
        dev->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
        dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
        dev->SetRenderState(D3DRENDERSTATE_TEXTUREFACTOR, kFactor);
        clear(0xFF000000);
    }
    void TearDown() override {
        textures_.clear();
        RenderTest::TearDown();
    }
    // A texture that lives until the end of the test.
    IDirectDrawSurface7* texture(DWORD w, DWORD h, const std::vector<DWORD>& texels) {
        return textures_.emplace_back(make_texture(w, h, texels)).get();
    }
    // A full-target quad of pre-transformed vertices with texture coordinates u0..u1, v0..v1.
    void draw_quad(float u0 = 0, float v0 = 0, float u1 = 1, float v1 = 1, DWORD diffuse = kDiffuse) {
        D3DTLVERTEX v[4] = {{0, 0, 0.5f, 1, diffuse, kSpecular, u0, v0}, {64, 0, 0.5f, 1, diffuse, kSpecular, u1, v0},
                            {0, 64, 0.5f, 1, diffuse, kSpecular, u0, v1}, {64, 64, 0.5f, 1, diffuse, kSpecular, u1, v1}};
        ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, v, 4, 0), D3D_OK);
    }
    void stage(DWORD s, DWORD op, DWORD a1, DWORD a2, DWORD aop, DWORD aa1, DWORD aa2) {
        dev->SetTextureStageState(s, D3DTSS_COLOROP, op);
        dev->SetTextureStageState(s, D3DTSS_COLORARG1, a1);
        dev->SetTextureStageState(s, D3DTSS_COLORARG2, a2);
        dev->SetTextureStageState(s, D3DTSS_ALPHAOP, aop);
        dev->SetTextureStageState(s, D3DTSS_ALPHAARG1, aa1);
        dev->SetTextureStageState(s, D3DTSS_ALPHAARG2, aa2);
    }
    std::vector<ComPtr<IDirectDrawSurface7>> textures_;
};

struct OpCase {
    const char* name;
    DWORD op, arg1, arg2;
    C4 (*expected)(C4 t, C4 d, C4 f, C4 s);
};
class RenderTextureColourOps : public RenderTexture, public ::testing::WithParamInterface<OpCase> {};

C4 clamp4(C4 c) {
    return {std::clamp(c.r, 0.0f, 1.0f), std::clamp(c.g, 0.0f, 1.0f), std::clamp(c.b, 0.0f, 1.0f), std::clamp(c.a, 0.0f, 1.0f)};
}

TEST_P(RenderTextureColourOps, ColourOperation) {
    const OpCase& c = GetParam();
    dev->SetTexture(0, texture(1, 1, {kTexel}));
    stage(0, c.op, c.arg1, c.arg2, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DTA_DIFFUSE);
    draw_quad();
    C4 e = clamp4(c.expected(unpack(kTexel), unpack(kDiffuse), unpack(kFactor), unpack(kSpecular)));
    EXPECT_TRUE(near_colour(pixel(32, 32), rgb(e.r, e.g, e.b), 2)) << c.name;
}

#define OP(name, op, a1, a2, expr) \
    OpCase { name, op, a1, a2, [](C4 t, C4 d, C4 f, C4 s) -> C4 { (void)t, (void)d, (void)f, (void)s; return expr; } }
INSTANTIATE_TEST_SUITE_P(
    Operations, RenderTextureColourOps,
    ::testing::Values(
        OP("SELECTARG1 texture", D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, t),
        OP("SELECTARG2 diffuse", D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_DIFFUSE, d),
        OP("MODULATE", D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, (C4{t.r * d.r, t.g * d.g, t.b * d.b, 1})),
        OP("MODULATE2X", D3DTOP_MODULATE2X, D3DTA_TEXTURE, D3DTA_DIFFUSE, (C4{2 * t.r * d.r, 2 * t.g * d.g, 2 * t.b * d.b, 1})),
        OP("MODULATE4X", D3DTOP_MODULATE4X, D3DTA_TEXTURE, D3DTA_TFACTOR, (C4{4 * t.r * f.r, 4 * t.g * f.g, 4 * t.b * f.b, 1})),
        OP("ADD", D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_DIFFUSE, (C4{t.r + d.r, t.g + d.g, t.b + d.b, 1})),
        OP("ADDSIGNED", D3DTOP_ADDSIGNED, D3DTA_TEXTURE, D3DTA_DIFFUSE, (C4{t.r + d.r - 0.5f, t.g + d.g - 0.5f, t.b + d.b - 0.5f, 1})),
        OP("ADDSIGNED2X", D3DTOP_ADDSIGNED2X, D3DTA_TEXTURE, D3DTA_TFACTOR,
           (C4{2 * (t.r + f.r - 0.5f), 2 * (t.g + f.g - 0.5f), 2 * (t.b + f.b - 0.5f), 1})),
        OP("SUBTRACT", D3DTOP_SUBTRACT, D3DTA_TEXTURE, D3DTA_DIFFUSE, (C4{t.r - d.r, t.g - d.g, t.b - d.b, 1})),
        OP("ADDSMOOTH", D3DTOP_ADDSMOOTH, D3DTA_TEXTURE, D3DTA_DIFFUSE,
           (C4{t.r + d.r * (1 - t.r), t.g + d.g * (1 - t.g), t.b + d.b * (1 - t.b), 1})),
        OP("BLENDDIFFUSEALPHA", D3DTOP_BLENDDIFFUSEALPHA, D3DTA_TEXTURE, D3DTA_TFACTOR,
           (C4{t.r * d.a + f.r * (1 - d.a), t.g * d.a + f.g * (1 - d.a), t.b * d.a + f.b * (1 - d.a), 1})),
        OP("BLENDTEXTUREALPHA", D3DTOP_BLENDTEXTUREALPHA, D3DTA_TEXTURE, D3DTA_DIFFUSE,
           (C4{t.r * t.a + d.r * (1 - t.a), t.g * t.a + d.g * (1 - t.a), t.b * t.a + d.b * (1 - t.a), 1})),
        OP("BLENDFACTORALPHA", D3DTOP_BLENDFACTORALPHA, D3DTA_TEXTURE, D3DTA_DIFFUSE,
           (C4{t.r * f.a + d.r * (1 - f.a), t.g * f.a + d.g * (1 - f.a), t.b * f.a + d.b * (1 - f.a), 1})),
        OP("BLENDTEXTUREALPHAPM", D3DTOP_BLENDTEXTUREALPHAPM, D3DTA_TFACTOR, D3DTA_DIFFUSE,
           (C4{f.r + d.r * (1 - t.a), f.g + d.g * (1 - t.a), f.b + d.b * (1 - t.a), 1})),
        OP("BLENDCURRENTALPHA on stage 0 is the diffuse alpha", D3DTOP_BLENDCURRENTALPHA, D3DTA_TEXTURE, D3DTA_TFACTOR,
           (C4{t.r * d.a + f.r * (1 - d.a), t.g * d.a + f.g * (1 - d.a), t.b * d.a + f.b * (1 - d.a), 1})),
        OP("MODULATEALPHA_ADDCOLOR", D3DTOP_MODULATEALPHA_ADDCOLOR, D3DTA_TEXTURE, D3DTA_DIFFUSE,
           (C4{t.r + t.a * d.r, t.g + t.a * d.g, t.b + t.a * d.b, 1})),
        OP("MODULATECOLOR_ADDALPHA", D3DTOP_MODULATECOLOR_ADDALPHA, D3DTA_TEXTURE, D3DTA_DIFFUSE,
           (C4{t.r * d.r + t.a, t.g * d.g + t.a, t.b * d.b + t.a, 1})),
        OP("MODULATEINVALPHA_ADDCOLOR", D3DTOP_MODULATEINVALPHA_ADDCOLOR, D3DTA_TEXTURE, D3DTA_DIFFUSE,
           (C4{t.r + (1 - t.a) * d.r, t.g + (1 - t.a) * d.g, t.b + (1 - t.a) * d.b, 1})),
        OP("MODULATEINVCOLOR_ADDALPHA", D3DTOP_MODULATEINVCOLOR_ADDALPHA, D3DTA_TEXTURE, D3DTA_DIFFUSE,
           (C4{(1 - t.r) * d.r + t.a, (1 - t.g) * d.g + t.a, (1 - t.b) * d.b + t.a, 1})),
        OP("DOTPRODUCT3", D3DTOP_DOTPRODUCT3, D3DTA_TEXTURE, D3DTA_DIFFUSE,
           ([&] {
               float v = 4 * ((t.r - 0.5f) * (d.r - 0.5f) + (t.g - 0.5f) * (d.g - 0.5f) + (t.b - 0.5f) * (d.b - 0.5f));
               return C4{v, v, v, v};
           }())),
        OP("PREMODULATE acts as SELECTARG1", D3DTOP_PREMODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, t),
        OP("TFACTOR argument", D3DTOP_SELECTARG1, D3DTA_TFACTOR, D3DTA_DIFFUSE, f),
        OP("SPECULAR argument", D3DTOP_SELECTARG1, D3DTA_SPECULAR, D3DTA_DIFFUSE, s),
        OP("CURRENT on stage 0 is diffuse", D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_TEXTURE, d),
        OP("COMPLEMENT", D3DTOP_SELECTARG1, D3DTA_TEXTURE | D3DTA_COMPLEMENT, D3DTA_DIFFUSE, (C4{1 - t.r, 1 - t.g, 1 - t.b, 1})),
        OP("ALPHAREPLICATE", D3DTOP_SELECTARG1, D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE, D3DTA_DIFFUSE, (C4{t.a, t.a, t.a, 1})),
        OP("both modifiers", D3DTOP_SELECTARG1, D3DTA_DIFFUSE | D3DTA_ALPHAREPLICATE | D3DTA_COMPLEMENT, D3DTA_TEXTURE,
           (C4{1 - d.a, 1 - d.a, 1 - d.a, 1}))));

struct AlphaCase {
    const char* name;
    DWORD op, arg1, arg2;
    float expected;
};
class RenderTextureAlphaOps : public RenderTexture, public ::testing::WithParamInterface<AlphaCase> {};

TEST_P(RenderTextureAlphaOps, AlphaOperation) {
    // Stage 1 shows stage 0's alpha as a grey level.
    const AlphaCase& c = GetParam();
    dev->SetTexture(0, texture(1, 1, {kTexel}));
    stage(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, c.op, c.arg1, c.arg2);
    stage(1, D3DTOP_SELECTARG1, D3DTA_CURRENT | D3DTA_ALPHAREPLICATE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_CURRENT,
          D3DTA_CURRENT);
    draw_quad();
    float a = std::clamp(c.expected, 0.0f, 1.0f);
    EXPECT_TRUE(near_colour(pixel(32, 32), rgb(a, a, a), 2)) << c.name;
}

const float kTa = 0x99 / 255.0f, kDa = 0x40 / 255.0f, kFa = 0x80 / 255.0f;
INSTANTIATE_TEST_SUITE_P(Operations, RenderTextureAlphaOps,
                         ::testing::Values(AlphaCase{"SELECTARG1", D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, kTa},
                                           AlphaCase{"SELECTARG2", D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_DIFFUSE, kDa},
                                           AlphaCase{"MODULATE", D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, kTa * kDa},
                                           AlphaCase{"ADD", D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_TFACTOR, kTa + kFa},
                                           AlphaCase{"SUBTRACT", D3DTOP_SUBTRACT, D3DTA_TEXTURE, D3DTA_DIFFUSE, kTa - kDa},
                                           AlphaCase{"COMPLEMENT", D3DTOP_SELECTARG1, D3DTA_TFACTOR | D3DTA_COMPLEMENT,
                                                     D3DTA_DIFFUSE, 1 - kFa},
                                           AlphaCase{"DISABLE keeps the current alpha", D3DTOP_DISABLE, D3DTA_TEXTURE,
                                                     D3DTA_TFACTOR, kDa}));

TEST_F(RenderTexture, TwoStagesCascade) {
    dev->SetTexture(0, texture(1, 1, {kTexel}));
    stage(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    stage(1, D3DTOP_MODULATE, D3DTA_CURRENT, D3DTA_TFACTOR, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_CURRENT);
    draw_quad();
    C4 t = unpack(kTexel), f = unpack(kFactor);
    EXPECT_TRUE(near_colour(pixel(32, 32), rgb(t.r * f.r, t.g * f.g, t.b * f.b), 2));
    // A disabled stage ends the cascade: stage 2 is never reached.
    stage(2, D3DTOP_SELECTARG1, D3DTA_TFACTOR, D3DTA_TFACTOR, D3DTOP_SELECTARG1, D3DTA_TFACTOR, D3DTA_TFACTOR);
    dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    draw_quad();
    EXPECT_TRUE(near_colour(pixel(32, 32), kTexel, 1));
    // Disabled on stage 0, the output is the diffuse colour.
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    draw_quad();
    EXPECT_TRUE(near_colour(pixel(32, 32), kDiffuse, 1));
}

TEST_F(RenderTexture, UnboundTexturePassesCurrentOn) {
    // The engine's untextured objects: MODULATE(TEXTURE, DIFFUSE) on stage 0 with no texture
    // shows the diffuse colour; a later stage reading an unbound texture passes CURRENT on.
    stage(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    draw_quad();
    EXPECT_TRUE(near_colour(pixel(32, 32), kDiffuse, 1));
    stage(1, D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT);
    draw_quad();
    EXPECT_TRUE(near_colour(pixel(32, 32), kDiffuse, 1));
    // With a texture on stage 0 the same states modulate.
    dev->SetTexture(0, texture(1, 1, {kTexel}));
    draw_quad();
    C4 t = unpack(kTexel), d = unpack(kDiffuse);
    EXPECT_TRUE(near_colour(pixel(32, 32), rgb(t.r * d.r, t.g * d.g, t.b * d.b), 2));
}

TEST_F(RenderTexture, ChangedTextureUploadsAtItsNextUse) {
    IDirectDrawSurface7* t = texture(1, 1, {0xFF00FF00});
    dev->SetTexture(0, t);
    stage(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    draw_quad();
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF00FF00, 0));
    auto sd = sized<DDSURFACEDESC2>();
    ASSERT_EQ(t->Lock(nullptr, &sd, DDLOCK_WAIT, 0), DD_OK);
    *static_cast<DWORD*>(sd.lpSurface) = 0xFFFF00FF;
    ASSERT_EQ(t->Unlock(nullptr), DD_OK);
    draw_quad();
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFFFF00FF, 0));
}

struct FormatCase {
    const char* name;
    DDPIXELFORMAT (*format)();
    DWORD raw;
    DWORD expected;  // 0xAARRGGBB after conversion
};
class RenderTextureFormats : public RenderTexture, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(RenderTextureFormats, TextureOfEveryFormatReachesGl) {
    const FormatCase& c = GetParam();
    DDPIXELFORMAT pf = c.format();
    ComPtr<IDirectDrawSurface7> t = make_surface(DDSCAPS_TEXTURE, pf, 2, 2, [&](uint8_t* row, DWORD) {
        for (DWORD x = 0; x < 2; ++x)
            for (DWORD b = 0; b < pf.dwRGBBitCount / 8; ++b) row[x * (pf.dwRGBBitCount / 8) + b] = static_cast<uint8_t>(c.raw >> (8 * b));
    });
    ASSERT_NE(t.get(), nullptr);
    if (pf.dwFlags & DDPF_PALETTEINDEXED8) {
        PALETTEENTRY entries[256] = {};
        entries[c.raw] = {0x12, 0x34, 0x56, 0};
        ComPtr<IDirectDrawPalette> pal;
        ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, entries, pal.put(), nullptr), DD_OK);
        ASSERT_EQ(t->SetPalette(pal.get()), DD_OK);
    }
    dev->SetTexture(0, t.get());
    stage(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    stage(1, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_CURRENT);
    draw_quad();
    EXPECT_TRUE(near_colour(pixel(32, 32), c.expected, 1)) << c.name << " colour";
    // Alpha as grey: formats without alpha read 1.
    dev->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT | D3DTA_ALPHAREPLICATE);
    draw_quad();
    DWORD a = c.expected >> 24;
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF000000 | a << 16 | a << 8 | a, 1)) << c.name << " alpha";
}

INSTANTIATE_TEST_SUITE_P(Formats, RenderTextureFormats,
                         ::testing::Values(FormatCase{"R5G6B5", formats::R5G6B5, 0xF81F, 0xFFFF00FF},
                                           FormatCase{"X1R5G5B5", formats::X1R5G5B5, 0x03E0, 0xFF00FF00},
                                           FormatCase{"A1R5G5B5 clear", formats::A1R5G5B5, 0x7C00, 0x00FF0000},
                                           FormatCase{"A1R5G5B5 opaque", formats::A1R5G5B5, 0x801F, 0xFF0000FF},
                                           FormatCase{"A4R4G4B4", formats::A4R4G4B4, 0x8F80, 0x88FF8800},
                                           FormatCase{"R8G8B8", formats::R8G8B8, 0x123456, 0xFF123456},
                                           FormatCase{"X8R8G8B8", formats::X8R8G8B8, 0x00654321, 0xFF654321},
                                           FormatCase{"A8R8G8B8", formats::A8R8G8B8, 0x40ABCDEF, 0x40ABCDEF},
                                           FormatCase{"P8 through its palette", formats::P8, 7, 0xFF123456},
                                           FormatCase{"L8", [] { return formats::L8(); }, 0x80, 0xFF808080},
                                           FormatCase{"A8L8", [] { return formats::A8L8(); }, 0x4020, 0x40202020}));

TEST_F(RenderTexture, PaletteChangesReachTheTexture) {
    DDPIXELFORMAT pf = formats::P8();
    ComPtr<IDirectDrawSurface7> t = make_surface(DDSCAPS_TEXTURE, pf, 1, 1, [](uint8_t* row, DWORD) { row[0] = 3; });
    PALETTEENTRY entries[256] = {};
    entries[3] = {255, 0, 0, 0};
    ComPtr<IDirectDrawPalette> pal;
    ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, entries, pal.put(), nullptr), DD_OK);
    ASSERT_EQ(t->SetPalette(pal.get()), DD_OK);
    dev->SetTexture(0, t.get());
    stage(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    draw_quad();
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFFFF0000, 0));
    PALETTEENTRY blue{0, 0, 255, 0};
    ASSERT_EQ(pal->SetEntries(0, 3, 1, &blue), DD_OK);
    draw_quad();
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF0000FF, 0));
}

// Texture-coordinate generation and transforms, through the transform pipeline.
class RenderTextureCoords : public RenderTexture {
protected:
    void SetUp() override {
        RenderTexture::SetUp();
        D3DMATRIX proj = perspective(1.5707963f, 1.0f, 1.0f, 100.0f);
        dev->SetTransform(D3DTRANSFORMSTATE_PROJECTION, &proj);
        // A 4x4 texture whose texel (column c, row r) is 0xFF0000rc-like: red = column, green = row.
        std::vector<DWORD> texels(16);
        for (DWORD r = 0; r < 4; ++r)
            for (DWORD c = 0; c < 4; ++c) texels[r * 4 + c] = 0xFF000000 | ((c * 80) << 16) | ((r * 80) << 8) | 0x20;
        dev->SetTexture(0, texture(4, 4, texels));
        stage(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    }
    static DWORD texel(int column, int row) {
        column &= 3, row &= 3;
        return 0xFF000000 | ((column * 80) << 16) | ((row * 80) << 8) | 0x20;
    }
    // A small triangle (half-size e) around camera-space point p with normal n; returns its pixel.
    void draw_at(float px, float py, float pz, float nx, float ny, float nz, float e, int* sx, int* sy) {
        D3DVERTEX v[3] = {{px - e, py - e, pz, nx, ny, nz, 0, 0}, {px + e, py - e, pz, nx, ny, nz, 0, 0},
                          {px, py + 2 * e, pz, nx, ny, nz, 0, 0}};  // centred on p
        ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_VERTEX, v, 3, 0), D3D_OK);
        *sx = static_cast<int>(32 + px / pz * 32);
        *sy = static_cast<int>(32 - py / pz * 32);
    }
};

TEST_F(RenderTextureCoords, CameraSpaceReflectionVector) {
    // E = normalize(P), R = E - 2 (N.E) N: with N = (0, 0, -1), R = (Ex, Ey, -Ez), so u = Ex, v = Ey.
    dev->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR);
    const float px = 1.75f, py = 3.0f, pz = 3.6f;
    float len = std::sqrt(px * px + py * py + pz * pz);
    int sx, sy;
    draw_at(px, py, pz, 0, 0, -1, 0.2f, &sx, &sy);
    EXPECT_TRUE(near_colour(pixel(sx, sy), texel(static_cast<int>(px / len * 4), static_cast<int>(py / len * 4)), 1));
}

TEST_F(RenderTextureCoords, CameraSpaceNormalAndPosition) {
    int sx, sy;
    dev->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
    draw_at(0.5f, 0.5f, 4.0f, 0.6f, 0.3f, -0.74f, 0.3f, &sx, &sy);
    EXPECT_TRUE(near_colour(pixel(sx, sy), texel(2, 1), 1)) << "u = nx 0.6, v = ny 0.3";
    clear(0xFF000000);
    dev->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEPOSITION);
    draw_at(0.6f, -0.4f, 1.5f, 0, 0, -1, 0.08f, &sx, &sy);
    // u = 0.6; v = -0.4 wraps to 0.6.
    EXPECT_TRUE(near_colour(pixel(sx, sy), texel(2, 2), 1));
}

TEST_F(RenderTextureCoords, TextureTransformTranslatesTwoFloatSets) {
    // A 2-float set is transformed as (u, v, 1, 0): the translation sits in _31 and _32.
    D3DMATRIX m = identity();
    m._31 = 0.5f, m._32 = 0.25f;
    dev->SetTransform(D3DTRANSFORMSTATE_TEXTURE0, &m);
    dev->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    D3DVERTEX v[3] = {{-0.2f, -0.2f, 2, 0, 0, -1, 0.1f, 0.1f}, {0.2f, -0.2f, 2, 0, 0, -1, 0.1f, 0.1f},
                      {0, 0.2f, 2, 0, 0, -1, 0.1f, 0.1f}};
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_VERTEX, v, 3, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(32, 32), texel(2, 1), 1)) << "(0.6, 0.35)";
    // Projected: (u, v) divided by the last kept component.
    m = identity();
    m._33 = 1.0f;
    dev->SetTransform(D3DTRANSFORMSTATE_TEXTURE0, &m);
    dev->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT3 | D3DTTFF_PROJECTED);
    const DWORD fvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1 | (1 << D3DFVF_TEXCOORDSIZE_SHIFT(0));
    struct V {
        float x, y, z, nx, ny, nz, u, v, w;
    } pv[3] = {{-0.2f, -0.2f, 2, 0, 0, -1, 1.6f, 0.6f, 2}, {0.2f, -0.2f, 2, 0, 0, -1, 1.6f, 0.6f, 2},
               {0, 0.2f, 2, 0, 0, -1, 1.6f, 0.6f, 2}};
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, fvf, pv, 3, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(32, 32), texel(3, 1), 1)) << "(0.8, 0.3)";
}

struct AddressCase {
    DWORD mode;
    DWORD left, right;  // texels at u = -0.74 and u = 1.74
};
class RenderTextureAddress : public RenderTexture, public ::testing::WithParamInterface<AddressCase> {};

TEST_P(RenderTextureAddress, AddressModes) {
    dev->SetTexture(0, texture(2, 1, {0xFFFF0000, 0xFF00FF00}));
    stage(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    dev->SetTextureStageState(0, D3DTSS_ADDRESS, GetParam().mode);
    dev->SetTextureStageState(0, D3DTSS_BORDERCOLOR, 0xFF0000FF);
    draw_quad(-1, 0, 2, 1);
    EXPECT_TRUE(near_colour(pixel(5, 32), GetParam().left, 0));
    EXPECT_TRUE(near_colour(pixel(58, 32), GetParam().right, 0));
}

INSTANTIATE_TEST_SUITE_P(Modes, RenderTextureAddress,
                         ::testing::Values(AddressCase{D3DTADDRESS_WRAP, 0xFFFF0000, 0xFF00FF00},
                                           AddressCase{D3DTADDRESS_MIRROR, 0xFF00FF00, 0xFFFF0000},
                                           AddressCase{D3DTADDRESS_CLAMP, 0xFFFF0000, 0xFF00FF00},
                                           AddressCase{D3DTADDRESS_BORDER, 0xFF0000FF, 0xFF0000FF}));

TEST_F(RenderTexture, FiltersPointAndLinear) {
    // Two texels stretched over the target: point sampling keeps them apart, linear blends them.
    dev->SetTexture(0, texture(2, 1, {0xFF000000, 0xFFFFFFFF}));
    stage(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    dev->SetTextureStageState(0, D3DTSS_ADDRESS, D3DTADDRESS_CLAMP);
    draw_quad();
    EXPECT_TRUE(near_colour(pixel(30, 32), 0xFF000000, 0));
    EXPECT_TRUE(near_colour(pixel(33, 32), 0xFFFFFFFF, 0));
    dev->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR);
    dev->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTFN_LINEAR);
    draw_quad();
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF808080, 8));
    EXPECT_TRUE(near_colour(pixel(24, 32), 0xFF404040, 8));
}

TEST_F(RenderTexture, WrapTakesTheShortWayRound) {
    // u runs 0.1 .. 0.8 across the quad. Plain interpolation reads u = 0.45 in the middle;
    // with WRAP0's U flag 0.1 counts as 1.1 and the middle reads 0.95.
    dev->SetTexture(0, texture(4, 1, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF}));
    stage(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    draw_quad(0.1f, 0, 0.8f, 0);
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF00FF00, 0));
    dev->SetRenderState(D3DRENDERSTATE_WRAP0, D3DWRAP_U);
    draw_quad(0.1f, 0, 0.8f, 0);
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFFFFFFFF, 0));
    // With flat shading the wrapping path keeps Direct3D's first vertex per triangle.
    dev->SetRenderState(D3DRENDERSTATE_SHADEMODE, D3DSHADE_FLAT);
    stage(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    dev->SetTexture(0, texture(1, 1, {0xFFFFFFFF}));
    const DWORD colours[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00};
    D3DTLVERTEX fan[4] = {{0, 0, 0.5f, 1, colours[0], 0, 0.1f, 0}, {64, 0, 0.5f, 1, colours[1], 0, 0.9f, 0},
                          {64, 64, 0.5f, 1, colours[2], 0, 0.9f, 0}, {0, 64, 0.5f, 1, colours[3], 0, 0.1f, 0}};
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLEFAN, D3DFVF_TLVERTEX, fan, 4, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(40, 8), colours[1], 0)) << "fan triangle 0 takes vertex 1";
    EXPECT_TRUE(near_colour(pixel(20, 56), colours[2], 0)) << "fan triangle 1 takes vertex 2";
    D3DTLVERTEX strip[4] = {fan[0], fan[1], fan[3], fan[2]};
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, strip, 4, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(20, 8), colours[0], 0)) << "strip triangle 0 takes vertex 0";
    EXPECT_TRUE(near_colour(pixel(50, 56), colours[1], 0)) << "strip triangle 1 takes vertex 1";
}

TEST_F(RenderTexture, BumpMappingOffsetsTheNextStage) {
    // Stage 0 holds signed (Du, Dv) = (0.5, 0); BUMPENVMAT00 = 1 moves stage 1's lookup by
    // half the texture, from the red texel to the green one. Stage 1 reads its own
    // coordinate set (TEXCOORDINDEX 1).
    auto dudv = sized<DDPIXELFORMAT>();
    dudv.dwFlags = DDPF_BUMPDUDV;
    dudv.dwBumpBitCount = 16;
    dudv.dwBumpDuBitMask = 0x00FF;
    dudv.dwBumpDvBitMask = 0xFF00;
    ComPtr<IDirectDrawSurface7> bump = make_surface(DDSCAPS_TEXTURE, dudv, 1, 1, [](uint8_t* row, DWORD) {
        row[0] = 64, row[1] = 0;  // Du = 64/127, Dv = 0
    });
    dev->SetTexture(0, bump.get());
    dev->SetTexture(1, texture(2, 1, {0xFFFF0000, 0xFF00FF00}));
    stage(0, D3DTOP_BUMPENVMAP, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DTA_DIFFUSE);
    stage(1, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT);
    dev->SetTextureStageState(1, D3DTSS_ADDRESS, D3DTADDRESS_CLAMP);
    struct V {
        float x, y, z, rhw;
        DWORD diffuse;
        float u0, v0, u1, v1;
    } v[4] = {{0, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0.25f, 0.5f}, {64, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0.25f, 0.5f},
              {0, 64, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0.25f, 0.5f}, {64, 64, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0.25f, 0.5f}};
    const DWORD fvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX2;
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, fvf, v, 4, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFFFF0000, 0)) << "a zero matrix moves nothing";
    dev->SetTextureStageState(0, D3DTSS_BUMPENVMAT00, float_bits(1.0f));
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, fvf, v, 4, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF00FF00, 0));
}

TEST_F(RenderTexture, ColourKeyedTexelsAreNotDrawn) {
    IDirectDrawSurface7* t = texture(2, 1, {0xFFFF00FF, 0xFF00FF00});
    DDCOLORKEY key{0x00FF00FF, 0x00FF00FF};
    ASSERT_EQ(t->SetColorKey(DDCKEY_SRCBLT, &key), DD_OK);
    dev->SetTexture(0, t);
    stage(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    draw_quad();
    EXPECT_TRUE(near_colour(pixel(10, 32), 0xFFFF00FF, 0)) << "without COLORKEYENABLE the key means nothing";
    clear(0xFF000000);
    dev->SetRenderState(D3DRENDERSTATE_COLORKEYENABLE, TRUE);
    draw_quad();
    EXPECT_TRUE(near_colour(pixel(10, 32), 0xFF000000, 0));
    EXPECT_TRUE(near_colour(pixel(50, 32), 0xFF00FF00, 0));
}

}  // namespace
