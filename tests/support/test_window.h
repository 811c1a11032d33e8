// test_window.h — a window for tests that open rendering contexts.
//
//   vantor::testing::TestWindow window(320, 240);
//   backend.D3DXCreateContext(D3DX_DEFAULT, 0, window.handle(), 320, 240, &context);
#pragma once

#include <vantor/types.h>

namespace vantor::testing {

class TestWindow {
public:
    TestWindow(int width, int height);
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;
    HWND handle() const { return handle_; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    HWND handle_ = 0;
    int width_, height_;
};

}  // namespace vantor::testing
