// vantor/backend/ddraw.h — DirectDraw 7: the DirectDraw object, surfaces and palettes.
//
//   IDirectDraw7* dd;  ... from the utility context (ID3DXContext::GetDD) or DirectDrawCreateEx
//   DDSURFACEDESC2 sd{}; sd.dwSize = sizeof sd;
//   sd.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
//   sd.ddsCaps.dwCaps = DDSCAPS_TEXTURE; sd.dwWidth = 64; sd.dwHeight = 64; sd.ddpfPixelFormat = ...;
//   IDirectDrawSurface7* tex; dd->CreateSurface(&sd, &tex, nullptr);
//   tex->Lock(nullptr, &sd, DDLOCK_WAIT, 0);  ... write sd.lpSurface rows, sd.lPitch apart ...
//   tex->Unlock(nullptr);
//
// Records keep DirectDraw 7's field order; DDSURFACEDESC2 holds a pointer (lpSurface), so its
// size (dwSize) is sizeof(DDSURFACEDESC2) on this platform rather than 124.
#pragma once

#include <vantor/backend/d3dtypes.h>

struct IDirectDraw7;
struct IDirectDrawSurface7;
struct IDirectDrawPalette;
struct IDirectDrawClipper;

struct DDCOLORKEY {
    DWORD dwColorSpaceLowValue;
    DWORD dwColorSpaceHighValue;
};
struct DDPIXELFORMAT {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwFourCC;
    union {
        DWORD dwRGBBitCount;
        DWORD dwZBufferBitDepth;
        DWORD dwLuminanceBitCount;
        DWORD dwBumpBitCount;
    };
    union {
        DWORD dwRBitMask;
        DWORD dwZBitMask;
        DWORD dwLuminanceBitMask;
        DWORD dwBumpDuBitMask;
    };
    union {
        DWORD dwGBitMask;
        DWORD dwStencilBitMask;
        DWORD dwBumpDvBitMask;
    };
    union {
        DWORD dwBBitMask;
        DWORD dwBumpLuminanceBitMask;
    };
    union {
        DWORD dwRGBAlphaBitMask;
        DWORD dwRGBZBitMask;
        DWORD dwLuminanceAlphaBitMask;
    };
};
static_assert(sizeof(DDPIXELFORMAT) == 32, "DDPIXELFORMAT keeps DirectDraw's layout");

struct DDSCAPS2 {
    DWORD dwCaps;
    DWORD dwCaps2;
    DWORD dwCaps3;
    DWORD dwCaps4;
};
struct DDSURFACEDESC2 {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwHeight;
    DWORD dwWidth;
    LONG lPitch;
    DWORD dwBackBufferCount;
    DWORD dwMipMapCount;
    DWORD dwAlphaBitDepth;
    DWORD dwReserved;
    void* lpSurface;
    DDCOLORKEY ddckCKDestOverlay;
    DDCOLORKEY ddckCKDestBlt;
    DDCOLORKEY ddckCKSrcOverlay;
    DDCOLORKEY ddckCKSrcBlt;
    DDPIXELFORMAT ddpfPixelFormat;
    DDSCAPS2 ddsCaps;
    DWORD dwTextureStage;
};

struct PALETTEENTRY {
    BYTE peRed, peGreen, peBlue, peFlags;
};

struct DDBLTFX {
    DWORD dwSize;
    DWORD dwDDFX;
    DWORD dwROP;
    DWORD dwDDROP;
    DWORD dwRotationAngle;
    DWORD dwZBufferOpCode;
    DWORD dwZBufferLow;
    DWORD dwZBufferHigh;
    DWORD dwZBufferBaseDest;
    DWORD dwZDestConstBitDepth;
    DWORD dwZDestConst;
    DWORD dwZSrcConstBitDepth;
    DWORD dwZSrcConst;
    DWORD dwAlphaEdgeBlendBitDepth;
    DWORD dwAlphaEdgeBlend;
    DWORD dwReserved;
    DWORD dwAlphaDestConstBitDepth;
    DWORD dwAlphaDestConst;
    DWORD dwAlphaSrcConstBitDepth;
    DWORD dwAlphaSrcConst;
    DWORD dwFillColor;
    DDCOLORKEY ddckDestColorkey;
    DDCOLORKEY ddckSrcColorkey;
};

// DDSURFACEDESC2.dwFlags
#define DDSD_CAPS 0x1
#define DDSD_HEIGHT 0x2
#define DDSD_WIDTH 0x4
#define DDSD_PITCH 0x8
#define DDSD_BACKBUFFERCOUNT 0x20
#define DDSD_ZBUFFERBITDEPTH 0x40
#define DDSD_ALPHABITDEPTH 0x80
#define DDSD_LPSURFACE 0x800
#define DDSD_PIXELFORMAT 0x1000
#define DDSD_CKSRCBLT 0x10000
#define DDSD_MIPMAPCOUNT 0x20000
#define DDSD_LINEARSIZE 0x80000
#define DDSD_TEXTURESTAGE 0x100000
#define DDSD_ALL 0xFFF9EE

// DDSCAPS2.dwCaps
#define DDSCAPS_ALPHA 0x2
#define DDSCAPS_BACKBUFFER 0x4
#define DDSCAPS_COMPLEX 0x8
#define DDSCAPS_FLIP 0x10
#define DDSCAPS_FRONTBUFFER 0x20
#define DDSCAPS_OFFSCREENPLAIN 0x40
#define DDSCAPS_PALETTE 0x100
#define DDSCAPS_PRIMARYSURFACE 0x200
#define DDSCAPS_SYSTEMMEMORY 0x800
#define DDSCAPS_TEXTURE 0x1000
#define DDSCAPS_3DDEVICE 0x2000
#define DDSCAPS_VIDEOMEMORY 0x4000
#define DDSCAPS_ZBUFFER 0x20000
#define DDSCAPS_MIPMAP 0x400000
#define DDSCAPS_LOCALVIDMEM 0x10000000
#define DDSCAPS_NONLOCALVIDMEM 0x20000000
// DDSCAPS2.dwCaps2
#define DDSCAPS2_HINTDYNAMIC 0x4
#define DDSCAPS2_HINTSTATIC 0x8
#define DDSCAPS2_TEXTUREMANAGE 0x10
#define DDSCAPS2_OPAQUE 0x80
#define DDSCAPS2_CUBEMAP 0x200
#define DDSCAPS2_D3DTEXTUREMANAGE 0x20000

// DDPIXELFORMAT.dwFlags
#define DDPF_ALPHAPIXELS 0x1
#define DDPF_ALPHA 0x2
#define DDPF_FOURCC 0x4
#define DDPF_PALETTEINDEXED4 0x8
#define DDPF_PALETTEINDEXED8 0x20
#define DDPF_RGB 0x40
#define DDPF_ZBUFFER 0x400
#define DDPF_LUMINANCE 0x20000
#define DDPF_BUMPLUMINANCE 0x40000
#define DDPF_BUMPDUDV 0x80000

// Lock / Blt / palettes / cooperative levels
#define DDLOCK_WAIT 0x1
#define DDLOCK_READONLY 0x10
#define DDLOCK_WRITEONLY 0x20
#define DDLOCK_NOSYSLOCK 0x800
#define DDLOCK_DISCARDCONTENTS 0x2000
#define DDLOCK_DONOTWAIT 0x4000
#define DDBLT_COLORFILL 0x400
#define DDBLT_KEYSRC 0x8000
#define DDBLT_WAIT 0x1000000
#define DDBLT_DONOTWAIT 0x8000000
#define DDPCAPS_4BIT 0x1
#define DDPCAPS_8BIT 0x4
#define DDPCAPS_ALLOW256 0x40
#define DDPCAPS_ALPHA 0x400
#define DDCKEY_SRCBLT 0x8
#define DDSCL_FULLSCREEN 0x1
#define DDSCL_NORMAL 0x8
#define DDSCL_EXCLUSIVE 0x10
#define DDSCL_MULTITHREADED 0x400
#define DDSCL_FPUSETUP 0x800
#define DDSCL_FPUPRESERVE 0x1000

// Result codes
#define DD_OK S_OK
#define DDERR_GENERIC E_FAIL
#define DDERR_INVALIDPARAMS E_INVALIDARG
#define DDERR_OUTOFMEMORY E_OUTOFMEMORY
#define DDERR_UNSUPPORTED E_NOTIMPL
#define DDERR_CANNOTATTACHSURFACE MAKE_DDHRESULT(10)
#define DDERR_INCOMPATIBLEPRIMARY MAKE_DDHRESULT(95)
#define DDERR_INVALIDCAPS MAKE_DDHRESULT(100)
#define DDERR_INVALIDCLIPLIST MAKE_DDHRESULT(110)
#define DDERR_INVALIDMODE MAKE_DDHRESULT(120)
#define DDERR_INVALIDOBJECT MAKE_DDHRESULT(130)
#define DDERR_INVALIDPIXELFORMAT MAKE_DDHRESULT(145)
#define DDERR_INVALIDRECT MAKE_DDHRESULT(150)
#define DDERR_LOCKEDSURFACES MAKE_DDHRESULT(160)
#define DDERR_NOALPHAHW MAKE_DDHRESULT(180)
#define DDERR_NOCLIPLIST MAKE_DDHRESULT(205)
#define DDERR_NOCOOPERATIVELEVELSET MAKE_DDHRESULT(212)
#define DDERR_NOEXCLUSIVEMODE MAKE_DDHRESULT(225)
#define DDERR_NOFLIPHW MAKE_DDHRESULT(230)
#define DDERR_NOMIRRORHW MAKE_DDHRESULT(250)
#define DDERR_NOTFOUND MAKE_DDHRESULT(255)
#define DDERR_NOOVERLAYHW MAKE_DDHRESULT(260)
#define DDERR_NORASTEROPHW MAKE_DDHRESULT(280)
#define DDERR_NOROTATIONHW MAKE_DDHRESULT(290)
#define DDERR_NOSTRETCHHW MAKE_DDHRESULT(310)
#define DDERR_NOT8BITCOLOR MAKE_DDHRESULT(320)
#define DDERR_NOTEXTUREHW MAKE_DDHRESULT(330)
#define DDERR_NOZBUFFERHW MAKE_DDHRESULT(340)
#define DDERR_OUTOFVIDEOMEMORY MAKE_DDHRESULT(380)
#define DDERR_SURFACEALREADYATTACHED MAKE_DDHRESULT(410)
#define DDERR_SURFACEBUSY MAKE_DDHRESULT(430)
#define DDERR_SURFACELOST MAKE_DDHRESULT(450)
#define DDERR_SURFACENOTATTACHED MAKE_DDHRESULT(460)
#define DDERR_TOOBIGHEIGHT MAKE_DDHRESULT(470)
#define DDERR_TOOBIGSIZE MAKE_DDHRESULT(480)
#define DDERR_TOOBIGWIDTH MAKE_DDHRESULT(490)
#define DDERR_UNSUPPORTEDFORMAT MAKE_DDHRESULT(510)
#define DDERR_WASSTILLDRAWING MAKE_DDHRESULT(540)
#define DDERR_NODIRECTDRAWHW MAKE_DDHRESULT(563)
#define DDERR_PRIMARYSURFACEALREADYEXISTS MAKE_DDHRESULT(564)
#define DDERR_NOEMULATION MAKE_DDHRESULT(565)
#define DDERR_NOCLIPPERATTACHED MAKE_DDHRESULT(568)
#define DDERR_NOPALETTEATTACHED MAKE_DDHRESULT(572)
#define DDERR_NOPALETTEHW MAKE_DDHRESULT(573)
#define DDERR_NOBLTHW MAKE_DDHRESULT(575)
#define DDERR_NODDROPSHW MAKE_DDHRESULT(576)
#define DDERR_NOTFLIPPABLE MAKE_DDHRESULT(582)
#define DDERR_NOTLOCKED MAKE_DDHRESULT(584)
#define DDERR_CANTCREATEDC MAKE_DDHRESULT(585)
#define DDERR_NODC MAKE_DDHRESULT(586)
#define DDERR_WRONGMODE MAKE_DDHRESULT(587)
#define DDERR_IMPLICITLYCREATED MAKE_DDHRESULT(588)
#define DDERR_NOTPALETTIZED MAKE_DDHRESULT(589)
#define DDERR_UNSUPPORTEDMODE MAKE_DDHRESULT(590)
#define DDERR_NOMIPMAPHW MAKE_DDHRESULT(591)
#define DDERR_INVALIDSURFACETYPE MAKE_DDHRESULT(592)
#define DDERR_DCALREADYCREATED MAKE_DDHRESULT(620)
#define DDERR_NOTINITIALIZED CO_E_NOTINITIALIZED

struct IDirectDrawPalette : IUnknown {
    virtual HRESULT GetCaps(DWORD* caps) = 0;
    virtual HRESULT GetEntries(DWORD flags, DWORD base, DWORD count, PALETTEENTRY* entries) = 0;
    virtual HRESULT SetEntries(DWORD flags, DWORD start, DWORD count, const PALETTEENTRY* entries) = 0;
};

struct IDirectDrawSurface7 : IUnknown {
    // Copies `src` (or a rectangle of it) onto this surface (or a rectangle of it), scaling when
    // the sizes differ and converting pixel formats; DDBLT_COLORFILL fills with fx->dwFillColor.
    virtual HRESULT Blt(RECT* dst, IDirectDrawSurface7* src, RECT* srcRect, DWORD flags, DDBLTFX* fx) = 0;
    virtual HRESULT GetSurfaceDesc(DDSURFACEDESC2* desc) = 0;
    virtual HRESULT GetPixelFormat(DDPIXELFORMAT* format) = 0;
    // Maps the pixels: desc->lpSurface and lPitch; DDERR_SURFACEBUSY when already locked.
    virtual HRESULT Lock(RECT* rect, DDSURFACEDESC2* desc, DWORD flags, HANDLE event) = 0;
    virtual HRESULT Unlock(RECT* rect) = 0;  // DDERR_NOTLOCKED when not locked
    virtual HRESULT GetDC(HDC* dc) = 0;       // a GDI device context over the pixels
    virtual HRESULT ReleaseDC(HDC dc) = 0;
    virtual HRESULT SetPalette(IDirectDrawPalette* palette) = 0;
    virtual HRESULT GetPalette(IDirectDrawPalette** palette) = 0;
    virtual HRESULT SetColorKey(DWORD flags, DDCOLORKEY* key) = 0;
    virtual HRESULT GetDDInterface(void** dd) = 0;  // the IDirectDraw7 (counted)
    virtual HRESULT IsLost() = 0;
    virtual HRESULT Restore() = 0;
};

struct IDirectDraw7 : IUnknown {
    virtual HRESULT SetCooperativeLevel(HWND window, DWORD flags) = 0;
    // Display modes are a recorded virtual mode: setting one never changes the real screen.
    virtual HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refresh, DWORD flags) = 0;
    virtual HRESULT GetDisplayMode(DDSURFACEDESC2* desc) = 0;
    virtual HRESULT RestoreDisplayMode() = 0;
    virtual HRESULT CreateSurface(DDSURFACEDESC2* desc, IDirectDrawSurface7** surface, IUnknown* outer) = 0;
    virtual HRESULT CreatePalette(DWORD flags, PALETTEENTRY* entries, IDirectDrawPalette** palette,
                                  IUnknown* outer) = 0;
};

VANTOR_DEFINE_UUID(IDirectDraw7, IID_IDirectDraw7, 0x15E65EC0, 0x3B9C, 0x11D2, 0xB9, 0x2F, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B)
VANTOR_DEFINE_UUID(IDirectDrawSurface7, IID_IDirectDrawSurface7, 0x06675A80, 0x3B9B, 0x11D2, 0xB9, 0x2F, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B)
VANTOR_DEFINE_UUID(IDirectDrawPalette, IID_IDirectDrawPalette, 0x6C14DB84, 0xA733, 0x11CE, 0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60)
