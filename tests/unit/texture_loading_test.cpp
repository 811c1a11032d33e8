// The texture registry's image loading: the Targa reader on real and hand-made files, where an
// image is looked for (resource, working directory, media path, last component, letter case)
// and how bad files are refused.
#include <vantor/backend/ddraw.h>
#include <vantor/registry.h>
#include <vantor/system.h>

#include <filesystem>
#include <fstream>

#include "../runtime/bmp_builder.h"
#include "component.h"
#include "texture/registry.h"
#include "texture/targa.h"

using namespace vantor;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// A Targa file: the 18-byte header, then `body` as given.
Bytes tga(uint8_t type, uint16_t w, uint16_t h, uint8_t bits, uint8_t descriptor, const Bytes& body,
          uint8_t id_length = 0, uint8_t map_type = 0) {
    Bytes b(18, 0);
    b[0] = id_length;
    b[1] = map_type;
    b[2] = type;
    b[12] = w & 0xFF, b[13] = w >> 8, b[14] = h & 0xFF, b[15] = h >> 8;
    b[16] = bits;
    b[17] = descriptor;
    b.insert(b.end(), id_length, 'i');
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes cut(Bytes b, size_t n) {
    b.resize(n);
    return b;
}

void write(const fs::path& p, const Bytes& b) {
    fs::create_directories(p.parent_path().empty() ? "." : p.parent_path());
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// A 24-bit bitmap of one colour.
Bytes bmp(int w, int h, uint8_t blue, uint8_t green, uint8_t red) {
    bmptest::BmpFields f;
    f.width = w, f.height = h;
    const int stride = (w * 3 + 3) & ~3;
    f.pixels.assign(static_cast<size_t>(stride * h), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            f.pixels[y * stride + x * 3] = blue;
            f.pixels[y * stride + x * 3 + 1] = green;
            f.pixels[y * stride + x * 3 + 2] = red;
        }
    return bmptest::MakeBmp(f);
}

}  // namespace

TEST(TargaReader, DecodesEachDepthOriginAndPacketKind) {
    const Bytes px24 = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90, 0xA0, 0xB0, 0xC0};  // B G R x4
    struct Case {
        const char* what;
        Bytes file;
        DWORD width, height;
        std::vector<uint32_t> pixels;  // top row first
    };
    const Case decoded[] = {
        {"24 bits, bottom-left origin: the first file row is the bottom row, alpha 255", tga(2, 2, 2, 24, 0x00, px24),
         2, 2, {0x908070FF, 0xC0B0A0FF, 0x302010FF, 0x605040FF}},
        {"24 bits, top-left origin", tga(2, 2, 2, 24, 0x20, px24), 2, 2, {0x302010FF, 0x605040FF, 0x908070FF, 0xC0B0A0FF}},
        {"32 bits keep their alpha", tga(2, 1, 1, 32, 0x28, {1, 2, 3, 4}), 1, 1, {0x03020104}},
        {"16 bits are 5-5-5 with the attribute bit as alpha", tga(2, 2, 1, 16, 0x21, {0x1F, 0x80, 0xE0, 0x7F}), 2, 1,
         {0x0000FFFF, 0xFFFF0000}},
        {"16 bits without attribute bits are opaque", tga(2, 1, 1, 16, 0x20, {0x00, 0x7C}), 1, 1, {0xFF0000FF}},
        {"15 bits", tga(2, 1, 1, 15, 0x20, {0xE0, 0x03}), 1, 1, {0x00FF00FF}},
        {"the identifier is skipped", tga(2, 1, 1, 24, 0x20, {1, 2, 3}, 5), 1, 1, {0x030201FF}},
        {"a run-length packet runs on into the next row", tga(10, 2, 2, 24, 0x20, {0x82, 1, 2, 3, 0x00, 9, 8, 7}), 2, 2,
         {0x030201FF, 0x030201FF, 0x030201FF, 0x070809FF}},
        {"a raw packet across rows, bottom-left origin",
         tga(10, 2, 2, 24, 0x00, {0x03, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4}), 2, 2,
         {0x030303FF, 0x040404FF, 0x010101FF, 0x020202FF}},
        {"a packet running past the image is cut at its end", tga(10, 1, 1, 24, 0x20, {0xFF, 5, 6, 7}), 1, 1, {0x070605FF}},
    };
    const std::pair<const char*, Bytes> refused[] = {
        {"a colour-mapped file", tga(2, 1, 1, 24, 0x20, {1, 2, 3}, 0, 1)},
        {"a grey-scale file", tga(3, 1, 1, 8, 0x20, {1})},
        {"depth 8", tga(2, 1, 1, 8, 0x20, {1})},
        {"depth 48", tga(2, 1, 1, 48, 0x20, {1, 2, 3, 4, 5, 6})},
        {"pixel data shorter than the image", tga(2, 2, 2, 24, 0x20, {1, 2, 3, 4, 5, 6, 7, 8, 9})},
        {"run-length data ending inside a packet", tga(10, 2, 2, 24, 0x20, {0x03, 1, 2, 3, 4})},
        {"run-length data ending before the image is full", tga(10, 2, 2, 24, 0x20, {0x80, 1, 2, 3})},
        {"a huge header over a tiny file", tga(2, 65535, 65535, 32, 0x20, {1, 2, 3, 4})},
        {"a huge run-length header over a tiny file", tga(10, 65535, 65535, 32, 0x20, {0xFF, 1, 2, 3, 4})},
        {"no pixels at all", tga(2, 0, 4, 24, 0x20, {})},
        {"a header cut short", Bytes{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {"an identifier longer than the file", cut(tga(2, 1, 1, 24, 0x20, {1, 2, 3}, 200), 30)},
        {"an empty file", Bytes{}},
    };
    for (const Case& c : decoded) {
        SCOPED_TRACE(c.what);
        TargaImage image;
        EXPECT_EQ(decode_targa(c.file.data(), c.file.size(), &image), S_OK);
        EXPECT_EQ(image.width, c.width);
        EXPECT_EQ(image.height, c.height);
        EXPECT_EQ(image.pixels, c.pixels);
    }
    for (const auto& [what, file] : refused) {
        SCOPED_TRACE(what);
        TargaImage image;
        EXPECT_EQ(decode_targa(file.data(), file.size(), &image), E_FAIL);
        EXPECT_EQ(image.width, 0u);
        EXPECT_EQ(image.height, 0u);
        EXPECT_TRUE(image.pixels.empty()) << "a refused file leaves no pixels";
    }
}

TEST(TargaReader, ReadsTheCorpusFilesTopRowFirst) {
    struct Probe {
        const char* file;
        DWORD width, height, bits;
        DWORD x, y;
        uint32_t pixel;
    };
    const Probe probes[] = {
        {"/usr/share/assimp/models/X/updown.tga", 256, 256, 24, 48, 32, 0xEA0808FF},
        {"/usr/share/assimp/models/X/updown.tga", 256, 256, 24, 48, 223, 0xFFFFFFFF},
        {"/usr/share/assimp/models/X/bottom.tga", 256, 256, 24, 60, 30, 0x000000FF},
        {"/usr/share/assimp/models/X/top.tga", 256, 256, 24, 0, 0, 0xFFFFFFFF},
        {"/usr/share/assimp/models/SMD/holygrail.tga", 256, 512, 32, 10, 500, 0xC0B038FF},
        {"/usr/share/assimp/models/Collada/duckCM.tga", 512, 512, 24, 256, 256, 0xFFD800FF},
    };
    for (const Probe& p : probes) {
        TargaImage image;
        ASSERT_EQ(read_targa_file(p.file, &image), S_OK) << p.file;
        EXPECT_EQ(image.width, p.width) << p.file;
        EXPECT_EQ(image.height, p.height) << p.file;
        EXPECT_EQ(image.bits, p.bits) << p.file;
        EXPECT_EQ(image.pixels[p.y * p.width + p.x], p.pixel) << p.file << " at " << p.x << "," << p.y;
    }
    TargaImage image;
    EXPECT_EQ(read_targa_file("/nonexistent/x.tga", &image), E_FAIL);
    EXPECT_EQ(read_targa_file("/usr/share/assimp/models/X", &image), E_FAIL) << "a directory";
}

// ---- looking images up ------------------------------------------------------------------------

namespace {

class ImageLoadingTest : public vantor::test::ComponentTest {
protected:
    void SetUp() override {
        ComponentTest::SetUp();
        previous_ = fs::current_path();
        root_ = fs::path(::testing::TempDir()) / ("image_loading_" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "work");
        fs::current_path(root_ / "work");
    }
    void TearDown() override {
        for (Container* c = registry().head(); c; c = registry().head()) registry().destroy(c);
        VantorRemoveResource(GetModuleHandleA(nullptr), "BITMAP", "res.bmp");
        set_media("");
        fs::current_path(previous_);
        fs::remove_all(root_);
        ComponentTest::TearDown();
    }
    static TextureRegistry& registry() { return texture_registry(); }
    // Points the media path at `dir` (the registry value names its parent: D3DIM\Media is added).
    void set_media(const std::string& samples) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\DirectX", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        if (samples.empty())
            RegDeleteValueA(key, "DXSDK Samples Path");
        else
            RegSetValueExA(key, "DXSDK Samples Path", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(samples.c_str()),
                           static_cast<DWORD>(samples.size() + 1));
        RegCloseKey(key);
    }
    fs::path media() const { return root_ / "samples" / "D3DIM" / "Media"; }
    // The colour at the top-left of the image a container holds (bitmap or pixel data).
    static uint32_t top_left(const Container* c) {
        if (!c->pixels.empty()) return c->pixels[0];
        BITMAP bm{};
        GetObjectA(c->bitmap, sizeof bm, &bm);
        const auto* row = static_cast<const uint8_t*>(bm.bmBits) +
                          (bm.bmHeight > 0 ? (bm.bmHeight - 1) * bm.bmWidthBytes : 0);
        return uint32_t{row[2]} << 24 | uint32_t{row[1]} << 16 | uint32_t{row[0]} << 8 | 0xFF;
    }

    fs::path root_, previous_;
};

}  // namespace

TEST_F(ImageLoadingTest, ResourceWinsOverFileWhichWinsOverMediaPath) {
    set_media((root_ / "samples").string());
    const Bytes red = bmp(2, 2, 0, 0, 255), green = bmp(2, 2, 0, 255, 0), blue = bmp(3, 1, 255, 0, 0);
    write("res.bmp", green);
    write(media() / "res.bmp", blue);
    ASSERT_TRUE(
        VantorAddResource(GetModuleHandleA(nullptr), "BITMAP", "res.bmp", red.data(), red.size(), FALSE));
    ASSERT_EQ(registry().create_from_file("res.bmp", 0, 0), S_OK);
    EXPECT_EQ(top_left(registry().find("res.bmp")), 0xFF0000FFu) << "the resource";
    registry().destroy_by_name("res.bmp");
    VantorRemoveResource(GetModuleHandleA(nullptr), "BITMAP", "res.bmp");
    ASSERT_EQ(registry().create_from_file("res.bmp", 0, 0), S_OK);
    EXPECT_EQ(top_left(registry().find("res.bmp")), 0x00FF00FFu) << "the working directory's file";
    registry().destroy_by_name("res.bmp");
    fs::remove("res.bmp");
    ASSERT_EQ(registry().create_from_file("res.bmp", 0, 0), S_OK);
    const Container* c = registry().find("res.bmp");
    EXPECT_EQ(top_left(c), 0x0000FFFFu) << "the media path's file";
    EXPECT_EQ(c->width, 3u);
    EXPECT_EQ(c->height, 1u);
    EXPECT_EQ(c->bits, 24u);
    // A name already held: S_OK and nothing loaded again.
    EXPECT_EQ(registry().create_from_file("RES.BMP", 0, 0), S_OK);
    EXPECT_EQ(registry().size(), 1u);
}

TEST_F(ImageLoadingTest, WindowsNamesFindTheirFiles) {
    set_media((root_ / "samples").string());
    write("maps/Wood.BMP", bmp(1, 1, 0, 0, 255));
    write(media() / "stone.tga", tga(2, 1, 1, 24, 0x20, {1, 2, 3}));
    write("bottom.tga", tga(2, 1, 1, 24, 0x20, {4, 5, 6}));
    struct Case {
        const char* name;
        uint32_t pixel;
    };
    const Case cases[] = {
        {"maps\\Wood.BMP", 0xFF0000FF},                    // backslash as separator
        {"maps\\wood.bmp", 0xFF0000FF},                    // letter case in its directory
        {"stone.tga", 0x030201FF},                         // the media path
        {"C:\\models\\textures\\bottom.tga", 0x060504FF},  // by its last component, working directory
        {"D:\\elsewhere\\STONE.TGA", 0x030201FF},          // by its last component, media path, any case
    };
    for (const Case& c : cases) {
        ASSERT_EQ(registry().create_from_file(c.name, 0, 0), S_OK) << c.name;
        ASSERT_NE(registry().find(c.name), nullptr) << c.name;
        EXPECT_EQ(top_left(registry().find(c.name)), c.pixel) << c.name;
        registry().destroy_by_name(c.name);
    }
}

TEST_F(ImageLoadingTest, BadFilesAreRefusedAndNothingIsKept) {
    write("empty.tga", {});
    write("short.tga", tga(2, 4, 4, 24, 0x20, {1, 2, 3}));
    write("empty.bmp", {});
    write("broken.bmp", Bytes{'B', 'M', 1, 2, 3});
    write("image.png", bmp(1, 1, 1, 2, 3));
    write("noextension", bmp(1, 1, 1, 2, 3));
    fs::create_directories("folder.bmp");
    const char* names[] = {"missing.bmp", "missing.tga", "empty.tga",   "short.tga", "empty.bmp",
                           "broken.bmp",  "image.png",   "noextension", "folder.bmp"};
    for (const char* name : names) {
        EXPECT_EQ(registry().create_from_file(name, 0, 0), E_FAIL) << name;
        EXPECT_EQ(registry().find(name), nullptr) << name;
    }
    EXPECT_EQ(registry().create_from_file("", 0, 0), E_INVALIDARG);
    EXPECT_EQ(registry().size(), 0u);
}
