// The utility layer's entry points and DirectDraw creation: the OpenGL back end as a whole.
#include <vantor/render/opengl.h>

#include "context.h"
#include "directdraw.h"
#include "gl.h"
#include "pixel_format.h"
#include "shapes.h"
#include "texture_file.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace vantor::render {
namespace {

// DirectDrawCreate's special driver "GUIDs" are small integers, never dereferenced.
const GUID* const kCreateEmulationOnly = reinterpret_cast<const GUID*>(1);
const GUID* const kCreateHardwareOnly = reinterpret_cast<const GUID*>(2);

// A stable identifier per device: the DirectDraw driver GUID carries the device's position,
// the device identifier a hash of its renderer text.
GUID driver_guid(DWORD index) {
    return GUID{0x7C6D1A00u + index, 0x2B1E, 0x4C3A, {0x8E, 0x41, 0x56, 0x61, 0x6E, 0x74, 0x6F, 0x72}};
}
GUID device_identifier(const std::string& renderer) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : renderer) h = (h ^ c) * 1099511628211ull;
    GUID g{};
    g.Data1 = static_cast<uint32_t>(h);
    g.Data2 = static_cast<uint16_t>(h >> 32);
    g.Data3 = static_cast<uint16_t>(0x4000 | ((h >> 48) & 0x0FFF));
    for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<uint8_t>(h >> (8 * i)) ^ static_cast<uint8_t>(0x5A + i);
    return g;
}

class OpenGlBackend final : public vantor::backend::Backend {
public:
    HRESULT D3DXInitialize() override {
        std::lock_guard<std::mutex> g(lock_);
        // The device list is found once per process; starting again costs nothing.
        if (egl_devices().empty()) return D3DXERR_INITFAILED;
        ++started_;
        return S_OK;
    }

    HRESULT D3DXUninitialize() override {
        std::lock_guard<std::mutex> g(lock_);
        // Stopping ends the layer for new calls; contexts already made stay valid.
        if (started_ == 0) return D3DXERR_D3DXNOTSTARTEDYET;
        --started_;
        return S_OK;
    }

    DWORD D3DXGetDeviceCount() override { return started() ? static_cast<DWORD>(egl_devices().size()) : 0; }

    HRESULT D3DXGetDeviceDescription(DWORD index, D3DX_DEVICEDESC* desc) override {
        if (!started()) return D3DXERR_D3DXNOTSTARTEDYET;
        if (!desc) return D3DXERR_NULLPOINTER;
        HRESULT hr = resolve(&index);
        if (FAILED(hr)) return hr;
        const EglDevice& d = egl_devices()[index];
        std::memset(desc, 0, sizeof *desc);
        desc->deviceIndex = index;
        // llvmpipe rasterises and transforms on the CPU, as the RGB software device did; a GPU
        // transforms and lights in hardware.
        desc->hwLevel = d.software ? D3DX_HWLEVEL_2D : D3DX_HWLEVEL_TL;
        desc->ddGuid = driver_guid(index);
        desc->d3dDeviceGuid = d.software ? IID_IDirect3DRGBDevice : IID_IDirect3DTnLHalDevice;
        desc->ddDeviceID = device_identifier(d.renderer);
        std::snprintf(desc->driverDesc, sizeof desc->driverDesc, "%s", description(index).c_str());
        desc->monitor = 0;
        desc->onPrimary = TRUE;
        return S_OK;
    }

    HRESULT D3DXGetCurrentVideoMode(DWORD index, D3DX_VIDMODEDESC* mode) override {
        if (!started()) return D3DXERR_D3DXNOTSTARTEDYET;
        if (!mode) return D3DXERR_NULLPOINTER;
        if (HRESULT hr = resolve(&index); FAILED(hr)) return hr;
        DisplayMode m = current_display_mode();
        *mode = D3DX_VIDMODEDESC{m.width, m.height, m.bpp, m.refresh};
        return S_OK;
    }

    HRESULT D3DXGetSurfaceFormat(DWORD index, D3DX_VIDMODEDESC*, DWORD surface_class, DWORD which,
                                 D3DX_SURFACEFORMAT* format) override {
        if (!started()) return D3DXERR_D3DXNOTSTARTEDYET;
        if (!format) return D3DXERR_NULLPOINTER;
        if (HRESULT hr = resolve(&index); FAILED(hr)) return hr;
        constexpr DWORD kKnown = D3DX_SC_DEPTHBUFFER | D3DX_SC_STENCILBUFFER | D3DX_SC_COLORTEXTURE |
                                 D3DX_SC_BUMPMAP | D3DX_SC_LUMINANCEMAP | D3DX_SC_COLORRENDERTGT;
        if (!surface_class || (surface_class & ~kKnown)) return D3DXERR_INVALIDPARAMETER;
        // Formats of every class asked for, each class in the device's own order (colour
        // textures as EnumTextureFormats gives them).
        DWORD n = 0;
        auto offer = [&](D3DX_SURFACEFORMAT f) {
            if (n++ == which) *format = f;
        };
        if (surface_class & D3DX_SC_COLORTEXTURE)
            for (StandardFormat f : kTextureFormats) {
                PixelLayout l = PixelLayout::standard(f);
                if (l.kind == FormatKind::Rgb || l.kind == FormatKind::Palette8) offer(surface_format_of(l));
            }
        if (surface_class & D3DX_SC_LUMINANCEMAP) offer(D3DX_SF_L8), offer(D3DX_SF_A8L8);
        if (surface_class & D3DX_SC_BUMPMAP) offer(D3DX_SF_U8V8);
        if (surface_class & D3DX_SC_COLORRENDERTGT) offer(D3DX_SF_X8R8G8B8), offer(D3DX_SF_R5G6B5);
        if (surface_class & D3DX_SC_DEPTHBUFFER) offer(D3DX_SF_Z24S8), offer(D3DX_SF_Z16S0), offer(D3DX_SF_Z32S0);
        else if (surface_class & D3DX_SC_STENCILBUFFER) offer(D3DX_SF_Z24S8);
        return which < n ? S_OK : D3DXERR_NOMATCHFOUND;
    }

    HRESULT D3DXCreateContext(DWORD index, DWORD flags, HWND window, DWORD width, DWORD height,
                              ID3DXContext** context) override {
        if (context) *context = nullptr;
        if (!started()) return D3DXERR_D3DXNOTSTARTEDYET;
        if (!context) return D3DXERR_NULLPOINTER;
        if (HRESULT hr = resolve(&index); FAILED(hr)) return hr;
        return Context::create(index, flags, window, width, height, context);
    }

    // Shapes: the geometry of the kind, in a vertex buffer of the device.
    HRESULT D3DXCreatePolygon(IDirect3DDevice7* d, float side, DWORD sides, DWORD tex, ID3DXSimpleShape** s) override {
        return shape(d, tex, s, [&](ShapeGeometry* g) { return polygon_geometry(side, sides, g); });
    }
    HRESULT D3DXCreateBox(IDirect3DDevice7* d, float w, float h, float depth, DWORD tex, ID3DXSimpleShape** s) override {
        return shape(d, tex, s, [&](ShapeGeometry* g) { return box_geometry(w, h, depth, g); });
    }
    HRESULT D3DXCreateCylinder(IDirect3DDevice7* d, float r0, float r1, float h, DWORD slices, DWORD stacks, DWORD tex,
                               ID3DXSimpleShape** s) override {
        return shape(d, tex, s, [&](ShapeGeometry* g) { return cylinder_geometry(r0, r1, h, slices, stacks, g); });
    }
    HRESULT D3DXCreateSphere(IDirect3DDevice7* d, float r, DWORD slices, DWORD stacks, DWORD tex,
                             ID3DXSimpleShape** s) override {
        return shape(d, tex, s, [&](ShapeGeometry* g) { return sphere_geometry(r, slices, stacks, g); });
    }
    HRESULT D3DXCreateTorus(IDirect3DDevice7* d, float inner, float outer, DWORD sides, DWORD rings, DWORD tex,
                            ID3DXSimpleShape** s) override {
        return shape(d, tex, s, [&](ShapeGeometry* g) { return torus_geometry(inner, outer, sides, rings, g); });
    }
    HRESULT D3DXCreateTeapot(IDirect3DDevice7* d, DWORD tex, ID3DXSimpleShape** s) override {
        return shape(d, tex, s, [&](ShapeGeometry* g) { return teapot_geometry(g); });
    }
    HRESULT D3DXPrepareDeviceForSprite(IDirect3DDevice7* device, BOOL z_enable) override {
        if (!started()) return D3DXERR_D3DXNOTSTARTEDYET;
        return prepare_device_for_sprite(device, z_enable);
    }
    HRESULT D3DXDrawSpriteSimple(IDirectDrawSurface7* texture, IDirect3DDevice7* device, const D3DXVECTOR3* at,
                                 float alpha, float scale, float angle, const D3DXVECTOR2* offset,
                                 const RECT* source) override {
        if (!started()) return D3DXERR_D3DXNOTSTARTEDYET;
        return draw_sprite_simple(texture, device, at, alpha, scale, angle, offset, source);
    }
    HRESULT D3DXCreateTextureFromFile(IDirect3DDevice7* device, DWORD* flags, DWORD* width, DWORD* height,
                                      D3DX_SURFACEFORMAT* format, IDirectDrawPalette* palette, IDirectDrawSurface7** surface,
                                      DWORD* mips, LPSTR file, D3DX_FILTERTYPE filter) override {
        if (surface) *surface = nullptr;
        if (!started()) return D3DXERR_D3DXNOTSTARTEDYET;
        return create_texture_from_file(device, flags, width, height, format, palette, surface, mips, file, filter);
    }

    HRESULT DirectDrawCreateEx(GUID* guid, void** dd, REFIID iid, IUnknown* outer) override {
        if (dd) *dd = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (!dd || iid != IID_IDirectDraw7) return DDERR_INVALIDPARAMS;
        int index = -1;
        if (HRESULT hr = driver(guid, &index); FAILED(hr)) return hr;
        ComPtr<DirectDraw> object = DirectDraw::create(index, nullptr);
        *dd = object->ddraw();
        object->add_ref();
        return DD_OK;
    }

    HRESULT DirectDrawCreate(GUID* guid, IUnknown** dd, IUnknown* outer) override {
        if (dd) *dd = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (!dd) return DDERR_INVALIDPARAMS;
        int index = -1;
        if (HRESULT hr = driver(guid, &index); FAILED(hr)) return hr;
        ComPtr<DirectDraw> object = DirectDraw::create(index, nullptr);
        *dd = object->ddraw();
        object->add_ref();
        return DD_OK;
    }

private:
    template <class Build>
    HRESULT shape(IDirect3DDevice7* device, DWORD tex_coords, ID3DXSimpleShape** out, Build build) {
        if (out) *out = nullptr;
        if (!started()) return D3DXERR_D3DXNOTSTARTEDYET;
        if (!device || !out) return D3DXERR_NULLPOINTER;
        ShapeGeometry g;
        if (HRESULT hr = build(&g); FAILED(hr)) return hr;
        return make_shape(device, g, tex_coords, out);
    }

    bool started() {
        std::lock_guard<std::mutex> g(lock_);
        return started_ > 0;
    }

    // D3DX_DEFAULT is the most accelerated device: devices are listed GPUs first.
    static HRESULT resolve(DWORD* index) {
        if (*index == D3DX_DEFAULT) *index = 0;
        return *index < egl_devices().size() ? S_OK : D3DXERR_INVALIDD3DXDEVICEINDEX;
    }

    // The driver text, unique per device (the engine keys its device list by it), with the
    // API that presents X11 windows.
    static std::string description(DWORD index) {
        const std::vector<EglDevice>& devices = egl_devices();
        std::string text = devices[index].renderer + " (OpenGL " + devices[index].version.substr(0, 3) + ", " +
                           present_api_name(x11_present_api()) + ")";
        int same = 0;
        for (DWORD i = 0; i < index; ++i)
            if (devices[i].renderer == devices[index].renderer) ++same;
        if (same) text += " #" + std::to_string(same + 1);
        return text;
    }

    static HRESULT driver(const GUID* guid, int* index) {
        *index = -1;
        if (!guid || guid == kCreateEmulationOnly || guid == kCreateHardwareOnly) return DD_OK;
        for (DWORD i = 0; i < egl_devices().size(); ++i)
            if (*guid == driver_guid(i)) {
                *index = static_cast<int>(i);
                return DD_OK;
            }
        return DDERR_INVALIDPARAMS;
    }

    std::mutex lock_;
    int started_ = 0;
};

}  // namespace

vantor::backend::Backend& opengl_backend() {
    static OpenGlBackend* backend = new OpenGlBackend;
    return *backend;
}

}  // namespace vantor::render
