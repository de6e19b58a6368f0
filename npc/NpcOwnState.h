#pragma once

// The bot itself: the on-foot and in-car records it sends to the server, which of the two is
// current, its seat and the vehicle it sits in.

#include <cstdint>

#include "server/shared/SyncRecords.h"
#include "server/shared/VectorMath.h"

namespace velt {

inline constexpr int32_t kNpcNoVehicle = -1;

enum class NpcOwnSyncKind : uint8_t { None = 0, OnFoot = 1, Driver = 2 };

struct NpcOwnState {
    OnFootSyncRecord onFoot;
    InCarSyncRecord inCar;
    NpcOwnSyncKind kind = NpcOwnSyncKind::None;
    uint8_t seat = 0;
    // 16-bit on the wire; -1 while on foot.
    int32_t vehicleId = kNpcNoVehicle;

    // Everything back to the start: records zeroed, on foot without a vehicle, no sync kind.
    void Clear();

    // The position of the current record; false while the bot has no sync kind yet.
    bool GetPosition(Vector3& out) const;
    // Writes into the current record; nothing while the bot has no sync kind.
    void SetPosition(const Vector3& position);
    // Degrees in [0, 360) from the current record's rotation; 0 without a sync kind.
    float GetFacing() const;
    // A rotation about the vertical axis, always into the on-foot record.
    void SetFacing(float degrees);
    // Distance from the own position to the point; 0 without an own position.
    float DistanceTo(const Vector3& point) const;
};

}  // namespace velt
