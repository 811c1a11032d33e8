// Device3D: the root of a world. Construction creates the children; Initialise opens the
// rendering context on a window and binds the children; the frame is Clear, Render, Update.
#include "device/device3d.h"

#include "module/strings.h"
#include "texture/registry.h"
#include "world/world_file.h"

#include <vantor/backend/backend.h>
#include <vantor/stream.h>
#include <vantor/text.h>
#include <vantor/window.h>

#include <vantor/system.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <iterator>
#include <new>
#include <type_traits>
#include <vector>

namespace vantor {

using backend::to_handle;

namespace {

backend::Backend& back_end() { return backend::backend(); }

// A colour component (0 red, 1 green, 2 blue, 3 alpha) outside 0.0 to 1.0 (or not a number) is
// refused with the component's text.
float checked_component(float v, int which) {
    static const char* const kTexts[4] = {"Invalid Red Intensity.", "Invalid Green Intensity.",
                                          "Invalid Blue Intensity.", "Invalid Alpha Intensity."};
    if (!(v >= 0.0f && v <= 1.0f)) throw failure(E_INVALIDARG, kTexts[which]);
    return v;
}

// A colour read component by component from `colour`, each checked as soon as it is read.
D3DCOLORVALUE checked_colour(IColour* colour) {
    HRESULT (IColour::*const kGets[4])(FLOAT*) = {&IColour::get_Red, &IColour::get_Green, &IColour::get_Blue,
                                                  &IColour::get_Alpha};
    float v[4] = {};
    for (int i = 0; i < 4; ++i) {
        (colour->*kGets[i])(&v[i]);
        checked_component(v[i], i);
    }
    return {v[0], v[1], v[2], v[3]};
}

// The largest render-target side the device takes: a back buffer and depth buffer of 8192 x 8192
// are 512 MB already, and the utility layer keeps copies of them besides.
constexpr LONG kMaxRenderTargetSide = 8192;

// Initialise and Resize refuse a render target larger than any the device can hold before the
// context is touched. Zero, negative and default sizes stay the utility layer's to judge.
void refuse_oversized_target(LONG width, LONG height) {
    if (width <= kMaxRenderTargetSide && height <= kMaxRenderTargetSide) return;
    trace("Render Target Too Large: %ld x %ld.\n", static_cast<long>(width), static_cast<long>(height));
    throw failure(E_INVALIDARG, ("The render target may be at most " + std::to_string(kMaxRenderTargetSide) + " x " +
                                 std::to_string(kMaxRenderTargetSide) + " pixels.").c_str());
}

}  // namespace

// ---- construction and destruction ---------------------------------------------------------------

HRESULT CDevice3D::FinalConstruct() {
    CoInitialize(nullptr);
    // A child that cannot be created is reported; the device lives on without it and the ones after it.
    guard([&] {
        trace("Checking Registry.\n");
        struct Child {
            const char* label;
            const CLSID& clsid;
            const char* not_registered;
            std::function<void(IUnknown*)> keep;
            bool quiet;  // its completion line is traced at a level the trace filters out
        };
        const Child children[] = {
            {"\tCameras --> ", CLSID_Cameras, "Cameras Not Registered.", [&](IUnknown* p) { cameras_ = adopt(static_cast<ICameras*>(p)); }, false},
            {"\tFog --> ", CLSID_Fog, "Fog Not Registered.", [&](IUnknown* p) { fog_ = adopt(static_cast<IFog*>(p)); }, false},
            {"\tFlares --> ", CLSID_Flares, "Flares Not Registered.", [&](IUnknown* p) { flares_ = adopt(static_cast<IFlares*>(p)); }, false},
            {"\tColour (Ambient Light) --> ", CLSID_Colour, "Colour Not Registered.", [&](IUnknown* p) { ambient_ = adopt(static_cast<IColour*>(p)); }, true},
            {"\tLights --> ", CLSID_Lights, "Lights Not Registered.", [&](IUnknown* p) { lights_ = adopt(static_cast<ILights*>(p)); }, false},
            {"\tObjects --> ", CLSID_Objects, "Objects Not Registered.", [&](IUnknown* p) { objects_ = adopt(static_cast<IObjects*>(p)); }, false},
            {"\tSimpleObjects --> ", CLSID_SimpleObjects, "SimpleObjects Not Registered.", [&](IUnknown* p) { simple_objects_ = adopt(static_cast<ISimpleObjects*>(p)); }, false},
            {"\tTextures --> ", CLSID_Textures, "Textures Not Registered.", [&](IUnknown* p) { textures_ = adopt(static_cast<ITextures*>(p)); }, false},
            {"\tTextureFormats --> ", CLSID_TextureFormats, "TextureFormats Not Registered.", [&](IUnknown* p) { texture_formats_ = adopt(static_cast<ITextureFormats*>(p)); }, false},
            {"\tSprites --> ", CLSID_Sprites, "Sprites Not Registered.", [&](IUnknown* p) { sprites_ = adopt(static_cast<ISprites*>(p)); }, false},
            {"\tDeviceCaps --> ", CLSID_DeviceCaps, "DeviceCaps Not Registered.", [&](IUnknown* p) { caps_ = adopt(static_cast<IDeviceCaps*>(p)); }, false},
        };
        const IID* iids[] = {&IID_ICameras, &IID_IFog, &IID_IFlares, &IID_IColour, &IID_ILights, &IID_IObjects,
                             &IID_ISimpleObjects, &IID_ITextures, &IID_ITextureFormats, &IID_ISprites, &IID_IDeviceCaps};
        for (size_t i = 0; i < std::size(children); ++i) {
            const Child& c = children[i];
            trace("%s", c.label);
            IUnknown* p = CreateRegisteredObject(c.clsid, *iids[i]);
            if (!p) {
                trace("Failed.\n");
                throw failure(E_FAIL, c.not_registered);
            }
            c.keep(p);
            if (c.quiet) {
                Trace(kTraceCategory, 1, "Succeeded.\n");
                set_colour(ambient_.get(), 0.0f, 0.0f, 0.0f, 0.0f);
            } else {
                trace("Succeeded.\n");
            }
        }
        return S_OK;
    });
    return S_OK;
}

CDevice3D::~CDevice3D() {
    Free();
    SetErrorInfo(0, nullptr);  // what Free reported is nobody's to read
    try {
        trace("Uninitialising Direct3DX.\n");
        end_utility_layer();
    } catch (...) {
        trace("Exception Raised.\n");
    }
}

void CDevice3D::hold_utility_layer() {
    if (SUCCEEDED(back_end().D3DXInitialize())) ++starts_;
}

void CDevice3D::end_utility_layer() {
    // The device ends only the starts it made itself, so destroying one device never stops the
    // utility layer under another.
    while (starts_ > 0) {
        --starts_;
        back_end().D3DXUninitialize();
    }
}

// ---- Initialise, Free, Resize -------------------------------------------------------------------

HRESULT CDevice3D::Initialise(LONG hInstance, LONG width, LONG Height, VARIANT_BOOL Fullscreen, LONG BackBuffers) {
    (void)BackBuffers;  // accepted, not used
    return guard([&] {
        refuse_oversized_target(width, Height);  // before anything is started or allocated
        instance_ = hInstance;
        if (window_ == 0) {
            window_ = static_cast<LONG>(GetActiveWindow());
            if (window_ == 0) {
                trace("Failed to obtain an Active Window.\n");
                throw failure(E_FAIL, "Failed to Obtain a Valid Rendering Window.");
            }
        }
        RECT window_rect{}, client_rect{};
        GetWindowRect(static_cast<HWND>(window_), &window_rect);
        GetClientRect(static_cast<HWND>(window_), &client_rect);
        left_ = client_rect.left + window_rect.left;
        top_ = client_rect.top + window_rect.top;
        right_ = client_rect.right + window_rect.left;
        bottom_ = client_rect.bottom + window_rect.top;

        char title[261] = {};
        GetWindowTextA(static_cast<HWND>(window_), title, sizeof title);
        trace("Using Window Title --> '%s'\n", title);

        trace("Initialising Direct3DX --> ");
        HRESULT hr = check(back_end().D3DXInitialize(), "Failed. (Error Code=%x).\n", kStringD3DXInitFailed);
        ++starts_;
        trace("Succeeded.\n");

        trace("Obtaining Current Video Mode --> ");
        D3DX_VIDMODEDESC mode{};
        hr = back_end().D3DXGetCurrentVideoMode(static_cast<DWORD>(index_), &mode);
        if (SUCCEEDED(hr)) {
            saved_mode_ = mode;
            trace("Succeeded.\n");
        } else {
            trace("Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
        }

        trace("Device Creation --> ");
        const DWORD flags = Fullscreen ? D3DX_CONTEXT_FULLSCREEN : 0;
        // Zero and negative sizes are the utility layer's to judge (it answers with its own result).
        const DWORD w = static_cast<DWORD>(width), h = static_cast<DWORD>(Height);
        ComPtr<ID3DXContext> context;
        hr = back_end().D3DXCreateContext(static_cast<DWORD>(index_), flags, static_cast<HWND>(window_), w, h, context.put());
        if (FAILED(hr)) hr = back_end().D3DXCreateContext(D3DX_DEFAULT, flags, static_cast<HWND>(window_), w, h, context.put());
        if (hr == DDERR_PRIMARYSURFACEALREADYEXISTS) hr = S_OK;  // not a failure here
        if (FAILED(hr)) {
            const char* failed = "Failed. (Error Code=%x).\n";
            trace(failed, static_cast<unsigned>(hr));  // the failure is traced twice
            check(hr, hr == D3DXERR_COLORDEPTHTOOLOW ? Check(failed, "Colour Depth Too Low!") : Check(failed, Site::Device3DInitialise));
        }
        trace("Succeeded.\n");
        // A new context replaces the old one (Initialise does not look at the status).
        context_ = std::move(context);

        trace("Obtaining Direct3D, DirectDraw and Backbuffer pointers\n");
        device_.reset();
        direct3d_.reset();
        directdraw_.reset();
        back_buffer_.reset();
        if (context_) {
            context_->GetD3DDevice(device_.put());
            context_->GetD3D(direct3d_.put());
            context_->GetDD(directdraw_.put());
            context_->GetBackBuffer(0, back_buffer_.put());
        }

        viewport_ = D3DVIEWPORT7{0, 0, w, h, 0.0f, 1.0f};
        trace("Setting Viewport --> ");
        hr = need(device_.get())->SetViewport(&viewport_);
        const char* viewport_failed = "Failed. (Error Code=%x).";
        if (hr == D3DERR_VIEWPORTHASNODEVICE) check(hr, viewport_failed, "Viewport Has No Device Set.");
        check(hr, viewport_failed,
              hr == E_INVALIDARG ? kStringInvalidParameter : hr == DDERR_INVALIDOBJECT ? kStringInvalidObject : kStringUnknownError);
        trace("Succeeded.\n");

        trace("Configuring Child Objects.\n");
        const LONG dev = static_cast<LONG>(to_handle(device_.get()));
        const LONG d3d = static_cast<LONG>(to_handle(direct3d_.get()));
        const LONG dd = static_cast<LONG>(to_handle(directdraw_.get()));
        if (fog_) fog_->put_Device(dev);
        if (cameras_) cameras_->put_Device(dev);
        if (caps_) caps_->put_Device(dev);
        if (lights_) {
            lights_->put_Direct3D(d3d);
            lights_->put_Device(dev);
        }
        if (objects_) {
            objects_->put_Device(dev);
            objects_->put_Direct3D(d3d);
        }
        if (simple_objects_) {
            simple_objects_->put_Device(dev);
            simple_objects_->put_Direct3D(d3d);
        }
        if (textures_) {
            textures_->put_Device(dev);
            textures_->put_DirectDraw(dd);
        }
        if (texture_formats_) texture_formats_->put_Device(dev);
        if (sprites_) sprites_->put_Device(dev);

        trace("Setting up a Camera --> ");
        if (cameras_) {
            IDispatch* camera = nullptr;
            BSTR name = SysAllocString(u"Default");
            cameras_->get_Add(name, &camera);
            SysFreeString(name);
            if (camera) camera->Release();
        } else {
            trace("Camera Not Initialised.\n");
        }

        trace("Restoring Textures.\n");
        texture_registry().restore_all(device_.get());

        trace("Configuring Texture Stages for Device.\n");
        IDirect3DDevice7* d = device_.get();
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
        d->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTFN_LINEAR);
        d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR);

        trace("Configuring Rendering States.\n");
        d->SetRenderState(D3DRENDERSTATE_ZENABLE, TRUE);
        d->SetRenderState(D3DRENDERSTATE_CULLMODE, static_cast<DWORD>(cull_mode_));
        d->SetRenderState(D3DRENDERSTATE_NORMALIZENORMALS, TRUE);

        trace("Obtaining Current Viewport for Device --> ");
        check(d->GetViewport(&viewport_), "Failed. (Error Code=%x).\n", "Failed to Get Viewport.");
        trace("Succeeded.\n");
        status_ = sm_Ready;
        return S_OK;
    });
}

HRESULT CDevice3D::Free() {
    return guard([&] {
        status_ = sm_NotInitialised;
        trace("Restoring Original Display Mode --> ");
        ComPtr<IDirectDraw7> dd;
        if (FAILED(need(context_.get())->GetDD(dd.put())) || !dd) {
            trace("Failed to Obtain DirectDraw. (Error Code=%x).", static_cast<unsigned>(E_FAIL));
        } else {
            HRESULT hr = dd->SetCooperativeLevel(static_cast<HWND>(window_), DDSCL_EXCLUSIVE);
            if (FAILED(hr)) {
                trace("Failed to Set Exclusive Cooperative Level. (Error Code=%x).", static_cast<unsigned>(hr));
            } else {
                hr = dd->SetDisplayMode(saved_mode_.width, saved_mode_.height, saved_mode_.bpp, saved_mode_.refreshRate, 0);
                if (FAILED(hr)) trace("Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
                else trace("Succeeded.\n");
            }
        }
        trace("\n");
        trace("Releasing Memory back to System.\n");
        cameras_.reset();
        textures_.reset();
        lights_.reset();
        objects_.reset();
        fog_.reset();
        texture_formats_.reset();
        caps_.reset();
        trace("Releasing Device.\n");
        device_.reset();
        trace("Releasing Direct3D.\n");
        window_ = 0;
        directdraw_.reset();
        std::memset(&guid_, 0, sizeof guid_);
        // The context and what was taken from it go too, so a freed device holds nothing of the
        // renderer; a later Initialise opens a new context.
        direct3d_.reset();
        back_buffer_.reset();
        dd.reset();
        context_.reset();
        trace("Uninitialising Direct3DX.\n");
        end_utility_layer();
        return S_OK;
    });
}

HRESULT CDevice3D::Resize(LONG width, LONG Height) {
    return guard([&] {
        if (!context_) throw failure(E_POINTER, "Context Not Initialised.");
        refuse_oversized_target(width, Height);  // the buffers stay as they are
        trace("Resizing --> ");
        check(context_->Resize(static_cast<DWORD>(width), static_cast<DWORD>(Height)), "Failed. (Error Code=%x)\n",
              "Resize Failed.");
        trace("Succeeded.\n");
        return S_OK;
    });
}

// ---- the frame --------------------------------------------------------------------------------

HRESULT CDevice3D::Render() {
    return guard([&] {
        trace("BeginScene\n");
        HRESULT hr = check(need(device_.get())->BeginScene(), nullptr, "Begin Scene Function Failed.");
        trace("UpdateAmbientLight\n");
        if (!update_ambient_light()) trace("Ambient Light Update Failed.\n");
        if (objects_) {
            trace("Objects->Render\n");
            hr = objects_->Render();
            if (FAILED(hr)) trace("Failed to Render Object (Error Code = %x)\n", static_cast<unsigned>(hr));
        }
        if (simple_objects_) {
            trace("SimpleObjects->Render\n");
            hr = simple_objects_->Render();
            if (FAILED(hr)) trace("SimpleObjects Render Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
        }
        if (sprites_) {
            trace("Sprites->Render\n");
            sprites_->Render();
        }
        trace("EndScene\n");
        hr = device_->EndScene();
        check(hr, "End Scene Failed (Error Code = %x)\n",
              hr == D3DERR_SCENE_END_FAILED ? "End Scene Function Failed." : "Unknown Error.");
        trace("Finished.\n");
        return S_OK;
    });
}

bool CDevice3D::update_ambient_light() {
    HRESULT hr = guard([&] {
        IDirect3DDevice7* d = require_device();
        const D3DCOLOR ambient = pack_colour(checked_colour(require(ambient_.get(), "Ambient Light Not Initialised.")));
        set_state(d, D3DRENDERSTATE_AMBIENT, ambient,
                  {"SetRenderState (Ambient) Failed. (Error Code=%x)\n", "Failed to Set Ambient Light."});
        return S_OK;
    });
    return SUCCEEDED(hr);
}

HRESULT CDevice3D::Clear(FLOAT Red, FLOAT Green, FLOAT Blue, FLOAT Alpha) {
    return guard([&] {
        RECT r;
        if (!GetWindowRect(static_cast<HWND>(window_), &r)) throw failure(E_FAIL, "GetWindowRect Function Failed.");
        const float c[4] = {Red, Green, Blue, Alpha};
        for (int i = 0; i < 4; ++i) checked_component(c[i], i);
        const D3DCOLOR colour = pack_colour({Red, Green, Blue, Alpha});
        check(need(context_.get())->SetClearColor(colour), "Set Clear Color Failed.\n", "Failed to set Clear Colour.");
        check(context_->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER), "Clear Failed.\n", "Clear Failed.");
        return S_OK;
    });
}

HRESULT CDevice3D::Update() {
    current_time_ = timeGetTime();
    const DWORD elapsed = current_time_ - previous_time_;
    // With no whole millisecond since the last Update the rate would divide by zero: it keeps
    // the rate measured last.
    if (elapsed != 0) frame_rate_x10_ = 10000u / elapsed;
    previous_time_ = timeGetTime();
    return guard([&] {
        if (!context_) throw failure(E_POINTER, "Context Device Not Initialised.");
        return check(context_->UpdateFrame(D3DX_UPDATE_NOVSYNC), nullptr, Site::Device3DUpdate);
    });
}

HRESULT CDevice3D::get_FrameRate(FLOAT* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = static_cast<float>(frame_rate_x10_) / 10.0f;
    return S_OK;
}

HRESULT CDevice3D::Debug(FLOAT X, FLOAT Y, Colours Colour, BSTR DebugText) {
    return guard([&] {
        if (!DebugText) throw failure(E_POINTER, "No Text Passed.");
        std::string text;
        try {
            text = text::utf8(DebugText);
        } catch (const std::bad_alloc&) {
            throw failure(E_OUTOFMEMORY, kStringOutOfMemory);
        }
        HRESULT hr = check(need(context_.get())->DrawDebugText(X, Y, static_cast<D3DCOLOR>(Colour), text.data()),
                           "Failed. (Error Code=%x).\n", Site::Device3DDebug);
        trace("%s", text.c_str());
        return hr;
    });
}

HRESULT CDevice3D::get_Graphics(IDispatch**) { return E_NOTIMPL; }

// ---- render-state properties --------------------------------------------------------------------

IDirect3DDevice7* CDevice3D::require_device() { return require(device_.get(), "Device Not Initialised."); }

template <class T>
HRESULT CDevice3D::read_state(D3DRENDERSTATETYPE state, const char* action, const Check& failed, T* out) {
    return guard([&] {
        DWORD v = 0;
        HRESULT hr = get_state(require_device(), state, &v, failed, action);
        if constexpr (std::is_same_v<T, VARIANT_BOOL>) {
            if (out) *out = variant_bool(v);
        } else {
            if (out) *out = static_cast<T>(v);
        }
        return hr;
    });
}

HRESULT CDevice3D::write_state(D3DRENDERSTATETYPE state, DWORD value, const char* first, const char* second,
                               const Check& failed, bool succeeded_line) {
    return guard([&] {
        IDirect3DDevice7* d = require_device();
        trace("%s", first);
        trace("%s", second);
        HRESULT hr = set_state(d, state, value, failed);
        if (succeeded_line) trace("Succeeded.\n");
        return hr;
    });
}

namespace {
const char* on_off(VARIANT_BOOL v) { return v ? "Enabled.\n" : "Disabled.\n"; }
}  // namespace

HRESULT CDevice3D::get_ShadeMode(ShadeModes* pVal) {
    return read_state(D3DRENDERSTATE_SHADEMODE, "Obtaining Shade Mode --> ",
                      {"Failed. (Error Code=%x).\n", "Failed to Obtain Shade Mode."}, pVal);
}

HRESULT CDevice3D::put_ShadeMode(ShadeModes v) {
    return write_state(D3DRENDERSTATE_SHADEMODE, static_cast<DWORD>(v), "Setting Shade Mode --> ",
                       v == 1 ? "Flat.\n" : v == 2 ? "Gouraud.\n" : "Unknown.\n",
                       {"SetRenderState (ShadeMode) Failed. (Error Code=%x)\n", "Failed to Set Shade Mode."});
}

HRESULT CDevice3D::get_Dither(VARIANT_BOOL* pVal) {
    return read_state(D3DRENDERSTATE_DITHERENABLE, "Obtaining Current Dithering Setting --> ",
                      {"Failed. (Error Code=%x).\n", "Failed to Obtain Dither Setting."}, pVal);
}

HRESULT CDevice3D::put_Dither(VARIANT_BOOL v) {
    return write_state(D3DRENDERSTATE_DITHERENABLE, v ? 1 : 0, "Setting Dithering --> ", on_off(v),
                       {"SetRenderState (Dither) Failed. (Error Code=%x).\n", "Failed to Set Dither Setting."});
}

HRESULT CDevice3D::get_Specular(VARIANT_BOOL* pVal) {
    return read_state(D3DRENDERSTATE_SPECULARENABLE, "Obtaining Specular Setting --> ",
                      {"GetRenderState (Specular) Failed. (Error Code=%x).\n", "Failed to Obtain Specular Setting."}, pVal);
}

HRESULT CDevice3D::put_Specular(VARIANT_BOOL v) {
    return write_state(D3DRENDERSTATE_SPECULARENABLE, v ? 1 : 0, "Configuring Specular --> ", on_off(v),
                       {"SetRenderState (Specular) Failed. (Error Code=%x).\n", "Failed to Set Specular Setting."});
}

HRESULT CDevice3D::get_AntiAlias(AntiAliasModes* pVal) {
    return read_state(D3DRENDERSTATE_ANTIALIAS, "Retrieving Anti-Alias Setting --> ",
                      {"Failed. (Error Code=%x)\n", "Failed to Obtain Anti-Alias Setting."}, pVal);
}

HRESULT CDevice3D::put_AntiAlias(AntiAliasModes v) {
    // The mode's word is traced before the action line here.
    return write_state(D3DRENDERSTATE_ANTIALIAS, static_cast<DWORD>(v),
                       v == 0 ? "None.\n" : v == 1 ? "Sort Dependent.\n" : v == 2 ? "Sort Independent.\n" : "Unknown.\n",
                       "Setting Anti-Alias --> ", {"Failed. (Error Code=%x)\n", "Failed to Set Anti-Alias Setting."}, true);
}

// Cull and Outline answer without error information.
HRESULT CDevice3D::get_Cull(CullModes* pVal) {
    if (!device_) return E_POINTER;
    DWORD v = 0;
    HRESULT hr = device_->GetRenderState(D3DRENDERSTATE_CULLMODE, &v);
    if (FAILED(hr)) {
        trace("Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
        return hr;
    }
    cull_mode_ = static_cast<LONG>(v);
    if (pVal) *pVal = static_cast<CullModes>(v);
    return hr;
}

HRESULT CDevice3D::put_Cull(CullModes v) {
    if (!device_) return E_POINTER;
    cull_mode_ = v;
    HRESULT hr = device_->SetRenderState(D3DRENDERSTATE_CULLMODE, static_cast<DWORD>(v));
    if (FAILED(hr)) trace("SetRenderState Failed. (Cull) (Error Code=%x).\n", static_cast<unsigned>(hr));
    return hr;
}

HRESULT CDevice3D::get_Outline(LONG* pVal) {
    if (!device_) return E_POINTER;
    DWORD v = 0;
    HRESULT hr = device_->GetRenderState(D3DRENDERSTATE_LINEPATTERN, &v);
    if (pVal) *pVal = static_cast<LONG>(v);
    return hr;
}

HRESULT CDevice3D::put_Outline(LONG v) {
    if (!device_) return E_POINTER;
    return device_->SetRenderState(D3DRENDERSTATE_LINEPATTERN, static_cast<DWORD>(v));
}

// ---- children and plain properties ----------------------------------------------------------

HRESULT CDevice3D::get_Ambient(IDispatch** p) { return child(ambient_, p, ChildRule::refuse("Ambient Light Not Initialised.")); }
HRESULT CDevice3D::get_Cameras(IDispatch** p) { return child(cameras_, p, ChildRule::empty()); }
HRESULT CDevice3D::get_Fog(IDispatch** p) { return child(fog_, p, ChildRule::refuse("Fog Not Initialised.")); }
HRESULT CDevice3D::get_Lights(IDispatch** p) { return child(lights_, p, ChildRule::refuse("Lights Not Initialised.")); }
HRESULT CDevice3D::get_Objects(IDispatch** p) { return child(objects_, p, ChildRule::refuse("Objects Not Initialised.")); }
HRESULT CDevice3D::get_Textures(IDispatch** p) { return child(textures_, p, ChildRule::refuse("Textures Not Initialised.")); }
HRESULT CDevice3D::get_Caps(IDispatch** p) { return child(caps_, p, ChildRule::empty()); }
HRESULT CDevice3D::get_TextureFormats(IDispatch** p) {
    return child(texture_formats_, p, ChildRule::refuse("TextureFormats Not Initialised."));
}
HRESULT CDevice3D::get_Sprites(IDispatch** p) { return child(sprites_, p, ChildRule::refuse("Sprites Not Initialised.")); }
HRESULT CDevice3D::get_SimpleObjects(IDispatch** p) {
    return child(simple_objects_, p, ChildRule::refuse("SimpleObjects Not Initialised."));
}
HRESULT CDevice3D::get_Flares(IDispatch** p) { return child(flares_, p, ChildRule::refuse("Flares Not Initialised.")); }

HRESULT CDevice3D::get_Name(BSTR* p) { return get_text(name_, p); }
HRESULT CDevice3D::put_Name(BSTR v) { return put_text(name_, v); }
HRESULT CDevice3D::get_Description(BSTR* p) { return get_text(description_, p); }
HRESULT CDevice3D::put_Description(BSTR v) { return put_text(description_, v); }

HRESULT CDevice3D::put_GUID(LONG v) {
    return guard([&] {
        // The value is a handle of a 16-byte GUID block (as Devices hands out), never an address.
        auto* block = static_cast<const GUID*>(HandleResolve(static_cast<uint32_t>(v), kHandleGuid));
        if (!block) throw failure(E_INVALIDARG, "The value given is not the handle of a device GUID.");
        std::memcpy(&guid_, block, sizeof guid_);
        return S_OK;
    });
}

HRESULT CDevice3D::get_DirectDraw(LONG* p) {
    if (!p) return E_POINTER;
    *p = static_cast<LONG>(to_handle(directdraw_.get()));
    return S_OK;
}

HRESULT CDevice3D::get_Status(StatusModes* p) {
    if (!p) return E_POINTER;
    *p = status_;
    return S_OK;
}

// ---- devices: level and surface format -----------------------------------------------------------

HRESULT CDevice3D::get_Level(HWLevels* pVal) {
    return guard([&] {
        trace("Retrieving Device Description --> ");
        D3DX_DEVICEDESC desc{};
        HRESULT hr = back_end().D3DXGetDeviceDescription(static_cast<DWORD>(index_), &desc);
        if (SUCCEEDED(hr)) {
            trace("Succeeded.\n");
            if (pVal) *pVal = static_cast<HWLevels>(static_cast<LONG>(desc.hwLevel));
            return hr;
        }
        static const struct {
            uint32_t result;
            const char* trace;
            const char* text;
        } kFailures[] = {
            {0xC8770BB9, "Failed, NULL Pointer. (Error Code=%x)\n", "Null Pointer."},
            {0xC8770BBA, "Failed, Invalid Index. (Error Code=%x)\n", "Invalid Index."},
            {0xC8770BC5, "Failed, Direct3DX Initialisation Failed. (Error Code=%x)\n", "Direct3DX Initialisation Failed."},
            {0xC8770BC7, "Failed, Direct3DX Not Started Yet. (Error Code=%x)\n", "Direct3DX Not Started Yet."},
        };
        for (const auto& f : kFailures)
            if (static_cast<uint32_t>(hr) == f.result) check(hr, f.trace, f.text);
        return check(hr, "Failed, Unknown Error. (Error Code=%x)\n", kStringUnknownError);
    });
}

HRESULT CDevice3D::get_SurfaceFormat(SurfaceFormats* pVal) {
    if (!context_) return E_POINTER;
    D3DX_SURFACEFORMAT format{};
    HRESULT hr = back_end().D3DXGetSurfaceFormat(static_cast<DWORD>(index_), nullptr, D3DX_SC_COLORTEXTURE, 0, &format);
    if (SUCCEEDED(hr) && pVal) *pVal = static_cast<SurfaceFormats>(format);
    return hr;
}

// ---- world file ---------------------------------------------------------------------------------

HRESULT CDevice3D::Save(BSTR Filename) { return world_file(Filename, true); }
HRESULT CDevice3D::Load(BSTR Filename) { return world_file(Filename, false); }

// Both are transactions. Save writes the world into memory, checks that it reads back, and
// replaces the file through a temporary file beside it; Load reads the whole file, checks every
// section the device has before anything changes, and only then lets the children read it.
HRESULT CDevice3D::world_file(BSTR Filename, bool saving) {
    return guard([&] {
        std::string path = text::utf8(Filename);
        trace(saving ? "Saving World: %s.\n" : "Loading World: %s.\n", path.c_str());
        if (path.empty()) throw failure(E_INVALIDARG, "No file name was given for the world.");
        if (path.find('\0') != std::string::npos) throw failure(E_INVALIDARG, "The world file name holds a NUL character.");
        std::vector<world::Section> sections;
        if (cameras_) sections.push_back(world::Section::Cameras);
        if (fog_) sections.push_back(world::Section::Fog);
        if (lights_) sections.push_back(world::Section::Lights);
        if (textures_) sections.push_back(world::Section::Textures);
        if (objects_) sections.push_back(world::Section::Objects);
        if (sections.empty()) throw failure(E_POINTER, "World Not Initialised.");

        std::string bytes;
        if (!saving) {
            bytes = world::read_file(path);
            world::check(bytes, sections);
        }
        struct Stream {
            uint32_t handle;
            ~Stream() { VantorStreamClose(handle); }
        } stream{VantorStreamOpenMemory(bytes.data(), static_cast<DWORD>(bytes.size()), saving ? "w" : "r")};
        if (!stream.handle) throw failure(E_OUTOFMEMORY, "No memory for the world file.");
        const LONG f = static_cast<LONG>(stream.handle);
        HRESULT failed = S_OK;
        auto each = [&](auto& child) {
            if (!child || FAILED(failed)) return;
            if (!saving) {
                child->Load(f);  // what a child refuses it records; loading goes on
                return;
            }
            HRESULT hr = child->Save(f);
            if (FAILED(hr)) failed = hr;  // a record cut short: the file stays as it was
        };
        each(cameras_);
        each(fog_);
        each(lights_);
        each(textures_);
        each(objects_);
        if (saving) {
            if (FAILED(failed)) return failed;  // the child's error information stands
            LPCSTR data = nullptr;
            const DWORD size = VantorStreamContents(stream.handle, &data);
            bytes.assign(data ? data : "", size);
            try {
                world::check(bytes, sections);  // never write what cannot be read back
            } catch (const failure& f) {
                std::string why = text::utf8(f.description());
                why.erase(0, why.find('\n') + 1);  // the system's text for the code comes again with the new failure
                throw failure(E_FAIL, ("The world was not saved: " + why).c_str());
            }
            world::replace_file(path, bytes);
        }
        trace(saving ? "Finished Saving World.\n" : "Finished Loading World.\n");
        return S_OK;
    });
}

template <> HRESULT create_class<IDevice3D>(IUnknown* o, REFIID r, void** p) { return CDevice3D::create(o, r, p); }

}  // namespace vantor
