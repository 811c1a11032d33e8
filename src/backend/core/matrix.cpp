#include <vantor/backend/matrix.h>

#include <cmath>

namespace vantor {

namespace {
float at(const D3DMATRIX& m, int row, int column) { return matrix_data(m)[row * 4 + column]; }
float length(const D3DVECTOR& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }
float dot(const D3DVECTOR& a, const D3DVECTOR& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
D3DVECTOR scaled(const D3DVECTOR& v, float s) { return {v.x * s, v.y * s, v.z * s}; }
D3DVECTOR minus(const D3DVECTOR& a, const D3DVECTOR& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

D3DMATRIX rows(float a, float b, float c, float d, float e, float f, float g, float h, float i) {
    D3DMATRIX m{};
    m._11 = a, m._12 = b, m._13 = c;
    m._21 = d, m._22 = e, m._23 = f;
    m._31 = g, m._32 = h, m._33 = i;
    m._44 = 1.0f;
    return m;
}
}  // namespace

D3DMATRIX identity() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

D3DMATRIX multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX r{};
    float* o = matrix_data(r);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            o[i * 4 + j] = at(a, i, 0) * at(b, 0, j) + at(a, i, 1) * at(b, 1, j) + at(a, i, 2) * at(b, 2, j) +
                           at(a, i, 3) * at(b, 3, j);
    return r;
}

bool inverse(const D3DMATRIX& m, D3DMATRIX* out) {
    // Cofactor expansion through the 2x2 minors of the top and bottom row pairs.
    const float* a = matrix_data(m);
    float s0 = a[0] * a[5] - a[4] * a[1], s1 = a[0] * a[6] - a[4] * a[2], s2 = a[0] * a[7] - a[4] * a[3];
    float s3 = a[1] * a[6] - a[5] * a[2], s4 = a[1] * a[7] - a[5] * a[3], s5 = a[2] * a[7] - a[6] * a[3];
    float c5 = a[10] * a[15] - a[14] * a[11], c4 = a[9] * a[15] - a[13] * a[11], c3 = a[9] * a[14] - a[13] * a[10];
    float c2 = a[8] * a[15] - a[12] * a[11], c1 = a[8] * a[14] - a[12] * a[10], c0 = a[8] * a[13] - a[12] * a[9];
    float det = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
    if (det == 0.0f || !std::isfinite(det)) return false;
    float k = 1.0f / det;
    float r[16] = {
        (a[5] * c5 - a[6] * c4 + a[7] * c3) * k,   (-a[1] * c5 + a[2] * c4 - a[3] * c3) * k,
        (a[13] * s5 - a[14] * s4 + a[15] * s3) * k, (-a[9] * s5 + a[10] * s4 - a[11] * s3) * k,
        (-a[4] * c5 + a[6] * c2 - a[7] * c1) * k,  (a[0] * c5 - a[2] * c2 + a[3] * c1) * k,
        (-a[12] * s5 + a[14] * s2 - a[15] * s1) * k, (a[8] * s5 - a[10] * s2 + a[11] * s1) * k,
        (a[4] * c4 - a[5] * c2 + a[7] * c0) * k,   (-a[0] * c4 + a[1] * c2 - a[3] * c0) * k,
        (a[12] * s4 - a[13] * s2 + a[15] * s0) * k, (-a[8] * s4 + a[9] * s2 - a[11] * s0) * k,
        (-a[4] * c3 + a[5] * c1 - a[6] * c0) * k,  (a[0] * c3 - a[1] * c1 + a[2] * c0) * k,
        (-a[12] * s3 + a[13] * s1 - a[14] * s0) * k, (a[8] * s3 - a[9] * s1 + a[10] * s0) * k,
    };
    for (float v : r)
        if (!std::isfinite(v)) return false;
    for (int i = 0; i < 16; ++i) matrix_data(*out)[i] = r[i];
    return true;
}

D3DMATRIX translation(float x, float y, float z) {
    D3DMATRIX m = identity();
    m._41 = x, m._42 = y, m._43 = z;
    return m;
}

D3DMATRIX scaling(float x, float y, float z) {
    D3DMATRIX m = identity();
    m._11 = x, m._22 = y, m._33 = z;
    return m;
}

D3DMATRIX rotation_x(float a) {
    float c = std::cos(a), s = std::sin(a);
    return rows(1, 0, 0, 0, c, s, 0, -s, c);
}

D3DMATRIX rotation_y(float a) {
    float c = std::cos(a), s = std::sin(a);
    return rows(c, 0, -s, 0, 1, 0, s, 0, c);
}

D3DMATRIX rotation_z(float a) {
    float c = std::cos(a), s = std::sin(a);
    return rows(c, s, 0, -s, c, 0, 0, 0, 1);
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
    D3DMATRIX m = rows(x.x, y.x, z.x, x.y, y.y, z.y, x.z, y.z, z.z);
    m._41 = -dot(eye, x);
    m._42 = -dot(eye, y);
    m._43 = -dot(eye, z);
    *out = m;
    return true;
}

D3DMATRIX perspective(float fov, float aspect, float n, float f) {
    float h = std::cos(fov / 2.0f) / std::sin(fov / 2.0f);
    float q = f / (f - n);
    D3DMATRIX m{};
    m._11 = aspect * h;
    m._22 = h;
    m._33 = q;
    m._34 = 1.0f;
    m._43 = -q * n;
    return m;
}

bool projection_matrix(float fov, float aspect, float n, float f, D3DMATRIX* out) {
    if (std::fabs(f - n) < 0.01f || std::fabs(std::sin(fov / 2.0f)) < 0.01f) return false;
    *out = perspective(fov, aspect, n, f);
    return true;
}

D3DMATRIX normal_matrix(const D3DMATRIX& m) {
    const float a = m._11, b = m._12, c = m._13, d = m._21, e = m._22, f = m._23, g = m._31, h = m._32, i = m._33;
    // Cofactors: the inverse transpose is cofactor / determinant.
    float c11 = e * i - f * h, c12 = -(d * i - f * g), c13 = d * h - e * g;
    float c21 = -(b * i - c * h), c22 = a * i - c * g, c23 = -(a * h - b * g);
    float c31 = b * f - c * e, c32 = -(a * f - c * d), c33 = a * e - b * d;
    float det = a * c11 + b * c12 + c * c13;
    float s = (det != 0.0f && std::isfinite(det)) ? 1.0f / det : 1.0f;
    D3DMATRIX r = rows(c11 * s, c12 * s, c13 * s, c21 * s, c22 * s, c23 * s, c31 * s, c32 * s, c33 * s);
    r._44 = 0.0f;
    return r;
}

void transform_point(const D3DMATRIX& m, const D3DVECTOR& p, float out[4]) {
    out[0] = p.x * m._11 + p.y * m._21 + p.z * m._31 + m._41;
    out[1] = p.x * m._12 + p.y * m._22 + p.z * m._32 + m._42;
    out[2] = p.x * m._13 + p.y * m._23 + p.z * m._33 + m._43;
    out[3] = 1.0f;
}

void transform_direction(const D3DMATRIX& m, const D3DVECTOR& v, float out[4]) {
    out[0] = v.x * m._11 + v.y * m._21 + v.z * m._31;
    out[1] = v.x * m._12 + v.y * m._22 + v.z * m._32;
    out[2] = v.x * m._13 + v.y * m._23 + v.z * m._33;
    out[3] = 0.0f;
}

}  // namespace vantor
