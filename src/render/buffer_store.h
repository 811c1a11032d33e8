// GL buffers shared by content within one GL context: vertex buffers (and index lists) that
// hold the same bytes draw from one GL buffer, so a world of copies of one mesh binds one
// buffer instead of one per copy.
//
//   BufferStore store(gl);
//   BufferStore::Buffer* b = store.share(nullptr, vertices, bytes, true);  // found or added
//   GLuint name = store.gl_name(b);             // uploaded on first use; the context is current
//   store.withdraw(b, vertices);                // before the holder writes to `vertices`
//   b = store.share(b, vertices, bytes, true);  // after: shared again, or its own once more
//   store.release(b, vertices);                 // the last holder deletes the GL buffer
//
// A buffer is found by a hash of its bytes and confirmed by comparing them. Its content is a
// copy of its own, or borrowed from the memory of the holder that added it (which promises to
// keep it unchanged until it withdraws or releases); when that holder leaves while others still
// hold the buffer, the store copies the bytes first. Nothing outlives the store, which the
// DirectDraw object owning the GL context keeps.
#pragma once

#include "gl.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace vantor::render {

class BufferStore {
public:
    struct Buffer {
        const uint8_t* data = nullptr;  // the content: `own`'s, or the adding holder's memory
        size_t bytes = 0;
        uint64_t hash = 0;
        std::vector<uint8_t> own;
        GLuint name = 0;        // 0 until first drawn
        size_t gl_bytes = 0;    // the size of its storage
        bool uploaded = false;  // whether `name` holds `data`
        bool listed = false;    // whether the store finds it by content
        unsigned holders = 0;
        uint64_t serial = 0;  // unique for the life of the process (GL names are reused)
    };

    explicit BufferStore(GlContext* gl) : gl_(gl) {}
    ~BufferStore();
    BufferStore(const BufferStore&) = delete;
    BufferStore& operator=(const BufferStore&) = delete;

    // The buffer holding these bytes, one more holder of it. `held` (or null) is a buffer the
    // caller withdrew: it is reused when no other buffer holds the bytes, released otherwise.
    // `borrow`: `data` stays valid and unchanged until the caller withdraws or releases.
    Buffer* share(Buffer* held, const void* data, size_t bytes, bool borrow);
    // Before the holder changes the bytes it lent (`data`): a buffer others hold is released and
    // `b` becomes null; one it holds alone is kept for reuse by share().
    void withdraw(Buffer*& b, const void* data);
    // One holder fewer; the last one deletes the GL buffer. `data`: the caller's memory.
    void release(Buffer* b, const void* data);
    // The GL buffer, made and filled when needed: the GL context must be current.
    GLuint gl_name(Buffer* b) { return b->uploaded ? b->name : upload(b); }
    size_t size() const { return by_hash_.size(); }

private:
    GLuint upload(Buffer* b);
    void unlist(Buffer* b);
    void destroy(Buffer* b);

    GlContext* gl_;
    std::unordered_multimap<uint64_t, Buffer*> by_hash_;
};

}  // namespace vantor::render
