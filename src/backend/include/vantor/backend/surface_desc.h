// vantor/backend/surface_desc.h — what IDirectDraw7::CreateSurface makes of a description, the
// same for every back end: the checks made before anything is allocated, and the surface's
// final capabilities, size, pixel layout and mip-map count.
//
//   SurfacePlan plan;
//   HRESULT hr = plan_surface(*desc, level != 0, {mode.width, mode.height, mode.bpp}, max_texture, &plan);
//   if (FAILED(hr)) return hr;
//
// Not checked here, because only the DirectDraw object knows: an existing primary surface
// (DDERR_PRIMARYSURFACEALREADYEXISTS).
#pragma once

#include <vantor/backend/pixel_format.h>

namespace vantor::backend {

struct SurfacePlan {
    DWORD caps = 0, caps2 = 0;  // as asked: DDSCAPS_OFFSCREENPLAIN when no capabilities were given
    bool primary = false;
    bool managed = false;  // DDSCAPS2_TEXTUREMANAGE or DDSCAPS2_D3DTEXTUREMANAGE
    DWORD width = 0, height = 0;
    DWORD mipmaps = 1;
    PixelLayout layout;
};

struct DisplaySize {
    DWORD width, height, bpp;
};

// DDERR_INVALIDPARAMS for a bad record or size; DDERR_UNSUPPORTED for client memory
// (DDSD_LPSURFACE); DDERR_NOCOOPERATIVELEVELSET without a level; DDERR_INVALIDCAPS for unknown or conflicting capabilities (a flipping chain
// among them: COMPLEX means a mip-map chain here); DDERR_TOOBIGWIDTH/HEIGHT past 16384, or past
// `max_texture_side` for textures and render targets; DDERR_INVALIDPIXELFORMAT for a format
// PixelLayout refuses, a depth buffer without a depth format (or the reverse) and a render
// target that is not 16- or 32-bit RGB. A primary surface takes the display's size; other
// surfaces without a format take the display's format.
HRESULT plan_surface(const DDSURFACEDESC2& desc, bool level_set, const DisplaySize& display, DWORD max_texture_side,
                     SurfacePlan* out);

}  // namespace vantor::backend
