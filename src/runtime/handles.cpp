// The process-wide handle table: slot index in the low 20 bits, a generation count above it,
// bit 31 always clear so handles are positive 32-bit values.
//
// A stale handle must never name a new object (a device still bound to a closed window would
// draw into an unrelated one). So the table takes fresh slots until it holds kFreshSlots, and
// only then reuses closed slots, oldest first: a slot comes back after every other closed slot
// has. A slot whose generation would wrap is retired for good, so no handle value is ever issued
// twice; the table runs out only after about two billion creations.
#include <vantor/handles.h>

#include <deque>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

constexpr uint32_t kIndexBits = 20;
constexpr uint32_t kIndexMask = (1u << kIndexBits) - 1;
constexpr uint32_t kGenerationMask = 0x7FF;  // 11 bits
constexpr size_t kFreshSlots = 65536;

struct Slot {
    void* object = nullptr;
    uint16_t type = kHandleNone;
    uint16_t generation = 1;
};

struct Table {
    std::mutex lock;
    std::vector<Slot> slots{1};  // slot 0 is never used, so no handle is 0
    std::deque<uint32_t> free;  // closed slots, oldest first
    std::unordered_map<const void*, std::vector<uint32_t>> by_object;  // reverse lookup
    uint32_t live = 0;
};

Table& table() {
    static Table* t = new Table;  // never destroyed: objects may close handles at exit
    return *t;
}

Slot* find(Table& t, uint32_t h) {
    uint32_t index = h & kIndexMask;
    uint32_t generation = (h >> kIndexBits) & kGenerationMask;
    if (index == 0 || index >= t.slots.size()) return nullptr;
    Slot& s = t.slots[index];
    if (s.type == kHandleNone || s.generation != generation) return nullptr;
    return &s;
}

}  // namespace

extern "C" {

uint32_t HandleCreate(uint16_t type, void* object) {
    if (!object || type == kHandleNone) return 0;
    Table& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    uint32_t index;
    const bool fresh_left = t.slots.size() <= kIndexMask;
    if (fresh_left && (t.slots.size() <= kFreshSlots || t.free.empty())) {
        index = static_cast<uint32_t>(t.slots.size());
        t.slots.emplace_back();
    } else if (!t.free.empty()) {
        index = t.free.front();
        t.free.pop_front();
    } else {
        return 0;
    }
    Slot& s = t.slots[index];
    s.object = object;
    s.type = type;
    ++t.live;
    uint32_t h = (static_cast<uint32_t>(s.generation) << kIndexBits) | index;
    t.by_object[object].push_back(h);
    return h;
}

void* HandleResolve(uint32_t h, uint16_t type) {
    Table& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    Slot* s = find(t, h);
    return (s && s->type == type) ? s->object : nullptr;
}

uint32_t HandleOf(uint16_t type, const void* object) {
    Table& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    auto it = t.by_object.find(object);
    if (it == t.by_object.end()) return 0;
    for (uint32_t h : it->second)
        if (Slot* s = find(t, h); s && s->type == type) return h;
    return 0;
}

uint16_t HandleTypeOf(uint32_t h) {
    Table& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    Slot* s = find(t, h);
    return s ? s->type : static_cast<uint16_t>(kHandleNone);
}

void HandleClose(uint32_t h) {
    Table& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    Slot* s = find(t, h);
    if (!s) return;
    auto it = t.by_object.find(s->object);
    if (it != t.by_object.end()) {
        std::erase(it->second, h);
        if (it->second.empty()) t.by_object.erase(it);
    }
    s->object = nullptr;
    s->type = kHandleNone;
    if (s->generation < kGenerationMask) {
        ++s->generation;
        t.free.push_back(h & kIndexMask);
    }  // else: every generation of this slot has been used; it is retired
    --t.live;
}

uint32_t HandleCount() {
    Table& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    return t.live;
}

}  // extern "C"
