#pragma once
// The connection graph plugin: learns which systems of a mesh are connected to which, with each
// connection's ping as its weight, and keeps that picture in step among the systems running it
// (its participants) by flooding each change with the list of systems that already have it.

#include <cstdint>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "net/PlayerID.h"
#include "net/PluginInterface.h"
#include "net/ext/ClosedConnectionInbox.h"
#include "net/ext/GraphWire.h"
#include "net/ext/UndirectedGraph.h"

namespace velt {

// Messages between participants: [id] then the fields named.
inline constexpr uint8_t ID_GRAPH_REQUEST = 57;     // password
inline constexpr uint8_t ID_GRAPH_REPLY = 58;       // password, graph
inline constexpr uint8_t ID_GRAPH_UPDATE = 59;      // graph, ignore list
inline constexpr uint8_t ID_GRAPH_EDGE_ADDED = 60;  // node, node, u16 weight, ignore list
inline constexpr uint8_t ID_GRAPH_EDGE_LOST = 61;   // address, address, ignore list
inline constexpr uint8_t ID_GRAPH_EDGE_CLOSED = 62;

// Notices to the user of the peer. An added edge is [44][node][node][u16 weight] (17 bytes) with
// no sender; the other two are the received message with its id replaced.
inline constexpr uint8_t ID_REMOTE_EDGE_CLOSED = 42;
inline constexpr uint8_t ID_REMOTE_EDGE_LOST = 43;
inline constexpr uint8_t ID_REMOTE_EDGE_ADDED = 44;
inline constexpr uint32_t kRemoteEdgeAddedBytes = 17;

// Graph messages refused, one counter per reason.
struct ConnectionGraphRejections {
    uint32_t notConnected = 0;    // did not come over a connection of this peer (relayed or routed)
    uint32_t notParticipant = 0;  // an update from a system that never exchanged graphs with us
    uint32_t wrongPassword = 0;
    uint32_t truncated = 0;          // ended inside a field
    uint32_t tooManyNodes = 0;       // a graph beyond the node cap
    uint32_t ignoreListTooLong = 0;  // an ignore list beyond its cap
    uint32_t graphFull = 0;          // an edge that would have taken the graph past its cap

    uint32_t Total() const {
        return notConnected + notParticipant + wrongPassword + truncated + tooManyNodes + ignoreListTooLong +
               graphFull;
    }
};

class ConnectionGraph : public PluginInterface {
public:
    using PlayerIdAndGroupId = velt::PlayerIdAndGroupId;
    // Longest password; a longer one is cut.
    static constexpr uint32_t kMaxPasswordLength = 255;

    ConnectionGraph();
    ~ConnectionGraph() override = default;
    ConnectionGraph(const ConnectionGraph&) = delete;
    ConnectionGraph& operator=(const ConnectionGraph&) = delete;

    // Systems that ask for our graph must present this text; null or empty lets anyone in.
    void SetPassword(const char* password);
    // For readers such as the router. The graph lives as long as this plugin. Every edge the
    // plugin adds discards the graph's path table, so a route never misses a system that joined
    // after the last one was computed.
    UndirectedGraph* AccessGraph() { return &graph_; }
    const UndirectedGraph& GetGraph() const { return graph_; }
    uint32_t GetNodeCount() const { return graph_.GetNodeCount(); }
    uint32_t GetParticipantCount() const { return participants_.Size(); }
    bool IsParticipant(PlayerID system) const { return participants_.HasData(system); }

    void SetAutoTrackConnections(bool autoTrack) { autoTrack_ = autoTrack; }
    void SetOwnGroup(ConnectionGraphGroupID group) { ownGroup_ = group; }
    void JoinGroup(ConnectionGraphGroupID group);
    void LeaveGroup(ConnectionGraphGroupID group);
    bool IsGroupJoined(ConnectionGraphGroupID group) const { return joinedGroups_.HasData(group); }

    // Asks target for its graph; the answer makes both sides participants of each other.
    void RequestGraph(NetPeerInterface* peer, PlayerID target);
    // Records the connection between target and this system and tells the participants.
    void TrackConnection(NetPeerInterface* peer, PlayerID target, ConnectionGraphGroupID group);

    void Update(NetPeerInterface* peer) override;
    PluginReceiveResult Received(NetPeerInterface* peer, Packet* packet) override;
    void Disconnecting(NetPeerInterface* peer) override;
    // Network thread: only noted here, acted on by the next Update.
    void ConnectionClosed(NetPeerInterface* peer, PlayerID remote) override;

    const ConnectionGraphRejections& Rejections() const { return rejections_; }

private:
    void OnGraphRequest(NetPeerInterface* peer, const Packet* packet);
    void OnGraphReply(NetPeerInterface* peer, const Packet* packet);
    void OnGraphUpdate(NetPeerInterface* peer, const Packet* packet);
    void OnEdgeAdded(NetPeerInterface* peer, const Packet* packet);
    bool OnEdgeRemoved(NetPeerInterface* peer, const Packet* packet);

    // Reads the password at the stream's cursor; false (counted) when it is cut off or wrong.
    bool ReadAndCheckPassword(BitStream& in);
    void WritePassword(BitStream& out) const;
    // Counts a failed read; true when the result is Ok.
    bool Accept(GraphReadResult result);
    // Merges a received graph; true when it held an edge we did not know.
    bool MergeEdges(NetPeerInterface* peer, const std::vector<GraphEdge>& edges);
    // An edge between this system and one it has no connection to: we know better than whoever
    // told us.
    bool ContradictsOwnConnections(NetPeerInterface* peer, const PlayerIdAndGroupId& a,
                                   const PlayerIdAndGroupId& b) const;
    bool IsNewRemoteEdge(NetPeerInterface* peer, const PlayerIdAndGroupId& a,
                         const PlayerIdAndGroupId& b) const;
    void NotifyRemoteEdge(NetPeerInterface* peer, const PlayerIdAndGroupId& a, const PlayerIdAndGroupId& b,
                          uint16_t weight);
    void AddAndRelayConnection(NetPeerInterface* peer, IgnoreList& ignore, const PlayerIdAndGroupId& a,
                               const PlayerIdAndGroupId& b, uint16_t weight);
    bool RemoveAndRelayConnection(NetPeerInterface* peer, IgnoreList& ignore, uint8_t id, PlayerID a,
                                  PlayerID b);
    void HandleDroppedConnection(NetPeerInterface* peer, PlayerID system, uint8_t id);
    // Completes message with the ignore list and sends it to every participant not on it.
    void BroadcastWithIgnoreList(NetPeerInterface* peer, BitStream& message, IgnoreList& ignore);
    void SendGraphUpdate(NetPeerInterface* peer, IgnoreList& ignore);
    static void SendTo(NetPeerInterface* peer, const BitStream& message, PlayerID target);

    std::string password_;
    DataStructures::OrderedList<PlayerID, PlayerID> participants_;
    UndirectedGraph graph_;
    bool autoTrack_ = true;
    ConnectionGraphGroupID ownGroup_ = 0;
    DataStructures::OrderedList<ConnectionGraphGroupID, ConnectionGraphGroupID> joinedGroups_;
    ClosedConnectionInbox closed_;
    ConnectionGraphRejections rejections_;
};

}  // namespace velt
