// OpenGL 4.5 core and EGL for the back end, and the GL context each rendering context owns.
//
//   std::shared_ptr<GlContext> gl = GlContext::create_offscreen(device);   // null on failure
//   gl->make_current();                       // before any GL call
//   glCreateTextures(...);
//
// glvnd's libOpenGL exports the whole 4.5 API, so functions are called directly. Contexts off
// screen are EGL's (surfaceless); a context over an X11 window is EGL's or GLX's, whichever
// presents faster on the machine (x11_present_api).
#pragma once

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantor::render {

// One EGL device of the machine, as the utility layer lists it.
struct EglDevice {
    EGLDeviceEXT device = nullptr;  // null: the default (or surfaceless) display
    EGLDisplay display = EGL_NO_DISPLAY;
    bool software = true;           // llvmpipe and other CPU rasterisers
    std::string renderer;           // GL_RENDERER
    std::string version;            // GL_VERSION
    GLint max_texture_size = 0;
    GLint max_renderbuffer_size = 0;
    float max_anisotropy = 1.0f;    // 1 when anisotropic filtering is unavailable
};

// The machine's EGL devices that give an OpenGL 4.5 core context, GPUs first (found once per
// process; EGL displays stay initialised for the life of the process).
const std::vector<EglDevice>& egl_devices();

// How X11 windows are presented: one choice for the whole process.
enum class PresentApi { kEgl, kGlx };

// The API X11 window contexts use. Decided at the first call with a display (the first X11
// context): $VANTOR_PRESENT=glx|egl forces one; otherwise GLX when the renderer is a software
// rasteriser or the X server lacks DRI3, EGL for a GPU with DRI3. Before that (x_display null)
// it answers what the decision will be without looking at a display.
PresentApi x11_present_api(void* x_display = nullptr);
// Records that X11 contexts use `api` from now on (the chosen one could not make a context).
void settle_present_api(PresentApi api);
const char* present_api_name(PresentApi api);

struct GlxSurface;  // glx.cpp

class GlContext {
public:
    // A context that renders only into framebuffer objects.
    static std::shared_ptr<GlContext> create_offscreen(const EglDevice& device);
    // A context over an X11 window (`x_display` is the window's Display*) through the API
    // x11_present_api chose, or the other one when that fails; null when neither can use the
    // display or the window.
    static std::shared_ptr<GlContext> create_x11(void* x_display, unsigned long xid);
    ~GlContext();
    GlContext(const GlContext&) = delete;
    GlContext& operator=(const GlContext&) = delete;

    // Makes this context current on the calling thread (a no-op when it already is).
    bool make_current();
    bool has_window() const { return surface_ != EGL_NO_SURFACE || glx_; }
    // The API presenting this context's window (kEgl for contexts without one).
    PresentApi api() const { return glx_ ? PresentApi::kGlx : PresentApi::kEgl; }
    // The X11 window's current size (window contexts only).
    bool window_size(int* width, int* height) const;
    bool swap_buffers(bool vsync);

    GLint max_texture_size = 0;
    GLint max_renderbuffer_size = 0;
    float max_anisotropy = 1.0f;
    // Conversion space for uploads and read-backs; grows, never shrinks.
    std::vector<uint8_t> scratch;
    uint8_t* scratch_bytes(size_t n) {
        if (scratch.size() < n) scratch.resize(n);
        return scratch.data();
    }

private:
    GlContext() = default;
    bool finish_setup();
    static std::shared_ptr<GlContext> create_egl_window(void* x_display, unsigned long xid);
    static std::shared_ptr<GlContext> create_glx_window(void* x_display, unsigned long xid);

    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLContext context_ = EGL_NO_CONTEXT;
    EGLSurface surface_ = EGL_NO_SURFACE;
    GlxSurface* glx_ = nullptr;  // the GLX context and window; EGL's members unused then
    int swap_interval_ = -1;
};

// The GLX side (glx.cpp). glx_create leaves nothing current; glx_make_current first releases
// a current EGL context (a thread has one window system API current at a time).
GlxSurface* glx_create(void* x_display, unsigned long xid);
void glx_destroy(GlxSurface* s);
bool glx_make_current(GlxSurface* s);
void glx_release_current();
bool glx_window_size(GlxSurface* s, int* width, int* height);
bool glx_swap_buffers(GlxSurface* s, int interval, int* current_interval);

}  // namespace vantor::render
