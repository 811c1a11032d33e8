#include "test_window.h"

#include <vantor/window.h>

namespace vantor::testing {

// A real virtual window of the runtime: what back ends and the engine check window handles against.
TestWindow::TestWindow(int width, int height) : width_(width), height_(height) {
    handle_ = VantorCreateVirtualWindow(width, height, "Test Window");
}

TestWindow::~TestWindow() { DestroyWindow(handle_); }

}  // namespace vantor::testing
