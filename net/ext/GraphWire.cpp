#include "net/ext/GraphWire.h"

namespace velt {

void WriteAddress(BitStream& out, PlayerID address) {
    out.Write(address.binaryAddress);
    out.Write(address.port);
}

bool ReadAddress(BitStream& in, PlayerID& address) {
    PlayerID read{};
    if (!in.Read(read.binaryAddress) || !in.Read(read.port)) return false;
    address = read;
    return true;
}

void WriteNode(BitStream& out, const PlayerIdAndGroupId& node) {
    WriteAddress(out, node.playerId);
    out.Write(node.groupId);
}

bool ReadNode(BitStream& in, PlayerIdAndGroupId& node) {
    PlayerIdAndGroupId read;
    if (!ReadAddress(in, read.playerId) || !in.Read(read.groupId)) return false;
    node = read;
    return true;
}

void WriteGraph(BitStream& out, const UndirectedGraph& graph) {
    const uint32_t nodes = graph.GetNodeCount();
    out.WriteCompressed(nodes);
    PlayerIdAndGroupId neighbour;
    uint16_t weight = 0;
    for (uint32_t i = 0; i < nodes; ++i) {
        const PlayerIdAndGroupId& node = graph.GetNodeAtIndex(i);
        WriteNode(out, node);
        out.AlignWriteToByte();
        const uint32_t edges = graph.GetEdgeCount(i);
        uint16_t above = 0;
        for (uint32_t e = 0; e < edges; ++e) {
            graph.GetEdgeAtIndex(i, e, neighbour, weight);
            if (node.playerId < neighbour.playerId) ++above;
        }
        out.Write(above);
        for (uint32_t e = 0; e < edges; ++e) {
            graph.GetEdgeAtIndex(i, e, neighbour, weight);
            if (!(node.playerId < neighbour.playerId)) continue;
            WriteNode(out, neighbour);
            out.Write(weight);
        }
    }
}

GraphReadResult ReadGraph(BitStream& in, std::vector<GraphEdge>& edges) {
    edges.clear();
    uint32_t nodes = 0;
    if (!in.ReadCompressed(nodes)) return GraphReadResult::Truncated;
    if (nodes > UndirectedGraph::kMaxNodes) return GraphReadResult::TooManyNodes;

    DataStructures::OrderedList<PlayerID, PlayerID> seen;
    auto note = [&seen](PlayerID id) {
        seen.Insert(id, id);
        return seen.Size() <= UndirectedGraph::kMaxNodes;
    };
    GraphReadResult result = GraphReadResult::Ok;
    for (uint32_t i = 0; i < nodes && result == GraphReadResult::Ok; ++i) {
        PlayerIdAndGroupId node;
        uint16_t count = 0;
        if (!ReadNode(in, node)) {
            result = GraphReadResult::Truncated;
            break;
        }
        in.AlignReadToByte();
        if (!in.Read(count)) {
            result = GraphReadResult::Truncated;
            break;
        }
        if (count >= UndirectedGraph::kMaxNodes || !note(node.playerId)) {
            result = GraphReadResult::TooManyNodes;
            break;
        }
        for (uint32_t e = 0; e < count; ++e) {
            GraphEdge edge{node, {}, 0};
            if (!ReadNode(in, edge.b) || !in.Read(edge.weight)) {
                result = GraphReadResult::Truncated;
                break;
            }
            if (!note(edge.b.playerId)) {
                result = GraphReadResult::TooManyNodes;
                break;
            }
            edges.push_back(edge);
        }
    }
    if (result != GraphReadResult::Ok) edges.clear();
    return result;
}

void WriteIgnoreList(BitStream& out, const IgnoreList& list) {
    out.Write(uint16_t(list.Size()));
    for (uint32_t i = 0; i < list.Size() && i <= 0xFFFFu; ++i) WriteAddress(out, list[i]);
}

GraphReadResult ReadIgnoreList(BitStream& in, IgnoreList& list) {
    uint16_t count = 0;
    if (!in.Read(count)) return GraphReadResult::Truncated;
    if (count > kMaxIgnoreListEntries) return GraphReadResult::TooLong;
    std::vector<PlayerID> read(count);
    for (PlayerID& address : read)
        if (!ReadAddress(in, address)) return GraphReadResult::Truncated;
    for (const PlayerID& address : read) AddToIgnoreList(list, address);
    return GraphReadResult::Ok;
}

void AddToIgnoreList(IgnoreList& list, PlayerID address) { list.Insert(address, address); }

}  // namespace velt
