#pragma once

// The fixed-size state records every client reports many times a second, shared by the server,
// the bot program and the recording files. The structs hold natural types; the bytes on the wire
// and in files come only from the Encode/Decode functions below, which write each field at its
// offset, little-endian, with no gaps. Nothing here copies a struct's memory.
//
// Packed bytes: where one wire byte carries two values (weapon id and two key bits, seat and two
// carried bits, camera zoom and weapon state), the struct splits them; Encode puts back the low
// six bits of the first and the low two bits of the second, so every byte round-trips exactly.
//
// Inbound, a record follows its one-byte message id raw. The relayed forms the server sends on
// live in SyncRecordsRelay.h.

#include <array>
#include <cstddef>
#include <cstdint>

#include "server/shared/VectorMath.h"

namespace velt {

class BitStream;

inline constexpr uint16_t kNoSyncId = 0xFFFF;

struct OnFootSyncRecord {
    static constexpr size_t kSize = 68;
    uint16_t lrKeys = 0;
    uint16_t udKeys = 0;
    uint16_t keys = 0;
    Vector3 position;
    Quaternion rotation;  // w, x, y, z
    uint8_t health = 0;
    uint8_t armour = 0;
    uint8_t weaponId = 0;        // bits 0-5 of byte 36
    uint8_t additionalKeys = 0;  // bits 6-7 of byte 36
    uint8_t specialAction = 0;
    Vector3 velocity;
    Vector3 surfingOffset;
    // 0 or 0xFFFF none, 1..1999 a vehicle, 2000..3999 a global object (object id + 2000).
    uint16_t surfingId = 0;
    int32_t animation = 0;  // low 16 bits, signed, are the animation index
};

struct InCarSyncRecord {
    static constexpr size_t kSize = 63;
    uint16_t vehicleId = 0;
    uint16_t lrKeys = 0;
    uint16_t udKeys = 0;
    uint16_t keys = 0;
    Quaternion rotation;
    Vector3 position;
    Vector3 velocity;
    float vehicleHealth = 0.0f;
    uint8_t playerHealth = 0;
    uint8_t armour = 0;
    uint8_t weaponId = 0;        // bits 0-5 of byte 54
    uint8_t additionalKeys = 0;  // bits 6-7 of byte 54
    uint8_t sirenState = 0;
    uint8_t landingGearState = 0;
    uint16_t trailerId = 0;  // 0 none
    uint32_t trainSpeed = 0;
};

struct PassengerSyncRecord {
    static constexpr size_t kSize = 24;
    uint16_t vehicleId = 0;
    uint8_t seat = 0;            // bits 0-5 of byte 2
    uint8_t seatFlags = 0;       // bits 6-7 of byte 2, carried unchanged
    uint8_t weaponId = 0;        // bits 0-5 of byte 3
    uint8_t additionalKeys = 0;  // bits 6-7 of byte 3
    uint8_t health = 0;
    uint8_t armour = 0;
    uint16_t lrKeys = 0;
    uint16_t udKeys = 0;
    uint16_t keys = 0;
    Vector3 position;
};

struct AimSyncRecord {
    static constexpr size_t kSize = 31;
    uint8_t cameraMode = 0;
    Vector3 cameraFront;
    Vector3 cameraPosition;
    float aimZ = 0.0f;
    uint8_t cameraZoom = 0;   // bits 0-5 of byte 29
    uint8_t weaponState = 0;  // bits 6-7 of byte 29
    uint8_t aspectRatio = 0;
};

struct TrailerSyncRecord {
    static constexpr size_t kSize = 54;
    uint16_t trailerId = 0;
    Vector3 position;
    std::array<uint8_t, 16> opaque14{};  // bytes 14-29, relayed unchanged
    Vector3 velocity;
    std::array<uint8_t, 12> opaque42{};  // bytes 42-53, relayed unchanged
};

struct UnoccupiedSyncRecord {
    static constexpr size_t kSize = 67;
    uint16_t vehicleId = 0;
    uint8_t seat = 0;  // 0: the sender is not a passenger of it
    Vector3 right;     // first rotation row
    Vector3 up;        // second rotation row
    Vector3 position;
    Vector3 velocity;
    std::array<uint8_t, 12> opaque51{};  // bytes 51-62, relayed unchanged
    float vehicleHealth = 0.0f;
};

struct SpectatorSyncRecord {
    static constexpr size_t kSize = 18;
    uint16_t lrKeys = 0;
    uint16_t udKeys = 0;
    uint16_t keys = 0;
    Vector3 position;
};

enum BulletHitType : uint8_t {
    BULLET_HIT_NONE = 0,
    BULLET_HIT_PLAYER = 1,
    BULLET_HIT_VEHICLE = 2,
    BULLET_HIT_OBJECT = 3,
    BULLET_HIT_PLAYER_OBJECT = 4,
};

struct BulletSyncRecord {
    static constexpr size_t kSize = 40;
    uint8_t hitType = 0;
    uint16_t hitId = 0;
    Vector3 origin;
    Vector3 hitPosition;
    Vector3 offset;
    uint8_t weaponId = 0;
};

// Weapon slots 0..12 a client reports; an entry for a higher slot is skipped.
inline constexpr int kWeaponSlots = 13;

// What one weapons update says. Entries are applied in order, so a slot named twice keeps the
// later entry; `present` tells which slots the update named at all.
struct WeaponsUpdateRecord {
    uint16_t targetPlayerId = 0;
    uint16_t targetActorId = 0;
    std::array<bool, kWeaponSlots> present{};
    std::array<uint8_t, kWeaponSlots> weaponId{};
    std::array<uint16_t, kWeaponSlots> ammo{};
};

struct StatsUpdateRecord {
    static constexpr size_t kSize = 8;
    int32_t money = 0;
    int32_t drunkLevel = 0;
};

// ---- raw bytes ------------------------------------------------------------------------------
// Encode writes exactly T::kSize bytes to out. Decode reads exactly T::kSize bytes from in.
void Encode(const OnFootSyncRecord& record, uint8_t* out);
void Encode(const InCarSyncRecord& record, uint8_t* out);
void Encode(const PassengerSyncRecord& record, uint8_t* out);
void Encode(const AimSyncRecord& record, uint8_t* out);
void Encode(const TrailerSyncRecord& record, uint8_t* out);
void Encode(const UnoccupiedSyncRecord& record, uint8_t* out);
void Encode(const SpectatorSyncRecord& record, uint8_t* out);
void Encode(const BulletSyncRecord& record, uint8_t* out);
void Encode(const StatsUpdateRecord& record, uint8_t* out);

void Decode(const uint8_t* in, OnFootSyncRecord& record);
void Decode(const uint8_t* in, InCarSyncRecord& record);
void Decode(const uint8_t* in, PassengerSyncRecord& record);
void Decode(const uint8_t* in, AimSyncRecord& record);
void Decode(const uint8_t* in, TrailerSyncRecord& record);
void Decode(const uint8_t* in, UnoccupiedSyncRecord& record);
void Decode(const uint8_t* in, SpectatorSyncRecord& record);
void Decode(const uint8_t* in, BulletSyncRecord& record);
void Decode(const uint8_t* in, StatsUpdateRecord& record);

// Bounds-checked decode of a received buffer: false (record untouched) when fewer than T::kSize
// bytes are given. Bytes beyond the record are ignored.
template <class T>
[[nodiscard]] bool DecodeChecked(const uint8_t* in, size_t length, T& record) {
    if (in == nullptr || length < T::kSize) return false;
    Decode(in, record);
    return true;
}

// A record's bytes from the read cursor on (the message id already read). Fails, with the
// cursor and the record untouched, when the stream holds fewer than T::kSize bytes.
[[nodiscard]] bool ReadSyncRecord(BitStream& bs, OnFootSyncRecord& record);
[[nodiscard]] bool ReadSyncRecord(BitStream& bs, InCarSyncRecord& record);
[[nodiscard]] bool ReadSyncRecord(BitStream& bs, PassengerSyncRecord& record);
[[nodiscard]] bool ReadSyncRecord(BitStream& bs, AimSyncRecord& record);
[[nodiscard]] bool ReadSyncRecord(BitStream& bs, TrailerSyncRecord& record);
[[nodiscard]] bool ReadSyncRecord(BitStream& bs, UnoccupiedSyncRecord& record);
[[nodiscard]] bool ReadSyncRecord(BitStream& bs, SpectatorSyncRecord& record);
[[nodiscard]] bool ReadSyncRecord(BitStream& bs, BulletSyncRecord& record);
[[nodiscard]] bool ReadSyncRecord(BitStream& bs, StatsUpdateRecord& record);

void WriteSyncRecord(BitStream& bs, const OnFootSyncRecord& record);
void WriteSyncRecord(BitStream& bs, const InCarSyncRecord& record);
void WriteSyncRecord(BitStream& bs, const PassengerSyncRecord& record);
void WriteSyncRecord(BitStream& bs, const AimSyncRecord& record);
void WriteSyncRecord(BitStream& bs, const TrailerSyncRecord& record);
void WriteSyncRecord(BitStream& bs, const UnoccupiedSyncRecord& record);
void WriteSyncRecord(BitStream& bs, const SpectatorSyncRecord& record);
void WriteSyncRecord(BitStream& bs, const BulletSyncRecord& record);
void WriteSyncRecord(BitStream& bs, const StatsUpdateRecord& record);

// The rest of a weapons update after its id byte: two u16 target ids, then {u8 slot, u8 weapon,
// u16 ammo} entries up to the end of the stream. Only whole entries count: trailing bytes too
// few for one are ignored. Fails only when the two target ids are not there.
[[nodiscard]] bool ReadWeaponsUpdate(BitStream& bs, WeaponsUpdateRecord& record);

// ---- derived values -------------------------------------------------------------------------

// The player's key state: the 16 key bits plus the two extra bits of the weapon byte, which
// fold into 0x10000 (01), 0x20000 (10) or 0x40000 (11).
uint32_t KeyStateOf(uint16_t keys, uint8_t additionalKeys);

// The relayed health-armour byte: health in the high nibble, armour in the low one; each is
// value / 7 for 1..99, 15 for 100 and above, 0 for 0.
uint8_t PackHealthArmour(uint8_t health, uint8_t armour);
// A nibble n reads back as 100 for 15, n x 7 for 1..14, 0 for 0.
void UnpackHealthArmour(uint8_t packed, uint8_t& health, uint8_t& armour);

// Camera zoom in degrees: bits / 63 x 35 + 35.
float AimCameraZoom(const AimSyncRecord& record);
// byte / 255 + 1.0.
float AimAspectRatio(const AimSyncRecord& record);

// Signed animation index from the low 16 bits of the animation word.
inline int16_t AnimationIndex(const OnFootSyncRecord& record) {
    return int16_t(uint16_t(uint32_t(record.animation) & 0xFFFFu));
}

}  // namespace velt
