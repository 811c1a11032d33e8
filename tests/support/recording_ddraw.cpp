// Recording DirectDraw 7 (with its Direct3D 7 interface), surfaces and palettes.
#include <algorithm>

#include <vantor/backend/surface_desc.h>

#include "recording_internal.h"

namespace vantor::testing::detail {

namespace {

constexpr uint64_t kMaxSurfaceBytes = 256u << 20;  // refuse absurd sizes rather than exhaust memory

RECT whole(DWORD width, DWORD height) {
    return RECT{0, 0, LONG(width), LONG(height)};
}


std::string entries_arg(const PALETTEENTRY* entries, DWORD count) {
    return entries ? cat("<", fmt::u(count), " entries>") : "null";
}

}  // namespace

// --- DirectDraw ---------------------------------------------------------------------------

RecDirectDraw::RecDirectDraw(std::shared_ptr<Recorder> rec, DWORD device_index)
    : RecObject(std::move(rec), "ddraw", "DirectDraw", false), device_index_(device_index) {
    expose(dd(), name_);
    expose(d3d(), cat("d3d", name_.substr(5)));
    dd_handle_ = vantor::backend::enter_handle(dd());
    d3d_handle_ = vantor::backend::enter_handle(d3d());
    rec_->last_dd = this;
}

RecDirectDraw::~RecDirectDraw() {
    if (changed_mode) rec_->mode_set.reset();
    HandleClose(dd_handle_);
    HandleClose(d3d_handle_);
    if (rec_->last_dd == this) rec_->last_dd = nullptr;
}

HRESULT RecDirectDraw::QueryInterface(REFIID iid, void** out) {
    return query(iid, out, {{&IID_IUnknown, dd()}, {&IID_IDirectDraw7, dd()}, {&IID_IDirect3D7, d3d()}});
}

HRESULT RecDirectDraw::SetCooperativeLevel(HWND window, DWORD flags) {
    auto call = begin("SetCooperativeLevel", {fmt::window(window), fmt::u(flags)});
    if (call.failed()) return call.injected();
    bool exclusive = flags & DDSCL_EXCLUSIVE, fullscreen = flags & DDSCL_FULLSCREEN,
         normal = flags & DDSCL_NORMAL;
    // DirectDraw 7: EXCLUSIVE and FULLSCREEN only together, and either they or NORMAL.
    if (!rec_->config.exclusive_needs_fullscreen) fullscreen = exclusive;
    if (exclusive != fullscreen || normal == exclusive) return call.done(DDERR_INVALIDPARAMS);
    if ((exclusive || window != 0) && !is_window(window)) return call.done(DDERR_INVALIDPARAMS);
    set_level(flags);
    return call.done(DD_OK);
}

HRESULT RecDirectDraw::SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refresh, DWORD flags) {
    auto call =
        begin("SetDisplayMode", {fmt::u(width), fmt::u(height), fmt::u(bpp), fmt::u(refresh), fmt::u(flags)});
    if (call.failed()) return call.injected();
    if (width == 0 || height == 0) return call.done(DDERR_INVALIDPARAMS);
    if (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return call.done(DDERR_INVALIDMODE);
    rec_->mode_set = D3DX_VIDMODEDESC{width, height, bpp, refresh};
    changed_mode = true;
    return call.done(DD_OK);
}

HRESULT RecDirectDraw::GetDisplayMode(DDSURFACEDESC2* desc) {
    auto call = begin("GetDisplayMode", {});
    if (call.failed()) return call.injected();
    if (!desc || desc->dwSize != sizeof(DDSURFACEDESC2)) return call.done(DDERR_INVALIDPARAMS);
    D3DX_VIDMODEDESC mode = rec_->display_mode();
    *desc = DDSURFACEDESC2{};
    desc->dwSize = sizeof(DDSURFACEDESC2);
    desc->dwFlags = DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT | 0x40000 /* DDSD_REFRESHRATE */;
    desc->dwWidth = mode.width;
    desc->dwHeight = mode.height;
    desc->ddpfPixelFormat = pixels::display_format(mode.bpp);
    desc->lPitch = LONG(mode.width * pixels::layout_of(desc->ddpfPixelFormat).bytes);
    desc->dwMipMapCount = mode.refreshRate;  // DirectDraw's union of the mip-map count and the refresh rate
    return call.done(DD_OK);
}

HRESULT RecDirectDraw::RestoreDisplayMode() {
    auto call = begin("RestoreDisplayMode", {});
    if (call.failed()) return call.injected();
    rec_->mode_set.reset();
    changed_mode = false;
    return call.done(DD_OK);
}

HRESULT RecDirectDraw::CreateSurface(DDSURFACEDESC2* desc, IDirectDrawSurface7** surface, IUnknown* outer) {
    if (surface) *surface = nullptr;
    std::vector<std::string> args{fmt::surface_desc(desc)};
    if (!surface) args.push_back("null");
    if (outer) args.push_back(rec_->describe(outer));
    auto call = begin("CreateSurface", std::move(args));
    if (call.failed()) return call.injected();
    if (!desc || !surface || desc->dwSize != sizeof(DDSURFACEDESC2)) return call.done(DDERR_INVALIDPARAMS);
    if (outer) return call.done(CLASS_E_NOAGGREGATION);
    // The rules are the shared core's; the recording adds the memory layout.
    D3DX_VIDMODEDESC mode = rec_->display_mode();
    const DeviceInfo* info = rec_->device_info(device_index_);
    backend::SurfacePlan plan;
    HRESULT planned = backend::plan_surface(*desc, level_ != 0, {mode.width, mode.height, mode.bpp},
                                            info ? info->caps.dwMaxTextureWidth : ~DWORD{0}, &plan);
    if (FAILED(planned)) return call.done(planned);
    if (plan.primary && primary) return call.done(DDERR_PRIMARYSURFACEALREADYEXISTS);
    DDSURFACEDESC2 d = *desc;
    d.dwFlags = (d.dwFlags | DDSD_CAPS | DDSD_PIXELFORMAT) & ~DWORD(DDSD_MIPMAPCOUNT);
    d.ddsCaps.dwCaps = plan.caps;
    d.ddsCaps.dwCaps2 = plan.caps2;
    d.dwWidth = plan.width;
    d.dwHeight = plan.height;
    d.ddpfPixelFormat = plan.layout.ddpf;
    if (plan.caps & DDSCAPS_MIPMAP) d.dwFlags |= DDSD_MIPMAPCOUNT, d.dwMipMapCount = plan.mipmaps;
    RecSurface* made = nullptr;
    HRESULT hr = make_surface(d, plan.primary ? "primary" : "surface", &made);
    if (FAILED(hr)) return call.done(hr);
    *surface = made->iface();
    return call.done(DD_OK);
}

HRESULT RecDirectDraw::make_surface(const DDSURFACEDESC2& request, const std::string& kind,
                                    RecSurface** out) {
    *out = nullptr;
    DDSURFACEDESC2 d{};
    d.dwSize = sizeof(DDSURFACEDESC2);
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT;
    d.dwWidth = request.dwWidth;
    d.dwHeight = request.dwHeight;
    d.ddsCaps = request.ddsCaps;
    if (request.dwFlags & DDSD_PIXELFORMAT)
        d.ddpfPixelFormat = request.ddpfPixelFormat;
    else if (request.ddsCaps.dwCaps & DDSCAPS_ZBUFFER)
        d.ddpfPixelFormat = formats::Z(16);
    else
        d.ddpfPixelFormat = pixels::display_format(rec_->display_mode().bpp);
    if (d.ddpfPixelFormat.dwFlags & DDPF_ZBUFFER) d.dwFlags |= DDSD_ZBUFFERBITDEPTH;
    if (request.dwFlags & DDSD_TEXTURESTAGE) {
        d.dwFlags |= DDSD_TEXTURESTAGE;
        d.dwTextureStage = request.dwTextureStage;
    }
    if (request.dwFlags & DDSD_MIPMAPCOUNT) {
        d.dwFlags |= DDSD_MIPMAPCOUNT;
        d.dwMipMapCount = request.dwMipMapCount;
    }
    if (request.dwFlags & DDSD_CKSRCBLT) {
        d.dwFlags |= DDSD_CKSRCBLT;
        d.ddckCKSrcBlt = request.ddckCKSrcBlt;
    }
    // Like DirectDraw, a surface asked for without a memory class lands in video memory,
    // except managed textures, whose placement is the texture manager's.
    bool managed = d.ddsCaps.dwCaps2 & (DDSCAPS2_TEXTUREMANAGE | DDSCAPS2_D3DTEXTUREMANAGE);
    if (!managed && !(d.ddsCaps.dwCaps & (DDSCAPS_SYSTEMMEMORY | DDSCAPS_VIDEOMEMORY)))
        d.ddsCaps.dwCaps |= DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM;
    DWORD bpp = pixels::layout_of(d.ddpfPixelFormat).bytes;
    uint64_t align = uint64_t(std::max<LONG>(1, rec_->config.pitch_alignment));
    uint64_t pitch = (uint64_t(d.dwWidth) * bpp + align - 1) / align * align;
    if (pitch * d.dwHeight > kMaxSurfaceBytes) return DDERR_OUTOFMEMORY;
    d.lPitch = LONG(pitch);
    auto* s = new RecSurface(rec_, kind, this, d);
    if (d.ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE) primary = s;
    *out = s;
    return DD_OK;
}

HRESULT RecDirectDraw::CreatePalette(DWORD flags, PALETTEENTRY* entries, IDirectDrawPalette** palette,
                                     IUnknown* outer) {
    if (palette) *palette = nullptr;
    DWORD size = (flags & DDPCAPS_8BIT) ? 256 : 16;
    std::vector<std::string> args{fmt::u(flags), entries_arg(entries, size)};
    if (!palette) args.push_back("null");
    if (outer) args.push_back(rec_->describe(outer));
    auto call = begin("CreatePalette", std::move(args));
    if (call.failed()) return call.injected();
    if (!palette || !entries) return call.done(DDERR_INVALIDPARAMS);
    if (outer) return call.done(CLASS_E_NOAGGREGATION);
    if (level_ == 0) return call.done(DDERR_NOCOOPERATIVELEVELSET);
    if (HRESULT hr = backend::check_palette_caps(flags); FAILED(hr)) return call.done(hr);
    *palette = new RecPalette(rec_, this, flags, entries);
    return call.done(DD_OK);
}

HRESULT RecDirectDraw::CreateVertexBuffer(D3DVERTEXBUFFERDESC* desc, IDirect3DVertexBuffer7** vb,
                                          DWORD flags) {
    if (vb) *vb = nullptr;
    std::vector<std::string> args{fmt::vb_desc(desc)};
    if (!vb) args.push_back("null");
    args.push_back(fmt::u(flags));
    auto call = rec_->begin("D3D.CreateVertexBuffer", std::move(args));
    if (call.failed()) return call.injected();
    if (!desc || !vb || desc->dwSize != sizeof(D3DVERTEXBUFFERDESC)) return call.done(DDERR_INVALIDPARAMS);
    if (!fvf_valid(desc->dwFVF)) return call.done(D3DERR_INVALIDVERTEXFORMAT);
    if (desc->dwNumVertices == 0 || desc->dwNumVertices > D3DMAXNUMVERTICES)
        return call.done(DDERR_INVALIDPARAMS);
    *vb = new RecVertexBuffer(rec_, this, *desc);
    return call.done(D3D_OK);
}

HRESULT RecDirectDraw::EnumZBufferFormats(REFCLSID device, LPD3DENUMPIXELFORMATSCALLBACK callback,
                                          void* context) {
    auto call = rec_->begin("D3D.EnumZBufferFormats", {fmt::guid(device), callback ? "<callback>" : "null"});
    if (call.failed()) return call.injected();
    if (!callback) return call.done(DDERR_INVALIDPARAMS);
    if (device != IID_IDirect3DHALDevice && device != IID_IDirect3DTnLHalDevice &&
        device != IID_IDirect3DRGBDevice && device != IID_IDirect3DRefDevice)
        return call.done(DDERR_INVALIDPARAMS);
    const DeviceInfo* info = rec_->device_info(device_index_);
    DWORD depths = info ? info->caps.dwDeviceZBufferBitDepth : 0;
    static const struct { DWORD flag, bits; } kDepths[] = {{DDBD_16, 16}, {DDBD_24, 24}, {DDBD_32, 32}};
    for (const auto& d : kDepths) {
        if (!(depths & d.flag)) continue;
        DDPIXELFORMAT f = formats::Z(d.bits);
        if (callback(&f, context) != D3DENUMRET_OK) break;
    }
    return call.done(D3D_OK);
}

// --- Palettes -----------------------------------------------------------------------------

RecPalette::RecPalette(std::shared_ptr<Recorder> rec, RecDirectDraw* dd, DWORD caps,
                       const PALETTEENTRY* entries)
    : RecUnknown(std::move(rec), "palette", "Palette", true), dd_(share(dd->dd())), caps_(caps) {
    std::copy(entries, entries + 256, entries_);
    handle_ = vantor::backend::enter_handle(static_cast<IDirectDrawPalette*>(this));
}

RecPalette::~RecPalette() {
    HandleClose(handle_);
}

HRESULT RecPalette::GetCaps(DWORD* caps) {
    if (caps) *caps = 0;
    auto call = begin("GetCaps", caps ? std::vector<std::string>{} : std::vector<std::string>{"null"});
    if (call.failed()) return call.injected();
    if (!caps) return call.done(DDERR_INVALIDPARAMS);
    *caps = caps_;
    return call.done(DD_OK);
}

HRESULT RecPalette::GetEntries(DWORD flags, DWORD base, DWORD count, PALETTEENTRY* entries) {
    std::vector<std::string> args{fmt::u(flags), fmt::u(base), fmt::u(count)};
    if (!entries) args.push_back("null");
    auto call = begin("GetEntries", std::move(args));
    if (call.failed()) return call.injected();
    if (!entries || !backend::palette_range_ok(flags, base, count)) return call.done(DDERR_INVALIDPARAMS);
    std::copy(entries_ + base, entries_ + base + count, entries);
    return call.done(DD_OK);
}

HRESULT RecPalette::SetEntries(DWORD flags, DWORD start, DWORD count, const PALETTEENTRY* entries) {
    auto call =
        begin("SetEntries", {fmt::u(flags), fmt::u(start), fmt::u(count), entries_arg(entries, count)});
    if (call.failed()) return call.injected();
    if (!entries || !backend::palette_range_ok(flags, start, count)) return call.done(DDERR_INVALIDPARAMS);
    std::copy(entries, entries + count, entries_ + start);
    return call.done(DD_OK);
}

// --- Surfaces -----------------------------------------------------------------------------

RecSurface::RecSurface(std::shared_ptr<Recorder> rec, const std::string& kind, RecDirectDraw* dd,
                       const DDSURFACEDESC2& desc)
    : RecUnknown(std::move(rec), kind, "Surface", true), dd_(dd), dd_ref_(share(dd->dd())), desc_(desc) {
    desc_.lpSurface = nullptr;
    if (desc_.dwFlags & DDSD_CKSRCBLT) {
        keyed_ = true;
        key_ = desc_.ddckCKSrcBlt;
    }
    allocate();
    handle_ = vantor::backend::enter_handle(iface());
}

RecSurface::~RecSurface() {
    if (dc_) delete_surface_dc(dc_);
    if (dd_->primary == this) dd_->primary = nullptr;
    HandleClose(handle_);
}

void RecSurface::allocate() {
    layout_ = pixels::layout_of(desc_.ddpfPixelFormat);
    bpp_ = layout_.bytes;
    pixels_.assign(size_t(desc_.lPitch) * desc_.dwHeight, 0);
}

void RecSurface::resize(DWORD width, DWORD height) {
    uint64_t align = uint64_t(std::max<LONG>(1, rec_->config.pitch_alignment));
    desc_.dwWidth = width;
    desc_.dwHeight = height;
    desc_.lPitch = LONG((uint64_t(width) * bpp_ + align - 1) / align * align);
    allocate();
}

void RecSurface::fill_argb(const RECT& r, D3DCOLOR colour) {
    if (!pixels::has_colour(layout_)) return;
    uint32_t raw = pixels::from_argb(layout_, colour);
    RECT clipped{std::max<LONG>(r.left, 0), std::max<LONG>(r.top, 0), std::min<LONG>(r.right, LONG(width())),
                 std::min<LONG>(r.bottom, LONG(height()))};
    if (clipped.left < clipped.right && clipped.top < clipped.bottom)
        backend::fill({pixels_.data(), uint32_t(desc_.lPitch), &layout_, nullptr, clipped}, raw);
}

HRESULT RecSurface::Blt(RECT* dst, IDirectDrawSurface7* src, RECT* srcRect, DWORD flags, DDBLTFX* fx) {
    auto call = begin("Blt", {fmt::rect(dst), rec_->describe(src), fmt::rect(srcRect), fmt::u(flags),
                              fmt::blt_fx(fx, flags)});
    if (call.failed()) return call.injected();
    RECT d = dst ? *dst : whole(width(), height());
    if (flags & DDBLT_COLORFILL) {
        if (!fx || fx->dwSize != sizeof(DDBLTFX)) return call.done(DDERR_INVALIDPARAMS);
        if (lost) return call.done(DDERR_SURFACELOST);
        if (busy()) return call.done(DDERR_SURFACEBUSY);
        if (!backend::rect_inside(d, width(), height())) return call.done(DDERR_INVALIDRECT);
        backend::fill({pixels_.data(), uint32_t(desc_.lPitch), &layout_, nullptr, d}, fx->dwFillColor);
        return call.done(DD_OK);
    }
    RecSurface* s = rec_->find<RecSurface>(src);
    if (!s) return call.done(DDERR_INVALIDPARAMS);
    if (lost || s->lost) return call.done(DDERR_SURFACELOST);
    if (busy() || s->busy()) return call.done(DDERR_SURFACEBUSY);
    RECT r = srcRect ? *srcRect : whole(s->width(), s->height());
    if (!backend::rect_inside(d, width(), height()) || !backend::rect_inside(r, s->width(), s->height()))
        return call.done(DDERR_INVALIDRECT);
    if ((flags & DDBLT_KEYSRC) && !s->keyed_) return call.done(DDERR_INVALIDPARAMS);
    bool raw_copy = backend::same_layout(s->layout_, layout_);
    bool src_colour = pixels::has_colour(s->layout_) || (s->layout_.kind == backend::FormatKind::Palette8 && s->palette_);
    if (!raw_copy && !(src_colour && pixels::has_colour(layout_))) return call.done(DDERR_UNSUPPORTED);
    // Converted pixels go through RGBA; palette entries are opaque.
    uint8_t palette[256 * 4]{};
    if (s->palette_) {
        const PALETTEENTRY* e = static_cast<RecPalette*>(s->palette_.get())->entries();
        for (int k = 0; k < 256; ++k)
            palette[4 * k] = e[k].peRed, palette[4 * k + 1] = e[k].peGreen, palette[4 * k + 2] = e[k].peBlue,
                    palette[4 * k + 3] = 255;
    }
    backend::blit({pixels_.data(), uint32_t(desc_.lPitch), &layout_, nullptr, d},
                  {s->pixels_.data(), uint32_t(s->desc_.lPitch), &s->layout_, palette, r},
                  (flags & DDBLT_KEYSRC) ? &s->key_ : nullptr);
    return call.done(DD_OK);
}

HRESULT RecSurface::GetSurfaceDesc(DDSURFACEDESC2* desc) {
    auto call = begin("GetSurfaceDesc", desc ? std::vector<std::string>{} : std::vector<std::string>{"null"});
    if (call.failed()) return call.injected();
    if (!desc || desc->dwSize != sizeof(DDSURFACEDESC2)) return call.done(DDERR_INVALIDPARAMS);
    *desc = desc_;
    return call.done(DD_OK);
}

HRESULT RecSurface::GetPixelFormat(DDPIXELFORMAT* format) {
    auto call =
        begin("GetPixelFormat", format ? std::vector<std::string>{} : std::vector<std::string>{"null"});
    if (call.failed()) return call.injected();
    if (!format || format->dwSize != sizeof(DDPIXELFORMAT)) return call.done(DDERR_INVALIDPARAMS);
    *format = desc_.ddpfPixelFormat;
    return call.done(DD_OK);
}

HRESULT RecSurface::Lock(RECT* rect, DDSURFACEDESC2* desc, DWORD flags, HANDLE event) {
    std::vector<std::string> args{fmt::rect(rect)};
    if (!desc) args.push_back("null");
    args.push_back(fmt::u(flags));
    auto call = begin("Lock", std::move(args));
    if (call.failed()) return call.injected();
    if (!desc || desc->dwSize != sizeof(DDSURFACEDESC2)) return call.done(DDERR_INVALIDPARAMS);
    if (lost) return call.done(DDERR_SURFACELOST);
    if (busy()) return call.done(DDERR_SURFACEBUSY);
    RECT r = rect ? *rect : whole(width(), height());
    if (!backend::rect_inside(r, width(), height())) return call.done(DDERR_INVALIDPARAMS);
    locked_ = true;
    *desc = desc_;
    desc->dwFlags |= DDSD_LPSURFACE;
    desc->lpSurface = at(DWORD(r.left), DWORD(r.top));
    return call.done(DD_OK);
}

HRESULT RecSurface::Unlock(RECT* rect) {
    auto call = begin("Unlock", {fmt::rect(rect)});
    if (call.failed()) return call.injected();
    if (!locked_) return call.done(DDERR_NOTLOCKED);
    locked_ = false;
    return call.done(DD_OK);
}

HRESULT RecSurface::GetDC(HDC* dc) {
    if (dc) *dc = 0;
    auto call = begin("GetDC", dc ? std::vector<std::string>{} : std::vector<std::string>{"null"});
    if (call.failed()) return call.injected();
    if (!dc) return call.done(DDERR_INVALIDPARAMS);
    if (lost) return call.done(DDERR_SURFACELOST);
    if (dc_) return call.done(DDERR_DCALREADYCREATED);
    if (locked_) return call.done(DDERR_SURFACEBUSY);
    const PALETTEENTRY* pal = palette_ ? static_cast<RecPalette*>(palette_.get())->entries() : nullptr;
    if (layout_.kind == backend::FormatKind::Palette8 && !pal) return call.done(DDERR_NOPALETTEATTACHED);
    HDC made = create_surface_dc(pixels_.data(), width(), height(), desc_.lPitch, desc_.ddpfPixelFormat, pal);
    if (!made) return call.done(DDERR_CANTCREATEDC);
    dc_ = made;
    *dc = made;
    return call.done(DD_OK);
}

HRESULT RecSurface::ReleaseDC(HDC dc) {
    auto call = begin("ReleaseDC", {dc == 0 ? "0" : dc == dc_ ? "<dc>" : fmt::u(dc)});
    if (call.failed()) return call.injected();
    if (!dc_) return call.done(DDERR_NODC);
    if (dc != dc_) return call.done(DDERR_INVALIDPARAMS);
    delete_surface_dc(dc_);
    dc_ = 0;
    return call.done(DD_OK);
}

HRESULT RecSurface::SetPalette(IDirectDrawPalette* palette) {
    auto call = begin("SetPalette", {rec_->describe(palette)});
    if (call.failed()) return call.injected();
    if (palette && !rec_->find<RecPalette>(palette)) return call.done(DDERR_INVALIDPARAMS);
    if (palette && layout_.kind != backend::FormatKind::Palette8) return call.done(DDERR_INVALIDPIXELFORMAT);
    palette_ = share(palette);
    return call.done(DD_OK);
}

HRESULT RecSurface::GetPalette(IDirectDrawPalette** palette) {
    if (palette) *palette = nullptr;
    auto call = begin("GetPalette", palette ? std::vector<std::string>{} : std::vector<std::string>{"null"});
    if (call.failed()) return call.injected();
    if (!palette) return call.done(DDERR_INVALIDPARAMS);
    if (!palette_) return call.done(DDERR_NOPALETTEATTACHED);
    *palette = palette_.get();
    (*palette)->AddRef();
    return call.done(DD_OK);
}

HRESULT RecSurface::SetColorKey(DWORD flags, DDCOLORKEY* key) {
    std::string k =
        key ? cat("{", fmt::hex(key->dwColorSpaceLowValue), ", ", fmt::hex(key->dwColorSpaceHighValue), "}")
            : "null";
    auto call = begin("SetColorKey", {fmt::u(flags), k});
    if (call.failed()) return call.injected();
    if (flags != DDCKEY_SRCBLT) return call.done(DDERR_INVALIDPARAMS);  // the one key the back ends keep
    keyed_ = key != nullptr;
    key_ = key ? *key : DDCOLORKEY{};
    if (keyed_) {
        desc_.dwFlags |= DDSD_CKSRCBLT;
        desc_.ddckCKSrcBlt = key_;
    } else {
        desc_.dwFlags &= ~DWORD(DDSD_CKSRCBLT);
        desc_.ddckCKSrcBlt = DDCOLORKEY{};
    }
    return call.done(DD_OK);
}

HRESULT RecSurface::GetDDInterface(void** dd) {
    if (dd) *dd = nullptr;
    auto call = begin("GetDDInterface", dd ? std::vector<std::string>{} : std::vector<std::string>{"null"});
    if (call.failed()) return call.injected();
    if (!dd) return call.done(DDERR_INVALIDPARAMS);
    dd_->AddRef();
    *dd = dd_->dd();
    return call.done(DD_OK);
}

HRESULT RecSurface::IsLost() {
    auto call = begin("IsLost", {});
    if (call.failed()) return call.injected();
    return call.done(lost ? DDERR_SURFACELOST : DD_OK);
}

HRESULT RecSurface::Restore() {
    auto call = begin("Restore", {});
    if (call.failed()) return call.injected();
    lost = false;
    return call.done(DD_OK);
}

}  // namespace vantor::testing::detail
