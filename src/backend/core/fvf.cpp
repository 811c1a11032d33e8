// Flexible vertex formats.
#include <vantor/backend/fvf.h>

namespace vantor::backend {

HRESULT FvfLayout::parse(DWORD fvf, FvfLayout* out) {
    FvfLayout l;
    l.fvf = fvf;
    if (fvf & (D3DFVF_RESERVED0 | D3DFVF_RESERVED2)) return D3DERR_INVALIDVERTEXTYPE;
    DWORD tex_count = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (tex_count > 8) return D3DERR_INVALIDVERTEXTYPE;
    uint32_t offset = 0;
    switch (fvf & D3DFVF_POSITION_MASK) {
        case D3DFVF_XYZ: offset = 12; break;
        case D3DFVF_XYZRHW:
            l.rhw = true;
            offset = 16;
            break;
        case 0: return D3DERR_INVALIDVERTEXTYPE;
        default:  // XYZB1..XYZB5
            l.weights = static_cast<uint8_t>(((fvf & D3DFVF_POSITION_MASK) - D3DFVF_XYZB1) / 2 + 1);
            l.weights_offset = 12;
            offset = 12 + 4u * l.weights;
            break;
    }
    if (fvf & D3DFVF_NORMAL) {
        if (l.rhw) return D3DERR_INVALIDVERTEXTYPE;
        l.normal = true;
        l.normal_offset = static_cast<uint16_t>(offset);
        offset += 12;
    }
    if (fvf & D3DFVF_RESERVED1) offset += 4;
    if (fvf & D3DFVF_DIFFUSE) {
        l.diffuse = true;
        l.diffuse_offset = static_cast<uint16_t>(offset);
        offset += 4;
    }
    if (fvf & D3DFVF_SPECULAR) {
        l.specular = true;
        l.specular_offset = static_cast<uint16_t>(offset);
        offset += 4;
    }
    l.tex_count = static_cast<uint8_t>(tex_count);
    static const uint8_t kSizes[4] = {2, 3, 4, 1};
    for (DWORD i = 0; i < tex_count; ++i) {
        l.tex_size[i] = kSizes[(fvf >> D3DFVF_TEXCOORDSIZE_SHIFT(i)) & 3];
        l.tex_offset[i] = static_cast<uint16_t>(offset);
        offset += 4u * l.tex_size[i];
    }
    l.stride = offset;
    *out = l;
    return D3D_OK;
}

}  // namespace vantor::backend
