// Textures made from image files by the utility layer: BMP, TGA and PNG files drawn on a quad
// through the device with point filtering show their texels at probe points; the size and
// format parameters report what was made; bad files are refused and leave nothing behind.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "render_test_support.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb/stb_image_write.h>

using namespace render_test;
namespace fs = std::filesystem;

namespace {

// A 2 x 2 image, top row red then green, bottom row blue then white (R, G, B, A bytes).
const uint8_t kQuads[16] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255};

class RenderTextureFile : public RenderTest {
protected:
    void SetUp() override {
        RenderTest::SetUp();
        dir_ = fs::path(::testing::TempDir()) / ("texture_file_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        fs::remove_all(dir_);
        RenderTest::TearDown();
    }
    std::string path(const char* name) const { return (dir_ / name).string(); }
    void write_bytes(const char* name, const std::string& bytes) {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    HRESULT load(std::string file, IDirectDrawSurface7** out, DWORD* w = nullptr, DWORD* h = nullptr,
                 D3DX_SURFACEFORMAT* format = nullptr, D3DX_FILTERTYPE filter = D3DX_FT_POINT) {
        DWORD flags = 0;
        return opengl_backend().D3DXCreateTextureFromFile(dev, &flags, w, h, format, nullptr, out, nullptr,
                                                          file.data(), filter);
    }
    fs::path dir_;
};

}  // namespace

TEST_F(RenderTextureFile, BmpTgaAndPngShowTheirTexels) {
    ASSERT_TRUE(stbi_write_bmp(path("quads.bmp").c_str(), 2, 2, 4, kQuads));
    ASSERT_TRUE(stbi_write_tga(path("quads.tga").c_str(), 2, 2, 4, kQuads));  // run-length packets
    ASSERT_TRUE(stbi_write_png(path("quads.png").c_str(), 2, 2, 4, kQuads, 8));
    ASSERT_TRUE(stbi_write_png(path("Quads Windows.png").c_str(), 2, 2, 4, kQuads, 8));
    const std::string names[] = {path("quads.bmp"), path("quads.tga"), path("quads.png"),
                                 dir_.string() + "\\Quads Windows.png"};
    for (const std::string& name : names) {
        ComPtr<IDirectDrawSurface7> t;
        DWORD w = D3DX_DEFAULT, h = D3DX_DEFAULT;
        D3DX_SURFACEFORMAT format = D3DX_SF_UNKNOWN;
        ASSERT_EQ(load(name, t.put(), &w, &h, &format), S_OK) << name;
        EXPECT_EQ(w, 2u) << name;
        EXPECT_EQ(h, 2u) << name;
        EXPECT_EQ(format, D3DX_SF_A8R8G8B8)
            << name << ": an image with alpha gets the device's 32-bit alpha format";
        draw_textured(t.get());
        EXPECT_TRUE(near_colour(pixel(16, 16), 0xFFFF0000, 1)) << name << " top left " << hex(pixel(16, 16));
        EXPECT_TRUE(near_colour(pixel(48, 16), 0xFF00FF00, 1)) << name << " top right " << hex(pixel(48, 16));
        EXPECT_TRUE(near_colour(pixel(16, 48), 0xFF0000FF, 1))
            << name << " bottom left " << hex(pixel(16, 48));
        EXPECT_TRUE(near_colour(pixel(48, 48), 0xFFFFFFFF, 1))
            << name << " bottom right " << hex(pixel(48, 48));
    }
}

TEST_F(RenderTextureFile, SizeAndFormatFollowTheRequestAndTheDevice) {
    const uint8_t rgb[12] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    ASSERT_TRUE(stbi_write_png(path("opaque.png").c_str(), 2, 2, 3, rgb, 6));
    D3DDEVICEDESC7 caps{};
    ASSERT_EQ(dev->GetCaps(&caps), D3D_OK);
    struct Case {
        DWORD w_in, h_in;
        D3DX_SURFACEFORMAT format_in;
        HRESULT result;
        DWORD w_out, h_out;
        D3DX_SURFACEFORMAT format_out;
    };
    const Case cases[] = {
        {D3DX_DEFAULT, D3DX_DEFAULT, D3DX_SF_UNKNOWN, S_OK, 2, 2,
         D3DX_SF_X8R8G8B8},                                  // no alpha: the widest opaque format
        {8, 4, D3DX_SF_R5G6B5, S_OK, 8, 4, D3DX_SF_R5G6B5},  // as asked
        {0, 0, D3DX_SF_A4R4G4B4, S_OK, 2, 2, D3DX_SF_A4R4G4B4},
        {caps.dwMaxTextureWidth * 2, 2, D3DX_SF_UNKNOWN, S_OK, caps.dwMaxTextureWidth, 2,
         D3DX_SF_X8R8G8B8},                                                                    // fitted
        {D3DX_DEFAULT, D3DX_DEFAULT, D3DX_SF_DXT1, D3DXERR_NOMATCHFOUND, 7, 7, D3DX_SF_DXT1},  // not offered
    };
    for (const Case& c : cases) {
        ComPtr<IDirectDrawSurface7> t;
        DWORD w = c.w_in, h = c.h_in;
        D3DX_SURFACEFORMAT format = c.format_in;
        if (c.result != S_OK) w = h = 7;
        EXPECT_EQ(load(path("opaque.png"), t.put(), &w, &h, &format, D3DX_FT_LINEAR), c.result)
            << c.w_in << " " << c.format_in;
        EXPECT_EQ(w, c.w_out);
        EXPECT_EQ(h, c.h_out);
        EXPECT_EQ(format, c.format_out);
        if (!t) continue;
        auto sd = sized<DDSURFACEDESC2>();
        ASSERT_EQ(t->GetSurfaceDesc(&sd), DD_OK);
        EXPECT_EQ(sd.dwWidth, c.w_out);
        EXPECT_EQ(sd.dwHeight, c.h_out);
        EXPECT_TRUE(sd.ddsCaps.dwCaps & DDSCAPS_TEXTURE);
    }
    // Stretched 2 x 2 -> 8 x 4 with the point filter: each texel covers a 4 x 2 block.
    ComPtr<IDirectDrawSurface7> t;
    DWORD w = 8, h = 4;
    ASSERT_EQ(load(path("opaque.png"), t.put(), &w, &h), S_OK);
    draw_textured(t.get());
    EXPECT_TRUE(near_colour(pixel(4, 4), 0xFFFF0000, 1));
    EXPECT_TRUE(near_colour(pixel(60, 60), 0xFFFFFFFF, 1));
}

TEST_F(RenderTextureFile, BadFilesAreRefusedWithNothingMade) {
    ASSERT_TRUE(stbi_write_png(path("whole.png").c_str(), 2, 2, 4, kQuads, 8));
    std::ifstream in(path("whole.png"), std::ios::binary);
    const std::string png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    write_bytes("empty.png", "");
    write_bytes("cut.png", png.substr(0, png.size() / 2));
    write_bytes("notes.png", "these are not pixels");
    write_bytes("cut.tga", std::string("\0\0\2\0\0\0\0\0\0\0\0\0\x40\0\x40\0\x18\x20", 18) + "abc");
    ASSERT_TRUE(stbi_write_bmp(path("whole.bmp").c_str(), 2, 2, 3, kQuads));
    std::ifstream bin(path("whole.bmp"), std::ios::binary);
    const std::string bmp((std::istreambuf_iterator<char>(bin)), std::istreambuf_iterator<char>());
    write_bytes("cut.bmp", bmp.substr(0, bmp.size() - 6));
    fs::create_directories(path("folder.png"));
    struct Case {
        std::string file;
        HRESULT result;
    };
    const Case cases[] = {
        {path("missing.png"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {path("folder.png"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {path("empty.png"), D3DXERR_UNSUPPORTEDFILEFORMAT},
        {path("cut.png"), D3DXERR_UNSUPPORTEDFILEFORMAT},
        {path("notes.png"), D3DXERR_UNSUPPORTEDFILEFORMAT},
        {path("cut.tga"), D3DXERR_UNSUPPORTEDFILEFORMAT},
        {path("cut.bmp"), D3DXERR_UNSUPPORTEDFILEFORMAT},
    };
    for (const Case& c : cases) {
        IDirectDrawSurface7* t = reinterpret_cast<IDirectDrawSurface7*>(1);
        EXPECT_EQ(load(c.file, &t), c.result) << c.file;
        EXPECT_EQ(t, nullptr) << c.file;
    }
    ComPtr<IDirectDrawSurface7> t;
    DWORD flags = 0;
    EXPECT_EQ(
        opengl_backend().D3DXCreateTextureFromFile(nullptr, &flags, nullptr, nullptr, nullptr, nullptr, t.put(),
                                                   nullptr, path("whole.png").data(), D3DX_FT_POINT),
        D3DXERR_NULLPOINTER);
    EXPECT_EQ(opengl_backend().D3DXCreateTextureFromFile(dev, &flags, nullptr, nullptr, nullptr, nullptr, t.put(),
                                                         nullptr, nullptr, D3DX_FT_POINT),
              D3DXERR_NULLPOINTER);
}
