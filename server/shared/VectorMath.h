#pragma once

// Vectors, quaternions and rotation matrices of the game world, and the range checks that decide
// whether a client's reported position and velocity are believable. Shared with the bot program.
//
// The range checks are written as "inside" tests so that any NaN component fails them: IEEE
// comparisons with NaN are false. That is also why the build must never use fast-math.

namespace velt {

struct Vector3 {
    float x = 0.0f, y = 0.0f, z = 0.0f;
};

// Component order w, x, y, z everywhere: in records, on the wire and in calls.
struct Quaternion {
    float w = 0.0f, x = 0.0f, y = 0.0f, z = 0.0f;
};

struct MatrixRow {
    float x = 0.0f, y = 0.0f, z = 0.0f, w = 0.0f;
};

// Rows right, up, at and position, 16 floats in row order; the rotation is the first three
// components of the first three rows.
struct Matrix4 {
    MatrixRow right, up, at, pos;
};

// The nine rotation floats alone.
struct RotationMatrix {
    Vector3 right, up, at;
};

// World limits.
inline constexpr float kWorldLimitXY = 20000.0f;
inline constexpr float kWorldMinZ = -1000.0f;
inline constexpr float kWorldMaxZ = 200000.0f;
inline constexpr float kVelocityLimit = 100.0f;

// Every component within -1..1 inclusive.
bool IsValidUnitVector(const Vector3& v);
// -20000 < x, y < 20000 and -1000 < z < 200000, all strict.
bool IsValidPosition(const Vector3& v);
// Every component strictly within -100..100.
bool IsValidVelocity(const Vector3& v);

float VectorLength(const Vector3& v);
float VectorLengthSquared(const Vector3& v);
Vector3 CrossProduct(const Vector3& a, const Vector3& b);

// v.x * right + v.y * up + v.z * at + position.
Vector3 TransformPoint(const Matrix4& m, const Vector3& v);

// Always returns w >= 0 and never takes the square root of a negative number, so a matrix with
// a negative trace or a little rounding noise still gives a finite quaternion.
Quaternion MatrixToQuaternion(const RotationMatrix& m);
Quaternion Matrix4ToQuaternion(const Matrix4& m);

RotationMatrix QuaternionToMatrix(const Quaternion& q);
// Writes the three rotation rows only; their fourth floats and the position row stay as they are.
void QuaternionToMatrix4(const Quaternion& q, Matrix4& m);

// Angles in radians about x, y and z.
Quaternion EulerToQuaternion(const Vector3& angles);
// Inverse of EulerToQuaternion for ay within -pi/2..pi/2.
Vector3 QuaternionToEuler(const Quaternion& q);

// Writes m's three rotation rows from rotations about x, y and z (radians); the rest of m is left
// as it is. Its rotation order and row layout are not those of EulerToQuaternion, so the same
// three angles give different rotations through the two functions.
void EulerToMatrix(Matrix4& m, float rx, float ry, float rz);

// Heading in degrees within [0, 360), single precision, of a rotation whose up row starts with
// (upX, upY).
float FacingAngleFromUp(float upX, float upY);

}  // namespace velt
