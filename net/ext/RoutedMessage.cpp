#include "net/ext/RoutedMessage.h"

#include <algorithm>

#include "net/MessageIdentifiers.h"
#include "net/Packet.h"
#include "net/ext/GraphWire.h"
#include "net/ext/UndirectedGraph.h"

namespace velt {

namespace {

constexpr uint8_t kOrderingChannels = 32;

bool ReadNode(BitStream& in, RoutedNode& node) {
    return in.ReadOneBit(node.recipient) && ReadAddress(in, node.address) &&
           in.ReadCompressed(node.childCount);
}

bool HasRepeatedNode(const RoutedMessage& message) {
    std::vector<PlayerID> seen{message.self.address};
    for (const std::vector<RoutedNode>& subtree : message.subtrees)
        for (const RoutedNode& node : subtree) seen.push_back(node.address);
    std::sort(seen.begin(), seen.end());
    return std::adjacent_find(seen.begin(), seen.end()) != seen.end();
}

// One child's subtree in preorder: it is complete when every node read has had its children
// read, that is when the count of nodes still owed drops to zero.
RoutedReadResult ReadSubtree(BitStream& in, std::vector<RoutedNode>& subtree, uint32_t& nodesLeft) {
    uint32_t owed = 1;
    while (owed != 0) {
        if (nodesLeft == 0) return RoutedReadResult::TooManyNodes;
        RoutedNode node;
        if (!ReadNode(in, node)) return RoutedReadResult::Truncated;
        --nodesLeft;
        subtree.push_back(node);
        owed = owed - 1 + node.childCount;
    }
    return RoutedReadResult::Ok;
}

}  // namespace

RoutedReadResult ReadRoutedMessage(const uint8_t* data, uint32_t bitLength, RoutedMessage& out) {
    const uint32_t length = (bitLength + 7u) / 8u;
    if (data == nullptr || length == 0 || GetPacketIdentifier(data, length) != ID_ROUTED)
        return RoutedReadResult::NotRouted;
    if (length > BitStream::kMaxBytes) return RoutedReadResult::BadPayloadLength;
    BitStream in(data, length, false);
    in.SetWriteCursor(int32_t(bitLength));

    out = RoutedMessage{};
    out.timestamped = data[0] == ID_TIMESTAMPED;
    if (out.timestamped) {
        in.SkipBits(8);
        if (!in.Read(out.time)) return RoutedReadResult::Truncated;
    }
    in.SkipBits(8);
    uint8_t priority = 0;
    uint8_t reliability = 0;
    if (!in.ReadCompressed(priority) || !in.ReadCompressed(reliability) ||
        !in.ReadCompressed(out.orderingChannel) || !in.Read(out.payloadBits))
        return RoutedReadResult::Truncated;
    if (priority > LOW_PRIORITY_LEVEL || reliability < RELIABILITY_UNRELIABLE ||
        reliability > RELIABILITY_RELIABLE_SEQUENCED || out.orderingChannel >= kOrderingChannels)
        return RoutedReadResult::BadHeader;
    out.priority = PacketPriority(priority);
    out.reliability = MessageReliability(reliability);

    in.AlignReadToByte();
    if (out.payloadBits == 0 || out.payloadBits > uint32_t(in.GetNumberOfUnreadBits()))
        return RoutedReadResult::BadPayloadLength;
    out.payloadByteOffset = uint32_t(in.GetReadOffset()) / 8u;
    in.SkipBits(int32_t(out.payloadBits));

    if (!ReadAddress(in, out.source) || !ReadNode(in, out.self)) return RoutedReadResult::Truncated;
    uint32_t nodesLeft = UndirectedGraph::kMaxNodes - 1;
    if (out.self.childCount > nodesLeft) return RoutedReadResult::TooManyNodes;
    out.subtrees.resize(out.self.childCount);
    for (std::vector<RoutedNode>& subtree : out.subtrees)
        if (RoutedReadResult r = ReadSubtree(in, subtree, nodesLeft); r != RoutedReadResult::Ok) return r;
    if (HasRepeatedNode(out)) return RoutedReadResult::RepeatedNode;
    return RoutedReadResult::Ok;
}

void WriteRoutedHeader(BitStream& out, const uint8_t* timestampPrefix, PacketPriority priority,
                       MessageReliability reliability, uint8_t orderingChannel, const uint8_t* payload,
                       uint32_t payloadBits) {
    if (timestampPrefix != nullptr) out.WriteBytes(timestampPrefix, int32_t(kTimestampPrefixBytes));
    out.Write(ID_ROUTED);
    out.WriteCompressed(uint8_t(priority));
    out.WriteCompressed(uint8_t(reliability));
    out.WriteCompressed(orderingChannel);
    out.Write(payloadBits);
    out.AlignWriteToByte();
    out.WriteRawBits(payload, int32_t(payloadBits), false);
}

void WriteRoutedNode(BitStream& out, const RoutedNode& node) {
    out.Write(node.recipient);
    WriteAddress(out, node.address);
    out.WriteCompressed(node.childCount);
}

}  // namespace velt
