// vantor/backend/d3d.h — the Direct3D 7 object, device and vertex buffers.
//
//   IDirect3DDevice7* dev;  ... from ID3DXContext::GetD3DDevice
//   dev->BeginScene();
//   dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
//   dev->SetTransform(D3DTRANSFORMSTATE_WORLD, &world);
//   D3DVERTEX tri[3] = {...};
//   dev->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_VERTEX, tri, 3, 0);
//   dev->EndScene();
//
// Values, defaults and results are Direct3D 7's (vantor/backend/d3dtypes.h). Invalid
// arguments give DDERR_INVALIDPARAMS: null or mis-sized records, unknown states, stages beyond
// 7, vertex counts beyond the buffers, indices outside the vertex range.
#pragma once

#include <vantor/backend/ddraw.h>

struct IDirect3DDevice7;
struct IDirect3DVertexBuffer7;

typedef HRESULT (*LPD3DENUMPIXELFORMATSCALLBACK)(DDPIXELFORMAT* format, void* context);

struct D3DVERTEXBUFFERDESC {
    DWORD dwSize;
    DWORD dwCaps;
    DWORD dwFVF;
    DWORD dwNumVertices;
};
#define D3DVBCAPS_SYSTEMMEMORY 0x800
#define D3DVBCAPS_WRITEONLY 0x10000
#define D3DVBCAPS_OPTIMIZED 0x80000000

struct IDirect3DVertexBuffer7 : IUnknown {
    virtual HRESULT Lock(DWORD flags, void** data, DWORD* size) = 0;
    virtual HRESULT Unlock() = 0;
    virtual HRESULT GetVertexBufferDesc(D3DVERTEXBUFFERDESC* desc) = 0;
    // Prepares the buffer for `device`; afterwards it cannot be locked (D3DERR_VERTEXBUFFEROPTIMIZED).
    virtual HRESULT Optimize(IDirect3DDevice7* device, DWORD flags) = 0;
};

struct IDirect3D7 : IUnknown {
    virtual HRESULT CreateVertexBuffer(D3DVERTEXBUFFERDESC* desc, IDirect3DVertexBuffer7** vb, DWORD flags) = 0;
    virtual HRESULT EnumZBufferFormats(REFCLSID device, LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) = 0;
};

struct IDirect3DDevice7 : IUnknown {
    virtual HRESULT GetCaps(D3DDEVICEDESC7* desc) = 0;
    virtual HRESULT EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) = 0;
    virtual HRESULT BeginScene() = 0;
    virtual HRESULT EndScene() = 0;
    virtual HRESULT GetDirect3D(IDirect3D7** d3d) = 0;
    virtual HRESULT SetRenderTarget(IDirectDrawSurface7* surface, DWORD flags) = 0;
    virtual HRESULT GetRenderTarget(IDirectDrawSurface7** surface) = 0;
    virtual HRESULT Clear(DWORD count, D3DRECT* rects, DWORD flags, D3DCOLOR colour, D3DVALUE z, DWORD stencil) = 0;
    virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) = 0;
    virtual HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) = 0;
    virtual HRESULT SetViewport(D3DVIEWPORT7* viewport) = 0;
    virtual HRESULT MultiplyTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) = 0;
    virtual HRESULT GetViewport(D3DVIEWPORT7* viewport) = 0;
    virtual HRESULT SetMaterial(D3DMATERIAL7* material) = 0;
    virtual HRESULT GetMaterial(D3DMATERIAL7* material) = 0;
    virtual HRESULT SetLight(DWORD index, D3DLIGHT7* light) = 0;
    virtual HRESULT GetLight(DWORD index, D3DLIGHT7* light) = 0;
    virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
    virtual HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) = 0;
    virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD count, DWORD flags) = 0;
    virtual HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD vertexCount,
                                         WORD* indices, DWORD indexCount, DWORD flags) = 0;
    virtual HRESULT DrawPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* vb, DWORD start,
                                    DWORD count, DWORD flags) = 0;
    virtual HRESULT DrawIndexedPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* vb, DWORD start,
                                           DWORD vertexCount, WORD* indices, DWORD indexCount, DWORD flags) = 0;
    virtual HRESULT GetTexture(DWORD stage, IDirectDrawSurface7** texture) = 0;  // counted
    virtual HRESULT SetTexture(DWORD stage, IDirectDrawSurface7* texture) = 0;
    virtual HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD* value) = 0;
    virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) = 0;
    virtual HRESULT LightEnable(DWORD index, BOOL enable) = 0;
    virtual HRESULT GetLightEnable(DWORD index, BOOL* enable) = 0;
    virtual HRESULT GetInfo(DWORD id, void* info, DWORD size) = 0;
};

VANTOR_DEFINE_UUID(IDirect3D7, IID_IDirect3D7, 0xF5049E77, 0x4861, 0x11D2, 0xA4, 0x07, 0x00, 0xA0, 0xC9, 0x06, 0x29, 0xA8)
VANTOR_DEFINE_UUID(IDirect3DDevice7, IID_IDirect3DDevice7, 0xF5049E79, 0x4861, 0x11D2, 0xA4, 0x07, 0x00, 0xA0, 0xC9, 0x06, 0x29, 0xA8)
VANTOR_DEFINE_UUID(IDirect3DVertexBuffer7, IID_IDirect3DVertexBuffer7, 0xF5049E7D, 0x4861, 0x11D2, 0xA4, 0x07, 0x00, 0xA0, 0xC9, 0x06, 0x29, 0xA8)
// Device type identifiers (D3DDEVICEDESC7::deviceGUID)
inline constexpr GUID IID_IDirect3DRGBDevice = {0xA4665C60, 0x2673, 0x11CF, {0xA3, 0x1A, 0x00, 0xAA, 0x00, 0xB9, 0x33, 0x56}};
inline constexpr GUID IID_IDirect3DHALDevice = {0x84E63DE0, 0x46AA, 0x11CF, {0x81, 0x6F, 0x00, 0x00, 0xC0, 0x20, 0x15, 0x6E}};
inline constexpr GUID IID_IDirect3DTnLHalDevice = {0xF5049E78, 0x4861, 0x11D2, {0xA4, 0x07, 0x00, 0xA0, 0xC9, 0x06, 0x29, 0xA8}};
inline constexpr GUID IID_IDirect3DRefDevice = {0x50936643, 0x13E9, 0x11D1, {0x89, 0xAA, 0x00, 0xA0, 0xC9, 0x05, 0x41, 0x29}};
