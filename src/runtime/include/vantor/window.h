// vantor/window.h — windows: virtual (off screen) and X11.
//
//   HWND w = VantorCreateVirtualWindow(640, 480, "Demo");   // always available
//   RECT r; GetClientRect(w, &r);                           // {0, 0, 640, 480}
//   ... a renderer presents into it with VantorWindowPresent ...
//   std::vector<uint8_t> rgba(640 * 480 * 4);
//   VantorWindowReadPixels(w, rgba.data(), 640 * 4);        // RGBA, rows top to bottom
//   DestroyWindow(w);
//
//   HWND x = VantorAttachX11Window(xid);                     // a window made by any toolkit
//
// A window is a 32-bit handle (vantor/handles.h, type kHandleWindow); 0 is no window.
// GetActiveWindow answers the most recently created, attached or focused window of the process.
#pragma once

#include <vantor/types.h>

enum : INT { kWindowKindNone = 0, kWindowKindVirtual = 1, kWindowKindX11 = 2 };

extern "C" {
// Virtual windows: a size, a title and an RGBA image that presenting fills (opaque black at
// first and after a resize).
VANTOR_API HWND VantorCreateVirtualWindow(INT width, INT height, LPCSTR title);
// X11: opens $DISPLAY on first use. Create makes a plain Xlib window (mapped when `visible`);
// Attach wraps an existing XID (0 when it is not a window on that display).
VANTOR_API HWND VantorCreateX11Window(INT width, INT height, LPCSTR title, BOOL visible);
VANTOR_API HWND VantorAttachX11Window(unsigned long xid);
VANTOR_API BOOL DestroyWindow(HWND window);  // an attached foreign window is only forgotten
VANTOR_API BOOL IsWindow(HWND window);

VANTOR_API HWND GetActiveWindow();
VANTOR_API HWND SetActiveWindow(HWND window);
// Window rectangle in screen coordinates (virtual windows sit at 0,0); client rectangle
// always starts at 0,0. FALSE for a handle that is not a window.
VANTOR_API BOOL GetWindowRect(HWND window, RECT* rect);
VANTOR_API BOOL GetClientRect(HWND window, RECT* rect);
VANTOR_API INT GetWindowTextA(HWND window, LPSTR buffer, INT bufferMax);
VANTOR_API BOOL SetWindowTextA(HWND window, LPCSTR text);
// Resizes a virtual window's image (cleared) or an X11 window.
VANTOR_API BOOL VantorResizeWindow(HWND window, INT width, INT height);

VANTOR_API INT VantorWindowKind(HWND window);
VANTOR_API unsigned long VantorWindowXID(HWND window);   // X11 windows, else 0
VANTOR_API void* VantorWindowDisplay(HWND window);       // Display* of an X11 window, else NULL

// Virtual windows: copy an RGBA image (rows top to bottom, `pitch` bytes apart) into the
// window's image; sizes that differ from the window's are clipped to the overlap.
VANTOR_API BOOL VantorWindowPresent(HWND window, const void* rgba, INT width, INT height, INT pitch);
// Reads the window's image (virtual: the presented image; X11: XGetImage of the window),
// RGBA rows top to bottom, into a buffer of height * pitch bytes at the window's client size.
VANTOR_API BOOL VantorWindowReadPixels(HWND window, void* rgba, INT pitch);
// The same into a buffer of a size the caller states: the top-left width x height of the
// image, clipped to the window; what lies outside the window reads as 0 (transparent black).
// Prefer this for X11 windows, which the user can resize between GetClientRect and the read.
VANTOR_API BOOL VantorWindowReadPixelsSized(HWND window, void* rgba, INT width, INT height, INT pitch);

// X11 windows: handle pending events (expose, configure, close). Returns FALSE once the
// window has been closed by the user or the window manager (a close request leaves the window
// up; DestroyWindow takes it down) or destroyed by its owner. VantorWindowClosed answers TRUE
// after that, and for a handle that is not a window.
VANTOR_API BOOL VantorPumpWindowEvents(HWND window);
VANTOR_API BOOL VantorWindowClosed(HWND window);
}
