#pragma once
// The fields of the connection graph's messages: nodes, addresses, whole graphs and the lists
// of systems that already have some news. Readers take untrusted bytes: each either reads
// its whole element or reports why not, and never runs past the stream.

#include <cstdint>
#include <vector>

#include "net/BitStream.h"
#include "net/OrderedList.h"
#include "net/ext/UndirectedGraph.h"

namespace velt {

// Systems that already have some news; each is told once.
using IgnoreList = DataStructures::OrderedList<PlayerID, PlayerID>;

// A legitimate list names systems of one mesh, which the graph's own cap bounds; the slack
// covers systems that joined while the news travelled. A longer list is hostile: sorting it
// in costs quadratic time.
inline constexpr uint32_t kMaxIgnoreListEntries = 2 * UndirectedGraph::kMaxNodes;

struct GraphEdge {
    PlayerIdAndGroupId a;
    PlayerIdAndGroupId b;
    uint16_t weight;
};

enum class GraphReadResult : uint8_t {
    Ok,
    Truncated,     // the stream ended inside the element
    TooManyNodes,  // more distinct systems than a graph may hold
    TooLong,       // an ignore list beyond kMaxIgnoreListEntries
};

void WriteAddress(BitStream& out, PlayerID address);
bool ReadAddress(BitStream& in, PlayerID& address);
void WriteNode(BitStream& out, const PlayerIdAndGroupId& node);
bool ReadNode(BitStream& in, PlayerIdAndGroupId& node);

// Every node in ascending order with the neighbours above it, so each edge appears once.
void WriteGraph(BitStream& out, const UndirectedGraph& graph);
// Reads a whole graph into edges (emptied first). On anything but Ok, edges is empty.
GraphReadResult ReadGraph(BitStream& in, std::vector<GraphEdge>& edges);

// A count, then the addresses (duplicates are dropped on reading).
void WriteIgnoreList(BitStream& out, const IgnoreList& list);
// Adds the addresses read to list; on anything but Ok, list is as it was.
GraphReadResult ReadIgnoreList(BitStream& in, IgnoreList& list);

// Adds address unless present.
void AddToIgnoreList(IgnoreList& list, PlayerID address);

}  // namespace velt
