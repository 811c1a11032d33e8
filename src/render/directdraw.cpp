// The DirectDraw 7 object and its Direct3D 7 interface.
#include "directdraw.h"

#include "palette.h"
#include "pixel_format.h"
#include "platform.h"
#include "surface.h"
#include "vertex_buffer.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace vantor::render {
namespace {

constexpr DisplayMode kInitialMode{1024, 768, 32, 60};
constexpr DWORD kDdsdRefreshRate = 0x40000;  // DDSD_REFRESHRATE
constexpr DWORD kStandardVgaMode = 0x1;      // DDSDM_STANDARDVGAMODE

// DDSCL values the header does not name.
constexpr DWORD kAllowReboot = 0x2, kNoWindowChanges = 0x4, kAllowModeX = 0x40, kSetFocusWindow = 0x80,
                kSetDeviceWindow = 0x100, kCreateDeviceWindow = 0x200;
constexpr DWORD kCooperativeHints = kAllowReboot | kNoWindowChanges | kAllowModeX | DDSCL_MULTITHREADED |
                                    DDSCL_FPUSETUP | DDSCL_FPUPRESERVE;

std::mutex& mode_lock() {
    static std::mutex* m = new std::mutex;
    return *m;
}
DisplayMode& mode_storage() {
    static DisplayMode mode = kInitialMode;
    return mode;
}

}  // namespace

DisplayMode current_display_mode() {
    std::lock_guard<std::mutex> g(mode_lock());
    return mode_storage();
}

void set_display_mode(const DisplayMode& mode) {
    std::lock_guard<std::mutex> g(mode_lock());
    mode_storage() = mode;
}

void restore_display_mode() { set_display_mode(kInitialMode); }

namespace {
struct FullScreenHolders {
    DisplayMode before{};
    std::vector<std::pair<const void*, DisplayMode>> open;  // oldest first
};
FullScreenHolders& full_screen_holders() {
    static FullScreenHolders* h = new FullScreenHolders;
    return *h;
}
}  // namespace

void take_display_mode(const void* holder, const DisplayMode& mode) {
    std::lock_guard<std::mutex> g(mode_lock());
    FullScreenHolders& h = full_screen_holders();
    if (h.open.empty()) h.before = mode_storage();
    h.open.emplace_back(holder, mode);
    mode_storage() = mode;
}

void give_back_display_mode(const void* holder) {
    std::lock_guard<std::mutex> g(mode_lock());
    FullScreenHolders& h = full_screen_holders();
    auto it = std::find_if(h.open.begin(), h.open.end(), [&](const auto& e) { return e.first == holder; });
    if (it == h.open.end()) return;
    const bool newest = std::next(it) == h.open.end();
    h.open.erase(it);
    // Only the newest holder's mode is in force; an older one going changes nothing.
    if (newest) mode_storage() = h.open.empty() ? h.before : h.open.back().second;
}

ComPtr<DirectDraw> DirectDraw::create(int device_index, std::shared_ptr<GlContext> gl) {
    return adopt(new DirectDraw(device_index, std::move(gl)));
}

DirectDraw::DirectDraw(int device_index, std::shared_ptr<GlContext> gl)
    : device_index_(device_index), gl_(std::move(gl)), dd_handle_(ddraw()), d3d_handle_(d3d()) {
    if (gl_) buffers_ = std::make_unique<BufferStore>(gl_.get());
}

DirectDraw::~DirectDraw() = default;

HRESULT DirectDraw::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_VantorRenderDirectDraw) {
        *ppv = ddraw();
        return S_OK;
    }
    if (riid == IID_IUnknown || riid == IID_IDirectDraw7)
        *ppv = ddraw();
    else if (riid == IID_IDirect3D7)
        *ppv = d3d();
    else
        return E_NOINTERFACE;
    add_ref();
    return S_OK;
}

HRESULT DirectDraw::SetCooperativeLevel(HWND window, DWORD flags) {
    if (flags & (kSetFocusWindow | kSetDeviceWindow | kCreateDeviceWindow)) return DDERR_UNSUPPORTED;
    if (flags & ~(kCooperativeHints | DDSCL_NORMAL | DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE)) return DDERR_INVALIDPARAMS;
    if ((flags & DDSCL_FPUSETUP) && (flags & DDSCL_FPUPRESERVE)) return DDERR_INVALIDPARAMS;
    DWORD level = flags & (DDSCL_NORMAL | DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE);
    // Exclusive mode exists only together with full screen, and full screen needs a window.
    if (level == (DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE)) {
        if (!platform::is_window(window)) return DDERR_INVALIDPARAMS;
    } else if (level == DDSCL_NORMAL) {
        if (window && !platform::is_window(window)) return DDERR_INVALIDPARAMS;
    } else {
        return DDERR_INVALIDPARAMS;
    }
    coop_window_ = window;
    coop_flags_ = flags;
    return DD_OK;
}

HRESULT DirectDraw::SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refresh, DWORD flags) {
    if (!width || !height || (flags & ~kStandardVgaMode)) return DDERR_INVALIDPARAMS;
    if ((bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) || width > 16384 || height > 16384)
        return DDERR_INVALIDMODE;
    set_display_mode({width, height, bpp, refresh ? refresh : 60});
    return DD_OK;
}

HRESULT DirectDraw::GetDisplayMode(DDSURFACEDESC2* desc) {
    if (!desc || desc->dwSize != sizeof(DDSURFACEDESC2)) return DDERR_INVALIDPARAMS;
    DisplayMode m = current_display_mode();
    *desc = DDSURFACEDESC2{};
    desc->dwSize = sizeof *desc;
    desc->dwFlags = DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT | kDdsdRefreshRate;
    desc->dwWidth = m.width;
    desc->dwHeight = m.height;
    desc->lPitch = static_cast<LONG>((m.width * (m.bpp / 8) + 3) & ~3u);
    desc->dwMipMapCount = m.refresh;  // the refresh rate shares this field in DirectDraw's record
    StandardFormat f = m.bpp == 8    ? StandardFormat::P8
                       : m.bpp == 16 ? StandardFormat::R5G6B5
                       : m.bpp == 24 ? StandardFormat::R8G8B8
                                     : StandardFormat::X8R8G8B8;
    desc->ddpfPixelFormat = standard_ddpf(f);
    return DD_OK;
}

HRESULT DirectDraw::RestoreDisplayMode() {
    restore_display_mode();
    return DD_OK;
}

HRESULT DirectDraw::CreateSurface(DDSURFACEDESC2* desc, IDirectDrawSurface7** surface, IUnknown* outer) {
    clear_out(surface);
    if (outer) return CLASS_E_NOAGGREGATION;
    return Surface::create(this, desc, surface);
}

HRESULT DirectDraw::CreatePalette(DWORD flags, PALETTEENTRY* entries, IDirectDrawPalette** palette, IUnknown* outer) {
    clear_out(palette);
    if (outer) return CLASS_E_NOAGGREGATION;
    return Palette::create(this, flags, entries, palette);
}

HRESULT DirectDraw::CreateVertexBuffer(D3DVERTEXBUFFERDESC* desc, IDirect3DVertexBuffer7** vb, DWORD flags) {
    return VertexBuffer::create(this, desc, flags, vb);
}

HRESULT DirectDraw::EnumZBufferFormats(REFCLSID device, LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) {
    if (!callback) return DDERR_INVALIDPARAMS;
    if (device != IID_IDirect3DRGBDevice && device != IID_IDirect3DHALDevice && device != IID_IDirect3DTnLHalDevice &&
        device != IID_IDirect3DRefDevice)
        return DDERR_INVALIDPARAMS;
    for (StandardFormat f : {StandardFormat::D16, StandardFormat::D24S8, StandardFormat::D32}) {
        DDPIXELFORMAT pf = standard_ddpf(f);
        if (callback(&pf, context) != D3DENUMRET_OK) break;
    }
    return D3D_OK;
}

void DirectDraw::texture_created(Surface* s) { textures_.push_back(s); }

void DirectDraw::texture_destroyed(Surface* s) { std::erase(textures_, s); }

}  // namespace vantor::render
