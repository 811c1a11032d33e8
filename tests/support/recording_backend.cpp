// RecordingBackend: the utility layer's entry points, the configuration and the test-facing API.
#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdio>

#include <vantor/backend/shape_geometry.h>

#include "recording_internal.h"

namespace vantor::testing {

using namespace detail;

// --- Configuration ------------------------------------------------------------------------

void DeviceInfo::set_type(const GUID& type) {
    description.d3dDeviceGuid = type;
    caps.deviceGUID = type;
    if (type == IID_IDirect3DTnLHalDevice)
        caps.dwDevCaps |= D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_HWRASTERIZATION;
    else if (type == IID_IDirect3DHALDevice)
        caps.dwDevCaps =
            (caps.dwDevCaps & ~DWORD(D3DDEVCAPS_HWTRANSFORMANDLIGHT)) | D3DDEVCAPS_HWRASTERIZATION;
    else
        caps.dwDevCaps &= ~DWORD(D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_HWRASTERIZATION);
    description.hwLevel = type == IID_IDirect3DTnLHalDevice ? D3DX_HWLEVEL_TL
                          : type == IID_IDirect3DHALDevice  ? D3DX_HWLEVEL_RASTER
                                                            : D3DX_HWLEVEL_2D;
}

DeviceInfo RecordingConfig::capable_device(const char* driver_text) {
    DeviceInfo d;
    d.caps = backend::device_caps(IID_IDirect3DTnLHalDevice, 2048, 16.0f);
    d.description.ddDeviceID =
        GUID{0x5EC0DD00, 0x7A47, 0x4C1D, {0x9E, 0x11, 0x52, 0x45, 0x43, 0x4F, 0x52, 0x44}};
    std::snprintf(d.description.driverDesc, sizeof d.description.driverDesc, "%s", driver_text);
    d.description.onPrimary = TRUE;
    d.set_type(IID_IDirect3DTnLHalDevice);
    return d;
}

RecordingConfig RecordingConfig::defaults() {
    RecordingConfig c;
    c.devices.push_back(capable_device());
    c.texture_formats = {formats::A8L8(),     formats::V8U8(),     formats::R5G6B5(),
                         formats::X1R5G5B5(), formats::A1R5G5B5(), formats::A4R4G4B4(),
                         formats::X8R8G8B8(), formats::A8R8G8B8(), formats::P8()};
    const DWORD colour = D3DX_SC_COLORTEXTURE, target = D3DX_SC_COLORRENDERTGT | D3DX_SC_COLORTEXTURE;
    c.surface_formats = {{target, D3DX_SF_X8R8G8B8},
                         {target, D3DX_SF_R5G6B5},
                         {colour, D3DX_SF_A8R8G8B8},
                         {colour, D3DX_SF_R5G5B5},
                         {colour, D3DX_SF_A1R5G5B5},
                         {colour, D3DX_SF_A4R4G4B4},
                         {colour, D3DX_SF_PALETTE8},
                         {D3DX_SC_LUMINANCEMAP, D3DX_SF_L8},
                         {D3DX_SC_LUMINANCEMAP, D3DX_SF_A8L8},
                         {D3DX_SC_BUMPMAP, D3DX_SF_U8V8},
                         {D3DX_SC_DEPTHBUFFER, D3DX_SF_Z16S0},
                         {D3DX_SC_DEPTHBUFFER, D3DX_SF_Z32S0},
                         {D3DX_SC_DEPTHBUFFER | D3DX_SC_STENCILBUFFER, D3DX_SF_Z24S8}};
    return c;
}

// --- Construction and the test-facing API -------------------------------------------------

RecordingBackend::RecordingBackend() : RecordingBackend(RecordingConfig::defaults()) {}
RecordingBackend::RecordingBackend(RecordingConfig config)
    : rec_(std::make_shared<Recorder>(std::move(config))) {}
RecordingBackend::~RecordingBackend() = default;

RecordingConfig& RecordingBackend::config() {
    return rec_->config;
}

const std::vector<std::string>& RecordingBackend::calls() const {
    return rec_->texts;
}
const std::vector<Call>& RecordingBackend::call_records() const {
    return rec_->records;
}
HRESULT RecordingBackend::result(size_t index) const {
    return index < rec_->results.size() ? rec_->results[index] : E_INVALIDARG;
}

void RecordingBackend::clear_calls() {
    rec_->texts.clear();
    rec_->records.clear();
    rec_->results.clear();
    ++rec_->epoch;
}

std::ptrdiff_t RecordingBackend::index_of(std::string_view prefix, size_t from) const {
    for (size_t k = from; k < rec_->texts.size(); ++k)
        if (std::string_view(rec_->texts[k]).substr(0, prefix.size()) == prefix) return std::ptrdiff_t(k);
    return -1;
}

std::vector<std::string> RecordingBackend::calls_matching(std::string_view prefix) const {
    std::vector<std::string> out;
    for (const auto& t : rec_->texts)
        if (std::string_view(t).substr(0, prefix.size()) == prefix) out.push_back(t);
    return out;
}

size_t RecordingBackend::count(std::string_view prefix) const {
    return calls_matching(prefix).size();
}

std::vector<std::string> RecordingBackend::slice(size_t from, size_t to) const {
    to = std::min(to, rec_->texts.size());
    if (from >= to) return {};
    return std::vector<std::string>(rec_->texts.begin() + std::ptrdiff_t(from),
                                    rec_->texts.begin() + std::ptrdiff_t(to));
}

std::string RecordingBackend::log_text() const {
    std::string out;
    for (const auto& t : rec_->texts) out += cat(t, "\n");
    return out;
}

void RecordingBackend::fail(std::string call, HRESULT hr, unsigned count, unsigned skip) {
    if (count == 0) return;
    rec_->rules.push_back(Recorder::Rule{std::move(call), nullptr, hr, count, skip});
}

void RecordingBackend::fail_if(CallPredicate when, HRESULT hr, unsigned count, unsigned skip) {
    if (count == 0 || !when) return;
    rec_->rules.push_back(Recorder::Rule{{}, std::move(when), hr, count, skip});
}

void RecordingBackend::clear_failures() {
    rec_->rules.clear();
}

int RecordingBackend::started() const {
    return rec_->started;
}
D3DX_VIDMODEDESC RecordingBackend::display_mode() const {
    return rec_->display_mode();
}
DWORD RecordingBackend::cooperative_level() const {
    return rec_->last_dd ? rec_->last_dd->cooperative_level() : 0;
}

void RecordingBackend::lose_surfaces() {
    for (RecObject* o : rec_->live)
        if (auto* s = dynamic_cast<RecSurface*>(o)) s->lost = true;
}

ID3DXContext* RecordingBackend::last_context() const {
    return rec_->last_context;
}
IDirect3DDevice7* RecordingBackend::last_device() const {
    return rec_->last_device;
}
IDirectDraw7* RecordingBackend::last_directdraw() const {
    return rec_->last_dd ? rec_->last_dd->dd() : nullptr;
}
size_t RecordingBackend::live_objects() const {
    return rec_->live.size();
}

std::vector<std::string> RecordingBackend::live_object_names() const {
    std::vector<std::string> out;
    for (RecObject* o : rec_->live)
        out.push_back(cat("<", o->name(), "> (", std::to_string(o->references()),
                          o->references() == 1 ? " reference)" : " references)"));
    std::sort(out.begin(), out.end());
    return out;
}

std::string RecordingBackend::live_object_names_text() const {
    std::string out;
    for (const auto& n : live_object_names()) out += cat(out.empty() ? "" : ", ", n);
    return out.empty() ? "no live objects" : out;
}

std::string RecordingBackend::name_of(const void* object) const {
    return rec_->describe(object);
}

// --- The utility layer --------------------------------------------------------------------

namespace {

std::vector<std::string> out_args(std::vector<std::string> in, const void* out) {
    if (!out) in.push_back("null");
    return in;
}

DWORD depth_flag(DWORD bits) {
    switch (bits) {
        case 8:
            return DDBD_8;
        case 16:
            return DDBD_16;
        case 24:
            return DDBD_24;
        case 32:
            return DDBD_32;
        default:
            return 0;
    }
}

// Width and height of a BMP or TGA file, when `file` names one.
bool image_file_size(const char* file, DWORD* width, DWORD* height) {
    std::FILE* f = std::fopen(file, "rb");
    if (!f) return false;
    uint8_t h[26] = {};
    size_t n = std::fread(h, 1, sizeof h, f);
    std::fclose(f);
    auto le32 = [&](int o) {
        return int32_t(uint32_t(h[o]) | uint32_t(h[o + 1]) << 8 | uint32_t(h[o + 2]) << 16 |
                       uint32_t(h[o + 3]) << 24);
    };
    if (n >= 26 && h[0] == 'B' && h[1] == 'M') {
        int32_t w = le32(18), hh = le32(22);
        if (w <= 0 || hh == 0 || hh == INT32_MIN) return false;
        *width = DWORD(w);
        *height = DWORD(hh < 0 ? -hh : hh);
        return true;
    }
    std::string name(file);
    auto dot = name.rfind('.');
    std::string ext = dot == std::string::npos ? "" : name.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    if (n >= 18 && ext == ".tga") {
        DWORD w = DWORD(h[12] | h[13] << 8), hh = DWORD(h[14] | h[15] << 8);
        if (w == 0 || hh == 0) return false;
        *width = w;
        *height = hh;
        return true;
    }
    return false;
}

}  // namespace

HRESULT RecordingBackend::D3DXInitialize() {
    auto call = rec_->begin("D3DXInitialize", {});
    if (call.failed()) return call.injected();
    ++rec_->started;
    return call.done(S_OK);
}

HRESULT RecordingBackend::D3DXUninitialize() {
    auto call = rec_->begin("D3DXUninitialize", {});
    if (call.failed()) return call.injected();
    if (rec_->started == 0) return call.done(D3DXERR_D3DXNOTSTARTEDYET);
    --rec_->started;
    return call.done(S_OK);
}

DWORD RecordingBackend::D3DXGetDeviceCount() {
    rec_->begin("D3DXGetDeviceCount", {}).done(S_OK);
    return rec_->started ? DWORD(rec_->config.devices.size()) : 0;
}

HRESULT RecordingBackend::D3DXGetDeviceDescription(DWORD index, D3DX_DEVICEDESC* desc) {
    auto call = rec_->begin("D3DXGetDeviceDescription", out_args({fmt::u(index)}, desc));
    if (call.failed()) return call.injected();
    if (!rec_->started) return call.done(D3DXERR_D3DXNOTSTARTEDYET);
    if (!desc) return call.done(D3DXERR_NULLPOINTER);
    const DeviceInfo* info = rec_->device_info(index);
    if (!info) return call.done(D3DXERR_INVALIDD3DXDEVICEINDEX);
    *desc = info->description;
    desc->deviceIndex = rec_->resolve_index(index);
    desc->driverDesc[sizeof desc->driverDesc - 1] = 0;
    return call.done(S_OK);
}

HRESULT RecordingBackend::D3DXGetCurrentVideoMode(DWORD index, D3DX_VIDMODEDESC* mode) {
    auto call = rec_->begin("D3DXGetCurrentVideoMode", out_args({fmt::u(index)}, mode));
    if (call.failed()) return call.injected();
    if (!rec_->started) return call.done(D3DXERR_D3DXNOTSTARTEDYET);
    if (!mode) return call.done(D3DXERR_NULLPOINTER);
    if (!rec_->device_info(index)) return call.done(D3DXERR_INVALIDD3DXDEVICEINDEX);
    *mode = rec_->display_mode();
    return call.done(S_OK);
}

HRESULT RecordingBackend::D3DXGetSurfaceFormat(DWORD index, D3DX_VIDMODEDESC* mode, DWORD surfaceClass,
                                               DWORD which, D3DX_SURFACEFORMAT* format) {
    std::string m = mode ? cat("{", fmt::u(mode->width), ", ", fmt::u(mode->height), ", ", fmt::u(mode->bpp),
                               ", ", fmt::u(mode->refreshRate), "}")
                         : "null";
    auto call = rec_->begin("D3DXGetSurfaceFormat",
                            out_args({fmt::u(index), m, fmt::u(surfaceClass), fmt::u(which)}, format));
    if (call.failed()) return call.injected();
    if (!rec_->started) return call.done(D3DXERR_D3DXNOTSTARTEDYET);
    if (!format) return call.done(D3DXERR_NULLPOINTER);
    if (!rec_->device_info(index)) return call.done(D3DXERR_INVALIDD3DXDEVICEINDEX);
    DWORD seen = 0;
    for (const SurfaceFormatEntry& e : rec_->config.surface_formats) {
        if (!(e.classes & surfaceClass)) continue;
        if (seen++ == which) {
            *format = e.format;
            return call.done(S_OK);
        }
    }
    return call.done(D3DXERR_NOMATCHFOUND);
}

HRESULT RecordingBackend::D3DXCreateContext(DWORD index, DWORD flags, HWND window, DWORD width, DWORD height,
                                            ID3DXContext** context) {
    if (context) *context = nullptr;
    auto call = rec_->begin("D3DXCreateContext", out_args({fmt::u(index), fmt::u(flags), fmt::window(window),
                                                           fmt::u(width), fmt::u(height)},
                                                          context));
    if (call.failed()) return call.injected();
    if (!rec_->started) return call.done(D3DXERR_D3DXNOTSTARTEDYET);
    if (!context) return call.done(D3DXERR_NULLPOINTER);
    const DeviceInfo* info = rec_->device_info(index);
    if (!info) return call.done(D3DXERR_INVALIDD3DXDEVICEINDEX);
    const bool fullscreen = flags & D3DX_CONTEXT_FULLSCREEN, offscreen = flags & D3DX_CONTEXT_OFFSCREEN;
    if ((flags & ~DWORD(D3DX_CONTEXT_FULLSCREEN | D3DX_CONTEXT_OFFSCREEN)) || (fullscreen && offscreen))
        return call.done(D3DXERR_INVALIDPARAMETER);
    if (!offscreen && !is_window(window)) return call.done(D3DXERR_INVALIDPARAMETER);
    // Default sizes: full screen 640x480, a window its client area; off screen needs both.
    if (width == D3DX_DEFAULT || height == D3DX_DEFAULT) {
        DWORD w = 640, h = 480;
        if (offscreen || (!fullscreen && !window_client_size(window, &w, &h)))
            return call.done(D3DXERR_INVALIDPARAMETER);
        if (width == D3DX_DEFAULT) width = w;
        if (height == D3DX_DEFAULT) height = h;
    }
    if (width == 0 || height == 0) return call.done(D3DXERR_INVALIDPARAMETER);
    const DWORD bpp = fullscreen ? 16 : rec_->display_mode().bpp;
    if (bpp < 16) return call.done(D3DXERR_COLORDEPTHTOOLOW);
    if (!(info->caps.dwDeviceRenderBitDepth & depth_flag(bpp)))
        return call.done(D3DXERR_NODIRECT3DDEVICEAVAILABLE);
    DWORD zbits = 0;
    for (DWORD bits : {32u, 24u, 16u})
        if (!zbits && (info->caps.dwDeviceZBufferBitDepth & depth_flag(bits))) zbits = bits;
    if (!zbits) return call.done(D3DXERR_NOZBUFFERAVAILABLE);

    auto* dd = new RecDirectDraw(rec_, rec_->resolve_index(index));
    if (fullscreen) {
        dd->set_level(DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN);
        rec_->mode_set = D3DX_VIDMODEDESC{width, height, 16, rec_->display_mode().refreshRate};
        dd->changed_mode = true;
    } else {
        dd->set_level(DDSCL_NORMAL);
    }
    auto surface = [&](const char* kind, DWORD caps, DWORD w, DWORD h, const DDPIXELFORMAT* format) {
        DDSURFACEDESC2 d{};
        d.dwSize = sizeof d;
        d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | (format ? DDSD_PIXELFORMAT : 0);
        d.ddsCaps.dwCaps = caps | DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM;
        d.dwWidth = w;
        d.dwHeight = h;
        if (format) d.ddpfPixelFormat = *format;
        RecSurface* s = nullptr;
        return SUCCEEDED(dd->make_surface(d, kind, &s)) ? s : nullptr;
    };
    D3DX_VIDMODEDESC mode = rec_->display_mode();
    DDPIXELFORMAT colour = pixels::display_format(bpp), depth = formats::Z(zbits);
    RecSurface *primary = nullptr, *back = nullptr;
    if (offscreen) {
        primary = surface("rendertarget", DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE, width, height, &colour);
    } else {
        DWORD chain = fullscreen ? DDSCAPS_FRONTBUFFER | DDSCAPS_FLIP | DDSCAPS_COMPLEX : 0;
        primary = surface("primary", DDSCAPS_PRIMARYSURFACE | chain | (fullscreen ? DDSCAPS_3DDEVICE : 0),
                          mode.width, mode.height, &colour);
        back = surface(
            "backbuffer",
            (fullscreen ? DDSCAPS_BACKBUFFER | DDSCAPS_FLIP | DDSCAPS_COMPLEX : DDSCAPS_OFFSCREENPLAIN) |
                DDSCAPS_3DDEVICE,
            width, height, &colour);
    }
    RecSurface* z = surface("zbuffer", DDSCAPS_ZBUFFER, width, height, &depth);
    HRESULT hr = primary && z && (offscreen || back) ? S_OK : D3DXERR_NOMEMORY;
    RecContext* made = nullptr;
    if (SUCCEEDED(hr)) {
        auto* device = new RecDevice(rec_, dd, back ? back : primary, rec_->resolve_index(index));
        made = new RecContext(rec_, dd, device, primary, back, z, window, flags, width, height);
        device->Release();
    }
    for (RecSurface* s : {primary, back, z})
        if (s) s->Release();
    dd->Release();
    if (FAILED(hr)) return call.done(hr);
    *context = made;
    return call.done(S_OK);
}

namespace {

// Shapes carry the shared core's vertex count and triangle list of their kind; the vertices stay
// zero (nothing is drawn).
template <class Build>
HRESULT make_shape(const std::shared_ptr<Recorder>& rec, CallScope& call, const char* kind,
                   IDirect3DDevice7* device, DWORD texCoords, Build build, ID3DXSimpleShape** shape) {
    if (!rec->started) return call.done(D3DXERR_D3DXNOTSTARTEDYET);
    if (!device || !shape) return call.done(D3DXERR_NULLPOINTER);
    RecDevice* dev = rec->find<RecDevice>(device);
    if (!dev) return call.done(DDERR_INVALIDOBJECT);
    if (texCoords == D3DX_DEFAULT) texCoords = 1;
    backend::ShapeGeometry g;
    if (texCoords > 8) return call.done(D3DXERR_INVALIDPARAMETER);
    if (HRESULT hr = build(&g); FAILED(hr)) return call.done(hr);
    D3DVERTEXBUFFERDESC vd{sizeof(D3DVERTEXBUFFERDESC), 0,
                           DWORD(D3DFVF_XYZ | D3DFVF_NORMAL) | (texCoords << D3DFVF_TEXCOUNT_SHIFT),
                           DWORD(g.vertices.size())};
    auto* vb = new RecVertexBuffer(rec, dev->ddraw(), vd);
    *shape = new RecShape(rec, kind, dev, vb, std::move(g.indices));
    vb->Release();
    return call.done(S_OK);
}

}  // namespace

HRESULT RecordingBackend::D3DXCreatePolygon(IDirect3DDevice7* device, float sideSize, DWORD sides,
                                            DWORD texCoords, ID3DXSimpleShape** shape) {
    if (shape) *shape = nullptr;
    auto call = rec_->begin(
        "D3DXCreatePolygon",
        out_args({rec_->describe(device), fmt::f(sideSize), fmt::u(sides), fmt::u(texCoords)}, shape));
    if (call.failed()) return call.injected();
    return make_shape(rec_, call, "polygon", device, texCoords,
                      [&](backend::ShapeGeometry* g) { return backend::polygon_geometry(sideSize, sides, g); }, shape);
}

HRESULT RecordingBackend::D3DXCreateBox(IDirect3DDevice7* device, float width, float height, float depth,
                                        DWORD texCoords, ID3DXSimpleShape** shape) {
    if (shape) *shape = nullptr;
    auto call = rec_->begin("D3DXCreateBox", out_args({rec_->describe(device), fmt::f(width), fmt::f(height),
                                                       fmt::f(depth), fmt::u(texCoords)},
                                                      shape));
    if (call.failed()) return call.injected();
    return make_shape(rec_, call, "box", device, texCoords,
                      [&](backend::ShapeGeometry* g) { return backend::box_geometry(width, height, depth, g); }, shape);
}

HRESULT RecordingBackend::D3DXCreateCylinder(IDirect3DDevice7* device, float baseRadius, float topRadius,
                                             float height, DWORD slices, DWORD stacks, DWORD texCoords,
                                             ID3DXSimpleShape** shape) {
    if (shape) *shape = nullptr;
    auto call = rec_->begin("D3DXCreateCylinder",
                            out_args({rec_->describe(device), fmt::f(baseRadius), fmt::f(topRadius),
                                      fmt::f(height), fmt::u(slices), fmt::u(stacks), fmt::u(texCoords)},
                                     shape));
    if (call.failed()) return call.injected();
    return make_shape(rec_, call, "cylinder", device, texCoords, [&](backend::ShapeGeometry* g) {
        return backend::cylinder_geometry(baseRadius, topRadius, height, slices, stacks, g);
    }, shape);
}

HRESULT RecordingBackend::D3DXCreateSphere(IDirect3DDevice7* device, float radius, DWORD slices, DWORD stacks,
                                           DWORD texCoords, ID3DXSimpleShape** shape) {
    if (shape) *shape = nullptr;
    auto call = rec_->begin("D3DXCreateSphere", out_args({rec_->describe(device), fmt::f(radius),
                                                          fmt::u(slices), fmt::u(stacks), fmt::u(texCoords)},
                                                         shape));
    if (call.failed()) return call.injected();
    return make_shape(rec_, call, "sphere", device, texCoords, [&](backend::ShapeGeometry* g) {
        return backend::sphere_geometry(radius, slices, stacks, g);
    }, shape);
}

HRESULT RecordingBackend::D3DXCreateTorus(IDirect3DDevice7* device, float innerRadius, float outerRadius,
                                          DWORD sides, DWORD rings, DWORD texCoords,
                                          ID3DXSimpleShape** shape) {
    if (shape) *shape = nullptr;
    auto call = rec_->begin("D3DXCreateTorus",
                            out_args({rec_->describe(device), fmt::f(innerRadius), fmt::f(outerRadius),
                                      fmt::u(sides), fmt::u(rings), fmt::u(texCoords)},
                                     shape));
    if (call.failed()) return call.injected();
    return make_shape(rec_, call, "torus", device, texCoords, [&](backend::ShapeGeometry* g) {
        return backend::torus_geometry(innerRadius, outerRadius, sides, rings, g);
    }, shape);
}

HRESULT RecordingBackend::D3DXCreateTeapot(IDirect3DDevice7* device, DWORD texCoords,
                                           ID3DXSimpleShape** shape) {
    if (shape) *shape = nullptr;
    auto call = rec_->begin("D3DXCreateTeapot", out_args({rec_->describe(device), fmt::u(texCoords)}, shape));
    if (call.failed()) return call.injected();
    return make_shape(rec_, call, "teapot", device, texCoords, backend::teapot_geometry, shape);
}

HRESULT RecordingBackend::D3DXPrepareDeviceForSprite(IDirect3DDevice7* device, BOOL zEnable) {
    auto call = rec_->begin("D3DXPrepareDeviceForSprite", {rec_->describe(device), fmt::i(zEnable)});
    if (call.failed()) return call.injected();
    if (!rec_->started) return call.done(D3DXERR_D3DXNOTSTARTEDYET);
    if (!device) return call.done(D3DXERR_NULLPOINTER);
    RecDevice* dev = rec_->find<RecDevice>(device);
    if (!dev) return call.done(DDERR_INVALIDOBJECT);
    for (const backend::StageWrite& w : backend::kSpriteStageStates) dev->set_stage_state(0, w.state, w.value);
    for (const backend::RenderWrite& w : backend::sprite_render_states(zEnable)) dev->set_render_state(w.state, w.value);
    return call.done(S_OK);
}

HRESULT RecordingBackend::D3DXDrawSpriteSimple(IDirectDrawSurface7* texture, IDirect3DDevice7* device,
                                               const D3DXVECTOR3* destination, float alpha, float scale,
                                               float angle, const D3DXVECTOR2* offset, const RECT* source) {
    auto call = rec_->begin("D3DXDrawSpriteSimple", {rec_->describe(texture), rec_->describe(device),
                                                     fmt::vec3(destination), fmt::f(alpha), fmt::f(scale),
                                                     fmt::f(angle), fmt::vec2(offset), fmt::rect(source)});
    if (call.failed()) return call.injected();
    if (!rec_->started) return call.done(D3DXERR_D3DXNOTSTARTEDYET);
    // Without an image there is nothing to draw: refused like a null device.
    if (!device || !destination || !texture) return call.done(D3DXERR_NULLPOINTER);
    RecDevice* dev = rec_->find<RecDevice>(device);
    RecSurface* tex = rec_->find<RecSurface>(texture);
    if (!dev || !tex) return call.done(DDERR_INVALIDOBJECT);
    dev->set_texture(0, tex);
    return call.done(S_OK);
}

HRESULT RecordingBackend::D3DXCreateTextureFromFile(IDirect3DDevice7* device, DWORD* flags, DWORD* width,
                                                    DWORD* height, D3DX_SURFACEFORMAT* format,
                                                    IDirectDrawPalette* palette,
                                                    IDirectDrawSurface7** surface, DWORD* mipLevels,
                                                    LPSTR file, D3DX_FILTERTYPE filter) {
    if (surface) *surface = nullptr;
    std::vector<std::string> args{rec_->describe(device),
                                  fmt::opt(flags),
                                  fmt::opt(width),
                                  fmt::opt(height),
                                  format ? fmt::i(*format) : "null",
                                  rec_->describe(palette)};
    if (!surface) args.push_back("null");
    args.push_back(fmt::opt(mipLevels));
    args.push_back(fmt::str(file));
    args.push_back(fmt::i(filter));
    auto call = rec_->begin("D3DXCreateTextureFromFile", std::move(args));
    if (call.failed()) return call.injected();
    if (!rec_->started) return call.done(D3DXERR_D3DXNOTSTARTEDYET);
    if (!device || !surface || !file) return call.done(D3DXERR_NULLPOINTER);
    RecDevice* dev = rec_->find<RecDevice>(device);
    if (!dev || !dev->info()) return call.done(DDERR_INVALIDOBJECT);
    const D3DDEVICEDESC7& caps = dev->info()->caps;

    // The size: as asked, or the image's own; then fitted to the device like the utility layer does.
    DWORD iw = rec_->config.image_width, ih = rec_->config.image_height;
    image_file_size(file, &iw, &ih);
    DWORD w = (!width || *width == 0 || *width == D3DX_DEFAULT) ? iw : *width;
    DWORD h = (!height || *height == 0 || *height == D3DX_DEFAULT) ? ih : *height;
    backend::fit_texture_size(caps, &w, &h);

    // The format: as asked if the device offers it, else the first plain RGB format offered,
    // 32-bit ones first (the images are true colour).
    const auto& offered = rec_->config.texture_formats;
    DDPIXELFORMAT pf{};
    bool found = false;
    if (format && *format != D3DX_SF_UNKNOWN) {
        backend::StandardFormat want;
        if (backend::standard_format_of(*format, &want)) {
            pf = backend::standard_ddpf(want);
            backend::PixelLayout wanted = pixels::layout_of(pf);
            found = std::any_of(offered.begin(), offered.end(), [&](const DDPIXELFORMAT& f) {
                return backend::same_layout(pixels::layout_of(f), wanted);
            });
        }
        if (!found) return call.done(D3DXERR_NOMATCHFOUND);
    } else {
        for (DWORD bits : {32u, 24u, 16u}) {
            for (const DDPIXELFORMAT& f : offered) {
                backend::PixelLayout l = pixels::layout_of(f);
                if (!found && l.kind == backend::FormatKind::Rgb && l.bits == bits) {
                    pf = f;
                    found = true;
                }
            }
        }
        if (!found) return call.done(D3DXERR_NOMATCHFOUND);
    }
    DWORD mips = 1;
    if (!(flags && (*flags & D3DX_TEXTURE_NOMIPMAP)))
        for (DWORD m = std::max(w, h); m > 1; m >>= 1) ++mips;

    DDSURFACEDESC2 d{};
    d.dwSize = sizeof d;
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT | (mips > 1 ? DDSD_MIPMAPCOUNT : 0);
    d.dwWidth = w;
    d.dwHeight = h;
    d.ddpfPixelFormat = pf;
    d.dwMipMapCount = mips > 1 ? mips : 0;
    d.ddsCaps.dwCaps = DDSCAPS_TEXTURE | (mips > 1 ? DDSCAPS_MIPMAP | DDSCAPS_COMPLEX : 0);
    if (caps.deviceGUID == IID_IDirect3DHALDevice || caps.deviceGUID == IID_IDirect3DTnLHalDevice)
        d.ddsCaps.dwCaps2 = DDSCAPS2_TEXTUREMANAGE;
    else
        d.ddsCaps.dwCaps |= DDSCAPS_SYSTEMMEMORY;
    RecSurface* made = nullptr;
    HRESULT hr = dev->ddraw()->make_surface(d, "texture", &made);
    if (FAILED(hr)) return call.done(hr);
    if (palette && pixels::layout_of(pf).kind == backend::FormatKind::Palette8) made->SetPalette(palette);
    *surface = made->iface();
    if (width) *width = w;
    if (height) *height = h;
    if (format) *format = backend::surface_format_of(pixels::layout_of(pf));
    if (mipLevels) *mipLevels = mips;
    return call.done(S_OK);
}

HRESULT RecordingBackend::DirectDrawCreateEx(GUID* guid, void** dd, REFIID iid, IUnknown* outer) {
    if (dd) *dd = nullptr;
    std::vector<std::string> args{fmt::guid(guid)};
    if (!dd) args.push_back("null");
    args.push_back(fmt::guid(iid));
    args.push_back(rec_->describe(outer));
    auto call = rec_->begin("DirectDrawCreateEx", std::move(args));
    if (call.failed()) return call.injected();
    if (!dd || iid != IID_IDirectDraw7) return call.done(DDERR_INVALIDPARAMS);
    if (outer) return call.done(CLASS_E_NOAGGREGATION);
    if (guid && *guid != GUID_NULL) return call.done(DDERR_INVALIDPARAMS);  // only the default display driver
    *dd = (new RecDirectDraw(rec_, rec_->config.default_device))->dd();
    return call.done(DD_OK);
}

HRESULT RecordingBackend::DirectDrawCreate(GUID* guid, IUnknown** dd, IUnknown* outer) {
    if (dd) *dd = nullptr;
    std::vector<std::string> args{fmt::guid(guid)};
    if (!dd) args.push_back("null");
    args.push_back(rec_->describe(outer));
    auto call = rec_->begin("DirectDrawCreate", std::move(args));
    if (call.failed()) return call.injected();
    if (!dd) return call.done(DDERR_INVALIDPARAMS);
    if (outer) return call.done(CLASS_E_NOAGGREGATION);
    if (guid && *guid != GUID_NULL) return call.done(DDERR_INVALIDPARAMS);
    *dd = (new RecDirectDraw(rec_, rec_->config.default_device))->dd();
    return call.done(DD_OK);
}

}  // namespace vantor::testing
