// What the back end asks of the runtime's windows and GDI (vantor/window.h, vantor/gdi.h).
#pragma once

#include <vantor/gdi.h>
#include <vantor/window.h>

namespace vantor::render::platform {

bool is_window(HWND window);
// Client size of a window; false when it is not a window.
bool client_size(HWND window, int* width, int* height);
int window_kind(HWND window);  // kWindowKind*
bool resize_window(HWND window, int width, int height);
// Copies an RGBA image (rows top to bottom) into a virtual window.
bool present(HWND window, const void* rgba, int width, int height, int pitch);
void* x11_display(HWND window);
unsigned long x11_window(HWND window);
// A device context over caller-owned pixels; 0 when the runtime cannot make one.
HDC create_memory_dc(void* bits, int width, int height, int pitch, const VantorPixelLayout* layout);
bool delete_dc(HDC dc);

}  // namespace vantor::render::platform
