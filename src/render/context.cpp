// The utility layer's rendering context.
#include "context.h"

#include "device.h"
#include "platform.h"
#include "surface.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace vantor::render {
namespace {

// Swaps the red and blue bytes of each RGBA pixel in place: sixteen bytes a step with SSSE3's
// byte shuffle where the processor has it (a 640x480 frame in about a third of the time of the
// plain loop, which the compiler does not vectorise at this optimisation level).
#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("ssse3"))) size_t rgba_to_bgra_ssse3(uint8_t* bytes, size_t pixels) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
    size_t i = 0;
    for (; i + 4 <= pixels; i += 4) {
        auto* p = reinterpret_cast<__m128i*>(bytes + i * 4);
        _mm_storeu_si128(p, _mm_shuffle_epi8(_mm_loadu_si128(p), order));
    }
    return i;
}
#endif

void rgba_to_bgra(uint8_t* bytes, size_t pixels) {
    size_t i = 0;
#if defined(__x86_64__) || defined(__i386__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) i = rgba_to_bgra_ssse3(bytes, pixels);
#endif
    for (; i < pixels; ++i) {
        uint32_t v;
        std::memcpy(&v, bytes + i * 4, 4);
        v = (v & 0xFF00FF00u) | ((v & 0xFFu) << 16) | ((v >> 16) & 0xFFu);
        std::memcpy(bytes + i * 4, &v, 4);
    }
}

}  // namespace

Context::Context() : handle_(static_cast<ID3DXContext*>(this)) {}

Context::~Context() {
    if (dd_ && dd_->gl() && dd_->gl()->make_current()) {
        text_.release();
        glDeleteFramebuffers(1, &scaled_framebuffer_);
        glDeleteRenderbuffers(1, &scaled_colour_);
    }
    device_.reset();
    primary_.reset();
    back_.reset();
    depth_.reset();
    dd_.reset();
    if (full_screen_) give_back_display_mode(this);
}

HRESULT Context::create(DWORD device_index, DWORD flags, HWND window, DWORD width, DWORD height, ID3DXContext** out) {
    *out = nullptr;
    if (flags & ~(D3DX_CONTEXT_FULLSCREEN | D3DX_CONTEXT_OFFSCREEN)) return D3DXERR_INVALIDPARAMETER;
    if ((flags & D3DX_CONTEXT_FULLSCREEN) && (flags & D3DX_CONTEXT_OFFSCREEN)) return D3DXERR_INVALIDPARAMETER;
    const std::vector<EglDevice>& devices = egl_devices();
    if (device_index >= devices.size()) return D3DXERR_INVALIDD3DXDEVICEINDEX;
    const EglDevice& egl = devices[device_index];
    bool offscreen = (flags & D3DX_CONTEXT_OFFSCREEN) != 0;
    bool fullscreen = (flags & D3DX_CONTEXT_FULLSCREEN) != 0;
    int kind = kWindowKindNone;
    if (!offscreen) {
        // A handle that is not a window fails cleanly before anything is made.
        kind = platform::window_kind(window);
        if (kind != kWindowKindVirtual && kind != kWindowKindX11) return D3DXERR_INVALIDPARAMETER;
    }
    DisplayMode mode = current_display_mode();
    if (offscreen) {
        if (!width || !height || width == D3DX_DEFAULT || height == D3DX_DEFAULT) return D3DXERR_INVALIDPARAMETER;
    } else if (fullscreen) {
        if (width == D3DX_DEFAULT || !width) width = mode.width;
        if (height == D3DX_DEFAULT || !height) height = mode.height;
    } else if (width == D3DX_DEFAULT || height == D3DX_DEFAULT || !width || !height) {
        int w = 0, h = 0;
        if (!platform::client_size(window, &w, &h) || w <= 0 || h <= 0) return D3DXERR_INVALIDPARAMETER;
        if (width == D3DX_DEFAULT || !width) width = static_cast<DWORD>(w);
        if (height == D3DX_DEFAULT || !height) height = static_cast<DWORD>(h);
    }
    DWORD max_side = static_cast<DWORD>(std::min(egl.max_texture_size, egl.max_renderbuffer_size));
    if (width > max_side || height > max_side) return D3DXERR_INVALIDPARAMETER;

    std::shared_ptr<GlContext> gl;
    if (kind == kWindowKindX11)
        gl = GlContext::create_x11(egl, platform::x11_display(window), platform::x11_window(window));
    else
        gl = GlContext::create_offscreen(egl);
    if (!gl) return D3DXERR_NODIRECT3DDEVICEAVAILABLE;

    Context* c = new (std::nothrow) Context;
    if (!c) return D3DXERR_NOMEMORY;
    ComPtr<Context> hold = adopt(c);
    c->flags_ = flags;
    c->window_ = offscreen ? 0 : window;
    c->kind_ = kind;
    c->dd_ = DirectDraw::create(static_cast<int>(device_index), gl);
    if (!c->dd_) return D3DXERR_NOMEMORY;
    c->dd_->set_cooperative(c->window_, fullscreen ? DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN : DDSCL_NORMAL);
    StandardFormat colour = mode.bpp == 16 ? StandardFormat::R5G6B5 : StandardFormat::X8R8G8B8;
    c->back_ = Surface::create_back_buffer(c->dd_.get(), colour, width, height);
    c->depth_ = Surface::create_depth_buffer(c->dd_.get(), width, height);
    if (!c->back_ || !c->depth_) return D3DXERR_NOMEMORY;
    c->back_->attach_depth(c->depth_.get());
    const GUID& type = egl.software ? IID_IDirect3DRGBDevice : IID_IDirect3DTnLHalDevice;
    c->device_ = Device::create(c->dd_.get(), c->back_.get(), type);
    if (!c->device_) return D3DXERR_NODIRECT3DDEVICEAVAILABLE;
    if (fullscreen) {
        // The window takes the whole screen, whose recorded mode becomes the context's size.
        c->full_screen_ = true;
        take_display_mode(c, {width, height, mode.bpp, mode.refresh});
        platform::resize_window(window, static_cast<int>(width), static_cast<int>(height));
    }
    *out = hold.get();
    hold->AddRef();
    return S_OK;
}

HRESULT Context::GetPrimary(IDirectDrawSurface7** surface) {
    clear_out(surface);
    if (!surface) return D3DXERR_NULLPOINTER;
    if (kind_ == kWindowKindNone) return D3DXERR_NOPRIMARYAVAILABLE;
    if (!primary_) {
        // The front buffer: a memory surface that each UpdateFrame fills with the presented image.
        DDSURFACEDESC2 sd{};
        sd.dwSize = sizeof sd;
        sd.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
        sd.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
        sd.dwWidth = back_->width();
        sd.dwHeight = back_->height();
        sd.ddpfPixelFormat = back_->layout().ddpf;
        IDirectDrawSurface7* s = nullptr;
        if (FAILED(Surface::create(dd_.get(), &sd, &s))) return D3DXERR_NOPRIMARYAVAILABLE;
        primary_ = adopt(Surface::from(s));
        primary_->Blt(nullptr, back_.get(), nullptr, DDBLT_WAIT, nullptr);
    }
    primary_.copy_to(surface);
    return S_OK;
}

HRESULT Context::GetZBuffer(IDirectDrawSurface7** surface) {
    clear_out(surface);
    if (!surface) return D3DXERR_NULLPOINTER;
    depth_.copy_to(surface);
    return S_OK;
}

HRESULT Context::GetBackBuffer(DWORD which, IDirectDrawSurface7** surface) {
    clear_out(surface);
    if (!surface) return D3DXERR_NULLPOINTER;
    if (which != 0) return D3DXERR_NOBACKBUFFERAVAILABLE;
    back_.copy_to(surface);
    return S_OK;
}

HRESULT Context::GetD3D(IDirect3D7** d3d) {
    clear_out(d3d);
    if (!d3d) return D3DXERR_NULLPOINTER;
    *d3d = dd_->d3d();
    dd_->AddRef();
    return S_OK;
}

HRESULT Context::GetD3DDevice(IDirect3DDevice7** device) {
    clear_out(device);
    if (!device) return D3DXERR_NULLPOINTER;
    device_.copy_to(device);
    return S_OK;
}

HRESULT Context::GetDD(IDirectDraw7** dd) {
    clear_out(dd);
    if (!dd) return D3DXERR_NULLPOINTER;
    *dd = dd_->ddraw();
    dd_->AddRef();
    return S_OK;
}

DWORD Context::GetWidth() { return back_->width(); }
DWORD Context::GetHeight() { return back_->height(); }

HRESULT Context::UpdateFrame(DWORD flags) {
    if (flags & ~D3DX_UPDATE_NOVSYNC) return D3DXERR_INVALIDPARAMETER;
    if (back_->busy()) return DDERR_SURFACEBUSY;
    // A window that is gone takes the front surface with it.
    if (kind_ != kWindowKindNone && !platform::is_window(window_)) return DDERR_SURFACELOST;
    GlContext& gl = *dd_->gl();
    if (!gl.make_current()) return DDERR_GENERIC;
    int w = static_cast<int>(back_->width()), h = static_cast<int>(back_->height());
    if (kind_ == kWindowKindVirtual) {
        // GL row 0 is the top row (clip control), which is also the window image's first row.
        // A back buffer of another size than the window is stretched to it, as the blit to an
        // X11 window does (RenderWindowContext.AResizedVirtualWindowShowsTheWholeFrameStretched).
        int ww = w, wh = h;
        platform::client_size(window_, &ww, &wh);
        if (ww <= 0 || wh <= 0) ww = w, wh = h;
        size_t bytes = static_cast<size_t>(ww) * wh * 4;
        if (present_.size() < bytes) present_.resize(bytes);
        if (ww == w && wh == h) {
            glGetTextureImage(back_->gl_texture(), 0, GL_RGBA, GL_UNSIGNED_BYTE, static_cast<GLsizei>(bytes),
                              present_.data());
        } else {
            if (!scale_to(gl, ww, wh)) return DDERR_GENERIC;
            glNamedFramebufferReadBuffer(scaled_framebuffer_, GL_COLOR_ATTACHMENT0);
            glBindFramebuffer(GL_READ_FRAMEBUFFER, scaled_framebuffer_);
            glReadPixels(0, 0, ww, wh, GL_RGBA, GL_UNSIGNED_BYTE, present_.data());
            device_->invalidate_gl_state();
        }
        if (!platform::present(window_, present_.data(), ww, wh, ww * 4)) return DDERR_SURFACELOST;
    } else if (kind_ == kWindowKindX11 && gl.presents_images()) {
        // The frame goes into the window as an image of the window's size, rows top first as
        // the back buffer has them; another size is stretched to it first.
        int ww = w, wh = h;
        if (!gl.window_size(&ww, &wh)) return DDERR_SURFACELOST;
        uint8_t* rows = gl.image_rows(ww, wh);
        if (!rows) return DDERR_GENERIC;
        size_t pixels = static_cast<size_t>(ww) * wh;
        // Read as the texture stores it (a plain copy; the driver's own conversion to BGRA is
        // several times slower than the swap below).
        if (ww == w && wh == h) {
            glGetTextureImage(back_->gl_texture(), 0, GL_RGBA, GL_UNSIGNED_BYTE, static_cast<GLsizei>(pixels * 4), rows);
        } else {
            if (!scale_to(gl, ww, wh)) return DDERR_GENERIC;
            glNamedFramebufferReadBuffer(scaled_framebuffer_, GL_COLOR_ATTACHMENT0);
            glBindFramebuffer(GL_READ_FRAMEBUFFER, scaled_framebuffer_);
            glReadPixels(0, 0, ww, wh, GL_RGBA, GL_UNSIGNED_BYTE, rows);
            device_->invalidate_gl_state();
        }
        rgba_to_bgra(rows, pixels);
        if (!gl.put_image()) return DDERR_SURFACELOST;
    } else if (kind_ == kWindowKindX11) {
        // A window surface has its first row at the bottom: flip while copying, and scale to
        // the window's current size.
        int ww = w, wh = h;
        if (!gl.window_size(&ww, &wh)) return DDERR_SURFACELOST;  // destroyed by its owner
        glBindFramebuffer(GL_READ_FRAMEBUFFER, back_->framebuffer(gl));
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        glDisable(GL_SCISSOR_TEST);
        glBlitFramebuffer(0, 0, w, h, 0, wh, ww, 0, GL_COLOR_BUFFER_BIT, (ww == w && wh == h) ? GL_NEAREST : GL_LINEAR);
        bool shown = gl.swap_buffers(!(flags & D3DX_UPDATE_NOVSYNC));
        device_->invalidate_gl_state();
        if (!shown) return DDERR_SURFACELOST;
    }
    if (primary_) primary_->Blt(nullptr, back_.get(), nullptr, DDBLT_WAIT, nullptr);
    return S_OK;
}

bool Context::scale_to(GlContext& gl, int width, int height) {
    if (!scaled_framebuffer_) {
        glCreateFramebuffers(1, &scaled_framebuffer_);
        glCreateRenderbuffers(1, &scaled_colour_);
    }
    if (scaled_width_ != width || scaled_height_ != height) {
        glNamedRenderbufferStorage(scaled_colour_, GL_RGBA8, width, height);
        glNamedFramebufferRenderbuffer(scaled_framebuffer_, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, scaled_colour_);
        scaled_width_ = width, scaled_height_ = height;
    }
    if (glCheckNamedFramebufferStatus(scaled_framebuffer_, GL_DRAW_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        scaled_width_ = scaled_height_ = 0;
        return false;
    }
    int w = static_cast<int>(back_->width()), h = static_cast<int>(back_->height());
    glDisable(GL_SCISSOR_TEST);
    glBlitNamedFramebuffer(back_->framebuffer(gl), scaled_framebuffer_, 0, 0, w, h, 0, 0, width, height,
                           GL_COLOR_BUFFER_BIT, GL_LINEAR);
    return true;
}

HRESULT Context::DrawDebugText(float x, float y, D3DCOLOR colour, LPSTR text) {
    if (!text) return D3DXERR_NULLPOINTER;
    if (!std::isfinite(x) || !std::isfinite(y)) return D3DXERR_INVALIDPARAMETER;
    if (back_->busy()) return DDERR_SURFACEBUSY;
    GlContext& gl = *dd_->gl();
    if (!gl.make_current()) return D3DXERR_FAILEDDRAWTEXT;
    bool ok = text_.draw(back_->framebuffer(gl), static_cast<int>(back_->width()), static_cast<int>(back_->height()),
                         x, y, colour, text);
    device_->invalidate_gl_state();
    return ok ? S_OK : D3DXERR_FAILEDDRAWTEXT;
}

HRESULT Context::SetClearColor(D3DCOLOR colour) {
    clear_colour_ = colour;
    return S_OK;
}

HRESULT Context::SetClearDepth(float z) {
    if (!(z >= 0.0f && z <= 1.0f)) return D3DXERR_INVALIDPARAMETER;
    clear_depth_ = z;
    return S_OK;
}

HRESULT Context::SetClearStencil(DWORD stencil) {
    clear_stencil_ = stencil;
    return S_OK;
}

HRESULT Context::Clear(DWORD flags) {
    // The device's Clear clears the current viewport and checks the flags.
    return device_->Clear(0, nullptr, flags, clear_colour_, clear_depth_, clear_stencil_);
}

HRESULT Context::Resize(DWORD width, DWORD height) {
    if (flags_ & D3DX_CONTEXT_FULLSCREEN) return D3DXERR_CANNOTRESIZEFULLSCREEN;
    if (kind_ == kWindowKindNone) return D3DXERR_CANNOTRESIZENONWINDOWED;
    if (width == D3DX_DEFAULT || height == D3DX_DEFAULT) {
        int w = 0, h = 0;
        if (!platform::client_size(window_, &w, &h)) return D3DXERR_INVALIDPARAMETER;
        if (width == D3DX_DEFAULT) width = static_cast<DWORD>(w);
        if (height == D3DX_DEFAULT) height = static_cast<DWORD>(h);
    }
    GlContext& gl = *dd_->gl();
    DWORD max_side = static_cast<DWORD>(std::min(gl.max_texture_size, gl.max_renderbuffer_size));
    if (!width || !height || width > max_side || height > max_side) return D3DXERR_INVALIDPARAMETER;
    if (back_->busy() || depth_->busy()) return DDERR_SURFACEBUSY;
    if (width == back_->width() && height == back_->height()) return S_OK;
    if (FAILED(back_->resize(width, height))) return D3DXERR_NOMEMORY;
    if (FAILED(depth_->resize(width, height))) {
        back_->resize(depth_->width(), depth_->height());
        return D3DXERR_NOMEMORY;
    }
    if (primary_) primary_.reset();
    if (device_->render_target() == back_.get()) device_->target_resized();
    device_->invalidate_gl_state();
    return S_OK;
}

}  // namespace vantor::render
