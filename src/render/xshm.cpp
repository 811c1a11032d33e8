// Presenting frames to an X11 window as shared-memory images (MIT-SHM).
//
// With a software rasteriser the frame already lies in memory with its first row at the top, as
// X wants it: reading it back into a shared image and putting that image costs about what a
// bare GLX swap does, while a window surface first needs a full-window textured copy (the
// flipping blit), which on llvmpipe costs several times more than the swap itself.
//
// One round trip a frame: the window's size is asked for before the frame is read back, and
// its reply also says that the server has finished with the previous image (requests are
// handled in order), so the shared memory can be written again.
#include "gl.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

namespace vantor::render {

struct ShmImage {
    Display* display = nullptr;
    Window window = 0;
    Visual* visual = nullptr;
    int depth = 0;
    GC gc = nullptr;
    XImage* image = nullptr;
    XShmSegmentInfo segment{};
    bool attached = false;
};

namespace {

int g_attach_error = 0;
int on_attach_error(Display*, XErrorEvent* e) {
    if (!g_attach_error) g_attach_error = e->error_code;
    return 0;
}

void release_image(ShmImage* s) {
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
    if (s->image->bits_per_pixel != 32 || s->image->byte_order != LSBFirst ||
        s->image->bytes_per_line != width * 4) {
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
    // The attach fails asynchronously; its error is taken here instead of by whichever handler
    // is installed.
    XSync(s->display, False);
    g_attach_error = 0;
    auto previous = XSetErrorHandler(on_attach_error);
    XShmAttach(s->display, &s->segment);
    XSync(s->display, False);
    XSetErrorHandler(previous);
    s->attached = g_attach_error == 0;
    if (!s->attached) release_image(s);
    return s->attached;
}

}  // namespace

ShmImage* shm_create(void* x_display, unsigned long xid) {
    Display* d = static_cast<Display*>(x_display);
    if (!d || !xid || !XShmQueryExtension(d)) return nullptr;
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, xid, &a) || !a.visual) return nullptr;
    // 8 bits a channel in the order of BGRA bytes: the frame goes in as it is read back. Depth
    // 24 only: a 32-bit visual would take the frame's alpha as the window's transparency.
    if (a.visual->c_class != TrueColor || a.depth != 24 || a.visual->red_mask != 0xFF0000 ||
        a.visual->green_mask != 0xFF00 || a.visual->blue_mask != 0xFF)
        return nullptr;
    auto* s = new ShmImage;
    s->display = d;
    s->window = xid;
    s->visual = a.visual;
    s->depth = a.depth;
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
    XSync(s->display, False);  // a window already gone answers with an error, taken here
    delete s;
}

bool shm_window_size(ShmImage* s, int* width, int* height) {
    Window root;
    int x = 0, y = 0;
    unsigned w = 0, h = 0, border = 0, depth = 0;
    if (!XGetGeometry(s->display, s->window, &root, &x, &y, &w, &h, &border, &depth) || !w || !h) return false;
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return true;
}

uint8_t* shm_rows(ShmImage* s, int width, int height) {
    if (!s->image || s->image->width != width || s->image->height != height)
        if (!make_image(s, width, height)) return nullptr;
    return reinterpret_cast<uint8_t*>(s->image->data);
}

bool shm_put(ShmImage* s) {
    if (!s->image) return false;
    XShmPutImage(s->display, s->window, s->gc, s->image, 0, 0, 0, 0, static_cast<unsigned>(s->image->width),
                 static_cast<unsigned>(s->image->height), False);
    XFlush(s->display);
    return true;
}

}  // namespace vantor::render
