// The back end the component draws through: an installed one (tests), else the default.
#include <vantor/backend/backend.h>

#include <cstdio>
#include <cstdlib>

namespace vantor::backend {

namespace {
Backend* g_default = nullptr;
Backend* g_installed = nullptr;
}  // namespace

Backend& backend() {
    Backend* b = g_installed ? g_installed : g_default;
    if (!b) {
        std::fputs("vantor: no rendering back end is available\n", stderr);
        std::abort();
    }
    return *b;
}

Backend* install(Backend* b) {
    Backend* previous = g_installed;
    g_installed = b;
    return previous;
}

void set_default(Backend* b) { g_default = b; }

}  // namespace vantor::backend
