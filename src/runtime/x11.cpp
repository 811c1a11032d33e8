// X11 windows: a plain Xlib window of our own, or any toolkit's window by its XID.
//
// Xlib's default error handler prints and exits, and X errors arrive asynchronously. So every
// sequence of requests we make runs inside a Trap: our handler is installed, the requests are
// made, XSync collects their errors and the previous handler comes back. Our handler stays
// installed from the moment the display is opened as well; errors of other displays (a
// toolkit's own connection) go on to the handler that was there before us.
#include "x11_window.h"

#include <vantor/debug.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <climits>
#include <cstdio>

// Two requests in one round trip (geometry). The protocol headers have a BOOL of their own and
// define min and max.
#define BOOL XPROTO_BOOL
#include <X11/Xlibint.h>
#include <X11/Xproto.h>
#undef BOOL
#undef min
#undef max

namespace vantor::x11 {
namespace {

using XErrorHandlerFn = int (*)(Display*, XErrorEvent*);

Display* g_display = nullptr;
XErrorHandlerFn g_before = nullptr;       // the handler in place when we opened the display
XErrorHandlerFn g_trapPrevious = nullptr; // the handler a Trap replaced
bool g_trapping = false;
unsigned long g_trapSerial = 0;           // the first request a Trap answers for
int g_trappedError = 0;

Atom g_wmProtocols, g_wmDeleteWindow, g_netWmName, g_utf8String;

int on_error(Display* d, XErrorEvent* e) {
    if (d == g_display) {
        if (g_trapping && e->serial >= g_trapSerial) {
            if (!g_trappedError) g_trappedError = e->error_code;
        } else if (DebugOutputHasListener()) {
            char text[96];
            std::snprintf(text, sizeof text, "X11: error %d from request %d.%d\n", e->error_code,
                          e->request_code, e->minor_code);
            OutputDebugStringA(text);
        }
        return 0;
    }
    XErrorHandlerFn next = (g_trapping && g_trapPrevious != on_error) ? g_trapPrevious : g_before;
    return (next && next != on_error) ? next(d, e) : 0;
}

// Collects the X errors of the requests made while it lives (see the file comment). With
// `replies`, every request made under it waits for its reply, which brings the request's error
// with it: no XSync (a round trip each) is needed, and errors of earlier requests arriving
// meanwhile are told apart by their serial numbers.
class Trap {
public:
    explicit Trap(Display* d, bool replies = false) : d_(d), replies_(replies) {
        if (!replies_) XSync(d_, False);  // earlier requests' errors belong to whoever made them
        previous_ = XSetErrorHandler(on_error);
        g_trapPrevious = previous_;
        g_trappedError = 0;
        g_trapSerial = NextRequest(d_);
        g_trapping = true;
    }
    ~Trap() {
        if (!replies_) XSync(d_, False);
        g_trapping = false;
        XSetErrorHandler(previous_);
    }
    Trap(const Trap&) = delete;
    Trap& operator=(const Trap&) = delete;

    bool failed() {
        if (!replies_) XSync(d_, False);
        return g_trappedError != 0;
    }

private:
    Display* d_;
    bool replies_;
    XErrorHandlerFn previous_;
};

Display* display() { return static_cast<Display*>(open_display()); }

std::string latin1_to_utf8(const std::string& in) {
    std::string out;
    for (unsigned char c : in) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The text in Latin-1 when every character has a Latin-1 code, as ICCCM's STRING wants.
bool utf8_to_latin1(const std::string& in, std::string* out) {
    out->clear();
    for (size_t i = 0; i < in.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        if (c < 0x80) {
            *out += static_cast<char>(c);
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < in.size() &&
                   (static_cast<unsigned char>(in[i + 1]) & 0xC0) == 0x80) {
            *out += static_cast<char>(((c & 0x03) << 6) | (in[++i] & 0x3F));
        } else {
            return false;
        }
    }
    return true;
}

// An 8-bit property's bytes and type; false when it is missing.
bool read_text(Display* d, Window w, Atom property, std::string* text, Atom* type) {
    Atom actual = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(d, w, property, 0, LONG_MAX / 4, False, AnyPropertyType,
                                          &actual, &format, &count, &after, &data);
    const bool ok = status == Success && actual != None && format == 8;
    if (ok) text->assign(reinterpret_cast<const char*>(data), count);
    if (data) XFree(data);
    *type = actual;
    return ok;
}

void write_title(Display* d, Window w, const std::string& title) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(title.data());
    const int length = static_cast<int>(title.size());
    XChangeProperty(d, w, g_netWmName, g_utf8String, 8, PropModeReplace, bytes, length);
    // WM_NAME for window managers that know only ICCCM: STRING (Latin-1) when the text fits,
    // else UTF8_STRING as most toolkits write it.
    std::string latin1;
    if (utf8_to_latin1(title, &latin1)) {
        XChangeProperty(d, w, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(latin1.data()),
                        static_cast<int>(latin1.size()));
    } else {
        XChangeProperty(d, w, XA_WM_NAME, g_utf8String, 8, PropModeReplace, bytes, length);
    }
}

// Expands a channel of `width` bits to 8 by repeating its bits (5-bit 31 becomes 255).
uint8_t expand(unsigned long pixel, unsigned long mask) {
    if (!mask) return 0;
    const int shift = __builtin_ctzl(mask);
    const int width = __builtin_popcountl(mask);
    const unsigned long v = (pixel & mask) >> shift;
    if (width >= 8) return static_cast<uint8_t>(v >> (width - 8));
    unsigned long out = 0;
    for (int pos = 8 - width; pos > -width; pos -= width) out |= pos >= 0 ? v << pos : v >> -pos;
    return static_cast<uint8_t>(out);
}

}  // namespace

void* open_display() {
    if (g_display) return g_display;
    XInitThreads();  // a renderer may use the display from its own thread (EGL)
    Display* d = XOpenDisplay(nullptr);
    if (!d) return nullptr;
    g_display = d;
    g_before = XSetErrorHandler(on_error);
    g_wmProtocols = XInternAtom(d, "WM_PROTOCOLS", False);
    g_wmDeleteWindow = XInternAtom(d, "WM_DELETE_WINDOW", False);
    g_netWmName = XInternAtom(d, "_NET_WM_NAME", False);
    g_utf8String = XInternAtom(d, "UTF8_STRING", False);
    return d;
}

unsigned long create_window(int width, int height, const std::string& title, bool visible) {
    Display* d = display();
    if (!d) return 0;
    Trap trap(d);
    const int screen = DefaultScreen(d);
    const Window w = XCreateSimpleWindow(d, RootWindow(d, screen), 0, 0, static_cast<unsigned>(width),
                                         static_cast<unsigned>(height), 0, BlackPixel(d, screen),
                                         BlackPixel(d, screen));
    if (trap.failed()) return 0;
    XSetWMProtocols(d, w, &g_wmDeleteWindow, 1);
    XSelectInput(d, w, StructureNotifyMask | FocusChangeMask);
    char resName[] = "vantor", resClass[] = "Vantor";
    XClassHint hint{resName, resClass};
    XSetClassHint(d, w, &hint);
    write_title(d, w, title);
    if (visible) XMapWindow(d, w);
    if (trap.failed()) {
        XDestroyWindow(d, w);
        return 0;
    }
    return w;
}

bool watch(unsigned long xid) {
    Display* d = display();
    if (!d || xid == 0) return false;
    Trap trap(d);
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, xid, &a) || trap.failed()) return false;
    // Structure events tell us when the window goes; other clients' selections are untouched.
    XSelectInput(d, xid, StructureNotifyMask | FocusChangeMask);
    return !trap.failed();
}

void release_window(unsigned long xid, bool owned) {
    Display* d = display();
    if (!d) return;
    Trap trap(d);  // the window may already be gone
    if (owned) XDestroyWindow(d, xid);
    else XSelectInput(d, xid, NoEventMask);
}

// The reply to the TranslateCoordinates request that geometry() sends ahead of GetGeometry.
struct Translated {
    unsigned long sequence = 0;
    bool answered = false, same_screen = false;
    int x = 0, y = 0;
};

Bool take_translated(Display* dpy, xReply* rep, char* buf, int len, XPointer data) {
    auto* t = reinterpret_cast<Translated*>(data);
    if (dpy->last_request_read != t->sequence || rep->generic.type == X_Error) return False;  // errors: the Trap's
    xTranslateCoordsReply reply;
    auto* r = reinterpret_cast<xTranslateCoordsReply*>(
        _XGetAsyncReply(dpy, reinterpret_cast<char*>(&reply), rep, buf, len,
                        (SIZEOF(xTranslateCoordsReply) - SIZEOF(xReply)) >> 2, False));
    t->answered = true;
    t->same_screen = r->sameScreen;
    t->x = cvtINT16toInt(r->dstX);
    t->y = cvtINT16toInt(r->dstY);
    return True;
}

bool geometry(unsigned long xid, RECT* window, RECT* client) {
    Display* dpy = display();
    if (!dpy) return false;
    // Asked every frame by some callers: the window's position on the default screen's root and
    // its size in one round trip, as XGetWindowAttributes pairs its two requests.
    Trap trap(dpy, true);
    Translated translated;
    xGetGeometryReply reply;
    Status got;
    {
        LockDisplay(dpy);
        xTranslateCoordsReq* translate;
        GetReq(TranslateCoords, translate);
        translate->srcWid = static_cast<CARD32>(xid);
        translate->dstWid = static_cast<CARD32>(DefaultRootWindow(dpy));
        translate->srcX = translate->srcY = 0;
        translated.sequence = dpy->request;
        _XAsyncHandler async;
        async.next = dpy->async_handlers;
        async.handler = take_translated;
        async.data = reinterpret_cast<XPointer>(&translated);
        dpy->async_handlers = &async;
        xResourceReq* size;
        GetResReq(GetGeometry, xid, size);
        got = _XReply(dpy, reinterpret_cast<xReply*>(&reply), 0, xTrue);
        DeqAsyncHandler(dpy, &async);
        UnlockDisplay(dpy);
        SyncHandle();
    }
    if (!got || !translated.answered || trap.failed()) return false;
    int x = translated.x, y = translated.y;
    if (!translated.same_screen) {
        // A window on another screen: its own root, asked for separately.
        Window child = 0;
        if (!XTranslateCoordinates(dpy, xid, reply.root, 0, 0, &x, &y, &child) || trap.failed()) return false;
    }
    const int w = reply.width, h = reply.height;
    if (window) *window = RECT{x, y, x + w, y + h};
    if (client) *client = RECT{0, 0, w, h};
    return true;
}

bool window_title(unsigned long xid, std::string* title) {
    Display* d = display();
    if (!d) return false;
    Trap trap(d);
    std::string text;
    Atom type = None;
    if (read_text(d, xid, g_netWmName, &text, &type) && type == g_utf8String) {
        *title = text;
    } else if (read_text(d, xid, XA_WM_NAME, &text, &type)) {
        // STRING is Latin-1; UTF8_STRING and the ASCII part of COMPOUND_TEXT are taken as is.
        *title = type == XA_STRING ? latin1_to_utf8(text) : text;
    } else {
        title->clear();
    }
    return !trap.failed();
}

bool set_title(unsigned long xid, const std::string& title) {
    Display* d = display();
    if (!d) return false;
    Trap trap(d);
    write_title(d, xid, title);
    return !trap.failed();
}

bool resize(unsigned long xid, int width, int height) {
    Display* d = display();
    if (!d) return false;
    Trap trap(d);
    XResizeWindow(d, xid, static_cast<unsigned>(width), static_cast<unsigned>(height));
    return !trap.failed();
}

bool read_pixels(unsigned long xid, uint8_t* rgba, int width, int height, size_t pitch) {
    Display* d = display();
    if (!d) return false;
    Trap trap(d);
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, xid, &a) || trap.failed()) return false;
    if (a.map_state != IsViewable) return false;
    // XGetImage wants a rectangle that lies on the screen: keep to the part of the window
    // inside the root window.
    int rx = 0, ry = 0;
    Window child;
    if (!XTranslateCoordinates(d, xid, a.root, 0, 0, &rx, &ry, &child) || trap.failed()) return false;
    XWindowAttributes root;
    if (!XGetWindowAttributes(d, a.root, &root) || trap.failed()) return false;
    const int x0 = std::max(0, -rx), y0 = std::max(0, -ry);
    const int x1 = std::min({width, a.width, root.width - rx});
    const int y1 = std::min({height, a.height, root.height - ry});
    if (x1 <= x0 || y1 <= y0) return true;  // nothing of it is on the screen

    XImage* image = XGetImage(d, xid, x0, y0, static_cast<unsigned>(x1 - x0),
                              static_cast<unsigned>(y1 - y0), AllPlanes, ZPixmap);
    if (!image || trap.failed()) {
        if (image) XDestroyImage(image);
        return false;
    }
    const unsigned long rm = image->red_mask, gm = image->green_mask, bm = image->blue_mask;
    const bool direct = image->bits_per_pixel == 32 && image->byte_order == LSBFirst;
    for (int y = 0; y < image->height; ++y) {
        uint8_t* out = rgba + pitch * static_cast<size_t>(y0 + y) + 4 * static_cast<size_t>(x0);
        const auto* in = reinterpret_cast<const uint8_t*>(image->data) +
                         static_cast<size_t>(image->bytes_per_line) * static_cast<size_t>(y);
        for (int x = 0; x < image->width; ++x, out += 4) {
            unsigned long px;
            if (direct) {
                const uint8_t* p = in + 4 * x;
                px = static_cast<unsigned long>(p[0] | p[1] << 8 | p[2] << 16) |
                     static_cast<unsigned long>(p[3]) << 24;
            } else {
                px = XGetPixel(image, x, y);
            }
            out[0] = expand(px, rm);
            out[1] = expand(px, gm);
            out[2] = expand(px, bm);
            out[3] = 255;
        }
    }
    XDestroyImage(image);
    return true;
}

void pump_events(const std::function<void(unsigned long, Event)>& sink) {
    Display* d = g_display;
    if (!d) return;
    Trap trap(d);
    while (XPending(d)) {
        XEvent e;
        XNextEvent(d, &e);
        switch (e.type) {
        case ClientMessage:
            if (e.xclient.message_type == g_wmProtocols && e.xclient.format == 32 &&
                static_cast<Atom>(e.xclient.data.l[0]) == g_wmDeleteWindow)
                sink(e.xclient.window, Event::Close);
            break;
        case DestroyNotify: sink(e.xdestroywindow.window, Event::Destroyed); break;
        case FocusIn: sink(e.xfocus.window, Event::Focus); break;
        default: break;
        }
    }
}

}  // namespace vantor::x11
