#include "net/ext/ConnectionGraph.h"

#include <cstring>

#include "net/MessageIdentifiers.h"
#include "net/NetPeerInterface.h"
#include "net/StringCompressor.h"

namespace velt {

namespace {

// Texts travel with one byte of room for the terminator.
constexpr int32_t kPasswordBufferSize = ConnectionGraph::kMaxPasswordLength + 1;
constexpr uint16_t kUnknownPing = 0xFFFF;
constexpr uint16_t kUnassignedIndex = 0xFFFF;

uint16_t PingWeight(int32_t averagePing) {
    if (averagePing < 0) return kUnknownPing;
    return averagePing >= kUnknownPing ? uint16_t(kUnknownPing - 1) : uint16_t(averagePing);
}

}  // namespace

ConnectionGraph::ConnectionGraph() { joinedGroups_.Insert(0, 0); }

void ConnectionGraph::SetPassword(const char* password) {
    password_.clear();
    if (password != nullptr) password_.assign(password, strnlen(password, kMaxPasswordLength));
}

void ConnectionGraph::JoinGroup(ConnectionGraphGroupID group) { joinedGroups_.Insert(group, group); }

void ConnectionGraph::LeaveGroup(ConnectionGraphGroupID group) {
    if (joinedGroups_.HasData(group)) joinedGroups_.Remove(group);
}

void ConnectionGraph::WritePassword(BitStream& out) const {
    StringCompressor::Instance()->EncodeString(password_.empty() ? nullptr : password_.c_str(),
                                               kPasswordBufferSize, out);
}

bool ConnectionGraph::ReadAndCheckPassword(BitStream& in) {
    char received[kPasswordBufferSize];
    if (!StringCompressor::Instance()->DecodeString(received, kPasswordBufferSize, in)) {
        ++rejections_.truncated;
        return false;
    }
    if (!password_.empty() && password_ != received) {
        ++rejections_.wrongPassword;
        return false;
    }
    return true;
}

bool ConnectionGraph::Accept(GraphReadResult result) {
    switch (result) {
        case GraphReadResult::Ok: return true;
        case GraphReadResult::Truncated: ++rejections_.truncated; break;
        case GraphReadResult::TooManyNodes: ++rejections_.tooManyNodes; break;
        case GraphReadResult::TooLong: ++rejections_.ignoreListTooLong; break;
    }
    return false;
}

void ConnectionGraph::SendTo(NetPeerInterface* peer, const BitStream& message, PlayerID target) {
    peer->Send(&message, LOW_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 31, target, false);
}

void ConnectionGraph::RequestGraph(NetPeerInterface* peer, PlayerID target) {
    if (peer == nullptr) return;
    BitStream out;
    out.Write(ID_GRAPH_REQUEST);
    WritePassword(out);
    SendTo(peer, out, target);
}

void ConnectionGraph::TrackConnection(NetPeerInterface* peer, PlayerID target, ConnectionGraphGroupID group) {
    if (peer == nullptr || (!autoTrack_ && !IsGroupJoined(group))) return;
    IgnoreList ignore;
    AddAndRelayConnection(peer, ignore, PlayerIdAndGroupId(target, group),
                          PlayerIdAndGroupId(peer->GetExternalID(target), ownGroup_),
                          PingWeight(peer->GetAveragePing(target)));
}

void ConnectionGraph::Update(NetPeerInterface* peer) {
    if (peer == nullptr) return;
    for (const PlayerID& closed : closed_.TakeAll()) {
        // Connected again before we got here: the edge stands for the new connection.
        if (peer->GetIndexFromPlayerID(closed) >= 0) continue;
        HandleDroppedConnection(peer, closed, ID_GRAPH_EDGE_CLOSED);
    }
}

void ConnectionGraph::ConnectionClosed(NetPeerInterface* peer, PlayerID remote) {
    (void)peer;
    closed_.Push(remote);
}

void ConnectionGraph::Disconnecting(NetPeerInterface* peer) {
    (void)peer;
    graph_.Clear();
    participants_.Clear();
    closed_.Clear();
}

PluginReceiveResult ConnectionGraph::Received(NetPeerInterface* peer, Packet* packet) {
    if (peer == nullptr || packet == nullptr || packet->length == 0) return PRR_CONTINUE;
    const uint8_t id = packet->data[0];
    const bool notice =
        id == ID_CONN_HANDSHAKE_DONE || id == ID_CONN_ACCEPTED || id == ID_CONN_CLOSED || id == ID_CONN_LOST;
    if (!notice && (id < ID_GRAPH_REQUEST || id > ID_GRAPH_EDGE_CLOSED)) return PRR_CONTINUE;

    // The peer's notices and the participants' messages come with the slot of a connection. A
    // routed message carries a sender address taken from its own bytes: it must never speak for
    // a participant, nor close our edge to a system that is still connected.
    if (packet->playerIndex == kUnassignedIndex) {
        ++rejections_.notConnected;
        return notice ? PRR_CONTINUE : PRR_DEALLOCATE;
    }
    switch (id) {
        case ID_CONN_HANDSHAKE_DONE:
            if (autoTrack_) TrackConnection(peer, packet->sender, 0);
            return PRR_CONTINUE;
        case ID_CONN_ACCEPTED:
            if (autoTrack_) {
                RequestGraph(peer, packet->sender);
                TrackConnection(peer, packet->sender, 0);
            }
            return PRR_CONTINUE;
        case ID_CONN_CLOSED:
            HandleDroppedConnection(peer, packet->sender, ID_GRAPH_EDGE_CLOSED);
            return PRR_CONTINUE;
        case ID_CONN_LOST:
            HandleDroppedConnection(peer, packet->sender, ID_GRAPH_EDGE_LOST);
            return PRR_CONTINUE;
        case ID_GRAPH_REQUEST: OnGraphRequest(peer, packet); break;
        case ID_GRAPH_REPLY: OnGraphReply(peer, packet); break;
        case ID_GRAPH_UPDATE: OnGraphUpdate(peer, packet); break;
        case ID_GRAPH_EDGE_ADDED: OnEdgeAdded(peer, packet); break;
        default:
            if (!OnEdgeRemoved(peer, packet)) return PRR_DEALLOCATE;
            packet->data[0] = id == ID_GRAPH_EDGE_LOST ? ID_REMOTE_EDGE_LOST : ID_REMOTE_EDGE_CLOSED;
            return PRR_CONTINUE;
    }
    return PRR_DEALLOCATE;
}

void ConnectionGraph::OnGraphRequest(NetPeerInterface* peer, const Packet* packet) {
    BitStream in(packet->data, packet->length, false);
    in.SkipBits(8);
    if (!ReadAndCheckPassword(in)) return;
    BitStream out;
    out.Write(ID_GRAPH_REPLY);
    WritePassword(out);
    WriteGraph(out, graph_);
    SendTo(peer, out, packet->sender);
    participants_.Insert(packet->sender, packet->sender);
}

void ConnectionGraph::OnGraphReply(NetPeerInterface* peer, const Packet* packet) {
    BitStream in(packet->data, packet->length, false);
    in.SkipBits(8);
    if (!ReadAndCheckPassword(in)) return;
    // The whole message is read before anything is done about it: a reply cut off in its graph
    // must neither make the sender a participant nor half-merge.
    std::vector<GraphEdge> edges;
    if (!Accept(ReadGraph(in, edges))) return;

    BitStream update;
    update.Write(ID_GRAPH_UPDATE);
    WriteGraph(update, graph_);
    update.Write(uint16_t(1));
    WriteAddress(update, peer->GetExternalID(packet->sender));
    SendTo(peer, update, packet->sender);
    participants_.Insert(packet->sender, packet->sender);

    if (MergeEdges(peer, edges)) {
        IgnoreList ignore;
        AddToIgnoreList(ignore, packet->sender);
        SendGraphUpdate(peer, ignore);
    }
}

void ConnectionGraph::OnGraphUpdate(NetPeerInterface* peer, const Packet* packet) {
    if (!participants_.HasData(packet->sender)) {
        ++rejections_.notParticipant;
        return;
    }
    BitStream in(packet->data, packet->length, false);
    in.SkipBits(8);
    std::vector<GraphEdge> edges;
    IgnoreList ignore;
    if (!Accept(ReadGraph(in, edges)) || !Accept(ReadIgnoreList(in, ignore))) return;
    if (!MergeEdges(peer, edges)) return;
    AddToIgnoreList(ignore, packet->sender);
    SendGraphUpdate(peer, ignore);
}

void ConnectionGraph::OnEdgeAdded(NetPeerInterface* peer, const Packet* packet) {
    if (!participants_.HasData(packet->sender)) {
        ++rejections_.notParticipant;
        return;
    }
    BitStream in(packet->data, packet->length, false);
    in.SkipBits(8);
    PlayerIdAndGroupId a;
    PlayerIdAndGroupId b;
    uint16_t weight = 0;
    if (!ReadNode(in, a) || !ReadNode(in, b) || !in.Read(weight)) {
        ++rejections_.truncated;
        return;
    }
    IgnoreList ignore;
    if (!Accept(ReadIgnoreList(in, ignore))) return;
    if (!IsGroupJoined(a.groupId) || !IsGroupJoined(b.groupId) || ContradictsOwnConnections(peer, a, b))
        return;
    AddToIgnoreList(ignore, packet->sender);
    AddAndRelayConnection(peer, ignore, a, b, weight);
}

bool ConnectionGraph::OnEdgeRemoved(NetPeerInterface* peer, const Packet* packet) {
    if (!participants_.HasData(packet->sender)) {
        ++rejections_.notParticipant;
        return false;
    }
    BitStream in(packet->data, packet->length, false);
    in.SkipBits(8);
    PlayerID a{};
    PlayerID b{};
    if (!ReadAddress(in, a) || !ReadAddress(in, b)) {
        ++rejections_.truncated;
        return false;
    }
    IgnoreList ignore;
    if (!Accept(ReadIgnoreList(in, ignore))) return false;
    AddToIgnoreList(ignore, packet->sender);
    return RemoveAndRelayConnection(peer, ignore, packet->data[0], a, b);
}

bool ConnectionGraph::MergeEdges(NetPeerInterface* peer, const std::vector<GraphEdge>& edges) {
    bool anyNew = false;
    for (const GraphEdge& edge : edges) {
        if (!IsGroupJoined(edge.a.groupId) || !IsGroupJoined(edge.b.groupId)) continue;
        if (edge.a.playerId == UNASSIGNED_PLAYER_ID || edge.b.playerId == UNASSIGNED_PLAYER_ID ||
            edge.a == edge.b)
            continue;
        if (ContradictsOwnConnections(peer, edge.a, edge.b)) continue;
        const bool known = graph_.HasEdge(edge.a, edge.b);
        const bool notify = IsNewRemoteEdge(peer, edge.a, edge.b);
        if (!graph_.AddEdge(edge.a, edge.b, edge.weight)) {
            ++rejections_.graphFull;
            continue;
        }
        graph_.ClearPathTable();
        if (notify) NotifyRemoteEdge(peer, edge.a, edge.b, edge.weight);
        if (!known) anyNew = true;
    }
    return anyNew;
}

bool ConnectionGraph::ContradictsOwnConnections(NetPeerInterface* peer, const PlayerIdAndGroupId& a,
                                                const PlayerIdAndGroupId& b) const {
    // News travels along several paths and arrives in no particular order: a graph sent before
    // a connection of ours closed can arrive after we announced the close, and would otherwise
    // put the dead edge back here and in everybody we pass it on to.
    const PlayerID internal = peer->GetInternalID();
    const PlayerID external = peer->GetExternalID(UNASSIGNED_PLAYER_ID);
    auto isSelf = [&](PlayerID id) {
        return id == internal || (external != UNASSIGNED_PLAYER_ID && id == external);
    };
    if (isSelf(a.playerId) == isSelf(b.playerId)) return false;
    return peer->GetIndexFromPlayerID(isSelf(a.playerId) ? b.playerId : a.playerId) < 0;
}

bool ConnectionGraph::IsNewRemoteEdge(NetPeerInterface* peer, const PlayerIdAndGroupId& a,
                                      const PlayerIdAndGroupId& b) const {
    if (graph_.HasEdge(a, b) || !IsGroupJoined(a.groupId) || !IsGroupJoined(b.groupId)) return false;
    if (peer->GetIndexFromPlayerID(a.playerId) != -1 && peer->GetIndexFromPlayerID(b.playerId) != -1)
        return false;
    const PlayerID selfSeenByA = peer->GetExternalID(a.playerId);
    const PlayerID selfSeenByB = peer->GetExternalID(b.playerId);
    for (const PlayerID self : {selfSeenByA, selfSeenByB})
        if (self != UNASSIGNED_PLAYER_ID && (a.playerId == self || b.playerId == self)) return false;
    return true;
}

void ConnectionGraph::NotifyRemoteEdge(NetPeerInterface* peer, const PlayerIdAndGroupId& a,
                                       const PlayerIdAndGroupId& b, uint16_t weight) {
    BitStream notice;
    notice.Write(ID_REMOTE_EDGE_ADDED);
    WriteNode(notice, a);
    WriteNode(notice, b);
    notice.Write(weight);
    Packet* packet = NewPacket(kRemoteEdgeAddedBytes);
    if (packet == nullptr) return;
    std::memcpy(packet->data, notice.GetData(), kRemoteEdgeAddedBytes);
    // NewPacket leaves no sender and no slot: the mark of a notice made here, not received.
    peer->PushBackPacket(packet, false);
}

void ConnectionGraph::AddAndRelayConnection(NetPeerInterface* peer, IgnoreList& ignore,
                                            const PlayerIdAndGroupId& a, const PlayerIdAndGroupId& b,
                                            uint16_t weight) {
    if (a.playerId == UNASSIGNED_PLAYER_ID || b.playerId == UNASSIGNED_PLAYER_ID || a == b) return;
    if (graph_.HasEdge(a, b)) return;
    if (weight == kUnknownPing) weight = 0;
    if (!graph_.AddEdge(a, b, weight)) {
        ++rejections_.graphFull;
        return;
    }
    graph_.ClearPathTable();
    BitStream message;
    message.Write(ID_GRAPH_EDGE_ADDED);
    WriteNode(message, a);
    WriteNode(message, b);
    message.Write(weight);
    AddToIgnoreList(ignore, b.playerId);
    AddToIgnoreList(ignore, a.playerId);
    BroadcastWithIgnoreList(peer, message, ignore);
}

bool ConnectionGraph::RemoveAndRelayConnection(NetPeerInterface* peer, IgnoreList& ignore, uint8_t id,
                                               PlayerID a, PlayerID b) {
    const PlayerIdAndGroupId nodeA(a, 0);
    const PlayerIdAndGroupId nodeB(b, 0);
    if (!graph_.HasEdge(nodeA, nodeB)) return false;
    graph_.RemoveEdge(nodeA, nodeB);
    BitStream message;
    message.Write(id);
    WriteAddress(message, a);
    WriteAddress(message, b);
    AddToIgnoreList(ignore, a);
    AddToIgnoreList(ignore, b);
    BroadcastWithIgnoreList(peer, message, ignore);
    return true;
}

void ConnectionGraph::HandleDroppedConnection(NetPeerInterface* peer, PlayerID system, uint8_t id) {
    if (peer == nullptr) return;
    if (participants_.HasData(system)) participants_.Remove(system);
    IgnoreList ignore;
    RemoveAndRelayConnection(peer, ignore, id, system, peer->GetExternalID(system));
}

void ConnectionGraph::BroadcastWithIgnoreList(NetPeerInterface* peer, BitStream& message,
                                              IgnoreList& ignore) {
    std::vector<PlayerID> recipients;
    for (uint32_t i = 0; i < participants_.Size(); ++i)
        if (!ignore.HasData(participants_[i])) recipients.push_back(participants_[i]);
    if (recipients.empty()) return;
    const PlayerID self = peer->GetExternalID(recipients.front());
    if (self != UNASSIGNED_PLAYER_ID) AddToIgnoreList(ignore, self);
    // Everybody this message reaches is listed, so no receiver passes it back along this path.
    message.Write(uint16_t(ignore.Size() + recipients.size()));
    for (uint32_t i = 0; i < ignore.Size(); ++i) WriteAddress(message, ignore[i]);
    for (const PlayerID& recipient : recipients) WriteAddress(message, recipient);
    for (const PlayerID& recipient : recipients) SendTo(peer, message, recipient);
}

void ConnectionGraph::SendGraphUpdate(NetPeerInterface* peer, IgnoreList& ignore) {
    BitStream message;
    message.Write(ID_GRAPH_UPDATE);
    WriteGraph(message, graph_);
    BroadcastWithIgnoreList(peer, message, ignore);
}

}  // namespace velt
