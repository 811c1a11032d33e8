// recording_backend.h — the recording back end: a Direct3D 7 / DirectDraw 7 / utility-layer
// device without pixels, for tests of the engine's exact calls and error paths.
//
//   vantor::testing::RecordingBackend rec;
//   rec.config().devices[0].caps.dwMaxActiveLights = 2;        // configure before (or between) calls
//   rec.fail("Context.UpdateFrame", DDERR_SURFACELOST, 1);     // the next UpdateFrame fails once
//   vantor::testing::ScopedInstall installed{rec};             // the component now draws through rec
//   ... drive the engine ...
//   EXPECT_GE(rec.index_of("Device.SetRenderState(7, 1)"), 0);
//   EXPECT_EQ(rec.count("Context.UpdateFrame"), 2u);
//   EXPECT_EQ(rec.live_objects(), 0u) << rec.live_object_names_text();
//
// What it is
//   Every interface of vantor/backend (Backend, ID3DXContext, IDirectDraw7 answering
//   QueryInterface for IDirect3D7, IDirectDrawSurface7, IDirectDrawPalette, IDirect3DDevice7,
//   IDirect3DVertexBuffer7, ID3DXSimpleShape) is implemented. Nothing is drawn, but:
//   - every state is kept and reads back: render states, stage states of 8 stages, transforms,
//     lights and their enable flags, material, viewport, textures per stage, clear values,
//     cooperative level, display mode; defaults are Direct3D 7's (list below);
//   - surfaces own real pixel memory: Lock/Unlock, Blt (colour fill, stretching, format
//     conversion, source colour key), device and context Clear of the render target, and GetDC
//     work on those bytes;
//   - invalid arguments give Direct3D 7's results (null or mis-sized records, unknown states,
//     stages above 7, vertex counts beyond buffers, indices outside the vertex range, double
//     locks, unlocks of unlocked surfaces, nested scenes, never-set lights, a context on a
//     handle that is not a window, utility calls before D3DXInitialize, ...);
//   - every call the engine makes is logged as one line of text (format below);
//   - any call can be made to fail with any HRESULT (fail / fail_if);
//   - capabilities, texture formats, devices, the desktop mode and surface formats come from
//     config(), read at the moment of each call, so a test may change them at any time.
//
// Call log format: one string per call, "<name>(<arguments>)", arguments separated by ", ".
//   name         "Device.<Method>", "D3D.<Method>", "DirectDraw.<Method>", "Context.<Method>",
//                "Surface.<Method>", "Palette.<Method>", "VertexBuffer.<Method>",
//                "Shape.<Method>", or the utility function's own name ("D3DXCreateContext").
//                AddRef and Release are not logged; QueryInterface is.
//   receiver     surfaces, palettes, vertex buffers and shapes (of which there are many) name
//                themselves as the first argument; the device, Direct3D, DirectDraw and the
//                context do not.
//   integers     decimal (DWORDs unsigned, LONGs signed): "Device.SetRenderState(7, 1)",
//                "D3DXCreateContext(4294967295, 0, <window>, 640, 480)".
//   colours      D3DCOLOR arguments as 0xAARRGGBB: "Context.SetClearColor(0xFF202040)".
//   floats       printf %g: "Context.DrawDebugText(0.01, 0.5, 0xFFFFFFFF, \"fps\")".
//   objects      "<name>" where name is the object's kind and a number counted per kind from 1
//                in this back end: <device1>, <ddraw1>, <d3d1>, <context1>, <primary1>,
//                <backbuffer1>, <zbuffer1>, <surface1> (CreateSurface), <texture1> (from a
//                file), <palette1>, <vb1>, <box1>, <sphere1>, ...; "null" for a null pointer,
//                "<foreign>" for an object that is not this back end's.
//   windows      "<window>" for a window, "0" for none, the number otherwise.
//   strings      in double quotes; GUIDs by name (IID_IDirect3D7, IID_IDirect3DHALDevice,
//                GUID_NULL) or as {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}.
//   records      summarised in braces: matrix "[1 0 0 0; 0 1 0 0; 0 0 1 0; 0 0 0 1]", viewport
//                "{0, 0, 640, 480, 0, 1}", rect "{left, top, right, bottom}", material
//                "{diffuse r g b a, ambient ..., specular ..., emissive ..., power p}", light
//                "{type 3, diffuse r g b a, specular ..., ambient ..., position x y z, direction
//                x y z, range r, falloff f, attenuation a0 a1 a2, theta t, phi p}", surface
//                description "{flags 0x101007, 64x64, caps 0x1000, caps2 0x10, R5G6B5, stage 0}",
//                pixel formats by name (R5G6B5, X8R8G8B8, P8, A8L8, V8U8, ...), vertex data
//                "<3 vertices>", index lists "[0 1 2]" (the first 16, then "..."),
//                vectors "(x, y, z)".
//   out params   left out when non-null ("Device.GetRenderState(7)"), "null" when null;
//                in/out values (the sizes of D3DXCreateTextureFromFile) show the value passed in.
//
// Fault injection: fail(call, hr, count, skip) and fail_if(predicate, hr, count, skip) add a
//   rule. `call` is a call name ("Device.SetViewport", "D3DXCreateContext",
//   "Context.UpdateFrame"), or, when it contains '(', a prefix of the call's text
//   ("D3DXCreateContext(3, " fails only for device index 3). A matching call first lets `skip`
//   calls through, then fails `count` times (kForever: always); rules are consulted in the order
//   they were added. A failed call is logged like any other, changes nothing and clears its out
//   parameters. A success code (S_FALSE) as `hr` lets the call work and returns that code.
//
// What Direct3D 7 defines is the back ends' shared core (src/backend/core): state ids, defaults
// and the legacy states that set stage 0, light records and the eight-light limit
// (device_state.h), capabilities (device_caps), pixel formats, conversion and Blt's pixel work
// (pixel_format.h), vertex formats (fvf.h), the checks of surface descriptions (surface_desc.h)
// and shape geometry (shape_geometry.h). Where Direct3D 7 leaves a value open the OpenGL back
// end matches this one (the conformance suite pins all but GetLightEnable's exact TRUE): the
// context always attaches a depth buffer; GetLightEnable answers 1 for an enabled light; stage
// state ADDRESS sets ADDRESSU and ADDRESSV and reads back as ADDRESSU; D3DXUninitialize beyond
// the last D3DXInitialize gives D3DXERR_D3DXNOTSTARTEDYET and changes nothing; context clear
// colour 0xFF000000, clear depth 1.0, clear stencil 0; D3DXGetDeviceCount answers 0 before
// D3DXInitialize. SetCooperativeLevel keeps DirectDraw 7's documented rule that EXCLUSIVE and
// FULLSCREEN go together (RecordingConfig::exclusive_needs_fullscreen relaxes it).
#pragma once

#include <vantor/backend/backend.h>

#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::testing {

namespace detail {
class Recorder;
}

// One logged call.
struct Call {
    std::string name;               // "Device.SetRenderState"
    std::vector<std::string> args;  // formatted as in the text: {"7", "1"}
    std::string text;               // "Device.SetRenderState(7, 1)"
};
using CallPredicate = std::function<bool(const Call&)>;

// A device offered by the utility layer: its description and its Direct3D capabilities.
struct DeviceInfo {
    D3DX_DEVICEDESC description{};  // deviceIndex is the entry's position whatever is stored
    D3DDEVICEDESC7 caps{};

    // Sets the device type everywhere it shows (description and caps): IID_IDirect3DHALDevice
    // and IID_IDirect3DTnLHalDevice get managed textures, IID_IDirect3DRGBDevice system memory.
    void set_type(const GUID& type);
};

// D3DXGetSurfaceFormat's answers: formats with the classes (D3DX_SC_*) they belong to.
struct SurfaceFormatEntry {
    DWORD classes;
    D3DX_SURFACEFORMAT format;
};

struct RecordingConfig {
    std::vector<DeviceInfo> devices;                   // D3DXGetDeviceCount() is their number
    DWORD default_device = 0;                          // the device that D3DX_DEFAULT selects
    D3DX_VIDMODEDESC desktop_mode{1024, 768, 32, 60};  // until SetDisplayMode, and after RestoreDisplayMode
    std::vector<DDPIXELFORMAT> texture_formats;        // EnumTextureFormats, in this order
    std::vector<SurfaceFormatEntry> surface_formats;   // D3DXGetSurfaceFormat, in this order
    // D3DXCreateTextureFromFile reads the size of BMP and TGA files; any other name (a file that
    // does not exist included) is taken as an image of this size, so tests need no files.
    DWORD image_width = 64, image_height = 64;
    LONG pitch_alignment = 16;  // surface rows are this many bytes apart at least (a power of 2)
    // DirectDraw 7 refuses DDSCL_EXCLUSIVE without DDSCL_FULLSCREEN (DDERR_INVALIDPARAMS). Tests
    // that need a caller's path past such a request (a display-mode restore behind it) turn this off.
    bool exclusive_needs_fullscreen = true;

    // A capable device: the shared core's T&L HAL capabilities (vantor/backend/device_state.h:
    // device_caps) with textures up to 2048 and 16x anisotropy; one such device, a
    // 1024x768x32 desktop, and the texture formats A8L8, V8U8 (which a texture chooser must
    // skip), R5G6B5, X1R5G5B5, A1R5G5B5, A4R4G4B4, X8R8G8B8, A8R8G8B8, P8.
    static RecordingConfig defaults();
    static DeviceInfo capable_device(const char* driver_text = "Recording T&L HAL");
};

// Standard DirectDraw pixel formats, and their names as the call log writes them.
namespace formats {
DDPIXELFORMAT R5G6B5();
DDPIXELFORMAT X1R5G5B5();
DDPIXELFORMAT A1R5G5B5();
DDPIXELFORMAT A4R4G4B4();
DDPIXELFORMAT R8G8B8();
DDPIXELFORMAT X8R8G8B8();
DDPIXELFORMAT A8R8G8B8();
DDPIXELFORMAT R3G3B2();
DDPIXELFORMAT P8();
DDPIXELFORMAT L8();
DDPIXELFORMAT A8L8();
DDPIXELFORMAT V8U8();
DDPIXELFORMAT Z(DWORD bits);                    // a depth format of 16, 24 (in 32) or 32 bits
// Any RGB format by its bit count and masks (ALPHAPIXELS when `a` is not 0).
DDPIXELFORMAT rgb(DWORD bits, DWORD r, DWORD g, DWORD b, DWORD a = 0);
std::string name(const DDPIXELFORMAT& format);  // "R5G6B5", or a description of the masks
}  // namespace formats

// Installs a back end for the component for one scope (the component provides install()).
class ScopedInstall {
public:
    explicit ScopedInstall(vantor::backend::Backend& b) : previous_(vantor::backend::install(&b)) {}
    ~ScopedInstall() { vantor::backend::install(previous_); }
    ScopedInstall(const ScopedInstall&) = delete;
    ScopedInstall& operator=(const ScopedInstall&) = delete;

private:
    vantor::backend::Backend* previous_;
};

class RecordingBackend final : public vantor::backend::Backend {
public:
    static constexpr unsigned kForever = UINT_MAX;

    RecordingBackend();  // RecordingConfig::defaults()
    explicit RecordingBackend(RecordingConfig config);
    // Objects still alive keep working (and logging) after the back end is gone.
    ~RecordingBackend();
    RecordingBackend(const RecordingBackend&) = delete;
    RecordingBackend& operator=(const RecordingBackend&) = delete;

    // --- Configuration -------------------------------------------------------------------
    RecordingConfig& config();

    // --- Call log ------------------------------------------------------------------------
    const std::vector<std::string>& calls() const;  // every call, oldest first
    const std::vector<Call>& call_records() const;  // the same, split into name and arguments
    HRESULT result(size_t index) const;             // what call `index` returned
    void clear_calls();
    // Position of the first call at or after `from` whose text starts with `prefix`; -1 if none.
    std::ptrdiff_t index_of(std::string_view prefix, size_t from = 0) const;
    std::vector<std::string> calls_matching(std::string_view prefix) const;
    size_t count(std::string_view prefix) const;
    std::vector<std::string> slice(size_t from, size_t to = SIZE_MAX) const;  // [from, to)
    std::string log_text() const;  // every call, one per line (for messages)

    // --- Fault injection -----------------------------------------------------------------
    void fail(std::string call, HRESULT hr, unsigned count = kForever, unsigned skip = 0);
    void fail_if(CallPredicate when, HRESULT hr, unsigned count = kForever, unsigned skip = 0);
    void clear_failures();

    // --- What happened -------------------------------------------------------------------
    int started() const;                    // D3DXInitialize nesting depth
    D3DX_VIDMODEDESC display_mode() const;  // the (virtual) display mode now
    // Cooperative level of the DirectDraw object made last (0 when none).
    DWORD cooperative_level() const;
    // Marks every live surface lost (IsLost, Lock, Blt, GetDC give DDERR_SURFACELOST until
    // Restore or the context's RestoreSurfaces).
    void lose_surfaces();

    // --- Objects -------------------------------------------------------------------------
    // The last object of each kind made and still alive (not counted; nullptr when none).
    ID3DXContext* last_context() const;
    IDirect3DDevice7* last_device() const;
    IDirectDraw7* last_directdraw() const;
    size_t live_objects() const;                         // every live object this back end made
    std::vector<std::string> live_object_names() const;  // "<surface2> (2 references)", ...
    std::string live_object_names_text() const;          // the same, on one line
    std::string name_of(const void* object) const;       // "<texture1>", "null", "<foreign>"

    // --- vantor::backend::Backend --------------------------------------------------------
    HRESULT D3DXInitialize() override;
    HRESULT D3DXUninitialize() override;
    DWORD D3DXGetDeviceCount() override;
    HRESULT D3DXGetDeviceDescription(DWORD index, D3DX_DEVICEDESC* desc) override;
    HRESULT D3DXGetCurrentVideoMode(DWORD index, D3DX_VIDMODEDESC* mode) override;
    HRESULT D3DXGetSurfaceFormat(DWORD index, D3DX_VIDMODEDESC* mode, DWORD surfaceClass, DWORD which,
                                 D3DX_SURFACEFORMAT* format) override;
    HRESULT D3DXCreateContext(DWORD index, DWORD flags, HWND window, DWORD width, DWORD height,
                              ID3DXContext** context) override;
    HRESULT D3DXCreatePolygon(IDirect3DDevice7* device, float sideSize, DWORD sides, DWORD texCoords,
                              ID3DXSimpleShape** shape) override;
    HRESULT D3DXCreateBox(IDirect3DDevice7* device, float width, float height, float depth, DWORD texCoords,
                          ID3DXSimpleShape** shape) override;
    HRESULT D3DXCreateCylinder(IDirect3DDevice7* device, float baseRadius, float topRadius, float height,
                               DWORD slices, DWORD stacks, DWORD texCoords,
                               ID3DXSimpleShape** shape) override;
    HRESULT D3DXCreateSphere(IDirect3DDevice7* device, float radius, DWORD slices, DWORD stacks,
                             DWORD texCoords, ID3DXSimpleShape** shape) override;
    HRESULT D3DXCreateTorus(IDirect3DDevice7* device, float innerRadius, float outerRadius, DWORD sides,
                            DWORD rings, DWORD texCoords, ID3DXSimpleShape** shape) override;
    HRESULT D3DXCreateTeapot(IDirect3DDevice7* device, DWORD texCoords, ID3DXSimpleShape** shape) override;
    HRESULT D3DXPrepareDeviceForSprite(IDirect3DDevice7* device, BOOL zEnable) override;
    HRESULT D3DXDrawSpriteSimple(IDirectDrawSurface7* texture, IDirect3DDevice7* device,
                                 const D3DXVECTOR3* destination, float alpha, float scale, float angle,
                                 const D3DXVECTOR2* offset, const RECT* source) override;
    HRESULT D3DXCreateTextureFromFile(IDirect3DDevice7* device, DWORD* flags, DWORD* width, DWORD* height,
                                      D3DX_SURFACEFORMAT* format, IDirectDrawPalette* palette,
                                      IDirectDrawSurface7** surface, DWORD* mipLevels, LPSTR file,
                                      D3DX_FILTERTYPE filter) override;
    HRESULT DirectDrawCreateEx(GUID* guid, void** dd, REFIID iid, IUnknown* outer) override;
    HRESULT DirectDrawCreate(GUID* guid, IUnknown** dd, IUnknown* outer) override;

private:
    std::shared_ptr<detail::Recorder> rec_;
};

}  // namespace vantor::testing
