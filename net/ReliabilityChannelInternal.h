#pragma once
// Pieces of ReliabilityChannel shared by its two source files; not part of its interface.

#include <cstdint>
#include <map>

#include "net/InternalPacket.h"
#include "net/List.h"
#include "net/ReliabilityChannel.h"

namespace velt {

// Pieces of one split message received so far, sorted by piece index.
struct ReliabilityChannel::SplitChannel {
    SplitPacketIdType id = 0;
    uint32_t count = 0;     // piece count every piece of this id must announce
    uint64_t lastTime = 0;  // arrival of the newest piece
    uint32_t bytes = 0;     // what the pieces cost against the reassembly cap
    DataStructures::List<InternalPacket*> pieces;
};

// Ordered messages waiting for their turn, keyed by unwrapped channel position, so the next
// one due is always the first entry: delivering never rescans what is held.
struct ReliabilityChannel::HeldChannel {
    std::map<uint64_t, InternalPacket*> messages;
};

inline bool IsReliableKind(MessageReliability r) {
    return r == RELIABILITY_RELIABLE || r == RELIABILITY_RELIABLE_ORDERED ||
           r == RELIABILITY_RELIABLE_SEQUENCED;
}
inline bool IsSequencedKind(MessageReliability r) {
    return r == RELIABILITY_UNRELIABLE_SEQUENCED || r == RELIABILITY_RELIABLE_SEQUENCED;
}
inline bool IsUnreliableKind(MessageReliability r) {
    return r == RELIABILITY_UNRELIABLE || r == RELIABILITY_UNRELIABLE_SEQUENCED;
}
inline uint32_t PayloadBytes(uint32_t bits) { return uint32_t((uint64_t(bits) + 7) / 8); }

// What one held or reassembling message costs against its cap besides its payload: the record
// and the container entry that points at it.
inline constexpr uint32_t kHeldMessageOverheadBytes = uint32_t(sizeof(InternalPacket)) + 64;

}  // namespace velt
