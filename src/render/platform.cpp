// The runtime's windows and GDI, as the back end uses them.
#include "platform.h"

namespace vantor::render::platform {

bool is_window(HWND window) { return window && IsWindow(window); }

bool client_size(HWND window, int* width, int* height) {
    RECT r{};
    if (!is_window(window) || !GetClientRect(window, &r)) return false;
    *width = r.right - r.left;
    *height = r.bottom - r.top;
    return true;
}

int window_kind(HWND window) { return is_window(window) ? VantorWindowKind(window) : kWindowKindNone; }

bool resize_window(HWND window, int width, int height) {
    return VantorResizeWindow(window, width, height);
}

bool present(HWND window, const void* rgba, int width, int height, int pitch) {
    return VantorWindowPresent(window, rgba, width, height, pitch);
}

void* x11_display(HWND window) { return VantorWindowDisplay(window); }

unsigned long x11_window(HWND window) { return VantorWindowXID(window); }

HDC create_memory_dc(void* bits, int width, int height, int pitch, const VantorPixelLayout* layout) {
    return VantorCreateMemoryDC(bits, width, height, pitch, layout);
}

bool delete_dc(HDC dc) { return DeleteDC(dc); }

}  // namespace vantor::render::platform
