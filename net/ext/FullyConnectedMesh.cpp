#include "net/ext/FullyConnectedMesh.h"

#include <cstring>

#include "net/BitStream.h"
#include "net/NetPeerInterface.h"
#include "net/ext/ConnectionGraph.h"
#include "net/ext/GraphWire.h"

namespace velt {

namespace {

constexpr uint16_t kUnassignedIndex = 0xFFFF;

// The graph pushes its notice into the peer's own queue without a sender or a slot. Anything
// received carries one or the other (a routed message names its source), and must not make
// this system connect wherever a remote system says.
bool IsLocalEdgeNotice(const Packet& packet) {
    return packet.length == kRemoteEdgeAddedBytes && packet.playerIndex == kUnassignedIndex &&
           packet.sender == UNASSIGNED_PLAYER_ID;
}

}  // namespace

void FullyConnectedMesh::SetPassword(const char* password) {
    password_.clear();
    if (password != nullptr) password_.assign(password, strnlen(password, kMaxPasswordLength));
}

PluginReceiveResult FullyConnectedMesh::Received(NetPeerInterface* peer, Packet* packet) {
    if (peer == nullptr || packet == nullptr || packet->length == 0 ||
        packet->data[0] != ID_REMOTE_EDGE_ADDED)
        return PRR_CONTINUE;
    if (!IsLocalEdgeNotice(*packet)) {
        ++rejectedNotices_;
        return PRR_CONTINUE;
    }
    BitStream in(packet->data, packet->length, false);
    in.SkipBits(8);
    for (int i = 0; i < 2; ++i) {
        PlayerIdAndGroupId node;
        if (!ReadNode(in, node)) break;
        if (peer->GetIndexFromPlayerID(node.playerId) != -1) continue;
        // The dotted text lives in a buffer the next call overwrites: copy it first.
        const std::string host = peer->PlayerIDToDottedIP(node.playerId);
        peer->Connect(host.c_str(), node.playerId.port, password_.empty() ? nullptr : password_.data(),
                      int32_t(password_.size()));
    }
    return PRR_CONTINUE;
}

}  // namespace velt
