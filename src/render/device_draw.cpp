// Drawing and clearing: validation first (a bad draw changes nothing and draws nothing), then
// the dirty state, the vertex stream and one GL draw.
#include "device.h"

#include "directdraw.h"
#include "surface.h"
#include "vertex_buffer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace vantor::render {
namespace {

constexpr DWORD kKnownDrawFlags =
    D3DDP_WAIT | D3DDP_OUTOFORDER | D3DDP_DONOTCLIP | D3DDP_DONOTUPDATEEXTENTS | D3DDP_DONOTLIGHT;

GLenum gl_mode(D3DPRIMITIVETYPE type) {
    switch (type) {
        case D3DPT_POINTLIST: return GL_POINTS;
        case D3DPT_LINELIST: return GL_LINES;
        case D3DPT_LINESTRIP: return GL_LINE_STRIP;
        case D3DPT_TRIANGLELIST: return GL_TRIANGLES;
        case D3DPT_TRIANGLESTRIP: return GL_TRIANGLE_STRIP;
        default: return GL_TRIANGLE_FAN;
    }
}

uint64_t primitives(D3DPRIMITIVETYPE type, uint64_t n) {
    switch (type) {
        case D3DPT_POINTLIST: return n;
        case D3DPT_LINELIST: return n / 2;
        case D3DPT_LINESTRIP: return n > 1 ? n - 1 : 0;
        case D3DPT_TRIANGLELIST: return n / 3;
        default: return n > 2 ? n - 2 : 0;
    }
}

// The largest and smallest index of a list. Written as signed reductions (the top bit
// flipped), which SSE2 has instructions for, so that the compiler vectorises them.
WORD highest_index(const WORD* indices, DWORD count) {
    int16_t hi = INT16_MIN;
    for (DWORD i = 0; i < count; ++i) hi = std::max(hi, static_cast<int16_t>(indices[i] ^ 0x8000u));
    return static_cast<WORD>(static_cast<uint16_t>(hi) ^ 0x8000u);
}

WORD lowest_index(const WORD* indices, DWORD count) {
    int16_t lo = INT16_MAX;
    for (DWORD i = 0; i < count; ++i) lo = std::min(lo, static_cast<int16_t>(indices[i] ^ 0x8000u));
    return static_cast<WORD>(static_cast<uint16_t>(lo) ^ 0x8000u);
}

}  // namespace

HRESULT Device::check_draw(D3DPRIMITIVETYPE type, DWORD flags) {
    if (type < D3DPT_POINTLIST || type > D3DPT_TRIANGLEFAN) return D3DERR_INVALIDPRIMITIVETYPE;
    if (flags & ~kKnownDrawFlags) return DDERR_INVALIDPARAMS;
    if (target_->busy()) return DDERR_SURFACEBUSY;
    return D3D_OK;
}

const FvfLayout* Device::layout_for(DWORD fvf, HRESULT* hr) {
    if (!layout_cache_valid_ || layout_cache_.fvf != fvf) {
        FvfLayout l;
        if (HRESULT r = FvfLayout::parse(fvf, &l); FAILED(r)) {
            *hr = r;
            return nullptr;
        }
        layout_cache_ = l;
        layout_cache_valid_ = true;
    }
    return &layout_cache_;
}

void Device::set_vertex_format(const FvfLayout& l) {
    auto on = [&](GLuint index, GLint size, GLenum type, GLboolean normalised, GLuint offset) {
        glEnableVertexArrayAttrib(vao_, index);
        glVertexArrayAttribFormat(vao_, index, size, type, normalised, offset);
        glVertexArrayAttribBinding(vao_, index, 0);
    };
    auto off = [&](GLuint index) { glDisableVertexArrayAttrib(vao_, index); };
    on(0, l.rhw ? 4 : 3, GL_FLOAT, GL_FALSE, l.position_offset);
    if (l.normal) on(1, 3, GL_FLOAT, GL_FALSE, l.normal_offset); else off(1);
    // D3DCOLOR is stored as bytes B, G, R, A: GL_BGRA reads it in that order.
    if (l.diffuse) on(2, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, l.diffuse_offset); else off(2);
    if (l.specular) on(3, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, l.specular_offset); else off(3);
    for (GLuint i = 0; i < 8; ++i) {
        if (i < l.tex_count) on(4 + i, l.tex_size[i], GL_FLOAT, GL_FALSE, l.tex_offset[i]); else off(4 + i);
    }
    if (l.weights) on(12, std::min<GLint>(l.weights, 4), GL_FLOAT, GL_FALSE, l.weights_offset); else off(12);
    vertex_format_ = l.fvf;
}

void Device::bind_vertex_buffer(GLuint buffer, uint64_t serial, GLintptr offset, GLsizei stride) {
    // Rebinding makes the driver check the vertex arrays again: draws keep one binding and say
    // where their vertices start instead.
    if (bound_vb_buffer_ == buffer && bound_vb_serial_ == serial && bound_vb_offset_ == offset &&
        bound_vb_stride_ == stride)
        return;
    glBindVertexBuffer(0, buffer, offset, stride);
    bound_vb_buffer_ = buffer;
    bound_vb_serial_ = serial;
    bound_vb_offset_ = offset;
    bound_vb_stride_ = stride;
}

GLint Device::bind_vertices(const void* data, size_t bytes, GLsizei stride) {
    // Written at a multiple of the stride, the vertices are a range of the ring bound whole.
    GLintptr at = vertex_ring_.write(data, bytes, static_cast<size_t>(stride));
    if (at >= 0) {
        GLintptr base = at % stride == 0 ? 0 : at;  // a segment's start may not be a multiple
        bind_vertex_buffer(vertex_ring_.buffer(), 0, base, stride);
        return static_cast<GLint>((at - base) / stride);
    }
    // Larger than a ring segment: a buffer of its own, given new storage each time.
    if (!large_vertices_) glCreateBuffers(1, &large_vertices_);
    glNamedBufferData(large_vertices_, static_cast<GLsizeiptr>(bytes), data, GL_STREAM_DRAW);
    bound_vb_buffer_ = 0;
    bind_vertex_buffer(large_vertices_, 0, 0, stride);
    return 0;
}

GLintptr Device::stream_indices(const void* data, size_t bytes) {
    GLintptr at = index_ring_.write(data, bytes, 4);
    GLuint buffer = index_ring_.buffer();
    if (at < 0) {
        if (!large_indices_) glCreateBuffers(1, &large_indices_);
        glNamedBufferData(large_indices_, static_cast<GLsizeiptr>(bytes), data, GL_STREAM_DRAW);
        buffer = large_indices_;
        at = 0;
    }
    bind_element_buffer(buffer, 0);
    return at;
}


bool Device::prepare(const FvfLayout& layout, D3DPRIMITIVETYPE type) {
    if (!gl_->make_current()) return false;
    apply_dirty_state();
    if (vertex_format_ != layout.fvf) set_vertex_format(layout);
    if (layout.rhw != pretransformed_depth_) {
        // A pre-transformed vertex's sz is its depth: the viewport's MinZ..MaxZ maps
        // transformed vertices only.
        pretransformed_depth_ = layout.rhw;
        if (layout.rhw)
            glDepthRange(0.0, 1.0);
        else
            glDepthRange(viewport_.dvMinZ, viewport_.dvMaxZ);
    }
    bool keyed = key_.colour_key && textures_[0] && textures_[0]->source_key();
    if (dirty_key_ || dirty_stage_key_ || !draw_key_valid_ || layout.fvf != key_fvf_ || type != key_type_ ||
        keyed != (draw_key_.colour_key != 0)) {
        update_pipeline_key(layout, type);
        key_fvf_ = layout.fvf;
        key_type_ = type;
    }
    if (!program_) return false;
    if (rs(D3DRENDERSTATE_STENCILENABLE)) {
        if (Surface* depth = target_->attached_depth()) depth->set_stencil_all_zero(false);
    }
    bind_textures();
    if (draw_key_.colour_key) update_colour_key();
    upload_blocks();
    return true;
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD count, DWORD flags) {
    if (HRESULT hr = check_draw(type, flags); FAILED(hr)) return hr;
    HRESULT hr = D3D_OK;
    const FvfLayout* layout = layout_for(fvf, &hr);
    if (!layout) return hr;
    if (count == 0) return D3D_OK;
    if (!vertices || count > D3DMAXNUMVERTICES || primitives(type, count) > D3DMAXNUMPRIMITIVES)
        return DDERR_INVALIDPARAMS;
    FvfLayout l = *layout;
    if (!prepare(l, type)) return DDERR_GENERIC;
    GLint first = bind_vertices(vertices, static_cast<size_t>(count) * l.stride, static_cast<GLsizei>(l.stride));
    glDrawArrays(gl_mode(type), first, static_cast<GLsizei>(count));
    return D3D_OK;
}

HRESULT Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD vertex_count,
                                     WORD* indices, DWORD index_count, DWORD flags) {
    if (HRESULT hr = check_draw(type, flags); FAILED(hr)) return hr;
    HRESULT hr = D3D_OK;
    const FvfLayout* layout = layout_for(fvf, &hr);
    if (!layout) return hr;
    if (index_count == 0) return D3D_OK;
    if (!vertices || !indices || vertex_count == 0 || vertex_count > D3DMAXNUMVERTICES ||
        primitives(type, index_count) > D3DMAXNUMPRIMITIVES)
        return DDERR_INVALIDPARAMS;
    const WORD hi = highest_index(indices, index_count);
    if (hi >= vertex_count) return DDERR_INVALIDPARAMS;
    const WORD lo = lowest_index(indices, index_count);
    FvfLayout l = *layout;
    if (!prepare(l, type)) return DDERR_GENERIC;
    // Only the vertices the indices reach are sent; the base vertex maps index `lo` to the first.
    GLint first = bind_vertices(static_cast<const uint8_t*>(vertices) + static_cast<size_t>(lo) * l.stride,
                                static_cast<size_t>(hi - lo + 1) * l.stride, static_cast<GLsizei>(l.stride));
    GLintptr index_at = stream_indices(indices, static_cast<size_t>(index_count) * sizeof(WORD));
    glDrawElementsBaseVertex(gl_mode(type), static_cast<GLsizei>(index_count), GL_UNSIGNED_SHORT,
                             reinterpret_cast<const void*>(index_at), first - static_cast<GLint>(lo));
    return D3D_OK;
}

// Binds `count` vertices of `vb` from `start`: its GL buffer in the buffer's own context, else
// a copy streamed from its memory. The index of vertex `start` in what is bound.
GLint Device::bind_buffer_vertices(VertexBuffer* vb, DWORD start, DWORD count) {
    const GLsizei stride = static_cast<GLsizei>(vb->layout().stride);
    if (VertexBuffer::GlBuffer b = vb->gl_buffer(gl_); b.name) {
        bind_vertex_buffer(b.name, b.serial, 0, stride);
        return static_cast<GLint>(start);
    }
    return bind_vertices(vb->data() + static_cast<size_t>(start) * stride, static_cast<size_t>(count) * stride, stride);
}

HRESULT Device::DrawPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* vb_iface, DWORD start, DWORD count,
                                DWORD flags) {
    if (HRESULT hr = check_draw(type, flags); FAILED(hr)) return hr;
    VertexBuffer* vb = VertexBuffer::from(vb_iface);
    if (!vb) return DDERR_INVALIDPARAMS;
    if (vb->locked()) return D3DERR_VERTEXBUFFERLOCKED;
    if (count == 0) return D3D_OK;
    if (uint64_t{start} + count > vb->vertex_count() || primitives(type, count) > D3DMAXNUMPRIMITIVES)
        return DDERR_INVALIDPARAMS;
    if (!prepare(vb->layout(), type)) return DDERR_GENERIC;
    const GLint first = bind_buffer_vertices(vb, start, count);
    glDrawArrays(gl_mode(type), first, static_cast<GLsizei>(count));
    return D3D_OK;
}

HRESULT Device::DrawIndexedPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* vb_iface, DWORD start,
                                       DWORD vertex_count, WORD* indices, DWORD index_count, DWORD flags) {
    if (HRESULT hr = check_draw(type, flags); FAILED(hr)) return hr;
    VertexBuffer* vb = VertexBuffer::from(vb_iface);
    if (!vb) return DDERR_INVALIDPARAMS;
    if (vb->locked()) return D3DERR_VERTEXBUFFERLOCKED;
    if (index_count == 0) return D3D_OK;
    if (!indices || vertex_count == 0 || uint64_t{start} + vertex_count > vb->vertex_count() ||
        primitives(type, index_count) > D3DMAXNUMPRIMITIVES)
        return DDERR_INVALIDPARAMS;
    // A list drawn from this buffer before is known by its bytes: its highest index was found
    // then, and it is drawn from GL memory instead of being sent again.
    const bool in_gl = vb->in_context(gl_);
    VertexBuffer::IndexList* list = in_gl ? vb->find_index_list(indices, index_count) : nullptr;
    const WORD highest = list ? list->highest : highest_index(indices, index_count);
    if (highest >= vertex_count) return DDERR_INVALIDPARAMS;  // indices count from `start`
    if (in_gl && !list) vb->remember_index_list(indices, index_count, highest);
    if (!prepare(vb->layout(), type)) return DDERR_GENERIC;
    const GLint first = bind_buffer_vertices(vb, start, vertex_count);
    GLintptr index_at = 0;
    if (VertexBuffer::GlBuffer b = vb->gl_index_list(list); b.name)
        bind_element_buffer(b.name, b.serial);
    else
        index_at = stream_indices(indices, static_cast<size_t>(index_count) * sizeof(WORD));
    glDrawElementsBaseVertex(gl_mode(type), static_cast<GLsizei>(index_count), GL_UNSIGNED_SHORT,
                             reinterpret_cast<const void*>(index_at), first);
    return D3D_OK;
}

HRESULT Device::draw_resident(D3DPRIMITIVETYPE type, VertexBuffer* vb, DWORD first, DWORD count) {
    if (!vb || !vb->resident_for(gl_)) return E_NOTIMPL;
    if (HRESULT hr = check_draw(type, 0); FAILED(hr)) return hr;
    if (vb->locked()) return D3DERR_VERTEXBUFFERLOCKED;
    if (count == 0) return D3D_OK;
    if (uint64_t{first} + count > vb->resident_index_count() || primitives(type, count) > D3DMAXNUMPRIMITIVES)
        return DDERR_INVALIDPARAMS;
    const FvfLayout& l = vb->layout();
    if (!prepare(l, type)) return DDERR_GENERIC;
    VertexBuffer::GlBuffer vertices = vb->gl_buffer(gl_), indices = vb->gl_indices(gl_);
    if (!vertices.name || !indices.name) return DDERR_GENERIC;
    bind_vertex_buffer(vertices.name, vertices.serial, 0, static_cast<GLsizei>(l.stride));
    bind_element_buffer(indices.name, indices.serial);
    glDrawElements(gl_mode(type), static_cast<GLsizei>(count), GL_UNSIGNED_SHORT,
                   reinterpret_cast<const void*>(static_cast<uintptr_t>(first) * sizeof(WORD)));
    return D3D_OK;
}

HRESULT Device::Clear(DWORD count, D3DRECT* rects, DWORD flags, D3DCOLOR colour, D3DVALUE z, DWORD stencil) {
    if (!flags || (flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL))) return DDERR_INVALIDPARAMS;
    if (count && !rects) return DDERR_INVALIDPARAMS;
    Surface* depth = target_->attached_depth();
    if ((flags & D3DCLEAR_ZBUFFER) && !depth) return D3DERR_ZBUFFER_NOTPRESENT;
    if ((flags & D3DCLEAR_STENCIL) && !(depth && depth->layout().g.bits)) return D3DERR_STENCILBUFFER_NOTPRESENT;
    if ((flags & D3DCLEAR_ZBUFFER) && !(z >= 0.0f && z <= 1.0f)) return DDERR_INVALIDPARAMS;
    if (target_->busy() || (depth && depth->busy())) return DDERR_SURFACEBUSY;
    if (!gl_->make_current()) return DDERR_GENERIC;
    if (dirty_target_) bind_target();
    if (dirty_viewport_) apply_viewport();
    if (dirty_fixed_) apply_dirty_state();

    // Clear ignores the render states: every channel, the whole depth and stencil, inside the
    // viewport (and the rectangles given).
    GLbitfield bits = 0;
    const bool target_alpha = target_->layout().a.bits != 0;
    if (flags & D3DCLEAR_TARGET) {
        bits |= GL_COLOR_BUFFER_BIT;
        // A target without alpha is cleared whole, alpha to 1: a masked clear is much slower
        // than a full one in software drivers, and the stored alpha must stay 1 anyway.
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glClearColor(((colour >> 16) & 0xFF) / 255.0f, ((colour >> 8) & 0xFF) / 255.0f, (colour & 0xFF) / 255.0f,
                     target_alpha ? ((colour >> 24) & 0xFF) / 255.0f : 1.0f);
    }
    if (flags & D3DCLEAR_ZBUFFER) {
        bits |= GL_DEPTH_BUFFER_BIT;
        glDepthMask(GL_TRUE);
        glClearDepth(z);
        dirty_render_.set(D3DRENDERSTATE_ZWRITEENABLE);
        dirty_render_any_ = true;
    }
    // A depth clear leaves the stencil as it is; while the stencil holds nothing but zeros,
    // clearing it to zero alongside keeps that and lets the driver clear the packed image whole.
    const bool stencil_too = (flags & D3DCLEAR_ZBUFFER) && depth->stencil_all_zero();
    if ((flags & D3DCLEAR_STENCIL) || stencil_too) {
        bits |= GL_STENCIL_BUFFER_BIT;
        glStencilMask(0xFF);
        glClearStencil((flags & D3DCLEAR_STENCIL) ? static_cast<GLint>(stencil & 0xFF) : 0);
        dirty_render_.set(D3DRENDERSTATE_STENCILWRITEMASK);
        dirty_render_any_ = true;
    }
    any_dirty_state_ = true;
    const D3DVIEWPORT7& v = viewport_;
    LONG vx1 = static_cast<LONG>(v.dwX), vy1 = static_cast<LONG>(v.dwY);
    LONG vx2 = static_cast<LONG>(v.dwX + v.dwWidth), vy2 = static_cast<LONG>(v.dwY + v.dwHeight);
    if (count == 0) {
        glClear(bits);
    } else {
        for (DWORD i = 0; i < count; ++i) {
            LONG x1 = std::max(rects[i].x1, vx1), y1 = std::max(rects[i].y1, vy1);
            LONG x2 = std::min(rects[i].x2, vx2), y2 = std::min(rects[i].y2, vy2);
            if (x1 >= x2 || y1 >= y2) continue;
            glScissor(x1, y1, x2 - x1, y2 - y1);
            glClear(bits);
        }
        glScissor(vx1, vy1, static_cast<GLsizei>(v.dwWidth), static_cast<GLsizei>(v.dwHeight));
    }
    if (flags & D3DCLEAR_TARGET) glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, target_alpha ? GL_TRUE : GL_FALSE);
    if (flags & D3DCLEAR_STENCIL) {
        bool whole = count == 0 && v.dwX == 0 && v.dwY == 0 && v.dwWidth >= depth->width() && v.dwHeight >= depth->height();
        if (stencil & 0xFF)
            depth->set_stencil_all_zero(false);
        else if (whole)
            depth->set_stencil_all_zero(true);
    }
    return D3D_OK;
}

}  // namespace vantor::render
