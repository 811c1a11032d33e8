// The recording back end under the conformance suite: a fresh one, with its default
// configuration, for every test, on virtual windows.
#include <vantor/window.h>

#include <memory>

#include "backend_factory.h"
#include "recording_backend.h"

namespace {

std::unique_ptr<vantor::testing::RecordingBackend> current;

const vantor::conformance::BackendFactory kRecording{
    "recording",
    []() -> vantor::backend::Backend& {
        current = std::make_unique<vantor::testing::RecordingBackend>();
        return *current;
    },
    [] { current.reset(); },
    [](int width, int height) { return VantorCreateVirtualWindow(width, height, "conformance"); },
    [](HWND window) { DestroyWindow(window); }};

const vantor::conformance::RegisterBackend kRegistered(kRecording);

}  // namespace
