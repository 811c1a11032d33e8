// The runtime's windows and GDI, as the back end uses them.
#include "platform.h"

// The windows and GDI of the runtime are written in parallel with this back end; until they
// land, their absence reads as "no window" rather than a link failure.
extern "C" {
__attribute__((weak)) BOOL IsWindow(HWND window);
__attribute__((weak)) BOOL GetClientRect(HWND window, RECT* rect);
__attribute__((weak)) INT VantorWindowKind(HWND window);
__attribute__((weak)) BOOL VantorResizeWindow(HWND window, INT width, INT height);
__attribute__((weak)) BOOL VantorWindowPresent(HWND window, const void* rgba, INT width, INT height, INT pitch);
__attribute__((weak)) void* VantorWindowDisplay(HWND window);
__attribute__((weak)) unsigned long VantorWindowXID(HWND window);
__attribute__((weak)) HDC VantorCreateMemoryDC(void* bits, INT width, INT height, INT pitch,
                                               const VantorPixelLayout* layout);
__attribute__((weak)) BOOL DeleteDC(HDC dc);
}

namespace vantor::render::platform {

bool is_window(HWND window) { return window && IsWindow && IsWindow(window); }

bool client_size(HWND window, int* width, int* height) {
    RECT r{};
    if (!is_window(window) || !GetClientRect || !GetClientRect(window, &r)) return false;
    *width = r.right - r.left;
    *height = r.bottom - r.top;
    return true;
}

int window_kind(HWND window) { return (is_window(window) && VantorWindowKind) ? VantorWindowKind(window) : kWindowKindNone; }

bool resize_window(HWND window, int width, int height) {
    return VantorResizeWindow && VantorResizeWindow(window, width, height);
}

bool present(HWND window, const void* rgba, int width, int height, int pitch) {
    return VantorWindowPresent && VantorWindowPresent(window, rgba, width, height, pitch);
}

void* x11_display(HWND window) { return VantorWindowDisplay ? VantorWindowDisplay(window) : nullptr; }

unsigned long x11_window(HWND window) { return VantorWindowXID ? VantorWindowXID(window) : 0; }

HDC create_memory_dc(void* bits, int width, int height, int pitch, const VantorPixelLayout* layout) {
    return VantorCreateMemoryDC ? VantorCreateMemoryDC(bits, width, height, pitch, layout) : 0;
}

bool delete_dc(HDC dc) { return DeleteDC && DeleteDC(dc); }

}  // namespace vantor::render::platform
