// vantor/backend/matrix.h — Direct3D's matrices, one library for the engine, both back ends
// and the tests: row vectors (a point transforms as p·M, so A·B applies A first), left-handed,
// single precision, stored row by row (_11 _12 _13 _14 _21 ...).
//
//   D3DMATRIX world = multiply(rotation_x(a), translation(0, 0, 5));  // turn, then move
//   D3DMATRIX view;
//   if (!view_matrix(eye, target, up, &view)) ...                     // eye on the target
//   D3DMATRIX back;
//   if (inverse(world, &back)) ...                                    // false when singular
//
// Stored row by row, a D3DMATRIX uploads to GLSL unchanged, and `M * v` there equals p·M here.
#pragma once

#include <vantor/backend/d3dtypes.h>

namespace vantor {

D3DMATRIX identity();
// (A·B)_ij = sum over k of A_ik B_kj: transforms by A, then by B.
D3DMATRIX multiply(const D3DMATRIX& a, const D3DMATRIX& b);
// The inverse of a general 4x4; false (and `out` unchanged) when the matrix is singular or
// not finite.
bool inverse(const D3DMATRIX& m, D3DMATRIX* out);
D3DMATRIX translation(float x, float y, float z);
D3DMATRIX scaling(float x, float y, float z);
// Rotations about the axes by `radians`, clockwise looking along the axis towards the origin
// (Direct3D's left-handed sense): rotation_y(pi/2) takes +z to +x.
D3DMATRIX rotation_x(float radians);
D3DMATRIX rotation_y(float radians);
D3DMATRIX rotation_z(float radians);
// A left-handed look-at view matrix (the eye at the origin looking along +z). False when the
// eye is on the target; an up vector along the line of sight is replaced by +y, then +z.
bool view_matrix(const D3DVECTOR& eye, const D3DVECTOR& target, const D3DVECTOR& up, D3DMATRIX* out);
// A perspective projection with w = view z: _11 = aspect·cot(fov/2), _22 = cot(fov/2),
// _33 = far/(far-near), _34 = 1, _43 = -near·far/(far-near).
D3DMATRIX perspective(float fov, float aspect, float near_plane, float far_plane);
// perspective(), refusing |far - near| < 0.01 or |sin(fov/2)| < 0.01 (false, `out` unchanged).
bool projection_matrix(float fov, float aspect, float near_plane, float far_plane, D3DMATRIX* out);
// The inverse transpose of the upper 3x3 (how normals transform), in a 4x4 with the rest zero.
// A singular matrix gives its adjugate transpose, which keeps directions though not lengths.
D3DMATRIX normal_matrix(const D3DMATRIX& m);
// p·M for the point (x, y, z, 1) and the direction (x, y, z, 0); out[3] is 1 or 0.
void transform_point(const D3DMATRIX& m, const D3DVECTOR& p, float out[4]);
void transform_direction(const D3DMATRIX& m, const D3DVECTOR& v, float out[4]);

inline const float* matrix_data(const D3DMATRIX& m) { return &m._11; }
inline float* matrix_data(D3DMATRIX& m) { return &m._11; }

}  // namespace vantor
