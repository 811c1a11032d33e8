#include "scene/matrix.h"

#include <cmath>

namespace vantor {

namespace {
float* cell(D3DMATRIX& m, int row, int column) { return &m._11 + row * 4 + column; }
float at(const D3DMATRIX& m, int row, int column) { return (&m._11)[row * 4 + column]; }
float length(const D3DVECTOR& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }
float dot(const D3DVECTOR& a, const D3DVECTOR& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
D3DVECTOR scaled(const D3DVECTOR& v, float s) { return {v.x * s, v.y * s, v.z * s}; }
D3DVECTOR minus(const D3DVECTOR& a, const D3DVECTOR& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
}  // namespace

D3DMATRIX identity() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

D3DMATRIX multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float s = 0.0f;
            for (int k = 0; k < 4; ++k) s += at(a, i, k) * at(b, k, j);
            *cell(r, i, j) = s;
        }
    return r;
}

D3DMATRIX rotation_x(float a) {
    D3DMATRIX m = identity();
    m._22 = std::cos(a);
    m._23 = std::sin(a);
    m._32 = -std::sin(a);
    m._33 = std::cos(a);
    return m;
}

D3DMATRIX rotation_y(float a) {
    D3DMATRIX m = identity();
    m._11 = std::cos(a);
    m._13 = -std::sin(a);
    m._31 = std::sin(a);
    m._33 = std::cos(a);
    return m;
}

D3DMATRIX rotation_z(float a) {
    D3DMATRIX m = identity();
    m._11 = std::cos(a);
    m._12 = std::sin(a);
    m._21 = -std::sin(a);
    m._22 = std::cos(a);
    return m;
}

bool view_matrix(const D3DVECTOR& eye, const D3DVECTOR& target, const D3DVECTOR& up, D3DMATRIX* out) {
    D3DVECTOR z = minus(target, eye);
    float lz = length(z);
    if (!(lz >= 1e-6f)) return false;
    z = scaled(z, 1.0f / lz);
    D3DVECTOR y = minus(up, scaled(z, dot(up, z)));
    if (!(length(y) >= 1e-6f)) {
        y = minus(D3DVECTOR{0.0f, 1.0f, 0.0f}, scaled(z, z.y));
        if (!(length(y) >= 1e-6f)) {
            y = minus(D3DVECTOR{0.0f, 0.0f, 1.0f}, scaled(z, z.z));
            if (!(length(y) >= 1e-6f)) return false;
        }
    }
    y = scaled(y, 1.0f / length(y));
    D3DVECTOR x{y.y * z.z - y.z * z.y, y.z * z.x - y.x * z.z, y.x * z.y - y.y * z.x};
    D3DMATRIX m = identity();
    m._11 = x.x;
    m._12 = y.x;
    m._13 = z.x;
    m._21 = x.y;
    m._22 = y.y;
    m._23 = z.y;
    m._31 = x.z;
    m._32 = y.z;
    m._33 = z.z;
    m._41 = -dot(eye, x);
    m._42 = -dot(eye, y);
    m._43 = -dot(eye, z);
    *out = m;
    return true;
}

bool projection_matrix(float f, float a, float n, float r, D3DMATRIX* out) {
    if (std::fabs(r - n) < 0.01f || std::fabs(std::sin(f / 2.0f)) < 0.01f) return false;
    float h = std::cos(f / 2.0f) / std::sin(f / 2.0f);
    float w = a * h;
    float q = r / (r - n);
    D3DMATRIX m{};
    m._11 = w;
    m._22 = h;
    m._33 = q;
    m._34 = 1.0f;
    m._43 = -q * n;
    *out = m;
    return true;
}

}  // namespace vantor
