// vantor/backend/backend.h — what the engine asks of the rendering back end.
//
// The engine reaches the renderer only through these interfaces: the utility-layer entry points
// below (start/stop, devices, video mode, contexts, shapes, sprites, textures from files,
// DirectDraw creation) and the DirectDraw, Direct3D and context interfaces they hand out.
// Two implementations exist: OpenGL (the default in the component) and the recording back end
// of the tests, installed with vantor::backend::install().
//
//   using vantor::backend::backend;
//   HRESULT hr = backend().D3DXInitialize();
//   ...
//   IDirect3DDevice7* dev = vantor::backend::from_handle<IDirect3DDevice7>(deviceHandle);
//
// Back-end objects travel between engine objects as 32-bit handles (vantor/handles.h): each
// object enters the handle table when it is made and leaves it when it dies, so a handle of a
// released object resolves to nullptr.
#pragma once

#include <vantor/backend/d3dx.h>
#include <vantor/handles.h>

namespace vantor::backend {

class Backend {
public:
    // Start and stop; calls nest, the layer stops at the last D3DXUninitialize.
    virtual HRESULT D3DXInitialize() = 0;
    virtual HRESULT D3DXUninitialize() = 0;
    virtual DWORD D3DXGetDeviceCount() = 0;
    virtual HRESULT D3DXGetDeviceDescription(DWORD index, D3DX_DEVICEDESC* desc) = 0;
    virtual HRESULT D3DXGetCurrentVideoMode(DWORD index, D3DX_VIDMODEDESC* mode) = 0;
    virtual HRESULT D3DXGetSurfaceFormat(DWORD index, D3DX_VIDMODEDESC* mode, DWORD surfaceClass,
                                         DWORD which, D3DX_SURFACEFORMAT* format) = 0;
    // index D3DX_DEFAULT = the default device; flags D3DX_CONTEXT_FULLSCREEN.
    virtual HRESULT D3DXCreateContext(DWORD index, DWORD flags, HWND window, DWORD width,
                                      DWORD height, ID3DXContext** context) = 0;

    // Shapes (D3DX_DEFAULT for slices, stacks, sides, rings means 8; for texture sets, 1).
    virtual HRESULT D3DXCreatePolygon(IDirect3DDevice7* device, float sideSize, DWORD sides,
                                      DWORD texCoords, ID3DXSimpleShape** shape) = 0;
    virtual HRESULT D3DXCreateBox(IDirect3DDevice7* device, float width, float height, float depth,
                                  DWORD texCoords, ID3DXSimpleShape** shape) = 0;
    virtual HRESULT D3DXCreateCylinder(IDirect3DDevice7* device, float baseRadius, float topRadius,
                                       float height, DWORD slices, DWORD stacks, DWORD texCoords,
                                       ID3DXSimpleShape** shape) = 0;
    virtual HRESULT D3DXCreateSphere(IDirect3DDevice7* device, float radius, DWORD slices,
                                     DWORD stacks, DWORD texCoords, ID3DXSimpleShape** shape) = 0;
    virtual HRESULT D3DXCreateTorus(IDirect3DDevice7* device, float innerRadius, float outerRadius,
                                    DWORD sides, DWORD rings, DWORD texCoords, ID3DXSimpleShape** shape) = 0;
    virtual HRESULT D3DXCreateTeapot(IDirect3DDevice7* device, DWORD texCoords, ID3DXSimpleShape** shape) = 0;

    // Sprites
    virtual HRESULT D3DXPrepareDeviceForSprite(IDirect3DDevice7* device, BOOL zEnable) = 0;
    virtual HRESULT D3DXDrawSpriteSimple(IDirectDrawSurface7* texture, IDirect3DDevice7* device,
                                         const D3DXVECTOR3* destination, float alpha, float scale,
                                         float angle, const D3DXVECTOR2* offset, const RECT* source) = 0;

    // Textures from image files (BMP, TGA, PNG, JPEG, ...).
    virtual HRESULT D3DXCreateTextureFromFile(IDirect3DDevice7* device, DWORD* flags, DWORD* width,
                                              DWORD* height, D3DX_SURFACEFORMAT* format,
                                              IDirectDrawPalette* palette, IDirectDrawSurface7** surface,
                                              DWORD* mipLevels, LPSTR file, D3DX_FILTERTYPE filter) = 0;

    // DirectDraw creation ("ddraw.dll"): a DirectDraw 7 object for the default display driver
    // (guid null). DirectDrawCreate hands out the same object as IUnknown.
    virtual HRESULT DirectDrawCreateEx(GUID* guid, void** dd, REFIID iid, IUnknown* outer) = 0;
    virtual HRESULT DirectDrawCreate(GUID* guid, IUnknown** dd, IUnknown* outer) = 0;

protected:
    ~Backend() = default;
};

// The back end in use by this component: the installed one, else the default (OpenGL).
VANTOR_API Backend& backend();
// Installs a back end (nullptr restores the default); returns the previous installed one.
VANTOR_API Backend* install(Backend* b);
// Sets the default back end (the component does this when it loads).
VANTOR_API void set_default(Backend* b);

// Handle types of the back-end interfaces.
enum : uint16_t {
    kHandleDirectDraw = kHandleFirstComponentType,
    kHandleDirect3D,
    kHandleDirect3DDevice,
    kHandleSurface,
    kHandlePalette,
    kHandleContext,
};
template <class I>
struct handle_type;
template <> struct handle_type<IDirectDraw7> { static constexpr uint16_t value = kHandleDirectDraw; };
template <> struct handle_type<IDirect3D7> { static constexpr uint16_t value = kHandleDirect3D; };
template <> struct handle_type<IDirect3DDevice7> { static constexpr uint16_t value = kHandleDirect3DDevice; };
template <> struct handle_type<IDirectDrawSurface7> { static constexpr uint16_t value = kHandleSurface; };
template <> struct handle_type<IDirectDrawPalette> { static constexpr uint16_t value = kHandlePalette; };
template <> struct handle_type<ID3DXContext> { static constexpr uint16_t value = kHandleContext; };

// The interface behind a handle, nullptr when the handle is stale or of another type.
template <class I>
I* from_handle(uint32_t h) {
    return static_cast<I*>(HandleResolve(h, handle_type<I>::value));
}
// The handle of a back-end interface pointer (0 for nullptr or an object without one).
template <class I>
uint32_t to_handle(I* p) {
    return p ? HandleOf(handle_type<I>::value, static_cast<const void*>(p)) : 0;
}
// For implementations: enter / leave the table (call from constructor and destructor with the
// interface pointer, not the implementation's `this`).
template <class I>
uint32_t enter_handle(I* p) {
    return HandleCreate(handle_type<I>::value, static_cast<void*>(p));
}

}  // namespace vantor::backend
