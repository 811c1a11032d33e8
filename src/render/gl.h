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

// Whether the space-separated extension `list` names `name` exactly.
bool has_extension(const char* list, const char* name);

// The current context's texture and renderbuffer size limits and its anisotropy limit (1 when
// anisotropic filtering is unavailable); clears the GL errors the queries may leave.
void query_limits(GLint* max_texture_size, GLint* max_renderbuffer_size, float* max_anisotropy);

// The machine's EGL devices that give an OpenGL 4.5 core context, GPUs first (found once per
// process; EGL displays stay initialised for the life of the process).
const std::vector<EglDevice>& egl_devices();

// How X11 windows are presented: one choice for the whole process. kEgl and kGlx render into
// a window surface of that API; kShm renders off screen (EGL, as without a window) and puts
// each frame into the window as a shared-memory image.
enum class PresentApi { kEgl, kGlx, kShm };

// The API X11 window contexts use. Decided at the first call with a display (the first X11
// context): $VANTOR_PRESENT=shm|glx|egl forces one; otherwise shared-memory images when the
// renderer is a software rasteriser or the X server lacks DRI3 (the frame is in memory already),
// EGL for a GPU with DRI3. Before that (x_display null) it answers what the decision will be
// without looking at a display.
PresentApi x11_present_api(void* x_display = nullptr);
// Records that X11 contexts use `api` from now on (the chosen one could not make a context).
void settle_present_api(PresentApi api);
const char* present_api_name(PresentApi api);

struct GlxSurface;  // glx.cpp
struct ShmImage;    // xshm.cpp

class GlContext {
public:
    // A context that renders only into framebuffer objects.
    static std::shared_ptr<GlContext> create_offscreen(const EglDevice& device);
    // A context over an X11 window (`x_display` is the window's Display*) through the API
    // x11_present_api chose, or another one when that fails; null when none can use the display
    // or the window. `device` renders when the frames are presented as images.
    static std::shared_ptr<GlContext> create_x11(const EglDevice& device, void* x_display, unsigned long xid);
    ~GlContext();
    GlContext(const GlContext&) = delete;
    GlContext& operator=(const GlContext&) = delete;

    // Makes this context current on the calling thread (a no-op when it already is).
    bool make_current();
    bool has_window() const { return surface_ != EGL_NO_SURFACE || glx_ || shm_; }
    // The API presenting this context's window (kEgl for contexts without one).
    PresentApi api() const { return glx_ ? PresentApi::kGlx : shm_ ? PresentApi::kShm : PresentApi::kEgl; }
    // The X11 window's current size (window contexts only). With images it also waits until
    // the server has taken the previous image.
    bool window_size(int* width, int* height) const;
    // Window surfaces: shows the drawn back buffer.
    bool swap_buffers(bool vsync);
    // Images (kShm): after window_size, the image to fill with `width` x `height` BGRA pixels,
    // rows top first and tightly packed (null when it cannot be made); put_image shows it.
    bool presents_images() const { return shm_ != nullptr; }
    uint8_t* image_rows(int width, int height);
    bool put_image();

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
    static std::shared_ptr<GlContext> create_shm_window(const EglDevice& device, void* x_display, unsigned long xid);

    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLContext context_ = EGL_NO_CONTEXT;
    EGLSurface surface_ = EGL_NO_SURFACE;
    void* x_display_ = nullptr;  // an EGL window surface's X11 window
    unsigned long xid_ = 0;
    GlxSurface* glx_ = nullptr;  // the GLX context and window; EGL's members unused then
    ShmImage* shm_ = nullptr;    // the window's shared image (with an EGL context off screen)
    int swap_interval_ = -1;
    // The driver's own context object while this context is current on some thread (Mesa's),
    // for make_current's cheap check; null when the driver does not say.
    void* driver_context_ = nullptr;
};

// The GLX side (glx.cpp). glx_create leaves nothing current; glx_make_current first releases
// a current EGL context (a thread has one window system API current at a time).
GlxSurface* glx_create(void* x_display, unsigned long xid);
void glx_destroy(GlxSurface* s);
bool glx_make_current(GlxSurface* s);
void glx_release_current();
bool glx_window_size(GlxSurface* s, int* width, int* height);
// The size of an X11 window as the server has it; false when it is gone.
bool x11_window_size(void* x_display, unsigned long xid, int* width, int* height);
bool glx_swap_buffers(GlxSurface* s, int interval, int* current_interval);

// Shared-memory images (xshm.cpp): null when the server cannot share memory with us or the
// window's visual is not 24-bit BGRX.
ShmImage* shm_create(void* x_display, unsigned long xid);
void shm_destroy(ShmImage* s);
bool shm_window_size(ShmImage* s, int* width, int* height);
uint8_t* shm_rows(ShmImage* s, int width, int height);
bool shm_put(ShmImage* s);

}  // namespace vantor::render
