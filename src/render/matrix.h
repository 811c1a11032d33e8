// Direct3D matrix arithmetic: row vectors, so a point p transforms as p·M and A·B applies A first.
// Stored row by row, a D3DMATRIX uploads to GLSL unchanged and `M * v` there equals p·M here.
#pragma once

#include <vantor/backend/d3dtypes.h>

#include <cmath>

namespace vantor::render {

inline D3DMATRIX identity_matrix() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

inline const float* matrix_data(const D3DMATRIX& m) { return &m._11; }
inline float* matrix_data(D3DMATRIX& m) { return &m._11; }

inline D3DMATRIX multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX r{};
    const float* x = matrix_data(a);
    const float* y = matrix_data(b);
    float* o = matrix_data(r);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            o[i * 4 + j] = x[i * 4 + 0] * y[0 * 4 + j] + x[i * 4 + 1] * y[1 * 4 + j] + x[i * 4 + 2] * y[2 * 4 + j] +
                           x[i * 4 + 3] * y[3 * 4 + j];
    return r;
}

// The inverse transpose of the upper 3x3 (how normals transform), in a 4x4 with the rest zero.
// A singular matrix gives its adjugate transpose, which keeps directions though not lengths.
inline D3DMATRIX normal_matrix(const D3DMATRIX& m) {
    const float a = m._11, b = m._12, c = m._13, d = m._21, e = m._22, f = m._23, g = m._31, h = m._32, i = m._33;
    // Cofactors: the inverse transpose is cofactor / determinant.
    float c11 = e * i - f * h, c12 = -(d * i - f * g), c13 = d * h - e * g;
    float c21 = -(b * i - c * h), c22 = a * i - c * g, c23 = -(a * h - b * g);
    float c31 = b * f - c * e, c32 = -(a * f - c * d), c33 = a * e - b * d;
    float det = a * c11 + b * c12 + c * c13;
    float s = (det != 0.0f && std::isfinite(det)) ? 1.0f / det : 1.0f;
    D3DMATRIX r{};
    r._11 = c11 * s, r._12 = c12 * s, r._13 = c13 * s;
    r._21 = c21 * s, r._22 = c22 * s, r._23 = c23 * s;
    r._31 = c31 * s, r._32 = c32 * s, r._33 = c33 * s;
    return r;
}

inline void transform_point(const D3DMATRIX& m, const D3DVECTOR& p, float out[4]) {
    out[0] = p.x * m._11 + p.y * m._21 + p.z * m._31 + m._41;
    out[1] = p.x * m._12 + p.y * m._22 + p.z * m._32 + m._42;
    out[2] = p.x * m._13 + p.y * m._23 + p.z * m._33 + m._43;
    out[3] = 1.0f;
}

inline void transform_direction(const D3DMATRIX& m, const D3DVECTOR& v, float out[4]) {
    out[0] = v.x * m._11 + v.y * m._21 + v.z * m._31;
    out[1] = v.x * m._12 + v.y * m._22 + v.z * m._32;
    out[2] = v.x * m._13 + v.y * m._23 + v.z * m._33;
    out[3] = 0.0f;
}

}  // namespace vantor::render
