#include "server/shared/VectorMath.h"

#include <algorithm>
#include <cmath>

namespace velt {

namespace {

bool Inside(float value, float low, float high) { return value > low && value < high; }

}  // namespace

bool IsValidUnitVector(const Vector3& v) {
    return v.x >= -1.0f && v.x <= 1.0f && v.y >= -1.0f && v.y <= 1.0f && v.z >= -1.0f && v.z <= 1.0f;
}

bool IsValidPosition(const Vector3& v) {
    return Inside(v.x, -kWorldLimitXY, kWorldLimitXY) && Inside(v.y, -kWorldLimitXY, kWorldLimitXY) &&
           Inside(v.z, kWorldMinZ, kWorldMaxZ);
}

bool IsValidVelocity(const Vector3& v) {
    return Inside(v.x, -kVelocityLimit, kVelocityLimit) && Inside(v.y, -kVelocityLimit, kVelocityLimit) &&
           Inside(v.z, -kVelocityLimit, kVelocityLimit);
}

float VectorLength(const Vector3& v) { return std::sqrt(VectorLengthSquared(v)); }

float VectorLengthSquared(const Vector3& v) { return v.x * v.x + v.y * v.y + v.z * v.z; }

Vector3 CrossProduct(const Vector3& a, const Vector3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

Vector3 TransformPoint(const Matrix4& m, const Vector3& v) {
    return {v.x * m.right.x + v.y * m.up.x + v.z * m.at.x + m.pos.x,
            v.x * m.right.y + v.y * m.up.y + v.z * m.at.y + m.pos.y,
            v.x * m.right.z + v.y * m.up.z + v.z * m.at.z + m.pos.z};
}

Quaternion MatrixToQuaternion(const RotationMatrix& m) {
    const Vector3& r = m.right;
    const Vector3& u = m.up;
    const Vector3& a = m.at;
    // Magnitudes from the diagonal; clamping keeps rounding noise from reaching sqrt as a
    // negative number.
    Quaternion q;
    q.w = 0.5f * std::sqrt(std::max(0.0f, 1.0f + r.x + u.y + a.z));
    q.x = 0.5f * std::sqrt(std::max(0.0f, 1.0f + r.x - u.y - a.z));
    q.y = 0.5f * std::sqrt(std::max(0.0f, 1.0f - r.x + u.y - a.z));
    q.z = 0.5f * std::sqrt(std::max(0.0f, 1.0f - r.x - u.y + a.z));

    // Signs relative to w: the differences below are 4wx, 4wy and 4wz.
    q.x = std::copysign(q.x, a.y - u.z);
    q.y = std::copysign(q.y, r.z - a.x);
    q.z = std::copysign(q.z, u.x - r.y);

    // Near a half turn w is about 0 and those differences are only noise, which would flip axis
    // components at random and give a different rotation. Then the largest vector component is
    // the reliable reference and the others take their sign from the sums 4xy, 4xz and 4yz.
    const float ax = std::fabs(q.x), ay = std::fabs(q.y), az = std::fabs(q.z);
    if (q.w >= ax && q.w >= ay && q.w >= az) return q;
    const float xy = r.y + u.x, xz = r.z + a.x, yz = u.z + a.y;
    if (ax >= ay && ax >= az) {
        const float s = std::copysign(1.0f, q.x);
        q.y = std::copysign(q.y, s * xy);
        q.z = std::copysign(q.z, s * xz);
    } else if (ay >= az) {
        const float s = std::copysign(1.0f, q.y);
        q.x = std::copysign(q.x, s * xy);
        q.z = std::copysign(q.z, s * yz);
    } else {
        const float s = std::copysign(1.0f, q.z);
        q.x = std::copysign(q.x, s * xz);
        q.y = std::copysign(q.y, s * yz);
    }
    return q;
}

Quaternion Matrix4ToQuaternion(const Matrix4& m) {
    return MatrixToQuaternion(
        {{m.right.x, m.right.y, m.right.z}, {m.up.x, m.up.y, m.up.z}, {m.at.x, m.at.y, m.at.z}});
}

RotationMatrix QuaternionToMatrix(const Quaternion& q) {
    const float w = q.w, x = q.x, y = q.y, z = q.z;
    const float ww = w * w, xx = x * x, yy = y * y, zz = z * z;
    RotationMatrix m;
    m.right = {ww + xx - yy - zz, 2.0f * (x * y - z * w), 2.0f * (y * w + x * z)};
    m.up = {2.0f * (z * w + x * y), ww + yy - xx - zz, 2.0f * (y * z - x * w)};
    m.at = {2.0f * (x * z - y * w), 2.0f * (x * w + y * z), ww + zz - xx - yy};
    return m;
}

void QuaternionToMatrix4(const Quaternion& q, Matrix4& m) {
    const RotationMatrix r = QuaternionToMatrix(q);
    m.right.x = r.right.x, m.right.y = r.right.y, m.right.z = r.right.z;
    m.up.x = r.up.x, m.up.y = r.up.y, m.up.z = r.up.z;
    m.at.x = r.at.x, m.at.y = r.at.y, m.at.z = r.at.z;
}

Quaternion EulerToQuaternion(const Vector3& angles) {
    const float cx = std::cos(angles.x * 0.5f), sx = std::sin(angles.x * 0.5f);
    const float cy = std::cos(angles.y * 0.5f), sy = std::sin(angles.y * 0.5f);
    const float cz = std::cos(angles.z * 0.5f), sz = std::sin(angles.z * 0.5f);
    return {cx * cy * cz + sx * sy * sz, sx * cy * cz - cx * sy * sz, sx * cy * sz + cx * sy * cz,
            cx * cy * sz - sx * sy * cz};
}

Vector3 QuaternionToEuler(const Quaternion& q) {
    const float w = q.w, x = q.x, y = q.y, z = q.z;
    // Rounding can push the sine of a straight-up pitch just past 1, where asin has no answer.
    const float sinY = std::clamp(-2.0f * (x * z - w * y), -1.0f, 1.0f);
    Vector3 angles;
    angles.x = std::atan2(2.0f * (y * z + w * x), w * w - x * x - y * y + z * z);
    angles.y = std::asin(sinY);
    angles.z = std::atan2(2.0f * (x * y + w * z), w * w + x * x - y * y - z * z);
    return angles;
}

void EulerToMatrix(Matrix4& m, float rx, float ry, float rz) {
    const float cx = std::cos(rx), sx = std::sin(rx);
    const float cy = std::cos(ry), sy = std::sin(ry);
    const float cz = std::cos(rz), sz = std::sin(rz);
    m.right.x = cz * cy - sz * sx * sy;
    m.right.y = sz * cy + sy * sx * cz;
    m.right.z = -sy * cx;
    m.up.x = -sz * cx;
    m.up.y = cz * cx;
    m.up.z = sx;
    m.at.x = cy * sz * sx + cz * sy;
    m.at.y = sz * sy - cy * sx * cz;
    m.at.z = cy * cx;
}

float FacingAngleFromUp(float upX, float upY) {
    float angle = std::atan2(-upX, upY) * 180.0f / 3.1415927f;
    if (angle < 0.0f) angle += 360.0f;
    // Also catches a tiny negative angle that rounds to exactly 360 once 360 is added.
    if (angle >= 360.0f) angle -= 360.0f;
    return angle;
}

}  // namespace velt
