#include "net/ext/Router.h"

#include <cstring>
#include <vector>

#include "net/BitStream.h"
#include "net/MessageIdentifiers.h"
#include "net/Packet.h"
#include "net/ext/GraphWire.h"

namespace velt {

namespace {

constexpr uint16_t kInfiniteWeight = 0xFFFF;
constexpr uint16_t kUnassignedIndex = 0xFFFF;

bool IsRecipient(const AddressList& recipients, PlayerID address) {
    for (uint32_t i = 0; i < recipients.Size(); ++i)
        if (recipients[i] == address) return true;
    return false;
}

// Depth is bounded by the graph's node cap.
void WriteSubtree(BitStream& out, const RouteTree& tree, const AddressList& recipients) {
    WriteRoutedNode(out, RoutedNode{IsRecipient(recipients, tree.value.playerId), tree.value.playerId,
                                    uint16_t(tree.children.size())});
    for (const auto& child : tree.children) WriteSubtree(out, *child, recipients);
}

}  // namespace

void Router::DisallowType(uint8_t messageId) {
    if (allowedTypes_.HasData(messageId)) allowedTypes_.Remove(messageId);
}

void Router::Attached(NetPeerInterface* peer) {
    peer_ = peer;
    if (peer != nullptr) peer->SetRouter(this);
}

void Router::Detached(NetPeerInterface* peer) {
    if (peer != nullptr) peer->RemoveRouter(this);
    if (peer_ == peer) peer_ = nullptr;
}

PlayerID Router::OwnAddress() const {
    // Any connected slot will do, not just the first: that one may be the connection that
    // just went away.
    const int32_t slots = peer_->GetMaximumNumberOfPeers();
    for (int32_t i = 0; i < slots; ++i) {
        const PlayerID remote = peer_->GetPlayerIDFromIndex(i);
        if (remote != UNASSIGNED_PLAYER_ID) return peer_->GetExternalID(remote);
    }
    return UNASSIGNED_PLAYER_ID;
}

bool Router::Send(const uint8_t* data, uint32_t bitLength, PacketPriority priority,
                  MessageReliability reliability, uint8_t orderingChannel, PlayerID target) {
    if (target == UNASSIGNED_PLAYER_ID || data == nullptr || bitLength < 8) return false;
    if (GetPacketIdentifier(data, (bitLength + 7u) / 8u) == ID_ROUTED) return false;
    return Multicast(data, bitLength, priority, reliability, orderingChannel, AddressList(target));
}

bool Router::Multicast(const uint8_t* data, uint32_t bitLength, PacketPriority priority,
                       MessageReliability reliability, uint8_t orderingChannel,
                       const AddressList& recipients) {
    if (peer_ == nullptr || graph_ == nullptr || data == nullptr || bitLength == 0 || recipients.Size() == 0)
        return false;
    const PlayerID root = OwnAddress();
    if (root == UNASSIGNED_PLAYER_ID) return false;
    std::vector<PlayerIdAndGroupId> targets;
    targets.reserve(recipients.Size());
    for (uint32_t i = 0; i < recipients.Size(); ++i) targets.emplace_back(recipients[i], 0);
    RouteTree tree;
    if (!graph_->SpanningTree(tree, targets, PlayerIdAndGroupId(root, 0), kInfiniteWeight)) return false;

    const uint8_t* prefix = nullptr;
    if (bitLength >= kTimestampPrefixBytes * 8 && data[0] == ID_TIMESTAMPED) {
        prefix = data;
        data += kTimestampPrefixBytes;
        bitLength -= kTimestampPrefixBytes * 8;
    }
    // Hops refuse a routed message without a payload: it would reach the user without an id.
    if (bitLength == 0) return false;

    BitStream out;
    WriteRoutedHeader(out, prefix, priority, reliability, orderingChannel, data, bitLength);
    const int32_t mark = out.GetNumberOfBitsUsed();
    bool sent = false;
    for (const auto& child : tree.children) {
        const PlayerID hop = child->value.playerId;
        // The graph may still list a connection that has just closed.
        if (peer_->GetIndexFromPlayerID(hop) < 0) continue;
        out.SetWriteCursor(mark);
        WriteAddress(out, peer_->GetExternalID(hop));
        WriteSubtree(out, *child, recipients);
        sent |= peer_->Send(&out, priority, reliability, orderingChannel, hop, false);
    }
    return sent;
}

bool Router::IsAllowedPayload(const uint8_t* payload, uint32_t payloadBits) const {
    if (!typeFilter_) return true;
    return payloadBits >= 8 && allowedTypes_.HasData(payload[0]);
}

void Router::Refuse(RoutedReadResult result) {
    switch (result) {
        case RoutedReadResult::Truncated: ++rejections_.truncated; break;
        case RoutedReadResult::BadHeader: ++rejections_.badHeader; break;
        case RoutedReadResult::BadPayloadLength: ++rejections_.badPayloadLength; break;
        case RoutedReadResult::TooManyNodes: ++rejections_.tooManyNodes; break;
        case RoutedReadResult::RepeatedNode: ++rejections_.repeatedNode; break;
        case RoutedReadResult::Ok:
        case RoutedReadResult::NotRouted: break;
    }
}

PluginReceiveResult Router::Received(NetPeerInterface* peer, Packet* packet) {
    if (peer == nullptr || packet == nullptr || GetPacketIdentifier(packet) != ID_ROUTED) return PRR_CONTINUE;
    const uint32_t bits = packet->bitLength < packet->length * 8u ? packet->bitLength : packet->length * 8u;
    RoutedMessage message;
    const RoutedReadResult result = ReadRoutedMessage(packet->data, bits, message);
    if (result != RoutedReadResult::Ok) {
        Refuse(result);
        return PRR_DEALLOCATE;
    }
    if (!IsAllowedPayload(packet->data + message.payloadByteOffset, message.payloadBits)) {
        ++rejections_.filteredType;
        return PRR_DEALLOCATE;
    }
    // The delivered message names the source as its sender; nobody can be the unassigned one.
    if (message.source == UNASSIGNED_PLAYER_ID) {
        ++rejections_.unassignedSource;
        return PRR_DEALLOCATE;
    }
    Forward(peer, packet, message);
    if (!message.self.recipient) return PRR_DEALLOCATE;
    Deliver(packet, message);
    return PRR_CONTINUE;
}

void Router::Forward(NetPeerInterface* peer, const Packet* packet, const RoutedMessage& message) {
    if (message.subtrees.empty()) return;
    uint8_t prefix[kTimestampPrefixBytes] = {ID_TIMESTAMPED};
    if (message.timestamped) std::memcpy(prefix + 1, packet->data + 1, 4);
    BitStream out;
    WriteRoutedHeader(out, message.timestamped ? prefix : nullptr, message.priority, message.reliability,
                      message.orderingChannel, packet->data + message.payloadByteOffset, message.payloadBits);
    WriteAddress(out, message.source);
    const int32_t mark = out.GetNumberOfBitsUsed();
    // One copy per distinct connected hop (the reader refused repeated nodes), so a message
    // never leaves as more copies than this peer has connections.
    for (const std::vector<RoutedNode>& subtree : message.subtrees) {
        const PlayerID hop = subtree.front().address;
        if (peer->GetIndexFromPlayerID(hop) < 0) {
            ++rejections_.hopNotConnected;
            continue;
        }
        out.SetWriteCursor(mark);
        for (const RoutedNode& node : subtree) WriteRoutedNode(out, node);
        peer->Send(&out, message.priority, message.reliability, message.orderingChannel, hop, false);
    }
}

void Router::Deliver(Packet* packet, const RoutedMessage& message) {
    const uint32_t prefixBytes = message.timestamped ? kTimestampPrefixBytes : 0;
    std::memmove(packet->data + prefixBytes, packet->data + message.payloadByteOffset,
                 (message.payloadBits + 7u) / 8u);
    packet->bitLength = message.payloadBits + prefixBytes * 8u;
    packet->length = (packet->bitLength + 7u) / 8u;
    packet->playerIndex = kUnassignedIndex;
    packet->sender = message.source;
}

}  // namespace velt
