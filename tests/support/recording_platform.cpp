// The platform underneath the recording back end: which handles are windows, their client
// size, and device contexts over surface memory (vantor/window.h, vantor/gdi.h).
#include <vantor/gdi.h>
#include <vantor/window.h>

#include "recording_internal.h"

namespace vantor::testing::detail {

bool is_window(HWND w) {
    return w != 0 && IsWindow(w);
}

bool window_client_size(HWND w, DWORD* width, DWORD* height) {
    RECT r{};
    if (!GetClientRect(w, &r) || r.right <= r.left || r.bottom <= r.top) return false;
    *width = DWORD(r.right - r.left);
    *height = DWORD(r.bottom - r.top);
    return true;
}

// GDI draws into RGB and palettised layouts only; other formats (luminance, bump, depth) get
// no device context, as DirectDraw gives none for them either.
HDC create_surface_dc(void* bits, DWORD width, DWORD height, LONG pitch, const DDPIXELFORMAT& format,
                      const PALETTEENTRY* palette) {
    VantorPixelLayout layout{};
    RGBQUAD colours[256]{};
    backend::PixelLayout l = pixels::layout_of(format);
    if (l.kind == backend::FormatKind::Palette8) {
        if (!palette) return 0;
        for (int k = 0; k < 256; ++k)
            colours[k] = RGBQUAD{palette[k].peBlue, palette[k].peGreen, palette[k].peRed, 0};
        layout.bitCount = 8;
        layout.palette = colours;  // the context keeps its own copy
    } else if (l.kind == backend::FormatKind::Rgb && l.bits >= 16) {
        layout.bitCount = format.dwRGBBitCount;
        layout.redMask = format.dwRBitMask;
        layout.greenMask = format.dwGBitMask;
        layout.blueMask = format.dwBBitMask;
        layout.alphaMask = (format.dwFlags & DDPF_ALPHAPIXELS) ? format.dwRGBAlphaBitMask : 0;
    } else {
        return 0;
    }
    return VantorCreateMemoryDC(bits, INT(width), INT(height), INT(pitch), &layout);
}

void delete_surface_dc(HDC dc) {
    DeleteDC(dc);
}

}  // namespace vantor::testing::detail
