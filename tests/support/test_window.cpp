#include "test_window.h"

#include <vantor/handles.h>

namespace vantor::testing {

// A window-typed entry in the handle table: what the back ends check a window handle against.
TestWindow::TestWindow(int width, int height) : width_(width), height_(height) {
    handle_ = HandleCreate(kHandleWindow, this);
}

TestWindow::~TestWindow() { HandleClose(handle_); }

}  // namespace vantor::testing
