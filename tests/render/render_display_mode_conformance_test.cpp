// Full-screen contexts share the one recorded display mode: while any is open the mode is that of
// the newest still open, and the mode from before the first comes back when the last one goes,
// whatever order they are released in.
#include "render_test_support.h"

#include <vantor/window.h>

#include <vector>

using namespace render_test;

namespace {

vantor::backend::Backend& gl() { return opengl_backend(); }

DWORD mode_width() {
    D3DX_VIDMODEDESC m{};
    EXPECT_EQ(gl().D3DXGetCurrentVideoMode(0, &m), S_OK);
    return m.width;
}

struct ReleaseCase {
    const char* name;
    std::vector<int> order;          // indices into the contexts made, in the order released
    std::vector<DWORD> width_after;  // the recorded width after each release
};

TEST(DisplayModeConformance, FullScreenContextsGiveBackTheModeInAnyOrder) {
    const DWORD kWidths[] = {320, 200, 256};
    const ReleaseCase cases[] = {
        {"newest first", {2, 1, 0}, {200, 320, 1024}},
        {"oldest first", {0, 1, 2}, {256, 256, 1024}},
        {"middle first", {1, 0, 2}, {256, 256, 1024}},
        {"newest last but one", {0, 2, 1}, {256, 200, 1024}},
    };
    ASSERT_EQ(gl().D3DXInitialize(), S_OK);
    ASSERT_EQ(mode_width(), 1024u);
    for (const ReleaseCase& c : cases) {
        SCOPED_TRACE(c.name);
        HWND window = VantorCreateVirtualWindow(40, 30, "full");
        ID3DXContext* contexts[3] = {};
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(gl().D3DXCreateContext(D3DX_DEFAULT, D3DX_CONTEXT_FULLSCREEN, window, kWidths[i], 150, &contexts[i]), S_OK);
            EXPECT_EQ(mode_width(), kWidths[i]);
        }
        for (size_t step = 0; step < c.order.size(); ++step) {
            EXPECT_EQ(contexts[c.order[step]]->Release(), 0u);
            EXPECT_EQ(mode_width(), c.width_after[step]) << "after release " << step + 1;
        }
        DestroyWindow(window);
    }
    ASSERT_EQ(gl().D3DXUninitialize(), S_OK);
}

}  // namespace
