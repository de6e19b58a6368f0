#pragma once

#include <cstdint>

#include "net/NetworkTypes.h"

namespace velt {

// Message number of the reliability layer: per connection and direction, wraps 65535 -> 0.
using MessageNumberType = uint16_t;
// Position of a message in its ordering or sequencing channel; wraps like message numbers.
using OrderingIndexType = uint16_t;
using SplitPacketIdType = uint16_t;
using SplitPacketIndexType = uint32_t;

// Ordering channel of a split message of no ordered channel while it is reassembled.
inline constexpr uint8_t kSplitReassemblyChannel = 255;

// Payloads up to this size live in the record itself. Most game messages are this small, and a
// payload on the heap would be made on one pass and freed on another, a burst of them each
// time: more than the allocator's per-thread cache holds, so each would take its slow path.
inline constexpr uint32_t kInlinePayloadBytes = 56;

// One message while a reliability channel holds it. Records come from the channel's pool and go
// back to it; the pool does not clear them, so whoever takes one sets every field it relies on.
struct InternalPacket {
    MessageNumberType messageNumber;
    uint32_t sendFrame;       // outgoing datagram that last carried it (for plugins only)
    PacketPriority priority;  // 0..3, selects the send queue
    MessageReliability reliability;
    uint8_t orderingChannel;  // 0..31; kSplitReassemblyChannel while reassembled unordered
    OrderingIndexType orderingIndex;
    SplitPacketIdType splitId;
    SplitPacketIndexType splitIndex;
    SplitPacketIndexType splitCount;  // 0 for a whole message
    uint64_t creationTime;            // GetTimeUs when queued for sending or received
    uint64_t resendTime;              // GetTimeUs of the next resend; 0 once acknowledged
    uint32_t bitLength;               // payload bits
    // Payload: inlineData, or a new uint8_t[] owned by the record unless handed on. Go through
    // the helpers below, which tell the two apart.
    uint8_t* data;
    uint32_t measureEpoch;  // bandwidth measurement number at the last send
    uint8_t inlineData[kInlinePayloadBytes];
};

// Room for a payload of bytes in the record (inline when it fits, else a new uint8_t[]).
inline uint8_t* AllocatePayload(InternalPacket& p, uint32_t bytes) {
    p.data = bytes <= kInlinePayloadBytes ? p.inlineData : new uint8_t[bytes];
    return p.data;
}

// Frees the payload (nothing for an inline one or none) and leaves the record without one.
inline void FreePayload(InternalPacket& p) {
    if (p.data != p.inlineData) delete[] p.data;
    p.data = nullptr;
}

// Hands the payload of bytes on as a new uint8_t[] the caller owns (an inline one is copied)
// and leaves the record without one. Null when there is none.
inline uint8_t* TakePayload(InternalPacket& p, uint32_t bytes) {
    uint8_t* out = p.data;
    if (out != nullptr && out == p.inlineData) {
        out = new uint8_t[bytes != 0 ? bytes : 1];
        for (uint32_t i = 0; i < bytes; ++i) out[i] = p.inlineData[i];
    }
    p.data = nullptr;
    return out;
}

}  // namespace velt
