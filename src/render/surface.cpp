// DirectDraw surfaces.
#include "surface.h"

#include <vantor/backend/surface_desc.h>

#include "directdraw.h"
#include "palette.h"
#include "platform.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace vantor::render {
namespace {

// DirectDraw values the header does not name.
constexpr DWORD kLockEvent = 0x2;          // DDLOCK_EVENT
constexpr DWORD kLockNoOverwrite = 0x1000; // DDLOCK_NOOVERWRITE
constexpr DWORD kKnownLockFlags = DDLOCK_WAIT | kLockEvent | DDLOCK_READONLY | DDLOCK_WRITEONLY | DDLOCK_NOSYSLOCK |
                                  kLockNoOverwrite | DDLOCK_DISCARDCONTENTS | DDLOCK_DONOTWAIT;
constexpr DWORD kBltAsync = 0x200;              // DDBLT_ASYNC
constexpr DWORD kBltKeySrcOverride = 0x10000;   // DDBLT_KEYSRCOVERRIDE
constexpr DWORD kKnownBltFlags = DDBLT_COLORFILL | DDBLT_KEYSRC | kBltKeySrcOverride | DDBLT_WAIT |
                                 DDBLT_DONOTWAIT | kBltAsync;
constexpr DWORD kColorKeySpace = 0x1;           // DDCKEY_COLORSPACE
constexpr DWORD kColorKeyDestBlt = 0x2, kColorKeyDestOverlay = 0x4, kColorKeySrcOverlay = 0x10;
#define DDERR_NOCOLORKEY MAKE_DDHRESULT(215)

GLenum colour_storage(const PixelLayout& l) {
    if (l.bits == 16) {
        if (l.a.bits == 4) return GL_RGBA4;
        if (l.g.bits == 6) return GL_RGB565;
        return GL_RGB5_A1;
    }
    // 32-bit formats without alpha are kept as RGBA8 too, with alpha held at 1: storage starts
    // opaque, uploads write 1 and the device never writes alpha into such a target, so reads of
    // the destination alpha give 1 as Direct3D's do. (RGB8 would read back through a per-pixel
    // conversion in software drivers, which made presenting a frame cost a third more.)
    return GL_RGBA8;
}

}  // namespace

Surface::Surface(DirectDraw* dd) : dd_(share(dd)), handle_(static_cast<IDirectDrawSurface7*>(this)) {}

Surface::~Surface() {
    if (dc_) platform::delete_dc(dc_);
    if ((texture_ || framebuffer_) && dd_->gl() && dd_->gl()->make_current()) {
        if (framebuffer_) glDeleteFramebuffers(1, &framebuffer_);
        if (texture_) glDeleteTextures(1, &texture_);
    }
    if (is_texture()) dd_->texture_destroyed(this);
    if (caps_ & DDSCAPS_PRIMARYSURFACE) dd_->primary_destroyed();
}

HRESULT Surface::allocate(DWORD width, DWORD height) {
    uint64_t pitch = (static_cast<uint64_t>(width) * layout_.bytes + 3) & ~uint64_t{3};
    uint64_t bytes = pitch * height;
    if (bytes > (uint64_t{1} << 30)) return DDERR_OUTOFMEMORY;
    try {
        std::vector<uint8_t> memory(static_cast<size_t>(bytes));
        memory_.swap(memory);
    } catch (const std::bad_alloc&) {
        return DDERR_OUTOFMEMORY;
    }
    width_ = width;
    height_ = height;
    pitch_ = static_cast<DWORD>(pitch);
    return DD_OK;
}

HRESULT Surface::create(DirectDraw* dd, const DDSURFACEDESC2* desc, IDirectDrawSurface7** out) {
    clear_out(out);
    if (!out || !desc || desc->dwSize != sizeof(DDSURFACEDESC2)) return DDERR_INVALIDPARAMS;
    DisplayMode mode = current_display_mode();
    DWORD max_texture = dd->gl() ? static_cast<DWORD>(dd->gl()->max_texture_size) : ~DWORD{0};
    backend::SurfacePlan plan;
    HRESULT planned = backend::plan_surface(*desc, dd->cooperative_flags() != 0, {mode.width, mode.height, mode.bpp},
                                            max_texture, &plan);
    if (FAILED(planned)) return planned;
    if (plan.primary && dd->has_primary()) return DDERR_PRIMARYSURFACEALREADYEXISTS;
    DWORD flags = desc->dwFlags, caps = plan.caps, caps2 = plan.caps2, mipmaps = plan.mipmaps;
    bool managed = plan.managed, primary = plan.primary;
    const PixelLayout& layout = plan.layout;

    Surface* s = new (std::nothrow) Surface(dd);
    if (!s) return DDERR_OUTOFMEMORY;
    ComPtr<Surface> hold = adopt(s);
    s->layout_ = layout;
    if (HRESULT hr = s->allocate(plan.width, plan.height); FAILED(hr)) return hr;
    s->mipmaps_ = mipmaps;
    s->texture_stage_ = (flags & DDSD_TEXTURESTAGE) ? desc->dwTextureStage : 0;
    s->flags_ = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT |
                (caps & DDSCAPS_MIPMAP ? DDSD_MIPMAPCOUNT : 0) | (flags & DDSD_TEXTURESTAGE);
    if (flags & DDSD_CKSRCBLT) {
        s->source_key_ = desc->ddckCKSrcBlt;
        s->has_source_key_ = true;
        s->flags_ |= DDSD_CKSRCBLT;
    }
    // Where the surface lives, as a driver reports it: managed textures say nothing, the rest
    // live in video memory unless system memory was asked for.
    if (!managed && !(caps & DDSCAPS_SYSTEMMEMORY)) caps |= DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM;
    s->caps_ = caps;
    s->caps2_ = caps2;
    if ((caps & DDSCAPS_3DDEVICE) && dd->gl()) {
        s->gl_backed_ = s->gl_colour_ = true;
        if (!s->create_gl_storage()) return DDERR_OUTOFVIDEOMEMORY;
    }
    if (s->is_texture()) dd->texture_created(s);
    if (primary) dd->primary_created();
    *out = hold.get();
    hold.get()->AddRef();
    return DD_OK;
}

ComPtr<Surface> Surface::create_back_buffer(DirectDraw* dd, StandardFormat format, DWORD width, DWORD height) {
    ComPtr<Surface> s = adopt(new Surface(dd));
    s->layout_ = PixelLayout::standard(format);
    if (FAILED(s->allocate(width, height))) return nullptr;
    s->flags_ = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT;
    s->caps_ = DDSCAPS_BACKBUFFER | DDSCAPS_3DDEVICE | DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM;
    s->mipmaps_ = 1;
    s->gl_backed_ = s->gl_colour_ = true;
    if (!s->create_gl_storage()) return nullptr;
    return s;
}

ComPtr<Surface> Surface::create_depth_buffer(DirectDraw* dd, DWORD width, DWORD height) {
    ComPtr<Surface> s = adopt(new Surface(dd));
    s->layout_ = PixelLayout::standard(StandardFormat::D24S8);
    if (FAILED(s->allocate(width, height))) return nullptr;
    s->flags_ = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT;
    s->caps_ = DDSCAPS_ZBUFFER | DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM;
    s->mipmaps_ = 1;
    s->gl_backed_ = true;
    if (!s->create_gl_storage()) return nullptr;
    return s;
}

bool Surface::create_gl_storage() {
    GlContext* gl = dd_->gl();
    if (!gl || !gl->make_current()) return false;
    while (glGetError() != GL_NO_ERROR) {
    }
    if (texture_) glDeleteTextures(1, &texture_);
    texture_ = 0;
    glCreateTextures(GL_TEXTURE_2D, 1, &texture_);
    if (is_depth()) {
        glTextureStorage2D(texture_, 1, GL_DEPTH24_STENCIL8, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_));
        glClearTexImage(texture_, 0, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8, nullptr);
    } else {
        glTextureStorage2D(texture_, 1, colour_storage(layout_), static_cast<GLsizei>(width_),
                           static_cast<GLsizei>(height_));
        const GLubyte black[4] = {0, 0, 0, static_cast<GLubyte>(layout_.a.bits ? 0 : 255)};
        glClearTexImage(texture_, 0, GL_RGBA, GL_UNSIGNED_BYTE, black);
    }
    framebuffer_stale_ = true;
    stencil_zero_ = true;
    texture_width_ = width_;
    texture_height_ = height_;
    if (glGetError() != GL_NO_ERROR) {
        glDeleteTextures(1, &texture_);
        texture_ = 0;
        return false;
    }
    return true;
}

HRESULT Surface::resize(DWORD width, DWORD height) {
    if (busy()) return DDERR_SURFACEBUSY;
    if (!gl_backed_) return DDERR_UNSUPPORTED;
    std::vector<uint8_t> old;
    old.swap(memory_);
    DWORD ow = width_, oh = height_, op = pitch_;
    if (HRESULT hr = allocate(width, height); FAILED(hr)) {
        memory_.swap(old), width_ = ow, height_ = oh, pitch_ = op;
        return hr;
    }
    if (!create_gl_storage()) {
        memory_.swap(old), width_ = ow, height_ = oh, pitch_ = op;
        create_gl_storage();
        return DDERR_OUTOFVIDEOMEMORY;
    }
    ++version_;
    return DD_OK;
}

void Surface::attach_depth(Surface* depth) {
    depth_ = share(depth);
    framebuffer_stale_ = true;
}

GLuint Surface::framebuffer(GlContext& gl) {
    if (!gl_colour_ || &gl != dd_->gl()) return 0;
    if (!framebuffer_) {
        glCreateFramebuffers(1, &framebuffer_);
        framebuffer_stale_ = true;
    }
    // A depth buffer that was resized has a new texture: attach again whenever it differs.
    GLuint depth_texture = depth_ ? depth_->texture_ : 0;
    if (depth_texture != attached_depth_texture_) framebuffer_stale_ = true;
    if (framebuffer_stale_) {
        glNamedFramebufferTexture(framebuffer_, GL_COLOR_ATTACHMENT0, texture_, 0);
        glNamedFramebufferTexture(framebuffer_, GL_DEPTH_STENCIL_ATTACHMENT, depth_texture, 0);
        attached_depth_texture_ = depth_texture;
        framebuffer_stale_ = false;
    }
    return framebuffer_;
}

const uint8_t* Surface::palette_rgba() const { return palette_ ? palette_->rgba() : nullptr; }

void Surface::read_back() {
    if (!gl_backed_ || !texture_ || !dd_->gl() || !dd_->gl()->make_current()) return;
    GlContext& gl = *dd_->gl();
    size_t bytes = static_cast<size_t>(width_) * height_ * 4;
    uint8_t* scratch = gl.scratch_bytes(bytes);
    if (is_depth()) {
        // GL's packed word is the surface's own D24S8 layout.
        glGetTextureImage(texture_, 0, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8, static_cast<GLsizei>(bytes), scratch);
        for (DWORD y = 0; y < height_; ++y) std::memcpy(row(y), scratch + static_cast<size_t>(y) * width_ * 4, width_ * 4);
        return;
    }
    // Row 0 of the GL image is the top row: clip control puts Direct3D's top there.
    glGetTextureImage(texture_, 0, GL_RGBA, GL_UNSIGNED_BYTE, static_cast<GLsizei>(bytes), scratch);
    for (DWORD y = 0; y < height_; ++y)
        encode_row(layout_, scratch + static_cast<size_t>(y) * width_ * 4, width_, nullptr, row(y));
}

void Surface::write_back() {
    if (!gl_backed_ || !texture_ || !dd_->gl() || !dd_->gl()->make_current()) return;
    GlContext& gl = *dd_->gl();
    size_t bytes = static_cast<size_t>(width_) * height_ * 4;
    uint8_t* scratch = gl.scratch_bytes(bytes);
    GLsizei w = static_cast<GLsizei>(width_), h = static_cast<GLsizei>(height_);
    if (is_depth()) {
        for (DWORD y = 0; y < height_; ++y) std::memcpy(scratch + static_cast<size_t>(y) * width_ * 4, row(y), width_ * 4);
        glTextureSubImage2D(texture_, 0, 0, 0, w, h, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8, scratch);
        stencil_zero_ = false;  // whatever the caller wrote
        return;
    }
    for (DWORD y = 0; y < height_; ++y)
        decode_row(layout_, row(y), width_, nullptr, scratch + static_cast<size_t>(y) * width_ * 4);
    glTextureSubImage2D(texture_, 0, 0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, scratch);
}

GLuint Surface::texture_for_sampling(GlContext& gl, size_t* uploaded) {
    if (&gl != dd_->gl()) return 0;
    if (gl_backed_) return gl_colour_ ? texture_ : 0;
    if (is_depth()) return 0;
    bool palette_changed = layout_.kind == FormatKind::Palette8 &&
                           (palette_ ? palette_->version() : 0) != uploaded_palette_version_;
    if (texture_ && ((uploaded_version_ == version_ && !palette_changed) || busy())) return texture_;
    if (!texture_) {
        while (glGetError() != GL_NO_ERROR) {
        }
        glCreateTextures(GL_TEXTURE_2D, 1, &texture_);
        glTextureStorage2D(texture_, static_cast<GLsizei>(mipmaps_), GL_RGBA8, static_cast<GLsizei>(width_),
                           static_cast<GLsizei>(height_));
        glTextureParameteri(texture_, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(mipmaps_ - 1));
        if (glGetError() != GL_NO_ERROR) {
            glDeleteTextures(1, &texture_);
            texture_ = 0;
            return 0;
        }
    }
    size_t bytes = static_cast<size_t>(width_) * height_ * 4;
    uint8_t* scratch = gl.scratch_bytes(bytes);
    for (DWORD y = 0; y < height_; ++y)
        decode_row(layout_, row(y), width_, palette_rgba(), scratch + static_cast<size_t>(y) * width_ * 4);
    glTextureSubImage2D(texture_, 0, 0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_), GL_RGBA,
                        GL_UNSIGNED_BYTE, scratch);
    if (mipmaps_ > 1) glGenerateTextureMipmap(texture_);
    uploaded_version_ = version_;
    uploaded_palette_version_ = palette_ ? palette_->version() : 0;
    if (uploaded) *uploaded += bytes;
    return texture_;
}

void Surface::describe(DDSURFACEDESC2* d) const {
    std::memset(d, 0, sizeof *d);
    d->dwSize = sizeof *d;
    d->dwFlags = flags_;
    d->dwWidth = width_;
    d->dwHeight = height_;
    d->lPitch = static_cast<LONG>(pitch_);
    d->dwMipMapCount = (caps_ & DDSCAPS_MIPMAP) ? mipmaps_ : 0;
    d->ddpfPixelFormat = layout_.ddpf;
    d->ddsCaps.dwCaps = caps_;
    d->ddsCaps.dwCaps2 = caps2_;
    d->dwTextureStage = texture_stage_;
    if (has_source_key_) d->ddckCKSrcBlt = source_key_;
}

HRESULT Surface::GetSurfaceDesc(DDSURFACEDESC2* desc) {
    if (!desc || desc->dwSize != sizeof(DDSURFACEDESC2)) return DDERR_INVALIDPARAMS;
    describe(desc);
    return DD_OK;
}

HRESULT Surface::GetPixelFormat(DDPIXELFORMAT* format) {
    if (!format || format->dwSize != sizeof(DDPIXELFORMAT)) return DDERR_INVALIDPARAMS;
    *format = layout_.ddpf;
    return DD_OK;
}

HRESULT Surface::Lock(RECT* rect, DDSURFACEDESC2* desc, DWORD flags, HANDLE event) {
    if (!desc || desc->dwSize != sizeof(DDSURFACEDESC2) || event) return DDERR_INVALIDPARAMS;
    if ((flags & ~kKnownLockFlags) || (flags & kLockEvent) ||
        (flags & (DDLOCK_READONLY | DDLOCK_WRITEONLY)) == (DDLOCK_READONLY | DDLOCK_WRITEONLY))
        return DDERR_INVALIDPARAMS;
    RECT r{0, 0, static_cast<LONG>(width_), static_cast<LONG>(height_)};
    if (rect) {
        if (!backend::rect_inside(*rect, width_, height_)) return DDERR_INVALIDPARAMS;
        r = *rect;
    }
    if (busy()) return DDERR_SURFACEBUSY;
    // Only a whole-surface lock may skip reading the GL image: a partial one writes the whole
    // memory image back on Unlock.
    bool whole = !rect || (r.left == 0 && r.top == 0 && static_cast<DWORD>(r.right) == width_ &&
                           static_cast<DWORD>(r.bottom) == height_);
    if (!(whole && (flags & (DDLOCK_WRITEONLY | DDLOCK_DISCARDCONTENTS)))) read_back();
    locked_ = true;
    lock_flags_ = flags;
    describe(desc);
    desc->dwFlags |= DDSD_LPSURFACE;
    desc->lpSurface = row(static_cast<DWORD>(r.top)) + static_cast<size_t>(r.left) * layout_.bytes;
    return DD_OK;
}

HRESULT Surface::Unlock(RECT*) {
    if (!locked_ || dc_) return DDERR_NOTLOCKED;
    locked_ = false;
    if (!(lock_flags_ & DDLOCK_READONLY)) {
        ++version_;
        write_back();
    }
    return DD_OK;
}

HRESULT Surface::GetDC(HDC* dc) {
    if (!dc) return DDERR_INVALIDPARAMS;
    *dc = 0;
    if (dc_) return DDERR_DCALREADYCREATED;
    if (locked_) return DDERR_SURFACEBUSY;
    VantorPixelLayout layout{};
    layout.bitCount = layout_.bits;
    if (layout_.kind == FormatKind::Palette8) {
        if (!palette_) return DDERR_NOPALETTEATTACHED;
        const uint8_t* p = palette_->rgba();
        for (int i = 0; i < 256; ++i)
            dc_palette_[i] = RGBQUAD{p[i * 4 + 2], p[i * 4 + 1], p[i * 4 + 0], 0};
        layout.palette = dc_palette_;
    } else if (layout_.kind == FormatKind::Rgb && layout_.bits >= 16) {
        layout.redMask = layout_.r.mask;
        layout.greenMask = layout_.g.mask;
        layout.blueMask = layout_.b.mask;
        layout.alphaMask = layout_.a.mask;
    } else {
        return DDERR_CANTCREATEDC;
    }
    read_back();
    HDC made = platform::create_memory_dc(memory_.data(), static_cast<int>(width_), static_cast<int>(height_),
                                          static_cast<int>(pitch_), &layout);
    if (!made) return DDERR_CANTCREATEDC;
    dc_ = made;
    locked_ = true;
    lock_flags_ = 0;
    *dc = made;
    return DD_OK;
}

HRESULT Surface::ReleaseDC(HDC dc) {
    if (!dc_) return DDERR_NODC;
    if (dc != dc_) return DDERR_INVALIDPARAMS;
    platform::delete_dc(dc_);
    dc_ = 0;
    locked_ = false;
    ++version_;
    write_back();
    return DD_OK;
}

HRESULT Surface::SetPalette(IDirectDrawPalette* palette) {
    if (!palette) {
        palette_.reset();
        ++version_;
        return DD_OK;
    }
    Palette* p = implementation_of<Palette>(palette, IID_VantorRenderPalette);
    if (!p) return DDERR_INVALIDPARAMS;
    if (layout_.kind != FormatKind::Palette8) return DDERR_INVALIDPIXELFORMAT;
    palette_ = share(p);
    ++version_;
    return DD_OK;
}

HRESULT Surface::GetPalette(IDirectDrawPalette** palette) {
    clear_out(palette);
    if (!palette) return DDERR_INVALIDPARAMS;
    if (!palette_) return DDERR_NOPALETTEATTACHED;
    palette_.copy_to(palette);
    return DD_OK;
}

HRESULT Surface::SetColorKey(DWORD flags, DDCOLORKEY* key) {
    if (flags & ~(kColorKeySpace | kColorKeyDestBlt | kColorKeyDestOverlay | DDCKEY_SRCBLT | kColorKeySrcOverlay))
        return DDERR_INVALIDPARAMS;
    DWORD kind = flags & ~kColorKeySpace;
    if (kind != DDCKEY_SRCBLT) return kind ? DDERR_UNSUPPORTED : DDERR_INVALIDPARAMS;
    if (is_depth()) return DDERR_INVALIDPARAMS;
    if (!key) {
        has_source_key_ = false;
        flags_ &= ~DDSD_CKSRCBLT;
        return DD_OK;
    }
    source_key_ = *key;
    if (!(flags & kColorKeySpace)) source_key_.dwColorSpaceHighValue = key->dwColorSpaceLowValue;
    has_source_key_ = true;
    flags_ |= DDSD_CKSRCBLT;
    return DD_OK;
}

HRESULT Surface::GetDDInterface(void** dd) {
    if (!dd) return DDERR_INVALIDPARAMS;
    *dd = dd_->ddraw();
    dd_->AddRef();
    return DD_OK;
}

HRESULT Surface::colour_fill(const RECT& r, DWORD value) {
    read_back();
    backend::fill({memory_.data(), pitch_, &layout_, nullptr, r}, value);
    ++version_;
    write_back();
    return DD_OK;
}

HRESULT Surface::Blt(RECT* dst_rect, IDirectDrawSurface7* src_iface, RECT* src_rect, DWORD flags, DDBLTFX* fx) {
    if (flags & ~kKnownBltFlags) return DDERR_UNSUPPORTED;
    if ((flags & (DDBLT_COLORFILL | kBltKeySrcOverride)) && (!fx || fx->dwSize != sizeof(DDBLTFX)))
        return DDERR_INVALIDPARAMS;
    RECT dr{0, 0, static_cast<LONG>(width_), static_cast<LONG>(height_)};
    if (dst_rect) {
        if (!backend::rect_inside(*dst_rect, width_, height_)) return DDERR_INVALIDRECT;
        dr = *dst_rect;
    }
    if (flags & DDBLT_COLORFILL) {
        if (is_depth()) return DDERR_INVALIDPARAMS;
        if (busy()) return DDERR_SURFACEBUSY;
        DWORD mask = layout_.bits >= 32 ? 0xFFFFFFFFu : (1u << layout_.bits) - 1;
        return colour_fill(dr, fx->dwFillColor & mask);
    }
    Surface* src = Surface::from(src_iface);
    if (!src) return DDERR_INVALIDPARAMS;
    RECT sr{0, 0, static_cast<LONG>(src->width_), static_cast<LONG>(src->height_)};
    if (src_rect) {
        if (!backend::rect_inside(*src_rect, src->width_, src->height_)) return DDERR_INVALIDRECT;
        sr = *src_rect;
    }
    if (busy() || src->busy()) return DDERR_SURFACEBUSY;
    if (is_depth() != src->is_depth()) return DDERR_UNSUPPORTED;
    const DDCOLORKEY* key = nullptr;
    if (flags & kBltKeySrcOverride) {
        key = &fx->ddckSrcColorkey;
    } else if (flags & DDBLT_KEYSRC) {
        key = src->source_key();
        if (!key) return DDERR_NOCOLORKEY;
    }
    bool raw = same_layout(layout_, src->layout_);
    if (!raw && is_depth()) return DDERR_UNSUPPORTED;
    if (!raw && layout_.kind == FormatKind::Palette8 && !palette_) return DDERR_NOPALETTEATTACHED;

    src->read_back();
    if (src != this) read_back();
    backend::blit({memory_.data(), pitch_, &layout_, palette_rgba(), dr},
                  {src->memory_.data(), src->pitch_, &src->layout_, src->palette_rgba(), sr}, key);
    ++version_;
    write_back();
    return DD_OK;
}

}  // namespace vantor::render
