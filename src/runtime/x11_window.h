// Internal to the runtime: the X11 side of windows (window.cpp keeps the window table).
// Every function here is called with the window table's lock held; that lock also serialises
// our use of the one shared Display. A window that has gone from the server, or an XID that
// never was a window, makes a call fail; it never reaches Xlib's default error handler,
// which would end the process.
#pragma once

#include <vantor/types.h>

#include <functional>
#include <string>

namespace vantor::x11 {

// The Display opened from $DISPLAY on first use (nullptr when there is none).
void* open_display();

// A plain top-level window that asks for WM_DELETE_WINDOW; 0 on failure.
unsigned long create_window(int width, int height, const std::string& title, bool visible);
// True when `xid` is a window on the display; then we listen for its structure and focus events.
bool watch(unsigned long xid);
// Destroys a window we created; stops listening to one we attached.
void release_window(unsigned long xid, bool owned);

bool geometry(unsigned long xid, RECT* window, RECT* client);
bool window_title(unsigned long xid, std::string* title);
bool set_title(unsigned long xid, const std::string& title);
bool resize(unsigned long xid, int width, int height);
// The top-left `width` x `height` pixels of the window as RGBA rows `pitch` bytes apart.
// Parts outside the window or off the screen are left as they are in `rgba`.
bool read_pixels(unsigned long xid, uint8_t* rgba, int width, int height, size_t pitch);

enum class Event { Close, Destroyed, Focus };
// Takes every pending event off the display's queue and reports those that matter.
void pump_events(const std::function<void(unsigned long xid, Event event)>& sink);

}  // namespace vantor::x11
