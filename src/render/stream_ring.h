// Per-draw data (vertices, indices, uniform blocks) written straight into persistently mapped
// GL memory, round and round, never over data a queued draw may still read.
//
//   StreamRing ring;
//   ring.create(GL_ARRAY_BUFFER, 8 << 20);        // the GL context must be current
//   GLintptr at = ring.write(vertices, bytes, 16); // -1 only when `bytes` exceeds a segment
//   glBindVertexBuffer(0, ring.buffer(), at, stride);
//
// The buffer is split into four segments. Leaving a segment fences it; entering one again
// waits for its fence, which a draw still reading it holds up. Nothing is copied by the
// driver and nothing is allocated per draw.
#pragma once

#include "gl.h"

namespace vantor::render {

class StreamRing {
public:
    static constexpr int kSegments = 4;

    StreamRing() = default;
    StreamRing(const StreamRing&) = delete;
    StreamRing& operator=(const StreamRing&) = delete;

    bool create(size_t capacity);
    // Deletes the buffer and fences; the GL context must be current.
    void destroy();
    // Copies `bytes` in at an offset aligned to `align`; -1 when they do not fit in a segment.
    GLintptr write(const void* data, size_t bytes, size_t align);
    // Whether a write of `bytes` would stay in the current segment; next_segment() moves on.
    bool fits(size_t bytes, size_t align) const;
    void next_segment();
    GLuint buffer() const { return buffer_; }
    size_t segment_bytes() const { return capacity_ / kSegments; }

private:
    void enter(int segment);

    GLuint buffer_ = 0;
    uint8_t* mapped_ = nullptr;
    size_t capacity_ = 0, head_ = 0;
    int segment_ = 0;
    GLsync fences_[kSegments] = {};
};

}  // namespace vantor::render
