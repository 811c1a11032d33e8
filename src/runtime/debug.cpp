// The debugger output: listeners receive every text; $VANTOR_DEBUG_OUTPUT adds one at start-up.
#include <vantor/debug.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

struct Listener {
    int cookie;
    DebugOutputListener fn;
    void* context;
};

struct State {
    std::mutex lock;
    std::vector<Listener> listeners;
    std::atomic<int> count{0};
    int next = 1;
};

void write_file(const char* text, void* context) {
    FILE* f = static_cast<FILE*>(context);
    std::fputs(text, f);
    std::fflush(f);
}

State& state() {
    static State* s = [] {
        auto* st = new State;
        if (const char* target = std::getenv("VANTOR_DEBUG_OUTPUT"); target && *target) {
            FILE* f = std::strcmp(target, "stderr") == 0 ? stderr : std::fopen(target, "a");
            if (f) {
                st->listeners.push_back({st->next++, write_file, f});
                st->count = 1;
            }
        }
        return st;
    }();
    return *s;
}

}  // namespace

extern "C" {

void OutputDebugStringA(LPCSTR text) {
    State& s = state();
    if (!text || s.count.load(std::memory_order_relaxed) == 0) return;
    std::vector<Listener> copy;
    {
        std::lock_guard<std::mutex> g(s.lock);
        copy = s.listeners;
    }
    for (const Listener& l : copy) l.fn(text, l.context);
}

int DebugOutputAddListener(DebugOutputListener listener, void* context) {
    if (!listener) return 0;
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    int cookie = s.next++;
    s.listeners.push_back({cookie, listener, context});
    s.count = static_cast<int>(s.listeners.size());
    return cookie;
}

void DebugOutputRemoveListener(int cookie) {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    for (auto it = s.listeners.begin(); it != s.listeners.end(); ++it) {
        if (it->cookie == cookie) {
            s.listeners.erase(it);
            break;
        }
    }
    s.count = static_cast<int>(s.listeners.size());
}

BOOL DebugOutputHasListener() { return state().count.load(std::memory_order_relaxed) > 0; }

}  // extern "C"
