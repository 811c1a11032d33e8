// DirectDraw surfaces (IDirectDrawSurface7): textures, system-memory and off-screen surfaces,
// render targets and depth buffers.
//
//   DDSURFACEDESC2 sd{}; sd.dwSize = sizeof sd;
//   sd.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
//   sd.ddsCaps.dwCaps = DDSCAPS_TEXTURE; sd.dwWidth = 64; sd.dwHeight = 64;
//   sd.ddpfPixelFormat = ...;                        // 16-bit 565/555/1555/4444, 24, 32, P8, L8, A8L8, V8U8
//   dd->CreateSurface(&sd, &surface, nullptr);
//   surface->Lock(nullptr, &sd, DDLOCK_WAIT, 0);    // rows top to bottom, sd.lPitch apart
//   surface->Unlock(nullptr);                        // the texture uploads at its next use
//
// Every surface keeps its pixels in DirectDraw's memory layout. Textures reach OpenGL when a
// device binds them after a change (converted to RGBA8; palettised ones through their palette).
// Render targets and depth buffers live in GL textures; locking one reads the GL image back
// and unlocking writes it again (DDLOCK_READONLY skips the write, DDLOCK_WRITEONLY and
// DDLOCK_DISCARDCONTENTS the read).
//
// Results: Lock twice (or while a DC is out) gives DDERR_SURFACEBUSY; Unlock of a surface that
// is not locked DDERR_NOTLOCKED; bad records or flags DDERR_INVALIDPARAMS; rectangles outside
// the surface DDERR_INVALIDRECT (Blt) or DDERR_INVALIDPARAMS (Lock); a palette on a surface
// that is not palettised DDERR_INVALIDPIXELFORMAT; GetPalette without one
// DDERR_NOPALETTEATTACHED; Blt flags other than COLORFILL, KEYSRC, KEYSRCOVERRIDE, WAIT,
// DONOTWAIT and ASYNC DDERR_UNSUPPORTED. A surface is never lost.
#pragma once

#include "com_object.h"
#include "gl.h"
#include "pixel_format.h"

#include <vantor/gdi.h>

namespace vantor::render {

class DirectDraw;
class Palette;

class Surface final : public SingleInterface<IDirectDrawSurface7, &IID_VantorRenderSurface> {
public:
    // IDirectDraw7::CreateSurface.
    static HRESULT create(DirectDraw* dd, const DDSURFACEDESC2* desc, IDirectDrawSurface7** out);
    // The rendering context's back buffer (colour) and depth buffer; GL-backed.
    static ComPtr<Surface> create_back_buffer(DirectDraw* dd, StandardFormat format, DWORD width, DWORD height);
    static ComPtr<Surface> create_depth_buffer(DirectDraw* dd, DWORD width, DWORD height);
    static Surface* from(IDirectDrawSurface7* s) { return implementation_of<Surface>(s, IID_VantorRenderSurface); }

    HRESULT Blt(RECT* dst, IDirectDrawSurface7* src, RECT* srcRect, DWORD flags, DDBLTFX* fx) override;
    HRESULT GetSurfaceDesc(DDSURFACEDESC2* desc) override;
    HRESULT GetPixelFormat(DDPIXELFORMAT* format) override;
    HRESULT Lock(RECT* rect, DDSURFACEDESC2* desc, DWORD flags, HANDLE event) override;
    HRESULT Unlock(RECT* rect) override;
    HRESULT GetDC(HDC* dc) override;
    HRESULT ReleaseDC(HDC dc) override;
    HRESULT SetPalette(IDirectDrawPalette* palette) override;
    HRESULT GetPalette(IDirectDrawPalette** palette) override;
    HRESULT SetColorKey(DWORD flags, DDCOLORKEY* key) override;
    HRESULT GetDDInterface(void** dd) override;
    HRESULT IsLost() override { return DD_OK; }
    HRESULT Restore() override { return DD_OK; }

    // --- for the device and the context ---
    uint64_t last_used_frame = 0;  // the device's texture statistics

    DirectDraw* directdraw() const { return dd_.get(); }
    DWORD width() const { return width_; }
    DWORD height() const { return height_; }
    DWORD caps() const { return caps_; }
    const PixelLayout& layout() const { return layout_; }
    bool is_texture() const { return (caps_ & DDSCAPS_TEXTURE) != 0; }
    bool is_render_target() const { return gl_colour_; }
    bool is_depth() const { return layout_.kind == FormatKind::Depth; }
    bool busy() const { return locked_ || dc_ != 0; }
    size_t memory_bytes() const { return memory_.size(); }
    const DDCOLORKEY* source_key() const { return has_source_key_ ? &source_key_ : nullptr; }

    // The GL texture that holds this surface's image, uploaded first when the surface changed
    // since (textures) or the texture itself (render targets); 0 on failure. `uploaded` says
    // how many bytes went to GL.
    // While the surface is locked the last upload is used.
    GLuint texture_for_sampling(GlContext& gl, size_t* uploaded);
    bool has_gl_texture() const { return texture_ != 0; }
    // Render targets: the framebuffer object with this colour image and the attached depth buffer.
    GLuint framebuffer(GlContext& gl);
    void attach_depth(Surface* depth);
    Surface* attached_depth() const { return depth_.get(); }
    // The GL texture of a GL-backed surface (render target or depth buffer).
    GLuint gl_texture() const { return texture_; }
    // New size for a GL-backed surface (the context's Resize); contents are cleared.
    HRESULT resize(DWORD width, DWORD height);
    // Depth buffers: whether every stencil value is still 0 (as made, resized or cleared so).
    // While it is, a depth clear may clear the stencil to 0 as well, which software drivers do
    // far faster than a depth-only clear of a packed depth-stencil image.
    bool stencil_all_zero() const { return stencil_zero_; }
    void set_stencil_all_zero(bool zero) { stencil_zero_ = zero; }

private:
    Surface(DirectDraw* dd);
    ~Surface() override;
    HRESULT allocate(DWORD width, DWORD height);
    bool create_gl_storage();
    void read_back();   // GL image -> memory (GL-backed surfaces)
    void write_back();  // memory -> GL image (GL-backed surfaces)
    void describe(DDSURFACEDESC2* desc) const;
    const uint8_t* palette_rgba() const;
    uint8_t* row(DWORD y) { return memory_.data() + static_cast<size_t>(y) * pitch_; }
    const uint8_t* row(DWORD y) const { return memory_.data() + static_cast<size_t>(y) * pitch_; }
    HRESULT colour_fill(const RECT& r, DWORD value);

    ComPtr<DirectDraw> dd_;
    DWORD width_ = 0, height_ = 0, pitch_ = 0;
    DWORD caps_ = 0, caps2_ = 0;
    DWORD flags_ = 0;  // DDSD flags the surface reports
    DWORD mipmaps_ = 0;
    DWORD texture_stage_ = 0;
    PixelLayout layout_;
    std::vector<uint8_t> memory_;

    bool locked_ = false;
    DWORD lock_flags_ = 0;
    HDC dc_ = 0;
    RGBQUAD dc_palette_[256]{};
    ComPtr<Palette> palette_;
    DDCOLORKEY source_key_{};
    bool has_source_key_ = false;

    // GL side. Textures: a cache of `memory_` (version counters tell when to upload).
    // GL-backed surfaces (`gl_colour_` / depth buffers of a context): the GL image is the truth.
    bool gl_backed_ = false;
    bool gl_colour_ = false;
    GLuint texture_ = 0;
    GLuint framebuffer_ = 0;
    bool framebuffer_stale_ = true;
    GLuint attached_depth_texture_ = 0;
    ComPtr<Surface> depth_;
    uint64_t version_ = 1;
    uint64_t uploaded_version_ = 0;
    uint32_t uploaded_palette_version_ = 0;
    DWORD texture_width_ = 0, texture_height_ = 0;
    bool stencil_zero_ = true;

    HandleEntry handle_;
};

}  // namespace vantor::render
