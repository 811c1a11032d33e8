// backend_factory.h — the back ends the conformance suite runs on.
//
// Each back end registers one factory, in its own source file:
//
//   static const vantor::conformance::BackendFactory kMine{
//       "mine",                                     // test-name suffix: Conformance.Defaults/mine
//       [] () -> vantor::backend::Backend& { ... }, // open: the back end, fresh or reset, for one test
//       [] { ... },                                 // close: after the test (may be empty)
//       [](int w, int h) { return ...; },           // a window for contexts, w x h client area
//       [](HWND window) { ... }};                   // destroys that window
//   static const vantor::conformance::RegisterBackend kRegistered(kMine);
//
// Every test gets the back end from `open` and ends with no back-end object alive and the
// utility layer stopped, so a back end that lives for the whole process can be shared.
#pragma once

#include <vantor/backend/backend.h>

#include <functional>
#include <string>
#include <vector>

namespace vantor::conformance {

struct BackendFactory {
    std::string name;
    std::function<vantor::backend::Backend&()> open;
    std::function<void()> close;
    std::function<HWND(int width, int height)> make_window;
    std::function<void(HWND)> destroy_window;
};

// The registered factories, in the order they registered.
inline std::vector<const BackendFactory*>& backend_factories() {
    static std::vector<const BackendFactory*> all;
    return all;
}

struct RegisterBackend {
    explicit RegisterBackend(const BackendFactory& factory) { backend_factories().push_back(&factory); }
};

}  // namespace vantor::conformance
