// Device3D: the root of a world. Construction creates the children; Initialise opens the
// rendering context on a window and binds the children; the frame is Clear, Render, Update.
#include "device/device3d.h"

#include "module/classes.h"
#include "module/create.h"
#include "module/results.h"
#include "module/strings.h"
#include "module/trace.h"
#include "texture/registry.h"

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

namespace vantor {

using backend::to_handle;

namespace {

backend::Backend& back_end() { return backend::backend(); }

// Packs colour components (0.0 to 1.0) as 0xAARRGGBB, each times 255 truncated toward zero.
DWORD pack(float r, float g, float b, float a) {
    auto c = [](float v) { return static_cast<DWORD>(v * 255.0f); };
    return (c(a) << 24) | (c(r) << 16) | (c(g) << 8) | c(b);
}

// A colour component outside 0.0 to 1.0 (or not a number) is refused with the component's text.
void check_intensity(float v, const char* text) {
    if (!(v >= 0.0f && v <= 1.0f)) throw failure(E_INVALIDARG, text);
}

const char* const kIntensityTexts[4] = {"Invalid Red Intensity.", "Invalid Green Intensity.",
                                        "Invalid Blue Intensity.", "Invalid Alpha Intensity."};

}  // namespace

// ---- construction and destruction ---------------------------------------------------------------

HRESULT CDevice3D::FinalConstruct() {
    CoInitialize(nullptr);
    try {
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
                ambient_->put_Red(0.0f);
                ambient_->put_Green(0.0f);
                ambient_->put_Blue(0.0f);
                ambient_->put_Alpha(0.0f);
            } else {
                trace("Succeeded.\n");
            }
        }
    } catch (const failure& f) {
        report(f);  // the device lives on without this child and the ones after it
    } catch (...) {
        report(failure(E_FAIL, "Exception Raised."));
    }
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
        HRESULT hr = back_end().D3DXInitialize();
        if (FAILED(hr)) {
            trace("Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
            throw failure(hr, kStringD3DXInitFailed);
        }
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
            trace("Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
            trace("Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
            if (hr == D3DXERR_COLORDEPTHTOOLOW) throw failure(hr, "Colour Depth Too Low!");
            throw backend_failure(hr, Site::Device3DInitialise);
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
        if (FAILED(hr)) {
            trace("Failed. (Error Code=%x).", static_cast<unsigned>(hr));
            if (hr == E_INVALIDARG) throw failure(hr, kStringInvalidParameter);
            if (hr == DDERR_INVALIDOBJECT) throw failure(hr, kStringInvalidObject);
            if (hr == D3DERR_VIEWPORTHASNODEVICE) throw failure(hr, "Viewport Has No Device Set.");
            throw failure(hr, kStringUnknownError);
        }
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
        hr = d->GetViewport(&viewport_);
        if (FAILED(hr)) {
            trace("Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
            throw failure(hr, "Failed to Get Viewport.");
        }
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
        trace("Resizing --> ");
        HRESULT hr = context_->Resize(static_cast<DWORD>(width), static_cast<DWORD>(Height));
        if (FAILED(hr)) {
            trace("Failed. (Error Code=%x)\n", static_cast<unsigned>(hr));
            throw failure(hr, "Resize Failed.");
        }
        trace("Succeeded.\n");
        return S_OK;
    });
}

// ---- the frame --------------------------------------------------------------------------------

HRESULT CDevice3D::Render() {
    return guard([&] {
        trace("BeginScene\n");
        HRESULT hr = need(device_.get())->BeginScene();
        if (FAILED(hr)) throw failure(hr, "Begin Scene Function Failed.");
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
        if (FAILED(hr)) {
            trace("End Scene Failed (Error Code = %x)\n", static_cast<unsigned>(hr));
            throw failure(hr, hr == D3DERR_SCENE_END_FAILED ? "End Scene Function Failed." : "Unknown Error.");
        }
        trace("Finished.\n");
        return S_OK;
    });
}

bool CDevice3D::update_ambient_light() {
    HRESULT hr = guard([&] {
        if (!device_) throw failure(E_POINTER, "Device Not Initialised.");
        if (!ambient_) throw failure(E_POINTER, "Ambient Light Not Initialised.");
        float c[4];
        ambient_->get_Red(&c[0]);
        check_intensity(c[0], kIntensityTexts[0]);
        ambient_->get_Green(&c[1]);
        check_intensity(c[1], kIntensityTexts[1]);
        ambient_->get_Blue(&c[2]);
        check_intensity(c[2], kIntensityTexts[2]);
        ambient_->get_Alpha(&c[3]);
        check_intensity(c[3], kIntensityTexts[3]);
        HRESULT r = device_->SetRenderState(D3DRENDERSTATE_AMBIENT, pack(c[0], c[1], c[2], c[3]));
        if (FAILED(r)) {
            trace("SetRenderState (Ambient) Failed. (Error Code=%x)\n", static_cast<unsigned>(r));
            throw failure(r, "Failed to Set Ambient Light.");
        }
        return S_OK;
    });
    return SUCCEEDED(hr);
}

HRESULT CDevice3D::Clear(FLOAT Red, FLOAT Green, FLOAT Blue, FLOAT Alpha) {
    return guard([&] {
        RECT r;
        if (!GetWindowRect(static_cast<HWND>(window_), &r)) throw failure(E_FAIL, "GetWindowRect Function Failed.");
        const float c[4] = {Red, Green, Blue, Alpha};
        for (int i = 0; i < 4; ++i) check_intensity(c[i], kIntensityTexts[i]);
        HRESULT hr = need(context_.get())->SetClearColor(pack(Red, Green, Blue, Alpha));
        if (FAILED(hr)) {
            trace("Set Clear Color Failed.\n");
            throw failure(hr, "Failed to set Clear Colour.");
        }
        hr = context_->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
        if (FAILED(hr)) {
            trace("Clear Failed.\n");
            throw failure(hr, "Clear Failed.");
        }
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
        HRESULT hr = context_->UpdateFrame(D3DX_UPDATE_NOVSYNC);
        if (FAILED(hr)) throw backend_failure(hr, Site::Device3DUpdate);
        return hr;
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
        std::string text = text::utf8(DebugText);
        HRESULT hr = need(context_.get())->DrawDebugText(X, Y, static_cast<D3DCOLOR>(Colour), text.data());
        if (FAILED(hr)) {
            trace("Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
            throw backend_failure(hr, Site::Device3DDebug);
        }
        trace("%s", text.c_str());
        return hr;
    });
}

HRESULT CDevice3D::get_Graphics(IDispatch**) { return E_NOTIMPL; }

// ---- render-state properties --------------------------------------------------------------------

IDirect3DDevice7* CDevice3D::require_device() {
    if (!device_) throw failure(E_POINTER, "Device Not Initialised.");
    return device_.get();
}

HRESULT CDevice3D::get_ShadeMode(ShadeModes* pVal) {
    return guard([&] {
        IDirect3DDevice7* d = require_device();
        trace("Obtaining Shade Mode --> ");
        DWORD v = 0;
        HRESULT hr = d->GetRenderState(D3DRENDERSTATE_SHADEMODE, &v);
        if (FAILED(hr)) {
            trace("Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
            throw failure(hr, "Failed to Obtain Shade Mode.");
        }
        trace("Succeeded.\n");
        if (pVal) *pVal = static_cast<ShadeModes>(v);
        return hr;
    });
}

HRESULT CDevice3D::put_ShadeMode(ShadeModes v) {
    return guard([&] {
        IDirect3DDevice7* d = require_device();
        trace("Setting Shade Mode --> ");
        trace("%s", v == 1 ? "Flat.\n" : v == 2 ? "Gouraud.\n" : "Unknown.\n");
        HRESULT hr = d->SetRenderState(D3DRENDERSTATE_SHADEMODE, static_cast<DWORD>(v));
        if (FAILED(hr)) {
            trace("SetRenderState (ShadeMode) Failed. (Error Code=%x)\n", static_cast<unsigned>(hr));
            throw failure(hr, "Failed to Set Shade Mode.");
        }
        return hr;
    });
}

HRESULT CDevice3D::get_Dither(VARIANT_BOOL* pVal) {
    return guard([&] {
        IDirect3DDevice7* d = require_device();
        trace("Obtaining Current Dithering Setting --> ");
        DWORD v = 0;
        HRESULT hr = d->GetRenderState(D3DRENDERSTATE_DITHERENABLE, &v);
        if (FAILED(hr)) {
            trace("Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
            throw failure(hr, "Failed to Obtain Dither Setting.");
        }
        trace("Succeeded.\n");
        if (pVal) *pVal = v ? VARIANT_TRUE : VARIANT_FALSE;
        return hr;
    });
}

HRESULT CDevice3D::put_Dither(VARIANT_BOOL v) {
    return guard([&] {
        IDirect3DDevice7* d = require_device();
        trace("Setting Dithering --> ");
        trace("%s", v ? "Enabled.\n" : "Disabled.\n");
        HRESULT hr = d->SetRenderState(D3DRENDERSTATE_DITHERENABLE, v ? 1 : 0);
        if (FAILED(hr)) {
            trace("SetRenderState (Dither) Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
            throw failure(hr, "Failed to Set Dither Setting.");
        }
        return hr;
    });
}

HRESULT CDevice3D::get_Specular(VARIANT_BOOL* pVal) {
    return guard([&] {
        IDirect3DDevice7* d = require_device();
        trace("Obtaining Specular Setting --> ");
        DWORD v = 0;
        HRESULT hr = d->GetRenderState(D3DRENDERSTATE_SPECULARENABLE, &v);
        if (FAILED(hr)) {
            trace("GetRenderState (Specular) Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
            throw failure(hr, "Failed to Obtain Specular Setting.");
        }
        trace("Succeeded.\n");
        if (pVal) *pVal = v ? VARIANT_TRUE : VARIANT_FALSE;
        return hr;
    });
}

HRESULT CDevice3D::put_Specular(VARIANT_BOOL v) {
    return guard([&] {
        IDirect3DDevice7* d = require_device();
        trace("Configuring Specular --> ");
        trace("%s", v ? "Enabled.\n" : "Disabled.\n");
        HRESULT hr = d->SetRenderState(D3DRENDERSTATE_SPECULARENABLE, v ? 1 : 0);
        if (FAILED(hr)) {
            trace("SetRenderState (Specular) Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
            throw failure(hr, "Failed to Set Specular Setting.");
        }
        return hr;
    });
}

HRESULT CDevice3D::get_AntiAlias(AntiAliasModes* pVal) {
    return guard([&] {
        IDirect3DDevice7* d = require_device();
        trace("Retrieving Anti-Alias Setting --> ");
        DWORD v = 0;
        HRESULT hr = d->GetRenderState(D3DRENDERSTATE_ANTIALIAS, &v);
        if (FAILED(hr)) {
            trace("Failed. (Error Code=%x)\n", static_cast<unsigned>(hr));
            throw failure(hr, "Failed to Obtain Anti-Alias Setting.");
        }
        trace("Succeeded.\n");
        if (pVal) *pVal = static_cast<AntiAliasModes>(v);
        return hr;
    });
}

HRESULT CDevice3D::put_AntiAlias(AntiAliasModes v) {
    return guard([&] {
        IDirect3DDevice7* d = require_device();
        trace("%s", v == 0 ? "None.\n" : v == 1 ? "Sort Dependent.\n" : v == 2 ? "Sort Independent.\n" : "Unknown.\n");
        trace("Setting Anti-Alias --> ");
        HRESULT hr = d->SetRenderState(D3DRENDERSTATE_ANTIALIAS, static_cast<DWORD>(v));
        if (FAILED(hr)) {
            trace("Failed. (Error Code=%x)\n", static_cast<unsigned>(hr));
            throw failure(hr, "Failed to Set Anti-Alias Setting.");
        }
        trace("Succeeded.\n");
        return hr;
    });
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

template <class T>
HRESULT CDevice3D::child(const ComPtr<T>& c, IDispatch** out, const char* missing) {
    return guard([&] {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!c) {
            if (!missing) return S_OK;  // handed out without a check: a null reference
            throw failure(E_POINTER, missing);
        }
        return c.query(out);
    });
}

HRESULT CDevice3D::get_Ambient(IDispatch** p) { return child(ambient_, p, "Ambient Light Not Initialised."); }
HRESULT CDevice3D::get_Cameras(IDispatch** p) { return child(cameras_, p, nullptr); }
HRESULT CDevice3D::get_Fog(IDispatch** p) { return child(fog_, p, "Fog Not Initialised."); }
HRESULT CDevice3D::get_Lights(IDispatch** p) { return child(lights_, p, "Lights Not Initialised."); }
HRESULT CDevice3D::get_Objects(IDispatch** p) { return child(objects_, p, "Objects Not Initialised."); }
HRESULT CDevice3D::get_Textures(IDispatch** p) { return child(textures_, p, "Textures Not Initialised."); }
HRESULT CDevice3D::get_Caps(IDispatch** p) { return child(caps_, p, nullptr); }
HRESULT CDevice3D::get_TextureFormats(IDispatch** p) { return child(texture_formats_, p, "TextureFormats Not Initialised."); }
HRESULT CDevice3D::get_Sprites(IDispatch** p) { return child(sprites_, p, "Sprites Not Initialised."); }
HRESULT CDevice3D::get_SimpleObjects(IDispatch** p) { return child(simple_objects_, p, "SimpleObjects Not Initialised."); }
HRESULT CDevice3D::get_Flares(IDispatch** p) { return child(flares_, p, "Flares Not Initialised."); }

HRESULT CDevice3D::get_Name(BSTR* p) { return copy_out(name_, p); }
HRESULT CDevice3D::put_Name(BSTR v) { return copy_in(name_, v); }
HRESULT CDevice3D::get_Description(BSTR* p) { return copy_out(description_, p); }
HRESULT CDevice3D::put_Description(BSTR v) { return copy_in(description_, v); }

HRESULT CDevice3D::copy_out(const std::u16string& s, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}
HRESULT CDevice3D::copy_in(std::u16string& s, BSTR v) {
    s.assign(v ? v : u"", SysStringLen(v));
    return S_OK;
}

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
        const unsigned code = static_cast<unsigned>(hr);
        switch (static_cast<uint32_t>(hr)) {
            case 0xC8770BB9:
                trace("Failed, NULL Pointer. (Error Code=%x)\n", code);
                throw failure(hr, "Null Pointer.");
            case 0xC8770BBA:
                trace("Failed, Invalid Index. (Error Code=%x)\n", code);
                throw failure(hr, "Invalid Index.");
            case 0xC8770BC5:
                trace("Failed, Direct3DX Initialisation Failed. (Error Code=%x)\n", code);
                throw failure(hr, "Direct3DX Initialisation Failed.");
            case 0xC8770BC7:
                trace("Failed, Direct3DX Not Started Yet. (Error Code=%x)\n", code);
                throw failure(hr, "Direct3DX Not Started Yet.");
            default:
                trace("Failed, Unknown Error. (Error Code=%x)\n", code);
                throw failure(hr, kStringUnknownError);
        }
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

HRESULT CDevice3D::world_file(BSTR Filename, bool saving) {
    return guard([&] {
        std::string path = text::utf8(Filename);
        trace(saving ? "Saving World: %s.\n" : "Loading World: %s.\n", path.c_str());
        if (path.empty()) throw failure(E_INVALIDARG, "No file name was given for the world.");
        // A file that cannot be opened is an error and changes nothing: loading never creates an
        // empty file nor empties a collection.
        uint32_t f = VantorStreamOpen(path.c_str(), saving ? "w" : "r");
        if (!f) {
            const int error = errno;
            std::string why = "The world file '" + path + "' cannot be " + (saving ? "written: " : "read: ") +
                              std::strerror(error) + ".";
            HRESULT hr = error == ENOENT ? HRESULT_FROM_WIN32(saving ? 3L : ERROR_FILE_NOT_FOUND)
                         : (error == EACCES || error == EPERM || error == EROFS) ? E_ACCESSDENIED
                                                                                 : E_FAIL;
            throw failure(hr, why.c_str());
        }
        const LONG stream = static_cast<LONG>(f);
        auto each = [&](auto& child) {
            if (child) saving ? child->Save(stream) : child->Load(stream);
        };
        each(cameras_);
        each(fog_);
        each(lights_);
        each(textures_);
        each(objects_);
        bool closed = VantorStreamClose(f);
        if (saving && !closed) throw failure(E_FAIL, "The world file could not be written completely.");
        trace(saving ? "Finished Saving World.\n" : "Finished Loading World.\n");
        return S_OK;
    });
}

HRESULT create_device3d(IUnknown* outer, REFIID riid, void** ppv) { return CDevice3D::create(outer, riid, ppv); }

}  // namespace vantor
