// Debug text: a FreeType glyph atlas of DejaVu Sans Mono, drawn as textured quads.
#include "debug_text.h"

#include "pipeline.h"

#include <dlfcn.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>

namespace vantor::render {
namespace {

constexpr int kColumns = 16;

const char* kVertexShader = R"(#version 450 core
layout(location = 0) in vec2 a_position;
layout(location = 1) in vec2 a_uv;
uniform vec2 u_target;
out vec2 v_uv;
void main() {
    // Pixels from the top-left; clip control puts NDC +1 at the top row.
    gl_Position = vec4(2.0 * a_position.x / u_target.x - 1.0, 1.0 - 2.0 * a_position.y / u_target.y, 0.0, 1.0);
    v_uv = a_uv;
}
)";

const char* kFragmentShader = R"(#version 450 core
layout(binding = 0) uniform sampler2D s_atlas;
uniform vec3 u_colour;
in vec2 v_uv;
layout(location = 0) out vec4 o_colour;
void main() {
    o_colour = vec4(u_colour, texture(s_atlas, v_uv).r);
}
)";

// The font installed beside the component (fonts/ next to libvantor.so, as the Python package
// carries it), so debug text does not depend on the machine's fonts; "" when there is none.
std::string own_font_path() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<const void*>(&own_font_path), &info) || !info.dli_fname) return {};
    std::string path = info.dli_fname;
    path = path.substr(0, path.rfind('/') + 1) + "fonts/DejaVuSansMono.ttf";
    return access(path.c_str(), R_OK) == 0 ? path : std::string{};
}

std::string font_path() {
    if (std::string own = own_font_path(); !own.empty()) return own;
    if (!FcInit()) return {};
    std::string path;
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("DejaVu Sans Mono"));
    if (!pattern) return {};
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    if (match) {
        FcChar8* file = nullptr;
        if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file)
            path = reinterpret_cast<const char*>(file);
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    return path;
}

// The next code point of UTF-8 text; malformed bytes read as '?'.
uint32_t next_code_point(const unsigned char*& p) {
    unsigned char c = *p++;
    if (c < 0x80) return c;
    int extra = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0) return '?';
    uint32_t cp = c & (0x3F >> extra);
    for (int i = 0; i < extra; ++i) {
        if ((*p & 0xC0) != 0x80) return '?';
        cp = (cp << 6) | (*p++ & 0x3F);
    }
    return cp;
}

}  // namespace

void DebugText::release() {
    if (texture_) glDeleteTextures(1, &texture_);
    if (program_) glDeleteProgram(program_);
    if (vao_) glDeleteVertexArrays(1, &vao_);
    if (buffer_) glDeleteBuffers(1, &buffer_);
    texture_ = program_ = vao_ = buffer_ = 0;
    tried_ = loaded_ = false;
}

bool DebugText::load() {
    tried_ = true;
    std::string path = font_path();
    if (path.empty()) return false;
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library)) return false;
    FT_Face face = nullptr;
    if (FT_New_Face(library, path.c_str(), 0, &face) || FT_Set_Pixel_Sizes(face, 0, kPixelSize)) {
        if (face) FT_Done_Face(face);
        FT_Done_FreeType(library);
        return false;
    }
    ascent_ = static_cast<int>((face->size->metrics.ascender + 63) >> 6);
    line_height_ = static_cast<int>((face->size->metrics.height + 63) >> 6);
    advance_ = static_cast<int>((face->size->metrics.max_advance + 63) >> 6);
    if (!FT_Load_Char(face, 'M', FT_LOAD_DEFAULT)) advance_ = static_cast<int>((face->glyph->advance.x + 32) >> 6);
    int cell_w = advance_ + 4, cell_h = line_height_ + 4;
    int atlas_w = cell_w * kColumns, atlas_h = cell_h * (256 / kColumns);
    std::vector<uint8_t> atlas(static_cast<size_t>(atlas_w) * atlas_h, 0);
    for (int c = 32; c < 256; ++c) {
        if (c >= 127 && c < 160) continue;
        if (FT_Load_Char(face, static_cast<FT_ULong>(c), FT_LOAD_RENDER)) continue;
        const FT_Bitmap& b = face->glyph->bitmap;
        int w = std::min<int>(static_cast<int>(b.width), cell_w - 2), h = std::min<int>(static_cast<int>(b.rows), cell_h - 2);
        int x0 = (c % kColumns) * cell_w + 1, y0 = (c / kColumns) * cell_h + 1;
        for (int y = 0; y < h; ++y)
            std::memcpy(&atlas[static_cast<size_t>(y0 + y) * atlas_w + x0], b.buffer + static_cast<ptrdiff_t>(y) * b.pitch,
                        static_cast<size_t>(w));
        Glyph& g = glyphs_[c];
        g.width = w;
        g.height = h;
        g.left = face->glyph->bitmap_left;
        g.top = face->glyph->bitmap_top;
        g.u0 = static_cast<float>(x0) / atlas_w;
        g.v0 = static_cast<float>(y0) / atlas_h;
        g.u1 = static_cast<float>(x0 + w) / atlas_w;
        g.v1 = static_cast<float>(y0 + h) / atlas_h;
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);

    glCreateTextures(GL_TEXTURE_2D, 1, &texture_);
    glTextureStorage2D(texture_, 1, GL_R8, atlas_w, atlas_h);
    glTextureSubImage2D(texture_, 0, 0, 0, atlas_w, atlas_h, GL_RED, GL_UNSIGNED_BYTE, atlas.data());
    glTextureParameteri(texture_, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTextureParameteri(texture_, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTextureParameteri(texture_, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTextureParameteri(texture_, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    program_ = build_program(kVertexShader, "", kFragmentShader);
    if (!program_) return false;
    colour_location_ = glGetUniformLocation(program_, "u_colour");
    target_location_ = glGetUniformLocation(program_, "u_target");
    glCreateBuffers(1, &buffer_);
    glCreateVertexArrays(1, &vao_);
    glVertexArrayVertexBuffer(vao_, 0, buffer_, 0, 4 * sizeof(float));
    glEnableVertexArrayAttrib(vao_, 0);
    glEnableVertexArrayAttrib(vao_, 1);
    glVertexArrayAttribFormat(vao_, 0, 2, GL_FLOAT, GL_FALSE, 0);
    glVertexArrayAttribFormat(vao_, 1, 2, GL_FLOAT, GL_FALSE, 2 * sizeof(float));
    glVertexArrayAttribBinding(vao_, 0, 0);
    glVertexArrayAttribBinding(vao_, 1, 0);
    loaded_ = true;
    return true;
}

bool DebugText::draw(GLuint framebuffer, int width, int height, float x, float y, DWORD colour, const char* text) {
    if (!tried_) load();
    if (!loaded_) return false;
    vertices_.clear();
    const float start_x = std::floor(x * static_cast<float>(width));
    float pen_x = start_x, pen_y = std::floor(y * static_cast<float>(height));
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p;) {
        uint32_t cp = next_code_point(p);
        if (cp == '\n') {
            pen_x = start_x;
            pen_y += static_cast<float>(line_height_);
            continue;
        }
        if (cp == '\r') continue;
        if (cp > 255 || cp < 32 || (cp >= 127 && cp < 160)) cp = cp == '\t' ? ' ' : '?';
        const Glyph& g = glyphs_[cp];
        if (g.width && g.height) {
            float x0 = pen_x + static_cast<float>(g.left), y0 = pen_y + static_cast<float>(ascent_ - g.top);
            float x1 = x0 + static_cast<float>(g.width), y1 = y0 + static_cast<float>(g.height);
            const float quad[6][4] = {{x0, y0, g.u0, g.v0}, {x1, y0, g.u1, g.v0}, {x1, y1, g.u1, g.v1},
                                      {x0, y0, g.u0, g.v0}, {x1, y1, g.u1, g.v1}, {x0, y1, g.u0, g.v1}};
            vertices_.insert(vertices_.end(), &quad[0][0], &quad[0][0] + 24);
        }
        pen_x += static_cast<float>(advance_);
    }
    if (vertices_.empty()) return true;
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer);
    glViewport(0, 0, width, height);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_CULL_FACE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    // Back buffers have no alpha; theirs stays at 1 under the text.
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_FALSE);
    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glUseProgram(program_);
    glUniform3f(colour_location_, ((colour >> 16) & 0xFF) / 255.0f, ((colour >> 8) & 0xFF) / 255.0f,
                (colour & 0xFF) / 255.0f);
    glUniform2f(target_location_, static_cast<float>(width), static_cast<float>(height));
    glBindVertexArray(vao_);
    glBindTextureUnit(0, texture_);
    glBindSampler(0, 0);
    glNamedBufferData(buffer_, static_cast<GLsizeiptr>(vertices_.size() * sizeof(float)), vertices_.data(), GL_STREAM_DRAW);
    glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(vertices_.size() / 4));
    return true;
}

}  // namespace vantor::render
