// OpenGL 4.5 core and EGL for the back end, and the GL context each rendering context owns.
//
//   std::shared_ptr<GlContext> gl = GlContext::create_offscreen(device);   // null on failure
//   gl->make_current();                       // before any GL call
//   glCreateTextures(...);
//
// glvnd's libOpenGL exports the whole 4.5 API, so functions are called directly.
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

class GlContext {
public:
    // A context that renders only into framebuffer objects.
    static std::shared_ptr<GlContext> create_offscreen(const EglDevice& device);
    // A context over an EGL window surface of an X11 window (`x_display` is the window's
    // Display*); null when the display or the window cannot be used.
    static std::shared_ptr<GlContext> create_x11(void* x_display, unsigned long xid);
    ~GlContext();
    GlContext(const GlContext&) = delete;
    GlContext& operator=(const GlContext&) = delete;

    // Makes this context current on the calling thread (a no-op when it already is).
    bool make_current();
    bool has_window() const { return surface_ != EGL_NO_SURFACE; }
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

    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLContext context_ = EGL_NO_CONTEXT;
    EGLSurface surface_ = EGL_NO_SURFACE;
    int swap_interval_ = -1;
};

}  // namespace vantor::render
