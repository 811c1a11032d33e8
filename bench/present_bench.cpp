// Presenting to an X11 window at 640x480 on a private Xvfb server: a bare clear-and-swap loop
// through EGL, the same through GLX, the GLX loop clearing depth and stencil as well (the work of
// the engine's Clear), and the engine's empty frame (Clear, Render, Update through the
// component's interfaces) on an X11 window. Prints frames per second and each loop's ratio to the
// faster colour-only bare loop.
//
//   build/bin/present_bench               (skips with a message when Xvfb is not installed)
//
// The loops take turns in short rounds and each keeps its best round, so that a burst of load
// from elsewhere on the machine does not fall on one loop alone. The engine presents X11 windows
// the way it chooses once per process; the bench runs itself a second time with
// VANTOR_PRESENT=egl to show the engine's frame through an EGL window surface as well.
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

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

extern "C" HRESULT DllRegisterServer();

namespace {

constexpr int kWidth = 640, kHeight = 480;
constexpr int kRounds = 7;
constexpr double kRoundSeconds = 0.4;

struct Loop {
    std::string name;
    std::function<void()> enter;  // makes the loop's context current
    std::function<void()> frame;
    std::vector<double> fps;
    double best() const { return fps.empty() ? 0.0 : *std::max_element(fps.begin(), fps.end()); }
    double median() const {
        std::vector<double> v = fps;
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    }
};

void run_round(Loop& loop) {
    loop.enter();
    loop.frame();  // anything left from the previous loop is done before the clock starts
    int frames = 0;
    auto start = std::chrono::steady_clock::now();
    double seconds = 0;
    do {
        loop.frame();
        ++frames;
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    } while (seconds < kRoundSeconds);
    loop.fps.push_back(frames / seconds);
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

void clear() {
    glClearColor(0.2f, 0.3f, 0.4f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}

// Nothing current on the thread: each API refuses to make a context current over the other's.
void release_all(Display* x) {
    if (eglGetCurrentContext() != EGL_NO_CONTEXT)
        eglMakeCurrent(eglGetCurrentDisplay(), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (glXGetCurrentContext()) glXMakeCurrent(x, None, nullptr);
}

bool add_bare_egl(Display* x, std::vector<Loop>& loops) {
    EGLDisplay display = eglGetPlatformDisplay(EGL_PLATFORM_X11_KHR, x, nullptr);
    if (!eglInitialize(display, nullptr, nullptr) || !eglBindAPI(EGL_OPENGL_API)) return false;
    const EGLint config_attributes[] = {EGL_SURFACE_TYPE, EGL_WINDOW_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                        EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_NONE};
    EGLConfig config;
    EGLint count = 0, visual_id = 0;
    if (!eglChooseConfig(display, config_attributes, &config, 1, &count) || !count) return false;
    eglGetConfigAttrib(display, config, EGL_NATIVE_VISUAL_ID, &visual_id);
    XVisualInfo wanted{};
    wanted.visualid = static_cast<VisualID>(visual_id);
    int visuals = 0;
    XVisualInfo* info = XGetVisualInfo(x, VisualIDMask, &wanted, &visuals);
    if (!info) return false;
    static Window window = make_window(x, info->visual, info->depth);
    XFree(info);
    EGLSurface surface = eglCreatePlatformWindowSurface(display, config, &window, nullptr);
    const EGLint context_attributes[] = {EGL_CONTEXT_MAJOR_VERSION, 4, EGL_CONTEXT_MINOR_VERSION, 5,
                                         EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, context_attributes);
    release_all(x);
    if (surface == EGL_NO_SURFACE || !eglMakeCurrent(display, surface, surface, context)) return false;
    eglSwapInterval(display, 0);
    loops.push_back({"bare EGL clear and swap",
                     [=] {
                         release_all(x);
                         eglMakeCurrent(display, surface, surface, context);
                     },
                     [=] {
                         clear();
                         eglSwapBuffers(display, surface);
                     },
                     {}});
    return true;
}

// With `depth`, the window has a depth and stencil buffer and each frame clears them with the
// colour, as the engine's Clear does: the same work per frame as the engine's empty frame.
bool add_bare_glx(Display* x, std::vector<Loop>& loops, bool depth) {
    const int attributes[] = {GLX_X_RENDERABLE, True, GLX_DRAWABLE_TYPE, GLX_WINDOW_BIT, GLX_RENDER_TYPE,
                              GLX_RGBA_BIT, GLX_DOUBLEBUFFER, True, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8,
                              GLX_BLUE_SIZE, 8, GLX_DEPTH_SIZE, depth ? 24 : 0, GLX_STENCIL_SIZE, depth ? 8 : 0,
                              None};
    int count = 0;
    GLXFBConfig* configs = glXChooseFBConfig(x, DefaultScreen(x), attributes, &count);
    auto create = reinterpret_cast<PFNGLXCREATECONTEXTATTRIBSARBPROC>(
        glXGetProcAddressARB(reinterpret_cast<const GLubyte*>("glXCreateContextAttribsARB")));
    XVisualInfo* info = count ? glXGetVisualFromFBConfig(x, configs[0]) : nullptr;
    if (!info || !create) return false;
    Window window = make_window(x, info->visual, info->depth);
    XFree(info);
    const int context_attributes[] = {GLX_CONTEXT_MAJOR_VERSION_ARB, 4, GLX_CONTEXT_MINOR_VERSION_ARB, 5,
                                      GLX_CONTEXT_PROFILE_MASK_ARB, GLX_CONTEXT_CORE_PROFILE_BIT_ARB, None};
    GLXContext context = create(x, configs[0], nullptr, True, context_attributes);
    XFree(configs);
    release_all(x);
    if (!context || !glXMakeCurrent(x, window, context)) return false;
    auto interval = reinterpret_cast<PFNGLXSWAPINTERVALMESAPROC>(
        glXGetProcAddressARB(reinterpret_cast<const GLubyte*>("glXSwapIntervalMESA")));
    if (interval) interval(0);
    loops.push_back({depth ? "bare GLX clear with depth and swap" : "bare GLX clear and swap",
                     [=] {
                         release_all(x);
                         glXMakeCurrent(x, window, context);
                     },
                     [=] {
                         if (depth) {
                             glClearDepth(1.0);
                             glClearStencil(0);
                             glClear(GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
                         }
                         clear();
                         glXSwapBuffers(x, window);
                     },
                     {}});
    return true;
}

std::string g_registry;  // the engine's registry file, removed at the end

bool add_engine(Display* x, std::vector<Loop>& loops, const std::string& name) {
    g_registry = "/tmp/vantor-present-bench-registry-" + std::to_string(getpid());
    setenv("VANTOR_REGISTRY", g_registry.c_str(), 1);
    CoInitialize(nullptr);
    if (DllRegisterServer() != S_OK) return false;
    HWND window = VantorCreateX11Window(kWidth, kHeight, "present bench", TRUE);
    IDevice3D* device = nullptr;
    CoCreateInstance(CLSID_Device3D, nullptr, CLSCTX_INPROC_SERVER, IID_IDevice3D, reinterpret_cast<void**>(&device));
    if (!window || !device) return false;
    release_all(x);
    device->put_Window(static_cast<LONG>(window));
    if (FAILED(device->Initialise(0, kWidth, kHeight, VARIANT_FALSE, 1))) return false;
    loops.push_back({name, [=] { release_all(x); },
                     [=] {
                         device->Clear(0.2f, 0.3f, 0.4f, 1.0f);
                         device->Render();
                         device->Update();
                     },
                     {}});
    return true;
}

// A private Xvfb server as $DISPLAY; its process id, 0 when Xvfb cannot be started.
pid_t start_xvfb() {
    int fds[2];
    if (pipe(fds)) return 0;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string fd = std::to_string(fds[1]);
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, 2);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
               "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    // The server writes the number and the newline separately: read up to the newline, or it
    // fails writing into a closed pipe.
    char number[16] = {};
    size_t n = 0;
    while (pid > 0 && n < sizeof number - 1 && !strchr(number, '\n')) {
        ssize_t got = read(fds[0], number + n, sizeof number - 1 - n);
        if (got <= 0) break;
        n += static_cast<size_t>(got);
    }
    close(fds[0]);
    if (!strchr(number, '\n')) {
        if (pid > 0) waitpid(pid, nullptr, 0);
        return 0;
    }
    number[strcspn(number, "\n")] = '\0';
    setenv("DISPLAY", (std::string(":") + number).c_str(), 1);
    return pid;
}

}  // namespace

int main(int argc, char** argv) {
    // The second run: the engine alone, through the way $VANTOR_PRESENT names, on the first
    // run's server; prints its rounds for the first run to read.
    bool engine_only = argc > 1 && !std::strcmp(argv[1], "--engine-only");
    pid_t server = 0;
    if (!engine_only && !(server = start_xvfb())) {
        std::printf("present_bench: skipped, Xvfb is not installed (apt-get install xvfb)\n");
        return 0;
    }
    Display* x = XOpenDisplay(nullptr);
    if (!x) {
        std::printf("present_bench: skipped, the private X server did not start\n");
        if (server) kill(server, SIGTERM);
        return 0;
    }
    std::vector<Loop> loops;
    if (engine_only) {
        if (!add_engine(x, loops, "engine")) return 1;
        for (int round = 0; round < kRounds; ++round) run_round(loops[0]);
        for (double fps : loops[0].fps) std::printf("%.1f\n", fps);
        unlink(g_registry.c_str());
        return 0;
    }
    if (!add_bare_egl(x, loops)) std::printf("present_bench: no OpenGL 4.5 EGL context on an X11 window\n");
    if (!add_bare_glx(x, loops, false) || !add_bare_glx(x, loops, true))
        std::printf("present_bench: no OpenGL 4.5 GLX context on an X11 window\n");
    if (!add_engine(x, loops, "engine empty frame (its own choice)"))
        std::printf("present_bench: the engine could not draw on an X11 window\n");
    for (int round = 0; round < kRounds; ++round)
        for (Loop& loop : loops) run_round(loop);

    // The engine through an EGL window surface, in a process of its own (the choice is made
    // once per process), on the same server.
    Loop egl{"engine empty frame (VANTOR_PRESENT=egl)", {}, {}, {}};
    std::string command = "VANTOR_PRESENT=egl '" + std::string(argv[0]) + "' --engine-only 2>/dev/null";
    if (FILE* p = popen(command.c_str(), "r")) {
        double fps = 0;
        while (fscanf(p, "%lf", &fps) == 1) egl.fps.push_back(fps);
        pclose(p);
    }
    if (!egl.fps.empty()) loops.push_back(egl);

    double ceiling = 0;
    for (const Loop& loop : loops)
        if (loop.name.rfind("bare", 0) == 0 && loop.name.find("depth") == std::string::npos)
            ceiling = std::max(ceiling, loop.best());
    std::printf("Presenting to an X11 window, 640x480, private Xvfb: frames per second, best and median of %d "
                "rounds\n",
                kRounds);
    std::printf("  %-42s %8s %8s   %s\n", "loop", "best", "median", "best / faster bare loop");
    for (const Loop& loop : loops)
        std::printf("  %-42s %8.0f %8.0f   %.2fx\n", loop.name.c_str(), loop.best(), loop.median(),
                    ceiling > 0 ? loop.best() / ceiling : 0.0);
    if (!g_registry.empty()) unlink(g_registry.c_str());
    XCloseDisplay(x);
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    return 0;
}
