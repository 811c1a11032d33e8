// The utility layer's shape geometry, the same in every back end: each kind's vertices and a
// triangle list wound clockwise on screen.
#include <vantor/backend/shape_geometry.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vantor::backend {
namespace {

#include "teapot_data.inc"

constexpr float kPi = std::numbers::pi_v<float>;
constexpr uint64_t kMaxVertices = 0xFFFF;  // 16-bit indices; D3DMAXNUMVERTICES per buffer
constexpr DWORD kTeapotSteps = 6;          // segments along each side of a teapot patch

DWORD or8(DWORD v) { return v == D3DX_DEFAULT ? 8 : v; }

bool sizes_ok(std::initializer_list<float> sizes) {
    for (float s : sizes)
        if (!std::isfinite(s) || s < 0.0f) return false;
    return true;
}

struct V3 {
    float x, y, z;
};
V3 sub(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 unit(V3 a) {
    float l = std::sqrt(dot(a, a));
    return l > 0 ? V3{a.x / l, a.y / l, a.z / l} : V3{0, 0, 0};
}
V3 pos(const ShapeVertex& v) { return {v.x, v.y, v.z}; }

// Builds geometry; every triangle is wound so that, seen from the side its vertex normals
// point to, it is clockwise in Direct3D's left-handed screen space: cross(b - a, c - a) points
// along the normals.
class Builder {
public:
    explicit Builder(ShapeGeometry* out) : g_(out) {}

    WORD vertex(V3 p, V3 n, float tu, float tv) {
        n = unit(n);
        g_->vertices.push_back({p.x, p.y, p.z, n.x, n.y, n.z, tu, tv});
        return static_cast<WORD>(g_->vertices.size() - 1);
    }
    void triangle(WORD a, WORD b, WORD c) {
        const auto& v = g_->vertices;
        V3 face = cross(sub(pos(v[b]), pos(v[a])), sub(pos(v[c]), pos(v[a])));
        if (dot(face, face) == 0.0f) return;  // no area: nothing to draw
        V3 n{v[a].nx + v[b].nx + v[c].nx, v[a].ny + v[b].ny + v[c].ny, v[a].nz + v[b].nz + v[c].nz};
        if (dot(face, n) < 0) std::swap(b, c);
        g_->indices.insert(g_->indices.end(), {a, b, c});
    }
    void quad(WORD a, WORD b, WORD c, WORD d) {  // a b / d c around the quad
        triangle(a, b, c);
        triangle(a, c, d);
    }

private:
    ShapeGeometry* g_;
};

HRESULT finish(ShapeGeometry* g) {
    if (g->indices.empty()) return D3DXERR_INVALIDPARAMETER;  // nothing with an area
    return S_OK;
}

// Tube-like shapes: a grid of (around + 1) x (along + 1) vertices from `at(i, j)`.
template <class At>
void grid(Builder& b, DWORD around, DWORD along, At at) {
    WORD first = 0;
    bool have_first = false;
    for (DWORD j = 0; j <= along; ++j)
        for (DWORD i = 0; i <= around; ++i) {
            auto [p, n] = at(i, j);
            WORD w = b.vertex(p, n, float(i) / float(around), float(j) / float(along));
            if (!have_first) first = w, have_first = true;
        }
    auto id = [&](DWORD i, DWORD j) { return static_cast<WORD>(first + j * (around + 1) + i); };
    for (DWORD j = 0; j < along; ++j)
        for (DWORD i = 0; i < around; ++i) b.quad(id(i, j), id(i + 1, j), id(i + 1, j + 1), id(i, j + 1));
}

// Bernstein weights of a cubic and of its derivative at t.
void bernstein(float t, float w[4], float d[4]) {
    float s = 1 - t;
    w[0] = s * s * s, w[1] = 3 * t * s * s, w[2] = 3 * t * t * s, w[3] = t * t * t;
    d[0] = -3 * s * s, d[1] = 3 * s * s - 6 * t * s, d[2] = 6 * t * s - 3 * t * t, d[3] = 3 * t * t;
}

}  // namespace

HRESULT polygon_geometry(float side, DWORD sides, ShapeGeometry* out) {
    uint64_t n = or8(sides);
    if (n < 3 || n + 1 > kMaxVertices || !sizes_ok({side})) return D3DXERR_INVALIDPARAMETER;
    *out = {};
    Builder b(out);
    // A regular n-gon in the xy plane facing -z (towards a camera at the origin looking along +z).
    float r = side / (2.0f * std::sin(kPi / float(n)));
    WORD centre = b.vertex({0, 0, 0}, {0, 0, -1}, 0.5f, 0.5f);
    for (uint64_t k = 0; k < n; ++k) {
        float a = 2 * kPi * float(k) / float(n);
        b.vertex({r * std::cos(a), r * std::sin(a), 0}, {0, 0, -1}, 0.5f + 0.5f * std::cos(a), 0.5f - 0.5f * std::sin(a));
    }
    for (uint64_t k = 0; k < n; ++k) b.triangle(centre, WORD(1 + k), WORD(1 + (k + 1) % n));
    return finish(out);
}

HRESULT box_geometry(float width, float height, float depth, ShapeGeometry* out) {
    if (!sizes_ok({width, height, depth})) return D3DXERR_INVALIDPARAMETER;
    *out = {};
    Builder b(out);
    const V3 h{width / 2, height / 2, depth / 2};
    // Each face: its normal and two axes spanning it.
    const struct {
        V3 n, u, v;
    } faces[] = {{{1, 0, 0}, {0, 0, 1}, {0, 1, 0}},  {{-1, 0, 0}, {0, 0, -1}, {0, 1, 0}},
                 {{0, 1, 0}, {1, 0, 0}, {0, 0, 1}},  {{0, -1, 0}, {1, 0, 0}, {0, 0, -1}},
                 {{0, 0, 1}, {-1, 0, 0}, {0, 1, 0}}, {{0, 0, -1}, {1, 0, 0}, {0, 1, 0}}};
    for (const auto& f : faces) {
        WORD w[4];
        const float corners[4][2] = {{-1, 1}, {1, 1}, {1, -1}, {-1, -1}};
        for (int k = 0; k < 4; ++k) {
            float su = corners[k][0], sv = corners[k][1];
            V3 p{(f.n.x + su * f.u.x + sv * f.v.x) * h.x, (f.n.y + su * f.u.y + sv * f.v.y) * h.y,
                 (f.n.z + su * f.u.z + sv * f.v.z) * h.z};
            w[k] = b.vertex(p, f.n, (su + 1) / 2, (1 - sv) / 2);
        }
        b.quad(w[0], w[1], w[2], w[3]);
    }
    return finish(out);
}

HRESULT cylinder_geometry(float r0, float r1, float height, DWORD slices, DWORD stacks, ShapeGeometry* out) {
    uint64_t sl = or8(slices), st = or8(stacks);
    if (sl < 3 || st < 1 || !sizes_ok({r0, r1, height}) || (sl + 1) * (st + 1) + 2 * (sl + 1) > kMaxVertices)
        return D3DXERR_INVALIDPARAMETER;
    *out = {};
    Builder b(out);
    // Along z, the base radius at -height/2, the top radius at +height/2.
    float z0 = -height / 2;
    grid(b, DWORD(sl), DWORD(st), [&](DWORD i, DWORD j) {
        float a = 2 * kPi * float(i % sl) / float(sl), t = float(j) / float(st);
        float r = r0 + (r1 - r0) * t, c = std::cos(a), s = std::sin(a);
        return std::pair{V3{r * c, r * s, z0 + height * t}, V3{height * c, height * s, r0 - r1}};
    });
    for (int end = 0; end < 2; ++end) {
        float r = end ? r1 : r0, z = end ? -z0 : z0;
        V3 n{0, 0, end ? 1.0f : -1.0f};
        WORD centre = b.vertex({0, 0, z}, n, 0.5f, 0.5f);
        for (uint64_t k = 0; k < sl; ++k) {
            float a = 2 * kPi * float(k) / float(sl);
            b.vertex({r * std::cos(a), r * std::sin(a), z}, n, 0.5f + 0.5f * std::cos(a), 0.5f - 0.5f * std::sin(a));
        }
        for (uint64_t k = 0; k < sl; ++k) b.triangle(centre, WORD(centre + 1 + k), WORD(centre + 1 + (k + 1) % sl));
    }
    return finish(out);
}

HRESULT sphere_geometry(float radius, DWORD slices, DWORD stacks, ShapeGeometry* out) {
    uint64_t sl = or8(slices), st = or8(stacks);
    if (sl < 3 || st < 2 || !sizes_ok({radius}) || (sl + 1) * (st + 1) > kMaxVertices) return D3DXERR_INVALIDPARAMETER;
    *out = {};
    Builder b(out);
    // Poles on the z axis, stacks from +z to -z.
    grid(b, DWORD(sl), DWORD(st), [&](DWORD i, DWORD j) {
        float a = 2 * kPi * float(i % sl) / float(sl), t = kPi * float(j) / float(st);
        V3 n{std::sin(t) * std::cos(a), std::sin(t) * std::sin(a), std::cos(t)};
        if (j == 0 || j == st) n = {0, 0, j == 0 ? 1.0f : -1.0f};
        return std::pair{V3{radius * n.x, radius * n.y, radius * n.z}, n};
    });
    return finish(out);
}

HRESULT torus_geometry(float inner, float outer, DWORD sides, DWORD rings, ShapeGeometry* out) {
    uint64_t si = or8(sides), ri = or8(rings);
    if (si < 3 || ri < 3 || !sizes_ok({inner, outer}) || (si + 1) * (ri + 1) > kMaxVertices)
        return D3DXERR_INVALIDPARAMETER;
    *out = {};
    Builder b(out);
    // Around the z axis: `outer` from the axis to the centre of the tube, `inner` the tube's radius.
    grid(b, DWORD(si), DWORD(ri), [&](DWORD i, DWORD j) {
        float v = 2 * kPi * float(i % si) / float(si), u = 2 * kPi * float(j % ri) / float(ri);
        V3 n{std::cos(v) * std::cos(u), std::cos(v) * std::sin(u), std::sin(v)};
        float d = outer + inner * std::cos(v);
        return std::pair{V3{d * std::cos(u), d * std::sin(u), inner * std::sin(v)}, n};
    });
    return finish(out);
}

HRESULT teapot_geometry(ShapeGeometry* out) {
    *out = {};
    Builder b(out);
    // Half size, y up, the spout towards +x, standing on y = -0.7875 and centred in height.
    auto point = [](int k) {
        const float* p = kTeapotPoints[k];
        return V3{p[0] * 0.5f, (p[2] - 1.575f) * 0.5f, p[1] * 0.5f};
    };
    constexpr DWORD n = kTeapotSteps;
    for (const auto& patch : kTeapotPatches) {
        V3 cp[16];
        for (int k = 0; k < 16; ++k) cp[k] = point(patch[k]);
        auto eval = [&](float u, float v, V3* du, V3* dv) {
            float wu[4], du_w[4], wv[4], dv_w[4];
            bernstein(u, wu, du_w);
            bernstein(v, wv, dv_w);
            V3 p{0, 0, 0};
            *du = *dv = p;
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 4; ++c) {
                    V3 q = cp[r * 4 + c];
                    float w = wv[r] * wu[c], a = wv[r] * du_w[c], e = dv_w[r] * wu[c];
                    p = {p.x + w * q.x, p.y + w * q.y, p.z + w * q.z};
                    *du = {du->x + a * q.x, du->y + a * q.y, du->z + a * q.z};
                    *dv = {dv->x + e * q.x, dv->y + e * q.y, dv->z + e * q.z};
                }
            return p;
        };
        grid(b, n, n, [&](DWORD i, DWORD j) {
            float u = float(i) / float(n), v = float(j) / float(n);
            V3 du, dv;
            V3 p = eval(u, v, &du, &dv);
            // Where a patch edge collapses to a point, the normal is the limit just inside it.
            constexpr float kIn = 1e-3f;
            if (dot(cross(du, dv), cross(du, dv)) < 1e-12f) eval(std::clamp(u, kIn, 1 - kIn), std::clamp(v, kIn, 1 - kIn), &du, &dv);
            V3 nrm = cross(dv, du);
            return std::pair{p, nrm};
        });
    }
    return finish(out);
}

}  // namespace vantor::backend
