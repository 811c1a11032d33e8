// EGL devices and GL contexts.
#include "gl.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

namespace vantor::render {

bool has_extension(const char* list, const char* name) {
    if (!list) return false;
    size_t n = std::strlen(name);
    for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += n)
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0')) return true;
    return false;
}

void query_limits(GLint* max_texture_size, GLint* max_renderbuffer_size, float* max_anisotropy) {
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, max_texture_size);
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, max_renderbuffer_size);
    GLint extensions = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &extensions);
    for (GLint i = 0; i < extensions; ++i) {
        const char* e = reinterpret_cast<const char*>(glGetStringi(GL_EXTENSIONS, i));
        if (e && (!std::strcmp(e, "GL_EXT_texture_filter_anisotropic") ||
                  !std::strcmp(e, "GL_ARB_texture_filter_anisotropic")))
            glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY, max_anisotropy);
    }
    if (!(*max_anisotropy >= 1.0f)) *max_anisotropy = 1.0f;
    while (glGetError() != GL_NO_ERROR) {
    }
}

namespace {

const EGLint kContextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION, 4, EGL_CONTEXT_MINOR_VERSION, 5,
                                     EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                     EGL_NONE};

// Initialises `display` and checks that it gives an OpenGL 4.5 core context; fills the
// device's description from that context.
bool probe(EglDevice& d) {
    EGLint major = 0, minor = 0;
    if (d.display == EGL_NO_DISPLAY || !eglInitialize(d.display, &major, &minor)) return false;
    if (!has_extension(eglQueryString(d.display, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context") ||
        !has_extension(eglQueryString(d.display, EGL_EXTENSIONS), "EGL_KHR_no_config_context"))
        return false;
    if (!eglBindAPI(EGL_OPENGL_API)) return false;
    EGLContext previous = eglGetCurrentContext();
    EGLDisplay previous_display = eglGetCurrentDisplay();
    EGLSurface previous_draw = eglGetCurrentSurface(EGL_DRAW);
    EGLSurface previous_read = eglGetCurrentSurface(EGL_READ);
    EGLContext c = eglCreateContext(d.display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, kContextAttributes);
    if (c == EGL_NO_CONTEXT) return false;
    bool ok = eglMakeCurrent(d.display, EGL_NO_SURFACE, EGL_NO_SURFACE, c);
    if (ok) {
        const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
        const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        d.renderer = renderer ? renderer : "OpenGL";
        d.version = version ? version : "";
        query_limits(&d.max_texture_size, &d.max_renderbuffer_size, &d.max_anisotropy);
    }
    eglMakeCurrent(d.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(d.display, c);
    if (previous != EGL_NO_CONTEXT)
        eglMakeCurrent(previous_display, previous_draw, previous_read, previous);
    return ok && d.max_texture_size > 0;
}

std::vector<EglDevice> find_devices() {
    std::vector<EglDevice> found;
    glx_release_current();  // EGL cannot make its probes current over a GLX context
    const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto query_devices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    auto query_string =
        reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(eglGetProcAddress("eglQueryDeviceStringEXT"));
    if (has_extension(client, "EGL_EXT_device_enumeration") && has_extension(client, "EGL_EXT_platform_device") &&
        query_devices && query_string) {
        EGLDeviceEXT devices[16];
        EGLint count = 0;
        if (query_devices(16, devices, &count)) {
            for (EGLint i = 0; i < count; ++i) {
                EglDevice d;
                d.device = devices[i];
                d.software = has_extension(query_string(devices[i], EGL_EXTENSIONS), "EGL_MESA_device_software");
                d.display = eglGetPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
                if (probe(d)) found.push_back(d);
            }
        }
    }
    if (found.empty()) {
        // No device enumeration: the surfaceless platform, then the default display.
        EglDevice d;
        if (has_extension(client, "EGL_MESA_platform_surfaceless"))
            d.display = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (d.display == EGL_NO_DISPLAY || !probe(d)) d.display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
        if (d.display != EGL_NO_DISPLAY && (d.renderer.size() || probe(d))) {
            d.software = d.renderer.find("llvmpipe") != std::string::npos ||
                         d.renderer.find("softpipe") != std::string::npos;
            found.push_back(d);
        }
    }
    // The most accelerated device first: it is the utility layer's default.
    std::stable_sort(found.begin(), found.end(),
                     [](const EglDevice& a, const EglDevice& b) { return !a.software && b.software; });
    return found;
}

}  // namespace

const std::vector<EglDevice>& egl_devices() {
    static std::once_flag once;
    static std::vector<EglDevice>* devices;
    std::call_once(once, [] { devices = new std::vector<EglDevice>(find_devices()); });
    return *devices;
}

std::shared_ptr<GlContext> GlContext::create_offscreen(const EglDevice& device) {
    if (device.display == EGL_NO_DISPLAY || !eglBindAPI(EGL_OPENGL_API)) return nullptr;
    std::shared_ptr<GlContext> gl(new GlContext);
    gl->display_ = device.display;
    gl->context_ = eglCreateContext(device.display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, kContextAttributes);
    if (gl->context_ == EGL_NO_CONTEXT || !gl->finish_setup()) return nullptr;
    return gl;
}

std::shared_ptr<GlContext> GlContext::create_x11(const EglDevice& device, void* x_display, unsigned long xid) {
    if (!x_display || !xid) return nullptr;
    PresentApi chosen = x11_present_api(x_display);
    auto create = [&](PresentApi api) {
        switch (api) {
        case PresentApi::kShm: return create_shm_window(device, x_display, xid);
        case PresentApi::kGlx: return create_glx_window(x_display, xid);
        default: return create_egl_window(x_display, xid);
        }
    };
    std::shared_ptr<GlContext> gl = create(chosen);
    for (PresentApi other : {PresentApi::kShm, PresentApi::kGlx, PresentApi::kEgl}) {
        if (gl) break;
        // A broken driver or a server that cannot share memory: the next one, from now on.
        if (other != chosen && (gl = create(other))) settle_present_api(other);
    }
    return gl;
}

std::shared_ptr<GlContext> GlContext::create_shm_window(const EglDevice& device, void* x_display, unsigned long xid) {
    ShmImage* s = shm_create(x_display, xid);
    if (!s) return nullptr;
    std::shared_ptr<GlContext> gl = create_offscreen(device);
    if (!gl) {
        shm_destroy(s);
        return nullptr;
    }
    gl->shm_ = s;
    return gl;
}

std::shared_ptr<GlContext> GlContext::create_glx_window(void* x_display, unsigned long xid) {
    GlxSurface* s = glx_create(x_display, xid);
    if (!s) return nullptr;
    std::shared_ptr<GlContext> gl(new GlContext);
    gl->glx_ = s;
    if (!gl->finish_setup()) return nullptr;
    return gl;
}

std::shared_ptr<GlContext> GlContext::create_egl_window(void* x_display, unsigned long xid) {
    if (!eglBindAPI(EGL_OPENGL_API)) return nullptr;
    static std::mutex lock;
    static std::map<void*, EGLDisplay>* displays = new std::map<void*, EGLDisplay>;
    EGLDisplay display = EGL_NO_DISPLAY;
    {
        std::lock_guard<std::mutex> g(lock);
        auto it = displays->find(x_display);
        if (it != displays->end()) {
            display = it->second;
        } else {
            display = eglGetPlatformDisplay(EGL_PLATFORM_X11_KHR, x_display, nullptr);
            EGLint major = 0, minor = 0;
            if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) return nullptr;
            (*displays)[x_display] = display;
        }
    }
    const EGLint config_attributes[] = {EGL_SURFACE_TYPE, EGL_WINDOW_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                        EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_NONE};
    EGLConfig configs[64];
    EGLint count = 0;
    if (!eglChooseConfig(display, config_attributes, configs, 64, &count) || count == 0) return nullptr;
    std::shared_ptr<GlContext> gl(new GlContext);
    gl->display_ = display;
    gl->x_display_ = x_display;
    gl->xid_ = xid;
    // The first configuration whose visual suits the window wins.
    for (EGLint i = 0; i < count && gl->surface_ == EGL_NO_SURFACE; ++i) {
        unsigned long window = xid;
        gl->surface_ = eglCreatePlatformWindowSurface(display, configs[i], &window, nullptr);
        if (gl->surface_ != EGL_NO_SURFACE)
            gl->context_ = eglCreateContext(display, configs[i], EGL_NO_CONTEXT, kContextAttributes);
    }
    if (gl->surface_ == EGL_NO_SURFACE || gl->context_ == EGL_NO_CONTEXT || !gl->finish_setup()) return nullptr;
    return gl;
}

GlContext::~GlContext() {
    if (glx_) glx_destroy(glx_);
    if (shm_) shm_destroy(shm_);
    if (display_ == EGL_NO_DISPLAY) return;
    if (context_ != EGL_NO_CONTEXT && eglGetCurrentContext() == context_)
        eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context_ != EGL_NO_CONTEXT) eglDestroyContext(display_, context_);
    if (surface_ != EGL_NO_SURFACE) eglDestroySurface(display_, surface_);
}

namespace {

// Mesa's GL library answers which of its contexts is current on the thread from a thread-local
// variable. EGL's own answer costs a system call through the dispatch library, which asks for
// the process id on every call (to notice a fork), and make_current runs once per draw. Null
// where the driver is not Mesa's.
using CurrentFn = void* (*)();
CurrentFn mesa_current_context() {
    static const CurrentFn f = [] {
        void* glapi = dlopen("libglapi.so.0", RTLD_LAZY | RTLD_NOLOAD);
        return glapi ? reinterpret_cast<CurrentFn>(dlsym(glapi, "_glapi_get_context")) : nullptr;
    }();
    return f;
}

}  // namespace

bool GlContext::make_current() {
    if (glx_) return glx_make_current(glx_);
    // Made current by us and nothing else made current on this thread since: whoever makes
    // another Mesa context current changes the driver's answer, and another vendor's makes it
    // give up ours.
    const CurrentFn driver = mesa_current_context();
    if (driver && driver_context_ && driver() == driver_context_) return true;
    if (eglGetCurrentContext() != context_) {
        glx_release_current();
        eglBindAPI(EGL_OPENGL_API);
        if (!eglMakeCurrent(display_, surface_, surface_, context_)) return false;
    }
    driver_context_ = driver ? driver() : nullptr;
    return true;
}

bool GlContext::finish_setup() {
    if (!make_current()) return false;
    // Direct3D's conventions: the first row of the target is the top one and depth runs 0..1.
    glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);
    // Flat shading takes the first vertex of each primitive, as Direct3D does.
    glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    // Asked of the context itself: a window's context comes from another display than the
    // listed devices, and filters as anisotropically as the driver allows all the same.
    query_limits(&max_texture_size, &max_renderbuffer_size, &max_anisotropy);
    return max_texture_size > 0;
}

bool GlContext::window_size(int* width, int* height) const {
    if (glx_) return glx_window_size(glx_, width, height);
    if (shm_) return shm_window_size(shm_, width, height);
    // Asked of the server: EGL's own answer may lag a resize, and says nothing of a window
    // another client has destroyed.
    if (x_display_) return x11_window_size(x_display_, xid_, width, height);
    EGLint w = 0, h = 0;
    if (surface_ == EGL_NO_SURFACE || !eglQuerySurface(display_, surface_, EGL_WIDTH, &w) ||
        !eglQuerySurface(display_, surface_, EGL_HEIGHT, &h))
        return false;
    *width = w;
    *height = h;
    return true;
}

bool GlContext::swap_buffers(bool vsync) {
    int interval = vsync ? 1 : 0;
    if (glx_) return glx_swap_buffers(glx_, interval, &swap_interval_);
    if (surface_ == EGL_NO_SURFACE) return false;
    if (interval != swap_interval_) {
        eglSwapInterval(display_, interval);
        swap_interval_ = interval;
    }
    return eglSwapBuffers(display_, surface_) == EGL_TRUE;
}

uint8_t* GlContext::image_rows(int width, int height) { return shm_ ? shm_rows(shm_, width, height) : nullptr; }

bool GlContext::put_image() { return shm_ && shm_put(shm_); }

}  // namespace vantor::render
