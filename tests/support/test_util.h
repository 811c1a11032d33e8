// Helpers every test folder shares: numbers as text, float state bits, surface descriptions and
// surfaces, on top of the standard pixel formats (recording_backend.h, formats::).
//
//   EXPECT_EQ(hr, D3D_OK) << hex(hr);                                   // "8876024E"
//   dev->SetRenderState(D3DRENDERSTATE_FOGEND, float_bits(100.0f));
//   ComPtr<IDirectDrawSurface7> s = create_surface(dd, DDSCAPS_TEXTURE, 8, 8, formats::A8R8G8B8());
#pragma once

#include <vantor/backend/backend.h>
#include <vantor/com_ptr.h>

#include <bit>
#include <cstdio>
#include <string>

#include "recording_backend.h"

namespace vantor::testing {

// Eight hex digits, as results and colours are usually written.
inline std::string hex(DWORD v) {
    char b[16];
    std::snprintf(b, sizeof b, "%08X", static_cast<unsigned>(v));
    return b;
}

// The raw bits of a float, as the float render and stage states take them.
inline DWORD float_bits(float f) { return std::bit_cast<DWORD>(f); }

// A DirectDraw record with its size filled in, as every call that takes one requires.
template <class T>
T sized() {
    T v{};
    v.dwSize = sizeof v;
    return v;
}

// A surface description with caps, size and (when given) pixel format.
inline DDSURFACEDESC2 surface_desc(DWORD caps, DWORD width, DWORD height, const DDPIXELFORMAT* format = nullptr) {
    auto sd = sized<DDSURFACEDESC2>();
    sd.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | (format ? DDSD_PIXELFORMAT : 0);
    sd.ddsCaps.dwCaps = caps;
    sd.dwWidth = width;
    sd.dwHeight = height;
    if (format) sd.ddpfPixelFormat = *format;
    return sd;
}

// A surface of `dd`; empty, with the result in `hr` (when given), if it cannot be made.
inline ComPtr<IDirectDrawSurface7> create_surface(IDirectDraw7* dd, DWORD caps, DWORD width, DWORD height,
                                                  const DDPIXELFORMAT& format, HRESULT* hr = nullptr) {
    DDSURFACEDESC2 sd = surface_desc(caps, width, height, &format);
    ComPtr<IDirectDrawSurface7> s;
    HRESULT result = dd->CreateSurface(&sd, s.put(), nullptr);
    if (hr) *hr = result;
    return s;
}

}  // namespace vantor::testing
