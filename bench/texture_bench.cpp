// Load time of a 1024 x 1024 texture from a Targa and a PNG file through Textures.LoadFile on
// the OpenGL device, next to stb_image's decode of the same file alone, in the same run. Each
// LoadFile benchmark reports `vs_decode`: its time over the bare decode's (the engine's overhead
// on top of decoding: the file look-up, the surface, the format conversion and the upload).
//
//   build/bin/texture_bench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>
#include <vantor/backend/backend.h>
#include <vantor/render/opengl.h>
#include <vantor/text.h>
#include <vantor/vantor.h>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb/stb_image_write.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" HRESULT DllRegisterServer();

namespace {

constexpr int kSize = 1024;

std::string folder() {
    static const std::string dir = [] {
        std::string d = "/tmp/vantor_texture_bench_" + std::to_string(::getpid());
        std::system(("mkdir -p " + d).c_str());
        return d;
    }();
    return dir;
}

// A 1024 x 1024 image of smooth gradients and a little noise (so PNG compresses as photos do).
std::string image_file(const char* kind) {
    const std::string path = folder() + "/image." + kind;
    std::vector<uint8_t> rgb(size_t(kSize) * kSize * 3);
    uint32_t seed = 12345;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            seed = seed * 1664525u + 1013904223u;
            uint8_t* p = &rgb[(size_t(y) * kSize + x) * 3];
            p[0] = uint8_t(x / 4 + (seed >> 29));
            p[1] = uint8_t(y / 4 + (seed >> 30));
            p[2] = uint8_t((x + y) / 8);
        }
    if (std::string(kind) == "tga")
        stbi_write_tga(path.c_str(), kSize, kSize, 3, rgb.data());
    else
        stbi_write_png(path.c_str(), kSize, kSize, 3, rgb.data(), kSize * 3);
    return path;
}

double decode_seconds(const std::string& path) {
    const auto start = std::chrono::steady_clock::now();
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int w = 0, h = 0, n = 0;
    stbi_uc* pixels = stbi_load_from_memory(data.data(), int(data.size()), &w, &h, &n, 4);
    benchmark::DoNotOptimize(pixels);
    stbi_image_free(pixels);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_StbDecode(benchmark::State& state, const char* kind) {
    const std::string path = image_file(kind);
    for (auto _ : state) benchmark::DoNotOptimize(decode_seconds(path));
}

// The engine's load on a live off-screen device; every LoadFile replaces the texture stored under
// the same name, so one texture is alive at a time. The bare decode of the same file runs between
// iterations, outside the timed part, for the ratio.
void BM_TexturesLoadFile(benchmark::State& state, const char* kind) {
    const std::string path = image_file(kind);
    ::setenv("VANTOR_REGISTRY", (folder() + "/registry").c_str(), 1);
    CoInitialize(nullptr);
    if (DllRegisterServer() != S_OK) return state.SkipWithError("registration failed");
    auto& gl = vantor::render::opengl_backend();
    gl.D3DXInitialize();
    ID3DXContext* context = nullptr;
    if (gl.D3DXCreateContext(D3DX_DEFAULT, D3DX_CONTEXT_OFFSCREEN, 0, 256, 256, &context) != S_OK)
        return state.SkipWithError("no device");
    IDirect3DDevice7* device = nullptr;
    context->GetD3DDevice(&device);
    ITextures* textures = nullptr;
    CoCreateInstance(CLSID_Textures, nullptr, CLSCTX_INPROC_SERVER, IID_ITextures,
                     reinterpret_cast<void**>(&textures));
    textures->put_Device(static_cast<LONG>(vantor::backend::to_handle(device)));
    BSTR name = vantor::text::bstr(path.c_str());
    double decode = 0, load = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        IDispatch* t = nullptr;
        if (textures->get_LoadFile(name, &t) != S_OK) return state.SkipWithError("LoadFile failed");
        t->Release();
        load += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.PauseTiming();
        decode += decode_seconds(path);
        state.ResumeTiming();
    }
    state.counters["vs_decode"] = decode > 0 ? load / decode : 0;
    SysFreeString(name);
    textures->Free();
    textures->Release();
    device->Release();
    context->Release();
    gl.D3DXUninitialize();
}

BENCHMARK_CAPTURE(BM_StbDecode, tga, "tga")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_StbDecode, png, "png")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TexturesLoadFile, tga, "tga")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TexturesLoadFile, png, "png")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::system(("rm -rf " + folder()).c_str());
    return 0;
}
