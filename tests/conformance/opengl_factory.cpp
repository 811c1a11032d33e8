// The OpenGL back end under the conformance suite, built whenever the vantor-render library is
// part of the build (tests/conformance/CMakeLists.txt).
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
