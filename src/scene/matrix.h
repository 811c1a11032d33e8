// scene/matrix.h — Direct3D's matrices: row vectors, left-handed, single precision.
//
//   D3DMATRIX m = multiply(rotation_x(a), rotation_y(b));   // applies the x rotation first
//   view_matrix(eye, target, up, &view);                      // false (view unchanged) when rejected
#pragma once

#include <vantor/backend/d3dtypes.h>

namespace vantor {

D3DMATRIX identity();
// (A x B)_ij = sum over k of A_ik B_kj
D3DMATRIX multiply(const D3DMATRIX& a, const D3DMATRIX& b);
D3DMATRIX rotation_x(float radians);
D3DMATRIX rotation_y(float radians);
D3DMATRIX rotation_z(float radians);
// A left-handed look-at view matrix; rejects an eye on the target or a degenerate up vector.
bool view_matrix(const D3DVECTOR& eye, const D3DVECTOR& target, const D3DVECTOR& up, D3DMATRIX* out);
// A perspective projection with w = view z; rejects |far - near| < 0.01 or |sin(fov/2)| < 0.01.
bool projection_matrix(float fov, float aspect, float near_plane, float far_plane, D3DMATRIX* out);

}  // namespace vantor
