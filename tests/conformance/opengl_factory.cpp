// The OpenGL back end under the conformance suite. Built when VANTOR_CONFORMANCE_OPENGL_TARGET
// names the library that provides vantor::render::opengl_backend() (tests/conformance/CMakeLists.txt).
#include <vantor/window.h>

#include "backend_factory.h"

namespace vantor::render {
vantor::backend::Backend& opengl_backend();
}

namespace {

const vantor::conformance::BackendFactory kOpenGL{
    "opengl",
    []() -> vantor::backend::Backend& { return vantor::render::opengl_backend(); },
    {},
    [](int width, int height) { return VantorCreateVirtualWindow(width, height, "conformance"); },
    [](HWND window) { DestroyWindow(window); }};

const vantor::conformance::RegisterBackend kRegistered(kOpenGL);

}  // namespace
