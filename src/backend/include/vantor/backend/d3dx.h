// vantor/backend/d3dx.h — the rendering utility layer: devices, contexts, shapes, sprites.
//
//   backend().D3DXInitialize();
//   ID3DXContext* ctx;
//   backend().D3DXCreateContext(D3DX_DEFAULT, 0, window, 640, 480, &ctx);
//   ctx->SetClearColor(0xFF202040); ctx->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
//   ctx->DrawDebugText(0.01f, 0.01f, 0xFFFFFFFF, (LPSTR)"hello");
//   ctx->UpdateFrame(D3DX_UPDATE_NOVSYNC);          // presents into the window
//   ctx->Release(); backend().D3DXUninitialize();
//
// Results are the utility layer's (D3DXERR_*, 0xC8770BB8 + n) or DirectDraw's.
#pragma once

#include <vantor/backend/d3d.h>

#define D3DX_DEFAULT 0xFFFFFFFFu
#define D3DX_CONTEXT_FULLSCREEN 0x1
#define D3DX_CONTEXT_OFFSCREEN 0x2
#define D3DX_UPDATE_NOVSYNC 0x1
#define D3DX_SC_DEPTHBUFFER 0x1
#define D3DX_SC_STENCILBUFFER 0x2
#define D3DX_SC_COLORTEXTURE 0x4
#define D3DX_SC_BUMPMAP 0x8
#define D3DX_SC_LUMINANCEMAP 0x10
#define D3DX_SC_COLORRENDERTGT 0x20

enum D3DX_SURFACEFORMAT : int32_t {
    D3DX_SF_UNKNOWN = 0,
    D3DX_SF_R8G8B8 = 1,
    D3DX_SF_A8R8G8B8 = 2,
    D3DX_SF_X8R8G8B8 = 3,
    D3DX_SF_R5G6B5 = 4,
    D3DX_SF_R5G5B5 = 5,
    D3DX_SF_PALETTE4 = 6,
    D3DX_SF_PALETTE8 = 7,
    D3DX_SF_A1R5G5B5 = 8,
    D3DX_SF_X4R4G4B4 = 9,
    D3DX_SF_A4R4G4B4 = 10,
    D3DX_SF_L8 = 11,
    D3DX_SF_A8L8 = 12,
    D3DX_SF_U8V8 = 13,
    D3DX_SF_U5V5L6 = 14,
    D3DX_SF_U8V8L8 = 15,
    D3DX_SF_UYVY = 16,
    D3DX_SF_YUY2 = 17,
    D3DX_SF_DXT1 = 18,
    D3DX_SF_DXT3 = 19,
    D3DX_SF_DXT5 = 20,
    D3DX_SF_R3G3B2 = 21,
    D3DX_SF_A8 = 22,
    D3DX_SF_TEXTUREMAX = 23,
    D3DX_SF_Z16S0 = 256,
    D3DX_SF_Z32S0 = 257,
    D3DX_SF_Z15S1 = 258,
    D3DX_SF_Z24S8 = 259,
    D3DX_SF_S1Z15 = 260,
    D3DX_SF_S8Z24 = 261,
    D3DX_SF_DEPTHMAX = 262,
};

enum D3DX_FILTERTYPE : int32_t { D3DX_FT_POINT = 1, D3DX_FT_LINEAR = 2, D3DX_FT_DEFAULT = (int32_t)D3DX_DEFAULT };
#define D3DX_TEXTURE_NOMIPMAP 0x100

// Hardware levels (D3DX_DEVICEDESC::hwLevel)
#define D3DX_HWLEVEL_NULL 0xFFFFFFFEu       // -2
#define D3DX_HWLEVEL_REFERENCE 0xFFFFFFFDu  // -3
#define D3DX_HWLEVEL_2D 0xFFFFFFFCu         // -4
#define D3DX_HWLEVEL_RASTER 0xFFFFFFFBu     // -5
#define D3DX_HWLEVEL_TL 0xFFFFFFFAu         // -6

struct D3DX_DEVICEDESC {
    DWORD deviceIndex;
    DWORD hwLevel;
    GUID ddGuid;
    GUID d3dDeviceGuid;
    GUID ddDeviceID;
    char driverDesc[256];
    HMONITOR monitor;
    BOOL onPrimary;
};
static_assert(sizeof(D3DX_DEVICEDESC) == 320, "D3DX_DEVICEDESC keeps its 320-byte layout");

struct D3DX_VIDMODEDESC {
    DWORD width;
    DWORD height;
    DWORD bpp;
    DWORD refreshRate;
};

struct D3DXVECTOR2 {
    float x, y;
};
struct D3DXVECTOR3 {
    float x, y, z;
};

// Utility layer result codes
#define D3DXERR_NOMEMORY ((HRESULT)0xC8770BB8)
#define D3DXERR_NULLPOINTER ((HRESULT)0xC8770BB9)
#define D3DXERR_INVALIDD3DXDEVICEINDEX ((HRESULT)0xC8770BBA)
#define D3DXERR_NODIRECTDRAWAVAILABLE ((HRESULT)0xC8770BBB)
#define D3DXERR_NODIRECT3DAVAILABLE ((HRESULT)0xC8770BBC)
#define D3DXERR_NODIRECT3DDEVICEAVAILABLE ((HRESULT)0xC8770BBD)
#define D3DXERR_NOPRIMARYAVAILABLE ((HRESULT)0xC8770BBE)
#define D3DXERR_NOZBUFFERAVAILABLE ((HRESULT)0xC8770BBF)
#define D3DXERR_NOBACKBUFFERAVAILABLE ((HRESULT)0xC8770BC0)
#define D3DXERR_COULDNTUPDATECAPS ((HRESULT)0xC8770BC1)
#define D3DXERR_NOZBUFFER ((HRESULT)0xC8770BC2)
#define D3DXERR_INVALIDMODE ((HRESULT)0xC8770BC3)
#define D3DXERR_INVALIDPARAMETER ((HRESULT)0xC8770BC4)
#define D3DXERR_INITFAILED ((HRESULT)0xC8770BC5)
#define D3DXERR_STARTUPFAILED ((HRESULT)0xC8770BC6)
#define D3DXERR_D3DXNOTSTARTEDYET ((HRESULT)0xC8770BC7)
#define D3DXERR_NOTINITIALIZED ((HRESULT)0xC8770BC8)
#define D3DXERR_FAILEDDRAWTEXT ((HRESULT)0xC8770BC9)
#define D3DXERR_BADD3DXCONTEXT ((HRESULT)0xC8770BCA)
#define D3DXERR_CAPSNOTSUPPORTED ((HRESULT)0xC8770BCB)
#define D3DXERR_UNSUPPORTEDFILEFORMAT ((HRESULT)0xC8770BCC)
#define D3DXERR_IFLERROR ((HRESULT)0xC8770BCD)
#define D3DXERR_FAILEDGETCAPS ((HRESULT)0xC8770BCE)
#define D3DXERR_CANNOTRESIZEFULLSCREEN ((HRESULT)0xC8770BCF)
#define D3DXERR_CANNOTRESIZENONWINDOWED ((HRESULT)0xC8770BD0)
#define D3DXERR_FRONTBUFFERALREADYEXISTS ((HRESULT)0xC8770BD1)
#define D3DXERR_FULLSCREENPRIMARYEXISTS ((HRESULT)0xC8770BD2)
#define D3DXERR_GETDCFAILED ((HRESULT)0xC8770BD3)
#define D3DXERR_BITBLTFAILED ((HRESULT)0xC8770BD4)
#define D3DXERR_NOTEXTURE ((HRESULT)0xC8770BD5)
#define D3DXERR_MIPLEVELABSENT ((HRESULT)0xC8770BD6)
#define D3DXERR_SURFACENOTPALETTED ((HRESULT)0xC8770BD7)
#define D3DXERR_ENUMFORMATSFAILED ((HRESULT)0xC8770BD8)
#define D3DXERR_COLORDEPTHTOOLOW ((HRESULT)0xC8770BD9)
#define D3DXERR_INVALIDFILEFORMAT ((HRESULT)0xC8770BDA)
#define D3DXERR_NOMATCHFOUND ((HRESULT)0xC8770BDB)

// A rendering context over a window (or the whole screen): back buffer, depth buffer, device.
struct ID3DXContext : IUnknown {
    virtual HRESULT GetPrimary(IDirectDrawSurface7** surface) = 0;    // counted
    virtual HRESULT GetZBuffer(IDirectDrawSurface7** surface) = 0;    // counted
    virtual HRESULT GetBackBuffer(DWORD which, IDirectDrawSurface7** surface) = 0;  // counted
    virtual HRESULT GetD3D(IDirect3D7** d3d) = 0;                     // counted
    virtual HRESULT GetD3DDevice(IDirect3DDevice7** device) = 0;      // counted
    virtual HRESULT GetDD(IDirectDraw7** dd) = 0;                     // counted
    virtual HWND GetWindow() = 0;
    virtual DWORD GetWidth() = 0;
    virtual DWORD GetHeight() = 0;
    // Presents the back buffer into the window (D3DX_UPDATE_NOVSYNC: without waiting).
    virtual HRESULT UpdateFrame(DWORD flags) = 0;
    // Draws text with its top-left at (x, y), fractions of the back buffer; colour 0xAARRGGBB.
    virtual HRESULT DrawDebugText(float x, float y, D3DCOLOR colour, LPSTR text) = 0;
    virtual HRESULT SetClearColor(D3DCOLOR colour) = 0;
    virtual D3DCOLOR GetClearColor() = 0;
    virtual HRESULT SetClearDepth(float z) = 0;
    virtual float GetClearDepth() = 0;
    virtual HRESULT SetClearStencil(DWORD stencil) = 0;
    virtual DWORD GetClearStencil() = 0;
    virtual HRESULT Clear(DWORD flags) = 0;  // D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, the viewport
    virtual HRESULT RestoreSurfaces() = 0;
    // New buffer sizes; D3DXERR_CANNOTRESIZEFULLSCREEN for a full-screen context.
    virtual HRESULT Resize(DWORD width, DWORD height) = 0;
};
VANTOR_DEFINE_UUID(ID3DXContext, IID_ID3DXContext, 0x9B74ED7A, 0xBBEF, 0x11D2, 0x9F, 0x8E, 0x00, 0x00, 0xF8, 0x08, 0x08, 0x35)

// A primitive shape made by the shape builders; Draw uses the device's current state.
struct ID3DXSimpleShape : IUnknown {
    virtual HRESULT GetVB(IDirect3DVertexBuffer7** vb) = 0;  // counted; S_OK with null when none
    virtual DWORD GetIndices(WORD** indices) = 0;
    virtual HRESULT Draw() = 0;
};
VANTOR_DEFINE_UUID(ID3DXSimpleShape, IID_ID3DXSimpleShape, 0xCFCD4602, 0xEB7B, 0x11D2, 0xA4, 0x40, 0x00, 0xA0, 0xC9, 0x06, 0x29, 0xA8)
