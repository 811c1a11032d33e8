// The capabilities every back end's device reports.
#include <vantor/backend/device_state.h>

namespace vantor::backend {
namespace {

// Direct3D values the header does not name.
constexpr DWORD kRasterCapsAnisotropy = 0x20000;
constexpr DWORD kShadeSpecularFlatRgb = 0x80;
constexpr DWORD kShadeAlphaFlatBlend = 0x1000;
constexpr DWORD kShadeFogFlat = 0x40000;
constexpr DWORD kFilterLegacy = 0x3F;  // D3DPTFILTERCAPS_NEAREST .. LINEARMIPLINEAR
constexpr WORD kStages = 8;

D3DPRIMCAPS primitive_caps(float max_anisotropy) {
    D3DPRIMCAPS c{};
    c.dwSize = sizeof c;
    c.dwMiscCaps = D3DPMISCCAPS_MASKZ | D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW;
    c.dwRasterCaps = D3DPRASTERCAPS_DITHER | D3DPRASTERCAPS_ZTEST | D3DPRASTERCAPS_FOGVERTEX | D3DPRASTERCAPS_FOGTABLE |
                     D3DPRASTERCAPS_MIPMAPLODBIAS | D3DPRASTERCAPS_ZBIAS | D3DPRASTERCAPS_FOGRANGE |
                     D3DPRASTERCAPS_WFOG | (max_anisotropy > 1.0f ? kRasterCapsAnisotropy : 0);
    c.dwZCmpCaps = 0xFF;        // every D3DCMP function
    c.dwSrcBlendCaps = 0x1FFF;  // ZERO .. BOTHINVSRCALPHA
    c.dwDestBlendCaps = 0x7FF;  // ZERO .. SRCALPHASAT
    c.dwAlphaCmpCaps = 0xFF;
    c.dwShadeCaps = D3DPSHADECAPS_COLORFLATRGB | D3DPSHADECAPS_COLORGOURAUDRGB | kShadeSpecularFlatRgb |
                    D3DPSHADECAPS_SPECULARGOURAUDRGB | kShadeAlphaFlatBlend | D3DPSHADECAPS_ALPHAGOURAUDBLEND |
                    kShadeFogFlat | D3DPSHADECAPS_FOGGOURAUD;
    // No POW2 and no SQUAREONLY: textures take any size.
    c.dwTextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_TRANSPARENCY |
                      D3DPTEXTURECAPS_BORDER | D3DPTEXTURECAPS_TEXREPEATNOTSCALEDBYSIZE |
                      D3DPTEXTURECAPS_ALPHAPALETTE | D3DPTEXTURECAPS_PROJECTED;
    c.dwTextureFilterCaps = kFilterLegacy | D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR |
                            D3DPTFILTERCAPS_MIPFPOINT | D3DPTFILTERCAPS_MIPFLINEAR | D3DPTFILTERCAPS_MAGFPOINT |
                            D3DPTFILTERCAPS_MAGFLINEAR |
                            (max_anisotropy > 1.0f ? D3DPTFILTERCAPS_MINFANISOTROPIC | D3DPTFILTERCAPS_MAGFANISOTROPIC : 0);
    c.dwTextureBlendCaps = 0;  // the legacy TEXTUREMAPBLEND is refused on this interface
    c.dwTextureAddressCaps = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP |
                             D3DPTADDRESSCAPS_BORDER | D3DPTADDRESSCAPS_INDEPENDENTUV;
    return c;
}

}  // namespace

D3DDEVICEDESC7 device_caps(const GUID& type, DWORD max_texture_size, float max_anisotropy) {
    D3DDEVICEDESC7 d{};
    bool hardware = type != IID_IDirect3DRGBDevice;
    d.dwDevCaps = D3DDEVCAPS_FLOATTLVERTEX | D3DDEVCAPS_TEXTURESYSTEMMEMORY | D3DDEVCAPS_DRAWPRIMTLVERTEX |
                  D3DDEVCAPS_CANRENDERAFTERFLIP | D3DDEVCAPS_DRAWPRIMITIVES2 | D3DDEVCAPS_DRAWPRIMITIVES2EX |
                  (hardware ? D3DDEVCAPS_TEXTUREVIDEOMEMORY | D3DDEVCAPS_HWRASTERIZATION : 0) |
                  (type == IID_IDirect3DTnLHalDevice ? D3DDEVCAPS_HWTRANSFORMANDLIGHT : 0);
    d.dpcLineCaps = d.dpcTriCaps = primitive_caps(max_anisotropy);
    d.dwDeviceRenderBitDepth = DDBD_16 | DDBD_32;
    d.dwDeviceZBufferBitDepth = DDBD_16 | DDBD_24 | DDBD_32;
    d.dwMinTextureWidth = d.dwMinTextureHeight = 1;
    d.dwMaxTextureWidth = d.dwMaxTextureHeight = max_texture_size;
    d.dwMaxTextureRepeat = 32768;
    d.dwMaxTextureAspectRatio = 0;  // no limit
    d.dwMaxAnisotropy = static_cast<DWORD>(max_anisotropy);
    d.dwStencilCaps = 0xFF;  // every D3DSTENCILOP
    d.dwFVFCaps = 8 | D3DFVFCAPS_DONOTSTRIPELEMENTS;
    d.dwTextureOpCaps = 0xFFFFFF;  // every D3DTOP, 1 << (op - 1)
    d.wMaxTextureBlendStages = d.wMaxSimultaneousTextures = kStages;
    d.dwMaxActiveLights = kMaxActiveLights;
    d.dvMaxVertexW = 1.0e10f;
    d.deviceGUID = type;
    d.wMaxUserClipPlanes = 0;
    d.wMaxVertexBlendMatrices = 4;
    d.dwVertexProcessingCaps = D3DVTXPCAPS_TEXGEN | D3DVTXPCAPS_MATERIALSOURCE7 | D3DVTXPCAPS_VERTEXFOG |
                               D3DVTXPCAPS_DIRECTIONALLIGHTS | D3DVTXPCAPS_POSITIONALLIGHTS | D3DVTXPCAPS_LOCALVIEWER;
    return d;
}

}  // namespace vantor::backend
