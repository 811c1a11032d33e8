// Virtual windows: sizes and rectangles, titles, presenting and reading back, resizing, the
// active-window rules, and handles that are no window. X11 windows are tested under Xvfb in
// tests/x11.
#include <vantor/gdi.h>
#include <vantor/handles.h>
#include <vantor/window.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

struct Windows : ::testing::Test {
    uint32_t before = 0;
    void SetUp() override {
        before = HandleCount();
        ASSERT_EQ(GetActiveWindow(), 0u) << "an earlier test left a window";
    }
    void TearDown() override {
        EXPECT_EQ(HandleCount(), before) << "handles left over";
        EXPECT_EQ(GetActiveWindow(), 0u);
    }
};

std::vector<uint8_t> Read(HWND w, int width, int height) {
    std::vector<uint8_t> px(static_cast<size_t>(width) * height * 4, 0x5A);
    EXPECT_TRUE(VantorWindowReadPixels(w, px.data(), width * 4));
    return px;
}

std::vector<uint8_t> Pattern(int width, int height, size_t pitch) {
    std::vector<uint8_t> px(pitch * height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = px.data() + pitch * y + 4 * x;
            p[0] = static_cast<uint8_t>(x * 10);
            p[1] = static_cast<uint8_t>(y * 10);
            p[2] = static_cast<uint8_t>(x + y);
            p[3] = 200;
        }
    return px;
}

bool IsPattern(const uint8_t* p, int x, int y) {
    return p[0] == x * 10 && p[1] == y * 10 && p[2] == x + y && p[3] == 200;
}

bool IsOpaqueBlack(const uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 255; }

}  // namespace

TEST_F(Windows, VirtualWindowDescribesItself) {
    const HWND w = VantorCreateVirtualWindow(640, 480, "Demo");
    ASSERT_NE(w, 0u);
    EXPECT_TRUE(IsWindow(w));
    EXPECT_EQ(HandleTypeOf(w), kHandleWindow);
    EXPECT_EQ(VantorWindowKind(w), kWindowKindVirtual);
    EXPECT_EQ(VantorWindowXID(w), 0ul);
    EXPECT_EQ(VantorWindowDisplay(w), nullptr);
    RECT r{-1, -1, -1, -1};
    EXPECT_TRUE(GetWindowRect(w, &r));
    EXPECT_EQ(std::tie(r.left, r.top, r.right, r.bottom), std::tuple(0, 0, 640, 480));
    r = RECT{-1, -1, -1, -1};
    EXPECT_TRUE(GetClientRect(w, &r));
    EXPECT_EQ(std::tie(r.left, r.top, r.right, r.bottom), std::tuple(0, 0, 640, 480));
    EXPECT_FALSE(GetClientRect(w, nullptr));
    EXPECT_TRUE(VantorPumpWindowEvents(w)) << "nothing closes a virtual window";
    EXPECT_FALSE(VantorWindowClosed(w));
    EXPECT_FALSE(VantorWindowPresent(w, nullptr, 1, 1, 4));
    EXPECT_TRUE(DestroyWindow(w));
    EXPECT_FALSE(IsWindow(w));
    EXPECT_FALSE(DestroyWindow(w));
}

TEST_F(Windows, SizesOutOfRangeAreRefused) {
    EXPECT_EQ(VantorCreateVirtualWindow(0, 10, "x"), 0u);
    EXPECT_EQ(VantorCreateVirtualWindow(10, -1, "x"), 0u);
    EXPECT_EQ(VantorCreateVirtualWindow(40000, 1, "x"), 0u);
    EXPECT_EQ(VantorCreateVirtualWindow(16384, 16384, "x"), 0u);  // 1 GiB of RGBA
    const HWND w = VantorCreateVirtualWindow(1, 1, nullptr);  // no title is an empty one
    ASSERT_NE(w, 0u);
    char text[8] = "junk";
    EXPECT_EQ(GetWindowTextA(w, text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_FALSE(VantorResizeWindow(w, 0, 5));
    EXPECT_FALSE(VantorResizeWindow(w, 32769, 5));
    RECT r{};
    GetClientRect(w, &r);
    EXPECT_EQ(r.right, 1) << "a refused resize keeps the old size";
    DestroyWindow(w);
}

TEST_F(Windows, TitlesAreCopiedWholeOrCutAtACharacter) {
    const HWND w = VantorCreateVirtualWindow(8, 8, "Hello world");
    ASSERT_NE(w, 0u);
    char buf[64];
    EXPECT_EQ(GetWindowTextA(w, buf, sizeof buf), 11);
    EXPECT_STREQ(buf, "Hello world");
    EXPECT_EQ(GetWindowTextA(w, buf, 5), 4) << "at most bufferMax - 1 bytes and a NUL";
    EXPECT_STREQ(buf, "Hell");
    EXPECT_EQ(GetWindowTextA(w, buf, 1), 0);
    EXPECT_STREQ(buf, "");
    buf[0] = 'z';
    EXPECT_EQ(GetWindowTextA(w, buf, 0), 0);
    EXPECT_EQ(buf[0], 'z') << "bufferMax 0 writes nothing";
    EXPECT_EQ(GetWindowTextA(w, nullptr, 10), 0);

    // UTF-8: a cut never splits a character.
    ASSERT_TRUE(SetWindowTextA(w, "a\xC3\xA9\xE2\x82\xAC"));  // a, e acute, euro sign
    EXPECT_EQ(GetWindowTextA(w, buf, 3), 1);
    EXPECT_STREQ(buf, "a");
    EXPECT_EQ(GetWindowTextA(w, buf, 4), 3);
    EXPECT_STREQ(buf, "a\xC3\xA9");
    EXPECT_EQ(GetWindowTextA(w, buf, 6), 3);
    EXPECT_EQ(GetWindowTextA(w, buf, 7), 6);

    const std::string longTitle(100000, 'T');
    ASSERT_TRUE(SetWindowTextA(w, longTitle.c_str()));
    std::vector<char> big(longTitle.size() + 1);
    EXPECT_EQ(GetWindowTextA(w, big.data(), static_cast<INT>(big.size())), static_cast<INT>(longTitle.size()));
    EXPECT_EQ(std::string(big.data()), longTitle);
    EXPECT_TRUE(SetWindowTextA(w, nullptr));
    EXPECT_EQ(GetWindowTextA(w, buf, sizeof buf), 0);
    DestroyWindow(w);
}

TEST_F(Windows, PresentedImagesReadBackClipped) {
    const HWND w = VantorCreateVirtualWindow(4, 3, "Image");
    ASSERT_NE(w, 0u);
    std::vector<uint8_t> px = Read(w, 4, 3);
    for (size_t i = 0; i < px.size(); i += 4) EXPECT_TRUE(IsOpaqueBlack(&px[i])) << "black at first";

    // A 4x3 image with a wider pitch.
    std::vector<uint8_t> image = Pattern(4, 3, 20);
    EXPECT_TRUE(VantorWindowPresent(w, image.data(), 4, 3, 20));
    px = Read(w, 4, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_TRUE(IsPattern(&px[(y * 4 + x) * 4], x, y)) << x << "," << y;

    // A larger image is cut to the window; a smaller one changes only its own part.
    std::vector<uint8_t> large(10 * 10 * 4, 7);
    EXPECT_TRUE(VantorWindowPresent(w, large.data(), 10, 10, 40));
    px = Read(w, 4, 3);
    EXPECT_EQ(px, std::vector<uint8_t>(4 * 3 * 4, 7));
    std::vector<uint8_t> small = Pattern(2, 1, 8);
    EXPECT_TRUE(VantorWindowPresent(w, small.data(), 2, 1, 8));
    px = Read(w, 4, 3);
    EXPECT_TRUE(IsPattern(&px[0], 0, 0) && IsPattern(&px[4], 1, 0));
    EXPECT_EQ(std::tuple(px[8], px[4 * 4]), std::tuple(7, 7)) << "right of and below the small image";

    // Pitches too small for the rows they describe are refused.
    EXPECT_FALSE(VantorWindowPresent(w, image.data(), 4, 3, 15));
    EXPECT_FALSE(VantorWindowPresent(w, image.data(), 4, 3, -20));
    EXPECT_FALSE(VantorWindowPresent(w, image.data(), 0, 3, 20));
    EXPECT_FALSE(VantorWindowReadPixels(w, px.data(), 15));
    EXPECT_FALSE(VantorWindowReadPixels(w, nullptr, 16));

    // The sized read: a bigger buffer reads 0 outside the window, a smaller one is clipped.
    std::vector<uint8_t> wide(6 * 4 * 4, 0x5A);
    EXPECT_TRUE(VantorWindowReadPixelsSized(w, wide.data(), 6, 4, 24));
    EXPECT_TRUE(IsPattern(&wide[4], 1, 0));
    EXPECT_EQ(wide[(0 * 6 + 4) * 4 + 3], 0) << "right of the window";
    EXPECT_EQ(wide[(3 * 6 + 0) * 4 + 3], 0) << "below the window";
    std::vector<uint8_t> corner(8 + 4, 0x5A);  // 2x1 and a guard
    EXPECT_TRUE(VantorWindowReadPixelsSized(w, corner.data(), 2, 1, 8));
    EXPECT_TRUE(IsPattern(&corner[4], 1, 0));
    EXPECT_EQ(corner[8], 0x5A);
    EXPECT_FALSE(VantorWindowReadPixelsSized(w, corner.data(), 2, 1, 7));
    DestroyWindow(w);
}

TEST_F(Windows, ResizeClearsTheImage) {
    const HWND w = VantorCreateVirtualWindow(2, 2, "Resize");
    ASSERT_NE(w, 0u);
    std::vector<uint8_t> image = Pattern(2, 2, 8);
    ASSERT_TRUE(VantorWindowPresent(w, image.data(), 2, 2, 8));
    ASSERT_TRUE(VantorResizeWindow(w, 5, 3));
    RECT r{};
    EXPECT_TRUE(GetWindowRect(w, &r));
    EXPECT_EQ(std::tie(r.right, r.bottom), std::tuple(5, 3));
    const std::vector<uint8_t> px = Read(w, 5, 3);
    for (size_t i = 0; i < px.size(); i += 4) EXPECT_TRUE(IsOpaqueBlack(&px[i])) << i / 4;
    DestroyWindow(w);
}

TEST_F(Windows, ActiveWindowIsTheLatestLiveOne) {
    EXPECT_EQ(GetActiveWindow(), 0u);
    const HWND a = VantorCreateVirtualWindow(8, 8, "A");
    EXPECT_EQ(GetActiveWindow(), a);
    const HWND b = VantorCreateVirtualWindow(8, 8, "B");
    const HWND c = VantorCreateVirtualWindow(8, 8, "C");
    EXPECT_EQ(GetActiveWindow(), c);
    EXPECT_EQ(SetActiveWindow(a), c) << "answers the window that was active";
    EXPECT_EQ(GetActiveWindow(), a);
    EXPECT_EQ(SetActiveWindow(0xBAD), 0u);
    EXPECT_EQ(GetActiveWindow(), a) << "a handle that is no window changes nothing";
    // Order of activation now: b, c, a. Destroying the active one goes back one.
    DestroyWindow(a);
    EXPECT_EQ(GetActiveWindow(), c);
    DestroyWindow(b);  // not the active one: nothing changes
    EXPECT_EQ(GetActiveWindow(), c);
    EXPECT_EQ(SetActiveWindow(c), c);
    DestroyWindow(c);
    EXPECT_EQ(GetActiveWindow(), 0u);
    EXPECT_EQ(SetActiveWindow(c), 0u);
}

TEST_F(Windows, HandlesThatAreNoWindowAreRefused) {
    const HWND gone = VantorCreateVirtualWindow(4, 4, "gone");
    DestroyWindow(gone);
    BITMAPINFOHEADER bih{sizeof(BITMAPINFOHEADER), 1, 1, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    const HBITMAP bitmap = CreateDIBSection(0, reinterpret_cast<const BITMAPINFO*>(&bih), DIB_RGB_COLORS, nullptr, 0, 0);
    ASSERT_NE(bitmap, 0u);
    for (HWND w : {HWND{0}, gone, HWND{bitmap}, HWND{0x7FFFFFFF}}) {
        SCOPED_TRACE(w);
        RECT r{1, 2, 3, 4};
        char text[8] = "junk";
        std::vector<uint8_t> px(64);
        EXPECT_FALSE(IsWindow(w));
        EXPECT_FALSE(GetWindowRect(w, &r));
        EXPECT_FALSE(GetClientRect(w, &r));
        EXPECT_EQ(r.left, 1) << "left as it was";
        EXPECT_EQ(GetWindowTextA(w, text, sizeof text), 0);
        EXPECT_STREQ(text, "");
        EXPECT_FALSE(SetWindowTextA(w, "x"));
        EXPECT_FALSE(VantorResizeWindow(w, 4, 4));
        EXPECT_EQ(VantorWindowKind(w), kWindowKindNone);
        EXPECT_EQ(VantorWindowXID(w), 0ul);
        EXPECT_EQ(VantorWindowDisplay(w), nullptr);
        EXPECT_FALSE(VantorWindowPresent(w, px.data(), 2, 2, 8));
        EXPECT_FALSE(VantorWindowReadPixels(w, px.data(), 8));
        EXPECT_FALSE(VantorWindowReadPixelsSized(w, px.data(), 2, 2, 8));
        EXPECT_FALSE(VantorPumpWindowEvents(w));
        EXPECT_TRUE(VantorWindowClosed(w)) << "so a loop waiting for the close ends";
        EXPECT_FALSE(DestroyWindow(w));
        EXPECT_EQ(SetActiveWindow(w), 0u);
    }
    EXPECT_TRUE(DeleteObject(bitmap));
}

TEST_F(Windows, X11WithoutADisplayFailsCleanly) {
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display ? display : "";
    unsetenv("DISPLAY");
    EXPECT_EQ(VantorCreateX11Window(64, 64, "x", TRUE), 0u);
    EXPECT_EQ(VantorAttachX11Window(0x200001), 0u);
    if (display) setenv("DISPLAY", saved.c_str(), 1);
}

TEST_F(Windows, ManyThreadsAtOnce) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                const HWND w = VantorCreateVirtualWindow(16 + t, 16, "thread");
                ASSERT_NE(w, 0u);
                const std::string title = "window " + std::to_string(t) + "." + std::to_string(i);
                EXPECT_TRUE(SetWindowTextA(w, title.c_str()));
                char text[64];
                EXPECT_EQ(GetWindowTextA(w, text, sizeof text), static_cast<INT>(title.size()));
                EXPECT_EQ(title, text);
                std::vector<uint8_t> px((16 + t) * 16 * 4);
                EXPECT_TRUE(VantorWindowPresent(w, px.data(), 16 + t, 16, (16 + t) * 4));
                EXPECT_TRUE(VantorWindowReadPixels(w, px.data(), (16 + t) * 4));
                GetActiveWindow();
                EXPECT_TRUE(DestroyWindow(w));
            }
        });
    for (std::thread& t : threads) t.join();
}
