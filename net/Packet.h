#pragma once

#include <cstdint>

#include "net/PlayerID.h"

namespace velt {

// One received message as handed to the user. A Packet from the peer's receive call belongs to
// the caller until it gives it back to the peer's free operation.
struct Packet {
    uint16_t playerIndex;  // connection slot of the sender; 0xFFFF without a connection
    PlayerID sender;
    uint32_t length;     // bytes
    uint32_t bitLength;  // bits
    uint8_t* data;       // starts with the identifier byte (or the timestamp prefix)
    uint8_t ownsData;    // 1: data is a separate block freed with the Packet
};

// Largest length a Packet can describe: its bit length must fit in 32 bits.
inline constexpr uint32_t kMaxPacketLength = 0x1FFFFFFFu;

// Header and length data bytes in one block; data points just behind the header, ownsData 0.
// playerIndex 0xFFFF, sender UNASSIGNED_PLAYER_ID, bitLength = length x 8 (callers may narrow
// it). Null when length exceeds kMaxPacketLength or memory runs out.
Packet* NewPacket(uint32_t length);

// Header alone, taking over buffer (which must come from new uint8_t[]; ownsData 1). A zero length
// or a null buffer gives a Packet with length 0, no data and ownsData 0; the buffer then stays the
// caller's. Null (buffer still the caller's) when length exceeds kMaxPacketLength or memory runs
// out.
Packet* NewPacket(uint32_t length, uint8_t* buffer);

// Frees data when the Packet owns it, then the Packet. Null is ignored.
void FreePacket(Packet* packet);

// Timestamp prefix: [ID_TIMESTAMPED][u32 sender ms][real id ...].
inline constexpr uint32_t kTimestampPrefixBytes = 5;

// True when the message starts with the timestamp prefix and is long enough to hold its time
// (the receiving peer rewrites that time in place into its own clock).
bool HasTimestampPrefix(const uint8_t* data, uint32_t length);

// The real identifier of a message: byte 5 after a timestamp prefix, else byte 0. 0xFF when the
// message is empty or too short to hold the identifier its prefix promises.
uint8_t GetPacketIdentifier(const uint8_t* data, uint32_t length);
uint8_t GetPacketIdentifier(const Packet* packet);

}  // namespace velt
