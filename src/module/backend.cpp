// The back end the component draws through: an installed one (tests), else the default, which
// the component sets to the OpenGL back end when it loads. This is the one place where the
// component meets a back-end implementation.
#include <vantor/backend/backend.h>

#include <cstdio>
#include <cstdlib>

namespace vantor::backend {

namespace {
Backend* g_default = nullptr;
Backend* g_installed = nullptr;
}  // namespace

Backend& backend() {
    Backend* b = g_installed ? g_installed : g_default;
    if (!b) {
        std::fputs("vantor: no rendering back end is available\n", stderr);
        std::abort();
    }
    return *b;
}

Backend* install(Backend* b) {
    Backend* previous = g_installed;
    g_installed = b;
    return previous;
}

void set_default(Backend* b) { g_default = b; }

}  // namespace vantor::backend

// ---- "ddraw.dll": DirectDraw creation through the back end in use ------------------------------

#include <vantor/system.h>

#ifdef VANTOR_HAVE_OPENGL
#include <vantor/render/opengl.h>
#endif

namespace vantor::backend {

namespace {
HRESULT direct_draw_create_ex(GUID* guid, void** dd, REFIID iid, IUnknown* outer) {
    return backend().DirectDrawCreateEx(guid, dd, iid, outer);
}
HRESULT direct_draw_create(GUID* guid, IUnknown** dd, IUnknown* outer) {
    return backend().DirectDrawCreate(guid, dd, outer);
}
}  // namespace

// Called when the component loads: DirectDraw's entry points become the built-in "ddraw.dll",
// and the OpenGL back end the default.
void attach_component() {
    static const VantorExport exports[] = {
        {"DirectDrawCreateEx", reinterpret_cast<void*>(&direct_draw_create_ex)},
        {"DirectDrawCreate", reinterpret_cast<void*>(&direct_draw_create)},
    };
    VantorRegisterBuiltinLibrary("ddraw.dll", exports, sizeof exports / sizeof exports[0]);
#ifdef VANTOR_HAVE_OPENGL
    set_default(&vantor::render::opengl_backend());
#endif
}

}  // namespace vantor::backend
