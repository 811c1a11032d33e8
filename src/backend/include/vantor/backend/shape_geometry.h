// vantor/backend/shape_geometry.h — the utility layer's simple shapes as geometry, the same in
// every back end: vertices of D3DFVF_XYZ | D3DFVF_NORMAL with one texture set, and a triangle
// list of 16-bit indices whose front faces wind clockwise on screen, as every Direct3D model
// does, so the default cull mode (D3DCULL_CCW) keeps them.
//
//   ShapeGeometry g;
//   if (SUCCEEDED(sphere_geometry(1.0f, 16, 8, &g))) ...  // g.vertices, g.indices
#pragma once

#include <vantor/backend/d3dx.h>

#include <vector>

namespace vantor::backend {

// One vertex of a shape with a single texture set (the layout tests and builders share).
struct ShapeVertex {
    float x, y, z, nx, ny, nz, tu, tv;
};

// The geometry of each kind before it goes into a buffer: D3DXERR_INVALIDPARAMETER for sizes
// that are negative or not finite, too few sides, or more vertices than 16-bit indices reach.
// D3DX_DEFAULT for a count means 8.
struct ShapeGeometry {
    std::vector<ShapeVertex> vertices;
    std::vector<WORD> indices;
};
HRESULT polygon_geometry(float side, DWORD sides, ShapeGeometry* out);
HRESULT box_geometry(float width, float height, float depth, ShapeGeometry* out);
HRESULT cylinder_geometry(float base_radius, float top_radius, float height, DWORD slices, DWORD stacks,
                          ShapeGeometry* out);
HRESULT sphere_geometry(float radius, DWORD slices, DWORD stacks, ShapeGeometry* out);
HRESULT torus_geometry(float inner_radius, float outer_radius, DWORD sides, DWORD rings, ShapeGeometry* out);
HRESULT teapot_geometry(ShapeGeometry* out);

}  // namespace vantor::backend
