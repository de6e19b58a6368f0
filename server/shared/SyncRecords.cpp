#include "server/shared/SyncRecords.h"

#include "common/LittleEndian.h"
#include "net/BitStream.h"

namespace velt {

namespace {

// Field-by-field little-endian cursor over a record buffer whose size the caller has checked.
class ByteWriter {
public:
    explicit ByteWriter(uint8_t* out) : p_(out) {}
    void U8(uint8_t v) { *p_++ = v; }
    void U16(uint16_t v) {
        WriteU16(p_, v);
        p_ += 2;
    }
    void U32(uint32_t v) {
        WriteU32(p_, v);
        p_ += 4;
    }
    void F32(float v) {
        WriteF32(p_, v);
        p_ += 4;
    }
    void Vec(const Vector3& v) {
        F32(v.x);
        F32(v.y);
        F32(v.z);
    }
    void Quat(const Quaternion& q) {
        F32(q.w);
        F32(q.x);
        F32(q.y);
        F32(q.z);
    }
    // Six low bits of one value, two high bits of the other.
    void Split(uint8_t low6, uint8_t high2) { U8(uint8_t((low6 & 0x3Fu) | ((high2 & 0x03u) << 6))); }
    template <size_t N>
    void Bytes(const std::array<uint8_t, N>& a) {
        for (uint8_t b : a) U8(b);
    }

private:
    uint8_t* p_;
};

class ByteReader {
public:
    explicit ByteReader(const uint8_t* in) : p_(in) {}
    uint8_t U8() { return *p_++; }
    uint16_t U16() {
        const uint16_t v = ReadU16(p_);
        p_ += 2;
        return v;
    }
    uint32_t U32() {
        const uint32_t v = ReadU32(p_);
        p_ += 4;
        return v;
    }
    float F32() {
        const float v = ReadF32(p_);
        p_ += 4;
        return v;
    }
    Vector3 Vec() {
        Vector3 v;
        v.x = F32();
        v.y = F32();
        v.z = F32();
        return v;
    }
    Quaternion Quat() {
        Quaternion q;
        q.w = F32();
        q.x = F32();
        q.y = F32();
        q.z = F32();
        return q;
    }
    void Split(uint8_t& low6, uint8_t& high2) {
        uint8_t b = U8();
        low6 = uint8_t(b & 0x3Fu);
        high2 = uint8_t(b >> 6);
    }
    template <size_t N>
    void Bytes(std::array<uint8_t, N>& a) {
        for (uint8_t& b : a) b = U8();
    }

private:
    const uint8_t* p_;
};

template <class T>
bool ReadRecordBytes(BitStream& bs, T& record) {
    uint8_t bytes[T::kSize];
    if (!bs.ReadBytes(bytes, int32_t(T::kSize))) return false;
    Decode(bytes, record);
    return true;
}

template <class T>
void WriteRecordBytes(BitStream& bs, const T& record) {
    uint8_t bytes[T::kSize];
    Encode(record, bytes);
    bs.WriteBytes(bytes, int32_t(T::kSize));
}

uint8_t HealthNibble(uint8_t value) {
    if (value == 0) return 0;
    if (value >= 100) return 15;
    return uint8_t(value / 7);
}

uint8_t NibbleValue(uint8_t nibble) {
    if (nibble == 15) return 100;
    return uint8_t(nibble * 7);
}

}  // namespace

// ---- encode ---------------------------------------------------------------------------------

void Encode(const OnFootSyncRecord& r, uint8_t* out) {
    ByteWriter w(out);
    w.U16(r.lrKeys);
    w.U16(r.udKeys);
    w.U16(r.keys);
    w.Vec(r.position);
    w.Quat(r.rotation);
    w.U8(r.health);
    w.U8(r.armour);
    w.Split(r.weaponId, r.additionalKeys);
    w.U8(r.specialAction);
    w.Vec(r.velocity);
    w.Vec(r.surfingOffset);
    w.U16(r.surfingId);
    w.U32(uint32_t(r.animation));
}

void Encode(const InCarSyncRecord& r, uint8_t* out) {
    ByteWriter w(out);
    w.U16(r.vehicleId);
    w.U16(r.lrKeys);
    w.U16(r.udKeys);
    w.U16(r.keys);
    w.Quat(r.rotation);
    w.Vec(r.position);
    w.Vec(r.velocity);
    w.F32(r.vehicleHealth);
    w.U8(r.playerHealth);
    w.U8(r.armour);
    w.Split(r.weaponId, r.additionalKeys);
    w.U8(r.sirenState);
    w.U8(r.landingGearState);
    w.U16(r.trailerId);
    w.U32(r.trainSpeed);
}

void Encode(const PassengerSyncRecord& r, uint8_t* out) {
    ByteWriter w(out);
    w.U16(r.vehicleId);
    w.Split(r.seat, r.seatFlags);
    w.Split(r.weaponId, r.additionalKeys);
    w.U8(r.health);
    w.U8(r.armour);
    w.U16(r.lrKeys);
    w.U16(r.udKeys);
    w.U16(r.keys);
    w.Vec(r.position);
}

void Encode(const AimSyncRecord& r, uint8_t* out) {
    ByteWriter w(out);
    w.U8(r.cameraMode);
    w.Vec(r.cameraFront);
    w.Vec(r.cameraPosition);
    w.F32(r.aimZ);
    w.Split(r.cameraZoom, r.weaponState);
    w.U8(r.aspectRatio);
}

void Encode(const TrailerSyncRecord& r, uint8_t* out) {
    ByteWriter w(out);
    w.U16(r.trailerId);
    w.Vec(r.position);
    w.Bytes(r.opaque14);
    w.Vec(r.velocity);
    w.Bytes(r.opaque42);
}

void Encode(const UnoccupiedSyncRecord& r, uint8_t* out) {
    ByteWriter w(out);
    w.U16(r.vehicleId);
    w.U8(r.seat);
    w.Vec(r.right);
    w.Vec(r.up);
    w.Vec(r.position);
    w.Vec(r.velocity);
    w.Bytes(r.opaque51);
    w.F32(r.vehicleHealth);
}

void Encode(const SpectatorSyncRecord& r, uint8_t* out) {
    ByteWriter w(out);
    w.U16(r.lrKeys);
    w.U16(r.udKeys);
    w.U16(r.keys);
    w.Vec(r.position);
}

void Encode(const BulletSyncRecord& r, uint8_t* out) {
    ByteWriter w(out);
    w.U8(r.hitType);
    w.U16(r.hitId);
    w.Vec(r.origin);
    w.Vec(r.hitPosition);
    w.Vec(r.offset);
    w.U8(r.weaponId);
}

void Encode(const StatsUpdateRecord& r, uint8_t* out) {
    ByteWriter w(out);
    w.U32(uint32_t(r.money));
    w.U32(uint32_t(r.drunkLevel));
}

// ---- decode ---------------------------------------------------------------------------------

void Decode(const uint8_t* in, OnFootSyncRecord& r) {
    ByteReader b(in);
    r.lrKeys = b.U16();
    r.udKeys = b.U16();
    r.keys = b.U16();
    r.position = b.Vec();
    r.rotation = b.Quat();
    r.health = b.U8();
    r.armour = b.U8();
    b.Split(r.weaponId, r.additionalKeys);
    r.specialAction = b.U8();
    r.velocity = b.Vec();
    r.surfingOffset = b.Vec();
    r.surfingId = b.U16();
    r.animation = int32_t(b.U32());
}

void Decode(const uint8_t* in, InCarSyncRecord& r) {
    ByteReader b(in);
    r.vehicleId = b.U16();
    r.lrKeys = b.U16();
    r.udKeys = b.U16();
    r.keys = b.U16();
    r.rotation = b.Quat();
    r.position = b.Vec();
    r.velocity = b.Vec();
    r.vehicleHealth = b.F32();
    r.playerHealth = b.U8();
    r.armour = b.U8();
    b.Split(r.weaponId, r.additionalKeys);
    r.sirenState = b.U8();
    r.landingGearState = b.U8();
    r.trailerId = b.U16();
    r.trainSpeed = b.U32();
}

void Decode(const uint8_t* in, PassengerSyncRecord& r) {
    ByteReader b(in);
    r.vehicleId = b.U16();
    b.Split(r.seat, r.seatFlags);
    b.Split(r.weaponId, r.additionalKeys);
    r.health = b.U8();
    r.armour = b.U8();
    r.lrKeys = b.U16();
    r.udKeys = b.U16();
    r.keys = b.U16();
    r.position = b.Vec();
}

void Decode(const uint8_t* in, AimSyncRecord& r) {
    ByteReader b(in);
    r.cameraMode = b.U8();
    r.cameraFront = b.Vec();
    r.cameraPosition = b.Vec();
    r.aimZ = b.F32();
    b.Split(r.cameraZoom, r.weaponState);
    r.aspectRatio = b.U8();
}

void Decode(const uint8_t* in, TrailerSyncRecord& r) {
    ByteReader b(in);
    r.trailerId = b.U16();
    r.position = b.Vec();
    b.Bytes(r.opaque14);
    r.velocity = b.Vec();
    b.Bytes(r.opaque42);
}

void Decode(const uint8_t* in, UnoccupiedSyncRecord& r) {
    ByteReader b(in);
    r.vehicleId = b.U16();
    r.seat = b.U8();
    r.right = b.Vec();
    r.up = b.Vec();
    r.position = b.Vec();
    r.velocity = b.Vec();
    b.Bytes(r.opaque51);
    r.vehicleHealth = b.F32();
}

void Decode(const uint8_t* in, SpectatorSyncRecord& r) {
    ByteReader b(in);
    r.lrKeys = b.U16();
    r.udKeys = b.U16();
    r.keys = b.U16();
    r.position = b.Vec();
}

void Decode(const uint8_t* in, BulletSyncRecord& r) {
    ByteReader b(in);
    r.hitType = b.U8();
    r.hitId = b.U16();
    r.origin = b.Vec();
    r.hitPosition = b.Vec();
    r.offset = b.Vec();
    r.weaponId = b.U8();
}

void Decode(const uint8_t* in, StatsUpdateRecord& r) {
    ByteReader b(in);
    r.money = int32_t(b.U32());
    r.drunkLevel = int32_t(b.U32());
}

// ---- bit streams ----------------------------------------------------------------------------

bool ReadSyncRecord(BitStream& bs, OnFootSyncRecord& r) { return ReadRecordBytes(bs, r); }
bool ReadSyncRecord(BitStream& bs, InCarSyncRecord& r) { return ReadRecordBytes(bs, r); }
bool ReadSyncRecord(BitStream& bs, PassengerSyncRecord& r) { return ReadRecordBytes(bs, r); }
bool ReadSyncRecord(BitStream& bs, AimSyncRecord& r) { return ReadRecordBytes(bs, r); }
bool ReadSyncRecord(BitStream& bs, TrailerSyncRecord& r) { return ReadRecordBytes(bs, r); }
bool ReadSyncRecord(BitStream& bs, UnoccupiedSyncRecord& r) { return ReadRecordBytes(bs, r); }
bool ReadSyncRecord(BitStream& bs, SpectatorSyncRecord& r) { return ReadRecordBytes(bs, r); }
bool ReadSyncRecord(BitStream& bs, BulletSyncRecord& r) { return ReadRecordBytes(bs, r); }
bool ReadSyncRecord(BitStream& bs, StatsUpdateRecord& r) { return ReadRecordBytes(bs, r); }

void WriteSyncRecord(BitStream& bs, const OnFootSyncRecord& r) { WriteRecordBytes(bs, r); }
void WriteSyncRecord(BitStream& bs, const InCarSyncRecord& r) { WriteRecordBytes(bs, r); }
void WriteSyncRecord(BitStream& bs, const PassengerSyncRecord& r) { WriteRecordBytes(bs, r); }
void WriteSyncRecord(BitStream& bs, const AimSyncRecord& r) { WriteRecordBytes(bs, r); }
void WriteSyncRecord(BitStream& bs, const TrailerSyncRecord& r) { WriteRecordBytes(bs, r); }
void WriteSyncRecord(BitStream& bs, const UnoccupiedSyncRecord& r) { WriteRecordBytes(bs, r); }
void WriteSyncRecord(BitStream& bs, const SpectatorSyncRecord& r) { WriteRecordBytes(bs, r); }
void WriteSyncRecord(BitStream& bs, const BulletSyncRecord& r) { WriteRecordBytes(bs, r); }
void WriteSyncRecord(BitStream& bs, const StatsUpdateRecord& r) { WriteRecordBytes(bs, r); }

bool ReadWeaponsUpdate(BitStream& bs, WeaponsUpdateRecord& record) {
    uint8_t head[4];
    if (!bs.ReadBytes(head, 4)) return false;
    WeaponsUpdateRecord r;
    r.targetPlayerId = ReadU16(head);
    r.targetActorId = ReadU16(head + 2);
    // Counting entries from the bytes actually left (not from the packet length) keeps a
    // trailing fragment from being read as an entry past the end of the message.
    uint8_t entry[4];
    while (bs.GetNumberOfUnreadBits() >= 32) {
        if (!bs.ReadBytes(entry, 4)) break;
        const uint8_t slot = entry[0];
        if (slot >= kWeaponSlots) continue;
        r.present[slot] = true;
        r.weaponId[slot] = entry[1];
        r.ammo[slot] = ReadU16(entry + 2);
    }
    record = r;
    return true;
}

// ---- derived values -------------------------------------------------------------------------

uint32_t KeyStateOf(uint16_t keys, uint8_t additionalKeys) {
    static constexpr uint32_t kExtra[4] = {0, 0x10000u, 0x20000u, 0x40000u};
    return uint32_t(keys) + kExtra[additionalKeys & 0x03u];
}

uint8_t PackHealthArmour(uint8_t health, uint8_t armour) {
    return uint8_t(HealthNibble(health) << 4 | HealthNibble(armour));
}

void UnpackHealthArmour(uint8_t packed, uint8_t& health, uint8_t& armour) {
    health = NibbleValue(uint8_t(packed >> 4));
    armour = NibbleValue(uint8_t(packed & 0x0Fu));
}

float AimCameraZoom(const AimSyncRecord& record) {
    return float(record.cameraZoom & 0x3Fu) / 63.0f * 35.0f + 35.0f;
}

float AimAspectRatio(const AimSyncRecord& record) { return float(record.aspectRatio) / 255.0f + 1.0f; }

}  // namespace velt
