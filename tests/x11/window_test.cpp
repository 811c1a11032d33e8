// X11 windows on a real X server (Xvfb under CTest). The test keeps its own connection, as a
// toolkit would: it draws into our window, makes windows of its own for us to attach,
// destroys them behind our back and sends the window manager's close request.
#include <vantor/debug.h>
#include <vantor/window.h>

#include <gtest/gtest.h>  // before Xlib, whose macros (None, Bool) clash with it

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

int g_testErrors = 0;
int RecordError(Display*, XErrorEvent*) {
    ++g_testErrors;
    return 0;
}

class X11Windows : public ::testing::Test {
protected:
    static Display* dpy;

    static void SetUpTestSuite() {
        dpy = XOpenDisplay(nullptr);
        // Installed before the runtime opens its own connection, so the runtime's handler
        // must pass our connection's errors on to this one.
        XSetErrorHandler(RecordError);
    }
    static void TearDownTestSuite() {
        if (dpy) XCloseDisplay(dpy);
    }
    void SetUp() override { ASSERT_NE(dpy, nullptr) << "no X server: run under xvfb-run"; }

    Window Root() const { return DefaultRootWindow(dpy); }

    // A window made directly with Xlib, as any toolkit would make it.
    Window Foreign(int x, int y, int w, int h, const char* name) {
        const int s = DefaultScreen(dpy);
        Window win = XCreateSimpleWindow(dpy, Root(), x, y, w, h, 0, BlackPixel(dpy, s), WhitePixel(dpy, s));
        XStoreName(dpy, win, name);
        XMapWindow(dpy, win);
        XSync(dpy, False);
        return win;
    }

    // A text property's bytes and type.
    std::pair<std::string, Atom> Property(Window w, const char* name) {
        Atom actual = None;
        int format = 0;
        unsigned long n = 0, after = 0;
        unsigned char* data = nullptr;
        XGetWindowProperty(dpy, w, XInternAtom(dpy, name, False), 0, 1024, False, AnyPropertyType, &actual, &format,
                           &n, &after, &data);
        std::string text = data ? std::string(reinterpret_cast<char*>(data), n) : std::string();
        if (data) XFree(data);
        return {text, actual};
    }

    std::string Text(HWND w) {
        char buf[256];
        const INT n = GetWindowTextA(w, buf, sizeof buf);
        return std::string(buf, static_cast<size_t>(n));
    }

    // Pumps until the window reports closed; a bound on tries, not a timing check.
    static bool PumpUntilClosed(HWND w) {
        for (int i = 0; i < 500; ++i) {
            if (!VantorPumpWindowEvents(w)) return true;
            usleep(10000);
        }
        return false;
    }
};
Display* X11Windows::dpy = nullptr;

bool SameRect(const RECT& r, LONG l, LONG t, LONG rt, LONG b) {
    return r.left == l && r.top == t && r.right == rt && r.bottom == b;
}

}  // namespace

TEST_F(X11Windows, CreatedWindowTitlesGeometryAndPixels) {
    const HWND w = VantorCreateX11Window(320, 240, "Vantor X11", TRUE);
    ASSERT_NE(w, 0u);
    EXPECT_EQ(VantorWindowKind(w), kWindowKindX11);
    const Window xid = VantorWindowXID(w);
    ASSERT_NE(xid, 0ul);
    EXPECT_NE(VantorWindowDisplay(w), nullptr);
    EXPECT_EQ(GetActiveWindow(), w);

    // Titles: _NET_WM_NAME in UTF-8, and WM_NAME as Latin-1 STRING when the text fits it.
    const Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
    EXPECT_EQ(Text(w), "Vantor X11");
    EXPECT_EQ(Property(xid, "_NET_WM_NAME"), std::pair(std::string("Vantor X11"), utf8));
    ASSERT_TRUE(SetWindowTextA(w, "Gr\xC3\xBC\xC3\x9F" "e"));  // Grüße
    EXPECT_EQ(Text(w), "Gr\xC3\xBC\xC3\x9F" "e");
    EXPECT_EQ(Property(xid, "WM_NAME"), std::pair(std::string("Gr\xFC\xDF" "e"), Atom{XA_STRING}));
    ASSERT_TRUE(SetWindowTextA(w, "3D \xE2\x80\x93 demo"));  // an en dash has no Latin-1 code
    EXPECT_EQ(Text(w), "3D \xE2\x80\x93 demo");
    EXPECT_EQ(Property(xid, "WM_NAME"), std::pair(std::string("3D \xE2\x80\x93 demo"), utf8));

    // Geometry: the window's place on the root, the client area from 0,0.
    RECT r{};
    EXPECT_TRUE(GetWindowRect(w, &r));
    EXPECT_TRUE(SameRect(r, 0, 0, 320, 240));
    XMoveWindow(dpy, xid, 50, 60);
    XSync(dpy, False);
    EXPECT_TRUE(GetWindowRect(w, &r));
    EXPECT_TRUE(SameRect(r, 50, 60, 370, 300));
    EXPECT_TRUE(GetClientRect(w, &r));
    EXPECT_TRUE(SameRect(r, 0, 0, 320, 240));

    // Four coloured quadrants drawn through the test's own connection, read back as RGBA.
    Visual* visual = DefaultVisual(dpy, DefaultScreen(dpy));
    ASSERT_EQ(visual->red_mask, 0xFF0000ul);
    ASSERT_EQ(visual->blue_mask, 0x0000FFul);
    const uint8_t colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 200, 30}};
    auto quadrant = [](int x, int y) { return (x < 160 ? 0 : 1) + (y < 120 ? 0 : 2); };
    XImage* image = XCreateImage(dpy, visual, DefaultDepth(dpy, DefaultScreen(dpy)), ZPixmap, 0, nullptr, 320, 240, 32, 0);
    ASSERT_NE(image, nullptr);
    image->data = static_cast<char*>(std::malloc(static_cast<size_t>(image->bytes_per_line) * 240));
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            const uint8_t* c = colours[quadrant(x, y)];
            XPutPixel(image, x, y, static_cast<unsigned long>(c[0]) << 16 | c[1] << 8 | c[2]);
        }
    GC gc = XCreateGC(dpy, xid, 0, nullptr);
    XPutImage(dpy, xid, gc, image, 0, 0, 0, 0, 320, 240);
    XFreeGC(dpy, gc);
    XDestroyImage(image);
    XSync(dpy, False);

    std::vector<uint8_t> px(320 * 240 * 4, 0x5A);
    ASSERT_TRUE(VantorWindowReadPixels(w, px.data(), 320 * 4));
    int wrong = 0;
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            const uint8_t* p = &px[(static_cast<size_t>(y) * 320 + x) * 4];
            const uint8_t* c = colours[quadrant(x, y)];
            if (p[0] != c[0] || p[1] != c[1] || p[2] != c[2] || p[3] != 255) ++wrong;
        }
    EXPECT_EQ(wrong, 0);

    // A sized read larger than the window: the part outside reads 0.
    std::vector<uint8_t> wide(330 * 2 * 4, 0x5A);
    ASSERT_TRUE(VantorWindowReadPixelsSized(w, wide.data(), 330, 2, 330 * 4));
    EXPECT_EQ(std::tuple(wide[0], wide[325 * 4 + 3]), std::tuple(255, 0));

    // Resizing goes to the server.
    ASSERT_TRUE(VantorResizeWindow(w, 400, 300));
    EXPECT_TRUE(GetClientRect(w, &r));
    EXPECT_TRUE(SameRect(r, 0, 0, 400, 300));
    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(dpy, xid, &a));
    EXPECT_EQ(a.width, 400);
    EXPECT_FALSE(VantorResizeWindow(w, 0, 300));

    // Our own window goes from the server when destroyed.
    const int errors = g_testErrors;
    EXPECT_TRUE(DestroyWindow(w));
    XSync(dpy, False);
    EXPECT_FALSE(XGetWindowAttributes(dpy, xid, &a));
    EXPECT_EQ(g_testErrors, errors + 1) << "BadWindow on our connection reached our handler";
    EXPECT_EQ(GetActiveWindow(), 0u);
}

TEST_F(X11Windows, AttachesAToolkitWindowByXid) {
    const Window fw = Foreign(700, 100, 200, 150, "Foreign \xE9t\xE9");  // WM_NAME in Latin-1
    const HWND w = VantorAttachX11Window(fw);
    ASSERT_NE(w, 0u);
    EXPECT_EQ(VantorWindowKind(w), kWindowKindX11);
    EXPECT_EQ(VantorWindowXID(w), fw);
    EXPECT_EQ(GetActiveWindow(), w);
    EXPECT_EQ(VantorAttachX11Window(fw), w) << "attaching again gives the same handle";

    EXPECT_EQ(Text(w), "Foreign \xC3\xA9t\xC3\xA9") << "WM_NAME's Latin-1 comes back as UTF-8";
    const std::string utf8 = "\xE6\x97\xA5\xE6\x9C\xAC";
    XChangeProperty(dpy, fw, XInternAtom(dpy, "_NET_WM_NAME", False), XInternAtom(dpy, "UTF8_STRING", False), 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(utf8.data()), static_cast<int>(utf8.size()));
    XSync(dpy, False);
    EXPECT_EQ(Text(w), utf8) << "_NET_WM_NAME comes first";

    RECT r{};
    EXPECT_TRUE(GetWindowRect(w, &r));
    EXPECT_TRUE(SameRect(r, 700, 100, 900, 250));
    EXPECT_TRUE(GetClientRect(w, &r));
    EXPECT_TRUE(SameRect(r, 0, 0, 200, 150));
    std::vector<uint8_t> px(200 * 150 * 4);
    ASSERT_TRUE(VantorWindowReadPixels(w, px.data(), 200 * 4));
    EXPECT_EQ(std::tuple(px[0], px[px.size() - 2]), std::tuple(255, 255)) << "the white background";

    // Focus moves the active window too.
    const HWND ours = VantorCreateX11Window(100, 100, "ours", TRUE);
    ASSERT_NE(ours, 0u);
    EXPECT_EQ(GetActiveWindow(), ours);
    XSetInputFocus(dpy, fw, RevertToParent, CurrentTime);
    XSync(dpy, False);
    for (int i = 0; i < 100 && GetActiveWindow() != w; ++i) {
        VantorPumpWindowEvents(ours);
        usleep(10000);
    }
    EXPECT_EQ(GetActiveWindow(), w);
    DestroyWindow(ours);

    // Forgetting a foreign window leaves it alone on the server.
    EXPECT_TRUE(DestroyWindow(w));
    XWindowAttributes a;
    EXPECT_TRUE(XGetWindowAttributes(dpy, fw, &a));
    XDestroyWindow(dpy, fw);
    XSync(dpy, False);
}

TEST_F(X11Windows, BogusXidsAreRefusedWithoutDying) {
    const int errors = g_testErrors;
    EXPECT_EQ(VantorAttachX11Window(0), 0u);
    const Pixmap pixmap = XCreatePixmap(dpy, Root(), 8, 8, DefaultDepth(dpy, DefaultScreen(dpy)));
    XSync(dpy, False);
    EXPECT_EQ(VantorAttachX11Window(pixmap), 0u) << "a drawable, but no window";
    XFreePixmap(dpy, pixmap);
    const Window gone = Foreign(0, 0, 10, 10, "gone");
    XDestroyWindow(dpy, gone);
    XSync(dpy, False);
    EXPECT_EQ(VantorAttachX11Window(gone), 0u);
    EXPECT_EQ(VantorAttachX11Window(0x7FFFFFF0ul), 0u);
    EXPECT_EQ(g_testErrors, errors) << "the runtime's own errors stay with the runtime";
    EXPECT_EQ(GetActiveWindow(), 0u);

    // A renderer's bad request on the runtime's display is reported, not fatal.
    const HWND w = VantorCreateX11Window(16, 16, "display", FALSE);
    ASSERT_NE(w, 0u);
    auto* shared = static_cast<Display*>(VantorWindowDisplay(w));
    ASSERT_NE(shared, nullptr);
    std::string trace;
    const int cookie = DebugOutputAddListener([](const char* s, void* t) { *static_cast<std::string*>(t) += s; }, &trace);
    XWindowAttributes a;
    EXPECT_FALSE(XGetWindowAttributes(shared, 0x7FFFFFF0ul, &a));
    DebugOutputRemoveListener(cookie);
    EXPECT_NE(trace.find("X11: error 3"), std::string::npos) << trace;  // BadWindow
    EXPECT_EQ(g_testErrors, errors);
    DestroyWindow(w);
}

TEST_F(X11Windows, CloseRequestsAndDestructionAreSeen) {
    {
        SCOPED_TRACE("WM_DELETE_WINDOW from the window manager");
        const HWND w = VantorCreateX11Window(64, 64, "close me", TRUE);
        ASSERT_NE(w, 0u);
        EXPECT_TRUE(VantorPumpWindowEvents(w));
        EXPECT_FALSE(VantorWindowClosed(w));
        const Window xid = VantorWindowXID(w);
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = xid;
        e.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
        e.xclient.data.l[1] = CurrentTime;
        XSendEvent(dpy, xid, False, NoEventMask, &e);
        XSync(dpy, False);
        EXPECT_TRUE(PumpUntilClosed(w));
        EXPECT_TRUE(VantorWindowClosed(w));
        EXPECT_TRUE(IsWindow(w)) << "a close request leaves the window to its owner";
        RECT r{};
        EXPECT_TRUE(GetClientRect(w, &r));
        EXPECT_TRUE(DestroyWindow(w));
    }
    {
        SCOPED_TRACE("a foreign window destroyed by its toolkit");
        const Window fw = Foreign(10, 10, 30, 30, "short-lived");
        const HWND w = VantorAttachX11Window(fw);
        ASSERT_NE(w, 0u);
        XDestroyWindow(dpy, fw);
        XSync(dpy, False);
        EXPECT_TRUE(PumpUntilClosed(w));
        EXPECT_TRUE(VantorWindowClosed(w));
        RECT r{};
        EXPECT_FALSE(GetWindowRect(w, &r));
        EXPECT_EQ(Text(w), "");
        EXPECT_FALSE(SetWindowTextA(w, "x"));
        std::vector<uint8_t> px(30 * 30 * 4);
        EXPECT_FALSE(VantorWindowReadPixels(w, px.data(), 30 * 4));
        EXPECT_TRUE(DestroyWindow(w));
    }
    EXPECT_EQ(GetActiveWindow(), 0u);
}
