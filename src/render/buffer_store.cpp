// GL buffers shared by content.
#include "buffer_store.h"

#include <atomic>
#include <cstring>

namespace vantor::render {
namespace {

// A 64-bit hash of the bytes, eight at a time. Equal hashes are confirmed by comparing the
// bytes, so it only has to spread different contents well.
uint64_t hash_bytes(const uint8_t* p, size_t n) {
    constexpr uint64_t kMultiplier = 0xFF51AFD7ED558CCDull;
    uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        h = (h ^ w) * kMultiplier;
        h ^= h >> 29;
    }
    uint64_t tail = 0;
    if (i < n) std::memcpy(&tail, p + i, n - i);
    h = (h ^ tail) * kMultiplier;
    return h ^ (h >> 32);
}

uint64_t next_serial() {
    static std::atomic<uint64_t> serial{0};
    return ++serial;
}

}  // namespace

BufferStore::~BufferStore() {
    // Every holder released its buffer before the DirectDraw object went; whatever is left
    // (a holder that leaked) goes with the store.
    while (!by_hash_.empty()) {
        Buffer* b = by_hash_.begin()->second;
        unlist(b);
        destroy(b);
    }
}

BufferStore::Buffer* BufferStore::share(Buffer* held, const void* data, size_t bytes, bool borrow) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    const uint64_t hash = hash_bytes(p, bytes);
    auto [from, to] = by_hash_.equal_range(hash);
    for (auto it = from; it != to; ++it) {
        Buffer* b = it->second;
        if (b->bytes == bytes && std::memcmp(b->data, p, bytes) == 0) {
            if (held) release(held, data);
            ++b->holders;
            return b;
        }
    }
    Buffer* b = held;
    if (!b) {
        b = new Buffer;
        b->holders = 1;
        b->serial = next_serial();
    }
    if (borrow) {
        b->own.clear();
        b->own.shrink_to_fit();
        b->data = p;
    } else {
        b->own.assign(p, p + bytes);
        b->data = b->own.data();
    }
    b->bytes = bytes;
    b->hash = hash;
    b->uploaded = false;
    b->listed = true;
    by_hash_.emplace(hash, b);
    return b;
}

void BufferStore::withdraw(Buffer*& b, const void* data) {
    if (!b) return;
    if (b->holders > 1) {
        release(b, data);
        b = nullptr;
        return;
    }
    unlist(b);
}

void BufferStore::release(Buffer* b, const void* data) {
    if (!b) return;
    if (--b->holders > 0) {
        // The others still compare against the bytes: keep a copy when they were the leaver's.
        if (b->data == data) {
            b->own.assign(b->data, b->data + b->bytes);
            b->data = b->own.data();
        }
        return;
    }
    unlist(b);
    destroy(b);
}

GLuint BufferStore::upload(Buffer* b) {
    if (!b->name) {
        glCreateBuffers(1, &b->name);
        b->gl_bytes = 0;
    }
    if (!b->uploaded) {
        if (b->gl_bytes == b->bytes) {
            glNamedBufferSubData(b->name, 0, static_cast<GLsizeiptr>(b->bytes), b->data);
        } else {
            glNamedBufferData(b->name, static_cast<GLsizeiptr>(b->bytes), b->data, GL_STATIC_DRAW);
            b->gl_bytes = b->bytes;
        }
        b->uploaded = true;
    }
    return b->name;
}

void BufferStore::unlist(Buffer* b) {
    if (!b->listed) return;
    auto [from, to] = by_hash_.equal_range(b->hash);
    for (auto it = from; it != to; ++it) {
        if (it->second == b) {
            by_hash_.erase(it);
            break;
        }
    }
    b->listed = false;
}

void BufferStore::destroy(Buffer* b) {
    if (b->name && gl_ && gl_->make_current()) glDeleteBuffers(1, &b->name);
    delete b;
}

}  // namespace vantor::render
