// Windows: the table of this process's windows, virtual windows, and the window functions
// over both kinds (the X11 requests themselves are in x11.cpp).
#include "x11_window.h"

#include <vantor/handles.h>
#include <vantor/window.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// Virtual windows hold their image in memory: up to 32768 pixels a side, 2^26 in all
// (256 MiB of RGBA). X11 sizes are 16-bit.
constexpr int64_t kMaxVirtualSide = 32768;
constexpr int64_t kMaxVirtualPixels = int64_t{1} << 26;
constexpr int kMaxX11Side = 32767;

struct Window {
    int kind = kWindowKindNone;
    // Virtual windows.
    int width = 0;
    int height = 0;
    std::string title;
    std::vector<uint8_t> image;  // RGBA, rows top to bottom, width * 4 bytes apart
    // X11 windows.
    unsigned long xid = 0;
    bool owned = false;  // made by us, so DestroyWindow destroys it
    bool closed = false; // the user or the window manager asked to close it, or it is gone
    bool gone = false;   // destroyed on the server: its XID may name another window by now
};

struct Windows {
    std::mutex lock;
    std::unordered_map<HWND, std::unique_ptr<Window>> all;
    std::vector<HWND> recent;  // live windows, least recently activated first
};

Windows& table() {
    static Windows* w = new Windows;  // never destroyed: windows may be destroyed during exit
    return *w;
}

Window* find(Windows& t, HWND h) {
    auto it = t.all.find(h);
    return it == t.all.end() ? nullptr : it->second.get();
}

Window* find_xid(Windows& t, unsigned long xid) {
    for (auto& [h, w] : t.all)
        if (w->kind == kWindowKindX11 && !w->gone && w->xid == xid) return w.get();
    return nullptr;
}

HWND handle_of(Windows& t, const Window* w) {
    for (auto& [h, p] : t.all)
        if (p.get() == w) return h;
    return 0;
}

void activate(Windows& t, HWND h) {
    t.recent.erase(std::remove(t.recent.begin(), t.recent.end(), h), t.recent.end());
    t.recent.push_back(h);
}

HWND enter(Windows& t, std::unique_ptr<Window> w) {
    const HWND h = HandleCreate(kHandleWindow, w.get());
    if (!h) return 0;
    t.all.emplace(h, std::move(w));
    activate(t, h);
    return h;
}

bool virtual_size(int64_t width, int64_t height) {
    return width > 0 && height > 0 && width <= kMaxVirtualSide && height <= kMaxVirtualSide &&
           width * height <= kMaxVirtualPixels;
}

bool x11_size(int width, int height) {
    return width > 0 && height > 0 && width <= kMaxX11Side && height <= kMaxX11Side;
}

void apply_events(Windows& t) {
    vantor::x11::pump_events([&](unsigned long xid, vantor::x11::Event event) {
        Window* w = find_xid(t, xid);
        if (!w) return;
        switch (event) {
        case vantor::x11::Event::Close: w->closed = true; break;
        case vantor::x11::Event::Destroyed: w->closed = w->gone = true; break;
        case vantor::x11::Event::Focus: activate(t, handle_of(t, w)); break;
        }
    });
}

// Reads `height` rows of `width` pixels from the top-left of the window; what lies outside
// the window reads as transparent black.
BOOL read_into(Window& w, void* rgba, int width, int height, INT pitch) {
    auto* out = static_cast<uint8_t*>(rgba);
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height; ++y) std::memset(out + static_cast<size_t>(pitch) * y, 0, rowBytes);
    if (w.kind == kWindowKindX11)
        return !w.gone && vantor::x11::read_pixels(w.xid, out, width, height, static_cast<size_t>(pitch)) ? TRUE : FALSE;
    const int cw = std::min(width, w.width), ch = std::min(height, w.height);
    for (int y = 0; y < ch; ++y)
        std::memcpy(out + static_cast<size_t>(pitch) * y, w.image.data() + static_cast<size_t>(w.width) * 4 * y,
                    static_cast<size_t>(cw) * 4);
    return TRUE;
}

// An opaque black RGBA image; empty when memory runs out (the caller then fails).
std::vector<uint8_t> black_image(int width, int height) {
    std::vector<uint8_t> image;
    try {
        image.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 0);
    } catch (const std::bad_alloc&) {
        return {};
    }
    for (size_t i = 3; i < image.size(); i += 4) image[i] = 255;
    return image;
}

bool sized_buffer(const void* pixels, int64_t width, int64_t height, int64_t pitch) {
    return pixels && width > 0 && height > 0 && pitch >= width * 4;
}

}  // namespace

extern "C" {

HWND VantorCreateVirtualWindow(INT width, INT height, LPCSTR title) {
    if (!virtual_size(width, height)) return 0;
    auto w = std::make_unique<Window>();
    w->kind = kWindowKindVirtual;
    w->width = width;
    w->height = height;
    w->title = title ? title : "";
    w->image = black_image(width, height);
    if (w->image.empty()) return 0;
    Windows& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    return enter(t, std::move(w));
}

HWND VantorCreateX11Window(INT width, INT height, LPCSTR title, BOOL visible) {
    if (!x11_size(width, height)) return 0;
    Windows& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    const unsigned long xid = vantor::x11::create_window(width, height, title ? title : "", visible != FALSE);
    if (!xid) return 0;
    auto w = std::make_unique<Window>();
    w->kind = kWindowKindX11;
    w->xid = xid;
    w->owned = true;
    const HWND h = enter(t, std::move(w));
    if (!h) vantor::x11::release_window(xid, true);
    return h;
}

HWND VantorAttachX11Window(unsigned long xid) {
    Windows& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    // A window already in the table keeps its handle (attaching is idempotent).
    if (Window* known = find_xid(t, xid)) {
        const HWND h = handle_of(t, known);
        activate(t, h);
        return h;
    }
    if (!vantor::x11::watch(xid)) return 0;
    auto w = std::make_unique<Window>();
    w->kind = kWindowKindX11;
    w->xid = xid;
    return enter(t, std::move(w));
}

BOOL DestroyWindow(HWND window) {
    Windows& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    auto it = t.all.find(window);
    if (it == t.all.end()) return FALSE;
    const Window& w = *it->second;
    if (w.kind == kWindowKindX11 && !w.gone) vantor::x11::release_window(w.xid, w.owned);
    t.all.erase(it);
    t.recent.erase(std::remove(t.recent.begin(), t.recent.end(), window), t.recent.end());
    HandleClose(window);
    return TRUE;
}

BOOL IsWindow(HWND window) {
    Windows& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    return find(t, window) ? TRUE : FALSE;
}

HWND GetActiveWindow() {
    Windows& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    return t.recent.empty() ? 0 : t.recent.back();
}

HWND SetActiveWindow(HWND window) {
    Windows& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    if (!find(t, window)) return 0;
    const HWND previous = t.recent.empty() ? 0 : t.recent.back();
    activate(t, window);
    return previous;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
    Windows& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    Window* w = find(t, window);
    if (!w || !rect) return FALSE;
    if (w->kind == kWindowKindX11) return !w->gone && vantor::x11::geometry(w->xid, rect, nullptr) ? TRUE : FALSE;
    *rect = RECT{0, 0, w->width, w->height};
    return TRUE;
}

BOOL GetClientRect(HWND window, RECT* rect) {
    Windows& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    Window* w = find(t, window);
    if (!w || !rect) return FALSE;
    if (w->kind == kWindowKindX11) return !w->gone && vantor::x11::geometry(w->xid, nullptr, rect) ? TRUE : FALSE;
    *rect = RECT{0, 0, w->width, w->height};
    return TRUE;
}

INT GetWindowTextA(HWND window, LPSTR buffer, INT bufferMax) {
    if (!buffer || bufferMax <= 0) return 0;
    buffer[0] = 0;
    Windows& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    Window* w = find(t, window);
    if (!w) return 0;
    std::string title;
    if (w->kind == kWindowKindX11) {
        if (w->gone || !vantor::x11::window_title(w->xid, &title)) return 0;
    } else {
        title = w->title;
    }
    // Like Windows, at most bufferMax - 1 bytes and a NUL; the cut backs off to a character
    // boundary so the UTF-8 we return stays valid.
    size_t n = std::min(title.size(), static_cast<size_t>(bufferMax - 1));
    if (n < title.size())
        while (n > 0 && (static_cast<unsigned char>(title[n]) & 0xC0) == 0x80) --n;
    std::memcpy(buffer, title.data(), n);
    buffer[n] = 0;
    return static_cast<INT>(n);
}

BOOL SetWindowTextA(HWND window, LPCSTR text) {
    Windows& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    Window* w = find(t, window);
    if (!w) return FALSE;
    const std::string title = text ? text : "";
    if (w->kind == kWindowKindX11) return !w->gone && vantor::x11::set_title(w->xid, title) ? TRUE : FALSE;
    w->title = title;
    return TRUE;
}

BOOL VantorResizeWindow(HWND window, INT width, INT height) {
    Windows& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    Window* w = find(t, window);
    if (!w) return FALSE;
    if (w->kind == kWindowKindX11)
        return !w->gone && x11_size(width, height) && vantor::x11::resize(w->xid, width, height) ? TRUE : FALSE;
    if (!virtual_size(width, height)) return FALSE;
    std::vector<uint8_t> image = black_image(width, height);
    if (image.empty()) return FALSE;
    w->image = std::move(image);
    w->width = width;
    w->height = height;
    return TRUE;
}

INT VantorWindowKind(HWND window) {
    Windows& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    Window* w = find(t, window);
    return w ? w->kind : kWindowKindNone;
}

unsigned long VantorWindowXID(HWND window) {
    Windows& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    Window* w = find(t, window);
    return (w && w->kind == kWindowKindX11) ? w->xid : 0;
}

void* VantorWindowDisplay(HWND window) {
    Windows& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    Window* w = find(t, window);
    return (w && w->kind == kWindowKindX11) ? vantor::x11::open_display() : nullptr;
}

BOOL VantorWindowPresent(HWND window, const void* rgba, INT width, INT height, INT pitch) {
    if (!sized_buffer(rgba, width, height, pitch)) return FALSE;
    Windows& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    Window* w = find(t, window);
    if (!w || w->kind != kWindowKindVirtual) return FALSE;
    const int cw = std::min(width, w->width), ch = std::min(height, w->height);
    const auto* in = static_cast<const uint8_t*>(rgba);
    for (int y = 0; y < ch; ++y)
        std::memcpy(w->image.data() + static_cast<size_t>(w->width) * 4 * y, in + static_cast<size_t>(pitch) * y,
                    static_cast<size_t>(cw) * 4);
    return TRUE;
}

BOOL VantorWindowReadPixels(HWND window, void* rgba, INT pitch) {
    Windows& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    Window* w = find(t, window);
    if (!w || !rgba) return FALSE;
    int width = w->width, height = w->height;
    if (w->kind == kWindowKindX11) {
        RECT client;
        if (w->gone || !vantor::x11::geometry(w->xid, nullptr, &client)) return FALSE;
        width = client.right;
        height = client.bottom;
    }
    if (!sized_buffer(rgba, width, height, pitch)) return FALSE;
    return read_into(*w, rgba, width, height, pitch);
}

BOOL VantorWindowReadPixelsSized(HWND window, void* rgba, INT width, INT height, INT pitch) {
    if (!sized_buffer(rgba, width, height, pitch)) return FALSE;
    Windows& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    Window* w = find(t, window);
    if (!w) return FALSE;
    return read_into(*w, rgba, width, height, pitch);
}

BOOL VantorPumpWindowEvents(HWND window) {
    Windows& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    if (!find(t, window)) return FALSE;
    apply_events(t);
    Window* w = find(t, window);
    return (w && !w->closed) ? TRUE : FALSE;
}

BOOL VantorWindowClosed(HWND window) {
    Windows& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    Window* w = find(t, window);
    // A handle that is no window (any more) reads as closed, so a loop waiting for the
    // close of a destroyed window ends.
    return (!w || w->closed) ? TRUE : FALSE;
}

}  // extern "C"
