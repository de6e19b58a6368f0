#include "server/shared/VectorMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace velt {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kPi = 3.14159265f;

TEST(VectorMath, WorldLimitsAndNaN) {
    struct Case {
        Vector3 v;
        bool position, velocity, unit;
    };
    const Case cases[] = {
        {{0, 0, 0}, true, true, true},
        {{20000, 0, 0}, false, false, false},
        {{-20000, 0, 0}, false, false, false},
        {{0, 20000, 0}, false, false, false},
        {{19999.9f, -19999.9f, 199999}, true, false, false},
        {{0, 0, -1000}, false, false, false},
        {{0, 0, -999.9f}, true, false, false},
        {{0, 0, 200000}, false, false, false},
        {{100, 0, 0}, true, false, false},
        {{0, -100, 0}, true, false, false},
        {{0, 0, 99.99f}, true, true, false},
        {{1, -1, 1}, true, true, true},
        {{1.0001f, 0, 0}, true, true, false},
        {{kNaN, 0, 0}, false, false, false},
        {{0, kNaN, 0}, false, false, false},
        {{0, 0, kNaN}, false, false, false},
        {{kInf, 0, 0}, false, false, false},
        {{0, 0, -kInf}, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.v.x << ", " << c.v.y << ", " << c.v.z);
        EXPECT_EQ(IsValidPosition(c.v), c.position);
        EXPECT_EQ(IsValidVelocity(c.v), c.velocity);
        EXPECT_EQ(IsValidUnitVector(c.v), c.unit);
    }
}

TEST(VectorMath, VectorsAndTransform) {
    EXPECT_FLOAT_EQ(VectorLength({3, 4, 12}), 13.0f);
    EXPECT_FLOAT_EQ(VectorLengthSquared({3, 4, 12}), 169.0f);
    const Vector3 z = CrossProduct({1, 0, 0}, {0, 1, 0});
    EXPECT_EQ(z.x, 0.0f);
    EXPECT_EQ(z.y, 0.0f);
    EXPECT_EQ(z.z, 1.0f);
    const Vector3 c = CrossProduct({0, 0, 1}, {1, 0, 0});  // z x x = y, not -y
    EXPECT_EQ(c.x, 0.0f);
    EXPECT_EQ(c.y, 1.0f);
    EXPECT_EQ(c.z, 0.0f);

    Matrix4 m;  // quarter turn about z, moved to (10, 20, 30)
    m.right = {0, 1, 0, 0};
    m.up = {-1, 0, 0, 0};
    m.at = {0, 0, 1, 0};
    m.pos = {10, 20, 30, 1};
    const Vector3 p = TransformPoint(m, {2, 3, 4});
    EXPECT_FLOAT_EQ(p.x, 7.0f);
    EXPECT_FLOAT_EQ(p.y, 22.0f);
    EXPECT_FLOAT_EQ(p.z, 34.0f);
}

// The same rotation, allowing for q and -q.
void ExpectSameRotation(const Quaternion& got, const Quaternion& want, float tolerance) {
    const float sign = (got.w * want.w + got.x * want.x + got.y * want.y + got.z * want.z) < 0 ? -1.0f : 1.0f;
    EXPECT_NEAR(sign * got.w, want.w, tolerance);
    EXPECT_NEAR(sign * got.x, want.x, tolerance);
    EXPECT_NEAR(sign * got.y, want.y, tolerance);
    EXPECT_NEAR(sign * got.z, want.z, tolerance);
}

// Components are taken from square roots of 1 plus or minus diagonal sums, so one near 0 carries
// an error of about sqrt(float epsilon) / 2. A wrong sign or axis is off by far more than this.
constexpr float kRoundTripTolerance = 5e-4f;

Quaternion Normalised(Quaternion q) {
    const float n = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
    return {q.w / n, q.x / n, q.y / n, q.z / n};
}

TEST(VectorMath, QuaternionMatrixRoundTrips) {
    Matrix4 m;
    m.right.w = m.up.w = m.at.w = 7.0f;
    m.pos = {1, 2, 3, 4};
    QuaternionToMatrix4({1, 0, 0, 0}, m);
    EXPECT_EQ(m.right.x, 1.0f);
    EXPECT_EQ(m.right.y, 0.0f);
    EXPECT_EQ(m.right.z, 0.0f);
    EXPECT_EQ(m.up.x, 0.0f);
    EXPECT_EQ(m.up.y, 1.0f);
    EXPECT_EQ(m.up.z, 0.0f);
    EXPECT_EQ(m.at.x, 0.0f);
    EXPECT_EQ(m.at.y, 0.0f);
    EXPECT_EQ(m.at.z, 1.0f);
    EXPECT_EQ(m.right.w, 7.0f);
    EXPECT_EQ(m.up.w, 7.0f);
    EXPECT_EQ(m.at.w, 7.0f);
    EXPECT_EQ(m.pos.x, 1.0f);
    EXPECT_EQ(m.pos.w, 4.0f);
    EXPECT_EQ(FacingAngleFromUp(m.up.x, m.up.y), 0.0f);

    // Half turns (negative trace, w = 0) and near half turns: the axis signs must survive.
    const Quaternion halfTurns[] = {
        {0, 1, 0, 0},
        {0, 0, 1, 0},
        {0, 0, 0, 1},
        {0, 0.70710678f, -0.70710678f, 0},
        {0, 0.6f, 0, -0.8f},
        {0, -0.48f, 0.6f, 0.64f},
        Normalised({1e-4f, 0.3f, -0.5f, 0.8f}),
    };
    for (const auto& q : halfTurns) {
        SCOPED_TRACE(testing::Message() << q.w << " " << q.x << " " << q.y << " " << q.z);
        const Quaternion back = MatrixToQuaternion(QuaternionToMatrix(q));
        ExpectSameRotation(back, q, kRoundTripTolerance);
        EXPECT_GE(back.w, 0.0f);
    }

    std::mt19937 rng(3);
    std::normal_distribution<float> gauss;
    for (int round = 0; round < 2000; ++round) {
        const Quaternion q = Normalised({gauss(rng), gauss(rng), gauss(rng), gauss(rng)});
        Matrix4 full;
        QuaternionToMatrix4(q, full);
        const Quaternion back = Matrix4ToQuaternion(full);
        ASSERT_NO_FATAL_FAILURE(ExpectSameRotation(back, q, kRoundTripTolerance));
        ASSERT_NEAR(back.w * back.w + back.x * back.x + back.y * back.y + back.z * back.z, 1.0f, 1e-4f);
    }
}

TEST(VectorMath, FacingAngle) {
    // A heading turned into a matrix the way the bot program does it, then into the quaternion it
    // sends, then back to the heading the server derives from that quaternion.
    for (float degrees : {0.0f, 45.0f, 90.0f, 179.0f, 180.0f, 270.0f, 359.9f}) {
        const float a = degrees * 0.017453292f;
        const RotationMatrix r{{std::cos(a), std::sin(a), 0}, {-std::sin(a), std::cos(a), 0}, {0, 0, 1}};
        const RotationMatrix back = QuaternionToMatrix(MatrixToQuaternion(r));
        EXPECT_NEAR(FacingAngleFromUp(back.up.x, back.up.y), degrees, 1e-3f) << degrees;
    }
    EXPECT_FLOAT_EQ(FacingAngleFromUp(-1, 0), 90.0f);
    EXPECT_FLOAT_EQ(FacingAngleFromUp(1, 0), 270.0f);
    // Slightly right of north: adding 360 rounds to exactly 360, which is not a valid heading.
    const float tiny = FacingAngleFromUp(1e-7f, 1.0f);
    EXPECT_GE(tiny, 0.0f);
    EXPECT_LT(tiny, 360.0f);
}

TEST(VectorMath, EulerAngles) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> turn(-3.1f, 3.1f), pitch(-1.5f, 1.5f);
    for (int round = 0; round < 2000; ++round) {
        const Vector3 angles{turn(rng), pitch(rng), turn(rng)};
        const Quaternion q = EulerToQuaternion(angles);
        ASSERT_NEAR(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z, 1.0f, 1e-5f);
        const Vector3 back = QuaternionToEuler(q);
        ASSERT_NEAR(back.x, angles.x, 2e-3f) << round;
        ASSERT_NEAR(back.y, angles.y, 2e-3f) << round;
        ASSERT_NEAR(back.z, angles.z, 2e-3f) << round;
    }
    // Straight up or down: the sine of the pitch can round past 1; the pitch must stay finite.
    for (const Quaternion& q :
         {Quaternion{0.7071068f, 0, 0.7071068f, 0}, Quaternion{0.7071068f, 0, -0.7071068f, 0},
          EulerToQuaternion({0.3f, kPi / 2, -0.2f})}) {
        const Vector3 e = QuaternionToEuler(q);
        EXPECT_FALSE(std::isnan(e.y));
        EXPECT_NEAR(std::fabs(e.y), kPi / 2, 2e-3f);
    }

    // Rotation rows must be orthonormal and right-handed for any angles.
    for (int round = 0; round < 200; ++round) {
        Matrix4 m;
        m.pos = {5, 6, 7, 8};
        EulerToMatrix(m, turn(rng), turn(rng), turn(rng));
        const Vector3 right{m.right.x, m.right.y, m.right.z}, up{m.up.x, m.up.y, m.up.z};
        const Vector3 at = CrossProduct(right, up);
        ASSERT_NEAR(VectorLength(right), 1.0f, 1e-5f);
        ASSERT_NEAR(VectorLength(up), 1.0f, 1e-5f);
        ASSERT_NEAR(right.x * up.x + right.y * up.y + right.z * up.z, 0.0f, 1e-5f);
        ASSERT_NEAR(at.x, m.at.x, 1e-5f);
        ASSERT_NEAR(at.y, m.at.y, 1e-5f);
        ASSERT_NEAR(at.z, m.at.z, 1e-5f);
        ASSERT_EQ(m.pos.x, 5.0f);
    }
    Matrix4 yaw;
    EulerToMatrix(yaw, 0, 0, 90 * 0.017453292f);
    EXPECT_NEAR(FacingAngleFromUp(yaw.up.x, yaw.up.y), 90.0f, 1e-3f);
}

}  // namespace
}  // namespace velt
