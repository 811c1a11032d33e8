// GL contexts over X11 windows through GLX, and the choice of how X11 windows are presented.
//
// Mesa's software rasterisers present a GLX window through shared-memory images, an EGL window
// surface of the same window through plain image transfers: many times slower for every frame.
// Both need the frame copied into the window's back buffer first (a full-window textured draw),
// so with a software rasteriser our own shared images are fastest (xshm.cpp). With a GPU and
// DRI3 window surfaces are as fast. The choice is made once per process (see x11_present_api)
// and every later window context follows it.
#include "gl.h"

#include <X11/Xlib.h>
// glcorearb.h stands for gl.h here: GLX needs only its types.
#define __gl_h_ 1
#define __glext_h_ 1
#include <GL/glx.h>
#include <GL/glxext.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace vantor::render {

struct GlxSurface {
    Display* display = nullptr;
    GLXContext context = nullptr;
    Window xid = 0;
    GLXWindow window = 0;
    PFNGLXSWAPINTERVALEXTPROC swap_interval_ext = nullptr;
    PFNGLXSWAPINTERVALMESAPROC swap_interval_mesa = nullptr;
};

namespace {

template <typename F>
F proc(const char* name) {
    return reinterpret_cast<F>(glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)));
}

// The configuration to draw into `xid` with: double buffered RGB whose visual is the window's
// own (another visual cannot draw into it). No depth buffer: frames are drawn off screen and
// only copied into the window.
GLXFBConfig window_config(Display* d, Window xid) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, xid, &a) || !a.visual) return nullptr;
    VisualID wanted = XVisualIDFromVisual(a.visual);
    const int attributes[] = {GLX_X_RENDERABLE, True, GLX_DRAWABLE_TYPE, GLX_WINDOW_BIT, GLX_RENDER_TYPE,
                              GLX_RGBA_BIT, GLX_DOUBLEBUFFER, True, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8,
                              GLX_BLUE_SIZE, 8, None};
    int count = 0;
    GLXFBConfig* configs = glXChooseFBConfig(d, XScreenNumberOfScreen(a.screen), attributes, &count);
    GLXFBConfig chosen = nullptr;
    for (int i = 0; configs && i < count && !chosen; ++i) {
        int visual = 0;
        if (glXGetFBConfigAttrib(d, configs[i], GLX_VISUAL_ID, &visual) == Success &&
            static_cast<VisualID>(visual) == wanted)
            chosen = configs[i];
    }
    if (configs) XFree(configs);
    return chosen;
}

std::once_flag g_decided;
std::atomic<int> g_api{-1};  // PresentApi once decided

// The API asked for in $VANTOR_PRESENT ("shm", "glx" or "egl"); -1 when unset or unknown.
int forced_api() {
    const char* v = std::getenv("VANTOR_PRESENT");
    if (!v) return -1;
    if (!std::strcmp(v, "shm")) return static_cast<int>(PresentApi::kShm);
    if (!std::strcmp(v, "glx")) return static_cast<int>(PresentApi::kGlx);
    if (!std::strcmp(v, "egl")) return static_cast<int>(PresentApi::kEgl);
    return -1;
}

// Without a display to look at: images for a software rasteriser, EGL for a GPU.
int predicted_api() {
    int forced = forced_api();
    if (forced >= 0) return forced;
    const std::vector<EglDevice>& devices = egl_devices();
    bool software = devices.empty() || devices.front().software;
    return static_cast<int>(software ? PresentApi::kShm : PresentApi::kEgl);
}

}  // namespace

PresentApi x11_present_api(void* x_display) {
    if (x_display) {
        std::call_once(g_decided, [x_display] {
            int api = predicted_api();
            // A GPU presents through a window surface at full speed only with DRI3; on an X
            // server without it (Xvfb for one) the window system falls back to its software
            // path, and the GPU's frame read back into an image is faster.
            int opcode = 0, event = 0, error = 0;
            if (forced_api() < 0 && api == static_cast<int>(PresentApi::kEgl) &&
                !XQueryExtension(static_cast<Display*>(x_display), "DRI3", &opcode, &event, &error))
                api = static_cast<int>(PresentApi::kShm);
            int unset = -1;
            g_api.compare_exchange_strong(unset, api);
        });
    }
    int api = g_api.load();
    return static_cast<PresentApi>(api >= 0 ? api : predicted_api());
}

void settle_present_api(PresentApi api) { g_api.store(static_cast<int>(api)); }

const char* present_api_name(PresentApi api) {
    switch (api) {
    case PresentApi::kGlx: return "GLX";
    case PresentApi::kShm: return "XShm";
    default: return "EGL";
    }
}

GlxSurface* glx_create(void* x_display, unsigned long xid) {
    Display* d = static_cast<Display*>(x_display);
    int error = 0, event = 0;
    if (!d || !xid || !glXQueryExtension(d, &error, &event)) return nullptr;
    GLXFBConfig config = window_config(d, xid);
    if (!config) return nullptr;
    const char* extensions = glXQueryExtensionsString(d, XScreenNumberOfScreen(DefaultScreenOfDisplay(d)));
    auto create = proc<PFNGLXCREATECONTEXTATTRIBSARBPROC>("glXCreateContextAttribsARB");
    if (!has_extension(extensions, "GLX_ARB_create_context") ||
        !has_extension(extensions, "GLX_ARB_create_context_profile") || !create)
        return nullptr;
    const int context_attributes[] = {GLX_CONTEXT_MAJOR_VERSION_ARB, 4, GLX_CONTEXT_MINOR_VERSION_ARB, 5,
                                      GLX_CONTEXT_PROFILE_MASK_ARB, GLX_CONTEXT_CORE_PROFILE_BIT_ARB, None};
    auto* s = new GlxSurface;
    s->display = d;
    s->xid = xid;
    s->context = create(d, config, nullptr, True, context_attributes);
    // Errors of these requests reach the runtime's handler for its display, never Xlib's
    // default one; XSync collects them here.
    if (s->context) s->window = glXCreateWindow(d, config, xid, nullptr);
    XSync(d, False);
    if (!s->context || !s->window || !glXIsDirect(d, s->context)) {
        glx_destroy(s);
        return nullptr;
    }
    if (has_extension(extensions, "GLX_EXT_swap_control"))
        s->swap_interval_ext = proc<PFNGLXSWAPINTERVALEXTPROC>("glXSwapIntervalEXT");
    else if (has_extension(extensions, "GLX_MESA_swap_control"))
        s->swap_interval_mesa = proc<PFNGLXSWAPINTERVALMESAPROC>("glXSwapIntervalMESA");
    return s;
}

void glx_destroy(GlxSurface* s) {
    if (!s) return;
    if (s->context && glXGetCurrentContext() == s->context) glXMakeContextCurrent(s->display, None, None, nullptr);
    if (s->context) glXDestroyContext(s->display, s->context);
    if (s->window) glXDestroyWindow(s->display, s->window);
    XSync(s->display, False);  // a window already gone answers with an error, taken here
    delete s;
}

bool glx_make_current(GlxSurface* s) {
    if (glXGetCurrentContext() == s->context) return true;
    // One window system API at a time may have a context current on a thread.
    if (eglGetCurrentContext() != EGL_NO_CONTEXT)
        eglMakeCurrent(eglGetCurrentDisplay(), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    return glXMakeContextCurrent(s->display, s->window, s->window, s->context) == True;
}

void glx_release_current() {
    if (glXGetCurrentContext()) glXMakeContextCurrent(glXGetCurrentDisplay(), None, None, nullptr);
}

bool x11_window_size(void* x_display, unsigned long xid, int* width, int* height) {
    // One round trip (glXQueryDrawable takes one for each of width and height). A window
    // destroyed by another client answers with an error, which the display's handler takes.
    Window root;
    int x = 0, y = 0;
    unsigned w = 0, h = 0, border = 0, depth = 0;
    if (!XGetGeometry(static_cast<Display*>(x_display), xid, &root, &x, &y, &w, &h, &border, &depth) || !w || !h)
        return false;
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return true;
}

bool glx_window_size(GlxSurface* s, int* width, int* height) {
    return x11_window_size(s->display, s->xid, width, height);
}

bool glx_swap_buffers(GlxSurface* s, int interval, int* current_interval) {
    if (interval != *current_interval) {
        if (s->swap_interval_ext) s->swap_interval_ext(s->display, s->window, interval);
        else if (s->swap_interval_mesa) s->swap_interval_mesa(static_cast<unsigned>(interval));
        *current_interval = interval;
    }
    glXSwapBuffers(s->display, s->window);
    return true;
}

}  // namespace vantor::render
