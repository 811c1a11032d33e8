// The back ends' shared matrix arithmetic, checked against Direct3D's conventions rather than
// against a second copy of the formulas. (The state rules are checked on both back ends by the
// conformance suite.)
#include <gtest/gtest.h>
#include <vantor/backend/matrix.h>

#include <cmath>

namespace {

using namespace vantor;

constexpr float kHalfPi = 1.5707963f;

::testing::AssertionResult near(const D3DMATRIX& a, const D3DMATRIX& b, float tolerance = 1e-5f) {
    for (int i = 0; i < 16; ++i)
        if (!(std::fabs(matrix_data(a)[i] - matrix_data(b)[i]) <= tolerance))
            return ::testing::AssertionFailure() << "element " << i << ": " << matrix_data(a)[i] << " vs "
                                                 << matrix_data(b)[i];
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult maps(const D3DMATRIX& m, D3DVECTOR from, D3DVECTOR to) {
    float p[4];
    transform_point(m, from, p);
    if (std::fabs(p[0] - to.x) > 1e-5f || std::fabs(p[1] - to.y) > 1e-5f || std::fabs(p[2] - to.z) > 1e-5f)
        return ::testing::AssertionFailure() << "(" << p[0] << ", " << p[1] << ", " << p[2] << ") is not (" << to.x
                                             << ", " << to.y << ", " << to.z << ")";
    return ::testing::AssertionSuccess();
}

TEST(BackendMatrix, RotationsTurnClockwiseLookingTowardsTheOriginAndProductsApplyLeftFirst) {
    const struct {
        const char* name;
        D3DMATRIX m;
        D3DVECTOR from, to;
    } cases[] = {
        {"x: +y to +z", rotation_x(kHalfPi), {0, 1, 0}, {0, 0, 1}},
        {"y: +z to +x", rotation_y(kHalfPi), {0, 0, 1}, {1, 0, 0}},
        {"z: +x to +y", rotation_z(kHalfPi), {1, 0, 0}, {0, 1, 0}},
        {"turn, then move", multiply(rotation_y(kHalfPi), translation(0, 0, 5)), {0, 0, 1}, {1, 0, 5}},
        {"move, then turn", multiply(translation(0, 0, 5), rotation_y(kHalfPi)), {0, 0, 1}, {6, 0, 0}},
        {"scale", scaling(2, 3, 4), {1, 1, 1}, {2, 3, 4}},
    };
    for (const auto& c : cases) EXPECT_TRUE(maps(c.m, c.from, c.to)) << c.name;
}

TEST(BackendMatrix, InverseUndoesAndRefusesSingularMatrices) {
    const D3DMATRIX invertible[] = {
        multiply(rotation_x(0.3f), translation(1, 2, 3)),
        multiply(scaling(2, 0.5f, 4), rotation_y(1.0f)),
        multiply(rotation_z(-0.7f), perspective(1.0f, 1.5f, 1.0f, 100.0f)),
    };
    for (const D3DMATRIX& m : invertible) {
        D3DMATRIX inv{};
        ASSERT_TRUE(inverse(m, &inv));
        EXPECT_TRUE(near(multiply(m, inv), identity()));
        EXPECT_TRUE(near(multiply(inv, m), identity()));
    }
    D3DMATRIX untouched = translation(7, 7, 7), flat = scaling(1, 0, 1), nan = identity();
    nan._22 = std::nanf("");
    for (const D3DMATRIX& m : {flat, nan}) {
        D3DMATRIX out = untouched;
        EXPECT_FALSE(inverse(m, &out));
        EXPECT_TRUE(near(out, untouched, 0.0f)) << "a refused inverse leaves the output alone";
    }
}

TEST(BackendMatrix, ViewsLookFromTheEyeAndProjectionsRefuseDegenerateFrusta) {
    D3DMATRIX view{};
    ASSERT_TRUE(view_matrix({0, 0, -10}, {0, 0, 0}, {0, 1, 0}, &view));
    EXPECT_TRUE(maps(view, {0, 0, -10}, {0, 0, 0})) << "the eye sits at the origin";
    EXPECT_TRUE(maps(view, {0, 0, 0}, {0, 0, 10})) << "the target lies along +z";
    EXPECT_TRUE(maps(view, {1, 2, 0}, {1, 2, 10})) << "+x right, +y up";
    ASSERT_TRUE(view_matrix({0, 10, 0}, {0, 0, 0}, {0, 1, 0}, &view)) << "up along the line of sight";
    EXPECT_TRUE(maps(view, {0, 0, 0}, {0, 0, 10}));
    D3DMATRIX kept = view;
    EXPECT_FALSE(view_matrix({1, 1, 1}, {1, 1, 1}, {0, 1, 0}, &view)) << "the eye on the target";
    EXPECT_TRUE(near(view, kept, 0.0f));

    D3DMATRIX p{};
    ASSERT_TRUE(projection_matrix(kHalfPi, 1.0f, 1.0f, 100.0f, &p));
    float near_plane[4], far_plane[4];
    transform_point(p, {0, 0, 1}, near_plane);
    transform_point(p, {0, 0, 100}, far_plane);
    // w is the view z (_34 = 1), so depth z/w runs from 0 at the near plane to 1 at the far one.
    EXPECT_EQ(p._34, 1.0f);
    EXPECT_NEAR(near_plane[2] / 1.0f, 0.0f, 1e-5f);
    EXPECT_NEAR(far_plane[2] / 100.0f, 1.0f, 1e-5f);
    EXPECT_FALSE(projection_matrix(kHalfPi, 1.0f, 5.0f, 5.001f, &p)) << "near and far planes together";
    EXPECT_FALSE(projection_matrix(0.0f, 1.0f, 1.0f, 100.0f, &p)) << "no field of view";
}

TEST(BackendMatrix, NormalsTransformByTheInverseTranspose) {
    D3DMATRIX n = normal_matrix(scaling(2, 4, 0.5f));
    float out[4];
    transform_direction(n, {1, 1, 1}, out);
    EXPECT_FLOAT_EQ(out[0], 0.5f);
    EXPECT_FLOAT_EQ(out[1], 0.25f);
    EXPECT_FLOAT_EQ(out[2], 2.0f);
}

}  // namespace
