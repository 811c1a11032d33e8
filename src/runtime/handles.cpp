// The process-wide handle table: slot index in the low 20 bits, a generation count above it,
// bit 31 always clear so handles are positive 32-bit values.
#include <vantor/handles.h>

#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

constexpr uint32_t kIndexBits = 20;
constexpr uint32_t kIndexMask = (1u << kIndexBits) - 1;
constexpr uint32_t kGenerationMask = 0x7FF;  // 11 bits

struct Slot {
    void* object = nullptr;
    uint16_t type = kHandleNone;
    uint16_t generation = 1;
};

struct Table {
    std::mutex lock;
    std::vector<Slot> slots{1};  // slot 0 is never used, so no handle is 0
    std::vector<uint32_t> free;
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
    if (!t.free.empty()) {
        index = t.free.back();
        t.free.pop_back();
    } else {
        if (t.slots.size() > kIndexMask) return 0;
        index = static_cast<uint32_t>(t.slots.size());
        t.slots.emplace_back();
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
    s->generation = static_cast<uint16_t>(((s->generation) % kGenerationMask) + 1);
    t.free.push_back(h & kIndexMask);
    --t.live;
}

uint32_t HandleCount() {
    Table& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    return t.live;
}

}  // extern "C"
