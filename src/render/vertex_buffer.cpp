// Direct3D 7 vertex buffers.
#include "vertex_buffer.h"

#include "directdraw.h"

#include <cstring>
#include <new>

namespace vantor::render {
namespace {
constexpr DWORD kKnownCaps = D3DVBCAPS_SYSTEMMEMORY | D3DVBCAPS_WRITEONLY | D3DVBCAPS_OPTIMIZED;
constexpr DWORD kLockNoOverwrite = 0x1000;  // DDLOCK_NOOVERWRITE
constexpr DWORD kKnownLockFlags = DDLOCK_WAIT | DDLOCK_READONLY | DDLOCK_WRITEONLY | DDLOCK_NOSYSLOCK |
                                  kLockNoOverwrite | DDLOCK_DISCARDCONTENTS | DDLOCK_DONOTWAIT;
}  // namespace

HRESULT VertexBuffer::create(DirectDraw* dd, const D3DVERTEXBUFFERDESC* desc, DWORD flags,
                             IDirect3DVertexBuffer7** out) {
    clear_out(out);
    if (!out || !desc || desc->dwSize != sizeof(D3DVERTEXBUFFERDESC)) return DDERR_INVALIDPARAMS;
    // The only creation flag Direct3D 7 knows is the clipping hint.
    if (flags & ~D3DDP_DONOTCLIP) return DDERR_INVALIDPARAMS;
    if ((desc->dwCaps & ~kKnownCaps) || (desc->dwCaps & D3DVBCAPS_OPTIMIZED)) return DDERR_INVALIDPARAMS;
    if (desc->dwNumVertices == 0 || desc->dwNumVertices > D3DMAXNUMVERTICES) return DDERR_INVALIDPARAMS;
    FvfLayout layout;
    if (FAILED(FvfLayout::parse(desc->dwFVF, &layout))) return DDERR_INVALIDPARAMS;
    VertexBuffer* vb = new (std::nothrow) VertexBuffer(dd);
    if (!vb) return DDERR_OUTOFMEMORY;
    ComPtr<VertexBuffer> hold = adopt(vb);
    vb->layout_ = layout;
    vb->caps_ = desc->dwCaps;
    vb->count_ = desc->dwNumVertices;
    try {
        vb->memory_.assign(static_cast<size_t>(layout.stride) * desc->dwNumVertices, 0);
    } catch (const std::bad_alloc&) {
        return DDERR_OUTOFMEMORY;
    }
    hold.copy_to(out);
    return D3D_OK;
}

VertexBuffer::VertexBuffer(DirectDraw* dd) : dd_(share(dd)), gl_(dd->gl()), store_(dd->buffers()) {}

VertexBuffer::~VertexBuffer() {
    if (BufferStore* s = store_) {
        s->release(vertices_, memory_.data());
        s->release(resident_, indices_.data());
        for (IndexList& l : index_lists_) s->release(l.buffer, l.indices.data());
    }
}

VertexBuffer::GlBuffer VertexBuffer::upload(GlContext* gl) {
    BufferStore* s = store_;
    if (!s || !in_context(gl)) return {};
    // Not yet drawn, or written since: find the bytes among the buffers already uploaded.
    if (!vertices_ || !vertices_->listed) vertices_ = s->share(vertices_, memory_.data(), memory_.size(), true);
    return {s->gl_name(vertices_), vertices_->serial};
}

VertexBuffer::IndexList* VertexBuffer::find_index_list(const WORD* indices, DWORD count) {
    BufferStore* s = store_;
    if (!s) return nullptr;
    const size_t bytes = static_cast<size_t>(count) * sizeof(WORD);
    for (IndexList& l : index_lists_) {
        if (l.indices.size() != count || std::memcmp(l.indices.data(), indices, bytes) != 0) continue;
        l.used = ++index_uses_;
        // Drawn a second time: worth a GL buffer (shared with other vertex buffers' equal lists).
        if (!l.buffer) l.buffer = s->share(nullptr, l.indices.data(), bytes, true);
        return &l;
    }
    return nullptr;
}

void VertexBuffer::remember_index_list(const WORD* indices, DWORD count, WORD highest) {
    BufferStore* s = store_;
    if (!s) return;
    IndexList* slot;
    if (index_lists_.size() < kIndexLists) {
        slot = &index_lists_.emplace_back();
    } else {
        slot = &index_lists_[0];
        for (IndexList& l : index_lists_)
            if (l.used < slot->used) slot = &l;
        s->release(slot->buffer, slot->indices.data());  // before the lent bytes change
        slot->buffer = nullptr;
    }
    slot->indices.assign(indices, indices + count);
    slot->highest = highest;
    slot->used = ++index_uses_;
}

bool VertexBuffer::set_resident_indices(const std::vector<WORD>& indices) {
    for (WORD i : indices)
        if (i >= count_) return false;
    if (BufferStore* s = store_) s->release(resident_, indices_.data());
    resident_ = nullptr;
    indices_ = indices;
    return true;
}

VertexBuffer::GlBuffer VertexBuffer::gl_indices(GlContext* gl) {
    BufferStore* s = store_;
    if (!s || !resident_for(gl)) return {};
    if (!resident_) resident_ = s->share(nullptr, indices_.data(), indices_.size() * sizeof(WORD), true);
    return {s->gl_name(resident_), resident_->serial};
}

HRESULT VertexBuffer::Lock(DWORD flags, void** data, DWORD* size) {
    if (data) *data = nullptr;
    if (!data || (flags & ~kKnownLockFlags)) return DDERR_INVALIDPARAMS;
    if (optimized_) return D3DERR_VERTEXBUFFEROPTIMIZED;
    if (locked_) return D3DERR_VERTEXBUFFERLOCKED;
    locked_ = true;
    *data = memory_.data();
    if (size) *size = static_cast<DWORD>(memory_.size());
    // The caller may write: leave the GL buffer other vertex buffers share first.
    if (!(flags & DDLOCK_READONLY))
        if (BufferStore* s = store_) s->withdraw(vertices_, memory_.data());
    return D3D_OK;
}

HRESULT VertexBuffer::Unlock() {
    if (!locked_) return D3DERR_VERTEXBUFFERUNLOCKFAILED;
    locked_ = false;
    return D3D_OK;
}

HRESULT VertexBuffer::GetVertexBufferDesc(D3DVERTEXBUFFERDESC* desc) {
    if (!desc || desc->dwSize != sizeof(D3DVERTEXBUFFERDESC)) return DDERR_INVALIDPARAMS;
    desc->dwCaps = caps_ | (optimized_ ? D3DVBCAPS_OPTIMIZED : 0);
    desc->dwFVF = layout_.fvf;
    desc->dwNumVertices = count_;
    return D3D_OK;
}

HRESULT VertexBuffer::Optimize(IDirect3DDevice7* device, DWORD flags) {
    if (!device || flags) return DDERR_INVALIDPARAMS;
    if (locked_) return D3DERR_VERTEXBUFFERLOCKED;
    optimized_ = true;
    return D3D_OK;
}

}  // namespace vantor::render
