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
#include <vantor/backend/shape_geometry.h>

#include <vector>

namespace vantor::render {

using backend::box_geometry;
using backend::cylinder_geometry;
using backend::polygon_geometry;
using backend::ShapeGeometry;
using backend::ShapeVertex;
using backend::sphere_geometry;
using backend::teapot_geometry;
using backend::torus_geometry;

// A shape for `device` from the geometry (`tex_coords` sets, D3DX_DEFAULT = 1, at most 8).
HRESULT make_shape(IDirect3DDevice7* device, const ShapeGeometry& geometry, DWORD tex_coords,
                   ID3DXSimpleShape** shape);

// Sprites: the states a sprite needs, and a textured screen-space quad.
HRESULT prepare_device_for_sprite(IDirect3DDevice7* device, BOOL z_enable);
HRESULT draw_sprite_simple(IDirectDrawSurface7* texture, IDirect3DDevice7* device, const D3DXVECTOR3* destination,
                           float alpha, float scale, float angle, const D3DXVECTOR2* offset, const RECT* source);

}  // namespace vantor::render
