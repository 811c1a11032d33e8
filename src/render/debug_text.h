// The utility layer's debug text: DejaVu Sans Mono (found with fontconfig, rendered with
// FreeType into a glyph atlas once per GL context) drawn straight into a render target.
//
//   DebugText text;
//   text.draw(gl, framebuffer, 640, 480, 0.1f, 0.2f, 0xFFFFFF00, "frame 12");   // top-left at (64, 96)
//
// The text is UTF-8; Latin-1 characters have glyphs, anything else shows as '?'. '\n' starts a
// new line under the first. The colour's alpha byte is not used: the engine passes colours
// such as 0x00FFFF00 unchanged and expects them drawn, so text is always opaque, its edges
// blended by the glyph coverage.
#pragma once

#include "gl.h"

#include <vantor/types.h>

#include <vector>

namespace vantor::render {

class DebugText {
public:
    DebugText() = default;
    // Deletes the GL objects; the GL context must be current. (Without it they go with the context.)
    void release();
    DebugText(const DebugText&) = delete;
    DebugText& operator=(const DebugText&) = delete;

    // False when the font cannot be found or loaded. Leaves GL state changed (the caller
    // restores its own).
    bool draw(GLuint framebuffer, int width, int height, float x, float y, DWORD colour, const char* text);

    // Size of one character cell and of a line, in pixels (valid after the first draw).
    int advance() const { return advance_; }
    int line_height() const { return line_height_; }

    static constexpr int kPixelSize = 14;

private:
    struct Glyph {
        float u0, v0, u1, v1;
        int width, height, left, top;  // bitmap size and bearings
    };
    bool load();

    bool tried_ = false, loaded_ = false;
    Glyph glyphs_[256]{};
    int advance_ = 0, line_height_ = 0, ascent_ = 0;
    GLuint texture_ = 0, program_ = 0, vao_ = 0, buffer_ = 0;
    GLint colour_location_ = -1, target_location_ = -1;
    std::vector<float> vertices_;
};

}  // namespace vantor::render
