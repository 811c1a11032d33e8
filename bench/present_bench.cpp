// Presenting to an X11 window at 640x480 on a private Xvfb server: a bare clear-and-swap loop
// through EGL, the same through GLX, and the engine's empty frame (Clear, Render, Update through
// the component's interfaces) on an X11 window. Prints frames per second and each loop's ratio
// to the faster bare one.
//
//   build/bin/present_bench               (skips with a message when Xvfb is not installed)
//
// The engine presents X11 windows through the API it chooses once per process; the bench runs
// itself a second time with VANTOR_PRESENT=egl to show the engine's frame through the other one.
#include <benchmark/benchmark.h>

#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/glcorearb.h>
#include <X11/Xlib.h>
#define __gl_h_ 1
#define __glext_h_ 1
#include <GL/glx.h>
#include <GL/glxext.h>

#include <vantor/vantor.h>
#include <vantor/window.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

extern "C" HRESULT DllRegisterServer();

namespace {

constexpr int kWidth = 640, kHeight = 480;

// Frames per second of each loop's last (measured) run.
std::map<std::string, double> g_fps;

template <typename Frame>
void measure(benchmark::State& state, const char* name, Frame frame) {
    frame();  // the first frame sets everything up
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) frame();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    g_fps[name] = static_cast<double>(state.iterations()) / seconds;
    state.SetItemsProcessed(state.iterations());
}

// A mapped 640x480 window of the bench's own connection, with the given visual.
Window make_window(Display* d, Visual* visual, int depth) {
    XSetWindowAttributes a{};
    a.colormap = XCreateColormap(d, DefaultRootWindow(d), visual, AllocNone);
    Window w = XCreateWindow(d, DefaultRootWindow(d), 0, 0, kWidth, kHeight, 0, depth, InputOutput, visual,
                             CWColormap, &a);
    XMapWindow(d, w);
    XSync(d, False);
    return w;
}

void BM_BareEglSwap(benchmark::State& state) {
    Display* x = XOpenDisplay(nullptr);
    EGLDisplay display = eglGetPlatformDisplay(EGL_PLATFORM_X11_KHR, x, nullptr);
    eglInitialize(display, nullptr, nullptr);
    eglBindAPI(EGL_OPENGL_API);
    const EGLint config_attributes[] = {EGL_SURFACE_TYPE, EGL_WINDOW_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                        EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_NONE};
    EGLConfig config;
    EGLint count = 0, visual_id = 0;
    eglChooseConfig(display, config_attributes, &config, 1, &count);
    eglGetConfigAttrib(display, config, EGL_NATIVE_VISUAL_ID, &visual_id);
    XVisualInfo wanted{};
    wanted.visualid = static_cast<VisualID>(visual_id);
    int visuals = 0;
    XVisualInfo* info = count ? XGetVisualInfo(x, VisualIDMask, &wanted, &visuals) : nullptr;
    if (!info) {
        state.SkipWithError("no EGL window configuration");
        return;
    }
    Window window = make_window(x, info->visual, info->depth);
    XFree(info);
    EGLSurface surface = eglCreatePlatformWindowSurface(display, config, &window, nullptr);
    const EGLint context_attributes[] = {EGL_CONTEXT_MAJOR_VERSION, 4, EGL_CONTEXT_MINOR_VERSION, 5,
                                         EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, context_attributes);
    if (surface == EGL_NO_SURFACE || !eglMakeCurrent(display, surface, surface, context)) {
        state.SkipWithError("no OpenGL 4.5 context on the window");
        return;
    }
    eglSwapInterval(display, 0);
    measure(state, "bare EGL", [&] {
        glClearColor(0.2f, 0.3f, 0.4f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        eglSwapBuffers(display, surface);
    });
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display, context);
    eglDestroySurface(display, surface);
    eglTerminate(display);
    XDestroyWindow(x, window);
    XCloseDisplay(x);
}
BENCHMARK(BM_BareEglSwap)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();

void BM_BareGlxSwap(benchmark::State& state) {
    Display* x = XOpenDisplay(nullptr);
    const int attributes[] = {GLX_X_RENDERABLE, True, GLX_DRAWABLE_TYPE, GLX_WINDOW_BIT, GLX_RENDER_TYPE,
                              GLX_RGBA_BIT, GLX_DOUBLEBUFFER, True, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8,
                              GLX_BLUE_SIZE, 8, None};
    int count = 0;
    GLXFBConfig* configs = glXChooseFBConfig(x, DefaultScreen(x), attributes, &count);
    auto create = reinterpret_cast<PFNGLXCREATECONTEXTATTRIBSARBPROC>(
        glXGetProcAddressARB(reinterpret_cast<const GLubyte*>("glXCreateContextAttribsARB")));
    XVisualInfo* info = count ? glXGetVisualFromFBConfig(x, configs[0]) : nullptr;
    if (!info || !create) {
        state.SkipWithError("no GLX window configuration");
        return;
    }
    Window window = make_window(x, info->visual, info->depth);
    XFree(info);
    const int context_attributes[] = {GLX_CONTEXT_MAJOR_VERSION_ARB, 4, GLX_CONTEXT_MINOR_VERSION_ARB, 5,
                                      GLX_CONTEXT_PROFILE_MASK_ARB, GLX_CONTEXT_CORE_PROFILE_BIT_ARB, None};
    GLXContext context = create(x, configs[0], nullptr, True, context_attributes);
    XFree(configs);
    if (!context || !glXMakeCurrent(x, window, context)) {
        state.SkipWithError("no OpenGL 4.5 context on the window");
        return;
    }
    auto interval = reinterpret_cast<PFNGLXSWAPINTERVALMESAPROC>(
        glXGetProcAddressARB(reinterpret_cast<const GLubyte*>("glXSwapIntervalMESA")));
    if (interval) interval(0);
    measure(state, "bare GLX", [&] {
        glClearColor(0.2f, 0.3f, 0.4f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glXSwapBuffers(x, window);
    });
    glXMakeCurrent(x, None, nullptr);
    glXDestroyContext(x, context);
    XDestroyWindow(x, window);
    XCloseDisplay(x);
}
BENCHMARK(BM_BareGlxSwap)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();

void BM_EngineFrameX11(benchmark::State& state) {
    std::string registry = "/tmp/vantor-present-bench-registry-" + std::to_string(getpid());
    setenv("VANTOR_REGISTRY", registry.c_str(), 1);
    CoInitialize(nullptr);
    if (DllRegisterServer() != S_OK) {
        state.SkipWithError("registration failed");
        return;
    }
    HWND window = VantorCreateX11Window(kWidth, kHeight, "present bench", TRUE);
    IDevice3D* device = nullptr;
    CoCreateInstance(CLSID_Device3D, nullptr, CLSCTX_INPROC_SERVER, IID_IDevice3D, reinterpret_cast<void**>(&device));
    if (!window || !device) {
        state.SkipWithError("no X11 window or no device");
        return;
    }
    device->put_Window(static_cast<LONG>(window));
    if (FAILED(device->Initialise(0, kWidth, kHeight, VARIANT_FALSE, 1))) {
        state.SkipWithError("Initialise failed");
        return;
    }
    std::string name = std::string("engine frame, X11 window (") + (getenv("VANTOR_PRESENT") ? getenv("VANTOR_PRESENT") : "default") + ")";
    measure(state, name.c_str(), [&] {
        device->Clear(0.2f, 0.3f, 0.4f, 1.0f);
        device->Render();
        device->Update();
    });
    device->Free();
    device->Release();
    DestroyWindow(window);
    unlink(registry.c_str());
}
BENCHMARK(BM_EngineFrameX11)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();

// A private Xvfb server as $DISPLAY; its process id, 0 when Xvfb cannot be started.
pid_t start_xvfb() {
    int fds[2];
    if (pipe(fds)) return 0;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    char number[16] = {};
    ssize_t n = pid > 0 ? read(fds[0], number, sizeof number - 1) : -1;
    close(fds[0]);
    if (n <= 0) {
        if (pid > 0) waitpid(pid, nullptr, 0);
        return 0;
    }
    number[strcspn(number, "\n")] = '\0';
    setenv("DISPLAY", (std::string(":") + number).c_str(), 1);
    return pid;
}

}  // namespace

int main(int argc, char** argv) {
    bool child = getenv("VANTOR_PRESENT_BENCH_CHILD") != nullptr;
    pid_t server = 0;
    if (!child) {
        server = start_xvfb();
        if (!server) {
            std::printf("present_bench: skipped, Xvfb is not installed (apt-get install xvfb)\n");
            return 0;
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (child) {
        for (const auto& [name, fps] : g_fps) std::printf("fps\t%s\t%.1f\n", name.c_str(), fps);
        return 0;
    }
    // The engine's frame through EGL as well, in a process of its own (the choice is made once
    // per process), on the same server.
    std::string command = "VANTOR_PRESENT_BENCH_CHILD=1 VANTOR_PRESENT=egl '" + std::string(argv[0]) +
                          "' --benchmark_filter=EngineFrame 2>/dev/null";
    if (FILE* p = popen(command.c_str(), "r")) {
        char line[256], name[200];
        double fps = 0;
        while (fgets(line, sizeof line, p))
            if (sscanf(line, "fps\t%199[^\t]\t%lf", name, &fps) == 2) g_fps[name] = fps;
        pclose(p);
    }
    double ceiling = std::max(g_fps["bare EGL"], g_fps["bare GLX"]);
    std::printf("\nX11 window, 640x480, Xvfb            fps    ratio to the faster bare loop\n");
    for (const auto& [name, fps] : g_fps)
        std::printf("  %-36s %7.0f  %.2fx\n", name.c_str(), fps, ceiling > 0 ? fps / ceiling : 0.0);
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    return 0;
}
