// The utility layer's simple shapes and sprites in the OpenGL back end.
//
// A shape is a vertex buffer of D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEXn vertices and a triangle
// list of 16-bit indices, drawn through the device it was made for with that device's current
// world transform, material, render and texture states. Front faces wind clockwise on screen, as
// every Direct3D model does, so the default cull mode (D3DCULL_CCW) keeps them.
//
//   ID3DXSimpleShape* s = nullptr;
//   if (SUCCEEDED(create_sphere(device, 1.0f, 16, 8, 1, &s))) s->Draw();
#pragma once

#include <vantor/backend/backend.h>

#include <vector>

namespace vantor::render {

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

// A shape for `device` from the geometry (`tex_coords` sets, D3DX_DEFAULT = 1, at most 8).
HRESULT make_shape(IDirect3DDevice7* device, const ShapeGeometry& geometry, DWORD tex_coords,
                   ID3DXSimpleShape** shape);

// Sprites: the states a sprite needs, and a textured screen-space quad.
HRESULT prepare_device_for_sprite(IDirect3DDevice7* device, BOOL z_enable);
HRESULT draw_sprite_simple(IDirectDrawSurface7* texture, IDirect3DDevice7* device, const D3DXVECTOR3* destination,
                           float alpha, float scale, float angle, const D3DXVECTOR2* offset, const RECT* source);

}  // namespace vantor::render
