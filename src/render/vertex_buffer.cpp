// Direct3D 7 vertex buffers.
#include "vertex_buffer.h"

#include "directdraw.h"

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

VertexBuffer::VertexBuffer(DirectDraw* dd) : dd_(share(dd)) {
    static uint64_t next_serial = 0;
    serial_ = ++next_serial;
}

VertexBuffer::~VertexBuffer() {
    if ((buffer_ || index_buffer_) && dd_->gl() && dd_->gl()->make_current()) {
        if (buffer_) glDeleteBuffers(1, &buffer_);
        if (index_buffer_) glDeleteBuffers(1, &index_buffer_);
    }
}

bool VertexBuffer::set_resident_indices(const std::vector<WORD>& indices) {
    for (WORD i : indices)
        if (i >= count_) return false;
    indices_ = indices;
    return true;
}

bool VertexBuffer::resident_for(const GlContext* gl) const { return gl && gl == dd_->gl() && !indices_.empty(); }

GLuint VertexBuffer::gl_indices(GlContext* gl) {
    if (!gl || gl != dd_->gl() || indices_.empty()) return 0;
    if (!index_buffer_) {
        glCreateBuffers(1, &index_buffer_);
        glNamedBufferStorage(index_buffer_, static_cast<GLsizeiptr>(indices_.size() * sizeof(WORD)), indices_.data(), 0);
    }
    return index_buffer_;
}

HRESULT VertexBuffer::Lock(DWORD flags, void** data, DWORD* size) {
    if (data) *data = nullptr;
    if (!data || (flags & ~kKnownLockFlags)) return DDERR_INVALIDPARAMS;
    if (optimized_) return D3DERR_VERTEXBUFFEROPTIMIZED;
    if (locked_) return D3DERR_VERTEXBUFFERLOCKED;
    locked_ = true;
    *data = memory_.data();
    if (size) *size = static_cast<DWORD>(memory_.size());
    if (!(flags & DDLOCK_READONLY)) ++version_;
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

GLuint VertexBuffer::gl_buffer(GlContext* gl) {
    if (!gl || gl != dd_->gl()) return 0;
    if (!buffer_) {
        glCreateBuffers(1, &buffer_);
        glNamedBufferData(buffer_, static_cast<GLsizeiptr>(memory_.size()), nullptr, GL_STATIC_DRAW);
        uploaded_version_ = 0;
    }
    if (uploaded_version_ != version_) {
        glNamedBufferSubData(buffer_, 0, static_cast<GLsizeiptr>(memory_.size()), memory_.data());
        uploaded_version_ = version_;
    }
    return buffer_;
}

}  // namespace vantor::render
