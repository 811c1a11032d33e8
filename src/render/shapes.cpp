// The utility layer's shapes: the shared core's geometry in one vertex buffer and an index list
// per shape, drawn through the device's own DrawIndexedPrimitiveVB.
#include "shapes.h"

#include "device.h"
#include "vertex_buffer.h"

#include <vantor/backend/d3d.h>
#include <vantor/com.h>
#include <vantor/com_ptr.h>

#include <algorithm>
#include <cstring>

namespace vantor::render {
namespace {

constexpr uint64_t kMaxVertices = 0xFFFF;  // 16-bit indices; D3DMAXNUMVERTICES per buffer
constexpr DWORD kIndicesPerDraw = 3 * D3DMAXNUMPRIMITIVES;  // whole triangles per call

class SimpleShape final : public SingleInterface<ID3DXSimpleShape> {
public:
    SimpleShape(uint32_t device, ComPtr<IDirect3DVertexBuffer7> vb, DWORD vertex_count, std::vector<WORD> indices)
        : device_(device), vb_(std::move(vb)), vertex_count_(vertex_count), indices_(std::move(indices)) {}

    HRESULT GetVB(IDirect3DVertexBuffer7** vb) override {
        if (!vb) return D3DXERR_NULLPOINTER;
        *vb = vb_.get();
        if (*vb) (*vb)->AddRef();
        return S_OK;
    }
    DWORD GetIndices(WORD** indices) override {
        if (indices) *indices = indices_.data();
        return static_cast<DWORD>(indices_.size());
    }
    HRESULT Draw() override {
        // The device by its handle: a shape never draws through a device that is gone.
        IDirect3DDevice7* d = vantor::backend::from_handle<IDirect3DDevice7>(device_);
        if (!d) return D3DXERR_NULLPOINTER;
        // The indices were checked once and live in GL memory next to the vertices.
        Device* device = Device::from(d);
        VertexBuffer* vb = VertexBuffer::from(vb_.get());
        bool resident = device && vb && vb->resident_for(&device->gl());
        for (size_t at = 0; at < indices_.size(); at += kIndicesPerDraw) {
            DWORD count = static_cast<DWORD>(std::min<size_t>(kIndicesPerDraw, indices_.size() - at));
            HRESULT hr = resident ? device->draw_resident(D3DPT_TRIANGLELIST, vb, static_cast<DWORD>(at), count)
                                  : d->DrawIndexedPrimitiveVB(D3DPT_TRIANGLELIST, vb_.get(), 0, vertex_count_,
                                                              indices_.data() + at, count, 0);
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }

private:
    uint32_t device_;
    ComPtr<IDirect3DVertexBuffer7> vb_;
    DWORD vertex_count_;
    std::vector<WORD> indices_;
};

}  // namespace

HRESULT make_shape(IDirect3DDevice7* device, const ShapeGeometry& g, DWORD tex_coords, ID3DXSimpleShape** shape) {
    if (shape) *shape = nullptr;
    if (!device || !shape) return D3DXERR_NULLPOINTER;
    if (tex_coords == D3DX_DEFAULT) tex_coords = 1;
    if (tex_coords > 8 || g.vertices.empty() || g.vertices.size() > kMaxVertices) return D3DXERR_INVALIDPARAMETER;
    uint32_t handle = vantor::backend::to_handle(device);
    if (!handle) return D3DXERR_NULLPOINTER;
    ComPtr<IDirect3D7> d3d;
    if (HRESULT hr = device->GetDirect3D(d3d.put()); FAILED(hr)) return hr;
    D3DVERTEXBUFFERDESC desc{sizeof desc, 0, DWORD(D3DFVF_XYZ | D3DFVF_NORMAL) | (tex_coords << D3DFVF_TEXCOUNT_SHIFT),
                             static_cast<DWORD>(g.vertices.size())};
    ComPtr<IDirect3DVertexBuffer7> vb;
    if (HRESULT hr = d3d->CreateVertexBuffer(&desc, vb.put(), 0); FAILED(hr)) return hr;
    void* data = nullptr;
    if (HRESULT hr = vb->Lock(DDLOCK_WRITEONLY | DDLOCK_WAIT, &data, nullptr); FAILED(hr)) return hr;
    // Position and normal, then the same coordinates in every texture set.
    const size_t stride = (6 + 2 * size_t(tex_coords)) * sizeof(float);
    auto* bytes = static_cast<uint8_t*>(data);
    for (const ShapeVertex& v : g.vertices) {
        std::memcpy(bytes, &v, 6 * sizeof(float));
        for (DWORD t = 0; t < tex_coords; ++t) std::memcpy(bytes + (6 + 2 * t) * sizeof(float), &v.tu, 2 * sizeof(float));
        bytes += stride;
    }
    vb->Unlock();
    if (VertexBuffer* v = VertexBuffer::from(vb.get())) v->set_resident_indices(g.indices);
    *shape = new SimpleShape(handle, std::move(vb), desc.dwNumVertices, g.indices);
    return S_OK;
}

}  // namespace vantor::render
