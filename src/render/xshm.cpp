// Presenting frames to an X11 window as shared-memory images (MIT-SHM).
//
// With a software rasteriser the frame already lies in memory with its first row at the top, as
// X wants it: reading it back into a shared image and putting that image costs about what a
// bare GLX swap does, while a window surface first needs a full-window textured copy (the
// flipping blit), which on llvmpipe costs several times more than the swap itself.
//
// Each window's images go through a connection of their own, so that its events are ours to
// read: the server's completion event says when an image may be written again, and the window's
// configure and destroy events give its size and its end. In the steady state a frame costs no
// round trip to the server. Errors on that connection (the window destroyed under us) are taken
// by hooks of the connection's own, never by the process's error handler.
#include "gl.h"

#include <map>
#include <mutex>

#include <X11/Xlib.h>
#include <X11/Xlibint.h>  // XESetWireToError; it defines min and max as macros
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#undef min
#undef max

namespace vantor::render {

struct ShmImage {
    Display* display = nullptr;  // our own connection
    Window window = 0;
    Visual* visual = nullptr;
    int depth = 0;
    int completion_event = 0;  // the MIT-SHM completion event's type on this connection
    GC gc = nullptr;
    XImage* image = nullptr;
    XShmSegmentInfo segment{};
    bool attached = false;
    bool in_flight = false;  // an image put and not yet completed
    bool failed = false;     // an error came back (the window is gone)
    bool gone = false;
    int width = 0, height = 0;  // the window's, as its configure events tell
};

namespace {

// The images of each private connection, for its error hook (one image per connection).
std::mutex g_lock;
std::map<Display*, ShmImage*>* g_images = new std::map<Display*, ShmImage*>;

// Every error of a private connection, whether a reply was awaited or not, passes here on its
// way from the wire; answering False drops it before the process's handler would see it.
Bool on_error(Display* d, XErrorEvent*, xError*) {
    std::lock_guard<std::mutex> g(g_lock);
    auto it = g_images->find(d);
    if (it != g_images->end()) it->second->failed = true;
    return False;
}

void handle(ShmImage* s, const XEvent& e) {
    if (e.type == s->completion_event) {
        s->in_flight = false;
    } else if (e.type == ConfigureNotify && e.xconfigure.window == s->window) {
        s->width = e.xconfigure.width;
        s->height = e.xconfigure.height;
    } else if (e.type == DestroyNotify && e.xdestroywindow.window == s->window) {
        s->gone = true;
    }
}

// Reads every event that has arrived; with `wait`, also waits until the image in flight is
// done (its completion event, or an error instead of it).
void take_events(ShmImage* s, bool wait) {
    for (;;) {
        while (XPending(s->display)) {
            XEvent e;
            XNextEvent(s->display, &e);
            handle(s, e);
        }
        if (!wait || !s->in_flight || s->failed || s->gone) return;
        pollfd p{ConnectionNumber(s->display), POLLIN, 0};
        if (poll(&p, 1, 1000) == 0) {
            // Nothing for a second: ask the server directly, which answers only after it has
            // handled the image.
            XSync(s->display, False);
            s->in_flight = false;
        }
    }
}

void release_image(ShmImage* s) {
    take_events(s, true);
    if (s->attached) {
        XShmDetach(s->display, &s->segment);
        XSync(s->display, False);
        s->attached = false;
    }
    if (s->image) {
        s->image->data = nullptr;  // the segment's memory, not Xlib's
        XDestroyImage(s->image);
        s->image = nullptr;
    }
    if (s->segment.shmaddr) shmdt(s->segment.shmaddr);
    s->segment = XShmSegmentInfo{};
}

// A shared image of `width` x `height` attached to the server; false when the server cannot
// attach it (a display on another machine).
bool make_image(ShmImage* s, int width, int height) {
    release_image(s);
    s->image = XShmCreateImage(s->display, s->visual, static_cast<unsigned>(s->depth), ZPixmap, nullptr, &s->segment,
                               static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (!s->image) return false;
    // Rows of 32-bit BGRX pixels, as glReadPixels writes GL_BGRA with a pack alignment of 1.
    if (s->image->bits_per_pixel != 32 || s->image->byte_order != LSBFirst || s->image->bytes_per_line != width * 4) {
        release_image(s);
        return false;
    }
    s->segment.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(s->image->bytes_per_line) * height, IPC_CREAT | 0600);
    if (s->segment.shmid < 0) {
        release_image(s);
        return false;
    }
    void* memory = shmat(s->segment.shmid, nullptr, 0);
    // Marked for removal at once: the segment goes when both sides have detached, even if
    // this process dies.
    shmctl(s->segment.shmid, IPC_RMID, nullptr);
    if (memory == reinterpret_cast<void*>(-1)) {
        s->segment = XShmSegmentInfo{};
        release_image(s);
        return false;
    }
    s->segment.shmaddr = s->image->data = static_cast<char*>(memory);
    s->segment.readOnly = True;
    s->failed = false;
    XShmAttach(s->display, &s->segment);
    XSync(s->display, False);  // an attach the server refuses answers with an error
    s->attached = !s->failed;
    if (!s->attached) release_image(s);
    return s->attached;
}

}  // namespace

ShmImage* shm_create(void* x_display, unsigned long xid) {
    Display* shared = static_cast<Display*>(x_display);
    if (!shared || !xid) return nullptr;
    Display* d = XOpenDisplay(DisplayString(shared));
    if (!d) return nullptr;
    auto* s = new ShmImage;
    s->display = d;
    s->window = xid;
    {
        std::lock_guard<std::mutex> g(g_lock);
        (*g_images)[d] = s;
    }
    bool shared_memory = XShmQueryExtension(d);
    // After the extension has set up its own (its errors' codes are among these).
    for (int code = 1; code < 256; ++code) XESetWireToError(d, code, on_error);
    if (!shared_memory) {
        shm_destroy(s);
        return nullptr;
    }
    s->completion_event = XShmGetEventBase(d) + ShmCompletion;
    XWindowAttributes a;
    // 8 bits a channel in the order of BGRA bytes: the frame goes in as it is read back. Depth
    // 24 only: a 32-bit visual would take the frame's alpha as the window's transparency.
    if (!XGetWindowAttributes(d, xid, &a) || s->failed || !a.visual || a.visual->c_class != TrueColor ||
        a.depth != 24 || a.visual->red_mask != 0xFF0000 || a.visual->green_mask != 0xFF00 ||
        a.visual->blue_mask != 0xFF) {
        shm_destroy(s);
        return nullptr;
    }
    s->visual = a.visual;
    s->depth = a.depth;
    s->width = a.width;
    s->height = a.height;
    // Our own interest in the window's size and end; other clients' selections are untouched.
    XSelectInput(d, xid, StructureNotifyMask);
    s->gc = XCreateGC(d, xid, 0, nullptr);
    if (!s->gc || !make_image(s, a.width > 0 ? a.width : 1, a.height > 0 ? a.height : 1)) {
        shm_destroy(s);
        return nullptr;
    }
    return s;
}

void shm_destroy(ShmImage* s) {
    if (!s) return;
    release_image(s);
    if (s->gc) XFreeGC(s->display, s->gc);
    XCloseDisplay(s->display);
    std::lock_guard<std::mutex> g(g_lock);
    g_images->erase(s->display);
    delete s;
}

bool shm_window_size(ShmImage* s, int* width, int* height) {
    take_events(s, true);
    if (s->gone || s->failed || s->width <= 0 || s->height <= 0) return false;
    *width = s->width;
    *height = s->height;
    return true;
}

uint8_t* shm_rows(ShmImage* s, int width, int height) {
    take_events(s, true);
    if (!s->image || s->image->width != width || s->image->height != height)
        if (!make_image(s, width, height)) return nullptr;
    return reinterpret_cast<uint8_t*>(s->image->data);
}

bool shm_put(ShmImage* s) {
    if (!s->image || s->gone || s->failed) return false;
    XShmPutImage(s->display, s->window, s->gc, s->image, 0, 0, 0, 0, static_cast<unsigned>(s->image->width),
                 static_cast<unsigned>(s->image->height), True);
    s->in_flight = true;
    XFlush(s->display);
    return true;
}

}  // namespace vantor::render
