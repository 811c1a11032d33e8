// The platform underneath the recording back end: which handles are windows, their client
// size, and device contexts over surface memory.
#include "recording_internal.h"

namespace vantor::testing::detail {

// A window is a live handle of the window type in the runtime's handle table.
bool is_window(HWND w) { return w != 0 && HandleTypeOf(w) == kHandleWindow; }

bool window_client_size(HWND w, DWORD* width, DWORD* height) {
    (void)w;
    (void)width;
    (void)height;
    return false;
}

HDC create_surface_dc(void* bits, DWORD width, DWORD height, LONG pitch, const DDPIXELFORMAT& format,
                      const PALETTEENTRY* palette) {
    (void)bits;
    (void)width;
    (void)height;
    (void)pitch;
    (void)format;
    (void)palette;
    return 0;
}

void delete_surface_dc(HDC dc) { (void)dc; }

}  // namespace vantor::testing::detail
