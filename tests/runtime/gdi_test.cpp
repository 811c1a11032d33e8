// GDI: DIB sections, the rules of selecting and deleting, BitBlt between every layout a
// surface DC can have (values worked out by hand), clipping against guard bytes, overlapping
// copies, colour tables, and LoadImageA over files and a module's "BITMAP" resources.
#include "bmp_builder.h"

#include <vantor/debug.h>
#include <vantor/gdi.h>
#include <vantor/handles.h>
#include <vantor/system.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <unistd.h>

using namespace bmptest;

namespace {

struct InfoBlock {
    BITMAPINFOHEADER h{};
    DWORD rest[256]{};  // masks after a 40-byte header, or the colour table
    const BITMAPINFO* info() const { return reinterpret_cast<const BITMAPINFO*>(this); }
};

InfoBlock DibInfo(int width, int height, int bitCount) {
    InfoBlock b;
    b.h.biSize = sizeof(BITMAPINFOHEADER);
    b.h.biWidth = width;
    b.h.biHeight = height;
    b.h.biPlanes = 1;
    b.h.biBitCount = static_cast<WORD>(bitCount);
    b.h.biCompression = BI_RGB;
    return b;
}

void SetColours(InfoBlock& b, const std::vector<RGBQUAD>& colours) {
    std::memcpy(b.rest, colours.data(), colours.size() * sizeof(RGBQUAD));
    b.h.biClrUsed = static_cast<DWORD>(colours.size());
}

// A DIB section selected into its own DC; both go at the end of the scope.
struct Selected {
    HBITMAP bitmap = 0;
    HDC dc = 0;
    HGDIOBJ old = 0;
    uint8_t* bits = nullptr;
    explicit Selected(const InfoBlock& info) {
        void* p = nullptr;
        bitmap = CreateDIBSection(0, info.info(), DIB_RGB_COLORS, &p, 0, 0);
        bits = static_cast<uint8_t*>(p);
        dc = CreateCompatibleDC(0);
        old = SelectObject(dc, bitmap);
    }
    ~Selected() {
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    bool ok() const { return bitmap && dc && old && bits; }
};

// Memory a memory DC draws on, with guard bytes all round and padding at each row's end.
struct Guarded {
    static constexpr size_t kGuard = 64;
    std::vector<uint8_t> bytes;
    int width, height;
    size_t pitch;
    HDC dc = 0;
    Guarded(int w, int h, int bytesPerPixel, const VantorPixelLayout& layout)
        : width(w), height(h), pitch(static_cast<size_t>(w) * bytesPerPixel + 6) {
        bytes.assign(kGuard * 2 + pitch * h, 0xCD);
        dc = VantorCreateMemoryDC(bytes.data() + kGuard, w, h, static_cast<INT>(pitch), &layout);
    }
    ~Guarded() { DeleteDC(dc); }
    uint8_t* Row(int y) { return bytes.data() + kGuard + pitch * y; }
    std::vector<uint8_t> Bytes(size_t n) { return std::vector<uint8_t>(Row(0), Row(0) + n); }  // of the top row
    uint32_t Pixel16(int x, int y) { return Row(y)[2 * x] | Row(y)[2 * x + 1] << 8; }
    uint32_t Pixel32(int x, int y) {
        uint32_t v;
        std::memcpy(&v, Row(y) + 4 * x, 4);
        return v;
    }
    // Guards and row padding still hold the fill byte.
    bool Untouched(size_t usedPerRow) const {
        for (size_t i = 0; i < kGuard; ++i)
            if (bytes[i] != 0xCD || bytes[bytes.size() - 1 - i] != 0xCD) return false;
        for (int y = 0; y < height; ++y)
            for (size_t i = usedPerRow; i < pitch; ++i)
                if (bytes[kGuard + pitch * y + i] != 0xCD) return false;
        return true;
    }
};

constexpr VantorPixelLayout kRgba{32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000, nullptr};

// Four known colours in a 24-bit top-down DIB, one row.
const uint8_t kColours[4][3] = {{255, 128, 0}, {0, 255, 64}, {17, 34, 51}, {255, 255, 255}};

Selected* FourColours() {
    auto* s = new Selected(DibInfo(4, -1, 24));
    for (int x = 0; x < 4; ++x) {
        s->bits[3 * x + 0] = kColours[x][2];
        s->bits[3 * x + 1] = kColours[x][1];
        s->bits[3 * x + 2] = kColours[x][0];
    }
    return s;
}

// Every test ends with as many handles as it began with.
struct Gdi : ::testing::Test {
    uint32_t before = 0;
    void SetUp() override {
        // The stock bitmap and the host module's handle are made once, on first use.
        DeleteDC(CreateCompatibleDC(0));
        GetModuleHandleA(nullptr);
        before = HandleCount();
    }
    void TearDown() override { EXPECT_EQ(HandleCount(), before) << "handles left over"; }
};

}  // namespace

TEST_F(Gdi, DibSectionPixelsAreZeroedAndDescribedByGetObject) {
    InfoBlock info = DibInfo(5, 3, 8);
    SetColours(info, Ramp(256));
    void* bits = reinterpret_cast<void*>(1);
    const HBITMAP b = CreateDIBSection(0, info.info(), DIB_RGB_COLORS, &bits, 0, 0);
    ASSERT_NE(b, 0u);
    ASSERT_NE(bits, nullptr);
    EXPECT_EQ(HandleTypeOf(b), kHandleBitmap);
    for (int i = 0; i < 8 * 3; ++i) EXPECT_EQ(static_cast<uint8_t*>(bits)[i], 0) << i;

    EXPECT_EQ(GetObjectA(b, 0, nullptr), static_cast<INT>(sizeof(BITMAP)));
    BITMAP bm{};
    EXPECT_EQ(GetObjectA(b, sizeof bm, &bm), static_cast<INT>(sizeof(BITMAP)));
    EXPECT_EQ(std::tie(bm.bmWidth, bm.bmHeight, bm.bmWidthBytes, bm.bmPlanes, bm.bmBitsPixel, bm.bmBits),
              std::tuple(5, 3, 8, 1, 8, bits));
    DIBSECTION ds{};
    EXPECT_EQ(GetObjectA(b, sizeof ds, &ds), static_cast<INT>(sizeof(DIBSECTION)));
    EXPECT_EQ(std::tie(ds.dsBmih.biSize, ds.dsBmih.biHeight, ds.dsBmih.biSizeImage, ds.dsBmih.biClrUsed, ds.dshSection),
              std::tuple(40u, 3, 24u, 256u, 0u));
    char small[8];
    EXPECT_EQ(GetObjectA(b, sizeof small, small), 0);  // too small for a BITMAP
    EXPECT_TRUE(DeleteObject(b));
    EXPECT_EQ(GetObjectA(b, sizeof bm, &bm), 0);
    EXPECT_FALSE(DeleteObject(b));
}

TEST_F(Gdi, DibSectionBitFieldsAndAlphaMasks) {
    InfoBlock info = DibInfo(2, 1, 16);
    info.h.biCompression = BI_BITFIELDS;
    info.rest[0] = 0xF800, info.rest[1] = 0x07E0, info.rest[2] = 0x001F;
    Selected s(info);
    ASSERT_TRUE(s.ok());
    DIBSECTION ds{};
    GetObjectA(s.bitmap, sizeof ds, &ds);
    EXPECT_EQ(std::tie(ds.dsBitfields[0], ds.dsBmih.biCompression), std::tuple(0xF800u, DWORD{BI_BITFIELDS}));
    s.bits[0] = 0x1F;  // pure blue, 5-6-5
    s.bits[2] = 0x00, s.bits[3] = 0xF8;  // pure red
    std::vector<uint8_t> out(8);
    HDC to = VantorCreateMemoryDC(out.data(), 2, 1, 8, &kRgba);
    EXPECT_TRUE(BitBlt(to, 0, 0, 2, 1, s.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 255, 255, 255, 0, 0, 255}));
    DeleteDC(to);

    // A BITMAPV5HEADER with an alpha mask gives pixels their alpha.
    struct {
        BITMAPINFOHEADER h;
        DWORD masks[4];
        BYTE rest[68];
    } v5{};
    v5.h = DibInfo(1, 1, 32).h;
    v5.h.biSize = 124;
    v5.h.biCompression = BI_BITFIELDS;
    v5.masks[0] = 0x00FF0000, v5.masks[1] = 0x0000FF00, v5.masks[2] = 0x000000FF, v5.masks[3] = 0xFF000000;
    void* bits = nullptr;
    const HBITMAP withAlpha = CreateDIBSection(0, reinterpret_cast<const BITMAPINFO*>(&v5), DIB_RGB_COLORS, &bits, 0, 0);
    ASSERT_NE(withAlpha, 0u);
    const uint32_t px = 0x80102030;
    std::memcpy(bits, &px, 4);
    const Rgba rgba = ToRgba(withAlpha);
    EXPECT_EQ(rgba.pixels, (std::vector<uint8_t>{0x10, 0x20, 0x30, 0x80}));
    DeleteObject(withAlpha);
}

TEST_F(Gdi, DibSectionInvalidDescriptionsAreRefused) {
    auto refused = [](InfoBlock info, UINT usage = DIB_RGB_COLORS, HANDLE section = 0) {
        void* bits = reinterpret_cast<void*>(1);
        const HBITMAP b = CreateDIBSection(0, info.info(), usage, &bits, section, 0);
        if (b) DeleteObject(b);
        return b == 0 && bits == nullptr;
    };
    EXPECT_EQ(CreateDIBSection(0, nullptr, DIB_RGB_COLORS, nullptr, 0, 0), 0u);
    EXPECT_TRUE(refused(DibInfo(4, 4, 8), 1));  // DIB_PAL_COLORS: no logical palettes here
    EXPECT_TRUE(refused(DibInfo(4, 4, 24), DIB_RGB_COLORS, 7));  // file mapping sections
    EXPECT_TRUE(refused(DibInfo(4, 4, 2)));
    EXPECT_TRUE(refused(DibInfo(0, 4, 24)));
    EXPECT_TRUE(refused(DibInfo(-4, 4, 24)));
    EXPECT_TRUE(refused(DibInfo(4, 0, 24)));
    EXPECT_TRUE(refused(DibInfo(70000, 1, 24)));
    EXPECT_TRUE(refused(DibInfo(1, INT_MIN, 24)));
    auto edited = [](InfoBlock b, auto edit) {
        edit(b);
        return b;
    };
    EXPECT_TRUE(refused(edited(DibInfo(4, 4, 24), [](InfoBlock& b) { b.h.biPlanes = 2; })));
    EXPECT_TRUE(refused(edited(DibInfo(4, 4, 8), [](InfoBlock& b) { b.h.biCompression = BI_RLE8; })))
        << "DIB sections are never compressed";
    EXPECT_TRUE(refused(edited(DibInfo(4, 4, 24), [](InfoBlock& b) { b.h.biCompression = BI_BITFIELDS; })));
    EXPECT_TRUE(refused(edited(DibInfo(4, 4, 16), [](InfoBlock& b) {
        b.h.biCompression = BI_BITFIELDS;
        b.rest[0] = 0xF000, b.rest[1] = 0x1F00, b.rest[2] = 0x00FF;  // overlapping
    })));
    EXPECT_TRUE(refused(edited(DibInfo(4, 4, 24), [](InfoBlock& b) { b.h.biSize = 12; })));
}

TEST_F(Gdi, SelectionStockBitmapAndOneDcAtATime) {
    InfoBlock info = DibInfo(2, 2, 24);
    void* bits = nullptr;
    const HBITMAP b = CreateDIBSection(0, info.info(), DIB_RGB_COLORS, &bits, 0, 0);
    ASSERT_NE(b, 0u);
    const HDC one = CreateCompatibleDC(0);
    const HDC two = CreateCompatibleDC(one);
    ASSERT_NE(one, 0u);
    ASSERT_NE(two, 0u);

    // A new DC holds the 1x1 monochrome stock bitmap, which is no DIB section.
    const HGDIOBJ stock = SelectObject(one, b);
    ASSERT_NE(stock, 0u);
    DIBSECTION ds{};
    EXPECT_EQ(GetObjectA(stock, sizeof ds, &ds), static_cast<INT>(sizeof(BITMAP)));
    EXPECT_EQ(std::tie(ds.dsBm.bmWidth, ds.dsBm.bmHeight, ds.dsBm.bmBitsPixel, ds.dsBm.bmBits),
              std::tuple(1, 1, 1, nullptr));

    EXPECT_EQ(SelectObject(two, b), 0u) << "a bitmap lives in one DC at a time";
    EXPECT_EQ(SelectObject(one, b), b) << "selecting it again answers itself";
    EXPECT_FALSE(DeleteObject(b)) << "refused while selected";
    EXPECT_EQ(GetObjectA(b, sizeof ds, &ds), static_cast<INT>(sizeof(DIBSECTION))) << "and still alive";

    EXPECT_EQ(SelectObject(two, stock), stock) << "the stock bitmap can be in many DCs";
    EXPECT_EQ(SelectObject(one, stock), b);
    EXPECT_NE(SelectObject(two, b), 0u) << "free again once deselected";
    EXPECT_TRUE(DeleteDC(two));
    EXPECT_TRUE(DeleteObject(b)) << "deleting its DC released it";

    EXPECT_TRUE(DeleteObject(stock)) << "stock objects ignore DeleteObject";
    EXPECT_EQ(GetObjectA(stock, sizeof ds, &ds), static_cast<INT>(sizeof(BITMAP)));
    EXPECT_TRUE(DeleteDC(one));
}

TEST_F(Gdi, SelectionWrongAndStaleHandlesAreRefused) {
    const HDC dc = CreateCompatibleDC(0);
    std::vector<uint8_t> px(16);
    const HDC mem = VantorCreateMemoryDC(px.data(), 2, 2, 8, &kRgba);
    InfoBlock info = DibInfo(1, 1, 24);
    const HBITMAP b = CreateDIBSection(0, info.info(), DIB_RGB_COLORS, nullptr, 0, 0);
    ASSERT_TRUE(dc && mem && b);

    EXPECT_EQ(SelectObject(mem, b), 0u) << "a memory DC always draws on its creator's pixels";
    EXPECT_EQ(SelectObject(dc, dc), 0u);
    EXPECT_EQ(SelectObject(dc, 0), 0u);
    EXPECT_EQ(SelectObject(b, b), 0u);
    EXPECT_EQ(SelectObject(0xDEAD, b), 0u);
    EXPECT_EQ(CreateCompatibleDC(0xDEAD), 0u);
    EXPECT_FALSE(DeleteObject(dc));
    EXPECT_FALSE(DeleteDC(b));
    BITMAP bm{};
    EXPECT_EQ(GetObjectA(dc, sizeof bm, &bm), 0);
    EXPECT_FALSE(BitBlt(dc, 0, 0, 1, 1, 0, 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(mem, 0, 0, 1, 1, dc, 0, 0, 0x00EE0086)) << "only SRCCOPY";
    EXPECT_TRUE(BitBlt(mem, 0, 0, 1, 1, dc, 0, 0, SRCCOPY)) << "the stock bitmap is a source like any other";
    EXPECT_EQ(std::vector<uint8_t>(px.begin(), px.begin() + 4), (std::vector<uint8_t>{0, 0, 0, 255}));

    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_FALSE(DeleteDC(dc));
    EXPECT_FALSE(BitBlt(mem, 0, 0, 1, 1, dc, 0, 0, SRCCOPY));
    EXPECT_EQ(SelectObject(dc, b), 0u);
    EXPECT_TRUE(DeleteDC(mem));
    EXPECT_TRUE(DeleteObject(b));
}

TEST_F(Gdi, BlitIntoEverySurfaceLayout) {
    std::unique_ptr<Selected> src(FourColours());
    ASSERT_TRUE(src->ok());
    struct Case {
        const char* name;
        VantorPixelLayout layout;
        std::vector<uint32_t> expected;
    };
    const Case cases[] = {
        {"5-6-5", {16, 0xF800, 0x07E0, 0x001F, 0, nullptr}, {0xFC00, 0x07E8, 0x1106, 0xFFFF}},
        {"5-5-5", {16, 0x7C00, 0x03E0, 0x001F, 0, nullptr}, {0x7E00, 0x03E8, 0x0886, 0x7FFF}},
        {"5-5-5 by default", {16, 0, 0, 0, 0, nullptr}, {0x7E00, 0x03E8, 0x0886, 0x7FFF}},
        {"1-5-5-5", {16, 0x7C00, 0x03E0, 0x001F, 0x8000, nullptr}, {0xFE00, 0x83E8, 0x8886, 0xFFFF}},
        {"4-4-4-4", {16, 0x0F00, 0x00F0, 0x000F, 0xF000, nullptr}, {0xFF80, 0xF0F4, 0xF123, 0xFFFF}},
        {"A8R8G8B8", {32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, nullptr}, {0xFFFF8000, 0xFF00FF40, 0xFF112233, 0xFFFFFFFF}},
        {"X8R8G8B8: the spare byte is 0", {32, 0xFF0000, 0xFF00, 0xFF, 0, nullptr}, {0x00FF8000, 0x0000FF40, 0x00112233, 0x00FFFFFF}},
        {"R, G, B, A bytes", kRgba, {0xFF0080FF, 0xFF40FF00, 0xFF332211, 0xFFFFFFFF}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int bytes = c.layout.bitCount / 8;
        Guarded dst(4, 1, bytes, c.layout);
        ASSERT_NE(dst.dc, 0u);
        EXPECT_TRUE(BitBlt(dst.dc, 0, 0, 4, 1, src->dc, 0, 0, SRCCOPY));
        for (int x = 0; x < 4; ++x) EXPECT_EQ(bytes == 2 ? dst.Pixel16(x, 0) : dst.Pixel32(x, 0), c.expected[x]) << x;
        EXPECT_TRUE(dst.Untouched(4 * bytes));
    }
    {
        SCOPED_TRACE("24 bits, and 24 bits with red in the low byte");
        Guarded bgr(4, 1, 3, VantorPixelLayout{24, 0, 0, 0, 0, nullptr});
        Guarded rgb(4, 1, 3, VantorPixelLayout{24, 0xFF, 0xFF00, 0xFF0000, 0, nullptr});
        EXPECT_TRUE(BitBlt(bgr.dc, 0, 0, 4, 1, src->dc, 0, 0, SRCCOPY));
        EXPECT_TRUE(BitBlt(rgb.dc, 0, 0, 4, 1, src->dc, 0, 0, SRCCOPY));
        EXPECT_EQ(bgr.Bytes(12), std::vector<uint8_t>(src->bits, src->bits + 12));
        EXPECT_EQ(rgb.Bytes(6), (std::vector<uint8_t>{255, 128, 0, 0, 255, 64}));
        EXPECT_TRUE(bgr.Untouched(12));
        EXPECT_TRUE(rgb.Untouched(12));
    }
    {
        SCOPED_TRACE("8 bits: the nearest colour of the surface's palette");
        std::vector<RGBQUAD> palette(256, RGBQUAD{128, 128, 128, 0});
        palette[0] = {0, 0, 0, 0};
        palette[1] = {10, 130, 250, 0};   // near (255, 128, 0)
        palette[2] = {60, 250, 0, 0};     // near (0, 255, 64)
        palette[3] = {50, 30, 20, 0};     // near (17, 34, 51)
        palette[4] = {255, 255, 255, 0};
        Guarded dst(4, 1, 1, VantorPixelLayout{8, 0, 0, 0, 0, palette.data()});
        ASSERT_NE(dst.dc, 0u);
        EXPECT_TRUE(BitBlt(dst.dc, 0, 0, 4, 1, src->dc, 0, 0, SRCCOPY));
        EXPECT_EQ(dst.Bytes(4), (std::vector<uint8_t>{1, 2, 3, 4}));
        EXPECT_TRUE(dst.Untouched(4));
    }
}

TEST_F(Gdi, BlitNarrowChannelsWidenToFullScale) {
    // 5-6-5 pixels: mid grey, white, the smallest step of each channel.
    std::vector<uint8_t> px = {0x10, 0x84, 0xFF, 0xFF, 0x21, 0x08};
    const VantorPixelLayout l565{16, 0xF800, 0x07E0, 0x001F, 0, nullptr};
    const HDC from = VantorCreateMemoryDC(px.data(), 3, 1, 6, &l565);
    Selected to(DibInfo(3, 1, 24));
    ASSERT_TRUE(from && to.ok());
    EXPECT_TRUE(BitBlt(to.dc, 0, 0, 3, 1, from, 0, 0, SRCCOPY));
    // Bytes B, G, R: 5-bit 16 -> 132, 6-bit 32 -> 130; 31 and 63 -> 255; 1 -> 8 and 4.
    EXPECT_EQ(std::vector<uint8_t>(to.bits, to.bits + 9), (std::vector<uint8_t>{132, 130, 132, 255, 255, 255, 8, 4, 8}));
    DeleteDC(from);
}

TEST_F(Gdi, BlitAlphaFollowsTheMasks) {
    // X8R8G8B8 has no alpha: its spare byte is not alpha and the pixel is opaque. Identical
    // layouts copy bytes as they are, spare byte included, as GDI does.
    std::vector<uint32_t> x888 = {0x12345678};
    const VantorPixelLayout xrgb{32, 0xFF0000, 0xFF00, 0xFF, 0, nullptr};
    const VantorPixelLayout argb{32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, nullptr};
    const HDC from = VantorCreateMemoryDC(x888.data(), 1, 1, 4, &xrgb);
    std::vector<uint32_t> a(1), b(1);
    const HDC toArgb = VantorCreateMemoryDC(a.data(), 1, 1, 4, &argb);
    const HDC toXrgb = VantorCreateMemoryDC(b.data(), 1, 1, 4, &xrgb);
    EXPECT_TRUE(BitBlt(toArgb, 0, 0, 1, 1, from, 0, 0, SRCCOPY));
    EXPECT_TRUE(BitBlt(toXrgb, 0, 0, 1, 1, from, 0, 0, SRCCOPY));
    EXPECT_EQ(a[0], 0xFF345678u);
    EXPECT_EQ(b[0], 0x12345678u);
    // A8R8G8B8 into 4-4-4-4 keeps the alpha's top four bits.
    std::vector<uint32_t> half = {0x80FF8000};
    std::vector<uint16_t> out(1);
    const HDC fromArgb = VantorCreateMemoryDC(half.data(), 1, 1, 4, &argb);
    const VantorPixelLayout l4444{16, 0x0F00, 0x00F0, 0x000F, 0xF000, nullptr};
    const HDC to4444 = VantorCreateMemoryDC(out.data(), 1, 1, 2, &l4444);
    EXPECT_TRUE(BitBlt(to4444, 0, 0, 1, 1, fromArgb, 0, 0, SRCCOPY));
    EXPECT_EQ(out[0], 0x8F80);
    for (HDC dc : {from, toArgb, toXrgb, fromArgb, to4444}) DeleteDC(dc);
}

TEST_F(Gdi, BlitPalettisedSourcesUseTheirTableOrKeepIndices) {
    // Entries 3 and 7 hold the same colour: only an index copy keeps 7 apart from 3.
    std::vector<RGBQUAD> palette = Ramp(256);
    palette[7] = palette[3];
    InfoBlock info = DibInfo(4, 1, 8);
    SetColours(info, palette);
    Selected src(info);
    ASSERT_TRUE(src.ok());
    const uint8_t indices[4] = {7, 3, 200, 0};
    std::memcpy(src.bits, indices, 4);

    Guarded same(4, 1, 1, VantorPixelLayout{8, 0, 0, 0, 0, palette.data()});
    EXPECT_TRUE(BitBlt(same.dc, 0, 0, 4, 1, src.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(same.Bytes(4), (std::vector<uint8_t>{7, 3, 200, 0}));

    // Another table: colours are matched; the colour of source index 200 sits at 13 there.
    std::vector<RGBQUAD> other(256, RGBQUAD{1, 2, 3, 0});
    other[13] = palette[200];
    other[40] = palette[3];
    other[41] = palette[0];
    Guarded matched(4, 1, 1, VantorPixelLayout{8, 0, 0, 0, 0, other.data()});
    EXPECT_TRUE(BitBlt(matched.dc, 0, 0, 4, 1, src.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(matched.Bytes(4), (std::vector<uint8_t>{40, 40, 13, 41}));

    // A 4-bit table that opens the 8-bit one copies indices too.
    InfoBlock info4 = DibInfo(2, 1, 4);
    SetColours(info4, std::vector<RGBQUAD>(palette.begin(), palette.begin() + 16));
    Selected four(info4);
    four.bits[0] = 0x73;
    Guarded wide(2, 1, 1, VantorPixelLayout{8, 0, 0, 0, 0, palette.data()});
    EXPECT_TRUE(BitBlt(wide.dc, 0, 0, 2, 1, four.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(wide.Bytes(2), (std::vector<uint8_t>{7, 3}));

    // A 1-bit source through its own two colours.
    InfoBlock info1 = DibInfo(10, 1, 1);
    SetColours(info1, {RGBQUAD{255, 0, 0, 0}, RGBQUAD{0, 0, 255, 0}});  // blue, red
    Selected mono(info1);
    mono.bits[0] = 0xA0;  // 1 0 1 0 0 0 0 0
    mono.bits[1] = 0x40;  // 0 1
    SelectObject(mono.dc, mono.old);  // ToRgba selects it into a DC of its own
    const Rgba px = ToRgba(mono.bitmap);
    ASSERT_EQ(px.pixels.size(), 40u);
    const std::vector<int> reds = {1, 0, 1, 0, 0, 0, 0, 0, 0, 1};
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(px.At(x, 0)[0], reds[x] ? 255 : 0) << x;
        EXPECT_EQ(px.At(x, 0)[2], reds[x] ? 0 : 255) << x;
    }
}

TEST_F(Gdi, BlitClipsToBothSidesAndNothingElse) {
    // Source 5x5: pixel (x, y) = 0xFF000000 | y << 8 | x, as R = x, G = y.
    InfoBlock info = DibInfo(5, 5, 32);
    Selected src(info);
    ASSERT_TRUE(src.ok());
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x) {
            const uint32_t v = 0xFF000000u | static_cast<uint32_t>(x) << 16 | static_cast<uint32_t>(y) << 8;
            std::memcpy(src.bits + 20 * (4 - y) + 4 * x, &v, 4);  // bottom-up
        }
    auto at = [](int x, int y) { return 0xFF000000u | static_cast<uint32_t>(y) << 8 | static_cast<uint32_t>(x); };
    const VantorPixelLayout abgr{32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000, nullptr};

    {
        SCOPED_TRACE("destination starts above and left of the surface");
        Guarded dst(4, 3, 4, abgr);
        EXPECT_TRUE(BitBlt(dst.dc, -1, -1, 10, 10, src.dc, 0, 0, SRCCOPY));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) EXPECT_EQ(dst.Pixel32(x, y), at(x + 1, y + 1)) << x << "," << y;
        EXPECT_TRUE(dst.Untouched(16));
    }
    {
        SCOPED_TRACE("source runs off its bottom-right corner");
        Guarded dst(4, 3, 4, abgr);
        EXPECT_TRUE(BitBlt(dst.dc, 1, 0, 4, 4, src.dc, 3, 3, SRCCOPY));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) {
                const bool copied = x >= 1 && x <= 2 && y <= 1;
                EXPECT_EQ(dst.Pixel32(x, y), copied ? at(x + 2, y + 3) : 0xCDCDCDCDu) << x << "," << y;
            }
        EXPECT_TRUE(dst.Untouched(16));
    }
    {
        SCOPED_TRACE("source starts left of its surface");
        Guarded dst(4, 3, 4, abgr);
        EXPECT_TRUE(BitBlt(dst.dc, 0, 0, 3, 1, src.dc, -2, 0, SRCCOPY));
        EXPECT_EQ(dst.Pixel32(0, 0), 0xCDCDCDCDu);
        EXPECT_EQ(dst.Pixel32(1, 0), 0xCDCDCDCDu);
        EXPECT_EQ(dst.Pixel32(2, 0), at(0, 0));
        EXPECT_TRUE(dst.Untouched(16));
    }
    {
        SCOPED_TRACE("nothing overlaps, and extreme coordinates");
        Guarded dst(4, 3, 4, abgr);
        EXPECT_TRUE(BitBlt(dst.dc, 0, 0, 4, 3, src.dc, 5, 0, SRCCOPY));
        EXPECT_TRUE(BitBlt(dst.dc, 0, 0, 0, 3, src.dc, 0, 0, SRCCOPY));
        EXPECT_TRUE(BitBlt(dst.dc, 0, 0, -4, -3, src.dc, 0, 0, SRCCOPY));
        EXPECT_TRUE(BitBlt(dst.dc, INT_MIN, INT_MIN, INT_MAX, INT_MAX, src.dc, INT_MAX, INT_MAX, SRCCOPY));
        EXPECT_TRUE(BitBlt(dst.dc, INT_MAX, INT_MAX, INT_MAX, INT_MAX, src.dc, INT_MIN, INT_MIN, SRCCOPY));
        EXPECT_TRUE(BitBlt(dst.dc, INT_MIN, 0, INT_MAX, 3, src.dc, 0, 0, SRCCOPY));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) EXPECT_EQ(dst.Pixel32(x, y), 0xCDCDCDCDu);
        EXPECT_TRUE(dst.Untouched(16));
    }
}

TEST_F(Gdi, BlitOverlappingCopiesWithinOneSurface) {
    {
        SCOPED_TRACE("a memory DC onto itself, right and left");
        std::vector<uint32_t> px = {1, 2, 3, 4, 5};
        const VantorPixelLayout layout{32, 0xFF0000, 0xFF00, 0xFF, 0, nullptr};
        const HDC dc = VantorCreateMemoryDC(px.data(), 5, 1, 20, &layout);
        EXPECT_TRUE(BitBlt(dc, 1, 0, 4, 1, dc, 0, 0, SRCCOPY));
        EXPECT_EQ(px, (std::vector<uint32_t>{1, 1, 2, 3, 4}));
        EXPECT_TRUE(BitBlt(dc, 0, 0, 4, 1, dc, 1, 0, SRCCOPY));
        EXPECT_EQ(px, (std::vector<uint32_t>{1, 2, 3, 4, 4}));
        // Two DCs over the same memory count as one surface.
        const HDC alias = VantorCreateMemoryDC(px.data(), 5, 1, 20, &layout);
        EXPECT_TRUE(BitBlt(alias, 2, 0, 3, 1, dc, 0, 0, SRCCOPY));
        EXPECT_EQ(px, (std::vector<uint32_t>{1, 2, 1, 2, 3}));
        DeleteDC(alias);
        DeleteDC(dc);
    }
    {
        SCOPED_TRACE("a bottom-up DIB scrolled down by a row");
        Selected s(DibInfo(1, 4, 8));
        const std::vector<RGBQUAD> grey = Ramp(256);
        ASSERT_TRUE(s.ok());
        for (int fromBottom = 0; fromBottom < 4; ++fromBottom) s.bits[4 * fromBottom] = static_cast<uint8_t>(10 + fromBottom);
        // Rows from the top: 13 12 11 10. Copy the top three one row down: 13 13 12 11.
        EXPECT_TRUE(BitBlt(s.dc, 0, 1, 1, 3, s.dc, 0, 0, SRCCOPY));
        EXPECT_EQ(s.bits[12], 13);
        EXPECT_EQ(s.bits[8], 13);
        EXPECT_EQ(s.bits[4], 12);
        EXPECT_EQ(s.bits[0], 11);
    }
}

TEST_F(Gdi, BlitBottomUpAndTopDownAgreeOnTheTop) {
    for (int height : {2, -2}) {
        SCOPED_TRACE(height);
        Selected s(DibInfo(1, height, 24));
        ASSERT_TRUE(s.ok());
        uint8_t* first = s.bits;
        uint8_t* second = s.bits + 4;
        uint8_t* top = height > 0 ? second : first;
        uint8_t* bottom = height > 0 ? first : second;
        top[0] = 0xFF;     // blue
        bottom[2] = 0xFF;  // red
        SelectObject(s.dc, s.old);
        const Rgba px = ToRgba(s.bitmap);
        EXPECT_EQ(px.pixels, (std::vector<uint8_t>{0, 0, 255, 255, 255, 0, 0, 255}));
    }
}

TEST_F(Gdi, ColourTableOfTheSelectedDibOrSurface) {
    InfoBlock info = DibInfo(2, 2, 8);
    SetColours(info, Ramp(256));
    Selected eight(info);
    ASSERT_TRUE(eight.ok());
    RGBQUAD out[300];
    EXPECT_EQ(GetDIBColorTable(eight.dc, 0, 300, out), 256u);
    EXPECT_EQ(out[255].rgbRed, Ramp(256)[255].rgbRed);
    EXPECT_EQ(GetDIBColorTable(eight.dc, 250, 10, out), 6u);
    EXPECT_EQ(out[0].rgbGreen, Ramp(256)[250].rgbGreen);
    EXPECT_EQ(GetDIBColorTable(eight.dc, 256, 1, out), 0u);
    EXPECT_EQ(GetDIBColorTable(eight.dc, 0, 1, nullptr), 0u);

    InfoBlock info4 = DibInfo(2, 2, 4);
    SetColours(info4, Ramp(5));
    Selected four(info4);
    EXPECT_EQ(GetDIBColorTable(four.dc, 0, 16, out), 5u);

    Selected rgb(DibInfo(2, 2, 24));
    EXPECT_EQ(GetDIBColorTable(rgb.dc, 0, 16, out), 0u);

    const HDC fresh = CreateCompatibleDC(0);  // holds the stock bitmap, no DIB section
    EXPECT_EQ(GetDIBColorTable(fresh, 0, 16, out), 0u);
    DeleteDC(fresh);

    std::vector<RGBQUAD> palette = Ramp(256);
    palette[9].rgbReserved = 0x55;
    std::vector<uint8_t> px(4);
    const VantorPixelLayout layout{8, 0, 0, 0, 0, palette.data()};
    const HDC surface = VantorCreateMemoryDC(px.data(), 2, 2, 2, &layout);
    palette[9].rgbRed = 1;  // the DC took a copy
    EXPECT_EQ(GetDIBColorTable(surface, 0, 256, out), 256u);
    EXPECT_EQ(out[9].rgbRed, Ramp(256)[9].rgbRed);
    EXPECT_EQ(out[9].rgbReserved, 0);
    DeleteDC(surface);
    EXPECT_EQ(GetDIBColorTable(0xBAD, 0, 1, out), 0u);
}

TEST_F(Gdi, MemoryDCLayoutsAreValidated) {
    std::vector<uint8_t> px(64 * 4);
    RGBQUAD palette[256] = {};
    auto make = [&](VantorPixelLayout l, int width = 4, int height = 4, int pitch = 16, void* bits = nullptr) {
        const HDC dc = VantorCreateMemoryDC(bits ? bits : px.data(), width, height, pitch, &l);
        if (dc) DeleteDC(dc);
        return dc != 0;
    };
    EXPECT_TRUE(make({32, 0, 0, 0, 0, nullptr}));
    EXPECT_TRUE(make({16, 0x0F00, 0x00F0, 0x000F, 0xF000, nullptr}, 4, 4, 8));
    EXPECT_TRUE(make({8, 0, 0, 0, 0, palette}, 4, 4, 4));
    EXPECT_FALSE(make({8, 0, 0, 0, 0, nullptr}, 4, 4, 4)) << "8 bits need a palette";
    EXPECT_FALSE(make({4, 0, 0, 0, 0, palette}));
    EXPECT_FALSE(make({32, 0xFF0000, 0, 0xFF, 0, nullptr})) << "a zero mask";
    EXPECT_FALSE(make({16, 0xF0F0, 0x0F00, 0x000F, 0, nullptr}, 4, 4, 8)) << "not contiguous";
    EXPECT_FALSE(make({16, 0xF800, 0x07E0, 0x001F, 0x0001, nullptr}, 4, 4, 8)) << "alpha overlaps";
    EXPECT_FALSE(make({32, 0, 0, 0, 0, nullptr}, 4, 4, 15)) << "pitch shorter than a row";
    EXPECT_FALSE(make({32, 0, 0, 0, 0, nullptr}, 4, 4, -16));
    EXPECT_FALSE(make({32, 0, 0, 0, 0, nullptr}, 0, 4, 16));
    EXPECT_FALSE(make({32, 0, 0, 0, 0, nullptr}, 40000, 1, INT_MAX));
    EXPECT_EQ(VantorCreateMemoryDC(nullptr, 4, 4, 16, &kRgba), 0u);
    EXPECT_EQ(VantorCreateMemoryDC(px.data(), 4, 4, 16, nullptr), 0u);
}

TEST_F(Gdi, LoadImageFilesAndModuleResources) {
    BmpFields red;
    red.width = 2;
    red.height = 1;
    red.pixels = {0, 0, 255, 0, 0, 255, 0, 0};
    const std::vector<uint8_t> redFile = MakeBmp(red);
    BmpFields blue = red;
    blue.pixels = {255, 0, 0, 255, 0, 0, 0, 0};
    const std::vector<uint8_t> blueFile = MakeBmp(blue);
    auto firstPixel = [](HANDLE b) {
        const Rgba px = ToRgba(b);
        return px.pixels.empty() ? std::vector<uint8_t>{} : std::vector<uint8_t>(px.At(0, 0), px.At(0, 0) + 4);
    };
    const std::vector<uint8_t> isRed = {255, 0, 0, 255}, isBlue = {0, 0, 255, 255};

    // A real file in a fresh directory, also the working directory so a bare name finds it.
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("vantor-gdi-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path cwd = fs::current_path();
    fs::current_path(dir);
    std::ofstream("wood.bmp", std::ios::binary).write(reinterpret_cast<const char*>(blueFile.data()), blueFile.size());
    const HMODULE host = GetModuleHandleA(nullptr);
    ASSERT_NE(host, 0u);
    ASSERT_TRUE(VantorAddResource(host, "BITMAP", "Wood.bmp", redFile.data(), redFile.size(), FALSE));
    ASSERT_TRUE(VantorAddResource(host, "bitmap", "#101", redFile.data(), redFile.size(), FALSE));

    // The flag decides where a name is looked for: a file, or the module's resources.
    HANDLE b = LoadImageA(0, "wood.bmp", IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION);
    EXPECT_EQ(firstPixel(b), isBlue);
    DeleteObject(b);
    b = LoadImageA(host, "WOOD.BMP", IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    EXPECT_EQ(firstPixel(b), isRed) << "resource names are case-insensitive";
    DeleteObject(b);
    b = LoadImageA(host, reinterpret_cast<LPCSTR>(uintptr_t{101}), IMAGE_BITMAP, 0, 0, 0);
    EXPECT_EQ(firstPixel(b), isRed) << "a numeric id is the resource \"#101\"";
    DeleteObject(b);
    b = LoadImageA(host, "wood.bmp", IMAGE_BITMAP, 2, 1, 0);
    EXPECT_NE(b, 0u) << "cx and cy equal to the image's size";
    DeleteObject(b);

    SetLastError(0);
    EXPECT_EQ(LoadImageA(host, "pine.bmp", IMAGE_BITMAP, 0, 0, 0), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(LoadImageA(0, "wood.bmp", IMAGE_BITMAP, 0, 0, 0), 0u) << "no module: no system bitmaps here";
    EXPECT_EQ(LoadImageA(host, "pine.bmp", IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(LoadImageA(0, dir.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE), 0u) << "a directory";
    EXPECT_EQ(LoadImageA(0, reinterpret_cast<LPCSTR>(uintptr_t{101}), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE), 0u);
    EXPECT_EQ(LoadImageA(0, nullptr, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE), 0u);
    EXPECT_EQ(LoadImageA(0, "wood.bmp", 1, 0, 0, LR_LOADFROMFILE), 0u) << "IMAGE_ICON";
    EXPECT_EQ(LoadImageA(0, "wood.bmp", IMAGE_BITMAP, 64, 64, LR_LOADFROMFILE), 0u) << "no scaling";

    // Broken resource bytes are refused like broken files, with the reason in the debug output.
    std::vector<uint8_t> broken = redFile;
    broken[0] = 'P';
    ASSERT_TRUE(VantorAddResource(host, "BITMAP", "broken", broken.data(), broken.size(), FALSE));
    {
        Capture trace;
        EXPECT_EQ(LoadImageA(host, "broken", IMAGE_BITMAP, 0, 0, 0), 0u);
        EXPECT_NE(trace.text.find("LoadImageA: bitmap refused: not a BMP file"), std::string::npos) << trace.text;
    }

    // Once removed, a resource is gone.
    ASSERT_TRUE(VantorRemoveResource(host, "BITMAP", "wood.bmp"));
    EXPECT_EQ(LoadImageA(host, "wood.bmp", IMAGE_BITMAP, 0, 0, 0), 0u);
    VantorRemoveResource(host, "BITMAP", "#101");
    VantorRemoveResource(host, "BITMAP", "broken");
    fs::current_path(cwd);
    fs::remove_all(dir);
}
