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

// One message while a reliability channel holds it. Records come from the channel's pool and go
// back to it; the pool does not clear them, so whoever takes one sets every field it relies on.
struct InternalPacket {
    MessageNumberType messageNumber;
    uint32_t sendFrame;            // outgoing datagram that last carried it (for plugins only)
    PacketPriority priority;       // 0..3, selects the send queue
    MessageReliability reliability;
    uint8_t orderingChannel;       // 0..31; kSplitReassemblyChannel while reassembled unordered
    OrderingIndexType orderingIndex;
    SplitPacketIdType splitId;
    SplitPacketIndexType splitIndex;
    SplitPacketIndexType splitCount;  // 0 for a whole message
    uint64_t creationTime;         // GetTimeUs when queued for sending or received
    uint64_t resendTime;           // GetTimeUs of the next resend; 0 once acknowledged
    uint32_t bitLength;            // payload bits
    uint8_t* data;                 // payload (new uint8_t[]), owned by the record unless handed on
    uint32_t measureEpoch;         // bandwidth measurement number at the last send
};

}  // namespace velt
