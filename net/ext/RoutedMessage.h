#pragma once
// A message carried along a tree of connections to systems the sender has no connection to:
//   [optional 40][u32 time] 68, compressed u8 priority, reliability and ordering channel, u32
//   payload bit length L, padding to a byte, L payload bits, the source address (u32, u16),
//   then the receiving hop's subtree in preorder: per node a recipient bit, u32 address,
//   u16 port and a compressed u16 child count.
// The reader takes untrusted bytes and checks the whole message before anything acts on it.

#include <cstdint>
#include <vector>

#include "net/BitStream.h"
#include "net/NetworkTypes.h"
#include "net/PlayerID.h"

namespace velt {

inline constexpr uint8_t ID_ROUTED = 68;

struct RoutedNode {
    bool recipient = false;
    PlayerID address = UNASSIGNED_PLAYER_ID;
    uint16_t childCount = 0;
};

struct RoutedMessage {
    bool timestamped = false;
    uint32_t time = 0;
    PacketPriority priority = HIGH_PRIORITY_LEVEL;
    MessageReliability reliability = RELIABILITY_RELIABLE;
    uint8_t orderingChannel = 0;
    uint32_t payloadBits = 0;
    uint32_t payloadByteOffset = 0;  // where the payload starts in the message; always whole bytes
    PlayerID source = UNASSIGNED_PLAYER_ID;
    RoutedNode self;                                // the hop reading the message
    std::vector<std::vector<RoutedNode>> subtrees;  // one per child of self, each in preorder
};

enum class RoutedReadResult : uint8_t {
    Ok,
    NotRouted,         // another message
    Truncated,         // the message ends inside a field or a subtree
    BadHeader,         // priority, reliability or ordering channel out of range
    BadPayloadLength,  // empty, or longer than the bits that follow
    TooManyNodes,      // more nodes than any graph may hold
    RepeatedNode,      // a system twice in one tree: a loop, never a tree of shortest paths
};

// The message in data (bitLength bits, owned by the caller, read only) into out; out is only
// meaningful on Ok.
RoutedReadResult ReadRoutedMessage(const uint8_t* data, uint32_t bitLength, RoutedMessage& out);

// Everything up to and including the payload. timestampPrefix: 5 bytes or null.
void WriteRoutedHeader(BitStream& out, const uint8_t* timestampPrefix, PacketPriority priority,
                       MessageReliability reliability, uint8_t orderingChannel, const uint8_t* payload,
                       uint32_t payloadBits);
void WriteRoutedNode(BitStream& out, const RoutedNode& node);

}  // namespace velt
