#include "test_window.h"

#include <vantor/window.h>

namespace vantor::testing {

TestWindow::TestWindow(int width, int height) : width_(width), height_(height) {
    handle_ = VantorCreateVirtualWindow(width, height, "test");
}

TestWindow::~TestWindow() {
    DestroyWindow(handle_);
}

}  // namespace vantor::testing
