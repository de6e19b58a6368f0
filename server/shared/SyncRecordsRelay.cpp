#include "server/shared/SyncRecordsRelay.h"

#include "net/BitStream.h"
#include "net/MessageIdentifiers.h"

namespace velt {

namespace {

constexpr uint8_t kCameraWeapon = 43;
constexpr uint16_t kCameraShutterKey = 0x04;

void WriteVector(BitStream& bs, const Vector3& v) {
    bs.Write(v.x);
    bs.Write(v.y);
    bs.Write(v.z);
}

bool ReadVector(BitStream& bs, Vector3& v) { return bs.Read(v.x) && bs.Read(v.y) && bs.Read(v.z); }

bool ReadHeader(BitStream& bs, uint8_t expectedId, uint16_t& playerId) {
    uint8_t id = 0;
    return bs.Read(id) && id == expectedId && bs.Read(playerId);
}

template <class T>
void WriteRawRelay(BitStream& bs, uint8_t id, uint16_t playerId, const T& record) {
    bs.Write(id);
    bs.Write(playerId);
    WriteSyncRecord(bs, record);
}

template <class T>
bool ReadRawRelay(BitStream& bs, uint8_t id, uint16_t& playerId, T& record) {
    uint16_t who = 0;
    T r;
    if (!ReadHeader(bs, id, who) || !ReadSyncRecord(bs, r)) return false;
    playerId = who;
    record = r;
    return true;
}

// A u16 field behind a presence bit that is set when the value is non-zero.
void WriteOptional(BitStream& bs, uint16_t value) {
    bs.Write(value != 0);
    if (value != 0) bs.Write(value);
}

bool ReadOptional(BitStream& bs, uint16_t& value) {
    bool present = false;
    if (!bs.Read(present)) return false;
    value = 0;
    return !present || bs.Read(value);
}

}  // namespace

uint16_t RelayedVehicleHealth(float health) {
    // Comparisons written so that NaN lands on 0; the conversion is then always defined.
    if (!(health > 0.0f)) return 0;
    if (health >= 65535.0f) return 0xFFFF;
    return uint16_t(health);
}

// ---- on foot --------------------------------------------------------------------------------

void WriteOnFootRelay(BitStream& bs, uint16_t playerId, const OnFootSyncRecord& r) {
    bs.Write(uint8_t(ID_PLAYER_SYNC));
    bs.Write(playerId);
    WriteOptional(bs, r.lrKeys);
    WriteOptional(bs, r.udKeys);
    bs.Write(r.keys);
    WriteVector(bs, r.position);
    bs.WriteCompressedQuaternion(r.rotation.w, r.rotation.x, r.rotation.y, r.rotation.z);
    bs.Write(PackHealthArmour(r.health, r.armour));
    bs.Write(uint8_t(r.weaponId & 0x3Fu));
    bs.Write(r.specialAction);
    bs.WriteCompressedVector(r.velocity.x, r.velocity.y, r.velocity.z);
    bs.Write(r.surfingId != 0);
    if (r.surfingId != 0) {
        bs.Write(r.surfingId);
        WriteVector(bs, r.surfingOffset);
    }
    bs.Write(r.animation != 0);
    if (r.animation != 0) bs.Write(r.animation);
}

bool ReadOnFootRelay(BitStream& bs, uint16_t& playerId, OnFootSyncRecord& record) {
    OnFootSyncRecord r;
    uint16_t who = 0;
    uint8_t healthArmour = 0, weapon = 0;
    bool surfing = false, animated = false;
    if (!ReadHeader(bs, ID_PLAYER_SYNC, who) || !ReadOptional(bs, r.lrKeys) || !ReadOptional(bs, r.udKeys) ||
        !bs.Read(r.keys) || !ReadVector(bs, r.position) ||
        !bs.ReadCompressedQuaternion(r.rotation.w, r.rotation.x, r.rotation.y, r.rotation.z) ||
        !bs.Read(healthArmour) || !bs.Read(weapon) || !bs.Read(r.specialAction) ||
        !bs.ReadCompressedVector(r.velocity.x, r.velocity.y, r.velocity.z) || !bs.Read(surfing))
        return false;
    UnpackHealthArmour(healthArmour, r.health, r.armour);
    r.weaponId = uint8_t(weapon & 0x3Fu);
    if (surfing) {
        if (!bs.Read(r.surfingId) || !ReadVector(bs, r.surfingOffset)) return false;
    } else {
        r.surfingId = kNoSyncId;
    }
    if (!bs.Read(animated)) return false;
    if (animated && !bs.Read(r.animation)) return false;
    playerId = who;
    record = r;
    return true;
}

// ---- driver ---------------------------------------------------------------------------------

void WriteDriverRelay(BitStream& bs, uint16_t playerId, const InCarSyncRecord& r) {
    bs.Write(uint8_t(ID_VEHICLE_SYNC));
    bs.Write(playerId);
    bs.Write(r.vehicleId);
    bs.Write(r.lrKeys);
    bs.Write(r.udKeys);
    bs.Write(r.keys);
    bs.WriteCompressedQuaternion(r.rotation.w, r.rotation.x, r.rotation.y, r.rotation.z);
    WriteVector(bs, r.position);
    bs.WriteCompressedVector(r.velocity.x, r.velocity.y, r.velocity.z);
    bs.Write(RelayedVehicleHealth(r.vehicleHealth));
    bs.Write(PackHealthArmour(r.playerHealth, r.armour));
    bs.Write(uint8_t(r.weaponId & 0x3Fu));
    bs.Write(r.sirenState != 0);
    bs.Write(r.landingGearState != 0);
    bs.Write(r.trainSpeed != 0);
    if (r.trainSpeed != 0) bs.Write(r.trainSpeed);
    WriteOptional(bs, r.trailerId);
}

bool ReadDriverRelay(BitStream& bs, uint16_t& playerId, InCarSyncRecord& record) {
    InCarSyncRecord r;
    uint16_t who = 0, health = 0;
    uint8_t healthArmour = 0, weapon = 0;
    bool siren = false, gear = false, train = false;
    if (!ReadHeader(bs, ID_VEHICLE_SYNC, who) || !bs.Read(r.vehicleId) || !bs.Read(r.lrKeys) ||
        !bs.Read(r.udKeys) || !bs.Read(r.keys) ||
        !bs.ReadCompressedQuaternion(r.rotation.w, r.rotation.x, r.rotation.y, r.rotation.z) ||
        !ReadVector(bs, r.position) || !bs.ReadCompressedVector(r.velocity.x, r.velocity.y, r.velocity.z) ||
        !bs.Read(health) || !bs.Read(healthArmour) || !bs.Read(weapon) || !bs.Read(siren) || !bs.Read(gear) ||
        !bs.Read(train))
        return false;
    if (train && !bs.Read(r.trainSpeed)) return false;
    if (!ReadOptional(bs, r.trailerId)) return false;
    r.vehicleHealth = float(health);
    UnpackHealthArmour(healthArmour, r.playerHealth, r.armour);
    r.weaponId = uint8_t(weapon & 0x3Fu);
    r.sirenState = siren ? 1 : 0;
    r.landingGearState = gear ? 1 : 0;
    playerId = who;
    record = r;
    return true;
}

// ---- raw forms ------------------------------------------------------------------------------

void WritePassengerRelay(BitStream& bs, uint16_t playerId, const PassengerSyncRecord& record) {
    PassengerSyncRecord copy = record;
    if (copy.weaponId == kCameraWeapon) copy.keys = uint16_t(copy.keys & ~kCameraShutterKey);
    WriteRawRelay(bs, ID_PASSENGER_SYNC, playerId, copy);
}

void WriteAimRelay(BitStream& bs, uint16_t playerId, const AimSyncRecord& record) {
    WriteRawRelay(bs, ID_AIM_SYNC, playerId, record);
}

void WriteTrailerRelay(BitStream& bs, uint16_t playerId, const TrailerSyncRecord& record) {
    WriteRawRelay(bs, ID_TRAILER_SYNC, playerId, record);
}

void WriteUnoccupiedRelay(BitStream& bs, uint16_t playerId, const UnoccupiedSyncRecord& record) {
    WriteRawRelay(bs, ID_UNOCCUPIED_SYNC, playerId, record);
}

void WriteBulletRelay(BitStream& bs, uint16_t shooterId, const BulletSyncRecord& record) {
    WriteRawRelay(bs, ID_BULLET_SYNC, shooterId, record);
}

bool ReadPassengerRelay(BitStream& bs, uint16_t& playerId, PassengerSyncRecord& record) {
    return ReadRawRelay(bs, ID_PASSENGER_SYNC, playerId, record);
}

bool ReadAimRelay(BitStream& bs, uint16_t& playerId, AimSyncRecord& record) {
    return ReadRawRelay(bs, ID_AIM_SYNC, playerId, record);
}

bool ReadTrailerRelay(BitStream& bs, uint16_t& playerId, TrailerSyncRecord& record) {
    return ReadRawRelay(bs, ID_TRAILER_SYNC, playerId, record);
}

bool ReadUnoccupiedRelay(BitStream& bs, uint16_t& playerId, UnoccupiedSyncRecord& record) {
    return ReadRawRelay(bs, ID_UNOCCUPIED_SYNC, playerId, record);
}

bool ReadBulletRelay(BitStream& bs, uint16_t& shooterId, BulletSyncRecord& record) {
    return ReadRawRelay(bs, ID_BULLET_SYNC, shooterId, record);
}

}  // namespace velt
