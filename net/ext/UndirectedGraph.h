#pragma once
// Which systems of a mesh are connected to which, with a 16-bit weight (the connection's ping)
// per connection, and the shortest paths and routing trees read from it.

#include <cstdint>
#include <memory>
#include <vector>

#include "net/OrderedList.h"
#include "net/PlayerID.h"

namespace velt {

using ConnectionGraphGroupID = uint8_t;

// A node of the graph. Two nodes are the same system when their addresses match: the group is
// carried along, never compared.
struct PlayerIdAndGroupId {
    PlayerID playerId = UNASSIGNED_PLAYER_ID;
    ConnectionGraphGroupID groupId = 0;

    PlayerIdAndGroupId() = default;
    PlayerIdAndGroupId(PlayerID id, ConnectionGraphGroupID group) : playerId(id), groupId(group) {}

    friend bool operator==(const PlayerIdAndGroupId& a, const PlayerIdAndGroupId& b) {
        return a.playerId == b.playerId;
    }
    friend bool operator<(const PlayerIdAndGroupId& a, const PlayerIdAndGroupId& b) {
        return a.playerId < b.playerId;
    }
};

// A node and the subtrees hanging from it; owns its children.
struct RouteTree {
    PlayerIdAndGroupId value;
    std::vector<std::unique_ptr<RouteTree>> children;
};

class UndirectedGraph {
public:
    // The path table is n x n 16-bit costs, rebuilt per root: a graph fed from the network
    // stays small enough that a hostile participant cannot make that table (or its O(n^3)
    // build) the cost of a message.
    static constexpr uint32_t kMaxNodes = 256;

    UndirectedGraph() = default;
    UndirectedGraph(const UndirectedGraph&) = delete;
    UndirectedGraph& operator=(const UndirectedGraph&) = delete;

    // Adds the edge (or replaces its weight). Nothing for a == b. False, with nothing changed,
    // when the edge would take the graph past kMaxNodes. The path table stays as it is.
    bool AddEdge(const PlayerIdAndGroupId& a, const PlayerIdAndGroupId& b, uint16_t weight);
    // Removes the edge and every node it leaves without neighbours; nothing when the edge is
    // missing. Discards the path table.
    void RemoveEdge(const PlayerIdAndGroupId& a, const PlayerIdAndGroupId& b);
    bool HasEdge(const PlayerIdAndGroupId& a, const PlayerIdAndGroupId& b) const;
    bool HasNode(const PlayerIdAndGroupId& node) const;
    // Removes the node, its edges, and every node that thereby loses its last neighbour.
    void RemoveNode(const PlayerIdAndGroupId& node);
    void Clear();

    // Nodes in ascending address order, and each node's neighbours in the same order.
    uint32_t GetNodeCount() const { return adjacency_.Size(); }
    const PlayerIdAndGroupId& GetNodeAtIndex(uint32_t nodeIndex) const { return adjacency_[nodeIndex].node; }
    uint32_t GetEdgeCount(uint32_t nodeIndex) const { return adjacency_[nodeIndex].edges.Size(); }
    void GetEdgeAtIndex(uint32_t nodeIndex, uint32_t edgeIndex, PlayerIdAndGroupId& neighbour,
                        uint16_t& weight) const;
    uint32_t GetTotalEdgeCount() const;

    void ClearPathTable();
    // Cheapest path from start to end, both ends included (start twice when start == end).
    // False when either end is no node. True with an empty path when end cannot be reached
    // below infiniteWeight.
    bool ShortestPath(std::vector<PlayerIdAndGroupId>& path, const PlayerIdAndGroupId& start,
                      const PlayerIdAndGroupId& end, uint16_t infiniteWeight);
    // The tree of shortest paths from start to each reachable target. False (tree = start
    // alone) when no target is reachable.
    bool SpanningTree(RouteTree& tree, const std::vector<PlayerIdAndGroupId>& targets,
                      const PlayerIdAndGroupId& start, uint16_t maxWeight);

private:
    struct Edge {
        PlayerIdAndGroupId neighbour;
        uint16_t weight = 0;
    };
    static int CompareEdge(const PlayerID& key, const Edge& edge);
    using EdgeList = DataStructures::OrderedList<PlayerID, Edge, CompareEdge>;

    struct Node {
        PlayerIdAndGroupId node;
        EdgeList edges;
    };
    static int CompareNode(const PlayerID& key, const Node& node);
    using NodeList = DataStructures::OrderedList<PlayerID, Node, CompareNode>;

    Node* FindNode(PlayerID id);
    const Node* FindNode(PlayerID id) const;
    Node& FindOrAddNode(const PlayerIdAndGroupId& node);
    void BuildPathTable(const PlayerIdAndGroupId& start, uint16_t infiniteWeight);
    uint32_t ColumnOf(PlayerID id, bool* exists) const;
    uint16_t& Cost(uint32_t row, uint32_t column) { return costTable_[row * tableNodes_.size() + column]; }

    NodeList adjacency_;
    bool pathTableValid_ = false;
    PlayerIdAndGroupId root_;
    std::vector<PlayerIdAndGroupId> tableNodes_;  // ascending: a node's index is its column
    std::vector<uint16_t> costTable_;             // row-major
    std::vector<PlayerIdAndGroupId> settled_;     // settled_[row]: the node settled in that row
};

}  // namespace velt
