// The recording back end under the conformance suite: a fresh one, with its default
// configuration, for every test.
#include <map>
#include <memory>

#include "backend_factory.h"
#include "recording_backend.h"
#include "test_window.h"

namespace {

std::unique_ptr<vantor::testing::RecordingBackend> current;
std::map<HWND, std::unique_ptr<vantor::testing::TestWindow>> windows;

const vantor::conformance::BackendFactory kRecording{
    "recording",
    []() -> vantor::backend::Backend& {
        current = std::make_unique<vantor::testing::RecordingBackend>();
        return *current;
    },
    [] { current.reset(); },
    [](int width, int height) {
        auto w = std::make_unique<vantor::testing::TestWindow>(width, height);
        HWND h = w->handle();
        windows[h] = std::move(w);
        return h;
    },
    [](HWND window) { windows.erase(window); }};

const vantor::conformance::RegisterBackend kRegistered(kRecording);

}  // namespace
