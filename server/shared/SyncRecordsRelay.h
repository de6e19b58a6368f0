#pragma once

// The forms in which the server passes a player's records on to the players streaming him.
// Each writer appends the whole message, id byte first, to a stream; each reader takes a stream
// whose read cursor sits on the id byte, checks the id and fills a record (the bot program's
// side). A reader that fails leaves the record untouched; its cursor is then unspecified and the
// message is to be dropped.
//
// On foot (207) and driver (200) are bit-packed: optional parts behind a presence bit, rotation
// and velocity compressed, health and armour in one byte. They are lossy, so a reader gives back
// what the client would see, not the record that was sent. The other forms carry the record raw.

#include <cstdint>

#include "server/shared/SyncRecords.h"

namespace velt {

class BitStream;

// Health and armour travel in one byte; rotation as 52 bits; velocity as magnitude + unit vector.
// A zero axis key, surfing id or animation word costs a single bit.
void WriteOnFootRelay(BitStream& bs, uint16_t playerId, const OnFootSyncRecord& record);
// Vehicle health goes out as an unsigned 16-bit integer truncated toward zero; values below 0
// (and NaN) give 0, values above 65535 give 65535.
void WriteDriverRelay(BitStream& bs, uint16_t playerId, const InCarSyncRecord& record);
// While the passenger's weapon is 43 (the camera), key bit 0x04 is cleared in the copy sent, so
// others do not see its shutter as a shot; the stored record keeps it.
void WritePassengerRelay(BitStream& bs, uint16_t playerId, const PassengerSyncRecord& record);
void WriteAimRelay(BitStream& bs, uint16_t playerId, const AimSyncRecord& record);
void WriteTrailerRelay(BitStream& bs, uint16_t playerId, const TrailerSyncRecord& record);
void WriteUnoccupiedRelay(BitStream& bs, uint16_t playerId, const UnoccupiedSyncRecord& record);
void WriteBulletRelay(BitStream& bs, uint16_t shooterId, const BulletSyncRecord& record);

// The record is rebuilt from zero: health and armour from their nibbles, the weapon byte's extra
// key bits 0, a missing surfing part as surfing id 0xFFFF with a zero offset.
[[nodiscard]] bool ReadOnFootRelay(BitStream& bs, uint16_t& playerId, OnFootSyncRecord& record);
// Siren and landing gear come back as 0 or 1, the vehicle health as the whole number sent.
[[nodiscard]] bool ReadDriverRelay(BitStream& bs, uint16_t& playerId, InCarSyncRecord& record);
[[nodiscard]] bool ReadPassengerRelay(BitStream& bs, uint16_t& playerId, PassengerSyncRecord& record);
[[nodiscard]] bool ReadAimRelay(BitStream& bs, uint16_t& playerId, AimSyncRecord& record);
[[nodiscard]] bool ReadTrailerRelay(BitStream& bs, uint16_t& playerId, TrailerSyncRecord& record);
[[nodiscard]] bool ReadUnoccupiedRelay(BitStream& bs, uint16_t& playerId, UnoccupiedSyncRecord& record);
[[nodiscard]] bool ReadBulletRelay(BitStream& bs, uint16_t& shooterId, BulletSyncRecord& record);

// The relayed vehicle health (see WriteDriverRelay).
uint16_t RelayedVehicleHealth(float health);

}  // namespace velt
