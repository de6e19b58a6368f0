#include "npc/NpcOwnState.h"

#include <cmath>

namespace velt {

void NpcOwnState::Clear() {
    onFoot = OnFootSyncRecord{};
    inCar = InCarSyncRecord{};
    kind = NpcOwnSyncKind::None;
    seat = 0;
    vehicleId = kNpcNoVehicle;
}

bool NpcOwnState::GetPosition(Vector3& out) const {
    switch (kind) {
        case NpcOwnSyncKind::OnFoot: out = onFoot.position; return true;
        case NpcOwnSyncKind::Driver: out = inCar.position; return true;
        case NpcOwnSyncKind::None: break;
    }
    return false;
}

void NpcOwnState::SetPosition(const Vector3& position) {
    if (kind == NpcOwnSyncKind::OnFoot) onFoot.position = position;
    if (kind == NpcOwnSyncKind::Driver) inCar.position = position;
}

float NpcOwnState::GetFacing() const {
    const Quaternion* q = nullptr;
    if (kind == NpcOwnSyncKind::OnFoot) q = &onFoot.rotation;
    if (kind == NpcOwnSyncKind::Driver) q = &inCar.rotation;
    if (q == nullptr) return 0.0f;
    const RotationMatrix m = QuaternionToMatrix(*q);
    return FacingAngleFromUp(m.up.x, m.up.y);
}

void NpcOwnState::SetFacing(float degrees) {
    const float a = degrees * 0.017453292f;
    Matrix4 m;
    m.right = {std::cos(a), std::sin(a), 0.0f, 0.0f};
    m.up = {-std::sin(a), std::cos(a), 0.0f, 0.0f};
    m.at = {0.0f, 0.0f, 1.0f, 0.0f};
    onFoot.rotation = Matrix4ToQuaternion(m);
}

float NpcOwnState::DistanceTo(const Vector3& point) const {
    Vector3 own;
    if (!GetPosition(own)) return 0.0f;
    return VectorLength(Vector3{own.x - point.x, own.y - point.y, own.z - point.z});
}

}  // namespace velt
