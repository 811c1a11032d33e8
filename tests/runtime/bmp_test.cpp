// The BMP reader: the real BMP files on this machine and files of every depth and layout made
// here, each compared pixel for pixel with stb_image's decode of the same bytes; run-length
// files against images worked out by hand; and broken files, which are refused (for the
// reason the debug output names) or clipped, never read or written outside their buffers.
#include "bmp_builder.h"

#include <vantor/debug.h>
#include <vantor/gdi.h>
#include <vantor/handles.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#include <stb/stb_image.h>

using namespace bmptest;

namespace {

HBITMAP Load(const std::vector<uint8_t>& file) { return VantorLoadBitmapFromMemory(file.data(), file.size()); }

void ExpectRefused(const std::vector<uint8_t>& file, const std::string& reason) {
    Capture capture;
    const HBITMAP b = Load(file);
    EXPECT_EQ(b, 0u) << "accepted a file that should be refused for: " << reason;
    EXPECT_NE(capture.text.find(reason), std::string::npos) << "debug output was: " << capture.text;
    if (b) DeleteObject(b);
}

// Compares our decode with stb_image's, every pixel and every channel.
void ExpectSameAsStb(const std::vector<uint8_t>& file) {
    int w = 0, h = 0, n = 0;
    stbi_uc* ref = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &w, &h, &n, 4);
    ASSERT_NE(ref, nullptr) << stbi_failure_reason();
    const HBITMAP b = Load(file);
    ASSERT_NE(b, 0u);
    const Rgba ours = ToRgba(b);
    EXPECT_TRUE(DeleteObject(b));
    ASSERT_EQ(ours.width, w);
    ASSERT_EQ(ours.height, h);
    int mismatches = 0;
    for (int y = 0; y < h && mismatches < 5; ++y)
        for (int x = 0; x < w && mismatches < 5; ++x) {
            const uint8_t* a = ours.At(x, y);
            const uint8_t* r = ref + (static_cast<size_t>(y) * w + x) * 4;
            if (!std::equal(a, a + 4, r)) {
                ++mismatches;
                ADD_FAILURE() << "pixel (" << x << "," << y << "): ours " << int(a[0]) << "," << int(a[1]) << ","
                              << int(a[2]) << "," << int(a[3]) << " stb " << int(r[0]) << "," << int(r[1]) << ","
                              << int(r[2]) << "," << int(r[3]);
            }
        }
    stbi_image_free(ref);
}

// A small valid file of each depth, for the tests that break files.
BmpFields Valid(int bitCount) {
    BmpFields s;
    s.width = 5;
    s.height = 3;
    s.bitCount = static_cast<uint16_t>(bitCount);
    if (bitCount <= 8) s.colours = Ramp(1 << bitCount);
    s.pixels = PackRows(5, 3, bitCount, false, [&](int x, int y) { return static_cast<uint32_t>(x * 7 + y * 3) * 0x01030507u; });
    return s;
}

// A bitmap read from a file's bytes, deleted at the end of the scope.
struct Loaded {
    HBITMAP bitmap;
    explicit Loaded(const std::vector<uint8_t>& file) : bitmap(Load(file)) {}
    Loaded(const Loaded&) = delete;
    ~Loaded() {
        if (bitmap) DeleteObject(bitmap);
    }
    operator HBITMAP() const { return bitmap; }
};

struct Dib {
    DIBSECTION ds{};
    const uint8_t* Row(int fromBottom) const {
        return static_cast<const uint8_t*>(ds.dsBm.bmBits) + static_cast<size_t>(ds.dsBm.bmWidthBytes) * fromBottom;
    }
};

Dib Inspect(HBITMAP b) {
    Dib d;
    EXPECT_EQ(GetObjectA(b, sizeof d.ds, &d.ds), static_cast<INT>(sizeof(DIBSECTION)));
    return d;
}

}  // namespace

TEST(BmpFiles, EveryAssimpBitmapMatchesStbImage) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator("/usr/share/assimp")) {
        std::string ext = e.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
        if (e.is_regular_file() && ext == ".bmp") files.push_back(e.path());
    }
    ASSERT_FALSE(files.empty()) << "no BMP files under /usr/share/assimp (assimp-testmodels)";
    for (const fs::path& path : files) {
        SCOPED_TRACE(path.string());
        std::ifstream in(path, std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        ASSERT_EQ(bytes.size(), fs::file_size(path));
        ExpectSameAsStb(bytes);

        // LoadImageA reads the same file to the same bitmap.
        const HANDLE viaFile = LoadImageA(0, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION);
        ASSERT_NE(viaFile, 0u);
        const HBITMAP viaMemory = Load(bytes);
        EXPECT_EQ(ToRgba(viaFile).pixels, ToRgba(viaMemory).pixels);
        DeleteObject(viaFile);
        DeleteObject(viaMemory);
    }
}

TEST(BmpFormats, UncompressedLayoutsMatchStbImage) {
    using Value = uint32_t (*)(int, int);
    struct Case {
        const char* name;
        int width, height, bitCount;
        Value value;
        uint32_t header = 40, compression = BI_RGB;
        std::vector<uint32_t> masks = {};
        int colours = 0;  // a shorter colour table than the depth allows, with biClrUsed
    };
    const Value kIndex8 = [](int x, int y) -> uint32_t { return (x * 37 + y * 11) % 256; };
    const Value kCore8 = [](int x, int y) -> uint32_t { return (x * 50 + y) % 256; };
    const Value kRgb24 = [](int x, int y) { return (x * 0x3F1E07u + y * 0x10F0A3u) & 0xFFFFFF; };
    const Value kAny32 = [](int x, int y) { return (x * 0x01234567u + y * 0x89ABCDEFu) | 0x01000000u; };
    const Case cases[] = {
        {"1 bit, 13 wide", 13, 4, 1, [](int x, int y) -> uint32_t { return (x * 3 + y) % 2; }},
        {"4 bits, 7 wide", 7, 5, 4, [](int x, int y) -> uint32_t { return (x + 2 * y) % 16; }},
        {"4 bits, 12 colours used", 6, 3, 4, [](int x, int y) -> uint32_t { return (x + y) % 12; }, 40, BI_RGB, {}, 12},
        {"8 bits, 5 wide", 5, 6, 8, kIndex8},
        {"8 bits, top-down", 5, -6, 8, kIndex8},
        {"16 bits 5-5-5", 5, 4, 16, [](int x, int y) -> uint32_t { return (x * 1234 + y * 567) & 0x7FFF; }},
        {"16 bits 5-6-5 bit fields", 5, 4, 16, [](int x, int y) -> uint32_t { return (x * 4321 + y * 765) & 0xFFFF; },
         40, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}},
        {"16 bits 4-4-4-4 with alpha, V5 header", 4, 4, 16,
         [](int x, int y) -> uint32_t { return (x * 9001 + y * 313) & 0xFFFF; }, 124, BI_BITFIELDS,
         {0x0F00, 0x00F0, 0x000F, 0xF000}},
        {"24 bits, 3 wide", 3, 5, 24, kRgb24},
        {"24 bits, top-down", 3, -5, 24, kRgb24},
        {"32 bits BI_RGB", 4, 3, 32, [](int x, int y) { return 0xFF000000u | ((x * 0x123456u + y * 0x0F0F0Fu) & 0xFFFFFF); }},
        {"32 bits, red in the low byte, 40-byte header", 4, 3, 32, kAny32, 40, BI_BITFIELDS, {0xFF, 0xFF00, 0xFF0000}},
        {"32 bits with alpha, V4 header", 4, 3, 32, kAny32, 108, BI_BITFIELDS, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}},
        {"8 bits, core header", 5, 3, 8, kCore8, 12},
        {"24 bits, core header", 5, 3, 24, kRgb24, 12},
        {"8 bits, V5 header", 5, 3, 8, kCore8, 124},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BmpFields s;
        s.headerSize = c.header;
        s.width = c.width;
        s.height = c.height;
        s.bitCount = static_cast<uint16_t>(c.bitCount);
        s.compression = c.compression;
        s.pixels = PackRows(c.width, std::abs(c.height), c.bitCount, c.height < 0, c.value);
        if (c.bitCount <= 8) s.colours = Ramp(c.colours ? c.colours : 1 << c.bitCount);
        s.clrUsed = static_cast<uint32_t>(c.colours);
        std::copy(c.masks.begin(), c.masks.end(), s.masks);
        ExpectSameAsStb(MakeBmp(s));
    }
}

TEST(BmpFormats, DibSectionKeepsTheFileLayout) {
    {
        SCOPED_TRACE("24-bit top-down, 3 wide");
        BmpFields s;
        s.width = 3;
        s.height = -2;
        s.pixels = PackRows(3, 2, 24, true, [](int x, int y) { return y == 0 ? 0x112233u : 0x445566u; });
        const Loaded b(MakeBmp(s));
        ASSERT_NE(b, 0u);
        const Dib d = Inspect(b);
        // The height always positive, its sign in the header telling the row order; 9 bytes padded to 4.
        EXPECT_EQ(std::tie(d.ds.dsBm.bmHeight, d.ds.dsBmih.biHeight, d.ds.dsBm.bmWidthBytes, d.ds.dsBm.bmBitsPixel,
                           d.ds.dsBmih.biSizeImage),
                  std::tuple(2, -2, 12, 24, 24u));
        EXPECT_EQ(std::tuple(d.Row(0)[0], d.Row(1)[0]), std::tuple(0x33, 0x66)) << "the first row in memory is the top";
    }
    {
        SCOPED_TRACE("8-bit with 20 colours");
        BmpFields s = Valid(8);
        s.clrUsed = 20;
        s.colours = Ramp(20);
        s.pixels = PackRows(5, 3, 8, false, [](int x, int y) { return static_cast<uint32_t>(x + y); });
        const Loaded b(MakeBmp(s));
        ASSERT_NE(b, 0u);
        const Dib d = Inspect(b);
        EXPECT_EQ(std::tie(d.ds.dsBmih.biClrUsed, d.ds.dsBmih.biCompression), std::tuple(20u, DWORD{BI_RGB}));
        EXPECT_EQ(d.Row(0)[4], 2 + 4);  // bottom row (y = 2), x = 4
        HDC dc = CreateCompatibleDC(0);
        HGDIOBJ old = SelectObject(dc, b);
        RGBQUAD table[256];
        EXPECT_EQ(GetDIBColorTable(dc, 0, 256, table), 20u);
        EXPECT_EQ(table[19].rgbRed, Ramp(20)[19].rgbRed);
        SelectObject(dc, old);
        DeleteDC(dc);
    }
    {
        SCOPED_TRACE("16-bit 5-6-5 bit fields");
        BmpFields s = Valid(16);
        s.compression = BI_BITFIELDS;
        s.masks[0] = 0xF800, s.masks[1] = 0x07E0, s.masks[2] = 0x001F;
        const Loaded b(MakeBmp(s));
        ASSERT_NE(b, 0u);
        const Dib d = Inspect(b);
        EXPECT_EQ(std::tie(d.ds.dsBmih.biCompression, d.ds.dsBitfields[0], d.ds.dsBitfields[1], d.ds.dsBitfields[2]),
                  std::tuple(DWORD{BI_BITFIELDS}, 0xF800u, 0x07E0u, 0x001Fu));
    }
    {
        SCOPED_TRACE("10-10-10 bit fields keep the top 8 bits of each channel");
        BmpFields s;
        s.width = 1;
        s.bitCount = 32;
        s.compression = BI_BITFIELDS;
        s.masks[0] = 0x3FF00000, s.masks[1] = 0x000FFC00, s.masks[2] = 0x000003FF;
        s.pixels = PackRows(1, 1, 32, false, [](int, int) { return (0x3FCu << 20) | (0x203u << 10) | 0x0FFu; });
        const Loaded b(MakeBmp(s));
        ASSERT_NE(b, 0u);
        const Rgba px = ToRgba(b);
        EXPECT_EQ(px.pixels, (std::vector<uint8_t>{0xFF, 0x80, 0x3F, 0xFF}));
    }
}

TEST(BmpRunLength, Rle8EncodedAbsoluteDeltaAndEscapes) {
    BmpFields s;
    s.width = 6;
    s.height = 4;
    s.bitCount = 8;
    s.compression = BI_RLE8;
    s.colours = Ramp(8);
    s.pixels = {
        0x03, 0x01,                          // three of 1
        0x00, 0x03, 0x02, 0x03, 0x04, 0x00,  // absolute 2 3 4, padded to a word
        0x00, 0x00,                          // end of line
        0x02, 0x05,                          // two of 5
        0x00, 0x02, 0x02, 0x01,              // delta: right 2, up 1 -> (4, row 2)
        0x02, 0x06,                          // two of 6
        0x00, 0x00,                          // end of line
        0x0A, 0x07,                          // ten of 7 on a row of 6: clipped
        0x00, 0x01,                          // end of bitmap
        0x05, 0x05,                          // after the end: ignored
    };
    const Loaded b(MakeBmp(s));
    ASSERT_NE(b, 0u);
    const Dib d = Inspect(b);
    EXPECT_EQ(d.ds.dsBmih.biCompression, static_cast<DWORD>(BI_RGB));  // decoded, as Windows does
    EXPECT_EQ(d.ds.dsBm.bmWidthBytes, 8);
    const std::vector<std::vector<uint8_t>> rows = {
        {1, 1, 1, 2, 3, 4}, {5, 5, 0, 0, 0, 0}, {0, 0, 0, 0, 6, 6}, {7, 7, 7, 7, 7, 7}};
    for (int r = 0; r < 4; ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(std::vector<uint8_t>(d.Row(r), d.Row(r) + 6), rows[r]);
        EXPECT_EQ(std::tuple(d.Row(r)[6], d.Row(r)[7]), std::tuple(0, 0)) << "padding untouched by the clipped run";
    }
    // The colours come from the table: the top row is index 7.
    const Rgba px = ToRgba(b);
    EXPECT_EQ(px.At(0, 0)[0], Ramp(8)[7].rgbRed);
    EXPECT_EQ(px.At(0, 3)[1], Ramp(8)[1].rgbGreen);
}

TEST(BmpRunLength, Rle4NibblesAlternateAndAbsoluteRunsPad) {
    BmpFields s;
    s.width = 5;
    s.height = 3;
    s.bitCount = 4;
    s.compression = BI_RLE4;
    s.colours = Ramp(16);
    s.pixels = {
        0x05, 0x12,                          // 1 2 1 2 1
        0x00, 0x00,                          // end of line
        0x00, 0x03, 0x34, 0x50,              // absolute 3 4 5 (two bytes, no pad)
        0x02, 0x0F,                          // 0 F
        0x00, 0x00,                          // end of line
        0x00, 0x05, 0x67, 0x89, 0xA0, 0x00,  // absolute 6 7 8 9 A (three bytes and a pad)
        0x00, 0x01,                          // end of bitmap
    };
    const Loaded b(MakeBmp(s));
    ASSERT_NE(b, 0u);
    const Dib d = Inspect(b);
    EXPECT_EQ(std::tie(d.ds.dsBm.bmBitsPixel, d.ds.dsBm.bmWidthBytes), std::tuple(4, 4));
    const std::vector<std::vector<uint8_t>> rows = {{0x12, 0x12, 0x10}, {0x34, 0x50, 0xF0}, {0x67, 0x89, 0xA0}};
    for (int r = 0; r < 3; ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(std::vector<uint8_t>(d.Row(r), d.Row(r) + 3), rows[r]);
    }
}

TEST(BmpRunLength, PacketsPastTheImageAreClipped) {
    auto rle8 = [](int width, int height, std::vector<uint8_t> stream, uint32_t sizeImage = 0) {
        BmpFields s;
        s.width = width;
        s.height = height;
        s.bitCount = 8;
        s.compression = BI_RLE8;
        s.colours = Ramp(256);
        s.sizeImage = sizeImage;
        s.pixels = std::move(stream);
        return MakeBmp(s);
    };
    auto rowsOf = [](HBITMAP b, int width, int height) {
        const Dib d = Inspect(b);
        std::vector<uint8_t> all;
        for (int r = 0; r < height; ++r) all.insert(all.end(), d.Row(r), d.Row(r) + width);
        return all;
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        int width, height;
        std::vector<uint8_t> expected;  // rows from the bottom
    };
    const std::vector<Case> cases = {
        {"delta above the image, then a run", rle8(4, 2, {0x01, 0x09, 0x00, 0x02, 0x01, 0x05, 0x02, 0x03}), 4, 2,
         {9, 0, 0, 0, 0, 0, 0, 0}},
        {"delta right past the row, then a run", rle8(4, 2, {0x00, 0x02, 0xFF, 0x00, 0x02, 0x03, 0x00, 0x00, 0x01, 0x04}),
         4, 2, {0, 0, 0, 0, 4, 0, 0, 0}},
        {"absolute run longer than the row", rle8(2, 1, {0x00, 0x05, 0x01, 0x02, 0x03, 0x04, 0x05, 0x00}), 2, 1, {1, 2}},
        {"stream ends inside an absolute run", rle8(4, 1, {0x00, 0x08, 0x01, 0x02}), 4, 1, {1, 2, 0, 0}},
        {"stream ends after one byte", rle8(2, 1, {0x03}), 2, 1, {0, 0}},
        {"more lines than the image", rle8(2, 2, {0x01, 0x01, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x02, 0x03, 0x00, 0x00}),
         2, 2, {1, 0, 2, 0}},
        {"biSizeImage shorter than the stream", rle8(3, 1, {0x01, 0x04, 0x02, 0x05}, 2), 3, 1, {4, 0, 0}},
        {"biSizeImage longer than the data", rle8(3, 1, {0x03, 0x06}, 4096), 3, 1, {6, 6, 6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Loaded b(c.file);
        ASSERT_NE(b, 0u);
        EXPECT_EQ(rowsOf(b, c.width, c.height), c.expected);
    }
    // RLE4 runs that start on an odd pixel and run past the row end.
    BmpFields s;
    s.width = 3;
    s.height = 1;
    s.bitCount = 4;
    s.compression = BI_RLE4;
    s.colours = Ramp(16);
    s.pixels = {0x01, 0x70, 0x09, 0xAB, 0x00, 0x07, 0x12, 0x34, 0x56, 0x70};
    const Loaded b(MakeBmp(s));
    ASSERT_NE(b, 0u);
    EXPECT_EQ(std::tuple(Inspect(b).Row(0)[0], Inspect(b).Row(0)[1]), std::tuple(0x7A, 0xB0));
}

TEST(BmpRefusals, BrokenHeadersAreRefusedForTheirReason) {
    std::vector<uint8_t> good = MakeBmp(Valid(24));
    ASSERT_NE(Load(good), 0u) << "the base file must be valid";

    auto with = [](BmpFields s, auto edit) {
        edit(s);
        return MakeBmp(s);
    };
    ExpectRefused({}, "too short");
    ExpectRefused(std::vector<uint8_t>(good.begin(), good.begin() + 20), "too short");
    {
        std::vector<uint8_t> f = good;
        f[0] = 'X';
        ExpectRefused(f, "not a BMP file");
    }
    ExpectRefused(with(Valid(24), [](BmpFields& s) { s.headerSize = 64; }), "unsupported header size");
    {
        std::vector<uint8_t> f = with(Valid(24), [](BmpFields& s) { s.headerSize = 124; });
        f.resize(14 + 100);
        ExpectRefused(f, "header runs past the end of the data");
    }
    ExpectRefused(with(Valid(24), [](BmpFields& s) { s.width = 0; }), "width is not positive");
    ExpectRefused(with(Valid(24), [](BmpFields& s) { s.width = -5; }), "width is not positive");
    ExpectRefused(with(Valid(24), [](BmpFields& s) { s.height = 0; }), "height is zero");
    ExpectRefused(with(Valid(24), [](BmpFields& s) { s.width = 40000; }), "image too large");
    ExpectRefused(with(Valid(24), [](BmpFields& s) { s.width = 20000, s.height = 20000; }), "image too large");
    ExpectRefused(with(Valid(24), [](BmpFields& s) { s.height = INT_MIN; }), "image too large");
    ExpectRefused(with(Valid(24), [](BmpFields& s) { s.planes = 0; }), "planes is not 1");
    ExpectRefused(with(Valid(24), [](BmpFields& s) { s.bitCount = 2; }), "unsupported bit count");
    ExpectRefused(with(Valid(24), [](BmpFields& s) { s.bitCount = 0; }), "unsupported bit count");
    ExpectRefused(with(Valid(16), [](BmpFields& s) { s.headerSize = 12; }), "unsupported bit count");
    ExpectRefused(with(Valid(4), [](BmpFields& s) { s.compression = BI_RLE8; }), "BI_RLE8 needs 8 bits");
    ExpectRefused(with(Valid(8), [](BmpFields& s) { s.compression = BI_RLE4; }), "BI_RLE4 needs 4 bits");
    ExpectRefused(with(Valid(24), [](BmpFields& s) { s.compression = BI_BITFIELDS; }), "BI_BITFIELDS needs 16 or 32");
    ExpectRefused(with(Valid(24), [](BmpFields& s) { s.compression = 4; }), "unsupported compression");  // BI_JPEG
    ExpectRefused(with(Valid(32), [](BmpFields& s) { s.compression = 6; }), "unsupported compression");
    ExpectRefused(with(Valid(8), [](BmpFields& s) { s.compression = BI_RLE8, s.height = -3; }), "must be bottom-up");
}

TEST(BmpRefusals, BogusMasksAreRefused) {
    auto fields = [](int bitCount, uint32_t r, uint32_t g, uint32_t b, uint32_t a = 0, uint32_t header = 40) {
        BmpFields s = Valid(bitCount);
        s.headerSize = header;
        s.compression = BI_BITFIELDS;
        s.masks[0] = r, s.masks[1] = g, s.masks[2] = b, s.masks[3] = a;
        return MakeBmp(s);
    };
    ASSERT_NE(Load(fields(16, 0xF800, 0x07E0, 0x001F)), 0u);
    ExpectRefused(fields(16, 0, 0x07E0, 0x001F), "invalid bit field masks");          // zero
    ExpectRefused(fields(16, 0xF0F0, 0x0F00, 0x000F), "invalid bit field masks");     // not contiguous
    ExpectRefused(fields(16, 0xF800, 0x0FE0, 0x001F), "invalid bit field masks");     // overlapping
    ExpectRefused(fields(16, 0x1F0000, 0x07E0, 0x001F), "invalid bit field masks");   // outside 16 bits
    ExpectRefused(fields(32, 0xFF0000, 0xFF00, 0xFF, 0xFF800000, 124), "invalid bit field masks");  // alpha overlaps
    ExpectRefused(fields(32, 0xFF0000, 0xFF00, 0xFF, 0x0F0F0000u << 4, 56), "invalid bit field masks");
    // The three masks after a 40-byte header must be in the data.
    std::vector<uint8_t> cut = fields(16, 0xF800, 0x07E0, 0x001F);
    cut.resize(14 + 40 + 8);
    ExpectRefused(cut, "bit field masks run past the end of the data");
}

TEST(BmpRefusals, OffsetsAndSizesMustLieInsideTheData) {
    auto with = [](BmpFields s, auto edit) {
        edit(s);
        return MakeBmp(s);
    };
    ExpectRefused(with(Valid(24), [](BmpFields& s) { s.offBits = 1 << 20; }), "pixel data offset outside the file");
    ExpectRefused(with(Valid(24), [](BmpFields& s) { s.offBits = 20; }), "pixel data offset outside the file");
    ExpectRefused(with(Valid(24), [](BmpFields& s) { s.offBits = 0xFFFFFFFFll; }), "pixel data offset outside the file");
    ExpectRefused(with(Valid(24), [](BmpFields& s) { s.pixels.resize(s.pixels.size() - 5); }),
                  "pixel data runs past the end of the data");
    ExpectRefused(with(Valid(8), [](BmpFields& s) { s.colours.clear(); }), "no colour table");
    // Sizes whose byte count would not fit: a plausible header over a few bytes of data.
    ExpectRefused(with(Valid(32), [](BmpFields& s) { s.width = 16384, s.height = 16384; }),
                  "pixel data runs past the end of the data");
    // A colour table cut short by the end of the file.
    {
        std::vector<uint8_t> f = with(Valid(8), [](BmpFields& s) { s.pixels.clear(); s.offBits = 14 + 40 + 1024; });
        f.resize(14 + 40 + 100);
        ExpectRefused(f, "pixel data offset outside the file");
    }
}

TEST(BmpTolerance, CommonWriterSlipsAreAccepted) {
    {
        SCOPED_TRACE("last row without its padding");
        BmpFields s;
        s.width = 1;
        s.height = 2;
        s.pixels = {0x01, 0x02, 0x03, 0x00, 0x04, 0x05, 0x06};  // 4 + 3 bytes
        const Loaded b(MakeBmp(s));
        ASSERT_NE(b, 0u);
        const Rgba px = ToRgba(b);
        EXPECT_EQ(std::tuple(px.At(0, 0)[0], px.At(0, 1)[2]), std::tuple(0x06, 0x01)) << "the top row is the file's last";
    }
    {
        SCOPED_TRACE("colour table cut at the pixel data; indices past it are black");
        BmpFields s = Valid(8);
        s.colours = Ramp(4);
        s.pixels = PackRows(5, 3, 8, false, [](int x, int) { return x == 4 ? 200u : static_cast<uint32_t>(x); });
        const Loaded b(MakeBmp(s));
        ASSERT_NE(b, 0u);
        const Dib d = Inspect(b);
        EXPECT_EQ(d.ds.dsBmih.biClrUsed, 4u);
        const Rgba px = ToRgba(b);
        EXPECT_EQ(px.At(3, 0)[0], Ramp(4)[3].rgbRed);
        EXPECT_EQ(std::vector<uint8_t>(px.At(4, 0), px.At(4, 0) + 4), (std::vector<uint8_t>{0, 0, 0, 255}));
    }
    {
        SCOPED_TRACE("biClrUsed beyond 2^bits");
        BmpFields s = Valid(4);
        s.clrUsed = 300;
        const Loaded b(MakeBmp(s));
        ASSERT_NE(b, 0u);
        EXPECT_EQ(Inspect(b).ds.dsBmih.biClrUsed, 16u);
    }
}

// Every prefix and every single-byte corruption of a file of each kind: whatever is decided,
// nothing reads or writes outside a buffer (the sanitizers watch) and no handle is left over.
TEST(BmpRobustness, TruncationsAndCorruptionsNeverCrash) {
    std::vector<std::vector<uint8_t>> files;
    for (int bits : {1, 4, 8, 16, 24, 32}) files.push_back(MakeBmp(Valid(bits)));
    {
        BmpFields s = Valid(8);
        s.compression = BI_RLE8;
        s.pixels = {0x03, 0x01, 0x00, 0x03, 0x02, 0x03, 0x04, 0x00, 0x00, 0x02, 0x01, 0x01, 0x00, 0x00, 0x00, 0x01};
        files.push_back(MakeBmp(s));
        s = Valid(4);
        s.compression = BI_RLE4;
        s.pixels = {0x05, 0x12, 0x00, 0x00, 0x00, 0x03, 0x34, 0x50, 0x00, 0x02, 0x01, 0x00, 0x00, 0x01};
        files.push_back(MakeBmp(s));
    }
    const uint32_t handlesBefore = HandleCount();
    int accepted = 0;
    for (const auto& file : files) {
        for (size_t n = 0; n < file.size(); ++n) {
            std::vector<uint8_t> prefix(file.begin(), file.begin() + n);  // exact size: overreads are caught
            if (HBITMAP b = Load(prefix)) {
                ++accepted;
                ToRgba(b);
                DeleteObject(b);
            }
        }
        for (size_t at = 0; at < file.size(); ++at)
            for (uint8_t v : {0x00, 0x7F, 0x80, 0xFF}) {
                std::vector<uint8_t> f = file;
                f[at] = v;
                if (HBITMAP b = Load(f)) {
                    ToRgba(b);
                    DeleteObject(b);
                }
            }
    }
    EXPECT_GT(accepted, 0);  // RLE prefixes decode what they hold
    EXPECT_EQ(HandleCount(), handlesBefore);
}
