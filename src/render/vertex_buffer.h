// Direct3D 7 vertex buffers (IDirect3DVertexBuffer7).
//
//   D3DVERTEXBUFFERDESC d{sizeof d, 0, D3DFVF_VERTEX, 36};
//   IDirect3DVertexBuffer7* vb; d3d->CreateVertexBuffer(&d, &vb, 0);
//   void* p; DWORD size; vb->Lock(DDLOCK_WAIT, &p, &size); ... vb->Unlock();
//   dev->DrawPrimitiveVB(D3DPT_TRIANGLELIST, vb, 0, 36, 0);
//
// The vertices live in memory; a device sharing the buffer's GL context draws them from a GL
// buffer, uploaded when first drawn after a change. Buffers of one DirectDraw object that hold
// the same bytes share that GL buffer (its BufferStore); a Lock for writing leaves the shared
// one before the caller writes. Results: Lock twice D3DERR_VERTEXBUFFERLOCKED, Lock after
// Optimize D3DERR_VERTEXBUFFEROPTIMIZED, Unlock when not locked
// D3DERR_VERTEXBUFFERUNLOCKFAILED, null or mis-sized records DDERR_INVALIDPARAMS.
//
// The buffer also remembers the last few index lists drawn from it (DrawIndexedPrimitiveVB):
// a list drawn again with the same contents is found by comparing bytes, needs no check (its
// highest index is known) and is drawn from a GL buffer, shared like the vertices.
//
// An owner that draws the same index list every frame (the utility shapes) can keep it with
// the buffer: set_resident_indices() checks it against the vertex count once, and the device
// draws it from GL memory (Device::draw_resident) without checking or sending it again.
#pragma once

#include "buffer_store.h"
#include "com_object.h"
#include "fvf.h"
#include "gl.h"

#include <vector>

namespace vantor::render {

class DirectDraw;

class VertexBuffer final : public SingleInterface<IDirect3DVertexBuffer7, &IID_VantorRenderVertexBuffer> {
public:
    static HRESULT create(DirectDraw* dd, const D3DVERTEXBUFFERDESC* desc, DWORD flags, IDirect3DVertexBuffer7** out);
    static VertexBuffer* from(IDirect3DVertexBuffer7* p) {
        return implementation_of<VertexBuffer>(p, IID_VantorRenderVertexBuffer);
    }

    HRESULT Lock(DWORD flags, void** data, DWORD* size) override;
    HRESULT Unlock() override;
    HRESULT GetVertexBufferDesc(D3DVERTEXBUFFERDESC* desc) override;
    HRESULT Optimize(IDirect3DDevice7* device, DWORD flags) override;

    const FvfLayout& layout() const { return layout_; }
    DWORD vertex_count() const { return count_; }
    bool locked() const { return locked_; }
    const uint8_t* data() const { return memory_.data(); }

    // A GL buffer and its serial, unique for the life of the process (GL names are reused).
    struct GlBuffer {
        GLuint name = 0;
        uint64_t serial = 0;
    };
    // Whether `gl` is the buffer's own GL context, the one its GL buffers live in.
    bool in_context(const GlContext* gl) const { return gl && gl == gl_; }
    // The GL buffer holding the vertices (uploaded first if they changed) when `gl` is the
    // buffer's own GL context, which must be current; none otherwise, and the caller streams
    // from data().
    GlBuffer gl_buffer(GlContext* gl) {
        if (vertices_ && vertices_->listed && vertices_->uploaded && in_context(gl))
            return {vertices_->name, vertices_->serial};
        return upload(gl);
    }

    // An index list drawn from this buffer before.
    struct IndexList {
        std::vector<WORD> indices;
        WORD highest = 0;
        BufferStore::Buffer* buffer = nullptr;  // made when it is drawn a second time
        uint64_t used = 0;
    };
    static constexpr size_t kIndexLists = 8;
    // The remembered list with the same contents, or null. Only for the buffer's own context.
    IndexList* find_index_list(const WORD* indices, DWORD count);
    // Remembers a list whose highest index is `highest`, in place of the least recently used
    // when kIndexLists are kept.
    void remember_index_list(const WORD* indices, DWORD count, WORD highest);
    // The GL buffer of a found list (the GL context current).
    GlBuffer gl_index_list(IndexList* list) {
        if (!list || !list->buffer) return {};
        return {store_->gl_name(list->buffer), list->buffer->serial};
    }

    // Keeps `indices` with the buffer; false (and nothing kept) when one reaches past the
    // vertices. The vertex count never changes, so the check holds for the buffer's life.
    bool set_resident_indices(const std::vector<WORD>& indices);
    size_t resident_index_count() const { return indices_.size(); }
    // Whether resident indices are kept and `gl` is the buffer's own GL context.
    bool resident_for(const GlContext* gl) const { return !indices_.empty() && in_context(gl); }
    // The GL buffer of the resident indices (made on first use) when `gl` is the buffer's own
    // GL context; none otherwise.
    GlBuffer gl_indices(GlContext* gl);

private:
    VertexBuffer(DirectDraw* dd);
    ~VertexBuffer() override;

    GlBuffer upload(GlContext* gl);

    ComPtr<DirectDraw> dd_;
    GlContext* gl_;       // the DirectDraw object's, or null
    BufferStore* store_;  // the DirectDraw object's, null without a GL context
    FvfLayout layout_;
    DWORD caps_ = 0;
    DWORD count_ = 0;
    std::vector<uint8_t> memory_;
    bool locked_ = false;
    bool optimized_ = false;
    BufferStore::Buffer* vertices_ = nullptr;  // of memory_; unlisted from a Lock for writing on
    std::vector<IndexList> index_lists_;
    uint64_t index_uses_ = 0;
    std::vector<WORD> indices_;
    BufferStore::Buffer* resident_ = nullptr;  // of indices_
};

}  // namespace vantor::render
