// DirectDraw surfaces: creation, Lock/Unlock of every format, render targets read back from
// GL, Blt with scaling, conversion, fills and keys, palettes, and device contexts.
#include "render_test_support.h"

#include <vantor/gdi.h>

using namespace render_test;


namespace {

class RenderSurface : public RenderTest {
protected:
    ComPtr<IDirectDrawSurface7> create(DWORD caps, const DDPIXELFORMAT& pf, DWORD w, DWORD h) {
        return create_surface(dd, caps, w, h, pf);
    }
    // Raw pixel (x, y) of a surface.
    DWORD raw(const ComPtr<IDirectDrawSurface7>& s, DWORD x, DWORD y) {
        auto sd = sized<DDSURFACEDESC2>();
        if (s->Lock(nullptr, &sd, DDLOCK_WAIT | DDLOCK_READONLY, 0) != DD_OK) return 0xDEADBEEF;
        DWORD bytes = sd.ddpfPixelFormat.dwRGBBitCount / 8, v = 0;
        const uint8_t* p = static_cast<uint8_t*>(sd.lpSurface) + y * sd.lPitch + x * bytes;
        for (DWORD b = 0; b < bytes; ++b) v |= static_cast<DWORD>(p[b]) << (8 * b);
        s->Unlock(nullptr);
        return v;
    }
};

struct RoundTripCase {
    const char* name;
    DDPIXELFORMAT (*format)();
    DWORD caps;
};
class RenderSurfaceRoundTrip : public RenderSurface, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(RenderSurfaceRoundTrip, LockUnlockKeepsEveryByte) {
    DDPIXELFORMAT pf = GetParam().format();
    const DWORD w = 7, h = 5;  // odd sizes: rows are padded to 4 bytes
    ComPtr<IDirectDrawSurface7> s = create(GetParam().caps, pf, w, h);
    ASSERT_NE(s.get(), nullptr) << GetParam().name;
    auto sd = sized<DDSURFACEDESC2>();
    ASSERT_EQ(s->Lock(nullptr, &sd, DDLOCK_WAIT, 0), DD_OK);
    EXPECT_EQ(sd.dwWidth, w);
    EXPECT_EQ(sd.dwHeight, h);
    EXPECT_TRUE(sd.dwFlags & DDSD_LPSURFACE);
    EXPECT_EQ(std::memcmp(&sd.ddpfPixelFormat, &pf, sizeof pf), 0);
    DWORD bytes = pf.dwRGBBitCount / 8;
    ASSERT_GE(static_cast<DWORD>(sd.lPitch), w * bytes);
    EXPECT_EQ(sd.lPitch % 4, 0);
    // Every value of every channel, whatever the format holds (render targets store it in GL).
    uint8_t* base = static_cast<uint8_t*>(sd.lpSurface);
    for (DWORD y = 0; y < h; ++y)
        for (DWORD x = 0; x < w * bytes; ++x) base[y * sd.lPitch + x] = static_cast<uint8_t>(y * 53 + x * 29 + 7);
    ASSERT_EQ(s->Unlock(nullptr), DD_OK);
    ASSERT_EQ(s->Lock(nullptr, &sd, DDLOCK_WAIT | DDLOCK_READONLY, 0), DD_OK);
    base = static_cast<uint8_t*>(sd.lpSurface);
    int differences = 0;
    for (DWORD y = 0; y < h; ++y)
        for (DWORD x = 0; x < w * bytes; ++x) {
            uint8_t expected = static_cast<uint8_t>(y * 53 + x * 29 + 7);
            // X8R8G8B8's unused byte and X1R5G5B5's unused bit are not kept.
            uint8_t mask = 0xFF;
            if (pf.dwRGBBitCount == 32 && !pf.dwRGBAlphaBitMask && x % 4 == 3) mask = 0;
            if (pf.dwRGBBitCount == 16 && !pf.dwRGBAlphaBitMask && pf.dwGBitMask == 0x03E0 && x % 2 == 1) mask = 0x7F;
            if ((GetParam().caps & DDSCAPS_3DDEVICE) == 0) mask = 0xFF;  // memory surfaces keep everything
            differences += (base[y * sd.lPitch + x] & mask) != (expected & mask);
        }
    EXPECT_EQ(differences, 0) << GetParam().name;
    ASSERT_EQ(s->Unlock(nullptr), DD_OK);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, RenderSurfaceRoundTrip,
    ::testing::Values(RoundTripCase{"R5G6B5 texture", formats::R5G6B5, DDSCAPS_TEXTURE},
                      RoundTripCase{"X1R5G5B5 texture", formats::X1R5G5B5, DDSCAPS_TEXTURE},
                      RoundTripCase{"A1R5G5B5 texture", formats::A1R5G5B5, DDSCAPS_TEXTURE},
                      RoundTripCase{"A4R4G4B4 texture", formats::A4R4G4B4, DDSCAPS_TEXTURE},
                      RoundTripCase{"R8G8B8 system memory", formats::R8G8B8, DDSCAPS_SYSTEMMEMORY},
                      RoundTripCase{"X8R8G8B8 texture", formats::X8R8G8B8, DDSCAPS_TEXTURE},
                      RoundTripCase{"A8R8G8B8 managed texture", formats::A8R8G8B8, DDSCAPS_TEXTURE},
                      RoundTripCase{"P8 texture", formats::P8, DDSCAPS_TEXTURE},
                      RoundTripCase{"A8L8 off-screen", [] { return formats::A8L8(); }, DDSCAPS_OFFSCREENPLAIN},
                      RoundTripCase{"R5G6B5 render target", formats::R5G6B5, DDSCAPS_3DDEVICE},
                      RoundTripCase{"X1R5G5B5 render target", formats::X1R5G5B5, DDSCAPS_3DDEVICE},
                      RoundTripCase{"A4R4G4B4 render target", formats::A4R4G4B4, DDSCAPS_3DDEVICE},
                      RoundTripCase{"A8R8G8B8 render target", formats::A8R8G8B8, DDSCAPS_3DDEVICE},
                      RoundTripCase{"X8R8G8B8 render target", formats::X8R8G8B8, DDSCAPS_3DDEVICE}));

TEST_F(RenderSurface, LockingRules) {
    // Single locks, rectangles and unsized records are the conformance suite's; these are this
    // device's further refusals.
    ComPtr<IDirectDrawSurface7> s = create(DDSCAPS_TEXTURE, formats::A8R8G8B8(), 4, 4);
    ASSERT_NE(s.get(), nullptr);
    auto sd = sized<DDSURFACEDESC2>();
    ASSERT_EQ(s->Lock(nullptr, &sd, DDLOCK_WAIT, 0), DD_OK);
    HDC dc = 0;
    EXPECT_EQ(s->GetDC(&dc), DDERR_SURFACEBUSY);
    EXPECT_EQ(s->Unlock(nullptr), DD_OK);
    RECT empty{2, 2, 2, 3};
    EXPECT_EQ(s->Lock(&empty, &sd, 0, 0), DDERR_INVALIDPARAMS);
    DDSURFACEDESC2 small{};
    small.dwSize = 124;
    EXPECT_EQ(s->Lock(nullptr, &small, 0, 0), DDERR_INVALIDPARAMS);
    EXPECT_EQ(s->Lock(nullptr, &sd, DDLOCK_READONLY | DDLOCK_WRITEONLY, 0), DDERR_INVALIDPARAMS);
    EXPECT_EQ(s->Lock(nullptr, &sd, 0x80000000, 0), DDERR_INVALIDPARAMS);
    EXPECT_EQ(s->GetSurfaceDesc(&small), DDERR_INVALIDPARAMS);
}

TEST_F(RenderSurface, DescriptionsSayWhatWasMade) {
    auto sd = sized<DDSURFACEDESC2>();
    sd.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT | DDSD_TEXTURESTAGE;
    sd.ddsCaps.dwCaps = DDSCAPS_TEXTURE;
    sd.ddsCaps.dwCaps2 = DDSCAPS2_TEXTUREMANAGE;
    sd.dwWidth = 100, sd.dwHeight = 60, sd.dwTextureStage = 2;
    sd.ddpfPixelFormat = formats::R5G6B5();
    ComPtr<IDirectDrawSurface7> s;
    ASSERT_EQ(dd->CreateSurface(&sd, s.put(), nullptr), DD_OK);
    auto out = sized<DDSURFACEDESC2>();
    ASSERT_EQ(s->GetSurfaceDesc(&out), DD_OK);
    // No power-of-two rounding: GL textures take any size.
    EXPECT_EQ(out.dwWidth, 100u);
    EXPECT_EQ(out.dwHeight, 60u);
    EXPECT_EQ(out.lPitch, 200);
    EXPECT_EQ(out.dwTextureStage, 2u);
    EXPECT_EQ(out.ddsCaps.dwCaps & DDSCAPS_TEXTURE, static_cast<DWORD>(DDSCAPS_TEXTURE));
    EXPECT_EQ(out.ddsCaps.dwCaps2, static_cast<DWORD>(DDSCAPS2_TEXTUREMANAGE));
    EXPECT_EQ(out.ddpfPixelFormat.dwGBitMask, 0x07E0u);
    EXPECT_EQ(out.lpSurface, nullptr);
    auto pf = sized<DDPIXELFORMAT>();
    ASSERT_EQ(s->GetPixelFormat(&pf), DD_OK);
    EXPECT_EQ(pf.dwRGBBitCount, 16u);
    ComPtr<IDirectDraw7> owner;
    ASSERT_EQ(s->GetDDInterface(reinterpret_cast<void**>(owner.put())), DD_OK);
    EXPECT_EQ(owner.get(), dd);
}

struct CreateCase {
    const char* name;
    DWORD flags, caps, caps2, w, h;
    DDPIXELFORMAT (*format)();
    HRESULT expected;
};
class RenderSurfaceCreate : public RenderSurface, public ::testing::WithParamInterface<CreateCase> {};

TEST_P(RenderSurfaceCreate, CreateSurfaceRefusesWhatItCannotMake) {
    const CreateCase& c = GetParam();
    auto sd = sized<DDSURFACEDESC2>();
    sd.dwFlags = c.flags;
    sd.ddsCaps.dwCaps = c.caps;
    sd.ddsCaps.dwCaps2 = c.caps2;
    sd.dwWidth = c.w, sd.dwHeight = c.h;
    if (c.format) sd.ddpfPixelFormat = c.format();
    IDirectDrawSurface7* s = reinterpret_cast<IDirectDrawSurface7*>(1);
    EXPECT_EQ(dd->CreateSurface(&sd, &s, nullptr), c.expected) << c.name;
    if (FAILED(c.expected)) {
        EXPECT_EQ(s, nullptr) << "the out-parameter is cleared";
    }
    if (s) s->Release();
}

constexpr DWORD kBasic = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
DDPIXELFORMAT bad_masks() { return formats::rgb(16, 0xF00F, 0x0FF0, 0x0001, 0); }
DDPIXELFORMAT overlapping() { return formats::rgb(32, 0xFF0000, 0xFFFF00, 0xFF, 0); }
DDPIXELFORMAT fourcc() {
    DDPIXELFORMAT pf = formats::R5G6B5();
    pf.dwFlags = DDPF_FOURCC;
    return pf;
}
INSTANTIATE_TEST_SUITE_P(
    Cases, RenderSurfaceCreate,
    ::testing::Values(
        CreateCase{"plain texture", kBasic, DDSCAPS_TEXTURE, 0, 8, 8, formats::A8R8G8B8, DD_OK},
        CreateCase{"display format by default", DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT, DDSCAPS_SYSTEMMEMORY, 0, 8, 8, nullptr, DD_OK},
        CreateCase{"zero width", kBasic, DDSCAPS_TEXTURE, 0, 0, 8, formats::A8R8G8B8, DDERR_INVALIDPARAMS},
        CreateCase{"no size", DDSD_CAPS | DDSD_PIXELFORMAT, DDSCAPS_TEXTURE, 0, 8, 8, formats::A8R8G8B8, DDERR_INVALIDPARAMS},
        CreateCase{"too wide", kBasic, DDSCAPS_TEXTURE, 0, 100000, 8, formats::A8R8G8B8, DDERR_TOOBIGWIDTH},
        CreateCase{"too high", kBasic, DDSCAPS_SYSTEMMEMORY, 0, 8, 100000, formats::A8R8G8B8, DDERR_TOOBIGHEIGHT},
        CreateCase{"masks not contiguous", kBasic, DDSCAPS_TEXTURE, 0, 8, 8, bad_masks, DDERR_INVALIDPIXELFORMAT},
        CreateCase{"masks overlap", kBasic, DDSCAPS_TEXTURE, 0, 8, 8, overlapping, DDERR_INVALIDPIXELFORMAT},
        CreateCase{"FourCC", kBasic, DDSCAPS_TEXTURE, 0, 8, 8, fourcc, DDERR_INVALIDPIXELFORMAT},
        CreateCase{"managed in system memory", kBasic, DDSCAPS_TEXTURE | DDSCAPS_SYSTEMMEMORY, DDSCAPS2_TEXTUREMANAGE, 8, 8,
                   formats::A8R8G8B8, DDERR_INVALIDCAPS},
        CreateCase{"system and video memory", kBasic, DDSCAPS_SYSTEMMEMORY | DDSCAPS_VIDEOMEMORY, 0, 8, 8, formats::A8R8G8B8,
                   DDERR_INVALIDCAPS},
        CreateCase{"flipping chain", kBasic, DDSCAPS_COMPLEX | DDSCAPS_FLIP, 0, 8, 8, formats::A8R8G8B8, DDERR_INVALIDCAPS},
        CreateCase{"palettised render target", kBasic, DDSCAPS_3DDEVICE, 0, 8, 8, formats::P8, DDERR_INVALIDPIXELFORMAT},
        CreateCase{"Z buffer in a colour format", kBasic, DDSCAPS_ZBUFFER, 0, 8, 8, formats::R5G6B5, DDERR_INVALIDPIXELFORMAT},
        CreateCase{"client memory", kBasic | DDSD_LPSURFACE, DDSCAPS_SYSTEMMEMORY, 0, 8, 8, formats::R5G6B5,
                   DDERR_UNSUPPORTED}));

TEST_F(RenderSurface, RenderTargetLockReadsTheGlImageAndUnlockWritesIt) {
    clear(0xFF204060);
    auto sd = sized<DDSURFACEDESC2>();
    ASSERT_EQ(back->Lock(nullptr, &sd, DDLOCK_WAIT, 0), DD_OK);
    DWORD* row0 = static_cast<DWORD*>(sd.lpSurface);
    EXPECT_EQ(row0[0] & 0xFFFFFF, 0x204060u);
    row0[5] = 0x00FF0000;  // top row, sixth pixel
    D3DTLVERTEX v{1, 1, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0};
    EXPECT_EQ(dev->DrawPrimitive(D3DPT_POINTLIST, D3DFVF_TLVERTEX, &v, 1, 0), DDERR_SURFACEBUSY) << "target locked";
    EXPECT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1, 0), DDERR_SURFACEBUSY);
    ASSERT_EQ(back->Unlock(nullptr), DD_OK);
    // The write reached GL: a draw blends over it.
    dev->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
    dev->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE);
    dev->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ONE);
    dev->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
    draw_rect(0, 0, 64, 64, 0xFF000010);
    EXPECT_TRUE(near_colour(pixel(5, 0), 0xFFFF0010, 0));
    EXPECT_TRUE(near_colour(pixel(6, 0), 0xFF204070, 0));
}

TEST_F(RenderSurface, DepthBufferLockReadsAndWritesDepth) {
    ComPtr<IDirectDrawSurface7> z;
    ASSERT_EQ(ctx->GetZBuffer(z.put()), S_OK);
    ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 0.25f, 0x5A), D3D_OK);
    auto sd = sized<DDSURFACEDESC2>();
    ASSERT_EQ(z->Lock(nullptr, &sd, DDLOCK_WAIT, 0), DD_OK);
    EXPECT_EQ(sd.ddpfPixelFormat.dwZBitMask, 0xFFFFFF00u);
    DWORD* row = static_cast<DWORD*>(sd.lpSurface);
    EXPECT_NEAR(static_cast<double>(row[7] >> 8), 0.25 * 0xFFFFFF, 2.0);
    EXPECT_EQ(row[7] & 0xFF, 0x5Au) << "stencil";
    // Writing depth 0 over the left half: a draw at depth 0.5 then shows on the right only.
    for (DWORD y = 0; y < sd.dwHeight; ++y) {
        DWORD* r = reinterpret_cast<DWORD*>(static_cast<uint8_t*>(sd.lpSurface) + y * sd.lPitch);
        for (DWORD x = 0; x < sd.dwWidth / 2; ++x) r[x] = 0;
    }
    ASSERT_EQ(z->Unlock(nullptr), DD_OK);
    dev->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
    dev->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_LESSEQUAL);
    dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1, 0);
    draw_rect(0, 0, 64, 64, 0xFFFFFFFF, 0.2f);
    EXPECT_TRUE(near_colour(pixel(16, 32), 0xFF000000, 0));
    EXPECT_TRUE(near_colour(pixel(48, 32), 0xFFFFFFFF, 0));
}

TEST_F(RenderSurface, PretransformedDepthIgnoresTheViewportDepthRange) {
    // sz of a pre-transformed vertex is the depth written; MinZ/MaxZ map transformed vertices only.
    D3DVIEWPORT7 vp{0, 0, kWidth, kHeight, 0.5f, 1.0f};
    ASSERT_EQ(dev->SetViewport(&vp), D3D_OK);
    ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    dev->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
    draw_rect(0, 0, 64, 64, 0xFFFFFFFF, 0.2f);
    dev->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_ALWAYS);
    D3DLVERTEX q[4] = {{-1, 1, 0.0f, 0, 0xFFFFFFFF, 0, 0, 0}, {0, 1, 0.0f, 0, 0xFFFFFFFF, 0, 0, 0},
                       {-1, -1, 0.0f, 0, 0xFFFFFFFF, 0, 0, 0}, {0, -1, 0.0f, 0, 0xFFFFFFFF, 0, 0, 0}};
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_LVERTEX, q, 4, 0), D3D_OK);  // left half, z 0 -> 0.5
    ComPtr<IDirectDrawSurface7> z;
    ASSERT_EQ(ctx->GetZBuffer(z.put()), S_OK);
    EXPECT_NEAR((raw(z, 48, 32) >> 8) / double(0xFFFFFF), 0.2, 1e-4);
    EXPECT_NEAR((raw(z, 16, 32) >> 8) / double(0xFFFFFF), 0.5, 1e-4);
}

TEST_F(RenderSurface, BltTakesTheSourceRectangle) {
    // Whole-surface stretching and bad rectangles are the conformance suite's.
    ComPtr<IDirectDrawSurface7> src = make_surface(DDSCAPS_SYSTEMMEMORY, formats::A8R8G8B8(), 2, 2, [](uint8_t* row, DWORD y) {
        DWORD texels[2][2] = {{0xFF110000, 0xFF220000}, {0xFF330000, 0xFF440000}};
        std::memcpy(row, texels[y], 8);
    });
    ComPtr<IDirectDrawSurface7> dst = create(DDSCAPS_TEXTURE, formats::A8R8G8B8(), 4, 4);
    RECT from{1, 1, 2, 2}, to{3, 2, 4, 4};
    ASSERT_EQ(dst->Blt(&to, src.get(), &from, 0, nullptr), DD_OK);
    EXPECT_EQ(raw(dst, 3, 3), 0xFF440000u);
    EXPECT_EQ(raw(dst, 3, 1), 0u);
}

struct ConvertCase {
    const char* name;
    DDPIXELFORMAT (*from)();
    DWORD from_raw;
    DDPIXELFORMAT (*to)();
    DWORD to_raw;
};
class RenderSurfaceConvert : public RenderSurface, public ::testing::WithParamInterface<ConvertCase> {};

TEST_P(RenderSurfaceConvert, BltConvertsFormats) {
    const ConvertCase& c = GetParam();
    DDPIXELFORMAT from = c.from(), to = c.to();
    ComPtr<IDirectDrawSurface7> src = make_surface(DDSCAPS_SYSTEMMEMORY, from, 1, 1, [&](uint8_t* row, DWORD) {
        for (DWORD b = 0; b < from.dwRGBBitCount / 8; ++b) row[b] = static_cast<uint8_t>(c.from_raw >> (8 * b));
    });
    ComPtr<IDirectDrawSurface7> dst = create(DDSCAPS_TEXTURE, to, 1, 1);
    ASSERT_EQ(dst->Blt(nullptr, src.get(), nullptr, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(raw(dst, 0, 0), c.to_raw) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Formats, RenderSurfaceConvert,
                         ::testing::Values(ConvertCase{"565 to 8888", formats::R5G6B5, 0xF81F, formats::A8R8G8B8, 0xFFFF00FF},
                                           ConvertCase{"8888 to 565", formats::A8R8G8B8, 0x80FF8000, formats::R5G6B5, 0xFC00},
                                           ConvertCase{"888 to 4444", formats::R8G8B8, 0x11EE77, formats::A4R4G4B4, 0xF1E7},
                                           ConvertCase{"1555 to 8888", formats::A1R5G5B5, 0x7C00, formats::A8R8G8B8, 0x00FF0000},
                                           ConvertCase{"8888 to x888", formats::A8R8G8B8, 0x12345678, formats::X8R8G8B8, 0x00345678},
                                           ConvertCase{"x888 to 1555 is opaque", formats::X8R8G8B8, 0x000000FF,
                                                       formats::A1R5G5B5, 0x801F}));

TEST_F(RenderSurface, BltFillsAndKeys) {
    ComPtr<IDirectDrawSurface7> dst = create(DDSCAPS_TEXTURE, formats::R5G6B5(), 4, 4);
    auto fx = sized<DDBLTFX>();
    fx.dwFillColor = 0x07E0;
    RECT r{1, 1, 3, 3};
    ASSERT_EQ(dst->Blt(&r, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx), DD_OK);
    EXPECT_EQ(raw(dst, 1, 1), 0x07E0u);
    EXPECT_EQ(raw(dst, 0, 0), 0u);
    EXPECT_EQ(dst->Blt(&r, nullptr, nullptr, DDBLT_COLORFILL, nullptr), DDERR_INVALIDPARAMS) << "fill needs its record";
    // Source keys skip the key colour.
    ComPtr<IDirectDrawSurface7> src = make_surface(DDSCAPS_SYSTEMMEMORY, formats::R5G6B5(), 2, 1, [](uint8_t* row, DWORD) {
        uint16_t p[2] = {0xF800, 0x001F};
        std::memcpy(row, p, 4);
    });
    EXPECT_EQ(dst->Blt(nullptr, src.get(), nullptr, DDBLT_KEYSRC, nullptr), MAKE_DDHRESULT(215)) << "no key set";
    DDCOLORKEY key{0x001F, 0x001F};
    ASSERT_EQ(src->SetColorKey(DDCKEY_SRCBLT, &key), DD_OK);
    RECT left{0, 0, 2, 1};
    ASSERT_EQ(dst->Blt(&left, src.get(), nullptr, DDBLT_KEYSRC, nullptr), DD_OK);
    EXPECT_EQ(raw(dst, 0, 0), 0xF800u);
    EXPECT_EQ(raw(dst, 1, 0), 0u) << "keyed pixel left alone";
    // Busy surfaces refuse, and a Blt flag this back end does not do says so.
    auto sd = sized<DDSURFACEDESC2>();
    ASSERT_EQ(src->Lock(nullptr, &sd, 0, 0), DD_OK);
    EXPECT_EQ(dst->Blt(nullptr, src.get(), nullptr, 0, nullptr), DDERR_SURFACEBUSY);
    src->Unlock(nullptr);
    EXPECT_EQ(dst->Blt(nullptr, src.get(), nullptr, 0x00020000 /* DDBLT_ROP */, &fx), DDERR_UNSUPPORTED);
}

TEST_F(RenderSurface, PaletteCreationIsChecked) {
    // Entries, read-back and attaching are the conformance suite's; these are the refusals.
    PALETTEENTRY entries[256]{};
    ComPtr<IDirectDrawPalette> pal;
    ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, entries, pal.put(), nullptr), DD_OK);
    PALETTEENTRY got[1];
    EXPECT_EQ(pal->GetEntries(1, 0, 1, got), DDERR_INVALIDPARAMS) << "flags";
    ComPtr<IDirectDrawPalette> other;
    EXPECT_EQ(dd->CreatePalette(DDPCAPS_ALLOW256, entries, other.put(), nullptr), DDERR_INVALIDPARAMS);
    EXPECT_EQ(dd->CreatePalette(DDPCAPS_4BIT, entries, other.put(), nullptr), DDERR_UNSUPPORTED);
    EXPECT_EQ(dd->CreatePalette(DDPCAPS_8BIT, entries, other.put(), reinterpret_cast<IUnknown*>(pal.get())), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(other.get(), nullptr);
}

TEST_F(RenderSurface, PalettisedBltCopiesIndices) {
    // The engine's texture path: both surfaces palettised with the same palette; Blt copies
    // indices as they are.
    ComPtr<IDirectDrawSurface7> src = make_surface(DDSCAPS_SYSTEMMEMORY, formats::P8(), 2, 2, [](uint8_t* row, DWORD y) {
        row[0] = static_cast<uint8_t>(10 + y), row[1] = static_cast<uint8_t>(20 + y);
    });
    ComPtr<IDirectDrawSurface7> dst = create(DDSCAPS_TEXTURE, formats::P8(), 4, 4);
    ASSERT_EQ(dst->Blt(nullptr, src.get(), nullptr, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(raw(dst, 3, 3), 21u);
    // Into RGB the palette converts; without one a palettised destination cannot be written.
    ComPtr<IDirectDrawSurface7> rgb32 = create(DDSCAPS_TEXTURE, formats::X8R8G8B8(), 2, 2);
    PALETTEENTRY entries[256] = {};
    entries[11] = {0xAB, 0xCD, 0xEF, 0};
    ComPtr<IDirectDrawPalette> pal;
    ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, entries, pal.put(), nullptr), DD_OK);
    ASSERT_EQ(src->SetPalette(pal.get()), DD_OK);
    ASSERT_EQ(rgb32->Blt(nullptr, src.get(), nullptr, 0, nullptr), DD_OK);
    EXPECT_EQ(raw(rgb32, 0, 1) & 0xFFFFFF, 0xABCDEFu);
    EXPECT_EQ(dst->Blt(nullptr, rgb32.get(), nullptr, 0, nullptr), DDERR_NOPALETTEATTACHED);
    ASSERT_EQ(dst->SetPalette(pal.get()), DD_OK);
    ASSERT_EQ(dst->Blt(nullptr, rgb32.get(), nullptr, 0, nullptr), DD_OK);
    EXPECT_EQ(raw(dst, 0, 3), 11u) << "nearest palette entry";
}

TEST_F(RenderSurface, GetDcDrawsIntoTheSurface) {
    // The runtime's stock bitmap is made with the first device context and lives for the process.
    uint32_t before = HandleCount();
    DeleteDC(CreateCompatibleDC(0));
    handles_at_start_ += HandleCount() - before;
    ComPtr<IDirectDrawSurface7> s = create(DDSCAPS_TEXTURE | DDSCAPS_SYSTEMMEMORY, formats::R5G6B5(), 8, 8);
    HDC dc = 0;
    ASSERT_EQ(s->GetDC(&dc), DD_OK);
    EXPECT_NE(dc, 0u);
    HDC again = 0;
    EXPECT_EQ(s->GetDC(&again), DDERR_DCALREADYCREATED);
    auto sd = sized<DDSURFACEDESC2>();
    EXPECT_EQ(s->Lock(nullptr, &sd, 0, 0), DDERR_SURFACEBUSY);
    // A 2x2 bitmap copied in through GDI lands converted to 565.
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = 2;
    bi.bmiHeader.biHeight = -2;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(0, &bi, DIB_RGB_COLORS, &bits, 0, 0);
    ASSERT_NE(bmp, 0u);
    static_cast<DWORD*>(bits)[0] = 0x00FF0000;
    HDC mem = CreateCompatibleDC(0);
    HGDIOBJ old = SelectObject(mem, bmp);
    EXPECT_TRUE(BitBlt(dc, 3, 4, 2, 2, mem, 0, 0, SRCCOPY));
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(bmp);
    EXPECT_EQ(s->ReleaseDC(dc + 1), DDERR_INVALIDPARAMS);
    ASSERT_EQ(s->ReleaseDC(dc), DD_OK);
    EXPECT_EQ(s->ReleaseDC(dc), DDERR_NODC);
    EXPECT_EQ(raw(s, 3, 4), 0xF800u);
}

TEST_F(RenderSurface, PalettisedDcNeedsAPalette) {
    ComPtr<IDirectDrawSurface7> s = create(DDSCAPS_TEXTURE, formats::P8(), 4, 4);
    HDC dc = 0;
    EXPECT_EQ(s->GetDC(&dc), DDERR_NOPALETTEATTACHED);
    EXPECT_EQ(dc, 0u);
    ComPtr<IDirectDrawSurface7> lum = create(DDSCAPS_TEXTURE, formats::L8(), 4, 4);
    EXPECT_EQ(lum->GetDC(&dc), DDERR_CANTCREATEDC);
}

}  // namespace
