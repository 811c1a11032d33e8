// Direct3D 7 vertex buffers (IDirect3DVertexBuffer7).
//
//   D3DVERTEXBUFFERDESC d{sizeof d, 0, D3DFVF_VERTEX, 36};
//   IDirect3DVertexBuffer7* vb; d3d->CreateVertexBuffer(&d, &vb, 0);
//   void* p; DWORD size; vb->Lock(DDLOCK_WAIT, &p, &size); ... vb->Unlock();
//   dev->DrawPrimitiveVB(D3DPT_TRIANGLELIST, vb, 0, 36, 0);
//
// The vertices live in memory; a device sharing the buffer's GL context keeps a GL copy that
// it refreshes after each Unlock. Results: Lock twice D3DERR_VERTEXBUFFERLOCKED, Lock after
// Optimize D3DERR_VERTEXBUFFEROPTIMIZED, Unlock when not locked
// D3DERR_VERTEXBUFFERUNLOCKFAILED, null or mis-sized records DDERR_INVALIDPARAMS.
//
// An owner that draws the same index list every frame (the utility shapes) can keep it with
// the buffer: set_resident_indices() checks it against the vertex count once, and the device
// draws it from GL memory (Device::draw_resident) without checking or sending it again.
#pragma once

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
    // The GL buffer holding the vertices when `gl` is the buffer's own GL context (uploaded
    // first if they changed); 0 otherwise, and the caller streams from data().
    GLuint gl_buffer(GlContext* gl);
    // Keeps `indices` with the buffer; false (and nothing kept) when one reaches past the
    // vertices. The vertex count never changes, so the check holds for the buffer's life.
    bool set_resident_indices(const std::vector<WORD>& indices);
    size_t resident_index_count() const { return indices_.size(); }
    // Whether resident indices are kept and `gl` is the buffer's own GL context.
    bool resident_for(const GlContext* gl) const;
    // The GL buffer of the resident indices (made on first use) when `gl` is the buffer's own
    // GL context; 0 otherwise.
    GLuint gl_indices(GlContext* gl);
    // Unique to this buffer for the life of the process (GL names are reused).
    uint64_t serial() const { return serial_; }

private:
    VertexBuffer(DirectDraw* dd);
    ~VertexBuffer() override;

    ComPtr<DirectDraw> dd_;
    FvfLayout layout_;
    DWORD caps_ = 0;
    DWORD count_ = 0;
    std::vector<uint8_t> memory_;
    bool locked_ = false;
    bool optimized_ = false;
    uint64_t version_ = 1, uploaded_version_ = 0;
    GLuint buffer_ = 0;
    std::vector<WORD> indices_;
    GLuint index_buffer_ = 0;
    uint64_t serial_;
};

}  // namespace vantor::render
