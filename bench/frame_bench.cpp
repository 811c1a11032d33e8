// The empty frame (Clear, Render, Update) at 640x480 on a virtual window, driven through the
// component's interfaces, next to a bare OpenGL program that clears and presents the same kind
// of target (clear, read the image back, copy it into a virtual window).
//
//   build/bin/frame_bench                 (bench/frame_bench.py adds the Python late-bound loop)
//
// Each benchmark reports frames per second (items_per_second) and the C++ allocations per frame.
#include <benchmark/benchmark.h>

#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/glcorearb.h>

#include "bare_gl.h"

#include <vantor/vantor.h>
#include <vantor/window.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

extern "C" HRESULT DllRegisterServer();

namespace {

std::atomic<long> g_allocations{0};

constexpr int kWidth = 640, kHeight = 480;

void count_allocations(benchmark::State& state, long before) {
    state.counters["allocations_per_frame"] =
        benchmark::Counter(static_cast<double>(g_allocations - before) / static_cast<double>(state.iterations()));
}

void BM_EngineFrame(benchmark::State& state) {
    std::string registry = "/tmp/vantor-bench-registry-" + std::to_string(getpid());
    setenv("VANTOR_REGISTRY", registry.c_str(), 1);
    CoInitialize(nullptr);
    if (DllRegisterServer() != S_OK) {
        state.SkipWithError("registration failed");
        return;
    }
    HWND window = VantorCreateVirtualWindow(kWidth, kHeight, "bench");
    IDevice3D* device = nullptr;
    CoCreateInstance(CLSID_Device3D, nullptr, CLSCTX_INPROC_SERVER, IID_IDevice3D, reinterpret_cast<void**>(&device));
    device->put_Window(static_cast<LONG>(window));
    if (FAILED(device->Initialise(0, kWidth, kHeight, VARIANT_FALSE, 1))) {
        state.SkipWithError("Initialise failed");
        return;
    }
    device->Clear(0.2f, 0.3f, 0.4f, 1.0f);
    device->Render();
    device->Update();
    long before = g_allocations;
    for (auto _ : state) {
        device->Clear(0.2f, 0.3f, 0.4f, 1.0f);
        device->Render();
        device->Update();
    }
    count_allocations(state, before);
    state.SetItemsProcessed(state.iterations());
    device->Free();
    device->Release();
    DestroyWindow(window);
    unlink(registry.c_str());
}
BENCHMARK(BM_EngineFrame)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();

void BM_BareOpenGLFrame(benchmark::State& state) {
    EGLDisplay display;
    EGLContext context;
    if (!open_bare_context(&display, &context)) {
        state.SkipWithError("no OpenGL 4.5 context");
        return;
    }
    BareTarget target;
    target.open(kWidth, kHeight);
    HWND window = VantorCreateVirtualWindow(kWidth, kHeight, "bare");
    std::vector<unsigned char> image(static_cast<size_t>(kWidth) * kHeight * 4);
    long before = g_allocations;
    for (auto _ : state) {
        glClearColor(0.2f, 0.3f, 0.4f, 1.0f);
        glClearDepth(1.0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glGetTextureImage(target.colour, 0, GL_RGBA, GL_UNSIGNED_BYTE, static_cast<GLsizei>(image.size()), image.data());
        VantorWindowPresent(window, image.data(), kWidth, kHeight, kWidth * 4);
    }
    count_allocations(state, before);
    state.SetItemsProcessed(state.iterations());
    DestroyWindow(window);
    target.close();
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display, context);
}
BENCHMARK(BM_BareOpenGLFrame)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();

}  // namespace

// Counts the C++ allocations of the process (the engine and the back end are C++; Mesa is C).
void* operator new(size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

BENCHMARK_MAIN();
