// vantor/backend/fvf.h — flexible vertex formats: what a Direct3D 7 vertex holds and where.
//
//   FvfLayout l;
//   if (HRESULT hr = FvfLayout::parse(D3DFVF_VERTEX, &l); FAILED(hr)) return hr;
//   l.stride == 32; l.normal_offset == 12; l.tex_offset[0] == 24;
//
// Memory order: position (XYZ, XYZRHW or XYZ with 1 to 5 blend weights), normal, the
// reserved DWORD, diffuse, specular, then each texture set (1 to 4 floats by
// D3DFVF_TEXCOORDSIZE). Invalid formats give D3DERR_INVALIDVERTEXTYPE: no position, the
// reserved bits 0x1 or 0xF000, more than 8 texture sets, or a normal with XYZRHW.
#pragma once

#include <vantor/backend/d3dtypes.h>

#include <cstdint>

namespace vantor::backend {

struct FvfLayout {
    DWORD fvf = 0;
    uint32_t stride = 0;
    bool rhw = false;
    uint8_t weights = 0;  // blend weights after the position
    bool normal = false;
    bool diffuse = false;
    bool specular = false;
    uint8_t tex_count = 0;
    uint8_t tex_size[8]{};  // floats per set, 1 to 4
    uint16_t position_offset = 0, weights_offset = 0, normal_offset = 0, diffuse_offset = 0, specular_offset = 0;
    uint16_t tex_offset[8]{};

    static HRESULT parse(DWORD fvf, FvfLayout* out);
};

}  // namespace vantor::backend
