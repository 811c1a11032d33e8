// The streaming ring of per-draw data.
#include "stream_ring.h"

#include <cstring>

namespace vantor::render {

bool StreamRing::create(size_t capacity) {
    capacity_ = capacity / kSegments * kSegments;
    glCreateBuffers(1, &buffer_);
    const GLbitfield flags = GL_MAP_WRITE_BIT | GL_MAP_PERSISTENT_BIT | GL_MAP_COHERENT_BIT;
    glNamedBufferStorage(buffer_, static_cast<GLsizeiptr>(capacity_), nullptr, flags);
    mapped_ = static_cast<uint8_t*>(glMapNamedBufferRange(buffer_, 0, static_cast<GLsizeiptr>(capacity_), flags));
    head_ = 0;
    segment_ = 0;
    return mapped_ != nullptr;
}

void StreamRing::destroy() {
    for (GLsync& f : fences_) {
        if (f) glDeleteSync(f);
        f = nullptr;
    }
    if (buffer_) {
        if (mapped_) glUnmapNamedBuffer(buffer_);
        glDeleteBuffers(1, &buffer_);
    }
    buffer_ = 0;
    mapped_ = nullptr;
}

void StreamRing::enter(int segment) {
    // Queued draws may still read what the previous lap wrote here: wait for them.
    if (GLsync f = fences_[segment]) {
        GLenum r;
        do {
            r = glClientWaitSync(f, GL_SYNC_FLUSH_COMMANDS_BIT, 1000000000ull);
        } while (r == GL_TIMEOUT_EXPIRED);
        glDeleteSync(f);
        fences_[segment] = nullptr;
    }
    segment_ = segment;
}

bool StreamRing::fits(size_t bytes, size_t align) const {
    const size_t segment_size = capacity_ / kSegments;
    size_t at = (head_ + align - 1) / align * align;
    return at + bytes <= (static_cast<size_t>(segment_) + 1) * segment_size;
}

void StreamRing::next_segment() {
    const size_t segment_size = capacity_ / kSegments;
    int next = (segment_ + 1) % kSegments;
    if (fences_[segment_]) glDeleteSync(fences_[segment_]);
    fences_[segment_] = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    enter(next);
    head_ = static_cast<size_t>(next) * segment_size;
}

GLintptr StreamRing::write(const void* data, size_t bytes, size_t align) {
    const size_t segment_size = capacity_ / kSegments;
    if (!mapped_ || bytes > segment_size) return -1;
    size_t at = (head_ + align - 1) / align * align;
    size_t segment = at / segment_size;
    // A write never straddles two segments: it moves on to the next one instead.
    if (segment < kSegments && at + bytes > (segment + 1) * segment_size) at = ++segment * segment_size;
    if (segment >= kSegments) at = 0, segment = 0;
    if (static_cast<int>(segment) != segment_) {
        // Every draw reading the segment being left has been issued: fence them.
        if (fences_[segment_]) glDeleteSync(fences_[segment_]);
        fences_[segment_] = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
        enter(static_cast<int>(segment));
    }
    std::memcpy(mapped_ + at, data, bytes);
    head_ = at + bytes;
    return static_cast<GLintptr>(at);
}

}  // namespace vantor::render
